#include "export/sf2_export.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "audio/pitch.h"
#include "audio/samples.h"
#include "export/sample_source.h"
#include "export/sf2_file.h"
#include "util/endian.h"
#include "util/fatal.h"

namespace zaft {

namespace {

using namespace sf2;

constexpr int32_t kMinTimecents = -12000;
constexpr int32_t kMaxTimecents = 8000;
constexpr int32_t kMaxCentibels = 1440;
constexpr size_t kMaxComment = 65535;
constexpr int32_t kCentrePan = 64;
// The points a loop needs before its start and after its end, a loop's
// least points, and a sample's: 8 + 32 + 8.
constexpr uint64_t kLoopRoom = 8;
constexpr uint64_t kMinLoopPoints = 32;
constexpr uint64_t kMinSamplePoints = 48;

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

// A wave's points as the smpl chunk holds them: its PCM as the WAV files
// hold it, or the PCM up to its loop's end followed by the loop's
// continuation where the loop needs room to keep the format's rules (see
// placeLoop), then zeros up to the 48 points a sample has at the least.
struct Pcm {
  int32_t sample;  // the model's
  SampleLayout layout;
  uint32_t start = 0;  // in sample points from the smpl chunk's start
  uint64_t kept = 0;   // points of the wave's PCM written
  uint64_t count = 0;  // points written
  bool looped = false;
  uint64_t loopStart = 0, loopEnd = 0;  // in the points written
  // The continuation: points kept + j, for j up to the last loop end + 8,
  // repeat the wave's points bodyStart + j % bodyLength.
  uint64_t bodyStart = 0, bodyLength = 0;
};

struct SampleAt {
  std::string name;
  int pcm = 0;
  int32_t rate = 0;
  SamplePitch pitch;
};

// A preset, and the instrument its comment line describes.
struct BankPreset {
  sf2::Preset preset;
  const zaft::Instrument* source = nullptr;
};

class SoundFontBuilder {
 public:
  SoundFontBuilder(const RomImage& rom, const InstrumentSet& set, int64_t tblOffset,
                   const SoundFontOptions& options, Reporter& report)
      : rom_(rom), set_(set), tblOffset_(tblOffset), options_(options), report_(report) {}

  void build();
  std::string write(ByteSink& sink);

 private:
  int instrumentFor(int32_t instrument);
  int sampleFor(int32_t sample, int32_t rate);
  int pcmFor(int32_t sample);
  void addZones(sf2::Instrument& out, const zaft::Instrument& inst);
  void writePoints(const Pcm& pcm, ByteSink& out) const;
  std::string comment() const;

  const RomImage& rom_;
  const InstrumentSet& set_;
  const int64_t tblOffset_;
  const SoundFontOptions& options_;
  Reporter& report_;

