#include "bank/libultra/bank_lowering.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "bank/libultra/walk.h"
#include "util/fatal.h"

namespace zaft {

namespace {

constexpr int kDrumBank = 128;
constexpr int kMaxProgram = 127;
constexpr int kKeys = 128;
constexpr int kVelocities = 128;

Sample sampleOf(const BankFile& bank, const WaveRef& ref) {
  const ALWaveTable& wave = bank.wave(ref);
  Sample s;
  s.record = ref.entry;
  s.name = bank.table[ref.entry].name;
  s.fileName = waveFileName(wave.type, ref.at);
  s.codec = wave.type == kWaveTypeAdpcm ? SampleCodec::Vadpcm
            : wave.type == kWaveTypeRaw ? SampleCodec::Raw16
                                        : SampleCodec::None;
  s.base = wave.base;
  s.len = wave.len;
  if (wave.type == kWaveTypeAdpcm) s.bookRecord = wave.waveInfo.adpcmWave.book;
  if (const ALADPCMBook* book = bank.bookOf(wave)) {
    s.hasBook = true;
    if (!book->predictors.empty()) s.book = {book->predictors.data(), book->storedPredictors()};
  }
  const int32_t loop = wave.waveInfo.rawWave.loop;
  if (const ALADPCMloop* a = bank.table.recordAt<ALADPCMloop>(loop)) {
    s.loop = SampleLoop{a->start, a->end, a->count};
  } else if (const ALRawLoop* r = bank.table.recordAt<ALRawLoop>(loop)) {
    s.loop = SampleLoop{r->start, r->end, r->count};
  }
  s.bank = ref.at.bank;
  s.rate = ref.outputRate;
  s.pitchCents = pitchCentsOf(bank.table.recordAt<ALKeyMap>(ref.keyMap));
  return s;
}

// Builds the instruments and presets in the order the bank file lists them.
class Lowering {
 public:
  Lowering(const BankFile& bank, double rateRatio, InstrumentSet& set)
      : bank_(bank), rateRatio_(rateRatio), set_(set) {
    for (size_t k = 0; k < set.samples.size(); ++k) {
      sampleOf_.emplace(set.samples[k].record, static_cast<int32_t>(k));
    }
  }

  void presets() {
    const ALBankFile* file = bank_.table.recordAt<ALBankFile>(1);
    if (file == nullptr) return;
    for (size_t b = 0; b < file->banks.size(); ++b) {
      const ALBank* bank = bank_.table.recordAt<ALBank>(file->banks[b]);
      if (bank == nullptr) continue;
      const int32_t rate = outputRateFor(bank->sampleRate, rateRatio_);
      if (rate <= 0) continue;  // no samples play (the WAV files say so)
      const int number = static_cast<int>(b);
      if (number >= kDrumBank) {
        ++set_.leftOut;
        continue;
      }
      addPreset(bank->percussion, kDrumBank, number, rate);
      for (size_t i = 0; i < bank->insts.size(); ++i) {
        addPreset(bank->insts[i], number, static_cast<int>(i), rate);
      }
    }
  }

 private:
  void addPreset(int32_t record, int presetBank, int program, int32_t rate) {
    if (bank_.table.recordAt<ALInstrument>(record) == nullptr) return;
    if (program > kMaxProgram || presetBank > kDrumBank) {
      ++set_.leftOut;
      return;
    }
    set_.presets.push_back({presetBank, program, instrumentFor(record, rate)});
  }

  int32_t instrumentFor(int32_t record, int32_t rate) {
    const auto key = std::make_pair(record, rate);
    if (const auto found = instrumentOf_.find(key); found != instrumentOf_.end()) {
      return found->second;
    }
    const ALInstrument& r = bank_.table[record].as<ALInstrument>();
    Instrument inst;
    inst.record = record;
    inst.name = bank_.table[record].name;
    inst.rate = rate;
    inst.volume = r.volume;
    inst.pan = r.pan;
    inst.priority = r.priority;
    inst.bendRange = r.bendRange;
    const uint8_t trem[4] = {r.tremType, r.tremRate, r.tremDepth, r.tremDelay};
    const uint8_t vib[4] = {r.vibType, r.vibRate, r.vibDepth, r.vibDelay};
    std::copy(trem, trem + 4, inst.tremolo);
    std::copy(vib, vib + 4, inst.vibrato);
    addZones(inst, r);
    const int32_t index = static_cast<int32_t>(set_.instruments.size());
    set_.instruments.push_back(std::move(inst));
    instrumentOf_.emplace(key, index);
    return index;
  }

