#include "export/sf2_export.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "audio/pitch.h"
#include "audio/samples.h"
#include "bank/walk.h"
#include "util/endian.h"
#include "util/fatal.h"

namespace zaft {

namespace {

// Generator operators.
enum Gen : uint16_t {
  kPan = 17,
  kAttackVolEnv = 34,
  kDecayVolEnv = 36,
  kSustainVolEnv = 37,
  kReleaseVolEnv = 38,
  kInstrument = 41,
  kKeyRange = 43,
  kVelRange = 44,
  kInitialAttenuation = 48,
  kCoarseTune = 51,
  kFineTune = 52,
  kSampleId = 53,
  kSampleModes = 54,
  kOverridingRootKey = 58,
  kInitialPitch = 59,  // a modulator destination only
};

// Modulator sources: type << 10 | bipolar << 9 | negative << 8 | index.
constexpr uint16_t kVelocityNegativeConcave = 1 << 10 | 1 << 8 | 2;
constexpr uint16_t kPitchWheelBipolar = 1 << 9 | 14;
constexpr uint16_t kPitchWheelSensitivity = 16;
// Velocity through the default curve (negative concave, 960 cB) gives an
// amplitude of (v / 127)^2; half of it gives v / 127, as on the console.
constexpr int16_t kLinearVelocityCb = 480;

constexpr int kTrailingZeros = 46;  // sample points after each sample
constexpr size_t kNameBytes = 20;   // 19 characters and a terminating zero
constexpr int kDrumBank = 128;
constexpr int kMaxProgram = 127;
constexpr int32_t kMinTimecents = -12000;
constexpr int32_t kMaxTimecents = 8000;
constexpr int32_t kMaxCentibels = 1440;
constexpr size_t kMaxComment = 65535;

int32_t timecents(int32_t microseconds) {
  if (microseconds <= 0) return kMinTimecents;
  const double tc = std::round(1200.0 * std::log2(microseconds / 1e6));
  return static_cast<int32_t>(std::clamp<double>(tc, kMinTimecents, kMaxTimecents));
}

// 200 log10(from / to) centibels, 0 to 1440: how far `to` lies below `from`.
int32_t centibelsBelow(int from, int to) {
  if (to >= from) return 0;
  if (to <= 0) return kMaxCentibels;
  const double cb = std::round(200.0 * std::log10(static_cast<double>(from) / to));
  return static_cast<int32_t>(std::min<double>(cb, kMaxCentibels));
}

struct Pcm {
  int32_t wave;  // wave table entry
  SampleLayout layout;
  uint32_t start = 0;  // in sample points from the smpl chunk's start
  uint32_t count = 0;  // whole samples
};

struct SampleHeader {
  std::string name;
  int pcm = 0;
  int32_t rate = 0;
  uint32_t loopStart = 0, loopEnd = 0;
  bool looped = false;
  SamplePitch pitch;
};

struct GenValue {
  uint16_t oper;
  uint16_t amount;
};

struct Zone {
  std::vector<GenValue> gens;  // keyRange first, sampleID last
  int16_t bendRange = 0;
};

struct Instrument {
  std::string name;
  std::vector<Zone> zones;
};

struct Preset {
  std::string name;
  uint16_t program = 0;
  uint16_t bank = 0;
  int instrument = 0;
  const ALInstrument* record = nullptr;
};

// Names of at most 19 characters, unique in their list: "Inst00", "Inst00~2".
class UniqueNames {
 public:
  std::string take(const std::string& wanted) {
    std::string name = wanted.substr(0, kNameBytes - 1);
    for (int n = 2; taken_.count(name) != 0; ++n) {
      const std::string suffix = "~" + std::to_string(n);
      name.assign(wanted, 0, std::min(wanted.size(), kNameBytes - 1 - suffix.size()));
      name.append(suffix);
    }
    taken_.insert(name);
    return name;
  }

