// Test support: short synthesized instruments for the demo ROM and the
// encoder tests. Every generator is deterministic (noise comes from a fixed
// seed), returns 16-bit mono PCM and keeps its peak well inside 16 bits
// (about 70 % of full scale), as real sample material does.
#pragma once

#include <cstdint>
#include <vector>

namespace zaft::test {

// A small xorshift generator: the same sequence on every machine.
class NoiseSource {
 public:
  explicit NoiseSource(uint32_t seed) : state_(seed == 0 ? 0x9E3779B9u : seed) {}
  uint32_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  // Uniform in [-1, 1).
  double uniform() { return static_cast<double>(next()) / 2147483648.0 - 1.0; }

 private:
  uint32_t state_;
};

// A sample whose [loopStart, loopEnd) region repeats seamlessly: the sample
// at loopEnd would equal the one at loopStart. Positions in samples.
struct LoopedSample {
  std::vector<int16_t> pcm;
  int32_t loopStart = 0;
  int32_t loopEnd = 0;
};

// Test signals.
std::vector<int16_t> sineSweep(int rate, double seconds, double fromHz, double toHz,
                               double amplitude);
std::vector<int16_t> whiteNoise(int rate, double seconds, double amplitude, uint32_t seed);

// A plucked string (Karplus-Strong): a noise burst circulating in a delay
// line of one period with an averaging low-pass in the loop.
std::vector<int16_t> pluckedString(int rate, double hz, double seconds, uint32_t seed);
// A plucked bass: the same with a softened burst and a slower decay.
std::vector<int16_t> pluckedBass(int rate, double hz, double seconds, uint32_t seed);

// Drum kit.
std::vector<int16_t> kickDrum(int rate);                  // pitch-swept sine, 0.5 s
std::vector<int16_t> snareDrum(int rate, uint32_t seed);  // noise plus tone, 0.4 s
std::vector<int16_t> hiHat(int rate, uint32_t seed);      // high-passed noise, 0.35 s

// A pad: detuned, low-passed saws fading in, then a loop of `loopSeconds`
// over which every partial completes whole cycles.
LoopedSample pad(int rate, double hz, double attackSeconds, double loopSeconds);
// An organ tone (a few sine drawbars) with a short attack and a loop.
LoopedSample organ(int rate, double hz, double attackSeconds, double loopSeconds);

// Sound effects: a struck bell (inharmonic partials) and a falling zap.
std::vector<int16_t> bell(int rate, double hz, double seconds);
std::vector<int16_t> zap(int rate, double seconds);

}  // namespace zaft::test
