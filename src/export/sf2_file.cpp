#include "export/sf2_file.h"

#include <algorithm>
#include <cstring>

#include "util/endian.h"

namespace zaft::sf2 {

namespace {

// Modulator sources: type << 10 | bipolar << 9 | negative << 8 | index.
constexpr uint16_t kVelocityNegativeConcave = 1 << 10 | 1 << 8 | 2;
constexpr uint16_t kPitchWheelBipolar = 1 << 9 | 14;
constexpr uint16_t kPitchWheelSensitivity = 16;
// Velocity through the default curve (negative concave, 960 cB) gives an
// amplitude of (v / 127)^2; half of it gives v / 127, as on the console.
constexpr int16_t kLinearVelocityCb = 480;
constexpr size_t kMaxComment = 65534;  // and its terminating zero
constexpr uint64_t kModulatorsPerZone = 3;

// Little-endian records, appended.
class Bytes {
 public:
  void u8(uint8_t v) { bytes_.push_back(v); }
  void u16(uint16_t v) {
    uint8_t b[2];
    storeLE16(b, v);
    put(b, 2);
  }
  void u32(uint32_t v) {
    uint8_t b[4];
    storeLE32(b, v);
    put(b, 4);
  }
  void name(const std::string& text) {
    uint8_t field[kNameBytes] = {};
    std::memcpy(field, text.data(), std::min(text.size(), kNameBytes - 1));
    put(field, kNameBytes);
  }
  void fourcc(const char* id) { put(reinterpret_cast<const uint8_t*>(id), 4); }
  void append(const Bytes& other) {
    bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
  }
  // A chunk: id, size, body, and a pad byte after an odd size.
  void chunk(const char* id, const Bytes& body) {
    fourcc(id);
    u32(static_cast<uint32_t>(body.size()));
    append(body);
    if (body.size() % 2 != 0) u8(0);
  }
  size_t size() const { return bytes_.size(); }
  const std::vector<uint8_t>& data() const { return bytes_; }