 private:
  std::set<std::string> taken_;
};

std::string entryName(const StructEntry& entry) {
  return std::string(entry.name, strnlen(entry.name, sizeof entry.name));
}

// Little-endian records, appended.
class Bytes {
 public:
  void u8(uint8_t v) { bytes_.push_back(v); }
  void u16(uint16_t v) {
    uint8_t b[2];
    storeLE16(b, v);
    bytes_.insert(bytes_.end(), b, b + 2);
  }
  void u32(uint32_t v) {
    uint8_t b[4];
    storeLE32(b, v);
    bytes_.insert(bytes_.end(), b, b + 4);
  }
  void name(const std::string& text) {
    char field[kNameBytes] = {};
    std::memcpy(field, text.data(), std::min(text.size(), kNameBytes - 1));
    bytes_.insert(bytes_.end(), field, field + kNameBytes);
  }
  void fourcc(const char* id) { bytes_.insert(bytes_.end(), id, id + 4); }
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

class SoundFontBuilder {
 public:
  SoundFontBuilder(const RomImage& rom, const BankFile& bank, int64_t tblOffset,
                   const SoundFontOptions& options, Reporter& report)
      : rom_(rom), bank_(bank), tblOffset_(tblOffset), options_(options), report_(report) {
    for (const WaveRef& ref : bank.waves) firstRef_.emplace(ref.entry, &ref);
  }

  void build();
  bool write(ByteSink& sink);

 private:
  int instrumentFor(int32_t instEntry, int32_t rate);
  int sampleFor(int32_t waveEntry, int32_t rate);
  int pcmFor(int32_t waveEntry);
  void addZones(Instrument& out, const ALInstrument& inst, int32_t rate);
  Bytes infoList() const;
  Bytes pdtaList() const;

  const RomImage& rom_;
  const BankFile& bank_;
  const int64_t tblOffset_;
  const SoundFontOptions& options_;
  Reporter& report_;
  std::map<int32_t, const WaveRef*> firstRef_;

