#include "export/sfz_export.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <vector>

#include "audio/pitch.h"
#include "util/fatal.h"
#include "util/paths.h"

namespace zaft {

namespace {

constexpr int32_t kDrumBank = 128;
constexpr int32_t kCentrePan = 64;
constexpr int32_t kFullLevel = 127;
constexpr double kQuietestDb = -144.0;  // the format's least volume
constexpr double kLongestSeconds = 100.0;  // the format's longest envelope stage
constexpr int32_t kMostBendCents = 9600;

// A number as plain decimals (no exponent, which not every player reads),
// without trailing zeros.
std::string decimal(double value, int places) {
  std::string text = formatText("%.*f", places, value);
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

std::string seconds(int32_t microseconds) {
  return decimal(std::clamp(microseconds / 1e6, 0.0, kLongestSeconds), 6);
}

// 20 log10(level / 127): a level's gain in dB, down to the format's least.
double levelDb(int32_t level) {
  if (level <= 0) return kQuietestDb;
  return std::max(kQuietestDb, 20.0 * std::log10(static_cast<double>(level) / kFullLevel));
}

// A name as a label or comment holds it: on one line, without the
// characters that open a header or an opcode's value.
std::string labelText(const std::string& name) {
  std::string text = name;
  for (char& c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '<' || c == '>' || c == '=') c = '_';
  }
  return text;
}

// What a zone's sample plays from: its WAV file, as the run wrote it.
struct WavFile {
  const WaveOutcome* outcome = nullptr;  // null: no file
  bool playable() const { return outcome != nullptr && outcome->skipped.empty() && outcome->samples > 0; }
};

class SfzWriter {
 public:
  SfzWriter(const InstrumentSet& set, const WavResult& wavs, const SfzOptions& options)
      : set_(set), wavs_(wavs), options_(options) {}

  std::string text() {
    out_ += "// " + labelText(options_.title) + "\n";
    out_ += formatText("// Written by ZAFT %s over the bank file's WAV files.\n", ZAFT_VERSION);
    out_ +=
        "// One <master> per bank, one <group> per instrument: group_label bbb:ppp is the\n"
        "// soundfont's preset (bank 128, program b: bank b's percussion). A player plays\n"
        "// every group at once: keep the groups of the instrument you want.\n"
        "\n"
        "<global>\n"
        "// Velocity as linear amplitude, as the console scales it.\n"
        "amp_velcurve_127=1\n";
    // The presets by the bank they belong to: programs in order, then the
    // percussion instrument.
    std::map<int32_t, std::vector<const Preset*>> banks;
    for (const Preset& p : set_.presets) banks[p.bank == kDrumBank ? p.program : p.bank].push_back(&p);
    for (auto& [bank, presets] : banks) {
      std::stable_sort(presets.begin(), presets.end(), [](const Preset* a, const Preset* b) {
        return std::make_pair(a->bank == kDrumBank, a->program) <
               std::make_pair(b->bank == kDrumBank, b->program);
      });
      out_ += formatText("\n<master>\nmaster_label=Bank %d\n", bank);
      for (const Preset* p : presets) group(*p);
    }
    return out_;
  }

 private:
  void group(const Preset& p) {
    const Instrument& inst = set_.instruments[static_cast<size_t>(p.instrument)];
    const std::string label = formatText("%03d:%03d %s", p.bank, p.program, labelText(inst.name).c_str());
    out_ += formatText(
        "\n// %s: volume %d, pan %d, priority %d, tremolo %u/%u/%u/%u, vibrato %u/%u/%u/%u\n"
        "// (the channel's settings on the console)\n",
        label.c_str(), inst.volume, inst.pan, inst.priority, inst.tremolo[0], inst.tremolo[1],
        inst.tremolo[2], inst.tremolo[3], inst.vibrato[0], inst.vibrato[1], inst.vibrato[2],
        inst.vibrato[3]);
    const int32_t bend = std::clamp(inst.bendRange, -kMostBendCents, kMostBendCents);
    out_ += formatText("<group>\ngroup_label=%s\nbend_up=%d bend_down=%d\n", label.c_str(), bend, -bend);
    for (const Zone& z : inst.zones) region(inst, z);
  }

  WavFile wavOf(int32_t sample) const {
    const auto found = wavs_.outcomes.find(set_.samples[static_cast<size_t>(sample)].record);
    return WavFile{found == wavs_.outcomes.end() ? nullptr : &found->second};
  }

