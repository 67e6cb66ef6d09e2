// The console's audio microcode: the vector operations the synthesizer's
// command lists run on the signal processor, with its exact integer
// arithmetic. Every sample is a signed 16-bit number; a sum that leaves 16
// bits saturates.
//
// - Resample: 4-tap interpolation. The position is a 16.16 number; its top
//   6 fraction bits pick one of 64 filter phases. Four input samples before
//   the current position are carried from one command to the next with the
//   fraction, so a voice's pitch changes without a seam.
// - Envelope mixer: one input, four outputs (dry left and right, wet left
//   and right). The left and right volumes move toward their targets in
//   steps recomputed every 8 samples: a 16.16 "rate" multiplies an
//   exponential sequence, and the volume walks linearly to that sequence's
//   next value over the 8 samples, stopping at the target.
// - Mix: out += in * gain (gain 1.15), saturated.
// - Pole filter: a one-pole low-pass run 8 samples at a time (coefficients
//   with 14 fraction bits).
#pragma once

#include <cstdint>

namespace zaft::render {

// Saturates to 16 bits.
inline int16_t clamp16(int32_t v) {
  return static_cast<int16_t>(v < INT16_MIN ? INT16_MIN : (v > INT16_MAX ? INT16_MAX : v));
}

// The microcode's resampler filter: 64 phases of 4 taps (1.15).
extern const int16_t kResampleTable[64][4];
// The synthesizer's equal-power curve: 128 gains from 32767 to 0 (1.15);
// entry p is the left gain of pan p and entry 127 - p the right one.
extern const int16_t kEqualPower[128];

// What the resampler carries between commands.
struct ResampleState {
  int16_t history[4] = {0, 0, 0, 0};
  uint16_t fraction = 0;
};

// Writes `count` samples at `out` from the input at `in`, whose 4 samples
// before in[0] the command overwrites with the carried history (or zeros on
// `init`). `pitch` is the increment in 1.15 (0x8000 is 1.0). The input
// must hold as many samples as the increments consume plus 3.
void resample(ResampleState& state, bool init, uint16_t pitch, int16_t* in, int16_t* out,
              int32_t count);

// The envelope mixer's settings for a command that starts a ramp.
struct EnvMixSettings {
  int16_t volume[2] = {0, 0};  // current left, right
  int16_t target[2] = {0, 0};
  int32_t rate[2] = {0, 0};  // 16.16 per 8 samples
  int16_t dry = 0, wet = 0;
};
// What it carries between commands (the microcode saves exactly these).
struct EnvMixState {
  int16_t dry = 0, wet = 0;
  int32_t target[2] = {0, 0};
  int32_t rate[2] = {0, 0};
  int32_t sequence[2] = {0, 0};
  int32_t value[2] = {0, 0};
};

// Mixes `count` samples of `in` into the four outputs. `init` starts from
// `settings`, otherwise from `state`; `count` is a multiple of 8.
void envMix(EnvMixState& state, bool init, const EnvMixSettings& settings, const int16_t* in,
            int32_t count, int16_t* dryL, int16_t* dryR, int16_t* wetL, int16_t* wetR);

// out[i] = sat(out[i] + in[i] * gain >> 15). `out` may be `in`.
void mix(int16_t* out, const int16_t* in, int32_t count, int16_t gain);

// The pole filter's carried state: the last two outputs.
struct PoleState {
  int16_t last[2] = {0, 0};
};
// Filters `count` (a multiple of 8) samples in place with the 16
// coefficients (8 weights of the sample two back, 8 of the last one, 14
// fraction bits) and the input gain.
void poleFilter(PoleState& state, bool init, const int16_t coefficients[16], uint16_t gain,
                int16_t* buf, int32_t count);

// The same, one sample at a time: the definition the vector code above
// matches bit for bit (tests compare them).
namespace scalar {
void resample(ResampleState& state, bool init, uint16_t pitch, int16_t* in, int16_t* out,
              int32_t count);
void envMix(EnvMixState& state, bool init, const EnvMixSettings& settings, const int16_t* in,
            int32_t count, int16_t* dryL, int16_t* dryR, int16_t* wetL, int16_t* wetR);
void mix(int16_t* out, const int16_t* in, int32_t count, int16_t gain);
void poleFilter(PoleState& state, bool init, const int16_t coefficients[16], uint16_t gain,
                int16_t* buf, int32_t count);
}  // namespace scalar

}  // namespace zaft::render