  std::vector<Preset> presets_;
  std::vector<Instrument> instruments_;
  std::map<std::pair<int32_t, int32_t>, int> instrumentOf_;
  std::vector<SampleHeader> samples_;
  std::map<std::pair<int32_t, int32_t>, int> sampleOf_;
  std::vector<Pcm> pcm_;
  std::map<int32_t, int> pcmOf_;
  uint64_t points_ = 0;  // sample points in the smpl chunk
  UniqueNames instrumentNames_, sampleNames_;
  int leftOut_ = 0;      // instruments past program 127 or bank 127
};

int SoundFontBuilder::pcmFor(int32_t waveEntry) {
  if (const auto found = pcmOf_.find(waveEntry); found != pcmOf_.end()) return found->second;
  int index = -1;
  const ALWaveTable* wave = bank_.table.recordAt<ALWaveTable>(waveEntry);
  // Only waves the walk finished, of a type whose samples can be read.
  if (wave != nullptr && firstRef_.count(waveEntry) != 0 && isKnownWaveType(wave->type)) {
    Pcm pcm;
    pcm.wave = waveEntry;
    pcm.layout = layoutSamples(rom_, tblOffset_, *wave, bank_.bookOf(*wave));
    pcm.count = static_cast<uint32_t>(std::min<int64_t>(pcm.layout.pcmBytes() / 2, UINT32_MAX));
    if (pcm.count > 0) {
      pcm.start = static_cast<uint32_t>(std::min<uint64_t>(points_, UINT32_MAX));
      points_ += uint64_t{pcm.count} + kTrailingZeros;
      index = static_cast<int>(pcm_.size());
      pcm_.push_back(pcm);
    }
  }
  pcmOf_.emplace(waveEntry, index);
  return index;
}

int SoundFontBuilder::sampleFor(int32_t waveEntry, int32_t rate) {
  const auto key = std::make_pair(waveEntry, rate);
  if (const auto found = sampleOf_.find(key); found != sampleOf_.end()) return found->second;
  int index = -1;
  const int pcm = pcmFor(waveEntry);
  if (pcm >= 0) {
    SampleHeader s;
    s.pcm = pcm;
    s.rate = rate;
    const WaveRef& first = *firstRef_.at(waveEntry);
    s.pitch = samplePitch(bank_.table.recordAt<ALKeyMap>(first.keyMap));
    std::string name = entryName(bank_.table[waveEntry]);
    if (rate != first.outputRate) name += "@" + std::to_string(rate);
    s.name = sampleNames_.take(name);
    // The loop the WAV files' smpl chunk has, clipped to the samples alike.
    LoopPoints loop;
    const int64_t count = pcm_[static_cast<size_t>(pcm)].count;
    if (bank_.loopOf(bank_.table[waveEntry].as<ALWaveTable>(), loop) && loop.count != 0 &&
        loop.start < loop.end) {
      const int64_t from = std::max<int64_t>(loop.start, 0);
      const int64_t to = std::min<int64_t>(loop.end, count);
      if (from < to) {
        s.looped = true;
        s.loopStart = static_cast<uint32_t>(from);
        s.loopEnd = static_cast<uint32_t>(to);
      }
    }
    index = static_cast<int>(samples_.size());
    samples_.push_back(s);
  }
  sampleOf_.emplace(key, index);
  return index;
}

int consoleSoundForIndices(const StructTable& table, const ALInstrument& inst, int key,
                           int velocity) {
  const int count =
      static_cast<int>(std::min<int64_t>(std::max<int16_t>(inst.soundCount, 0), inst.sounds.size()));
  int l = 1, r = count;
  while (r >= l) {
    const int i = (l + r) / 2;
    const ALSound* sound = table.recordAt<ALSound>(inst.sounds[static_cast<size_t>(i - 1)]);
    const ALKeyMap* k = sound != nullptr ? table.recordAt<ALKeyMap>(sound->keyMap) : nullptr;
    if (k == nullptr) {
      l = i + 1;
      continue;
    }
    if (k->keyMin <= key && key <= k->keyMax && k->velocityMin <= velocity &&
        velocity <= k->velocityMax) {
      return i - 1;
    }
    if (key < k->keyMin || (velocity < k->velocityMin && key <= k->keyMax)) {
      r = i - 1;
    } else {
      l = i + 1;
    }
  }
  return -1;
}

// Each sound's zones: the rectangles of (key, velocity) pairs the console
// picks it for, keys merged while their velocity runs stay the same.
void SoundFontBuilder::addZones(Instrument& out, const ALInstrument& inst, int32_t rate) {
  int pick[128][128];
  for (int key = 0; key < 128; ++key) {
    for (int vel = 0; vel < 128; ++vel) pick[key][vel] = consoleSoundForIndices(bank_.table, inst, key, vel);
  }
  const int count = static_cast<int>(inst.sounds.size());
  for (int s = 0; s < count; ++s) {
    const ALSound* sound = bank_.table.recordAt<ALSound>(inst.sounds[static_cast<size_t>(s)]);
    if (sound == nullptr) continue;
    struct Rect {
      int keyLo, keyHi, velLo, velHi;
    };
    std::vector<Rect> done;
    std::map<std::pair<int, int>, int> open;  // velocity run -> first key
    for (int key = 0; key <= 128; ++key) {
      std::set<std::pair<int, int>> runs;
      for (int vel = 0; key < 128 && vel < 128;) {
        if (pick[key][vel] != s) {
          ++vel;
          continue;
        }
        const int from = vel;
        while (vel < 128 && pick[key][vel] == s) ++vel;
        runs.insert({from, vel - 1});
      }
      for (auto it = open.begin(); it != open.end();) {
        if (runs.count(it->first) == 0) {
          done.push_back({it->second, key - 1, it->first.first, it->first.second});
          it = open.erase(it);
        } else {
          ++it;
        }
      }
      for (const auto& run : runs) open.emplace(run, key);
    }
    if (done.empty()) continue;
    const int sample = sampleFor(sound->wavetable, rate);
    if (sample < 0) continue;  // no samples to play: the notes stay silent
    std::sort(done.begin(), done.end(), [](const Rect& a, const Rect& b) {
      return std::tie(a.keyLo, a.velLo) < std::tie(b.keyLo, b.velLo);
    });
    const SamplePitch pitch = samplePitch(bank_.table.recordAt<ALKeyMap>(sound->keyMap));
    int32_t attenuation = centibelsBelow(127, sound->sampleVolume);
    int32_t attack = kMinTimecents, decay = kMinTimecents, sustain = 0, release = kMinTimecents;
    if (const ALEnvelope* env = bank_.table.recordAt<ALEnvelope>(sound->envelope)) {
      const int peak = std::max(env->attackVolume, env->decayVolume);
      attenuation = std::min(kMaxCentibels, attenuation + centibelsBelow(127, peak));
      attack = timecents(env->attackTime);
      decay = timecents(env->secondTime);
      // Relative to the peak; a decayVolume of 0 is silence. A decay time
      // of 0 or less reaches it at once.
      sustain = centibelsBelow(peak, env->decayVolume);
      release = timecents(env->releaseTime);
    }
    const int32_t pan = (static_cast<int32_t>(sound->samplePan) - 64) * 500 / 64;
    const SampleHeader& header = samples_[static_cast<size_t>(sample)];
    for (const Rect& r : done) {
      Zone zone;
      zone.bendRange = inst.bendRange;
      const auto range = [](int lo, int hi) {
        return static_cast<uint16_t>(lo | hi << 8);
      };
      const auto add = [&](uint16_t oper, int32_t amount) {
        zone.gens.push_back({oper, static_cast<uint16_t>(static_cast<int16_t>(amount))});
      };
      zone.gens.push_back({kKeyRange, range(r.keyLo, r.keyHi)});
      zone.gens.push_back({kVelRange, range(r.velLo, r.velHi)});
      add(kInitialAttenuation, attenuation);
      add(kPan, pan);
      add(kAttackVolEnv, attack);
      add(kDecayVolEnv, decay);
      add(kSustainVolEnv, sustain);
      add(kReleaseVolEnv, release);
      if (pitch.coarseTune() != 0) add(kCoarseTune, pitch.coarseTune());
      add(kFineTune, pitch.fineTune());
      if (header.looped) add(kSampleModes, 1);  // loop continuously
      add(kOverridingRootKey, pitch.rootKey());
      add(kSampleId, sample);
      out.zones.push_back(zone);
    }
  }
}

int SoundFontBuilder::instrumentFor(int32_t instEntry, int32_t rate) {
  const auto key = std::make_pair(instEntry, rate);
  if (const auto found = instrumentOf_.find(key); found != instrumentOf_.end()) return found->second;
  Instrument out;
  out.name = instrumentNames_.take(entryName(bank_.table[instEntry]));
  addZones(out, bank_.table[instEntry].as<ALInstrument>(), rate);
  int index = -1;
  if (!out.zones.empty()) {
    index = static_cast<int>(instruments_.size());
    instruments_.push_back(std::move(out));
  }
  instrumentOf_.emplace(key, index);
  return index;
}

void SoundFontBuilder::build() {
  const ALBankFile* file = bank_.table.recordAt<ALBankFile>(1);
  if (file == nullptr) return;
  const auto addPreset = [&](int32_t instEntry, int presetBank, int program, int32_t rate) {
    const ALInstrument* inst = bank_.table.recordAt<ALInstrument>(instEntry);
    if (inst == nullptr) return;
    if (program > kMaxProgram || presetBank > kDrumBank) {
      ++leftOut_;
      return;
    }
    const int instrument = instrumentFor(instEntry, rate);
    if (instrument < 0) return;  // every note silent
    Preset p;
    p.name = entryName(bank_.table[instEntry]);
    p.bank = static_cast<uint16_t>(presetBank);
    p.program = static_cast<uint16_t>(program);
    p.instrument = instrument;
    p.record = inst;
    presets_.push_back(p);
  };
  for (size_t b = 0; b < file->banks.size(); ++b) {
    const ALBank* bank = bank_.table.recordAt<ALBank>(file->banks[b]);
    if (bank == nullptr) continue;
    const int32_t rate = outputRateFor(bank->sampleRate, options_.rateRatio);
    if (rate <= 0) continue;  // the WAV export has said so
    const int number = static_cast<int>(b);
    if (number >= kDrumBank) {
      ++leftOut_;
      continue;
    }
    addPreset(bank->percussion, kDrumBank, number, rate);
    for (size_t i = 0; i < bank->insts.size(); ++i) {
      addPreset(bank->insts[i], number, static_cast<int>(i), rate);
    }
  }
  std::stable_sort(presets_.begin(), presets_.end(), [](const Preset& a, const Preset& b) {
    return std::tie(a.bank, a.program) < std::tie(b.bank, b.program);
  });
  // The header's names, made unique in preset order: the first of a name
  // keeps it.
  UniqueNames presetNames;
  for (Preset& p : presets_) p.name = presetNames.take(p.name);
}

Bytes SoundFontBuilder::infoList() const {
  Bytes info;
  info.fourcc("INFO");
  Bytes version;
  version.u16(2);
  version.u16(1);
  info.chunk("ifil", version);
  info.chunk("isng", textBody("EMU8000"));
  info.chunk("INAM", textBody(options_.title.substr(0, 255)));
  info.chunk("ISFT", textBody(std::string("ZAFT ") + ZAFT_VERSION));
  std::string comment =
      "Preset bank b, program i: instrument i of bank b; bank 128, program b: bank b's "
      "percussion instrument. The console sets each instrument's volume and pan as the "
      "channel's on a program change:\n";
  for (const Preset& p : presets_) {
    const ALInstrument& r = *p.record;
    const std::string line = formatText(
        "%03u:%03u %s: volume %u, pan %u, priority %u, bend range %d cents, tremolo %u/%u/%u/%u, "
        "vibrato %u/%u/%u/%u\n",
        p.bank, p.program, p.name.c_str(), r.volume, r.pan, r.priority, r.bendRange, r.tremType,
        r.tremRate, r.tremDepth, r.tremDelay, r.vibType, r.vibRate, r.vibDepth, r.vibDelay);
    if (comment.size() + line.size() >= kMaxComment) break;
    comment += line;
  }
  info.chunk("ICMT", textBody(comment));
  return info;
}

Bytes SoundFontBuilder::pdtaList() const {
  Bytes phdr, pbag, pmod, pgen, inst, ibag, imod, igen, shdr;
  uint16_t bags = 0, gens = 0;
  for (const Preset& p : presets_) {
    phdr.name(p.name);
    phdr.u16(p.program);
    phdr.u16(p.bank);
    phdr.u16(bags);
    phdr.u32(0);
    phdr.u32(0);
    phdr.u32(0);
    pbag.u16(gens);
    pbag.u16(0);
    ++bags;
    pgen.u16(kInstrument);
    pgen.u16(static_cast<uint16_t>(p.instrument));
    ++gens;
  }
  phdr.name("EOP");
  phdr.u16(0);
  phdr.u16(0);
  phdr.u16(bags);
  phdr.u32(0);
  phdr.u32(0);
  phdr.u32(0);
  pbag.u16(gens);
  pbag.u16(0);
  for (int k = 0; k < 10; ++k) pmod.u8(0);
  pgen.u32(0);

  uint32_t ibags = 0, igens = 0, imods = 0;
  for (const Instrument& i : instruments_) {
    inst.name(i.name);
    inst.u16(static_cast<uint16_t>(ibags));
    for (const Zone& z : i.zones) {
      ibag.u16(static_cast<uint16_t>(igens));
      ibag.u16(static_cast<uint16_t>(imods));
      ++ibags;
      for (const GenValue& g : z.gens) {
        igen.u16(g.oper);
        igen.u16(g.amount);
        ++igens;
      }
      // Velocity as linear amplitude, in place of the default curve; the
      // default pitch wheel (its range set by the sequence) off, and the
      // instrument's own bend range in cents instead.
      const uint16_t mods[3][5] = {
          {kVelocityNegativeConcave, kInitialAttenuation, static_cast<uint16_t>(kLinearVelocityCb), 0, 0},
          {kPitchWheelBipolar, kInitialPitch, 0, kPitchWheelSensitivity, 0},
          {kPitchWheelBipolar, kInitialPitch, static_cast<uint16_t>(z.bendRange), 0, 0}};
      for (const auto& m : mods) {
        for (uint16_t v : m) imod.u16(v);
        ++imods;
      }
    }
  }
  inst.name("EOI");
  inst.u16(static_cast<uint16_t>(ibags));
  ibag.u16(static_cast<uint16_t>(igens));
  ibag.u16(static_cast<uint16_t>(imods));
  for (int k = 0; k < 10; ++k) imod.u8(0);
  igen.u32(0);

  for (const SampleHeader& s : samples_) {
    const Pcm& pcm = pcm_[static_cast<size_t>(s.pcm)];
    shdr.name(s.name);
    shdr.u32(pcm.start);
    shdr.u32(pcm.start + pcm.count);
    shdr.u32(pcm.start + (s.looped ? s.loopStart : 0));
    shdr.u32(pcm.start + (s.looped ? s.loopEnd : pcm.count));
    shdr.u32(static_cast<uint32_t>(s.rate));
    // The root key of the first sound that reached the wave; every zone
    // sets its own root key and tuning, which a synthesizer adds to the
    // header's correction, so that stays 0.
    shdr.u8(static_cast<uint8_t>(s.pitch.rootKey()));
    shdr.u8(0);
    shdr.u16(0);
    shdr.u16(1);  // mono
  }
  shdr.name("EOS");
  for (int k = 0; k < 26; ++k) shdr.u8(0);

  Bytes pdta;
  pdta.fourcc("pdta");
  pdta.chunk("phdr", phdr);
  pdta.chunk("pbag", pbag);
  pdta.chunk("pmod", pmod);
  pdta.chunk("pgen", pgen);
  pdta.chunk("inst", inst);
  pdta.chunk("ibag", ibag);
  pdta.chunk("imod", imod);
  pdta.chunk("igen", igen);
  pdta.chunk("shdr", shdr);
  return pdta;
}

bool SoundFontBuilder::write(ByteSink& sink) {
  if (leftOut_ > 0) {
    report_.errf("Warning: %d instruments past program 127 or bank 127 have no preset in the "
                 "soundfont\n",
                 leftOut_);
  }
  const Bytes info = infoList();
  const Bytes pdta = pdtaList();
  const uint64_t smplBytes = points_ * 2;
  // RIFF size: "sfbk", the INFO list, the sdta list with its smpl chunk, the pdta list.
  const uint64_t riff = 4 + (8 + info.size()) + (8 + 4 + 8 + smplBytes) + (8 + pdta.size());
  if (riff > UINT32_MAX || presets_.size() > UINT16_MAX || samples_.size() > UINT16_MAX ||
      instruments_.size() > UINT16_MAX) {
    report_.err("The soundfont would not fit one RIFF file (4 GiB, 65535 records of a kind); it "
                "is not written\n");
    return false;
  }
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

  for (const Pcm& pcm : pcm_) {
    SampleDecoder decoder(rom_, pcm.layout);
    for (uint64_t left = uint64_t{pcm.count} * 2; left > 0;) {
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, ByteSink::kMaxExtend));
      decoder.read(sink.extend(piece), piece);
      left -= piece;
    }
    std::memset(sink.extend(kTrailingZeros * 2), 0, kTrailingZeros * 2);
  }
  Bytes tail;
  tail.fourcc("LIST");
  tail.u32(static_cast<uint32_t>(pdta.size()));
  tail.append(pdta);
  sink.write(tail.data().data(), tail.size());
  return true;
}

}  // namespace

int consoleSoundFor(const StructTable& table, const ALInstrument& inst, int key, int velocity) {
  return consoleSoundForIndices(table, inst, key, velocity);
}

bool writeSoundFont(const RomImage& rom, const BankFile& bank, int64_t tblOffset,
                    const SoundFontOptions& options, ByteSink& sink, Reporter& report) {
  SoundFontBuilder builder(rom, bank, tblOffset, options, report);
  builder.build();
  return builder.write(sink);
}

}  // namespace zaft