  void region(const Instrument& inst, const Zone& z) {
    if (z.sample < 0) return;
    const Sample& wave = set_.samples[static_cast<size_t>(z.sample)];
    const WavFile wav = wavOf(z.sample);
    if (!wav.playable()) {
      out_ += formatText("// keys %d-%d, velocities %d-%d: silent, no WAV file holds %s\n", z.keyMin,
                         z.keyMax, z.velocityMin, z.velocityMax, labelText(wave.name).c_str());
      return;
    }
    const WaveOutcome& file = *wav.outcome;
    // The zone's pitch at the bank's rate, as a pitch at the rate the file
    // holds.
    double cents = z.pitchCents;
    if (inst.rate > 0 && file.rate > 0 && inst.rate != file.rate) {
      cents -= 1200.0 * std::log2(static_cast<double>(inst.rate) / file.rate);
    }
    const SamplePitch pitch{static_cast<int32_t>(std::lround(cents))};
    out_ += formatText("<region> lokey=%d hikey=%d lovel=%d hivel=%d pitch_keycenter=%d", z.keyMin,
                       z.keyMax, z.velocityMin, z.velocityMax, pitch.rootKey());
    if (pitch.coarseTune() != 0) out_ += formatText(" transpose=%d", pitch.coarseTune());
    out_ += formatText(" tune=%d\n", pitch.fineTune());
    // The loop the WAV file's samples hold, as the soundfont takes it.
    bool looped = false;
    if (const std::optional<SampleLoop>& loop = wave.loop; loop && loop->count != 0) {
      const int64_t from = std::max<int32_t>(loop->start, 0);
      const int64_t to = std::min<int64_t>(loop->end, file.samples);
      if (from < to) {
        looped = true;
        out_ += formatText("loop_mode=loop_continuous loop_start=%lld loop_end=%lld\n",
                           static_cast<long long>(from), static_cast<long long>(to - 1));
      }
    }
    if (!looped) out_ += "loop_mode=no_loop\n";
    // The envelope as the soundfont maps it: the first point is the attack's,
    // the last the level held, relative to the peak.
    double volume = levelDb(z.volume);
    std::string attack = "0", decay = "0", sustain = "100", release = "0";
    if (const std::optional<Envelope>& env = z.envelope; env && !env->points.empty()) {
      const EnvelopePoint& top = env->points.front();
      const EnvelopePoint& held = env->points.back();
      const int32_t peak = std::max(top.level, held.level);
      volume = std::max(kQuietestDb, volume + levelDb(peak));
      attack = seconds(top.time);
      if (env->points.size() > 1) decay = seconds(held.time);
      sustain = peak > 0 ? decimal(std::clamp(100.0 * held.level / peak, 0.0, 100.0), 4) : "0";
      release = seconds(env->releaseTime);
    }
    const int32_t pan = std::clamp((z.pan - kCentrePan) * 100 / kCentrePan, -100, 100);
    out_ += formatText(
        "ampeg_attack=%s ampeg_decay=%s ampeg_sustain=%s ampeg_release=%s pan=%d volume=%s\n",
        attack.c_str(), decay.c_str(), sustain.c_str(), release.c_str(), pan,
        decimal(volume, 2).c_str());
    out_ += "sample=" + options_.wavPrefix + file.file + "\n";
  }

  const InstrumentSet& set_;
  const WavResult& wavs_;
  const SfzOptions& options_;
  std::string out_;
};

}  // namespace

void writeSfz(const InstrumentSet& set, const WavResult& wavs, const SfzOptions& options,
              ByteSink& sink) {
  sink.write(SfzWriter(set, wavs, options).text());
}

std::string wavPrefixFor(const std::string& wavFolder, const std::string& sfzName) {
  namespace fs = std::filesystem;
  if (lastSeparator(sfzName) == std::string::npos) return std::string();
  const fs::path folder = wavFolder.empty() ? fs::path(".") : fsPath(wavFolder);
  const bool absolute = isAbsolutePath(sfzName);
  const fs::path sfz = absolute ? fsPath(sfzName) : folder / fsPath(sfzName);
  std::error_code error;
  fs::path from = fs::absolute(sfz, error).lexically_normal().parent_path();
  fs::path to = fs::absolute(folder, error).lexically_normal();
  if (error) return std::string();
  if (!to.has_filename()) to = to.parent_path();
  const fs::path relative = to.lexically_relative(from);
  if (relative.empty() || absolute) return utf8Of(to) + "/";
  if (relative == ".") return std::string();
  return utf8Of(relative) + "/";
}

}  // namespace zaft
