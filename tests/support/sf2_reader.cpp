#include "support/sf2_reader.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <initializer_list>

#include "util/endian.h"

namespace zaft::test {

const Sf2Generator* Sf2Zone::find(uint16_t oper) const {
  for (const Sf2Generator& g : gens) {
    if (g.oper == oper) return &g;
  }
  return nullptr;
}

int Sf2Zone::keyLo() const {
  const Sf2Generator* g = find(kSf2GenKeyRange);
  return g ? g->lo() : 0;
}
int Sf2Zone::keyHi() const {
  const Sf2Generator* g = find(kSf2GenKeyRange);
  return g ? g->hi() : 127;
}
int Sf2Zone::velLo() const {
  const Sf2Generator* g = find(kSf2GenVelRange);
  return g ? g->lo() : 0;
}
int Sf2Zone::velHi() const {
  const Sf2Generator* g = find(kSf2GenVelRange);
  return g ? g->hi() : 127;
}

namespace {

constexpr size_t kNameSize = 20;  // every record name: 20 bytes, unused ones zero

struct Sf2Error {
  std::string message;
};

[[noreturn]] void fail(std::string message) { throw Sf2Error{std::move(message)}; }

std::string num(size_t v) { return std::to_string(v); }

// A chunk id or list type, bytes outside printable ASCII shown as '?'.
std::string fourcc(const uint8_t* p) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += p[i] >= 0x20 && p[i] < 0x7F ? static_cast<char>(p[i]) : '?';
  return s;
}

std::string recordName(const uint8_t* p) {
  size_t n = 0;
  while (n < kNameSize && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

struct Chunk {
  std::string id;
  size_t offset = 0;  // of the chunk's 8-byte header
  size_t size = 0;    // of its data, without the pad byte
  size_t data() const { return offset + 8; }
  std::string describe() const { return "'" + id + "' at offset " + num(offset); }
};

// The chunks that exactly fill bytes [begin, end), each padded to an even size.
std::vector<Chunk> chunksIn(const std::vector<uint8_t>& b, size_t begin, size_t end,
                            const std::string& parent) {
  std::vector<Chunk> out;
  for (size_t pos = begin; pos < end;) {
    if (end - pos < 8) fail(parent + ": " + num(end - pos) + " stray bytes at offset " + num(pos));
    Chunk c{fourcc(&b[pos]), pos, loadLE32(&b[pos + 4])};
    const size_t padded = c.size + (c.size & 1);
    if (padded > end - pos - 8) {
      fail("chunk " + c.describe() + ": size " + num(c.size) +
           (c.size & 1 ? " (" + num(padded) + " with its pad byte)" : "") +
           " runs past the end of " + parent + " at offset " + num(end));
    }
    out.push_back(c);
    pos += 8 + padded;
  }
  return out;
}

// The chunks of `c`, which must be LIST `type`.
std::vector<Chunk> listChunks(const std::vector<uint8_t>& b, const Chunk& c,
                              const std::string& type) {
  const bool isList = c.id == "LIST" && c.size >= 4;
  if (!isList || fourcc(&b[c.data()]) != type) {
    fail("RIFF 'sfbk': expected LIST '" + type + "', found " +
         (isList ? "LIST '" + fourcc(&b[c.data()]) + "'" : "'" + c.id + "'") + " at offset " +
         num(c.offset));
  }
  return chunksIn(b, c.data() + 4, c.data() + c.size, "LIST '" + type + "'");
}

void readInfo(const std::vector<uint8_t>& b, const std::vector<Chunk>& chunks, Sf2File& f) {
  if (chunks.empty() || chunks[0].id != "ifil") fail("LIST 'INFO': 'ifil' must be its first chunk");
  for (const Chunk& c : chunks) {
    const std::string where = "INFO '" + c.id + "'";
    const uint8_t* p = b.data() + c.data();
    if (f.info.count(c.id)) fail("LIST 'INFO': '" + c.id + "' appears twice");
    if (c.id == "ifil" || c.id == "iver") {
      if (c.size != 4) fail(where + ": size " + num(c.size) + ", expected 4");
      f.info[c.id] = num(loadLE16(p)) + "." + num(loadLE16(p + 2));
      if (c.id == "ifil" && loadLE16(p) != 2)
        fail(where + ": version " + f.info[c.id] + ", expected 2.x");
      continue;
    }
    // Text: zero-terminated, zero-padded to an even size, 256 bytes at most
    // (a comment 65536).
    const size_t limit = c.id == "ICMT" ? 65536 : 256;
    if (c.size == 0 || p[c.size - 1] != 0) fail(where + ": text without its terminating zero");
    if (c.size % 2 != 0)
      fail(where + ": odd size " + num(c.size) + " (text is padded to an even size)");
    if (c.size > limit)
      fail(where + ": size " + num(c.size) + " exceeds the limit of " + num(limit));
    std::string text(reinterpret_cast<const char*>(p), c.size);
    text.resize(text.find('\0'));
    f.info[c.id] = text;
  }
  for (const char* id : {"isng", "INAM"}) {
    if (!f.info.count(id)) fail("LIST 'INFO': '" + std::string(id) + "' missing");
  }
}

void readSampleData(const std::vector<uint8_t>& b, const std::vector<Chunk>& chunks, Sf2File& f) {
  if (chunks.empty() || chunks[0].id != "smpl") fail("LIST 'sdta': 'smpl' must be its first chunk");
  const Chunk& s = chunks[0];
  if (s.size % 2 != 0)
    fail("sdta 'smpl': odd size " + num(s.size) + " (a sample point is 2 bytes)");
  f.samples.resize(s.size / 2);
  for (size_t i = 0; i < f.samples.size(); ++i) {
    f.samples[i] = static_cast<int16_t>(loadLE16(&b[s.data() + 2 * i]));
  }
  // The low bytes of 24-bit samples may follow, one per sample point.
  const bool sm24 = chunks.size() > 1 && chunks[1].id == "sm24";
  if (chunks.size() > (sm24 ? 2u : 1u)) {
    fail("LIST 'sdta': unexpected chunk " + chunks[sm24 ? 2 : 1].describe());
  }
  const size_t n = f.samples.size();
  if (sm24 && chunks[1].size != n && chunks[1].size != n + (n & 1)) {
    fail("sdta 'sm24': size " + num(chunks[1].size) + ", expected " + num(n) +
         " (a byte per sample point)");
  }
}

// The nine tables of LIST "pdta", in their required order.
enum TableId { kPhdr, kPbag, kPmod, kPgen, kInst, kIbag, kImod, kIgen, kShdr, kTableCount };
constexpr std::array<const char*, kTableCount> kTableNames = {
    "phdr", "pbag", "pmod", "pgen", "inst", "ibag", "imod", "igen", "shdr"};
constexpr std::array<size_t, kTableCount> kRecordSizes = {38, 4, 10, 4, 22, 4, 10, 4, 46};

struct Table {
  std::string name;
  const uint8_t* p = nullptr;
  size_t count = 0;  // records, the terminal one included
  size_t recordSize = 0;
  const uint8_t* at(size_t i) const { return p + i * recordSize; }
  std::string where() const { return "pdta '" + name + "'"; }
};

std::array<Table, kTableCount> tablesOf(const std::vector<uint8_t>& b,
                                        const std::vector<Chunk>& chunks) {
  std::array<Table, kTableCount> t;
  for (size_t i = 0; i < kTableCount; ++i) {
    const std::string name = kTableNames[i];
    if (i >= chunks.size()) fail("LIST 'pdta': '" + name + "' missing");
    const Chunk& c = chunks[i];
    if (c.id != name) {
      fail("LIST 'pdta': expected '" + name + "' as chunk " + num(i + 1) + " of 9, found " +
           c.describe());
    }
    t[i] = Table{name, b.data() + c.data(), c.size / kRecordSizes[i], kRecordSizes[i]};
    if (c.size % kRecordSizes[i] != 0) {
      fail(t[i].where() + ": size " + num(c.size) + " is not a whole number of " +
           num(kRecordSizes[i]) + "-byte records");
    }
    if (t[i].count == 0) fail(t[i].where() + ": no records, not even the terminal one");
  }
  if (chunks.size() > kTableCount) {
    fail("LIST 'pdta': unexpected chunk " + chunks[kTableCount].describe() + " after 'shdr'");
  }
  return t;
}

void checkTerminalName(const Table& t, const char* terminal) {
  const std::string last = recordName(t.at(t.count - 1));
  if (last != terminal) {
    fail(t.where() + ": the last record is '" + last + "', not the terminal '" + terminal + "'");
  }
}

// The u16 index at `field` of every record of `t` into `target`: never
// decreasing, within `target`, and the terminal record's naming the
// target's terminal record, one past the last one in use.
std::vector<size_t> indexColumn(const Table& t, size_t field, const Table& target,
                                const char* what) {
  std::vector<size_t> idx(t.count);
  for (size_t i = 0; i < t.count; ++i) {
    idx[i] = loadLE16(t.at(i) + field);
    const std::string at =
        t.where() + ": record " + num(i) + " has " + what + " index " + num(idx[i]);
    if (idx[i] >= target.count)
      fail(at + ", past the " + num(target.count) + " '" + target.name + "' records");
    if (i > 0 && idx[i] < idx[i - 1])
      fail(at + ", below record " + num(i - 1) + "'s " + num(idx[i - 1]));
  }
  if (idx.back() != target.count - 1) {
    fail(t.where() + ": the terminal record has " + what + " index " + num(idx.back()) +
         ", expected " + num(target.count - 1) + ", one past the last '" + target.name +
         "' record in use");
  }
  return idx;
}

std::string generatorName(uint16_t oper) {
  if (oper == kSf2GenInstrument) return "instrument";
  if (oper == kSf2GenKeyRange) return "keyRange";
  if (oper == kSf2GenVelRange) return "velRange";
  if (oper == kSf2GenSampleId) return "sampleID";
  return "generator " + num(oper);
}

bool oneOf(uint16_t oper, std::initializer_list<uint16_t> list) {
  return std::find(list.begin(), list.end(), oper) != list.end();
}

// Operators 0..58 except the unused and reserved ones.
bool knownGenerator(uint16_t oper) {
  return oper <= 58 && !oneOf(oper, {14, 18, 19, 20, 42, 49, 55});
}

// Sample offsets, sampleModes, keynum, velocity, exclusiveClass and
// overridingRootKey shape one sample and mean nothing at preset level.
bool instrumentOnly(uint16_t oper) {
  return oneOf(oper, {0, 1, 2, 3, 4, 12, 45, 46, 47, 50, 54, 57, 58});
}

// The amounts the format gives each generator that has a signed range
// (ranges, indices and sample offsets have bounds of their own).
struct AmountRange {
  uint16_t oper;
  int lo, hi;
};
constexpr AmountRange kAmountRanges[] = {
    {5, -12000, 12000}, {6, -12000, 12000}, {7, -12000, 12000}, {8, 1500, 13500},
    {9, 0, 960},        {10, -12000, 12000}, {11, -12000, 12000}, {13, -960, 960},
    {15, 0, 1000},      {16, 0, 1000},       {kSf2GenPan, -500, 500}, {21, -12000, 5000},
    {22, -16000, 4500}, {23, -12000, 5000},  {24, -16000, 4500},  {25, -12000, 5000},
    {26, -12000, 8000}, {27, -12000, 5000},  {28, -12000, 8000},  {29, 0, 1000},
    {30, -12000, 8000}, {31, -1200, 1200},   {32, -1200, 1200},   {33, -12000, 5000},
    {34, -12000, 8000}, {35, -12000, 5000},  {36, -12000, 8000},  {37, 0, 1440},
    {38, -12000, 8000}, {39, -1200, 1200},   {40, -1200, 1200},   {46, -1, 127},
    {47, -1, 127},      {kSf2GenInitialAttenuation, 0, 1440},     {51, -120, 120},
    {52, -99, 99},      {kSf2GenSampleModes, 0, 3},               {56, 0, 1200},
    {57, 0, 127},       {kSf2GenOverridingRootKey, -1, 127}};

void checkGenerators(const Sf2Zone& zone, bool preset, const std::string& where) {
  std::bitset<64> seen;
  const size_t n = zone.gens.size();
  for (size_t k = 0; k < n; ++k) {
    const Sf2Generator& g = zone.gens[k];
    const std::string at = where + ", generator " + num(k) + ": ";
    const std::string name = generatorName(g.oper);
    if (!knownGenerator(g.oper)) fail(at + "unknown operator " + num(g.oper));
    if (seen[g.oper]) fail(at + name + " appears twice in the zone");
    seen.set(g.oper);
    switch (g.oper) {
      case kSf2GenKeyRange:
        if (k != 0) fail(at + "keyRange may only come first");
        break;
      case kSf2GenVelRange:
        if (k != 0 && !(k == 1 && zone.gens[0].oper == kSf2GenKeyRange)) {
          fail(at + "velRange may only come first or right after keyRange");
        }
        break;
      case kSf2GenInstrument:
      case kSf2GenSampleId:
        if (preset != (g.oper == kSf2GenInstrument)) {
          fail(at + name + " is not allowed in " + (preset ? "a preset" : "an instrument") +
               " zone");
        }
        if (k != n - 1) fail(at + name + " may only come last");
        break;
      default:
        if (preset && instrumentOnly(g.oper)) fail(at + name + " is not allowed in a preset zone");
    }
    for (const AmountRange& r : kAmountRanges) {
      if (r.oper == g.oper && (g.signedAmount() < r.lo || g.signedAmount() > r.hi)) {
        fail(at + name + " amount " + std::to_string(g.signedAmount()) + " is outside " +
             std::to_string(r.lo) + ".." + std::to_string(r.hi));
      }
    }
    if ((g.oper == kSf2GenKeyRange || g.oper == kSf2GenVelRange) &&
        (g.lo() > g.hi() || g.hi() > 127)) {
      fail(at + name + " " + num(g.lo()) + ".." + num(g.hi()) + " is not a range within 0..127");
    }
  }
}

// The bag, generator and modulator indices of one side (presets or
// instruments), checked.
struct Side {
  bool preset = false;
  const Table* gen = nullptr;
  const Table* mod = nullptr;
  std::vector<size_t> bags;    // per header record
  std::vector<size_t> genIdx;  // per bag
  std::vector<size_t> modIdx;  // per bag
  size_t targets = 0;          // instruments or sample headers
};

Side sideOf(const std::array<Table, kTableCount>& t, bool preset, size_t targets) {
  const Table& hdr = t[preset ? kPhdr : kInst];
  const Table& bag = t[preset ? kPbag : kIbag];
  Side s;
  s.preset = preset;
  s.gen = &t[preset ? kPgen : kIgen];
  s.mod = &t[preset ? kPmod : kImod];
  s.bags = indexColumn(hdr, preset ? 24 : 20, bag, "bag");
  s.genIdx = indexColumn(bag, 0, *s.gen, "generator");
  s.modIdx = indexColumn(bag, 2, *s.mod, "modulator");
  s.targets = targets;
  return s;
}

// The zones of header record `h`: its first may be global (no instrument or
// sampleID at its end) when there are several; every other ends in one.
void readZones(const Side& s, size_t h, const std::string& owner, std::optional<Sf2Zone>& global,
               std::vector<Sf2Zone>& zones) {
  const uint16_t link = s.preset ? kSf2GenInstrument : kSf2GenSampleId;
  const size_t first = s.bags[h];
  const size_t last = s.bags[h + 1];
  // An instrument without zones is allowed (it plays nothing); a preset
  // leads to at least one.
  if (first == last && s.preset) fail(owner + ": no zones");
  for (size_t bag = first; bag < last; ++bag) {
    const std::string where = owner + ", zone " + num(bag - first);
    Sf2Zone zone;
    for (size_t g = s.genIdx[bag]; g < s.genIdx[bag + 1]; ++g) {
      const uint8_t* p = s.gen->at(g);
      zone.gens.push_back({loadLE16(p), loadLE16(p + 2)});
    }
    for (size_t m = s.modIdx[bag]; m < s.modIdx[bag + 1]; ++m) {
      const uint8_t* p = s.mod->at(m);
      zone.mods.push_back({loadLE16(p), loadLE16(p + 2), static_cast<int16_t>(loadLE16(p + 4)),
                           loadLE16(p + 6), loadLE16(p + 8)});
    }
    checkGenerators(zone, s.preset, where);
    if (zone.gens.empty() || zone.gens.back().oper != link) {
      if (bag == first && last - first > 1) {
        global = std::move(zone);
        continue;
      }
      fail(where + ": does not end in " + (s.preset ? "an instrument" : "a sampleID") +
           " generator, and only the first of several zones may be global");
    }
    if (zone.gens.back().amount >= s.targets) {
      fail(where + ": " + generatorName(link) + " " + num(zone.gens.back().amount) +
           " is past the " + num(s.targets) + (s.preset ? " instruments" : " sample headers"));
    }
    zones.push_back(std::move(zone));
  }
}

std::vector<Sf2SampleHeader> readSampleHeaders(const Table& t,
                                               const std::vector<int16_t>& samples) {
  std::vector<Sf2SampleHeader> out(t.count - 1);
  for (size_t i = 0; i < out.size(); ++i) {
    const uint8_t* p = t.at(i);
    out[i] = {recordName(p),
              loadLE32(p + 20),
              loadLE32(p + 24),
              loadLE32(p + 28),
              loadLE32(p + 32),
              loadLE32(p + 36),
              p[40],
              static_cast<int8_t>(p[41]),
              loadLE16(p + 42),
              loadLE16(p + 44)};
  }
  auto where = [&](size_t i) {
    return "sample '" + out[i].name + "' (shdr record " + num(i) + ")";
  };
  std::vector<size_t> inSmpl;  // those whose points lie in "smpl", not in a ROM
  for (size_t i = 0; i < out.size(); ++i) {
    const Sf2SampleHeader& s = out[i];
    const uint16_t base = s.type & ~kSf2RomFlag;
    if (base != kSf2MonoSample && base != kSf2RightSample && base != kSf2LeftSample &&
        base != kSf2LinkedSample) {
      fail(where(i) + ": type " + num(s.type) +
           " is not mono 1, right 2, left 4 or linked 8 (ROM adds 32768)");
    }
    if (s.rate == 0) fail(where(i) + ": sample rate 0");
    if (s.originalPitch > 127 && s.originalPitch != 255) {
      fail(where(i) + ": original pitch " + num(s.originalPitch) +
           " is neither a key 0..127 nor 255");
    }
    if (base == kSf2MonoSample && s.link != 0)
      fail(where(i) + ": mono with link " + num(s.link) + ", expected 0");
    if (base != kSf2MonoSample && s.link >= out.size()) {
      fail(where(i) + ": link " + num(s.link) + " is past the " + num(out.size()) +
           " sample headers");
    }
    if (base == kSf2RightSample || base == kSf2LeftSample) {
      const Sf2SampleHeader& partner = out[s.link];
      const uint16_t want = base == kSf2RightSample ? kSf2LeftSample : kSf2RightSample;
      if ((partner.type & ~kSf2RomFlag) != want || partner.link != i) {
        fail(where(i) + ": its link " + where(s.link) + " is not the " +
             (want == kSf2LeftSample ? "left" : "right") + " sample linked back to it");
      }
    }
    if (s.start >= s.end)
      fail(where(i) + ": start " + num(s.start) + " is not before end " + num(s.end));
    if (s.loopStart < s.start || s.loopEnd > s.end || s.loopStart > s.loopEnd) {
      fail(where(i) + ": loop " + num(s.loopStart) + ".." + num(s.loopEnd) + " is not within " +
           num(s.start) + ".." + num(s.end));
    }
    // What players rely on to interpolate: 48 points at the least, 8
    // points before a loop and after it, 32 in it.
    if (s.end - s.start < kSf2MinSamplePoints) {
      fail(where(i) + ": " + num(s.end - s.start) + " points long, " + num(kSf2MinSamplePoints) +
           " needed");
    }
    if (s.loopStart - s.start < kSf2LoopRoom || s.end - s.loopEnd < kSf2LoopRoom) {
      fail(where(i) + ": loop " + num(s.loopStart) + ".." + num(s.loopEnd) + " within " +
           num(s.start) + ".." + num(s.end) + " leaves fewer than " + num(kSf2LoopRoom) +
           " points before or after it");
    }
    if (s.loopEnd - s.loopStart < kSf2MinLoopPoints) {
      fail(where(i) + ": loop " + num(s.loopStart) + ".." + num(s.loopEnd) + " is " +
           num(s.loopEnd - s.loopStart) + " points long, " + num(kSf2MinLoopPoints) + " needed");
    }
    if (s.type & kSf2RomFlag) continue;
    if (s.end > samples.size()) {
      fail(where(i) + ": end " + num(s.end) + " is past the " + num(samples.size()) +
           " points of 'smpl'");
    }
    inSmpl.push_back(i);
  }
  // Every sample is followed by zero-valued guard points before the next
  // one or the end of the data; headers may share one sample exactly.
  std::sort(inSmpl.begin(), inSmpl.end(), [&](size_t a, size_t b) {
    return std::pair(out[a].start, out[a].end) < std::pair(out[b].start, out[b].end);
  });
  for (size_t j = 0; j < inSmpl.size(); ++j) {
    const Sf2SampleHeader& s = out[inSmpl[j]];
    size_t next = j + 1;
    while (next < inSmpl.size() && out[inSmpl[next]].start == s.start &&
           out[inSmpl[next]].end == s.end)
      ++next;
    const bool last = next == inSmpl.size();
    const size_t limit = last ? samples.size() : out[inSmpl[next]].start;
    const std::string beyond = last ? "the end of 'smpl'" : "the start of " + where(inSmpl[next]);
    if (limit < s.end)
      fail(where(inSmpl[j]) + ": its points overlap those of " + where(inSmpl[next]));
    if (limit - s.end < kSf2GuardPoints) {
      fail(where(inSmpl[j]) + ": only " + num(limit - s.end) +
           " sample points between its end and " + beyond + ", " + num(kSf2GuardPoints) +
           " needed");
    }
    for (size_t q = s.end; q < s.end + kSf2GuardPoints; ++q) {
      if (samples[q] != 0) {
        fail(where(inSmpl[j]) + ": guard point " + num(q) + " after its end is " +
             std::to_string(samples[q]) + ", not zero");
      }
    }
  }
  return out;
}

void readArticulation(const std::vector<uint8_t>& b, const std::vector<Chunk>& chunks, Sf2File& f) {
  const std::array<Table, kTableCount> t = tablesOf(b, chunks);
  checkTerminalName(t[kPhdr], "EOP");
  checkTerminalName(t[kInst], "EOI");
  checkTerminalName(t[kShdr], "EOS");
  f.sampleHeaders = readSampleHeaders(t[kShdr], f.samples);

  const Side inst = sideOf(t, false, f.sampleHeaders.size());
  f.instruments.resize(t[kInst].count - 1);
  for (size_t i = 0; i < f.instruments.size(); ++i) {
    Sf2Instrument& in = f.instruments[i];
    in.name = recordName(t[kInst].at(i));
    readZones(inst, i, "instrument '" + in.name + "' (inst record " + num(i) + ")", in.global,
              in.zones);
  }

  const Side preset = sideOf(t, true, f.instruments.size());
  f.presets.resize(t[kPhdr].count - 1);
  std::map<std::pair<uint16_t, uint16_t>, size_t> taken;  // (bank, program) -> record
  for (size_t i = 0; i < f.presets.size(); ++i) {
    const uint8_t* p = t[kPhdr].at(i);
    Sf2Preset& pr = f.presets[i];
    pr.name = recordName(p);
    pr.program = loadLE16(p + 20);
    pr.bank = loadLE16(p + 22);
    pr.library = loadLE32(p + 26);
    pr.genre = loadLE32(p + 30);
    pr.morphology = loadLE32(p + 34);
    const std::string owner = "preset '" + pr.name + "' (phdr record " + num(i) + ")";
    if (pr.program > 127) fail(owner + ": program " + num(pr.program) + " is past 127");
    const auto [it, fresh] = taken.emplace(std::pair(pr.bank, pr.program), i);
    if (!fresh) {
      fail(owner + ": bank " + num(pr.bank) + " program " + num(pr.program) +
           " is already preset '" + f.presets[it->second].name + "' (phdr record " +
           num(it->second) + ")");
    }
    readZones(preset, i, owner, pr.global, pr.zones);
  }
}

Sf2File parse(const std::vector<uint8_t>& b) {
  if (b.size() < 12)
    fail("file of " + num(b.size()) + " bytes is too short for a RIFF header (12 bytes)");
  if (fourcc(&b[0]) != "RIFF") fail("not a RIFF file: it starts with '" + fourcc(&b[0]) + "'");
  const size_t riffSize = loadLE32(&b[4]);
  if (riffSize != b.size() - 8) {
    fail("RIFF size " + num(riffSize) + ", expected " + num(b.size() - 8) + " (the file size - 8)");
  }
  if (fourcc(&b[8]) != "sfbk") fail("RIFF form '" + fourcc(&b[8]) + "', expected 'sfbk'");
  const std::vector<Chunk> top = chunksIn(b, 12, b.size(), "RIFF 'sfbk'");
  const std::array<const char*, 3> lists = {"INFO", "sdta", "pdta"};
  std::array<std::vector<Chunk>, 3> inner;
  for (size_t i = 0; i < lists.size(); ++i) {
    if (i >= top.size()) fail("RIFF 'sfbk': LIST '" + std::string(lists[i]) + "' missing");
    inner[i] = listChunks(b, top[i], lists[i]);
  }
  if (top.size() > lists.size())
    fail("RIFF 'sfbk': unexpected chunk " + top[3].describe() + " after LIST 'pdta'");
  Sf2File f;
  readInfo(b, inner[0], f);
  readSampleData(b, inner[1], f);
  readArticulation(b, inner[2], f);
  return f;
}

// Whether the ranges of `zone`, or failing those its global zone's, hold the pair.
bool holds(const Sf2Zone& zone, const std::optional<Sf2Zone>& global, int key, int velocity) {
  auto within = [&](uint16_t oper, int value) {
    const Sf2Generator* g = zone.find(oper);
    if (!g && global) g = global->find(oper);
    return !g || (value >= g->lo() && value <= g->hi());
  };
  return within(kSf2GenKeyRange, key) && within(kSf2GenVelRange, velocity);
}

}  // namespace

std::optional<Sf2File> readSf2(const std::vector<uint8_t>& bytes, std::string& error) {
  error.clear();
  try {
    return parse(bytes);
  } catch (const Sf2Error& e) {
    error = e.message;
    return std::nullopt;
  }
}

std::vector<std::pair<int, int>> soundingZones(const Sf2File& f, int bank, int program, int key,
                                               int velocity) {
  std::vector<std::pair<int, int>> out;
  for (const Sf2Preset& p : f.presets) {
    if (p.bank != bank || p.program != program) continue;
    for (const Sf2Zone& pz : p.zones) {
      const Sf2Generator* g = pz.find(kSf2GenInstrument);
      if (!g || g->amount >= f.instruments.size() || !holds(pz, p.global, key, velocity)) continue;
      const Sf2Instrument& inst = f.instruments[g->amount];
      for (size_t z = 0; z < inst.zones.size(); ++z) {
        if (holds(inst.zones[z], inst.global, key, velocity))
          out.emplace_back(g->amount, static_cast<int>(z));
      }
    }
    break;
  }
  return out;
}

}  // namespace zaft::test