 private:
  // Byte by byte: GCC 12 misjudges insert() of a few bytes as an overflow.
  void put(const uint8_t* b, size_t n) {
    for (size_t k = 0; k < n; ++k) bytes_.push_back(b[k]);
  }
  std::vector<uint8_t> bytes_;
};

// A text chunk's body: the text, a terminating zero, padded to an even size.
Bytes textBody(const std::string& text) {
  Bytes b;
  for (char c : text) b.u8(static_cast<uint8_t>(c));
  b.u8(0);
  if (b.size() % 2 != 0) b.u8(0);
  return b;
}

Bytes infoList(const Contents& c) {
  Bytes info;
  info.fourcc("INFO");
  Bytes version;
  version.u16(2);
  version.u16(1);
  info.chunk("ifil", version);
  info.chunk("isng", textBody("EMU8000"));
  info.chunk("INAM", textBody(c.title.substr(0, 255)));
  info.chunk("ISFT", textBody(c.software));
  info.chunk("ICMT", textBody(c.comment.substr(0, kMaxComment)));
  return info;
}

// One level of the hydra: the headers, their zones ("bags"), the zones'
// modulators and generators, each list ending in its terminal record.
struct HydraLists {
  Bytes headers, bags, mods, gens;
};

HydraLists presetLists(const Contents& c) {
  HydraLists l;
  uint16_t bags = 0, gens = 0;
  const auto presetHeader = [&](const std::string& name, uint16_t program, uint16_t bank) {
    l.headers.name(name);
    l.headers.u16(program);
    l.headers.u16(bank);
    l.headers.u16(bags);
    l.headers.u32(0);  // library, genre, morphology
    l.headers.u32(0);
    l.headers.u32(0);
  };
  for (const Preset& p : c.presets) {
    presetHeader(p.name, p.program, p.bank);
    l.bags.u16(gens);
    l.bags.u16(0);
    ++bags;
    l.gens.u16(kInstrument);
    l.gens.u16(static_cast<uint16_t>(p.instrument));
    ++gens;
  }
  presetHeader("EOP", 0, 0);
  l.bags.u16(gens);
  l.bags.u16(0);
  for (int k = 0; k < 10; ++k) l.mods.u8(0);
  l.gens.u32(0);
  return l;
}

// Velocity as linear amplitude, in place of the default curve; the default
// pitch wheel (its range set by the sequence) off, and the instrument's own
// bend range in cents instead.
void zoneModulators(const Zone& z, Bytes& mods) {
  const uint16_t rows[3][5] = {
      {kVelocityNegativeConcave, kInitialAttenuation, static_cast<uint16_t>(kLinearVelocityCb), 0, 0},
      {kPitchWheelBipolar, kInitialPitch, 0, kPitchWheelSensitivity, 0},
      {kPitchWheelBipolar, kInitialPitch, static_cast<uint16_t>(z.bendRange), 0, 0}};
  for (const auto& m : rows) {
    for (uint16_t v : m) mods.u16(v);
  }
}

HydraLists instrumentLists(const Contents& c) {
  HydraLists l;
  uint32_t bags = 0, gens = 0, mods = 0;
  for (const Instrument& i : c.instruments) {
    l.headers.name(i.name);
    l.headers.u16(static_cast<uint16_t>(bags));
    for (const Zone& z : i.zones) {
      l.bags.u16(static_cast<uint16_t>(gens));
      l.bags.u16(static_cast<uint16_t>(mods));
      ++bags;
      for (const GenValue& g : z.gens) {
        l.gens.u16(g.oper);
        l.gens.u16(g.amount);
        ++gens;
      }
      zoneModulators(z, l.mods);
      mods += 3;
    }
  }
  l.headers.name("EOI");
  l.headers.u16(static_cast<uint16_t>(bags));
  l.bags.u16(static_cast<uint16_t>(gens));
  l.bags.u16(static_cast<uint16_t>(mods));
  for (int k = 0; k < 10; ++k) l.mods.u8(0);
  l.gens.u32(0);
  return l;
}

Bytes sampleHeaders(const Contents& c) {
  Bytes shdr;
  for (const SampleHeader& s : c.samples) {
    shdr.name(s.name);
    shdr.u32(s.start);
    shdr.u32(s.end);
    shdr.u32(s.loopStart);
    shdr.u32(s.loopEnd);
    shdr.u32(static_cast<uint32_t>(s.rate));
    // Every zone sets its own root key and tuning, which a synthesizer adds
    // to the header's correction, so that stays 0.
    shdr.u8(s.rootKey);
    shdr.u8(0);
    shdr.u16(0);
    shdr.u16(1);  // mono
  }
  shdr.name("EOS");
  for (int k = 0; k < 26; ++k) shdr.u8(0);
  return shdr;
}

Bytes pdtaList(const Contents& c) {
  const HydraLists presets = presetLists(c);
  const HydraLists instruments = instrumentLists(c);
  Bytes pdta;
  pdta.fourcc("pdta");
  pdta.chunk("phdr", presets.headers);
  pdta.chunk("pbag", presets.bags);
  pdta.chunk("pmod", presets.mods);
  pdta.chunk("pgen", presets.gens);
  pdta.chunk("inst", instruments.headers);
  pdta.chunk("ibag", instruments.bags);
  pdta.chunk("imod", instruments.mods);
  pdta.chunk("igen", instruments.gens);
  pdta.chunk("shdr", sampleHeaders(c));
  return pdta;
}

}  // namespace

GenValue heldGenerator(Gen oper, int32_t amount) {
  int32_t lo = INT16_MIN, hi = UINT16_MAX;
  switch (oper) {
    case kPan: lo = -500, hi = 500; break;  // 0.1 % steps left to right
    case kAttackVolEnv:
    case kDecayVolEnv:
    case kReleaseVolEnv: lo = -12000, hi = 8000; break;  // timecents
    case kSustainVolEnv:
    case kInitialAttenuation: lo = 0, hi = 1440; break;  // centibels
    case kCoarseTune: lo = -120, hi = 120; break;        // semitones
    case kFineTune: lo = -99, hi = 99; break;            // cents
    case kSampleModes: lo = 0, hi = 3; break;
    case kOverridingRootKey: lo = -1, hi = 127; break;   // -1: the header's
    default: break;
  }
  return {oper, static_cast<uint16_t>(std::clamp(amount, lo, hi))};
}

std::string UniqueNames::take(const std::string& wanted) {
  const std::string whole = wanted.substr(0, kNameBytes - 1);
  if (taken_.insert(whole).second) return whole;
  // Suffixes of d digits leave 18 - d characters of the wanted name.
  uint64_t lowest = 2, limit = 10;
  for (size_t digits = 1; digits < kNameBytes - 1; ++digits, lowest = limit, limit *= 10) {
    const std::string base = wanted.substr(0, kNameBytes - 2 - digits);
    uint64_t& next = nextSuffix_[base];
    for (next = std::max(next, lowest); next < limit; ++next) {
      std::string name = base;  // appended: GCC 12 misjudges "~" + string as overlapping
      name += '~';
      name += std::to_string(next);
      if (taken_.insert(name).second) {
        ++next;
        return name;
      }
    }
  }
  return whole;  // past 10^17 names alike: never reached
}

std::string unwritable(const Contents& c) {
  uint64_t zones = 0, gens = 0;
  for (const Instrument& i : c.instruments) {
    zones += i.zones.size();
    for (const Zone& z : i.zones) gens += z.gens.size();
  }
  // Each kind's count is also its terminal record's index.
  const std::pair<const char*, uint64_t> counts[] = {
      {"presets", c.presets.size()},
      {"instruments", c.instruments.size()},
      {"instrument zones", zones},
      {"instrument generators", gens},
      {"instrument modulators", zones * kModulatorsPerZone},
      {"sample headers", c.samples.size()},
  };
  for (const auto& [what, count] : counts) {
    if (count > UINT16_MAX) {
      return "it would hold " + std::to_string(count) + " " + what +
             ", and a SoundFont 2 file holds at most 65535";
    }
  }
  const uint64_t riff = 4 + (8 + infoList(c).size()) + (8 + 4 + 8 + c.points * 2) +
                        (8 + pdtaList(c).size());
  if (riff > UINT32_MAX) {  // the RIFF size field
    return "it would take " + std::to_string(riff + 8) +
           " bytes, and a SoundFont 2 file, one RIFF file, takes at most 4 GiB";
  }
  return std::string();
}

void write(const Contents& c, ByteSink& sink, const std::function<void(ByteSink&)>& writePoints) {
  const Bytes info = infoList(c);
  const Bytes pdta = pdtaList(c);
  const uint64_t smplBytes = c.points * 2;
  // RIFF size: "sfbk", the INFO list, the sdta list with its smpl chunk, the pdta list.
  const uint64_t riff = 4 + (8 + info.size()) + (8 + 4 + 8 + smplBytes) + (8 + pdta.size());
  Bytes head;
  head.fourcc("RIFF");
  head.u32(static_cast<uint32_t>(riff));
  head.fourcc("sfbk");
  head.fourcc("LIST");
  head.u32(static_cast<uint32_t>(info.size()));
  head.append(info);
  head.fourcc("LIST");
  head.u32(static_cast<uint32_t>(4 + 8 + smplBytes));
  head.fourcc("sdta");
  head.fourcc("smpl");
  head.u32(static_cast<uint32_t>(smplBytes));
  sink.write(head.data().data(), head.size());

  writePoints(sink);
  Bytes tail;
  tail.fourcc("LIST");
  tail.u32(static_cast<uint32_t>(pdta.size()));
  tail.append(pdta);
  sink.write(tail.data().data(), tail.size());
}


}  // namespace zaft::sf2
