#include "support/sf2_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>

namespace zaft::test {
namespace {

// A SoundFont built record by record, independently of the exporter. Zones
// are listed as stored: a global zone, when wanted, is simply the first.
struct PresetDesign {
  std::string name;
  uint16_t program = 0, bank = 0;
  std::vector<Sf2Zone> zones;
  uint32_t library = 0, genre = 0, morphology = 0;
};
struct InstrumentDesign {
  std::string name;
  std::vector<Sf2Zone> zones;
};
struct Sf2Design {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> info;
  std::vector<int16_t> samples;
  std::vector<PresetDesign> presets;
  std::vector<InstrumentDesign> instruments;
  std::vector<Sf2SampleHeader> headers;
};

using Bytes = std::vector<uint8_t>;

void le16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void le32(Bytes& b, uint32_t v) {
  le16(b, static_cast<uint16_t>(v));
  le16(b, static_cast<uint16_t>(v >> 16));
}
void name20(Bytes& b, const std::string& s) {
  for (size_t i = 0; i < 20; ++i) b.push_back(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
}
uint32_t getLE32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void setLE32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void setLE16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

Bytes chunk(const std::string& id, const Bytes& data) {
  Bytes b(id.begin(), id.end());
  le32(b, static_cast<uint32_t>(data.size()));
  b.insert(b.end(), data.begin(), data.end());
  if (data.size() % 2) b.push_back(0);
  return b;
}
Bytes list(const std::string& type, const std::vector<Bytes>& chunks) {
  Bytes data(type.begin(), type.end());
  for (const Bytes& c : chunks) data.insert(data.end(), c.begin(), c.end());
  return chunk(type == "sfbk" ? "RIFF" : "LIST", data);
}
// Zero-terminated, zero-padded to an even size.
Bytes text(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  if (b.size() % 2) b.push_back(0);
  return b;
}

// The bag, modulator and generator tables of one side.
struct ZoneTables {
  Bytes bag, mod, gen;
  uint16_t add(const std::vector<Sf2Zone>& zones) {
    const auto first = static_cast<uint16_t>(bag.size() / 4);
    for (const Sf2Zone& z : zones) {
      le16(bag, static_cast<uint16_t>(gen.size() / 4));
      le16(bag, static_cast<uint16_t>(mod.size() / 10));
      for (const Sf2Generator& g : z.gens) le16(gen, g.oper), le16(gen, g.amount);
      for (const Sf2Modulator& m : z.mods) {
        le16(mod, m.src), le16(mod, m.dest), le16(mod, static_cast<uint16_t>(m.amount));
        le16(mod, m.amtSrc), le16(mod, m.trans);
      }
    }
    return first;
  }
  void terminate() {
    add({Sf2Zone{}});
    gen.resize(gen.size() + 4, 0);
    mod.resize(mod.size() + 10, 0);
  }
};

Bytes build(const Sf2Design& s) {
  std::vector<Bytes> info;
  for (const auto& [id, data] : s.info) info.push_back(chunk(id, data));
  Bytes smpl;
  for (int16_t v : s.samples) le16(smpl, static_cast<uint16_t>(v));
  ZoneTables p, i;
  Bytes phdr, inst, shdr;
  for (const PresetDesign& pr : s.presets) {
    name20(phdr, pr.name), le16(phdr, pr.program), le16(phdr, pr.bank), le16(phdr, p.add(pr.zones));
    le32(phdr, pr.library), le32(phdr, pr.genre), le32(phdr, pr.morphology);
  }
  name20(phdr, "EOP"), le16(phdr, 0), le16(phdr, 0), le16(phdr, p.add({})), phdr.resize(phdr.size() + 12);
  p.terminate();
  for (const InstrumentDesign& in : s.instruments) name20(inst, in.name), le16(inst, i.add(in.zones));
  name20(inst, "EOI"), le16(inst, i.add({}));
  i.terminate();
  for (const Sf2SampleHeader& h : s.headers) {
    name20(shdr, h.name), le32(shdr, h.start), le32(shdr, h.end), le32(shdr, h.loopStart);
    le32(shdr, h.loopEnd), le32(shdr, h.rate), shdr.push_back(h.originalPitch);
    shdr.push_back(static_cast<uint8_t>(h.pitchCorrection)), le16(shdr, h.link), le16(shdr, h.type);
  }
  name20(shdr, "EOS"), shdr.resize(shdr.size() + 26);
  return list("sfbk",
              {list("INFO", info), list("sdta", {chunk("smpl", smpl)}),
               list("pdta", {chunk("phdr", phdr), chunk("pbag", p.bag), chunk("pmod", p.mod),
                             chunk("pgen", p.gen), chunk("inst", inst), chunk("ibag", i.bag),
                             chunk("imod", i.mod), chunk("igen", i.gen), chunk("shdr", shdr)})});
}

Sf2Generator range(uint16_t oper, int lo, int hi) { return {oper, static_cast<uint16_t>(lo | hi << 8)}; }
Sf2Generator gen(uint16_t oper, int amount) { return {oper, static_cast<uint16_t>(amount)}; }
void insertGen(Sf2Zone& z, size_t at, Sf2Generator g, size_t copies = 1) {
  z.gens.insert(z.gens.begin() + static_cast<std::ptrdiff_t>(at), copies, g);
}

// Two samples of 100 and 50 points, each followed by 46 zeros; a lead with a
// global zone and three key/velocity splits; a one-key drum; a preset whose
// global zone narrows its keys, and a kit in bank 128.
Sf2Design validDesign() {
  Sf2Design s;
  s.info = {{"ifil", {2, 0, 1, 0}}, {"isng", text("EMU8000")}, {"INAM", text("Test Bank")},
            {"ICMT", text("made by hand")}, {"ISFT", text("zaft")}};
  for (int i = 0; i < 100; ++i) s.samples.push_back(static_cast<int16_t>(1000 + i));
  s.samples.resize(146, 0);
  for (int i = 0; i < 50; ++i) s.samples.push_back(static_cast<int16_t>(-2000 - i));
  s.samples.resize(242, 0);
  s.headers = {{"Lead A", 0, 100, 20, 80, 22050, 60, -5, 0, kSf2MonoSample},
               {"Drum B", 146, 196, 154, 188, 32000, 36, 3, 0, kSf2MonoSample}};
  const Sf2Generator keys0to63 = range(kSf2GenKeyRange, 0, 63), keys60up = range(kSf2GenKeyRange, 60, 127);
  s.instruments = {
      {"Lead",
       {{{range(kSf2GenVelRange, 0, 120), gen(kSf2GenInitialAttenuation, 100)}, {{2, 8, -2400, 0, 0}}},
        {{keys0to63, gen(kSf2GenSampleId, 0)}, {}},
        {{keys60up, range(kSf2GenVelRange, 0, 100), gen(kSf2GenPan, -200), gen(kSf2GenSampleId, 1)}, {}},
        {{keys60up, range(kSf2GenVelRange, 101, 127), gen(kSf2GenSampleId, 1)}, {}}}},
      {"Drum",
       {{{range(kSf2GenKeyRange, 36, 36), gen(kSf2GenSampleModes, 1), gen(kSf2GenOverridingRootKey, 36),
          gen(kSf2GenSampleId, 1)}, {}}}}};
  s.presets = {
      {"Lead", 5, 0,
       {{{range(kSf2GenKeyRange, 0, 100)}, {}},
        {{gen(kSf2GenInstrument, 0)}, {{0x0502, 48, 960, 0, 0}}},
        {{range(kSf2GenKeyRange, 30, 40), range(kSf2GenVelRange, 10, 127), gen(kSf2GenInstrument, 1)}, {}}},
       1, 2, 3},
      {"Kit", 0, 128, {{{gen(kSf2GenInstrument, 1)}, {}}}}};
  return s;
}

// Byte-level helpers on a built file: the first chunk with id `id`, and a
// chunk grown or shrunk at its end with its list's and the RIFF's sizes kept
// consistent.
size_t chunkAt(const Bytes& b, const std::string& id) {
  for (size_t i = 12; i + 4 <= b.size(); ++i) {
    if (std::equal(id.begin(), id.end(), b.begin() + i)) return i;
  }
  ADD_FAILURE() << "no chunk " << id;
  return 0;
}
void resizeChunk(Bytes& b, const std::string& id, int delta) {
  const size_t at = chunkAt(b, id);
  const uint32_t size = getLE32(b, at + 4);
  const size_t end = at + 8 + size;
  if (delta > 0) b.insert(b.begin() + end, delta, 0);
  else b.erase(b.begin() + static_cast<std::ptrdiff_t>(end) + delta, b.begin() + end);
  setLE32(b, at + 4, size + delta);
  size_t parent = at;
  while (!std::equal(b.begin() + parent, b.begin() + parent + 4, "LIST")) --parent;
  setLE32(b, parent + 4, getLE32(b, parent + 4) + delta);
  setLE32(b, 4, getLE32(b, 4) + delta);
}
size_t recordAt(const Bytes& b, const std::string& id, size_t index, size_t recordSize) {
  return chunkAt(b, id) + 8 + index * recordSize;
}

TEST(Sf2Reader, ReadsBackEveryFieldOfAHandBuiltFile) {
  const Sf2Design design = validDesign();
  const Bytes bytes = build(design);
  ASSERT_EQ(bytes.size(), 1188u);
  std::string error = "stale";
  const std::optional<Sf2File> f = readSf2(bytes, error);
  ASSERT_TRUE(f) << error;
  EXPECT_EQ(error, "");
  const std::map<std::string, std::string> info = {
      {"ifil", "2.1"}, {"isng", "EMU8000"}, {"INAM", "Test Bank"}, {"ICMT", "made by hand"},
      {"ISFT", "zaft"}};
  EXPECT_EQ(f->info, info);
  EXPECT_EQ(f->samples, design.samples);
  EXPECT_EQ(f->sampleHeaders, design.headers);
  ASSERT_EQ(f->instruments.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const std::vector<Sf2Zone>& zones = design.instruments[i].zones;
    EXPECT_EQ(f->instruments[i].name, design.instruments[i].name);
    EXPECT_EQ(f->instruments[i].global, i == 0 ? std::optional(zones[0]) : std::nullopt);
    EXPECT_EQ(f->instruments[i].zones, std::vector<Sf2Zone>(zones.begin() + (i == 0), zones.end()));
  }
  ASSERT_EQ(f->presets.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const PresetDesign& want = design.presets[i];
    const Sf2Preset& got = f->presets[i];
    EXPECT_EQ(got.name, want.name);
    EXPECT_EQ(std::tuple(got.program, got.bank, got.library, got.genre, got.morphology),
              std::tuple(want.program, want.bank, want.library, want.genre, want.morphology));
    EXPECT_EQ(got.global, i == 0 ? std::optional(want.zones[0]) : std::nullopt);
    EXPECT_EQ(got.zones, std::vector<Sf2Zone>(want.zones.begin() + (i == 0), want.zones.end()));
  }
  const Sf2Zone& split = f->instruments[0].zones[1];
  EXPECT_EQ(std::tuple(split.keyLo(), split.keyHi(), split.velLo(), split.velHi()),
            std::tuple(60, 127, 0, 100));
  EXPECT_EQ(split.find(kSf2GenPan)->signedAmount(), -200);
  EXPECT_EQ(split.find(kSf2GenInitialAttenuation), nullptr);
  const Sf2Zone& low = f->instruments[0].zones[0];  // ranges of its own only; velRange absent
  EXPECT_EQ(std::tuple(low.keyLo(), low.keyHi(), low.velLo(), low.velHi()), std::tuple(0, 63, 0, 127));
}

TEST(Sf2Reader, AcceptsWhatTheFormatAllows) {
  const std::vector<std::pair<std::string, std::function<void(Sf2Design&)>>> cases = {
      {"a stereo pair", [](Sf2Design& s) {
         s.headers[0].type = kSf2LeftSample, s.headers[0].link = 1;
         s.headers[1].type = kSf2RightSample, s.headers[1].link = 0;
       }},
      {"two headers sharing one sample", [](Sf2Design& s) { s.headers.push_back(s.headers[1]); }},
      {"a ROM sample outside smpl", [](Sf2Design& s) {
         s.headers.push_back({"Rom", 5000, 6000, 5008, 5992, 22050, 255, 0, 0, 0x8001});
       }},
      {"an instrument without zones, which plays nothing",
       [](Sf2Design& s) { s.instruments.push_back({"Silent", {}}); }},
      {"a loop 8 points from either end", [](Sf2Design& s) { s.headers[0].loopStart = 8, s.headers[0].loopEnd = 92; }},
      {"a loop of 32 points", [](Sf2Design& s) { s.headers[0].loopEnd = 52; }},
      {"no modulators at all", [](Sf2Design& s) {
         s.instruments[0].zones[0].mods.clear();
         s.presets[0].zones[1].mods.clear();
       }},
      {"a name of all 20 characters", [](Sf2Design& s) { s.presets[1].name = "ABCDEFGHIJKLMNOPQRST"; }},
  };
  for (const auto& [name, mutate] : cases) {
    SCOPED_TRACE(name);
    Sf2Design design = validDesign();
    mutate(design);
    std::string error;
    const std::optional<Sf2File> f = readSf2(build(design), error);
    ASSERT_TRUE(f) << error;
    EXPECT_EQ(f->sampleHeaders, design.headers);
    EXPECT_EQ(f->presets[1].name, design.presets[1].name);
  }
}

// Each fault, made in the built bytes or in the description before building,
// and the message it must be rejected with.
using ByteFault = std::pair<std::function<void(Bytes&)>, std::string>;
using DesignFault = std::pair<std::function<void(Sf2Design&)>, std::string>;

std::vector<ByteFault> byteFaults() {
  return {
      {[](Bytes& b) { setLE32(b, 4, 1182); }, "RIFF size 1182, expected 1180 (the file size - 8)"},
      {[](Bytes& b) { std::copy_n("WAVE", 4, b.begin() + 8); }, "RIFF form 'WAVE', expected 'sfbk'"},
      {[](Bytes& b) { setLE32(b, chunkAt(b, "shdr") + 4, 140); },
       "chunk 'shdr' at offset 1042: size 140 runs past the end of LIST 'pdta' at offset 1188"},
      {[](Bytes& b) { setLE32(b, 614, 568); }, "RIFF 'sfbk': 2 stray bytes at offset 1186"},  // LIST pdta
      {[](Bytes& b) { setLE32(b, chunkAt(b, "smpl") + 4, 482); }, "LIST 'sdta': 2 stray bytes at offset 608"},
      {[](Bytes& b) { setLE32(b, chunkAt(b, "smpl") + 4, 483); },
       "sdta 'smpl': odd size 483 (a sample point is 2 bytes)"},
      {[](Bytes& b) { b[chunkAt(b, "pmod")] = 'x'; },
       "LIST 'pdta': expected 'pmod' as chunk 3 of 9, found 'xmod' at offset 772"},
      {[](Bytes& b) { resizeChunk(b, "pbag", 2); },
       "pdta 'pbag': size 22 is not a whole number of 4-byte records"},
      {[](Bytes& b) { resizeChunk(b, "pmod", -20); }, "pdta 'pmod': no records, not even the terminal one"},
      {[](Bytes& b) { resizeChunk(b, "phdr", -38); },
       "pdta 'phdr': the last record is 'Kit', not the terminal 'EOP'"},
      {[](Bytes& b) { resizeChunk(b, "shdr", -46); },
       "pdta 'shdr': the last record is 'Drum B', not the terminal 'EOS'"},
      {[](Bytes& b) { setLE16(b, recordAt(b, "phdr", 0, 38) + 24, 4); },
       "pdta 'phdr': record 1 has bag index 3, below record 0's 4"},
      {[](Bytes& b) { setLE16(b, recordAt(b, "phdr", 2, 38) + 24, 3); },
       "pdta 'phdr': the terminal record has bag index 3, expected 4, one past the last 'pbag' record "
       "in use"},
      {[](Bytes& b) { setLE16(b, recordAt(b, "ibag", 2, 4), 99); },
       "pdta 'ibag': record 2 has generator index 99, past the 16 'igen' records"},
  };
}

std::vector<DesignFault> designFaults() {
  const std::string lead = "preset 'Lead' (phdr record 0), zone ", kit = "preset 'Kit' (phdr record 1)";
  const std::string leadInst = "instrument 'Lead' (inst record 0), zone ";
  const std::string drum = "instrument 'Drum' (inst record 1), zone 0";
  const std::string a = "sample 'Lead A' (shdr record 0): ", b = "sample 'Drum B' (shdr record 1)";
  return {
      // INFO.
      {[](Sf2Design& s) { std::swap(s.info[0], s.info[1]); }, "LIST 'INFO': 'ifil' must be its first chunk"},
      {[](Sf2Design& s) { s.info.erase(s.info.begin() + 2); }, "LIST 'INFO': 'INAM' missing"},
      {[](Sf2Design& s) { s.info[0].second = {2, 0}; }, "INFO 'ifil': size 2, expected 4"},
      {[](Sf2Design& s) { s.info[0].second = {3, 0, 0, 0}; }, "INFO 'ifil': version 3.0, expected 2.x"},
      {[](Sf2Design& s) { s.info[2].second = {'T', 'e', 's', 't'}; },
       "INFO 'INAM': text without its terminating zero"},
      {[](Sf2Design& s) { s.info.push_back(s.info[4]); }, "LIST 'INFO': 'ISFT' appears twice"},
      // Generators and zones.
      {[](Sf2Design& s) { std::swap(s.instruments[1].zones[0].gens[0], s.instruments[1].zones[0].gens[1]); },
       drum + ", generator 1: keyRange may only come first"},
      {[](Sf2Design& s) { std::swap(s.instruments[0].zones[0].gens[0], s.instruments[0].zones[0].gens[1]); },
       leadInst + "0, generator 1: velRange may only come first or right after keyRange"},
      {[](Sf2Design& s) { s.presets[0].zones[2].gens.push_back(gen(kSf2GenPan, 0)); },
       lead + "2, generator 2: instrument may only come last"},
      {[](Sf2Design& s) { insertGen(s.presets[1].zones[0], 0, gen(kSf2GenSampleId, 0)); },
       kit + ", zone 0, generator 0: sampleID is not allowed in a preset zone"},
      {[](Sf2Design& s) { s.presets[0].zones[0].gens.push_back(gen(kSf2GenSampleModes, 1)); },
       lead + "0, generator 1: generator 54 is not allowed in a preset zone"},
      {[](Sf2Design& s) { insertGen(s.instruments[1].zones[0], 1, gen(kSf2GenPan, 0), 2); },
       drum + ", generator 2: generator 17 appears twice in the zone"},
      {[](Sf2Design& s) { insertGen(s.instruments[0].zones[1], 0, gen(60, 0)); },
       leadInst + "1, generator 0: unknown operator 60"},
      {[](Sf2Design& s) { s.instruments[0].zones[2].gens[2].amount = 501; },
       leadInst + "2, generator 2: generator 17 amount 501 is outside -500..500"},
      {[](Sf2Design& s) { s.instruments[0].zones[0].gens[1].amount = 0xFFFF; },
       leadInst + "0, generator 1: generator 48 amount -1 is outside 0..1440"},
      {[](Sf2Design& s) { s.presets[0].zones[2].gens[0] = range(kSf2GenKeyRange, 40, 30); },
       lead + "2, generator 0: keyRange 40..30 is not a range within 0..127"},
      {[](Sf2Design& s) { s.presets[0].zones[1].gens.clear(); },
       lead + "1: does not end in an instrument generator, and only the first of several zones may be "
              "global"},
      {[](Sf2Design& s) { s.instruments[1].zones[0].gens.pop_back(); },
       drum + ": does not end in a sampleID generator, and only the first of several zones may be global"},
      {[](Sf2Design& s) { s.presets[1].zones[0].gens[0].amount = 2; },
       kit + ", zone 0: instrument 2 is past the 2 instruments"},
      {[](Sf2Design& s) { s.instruments[1].zones[0].gens[3].amount = 2; },
       drum + ": sampleID 2 is past the 2 sample headers"},
      {[](Sf2Design& s) { s.presets[1].zones.clear(); }, kit + ": no zones"},
      {[](Sf2Design& s) { s.presets[1].bank = 0, s.presets[1].program = 5; },
       kit + ": bank 0 program 5 is already preset 'Lead' (phdr record 0)"},
      // Sample headers.
      {[](Sf2Design& s) { s.headers[1].end = 243; }, b + ": end 243 is past the 242 points of 'smpl'"},
      {[](Sf2Design& s) { s.headers[0].start = 100; }, a + "start 100 is not before end 100"},
      {[](Sf2Design& s) { s.headers[0].loopEnd = 101; }, a + "loop 20..101 is not within 0..100"},
      {[](Sf2Design& s) { s.headers[0].loopStart = 80, s.headers[0].loopEnd = 20; },
       a + "loop 80..20 is not within 0..100"},
      {[](Sf2Design& s) { s.headers[0].rate = 0; }, a + "sample rate 0"},
      {[](Sf2Design& s) { s.headers[1].end = 193; }, b + ": 47 points long, 48 needed"},
      {[](Sf2Design& s) { s.headers[0].loopStart = 7; },
       a + "loop 7..80 within 0..100 leaves fewer than 8 points before or after it"},
      {[](Sf2Design& s) { s.headers[0].loopEnd = 93; },
       a + "loop 20..93 within 0..100 leaves fewer than 8 points before or after it"},
      {[](Sf2Design& s) { s.headers[0].loopEnd = 51; }, a + "loop 20..51 is 31 points long, 32 needed"},
      {[](Sf2Design& s) { s.headers[0].link = 1; }, a + "mono with link 1, expected 0"},
      {[](Sf2Design& s) { s.headers[0].type = kSf2LeftSample, s.headers[0].link = 1; },
       a + "its link " + b + " is not the right sample linked back to it"},
      {[](Sf2Design& s) { s.headers[0].type = 3; },
       a + "type 3 is not mono 1, right 2, left 4 or linked 8 (ROM adds 32768)"},
      {[](Sf2Design& s) { s.headers[0].originalPitch = 200; },
       a + "original pitch 200 is neither a key 0..127 nor 255"},
      {[](Sf2Design& s) { s.headers[1].start = 140; },
       a + "only 40 sample points between its end and the start of " + b + ", 46 needed"},
      {[](Sf2Design& s) { s.headers[1].end = 197; },
       b + ": only 45 sample points between its end and the end of 'smpl', 46 needed"},
      {[](Sf2Design& s) { s.samples[130] = 7; }, a + "guard point 130 after its end is 7, not zero"},
      {[](Sf2Design& s) { s.headers[1].start = 90; }, a + "its points overlap those of " + b},
  };
}

TEST(Sf2Reader, RejectsEachFaultNamingChunkAndRecord) {
  std::string error;
  for (const auto& [mutate, want] : byteFaults()) {
    Bytes bytes = build(validDesign());
    mutate(bytes);
    EXPECT_FALSE(readSf2(bytes, error)) << want;
    EXPECT_EQ(error, want);
  }
  for (const auto& [mutate, want] : designFaults()) {
    Sf2Design design = validDesign();
    mutate(design);
    EXPECT_FALSE(readSf2(build(design), error)) << want;
    EXPECT_EQ(error, want);
  }
}

TEST(Sf2Reader, EveryTruncationIsRejectedAndNoByteReadsOutOfBounds) {
  const Bytes bytes = build(validDesign());
  std::string error;
  for (size_t n = 0; n < bytes.size(); ++n) {
    ASSERT_FALSE(readSf2(Bytes(bytes.begin(), bytes.begin() + n), error)) << "length " << n;
    ASSERT_NE(error, "") << "length " << n;
  }
  // Any single byte at 0xFF: accepted or rejected, but read within bounds
  // (the sanitizer build checks).
  for (size_t i = 0; i < bytes.size(); ++i) {
    Bytes b = bytes;
    b[i] = 0xFF;
    const bool accepted = readSf2(b, error).has_value();
    EXPECT_EQ(accepted, error.empty()) << "byte " << i;
  }
}

TEST(Sf2Reader, SoundingZonesFollowOverlappingRangesAndGlobalDefaults) {
  std::string error;
  const std::optional<Sf2File> f = readSf2(build(validDesign()), error);
  ASSERT_TRUE(f) << error;
  using Zones = std::vector<std::pair<int, int>>;
  struct Case {
    int bank, program, key, velocity;
    Zones want;
  };
  const std::vector<Case> cases = {
      {0, 5, 36, 64, {{0, 0}, {1, 0}}},   // two preset zones, two instruments
      {0, 5, 36, 5, {{0, 0}}},            // the drum zone's velRange starts at 10
      {0, 5, 62, 64, {{0, 0}, {0, 1}}},   // overlapping key splits
      {0, 5, 62, 110, {{0, 0}, {0, 2}}},  // the velocity picks the upper split
      {0, 5, 30, 125, {}},                // past the instrument global zone's velRange
      {0, 5, 101, 64, {}},                // past the preset global zone's keyRange
      {128, 0, 36, 1, {{1, 0}}},
      {128, 0, 37, 1, {}},
      {0, 6, 60, 64, {}},  // no such preset
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.bank << ":" << c.program << " key " << c.key << " vel " << c.velocity);
    EXPECT_EQ(soundingZones(*f, c.bank, c.program, c.key, c.velocity), c.want);
  }
}

}  // namespace
}  // namespace zaft::test