  std::vector<BankPreset> presets_;
  std::vector<sf2::Instrument> instruments_;
  std::map<int32_t, int> instrumentOf_;
  std::vector<SampleAt> samples_;
  std::map<std::pair<int32_t, int32_t>, int> sampleOf_;
  std::vector<Pcm> pcm_;
  std::map<int32_t, int> pcmOf_;
  uint64_t points_ = 0;  // sample points in the smpl chunk
  UniqueNames instrumentNames_, sampleNames_;
};

// A sample's points and loop as the format wants them: at least 48 points,
// and a loop of at least 32 points with at least 8 points before its start
// and after its end, which players rely on to interpolate across it. What
// is heard stays the same: playing the wave's `points` up to the loop's end
// and then the loop for ever is one sequence, periodic from the loop's
// start on, so a loop over any whole number of repetitions from any later
// point plays it alike. A loop without that room therefore starts at point
// 8 or later, spans as many repetitions as reach 32 points, and is followed
// by 8 points of its continuation; the wave's points past its loop's end,
// which a loop played for ever never reaches, are not kept then.
void placeLoop(Pcm& pcm, uint64_t points, uint64_t loopStart, uint64_t loopEnd) {
  pcm.looped = true;
  pcm.kept = pcm.count = points;
  pcm.loopStart = loopStart;
  pcm.loopEnd = loopEnd;
  const uint64_t length = loopEnd - loopStart;
  if (loopStart >= kLoopRoom && length >= kMinLoopPoints && loopEnd + kLoopRoom <= points) return;
  pcm.kept = loopEnd;
  pcm.bodyStart = loopStart;
  pcm.bodyLength = length;
  pcm.loopStart = std::max(loopStart, kLoopRoom);
  pcm.loopEnd = pcm.loopStart + (kMinLoopPoints + length - 1) / length * length;
  pcm.count = pcm.loopEnd + kLoopRoom;
}

int SoundFontBuilder::pcmFor(int32_t sample) {
  if (const auto found = pcmOf_.find(sample); found != pcmOf_.end()) return found->second;
  int index = -1;
  const zaft::Sample& wave = set_.samples[static_cast<size_t>(sample)];
  // Only samples that can be read.
  if (wave.codec != SampleCodec::None) {
    Pcm pcm;
    pcm.sample = sample;
    pcm.layout = layoutSamples(rom_, sampleSourceOf(wave, tblOffset_));
    const uint64_t points = static_cast<uint64_t>(std::max<int64_t>(pcm.layout.pcmBytes() / 2, 0));
    if (points > 0) {
      // The loop the WAV files' smpl chunk has, clipped to the samples alike.
      bool looped = false;
      if (const std::optional<SampleLoop>& loop = wave.loop;
          loop && loop->count != 0 && loop->start < loop->end) {
        const uint64_t from = static_cast<uint64_t>(std::max<int32_t>(loop->start, 0));
        const uint64_t to = std::min<uint64_t>(static_cast<uint64_t>(loop->end), points);
        looped = from < to;
        if (looped) placeLoop(pcm, points, from, to);
      }
      if (!looped) {
        // Zeros after a short sample; loop points that keep the rules,
        // though no zone plays them.
        pcm.kept = points;
        pcm.count = std::max(points, kMinSamplePoints);
        pcm.loopStart = kLoopRoom;
        pcm.loopEnd = pcm.count - kLoopRoom;
      }
      pcm.start = static_cast<uint32_t>(std::min<uint64_t>(points_, UINT32_MAX));
      points_ += pcm.count + kTrailingZeros;
      index = static_cast<int>(pcm_.size());
      pcm_.push_back(pcm);
    }
  }
  pcmOf_.emplace(sample, index);
  return index;
}

int SoundFontBuilder::sampleFor(int32_t sample, int32_t rate) {
  const auto key = std::make_pair(sample, rate);
  if (const auto found = sampleOf_.find(key); found != sampleOf_.end()) return found->second;
  int index = -1;
  const int pcm = pcmFor(sample);
  if (pcm >= 0) {
    const zaft::Sample& wave = set_.samples[static_cast<size_t>(sample)];
    SampleAt s;
    s.pcm = pcm;
    s.rate = rate;
    s.pitch = SamplePitch{wave.pitchCents};
    std::string name = wave.name;
    if (rate != wave.rate) name += formatText("@%d", rate);
    s.name = sampleNames_.take(name);
    index = static_cast<int>(samples_.size());
    samples_.push_back(s);
  }
  sampleOf_.emplace(key, index);
  return index;
}

// Each zone of the model as the format's zone: key and velocity ranges, the
// envelope, attenuation and pan, and the pitch as root key and tunings.
void SoundFontBuilder::addZones(sf2::Instrument& out, const zaft::Instrument& inst) {
  for (const zaft::Zone& z : inst.zones) {
    if (z.sample < 0) continue;
    const int sample = sampleFor(z.sample, inst.rate);
    if (sample < 0) continue;  // no samples to play: the notes stay silent
    const SamplePitch pitch{z.pitchCents};
    int32_t attenuation = centibelsBelow(127, z.volume);
    int32_t attack = kMinTimecents, decay = kMinTimecents, sustain = 0, release = kMinTimecents;
    if (const std::optional<Envelope>& env = z.envelope; env && !env->points.empty()) {
      // The format's envelope has an attack and a decay: the first point is
      // the attack's, the last the level held.
      const EnvelopePoint& top = env->points.front();
      const EnvelopePoint& held = env->points.back();
      const int peak = std::max(top.level, held.level);
      attenuation = std::min(kMaxCentibels, attenuation + centibelsBelow(127, peak));
      attack = timecents(top.time);
      decay = env->points.size() > 1 ? timecents(held.time) : kMinTimecents;
      // Relative to the peak; a held level of 0 is silence. A decay time of
      // 0 or less reaches it at once.
      sustain = centibelsBelow(peak, held.level);
      release = timecents(env->releaseTime);
    }
    // The zone plays at the centre, the instrument's own pan being the
    // channel's.
    const int32_t pan = (z.pan - kCentrePan) * 500 / kCentrePan;
    const SampleAt& header = samples_[static_cast<size_t>(sample)];
    sf2::Zone zone;
    zone.bendRange = inst.bendRange;
    const auto range = [](int lo, int hi) { return static_cast<uint16_t>(lo | hi << 8); };
    const auto add = [&](Gen oper, int32_t amount) {
      zone.gens.push_back(heldGenerator(oper, amount));
    };
    zone.gens.push_back({kKeyRange, range(z.keyMin, z.keyMax)});
    zone.gens.push_back({kVelRange, range(z.velocityMin, z.velocityMax)});
    add(kInitialAttenuation, attenuation);
    add(kPan, pan);
    add(kAttackVolEnv, attack);
    add(kDecayVolEnv, decay);
    add(kSustainVolEnv, sustain);
    add(kReleaseVolEnv, release);
    if (pitch.coarseTune() != 0) add(kCoarseTune, pitch.coarseTune());
    add(kFineTune, pitch.fineTune());
    if (pcm_[static_cast<size_t>(header.pcm)].looped) add(kSampleModes, 1);  // loop continuously
    add(kOverridingRootKey, pitch.rootKey());
    add(kSampleId, sample);
    out.zones.push_back(zone);
  }
}

int SoundFontBuilder::instrumentFor(int32_t instrument) {
  if (const auto found = instrumentOf_.find(instrument); found != instrumentOf_.end()) {
    return found->second;
  }
  const zaft::Instrument& inst = set_.instruments[static_cast<size_t>(instrument)];
  sf2::Instrument out;
  out.name = instrumentNames_.take(inst.name);
  // Without zones when every note is silent: its preset then plays
  // nothing, where a player would otherwise put another instrument.
  addZones(out, inst);
  const int index = static_cast<int>(instruments_.size());
  instruments_.push_back(std::move(out));
  instrumentOf_.emplace(instrument, index);
  return index;
}

void SoundFontBuilder::build() {
  for (const zaft::Preset& p : set_.presets) {
    BankPreset bp;
    bp.source = &set_.instruments[static_cast<size_t>(p.instrument)];
    bp.preset.name = bp.source->name;
    bp.preset.bank = static_cast<uint16_t>(p.bank);
    bp.preset.program = static_cast<uint16_t>(p.program);
    bp.preset.instrument = instrumentFor(p.instrument);
    presets_.push_back(bp);
  }
  std::stable_sort(presets_.begin(), presets_.end(), [](const BankPreset& a, const BankPreset& b) {
    return std::tie(a.preset.bank, a.preset.program) < std::tie(b.preset.bank, b.preset.program);
  });
  // The header's names, made unique in preset order: the first of a name
  // keeps it.
  UniqueNames presetNames;
  for (BankPreset& p : presets_) p.preset.name = presetNames.take(p.preset.name);
}

// The console's channel settings of each preset's instrument, which the
// zones do not carry.
std::string SoundFontBuilder::comment() const {
  std::string comment =
      "Preset bank b, program i: instrument i of bank b; bank 128, program b: bank b's "
      "percussion instrument. The console sets each instrument's volume and pan as the "
      "channel's on a program change:\n";
  for (const BankPreset& bp : presets_) {
    const sf2::Preset& p = bp.preset;
    const zaft::Instrument& r = *bp.source;
    const std::string line = formatText(
        "%03u:%03u %s: volume %u, pan %u, priority %u, bend range %d cents, tremolo %u/%u/%u/%u, "
        "vibrato %u/%u/%u/%u\n",
        p.bank, p.program, p.name.c_str(), r.volume, r.pan, r.priority, r.bendRange, r.tremolo[0],
        r.tremolo[1], r.tremolo[2], r.tremolo[3], r.vibrato[0], r.vibrato[1], r.vibrato[2],
        r.vibrato[3]);
    if (comment.size() + line.size() >= kMaxComment) break;
    comment += line;
  }
  return comment;
}

// The points of `pcm`, then the zeros that follow every sample.
void SoundFontBuilder::writePoints(const Pcm& pcm, ByteSink& out) const {
  constexpr size_t kPoint = 2;
  constexpr size_t kFrameOutput = 32;  // the decoder's least piece: a frame's 16 points
  SampleDecoder decoder(rom_, pcm.layout);
  // The loop's first points, as many as its continuation repeats.
  const uint64_t bodyFrom = pcm.bodyStart * kPoint;
  const uint64_t bodyTo = bodyFrom + std::min<uint64_t>(pcm.bodyLength, kMinSamplePoints) * kPoint;
  std::vector<uint8_t> body;
  for (uint64_t done = 0, bytes = pcm.kept * kPoint; done < bytes;) {
    const uint64_t left = bytes - done;
    uint8_t frame[kFrameOutput];
    const bool whole = left >= kFrameOutput;
    const size_t piece = whole ? static_cast<size_t>(std::min<uint64_t>(left, ByteSink::kMaxExtend) &
                                                     ~uint64_t{kFrameOutput - 1})
                               : static_cast<size_t>(left);
    uint8_t* at = whole ? out.extend(piece) : frame;
    const size_t room = whole ? piece : kFrameOutput;
    const size_t got = decoder.read(at, room);
    if (got < room) std::memset(at + got, 0, room - got);
    if (!whole) std::memcpy(out.extend(piece), frame, piece);
    const uint64_t from = std::max(done, bodyFrom), to = std::min(done + piece, bodyTo);
    if (from < to) body.insert(body.end(), at + (from - done), at + (to - done));
    done += piece;
  }
  const uint64_t repeated = pcm.bodyLength == 0 ? 0 : pcm.loopEnd + kLoopRoom - pcm.kept;
  for (uint64_t j = 0; j < repeated; ++j) {
    const size_t k = static_cast<size_t>(j % pcm.bodyLength) * kPoint;
    std::memcpy(out.extend(kPoint), body.data() + k, kPoint);
  }
  const size_t zeros = static_cast<size_t>(pcm.count - pcm.kept - repeated + kTrailingZeros) * kPoint;
  std::memset(out.extend(zeros), 0, zeros);
}

std::string SoundFontBuilder::write(ByteSink& sink) {
  if (set_.leftOut > 0) {
    report_.errf("Warning: %d instruments past program 127 or bank 127 have no preset in the "
                 "soundfont\n",
                 set_.leftOut);
  }
  Contents contents;
  contents.title = options_.title;
  contents.software = std::string("ZAFT ") + ZAFT_VERSION;
  contents.comment = comment();
  for (const BankPreset& p : presets_) contents.presets.push_back(p.preset);
  contents.instruments = instruments_;
  for (const SampleAt& s : samples_) {
    const Pcm& pcm = pcm_[static_cast<size_t>(s.pcm)];
    SampleHeader h;
    h.name = s.name;
    h.start = pcm.start;
    h.end = static_cast<uint32_t>(pcm.start + pcm.count);
    h.loopStart = static_cast<uint32_t>(pcm.start + pcm.loopStart);
    h.loopEnd = static_cast<uint32_t>(pcm.start + pcm.loopEnd);
    h.rate = s.rate;
    // The root key of the first sound that reached the wave.
    h.rootKey = static_cast<uint8_t>(s.pitch.rootKey());
    contents.samples.push_back(h);
  }
  contents.points = points_;
  if (std::string why = unwritable(contents); !why.empty()) return why;
  sf2::write(contents, sink, [&](ByteSink& out) {
    for (const Pcm& pcm : pcm_) writePoints(pcm, out);
  });
  return std::string();
}

}  // namespace

std::string writeSoundFont(const RomImage& rom, const InstrumentSet& set, int64_t tblOffset,
                           const SoundFontOptions& options, ByteSink& sink, Reporter& report) {
  SoundFontBuilder builder(rom, set, tblOffset, options, report);
  builder.build();
  return builder.write(sink);
}

}  // namespace zaft
