// The synthesizer's effect bus: the wet (aux) signal, summed to mono, runs
// through a delay line of fixed length in sections, each reading the line
// at two taps (input and output, samples back from the write position):
// feed-forward and feedback gains make an all-pass or a comb, an optional
// one-pole low-pass filters the output tap, an optional modulated
// resampler sweeps it (chorus, flange), and each section adds its output
// tap to the effect's output with its gain. The presets are the library's
// own; their delays count samples at the library's fixed 40 per
// "millisecond", whatever the output rate.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/render/microcode.h"

namespace zaft {

enum class FxType { None, SmallRoom, BigRoom, Chorus, Flange, Echo };

namespace render {

class Effect {
 public:
  Effect(FxType type, int32_t outputRate);
  // Takes the aux buses' `count` (a multiple of 8, at most 160) samples and
  // leaves the effect's output in both.
  void process(int16_t* auxL, int16_t* auxR, int32_t count);

  // The preset's sections, as the library defines them (tests).
  struct Section {
    uint32_t input = 0, output = 0;
    int16_t fbcoef = 0, ffcoef = 0, gain = 0;
    int32_t chorusRate = 0, chorusDepth = 0, lowPass = 0;
  };
  static std::vector<Section> preset(FxType type, int32_t* length);

 private:
  struct Delay {
    Section s;
    // The modulated read of chorus and flange.
    bool modulated = false;
    float rsinc = 0, rsval = 0, rsgain = 0;
    int32_t rsdelta = 0;
    float rsFraction = 0;  // the resampler's carried fraction of a sample
    bool rsFirst = true;
    ResampleState rs;
    // The low-pass on the output tap.
    bool filtered = false;
    int16_t lpCoefficients[16] = {};
    uint16_t lpGain = 0;
    bool lpFirst = true;
    PoleState lp;
  };
  void load(int64_t pos, int16_t* dst, int32_t count) const;
  void save(int64_t pos, const int16_t* src, int32_t count);
  void loadOutputTap(Delay& d, int16_t* dst, int32_t count);

  std::vector<Delay> delays_;
  std::vector<int16_t> line_;
  int64_t input_ = 0;  // the write position in the line
};

}  // namespace render
}  // namespace zaft