  void addZones(Instrument& out, const ALInstrument& inst) const;

  const BankFile& bank_;
  double rateRatio_;
  InstrumentSet& set_;
  std::map<int32_t, int32_t> sampleOf_;  // by wave table entry
  std::map<std::pair<int32_t, int32_t>, int32_t> instrumentOf_;
};

// The (key, velocity) rectangles the console picks each sound for, by sound
// index, each sound's sorted by key then velocity: keys merged while their
// velocity runs stay the same. One pass over the keys finds every sound's.
struct Rect {
  int keyLo, keyHi, velLo, velHi;
};
std::map<int, std::vector<Rect>> soundRectangles(const StructTable& table,
                                                 const ALInstrument& inst) {
  struct Run {
    int sound, velLo, velHi;
    bool operator<(const Run& o) const {
      return std::tie(sound, velLo, velHi) < std::tie(o.sound, o.velLo, o.velHi);
    }
  };
  std::map<int, std::vector<Rect>> rects;
  std::map<Run, int> open;  // velocity run -> first key
  for (int key = 0; key <= kKeys; ++key) {
    std::set<Run> runs;
    for (int vel = 0; key < kKeys && vel < kVelocities;) {
      const int sound = consoleSoundFor(table, inst, key, vel);
      const int from = vel;
      while (++vel < kVelocities && consoleSoundFor(table, inst, key, vel) == sound) {
      }
      if (sound >= 0) runs.insert({sound, from, vel - 1});
    }
    for (auto it = open.begin(); it != open.end();) {
      if (runs.count(it->first) == 0) {
        rects[it->first.sound].push_back({it->second, key - 1, it->first.velLo, it->first.velHi});
        it = open.erase(it);
      } else {
        ++it;
      }
    }
    for (const Run& run : runs) open.emplace(run, key);
  }
  for (auto& [sound, done] : rects) {
    std::sort(done.begin(), done.end(), [](const Rect& a, const Rect& b) {
      return std::tie(a.keyLo, a.velLo) < std::tie(b.keyLo, b.velLo);
    });
  }
  return rects;
}

void Lowering::addZones(Instrument& out, const ALInstrument& inst) const {
  for (const auto& [s, rects] : soundRectangles(bank_.table, inst)) {
    const ALSound* sound = bank_.table.recordAt<ALSound>(inst.sounds[static_cast<size_t>(s)]);
    if (sound == nullptr) continue;
    Zone zone;
    const auto found = sampleOf_.find(sound->wavetable);
    zone.sample = found == sampleOf_.end() ? -1 : found->second;
    zone.pitchCents = pitchCentsOf(bank_.table.recordAt<ALKeyMap>(sound->keyMap));
    if (const ALEnvelope* env = bank_.table.recordAt<ALEnvelope>(sound->envelope)) {
      // Attack to attackVolume, decay to decayVolume, held, released.
      zone.envelope = Envelope{
          {{env->attackTime, env->attackVolume}, {env->secondTime, env->decayVolume}},
          env->releaseTime};
    }
    // The console holds channel pan - 64 + samplePan to 0..127.
    zone.pan = std::min<int32_t>(sound->samplePan, 127);
    zone.volume = sound->sampleVolume;
    for (const Rect& r : rects) {
      zone.keyMin = static_cast<uint8_t>(r.keyLo);
      zone.keyMax = static_cast<uint8_t>(r.keyHi);
      zone.velocityMin = static_cast<uint8_t>(r.velLo);
      zone.velocityMax = static_cast<uint8_t>(r.velHi);
      out.zones.push_back(zone);
    }
  }
}

}  // namespace

std::string waveFileName(uint8_t type, const WalkIndices& at) {
  const char lead = type == kWaveTypeAdpcm ? 'A' : '@';
  return formatText("%c%01d%03d%02d.WAV", lead, at.bank, at.inst, at.sound);
}

int consoleSoundFor(const StructTable& table, const ALInstrument& inst, int key, int velocity) {
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

InstrumentSet instrumentSetOf(const BankFile& bank, double rateRatio) {
  InstrumentSet set;
  for (const WaveRef& ref : bank.waves) set.samples.push_back(sampleOf(bank, ref));
  Lowering(bank, rateRatio, set).presets();
  return set;
}

}  // namespace zaft
