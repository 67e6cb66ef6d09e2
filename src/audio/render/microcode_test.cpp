#include "audio/render/microcode.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace zaft::render {
namespace {

// Samples biased to the extremes, where saturation decides.
std::vector<int16_t> randomSamples(std::mt19937& rng, size_t n) {
  std::uniform_int_distribution<int> pick(-32768, 32767);
  std::vector<int16_t> v(n);
  for (int16_t& x : v) {
    const int r = pick(rng);
    x = static_cast<int16_t>(r % 7 == 0 ? (r > 0 ? 32767 : -32768) : r);
  }
  return v;
}

// The vector paths (and the envelope mixer's shortcut for held volumes)
// equal the one-sample-at-a-time definition, bit for bit, over random
// inputs, gains, pitches, ramps and counts.
TEST(Microcode, VectorPathsMatchTheScalarDefinition) {
  std::mt19937 rng(24);
  std::uniform_int_distribution<int> any16(-32768, 32767);
  std::uniform_int_distribution<int> count16(1, 10);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    const int32_t n = 16 * count16(rng);
    const int16_t gain = static_cast<int16_t>(round % 50 == 0 ? -32768 : any16(rng));
    std::vector<int16_t> in = randomSamples(rng, static_cast<size_t>(4 + 2 * n + 8));
    std::vector<int16_t> a = randomSamples(rng, static_cast<size_t>(n)), b = a;
    mix(a.data(), in.data(), n, gain);
    scalar::mix(b.data(), in.data(), n, gain);
    ASSERT_EQ(a, b);

    ResampleState sa, sb;
    sa.fraction = sb.fraction = static_cast<uint16_t>(any16(rng));
    const uint16_t pitch = static_cast<uint16_t>(any16(rng) & 0xFFFF);
    std::vector<int16_t> inB = in, outA(static_cast<size_t>(n)), outB(outA);
    resample(sa, round % 5 == 0, pitch, in.data() + 4, outA.data(), n);
    scalar::resample(sb, round % 5 == 0, pitch, inB.data() + 4, outB.data(), n);
    ASSERT_EQ(outA, outB);
    ASSERT_EQ(sa.fraction, sb.fraction);

    // Filter weights of the presets' size, so that the 32-bit sums hold.
    std::uniform_int_distribution<int> weight(-6000, 6000);
    int16_t coefficients[16];
    for (int16_t& c : coefficients) c = static_cast<int16_t>(weight(rng));
    const uint16_t filterGain = static_cast<uint16_t>(weight(rng) + 6000) & 0x1FFF;
    std::vector<int16_t> fa(in.begin(), in.begin() + n), fb = fa;
    PoleState pa, pb;
    pa.last[0] = pb.last[0] = static_cast<int16_t>(any16(rng));
    poleFilter(pa, round % 4 == 0, coefficients, filterGain, fa.data(), n);
    scalar::poleFilter(pb, round % 4 == 0, coefficients, filterGain, fb.data(), n);
    ASSERT_EQ(fa, fb);
    ASSERT_EQ(pa.last[1], pb.last[1]);

    EnvMixSettings set;
    for (int s = 0; s < 2; ++s) {
      // Negative volumes too: an estimate past 32767 wraps on the console.
      set.volume[s] = static_cast<int16_t>(round % 7 == 0 ? any16(rng) : any16(rng) & 0x7FFF);
      set.target[s] = static_cast<int16_t>(round % 3 == 0 ? set.volume[s] : any16(rng) & 0x7FFF);
      // Rates of exactly 1 and near it stall a ramp short of its target.
      set.rate[s] = round % 4 == 0 ? 0x10000 + any16(rng) % 3 : 0x10000 + any16(rng);
    }
    set.dry = static_cast<int16_t>(any16(rng) & 0x7FFF);
    set.wet = static_cast<int16_t>(any16(rng) & 0x7FFF);
    std::vector<std::vector<int16_t>> outs;
    for (int k = 0; k < 4; ++k) outs.push_back(randomSamples(rng, static_cast<size_t>(n)));
    std::vector<std::vector<int16_t>> outsB = outs;
    EnvMixState ea, eb;
    for (int pass = 0; pass < 2; ++pass) {
      envMix(ea, pass == 0, set, in.data(), n, outs[0].data(), outs[1].data(), outs[2].data(),
             outs[3].data());
      scalar::envMix(eb, pass == 0, set, in.data(), n, outsB[0].data(), outsB[1].data(),
                     outsB[2].data(), outsB[3].data());
      ASSERT_EQ(outs, outsB);
    }
  }
}

}  // namespace
}  // namespace zaft::render
