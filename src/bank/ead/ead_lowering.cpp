#include "bank/ead/ead_lowering.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string>

#include "util/fatal.h"

namespace zaft {

namespace {

constexpr int kDrumBank = 128;
constexpr int kMaxProgram = 127;
constexpr int kKeys = 128;
constexpr int32_t kUnisonCents = 6000;
constexpr int32_t kFullLevel = 32767;
constexpr int32_t kMaxModelLevel = 127;
constexpr int32_t kMaxPan = 127;

bool playable(float t) { return std::isfinite(t) && t >= kEadMinTuning && t <= kEadMaxTuning; }

int32_t rateOf(float tuning) { return static_cast<int32_t>(std::lround(tuning * double{kEadOutputRate})); }

// Cents to add to a zone's root so that a sample whose header says `rate`
// plays at tuning x 32000 Hz.
int32_t centsFrom(int32_t rate, float tuning) {
  return static_cast<int32_t>(
      std::lround(1200.0 * std::log2(static_cast<double>(rate) / (tuning * double{kEadOutputRate}))));
}

int32_t clampInt32(uint32_t v) {
  return static_cast<int32_t>(std::min<uint32_t>(v, std::numeric_limits<int32_t>::max()));
}

Envelope envelopeOf(const EadSoundData& d, int32_t index, uint8_t releaseRate) {
  Envelope out;
  out.releaseTime = eadReleaseMicros(releaseRate);
  if (index >= 0) {
    for (const EadEnvelopePoint& p : d.envelopes[static_cast<size_t>(index)].points) {
      if (p.delay == kEadEnvelopeStop) {
        out.points.push_back({0, 0});
        break;
      }
      if (p.delay >= kEadEnvelopeRestart) break;
      out.points.push_back({eadDelayMicros(p.delay), eadEnvelopeLevel(p.arg)});
    }
  }
  // An envelope that holds before its first ramp holds the level a note
  // starts at: silence.
  if (out.points.empty()) out.points.push_back({0, 0});
  return out;
}

class Lowering {
 public:
  Lowering(const EadSoundData& d, InstrumentSet& set)
      : d_(d), set_(set), modelSample_(d.samples.size(), -1) {}

  void run() {
    for (const EadBank& bank : d_.banks) {
      const bool bankFits = bank.index <= kMaxProgram;
      for (size_t slot = 0; slot < bank.instruments.size(); ++slot) {
        const int32_t inst = bank.instruments[slot];
        if (inst < 0) continue;
        const int32_t model = instrumentFor(inst, bank.index, static_cast<int>(slot));
        if (!bankFits || slot > static_cast<size_t>(kMaxProgram)) {
          ++set_.leftOut;
          continue;
        }
        set_.presets.push_back({bank.index, static_cast<int32_t>(slot), model});
      }
      drumKit(bank, bankFits);
    }
  }

 private:
  // The model sample a sound reaches, made on its first reach; -1 when the
  // sound plays nothing.
  int32_t reach(const EadSound& s, int32_t bank, const std::string& stem) {
    if (s.record < 0 || !playable(s.tuning)) return -1;
    const int32_t sample = d_.records[static_cast<size_t>(s.record)].sample;
    if (sample < 0) return -1;
    int32_t& model = modelSample_[static_cast<size_t>(sample)];
    if (model >= 0) return model;
    const EadSample& e = d_.samples[static_cast<size_t>(sample)];
    const int64_t base = int64_t{d_.sampleBanks[static_cast<size_t>(e.sampleBank)].offset} + e.offset;
    if (base > std::numeric_limits<int32_t>::max()) return -1;
    Sample m;
    m.record = e.record;
    m.name = stem;
    m.fileName = stem + ".WAV";
    m.codec = SampleCodec::Vadpcm;
    m.base = static_cast<int32_t>(base);
    m.len = clampInt32(e.size);
    m.bookRecord = e.book;
    if (e.book >= 0) {
      const EadBook& book = d_.books[static_cast<size_t>(e.book)];
      if (!book.coefficients.empty()) {
        m.hasBook = true;
        m.book = {book.coefficients.data(), book.predictors};
      }
    }
    if (e.loop >= 0) {
      const EadLoop& l = d_.loops[static_cast<size_t>(e.loop)];
      if (l.count != 0) m.loop = SampleLoop{clampInt32(l.start), clampInt32(l.end), l.count};
    }
    m.bank = bank;
    m.rate = rateOf(s.tuning);
    m.pitchCents = kUnisonCents;
    model = static_cast<int32_t>(set_.samples.size());
    set_.samples.push_back(std::move(m));
    return model;
  }

  int32_t instrumentFor(int32_t index, int32_t bank, int slot) {
    if (const auto found = instrumentOf_.find(index); found != instrumentOf_.end()) {
      return found->second;
    }
    const EadInstrument& r = d_.instruments[static_cast<size_t>(index)];
    Instrument inst;
    inst.record = index;
    inst.name = formatText("B%02dI%03d", bank, slot);
    static const char kSoundLetters[3] = {'L', 'N', 'H'};
    int32_t samples[3];
    for (int s = 0; s < 3; ++s) {
      samples[s] = reach(r.sounds[s], bank, inst.name + kSoundLetters[s]);
    }
    inst.rate = kEadOutputRate;
    for (const int s : {1, 0, 2}) {
      if (samples[s] >= 0) {
        inst.rate = set_.samples[static_cast<size_t>(samples[s])].rate;
        break;
      }
    }
    const Envelope envelope = envelopeOf(d_, r.envelope, r.releaseRate);
    // The sound each key plays, as runs of keys.
    const auto soundFor = [&](int key) {
      const int semitone = key - kEadKeyOffset;
      return semitone < r.rangeLow ? 0 : semitone <= r.rangeHigh ? 1 : 2;
    };
    for (int key = 0; key < kKeys;) {
      const int s = soundFor(key);
      const int from = key;
      while (++key < kKeys && soundFor(key) == s) {
      }
      if (samples[s] < 0) continue;
      Zone zone;
      zone.keyMin = static_cast<uint8_t>(from);
      zone.keyMax = static_cast<uint8_t>(key - 1);
      zone.sample = samples[s];
      zone.pitchCents = kUnisonCents + centsFrom(inst.rate, r.sounds[s].tuning);
      zone.envelope = envelope;
      inst.zones.push_back(zone);
    }
    const int32_t model = static_cast<int32_t>(set_.instruments.size());
    set_.instruments.push_back(std::move(inst));
    instrumentOf_.emplace(index, model);
    return model;
  }

  void drumKit(const EadBank& bank, bool bankFits) {
    if (bank.drums.empty()) return;
    Instrument kit;
    kit.record = bank.index;
    kit.name = formatText("B%02dDrums", bank.index);
    kit.rate = 0;
    for (size_t n = 0; n < bank.drums.size(); ++n) {
      if (bank.drums[n] < 0) continue;
      const EadDrum& drum = d_.drums[static_cast<size_t>(bank.drums[n])];
      const int key = static_cast<int>(n) + kEadKeyOffset;
      const int32_t sample = reach(drum.sound, bank.index, formatText("B%02dD%03d", bank.index, static_cast<int>(n)));
      if (sample < 0) continue;
      if (key >= kKeys) {
        ++set_.leftOut;
        continue;
      }
      if (kit.rate == 0) kit.rate = set_.samples[static_cast<size_t>(sample)].rate;
      Zone zone;
      zone.keyMin = zone.keyMax = static_cast<uint8_t>(key);
      zone.sample = sample;
      // Key k plays rate x 2^((100k - pitch) / 1200): the drum's own rate on its key.
      zone.pitchCents = 100 * key + centsFrom(kit.rate, drum.sound.tuning);
      zone.envelope = envelopeOf(d_, drum.envelope, drum.releaseRate);
      zone.pan = std::min<int32_t>(drum.pan, kMaxPan);
      kit.zones.push_back(zone);
    }
    if (kit.rate == 0) kit.rate = kEadOutputRate;
    if (!bankFits) {
      ++set_.leftOut;
      return;
    }
    const int32_t model = static_cast<int32_t>(set_.instruments.size());
    set_.instruments.push_back(std::move(kit));
    set_.presets.push_back({kDrumBank, bank.index, model});
  }

  const EadSoundData& d_;
  InstrumentSet& set_;
  std::vector<int32_t> modelSample_;        // by distinct sample
  std::map<int32_t, int32_t> instrumentOf_;  // by instrument record
};

}  // namespace

int32_t eadDelayMicros(uint16_t delay) {
  return static_cast<int32_t>(std::lround(delay * 1e6 / kEadUpdatesPerSecond));
}

int32_t eadEnvelopeLevel(uint16_t arg) {
  const double level = std::max<int16_t>(static_cast<int16_t>(arg), 0) / double{kFullLevel};
  return static_cast<int32_t>(std::lround(kMaxModelLevel * level * level));
}

int32_t eadReleaseMicros(uint8_t releaseRate) {
  const int32_t rate = releaseRate == 0 ? kEadDefaultReleaseRate : releaseRate;
  const double updates = double{kFullLevel} / (rate * kEadReleaseStep);
  return static_cast<int32_t>(std::lround(updates * 1e6 / kEadUpdatesPerSecond));
}

InstrumentSet instrumentSetOf(const EadSoundData& sounds) {
  InstrumentSet set;
  Lowering(sounds, set).run();
  return set;
}

}  // namespace zaft
