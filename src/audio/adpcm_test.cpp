#include "audio/adpcm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

namespace zaft {
namespace {

using Samples = std::array<int16_t, 8>;
using Predictor = std::array<int16_t, 16>;

Predictor filled(int16_t row0, int16_t row1) {
  Predictor c{};
  for (int i = 0; i < 8; ++i) {
    c[i] = row0;
    c[8 + i] = row1;
  }
  return c;
}

Samples decode(AdpcmHistory& history, std::array<uint8_t, 4> bytes, const Predictor& c,
               uint8_t scale) {
  Samples out{};
  decodeAdpcmHalfFrame(history, bytes.data(), c.data(), scale, out.data());
  return out;
}

TEST(AdpcmDecoder, HalfFrameExamplesAndLimits) {
  // Row 1 all 1.0 makes an integrator: each sample is the previous one plus
  // the scaled residual.
  const Predictor integrator = filled(0, 2048);
  const Predictor zero{};
  struct Case {
    const char* what;
    int16_t h6, h7;
    std::array<uint8_t, 4> bytes;
    Predictor c;
    uint8_t scale;
    Samples expected;
  };
  const Case cases[] = {
      {"integrator, scale 2", 0, -50, {0x12, 0x34, 0xF0, 0x0F}, integrator, 2,
       {-46, -38, -26, -10, -14, -14, -14, -18}},
      {"integrator, scale 0", 0, 100, {0x11, 0x11, 0x11, 0x11}, integrator, 0,
       {101, 102, 103, 104, 105, 106, 107, 108}},
      // -1 - 2048 = -2049 rounds down to -2, not toward zero.
      {"rounds toward -inf", 0, 0, {0xFF, 0xFF, 0xFF, 0xFF}, filled(1, 1), 0,
       {-1, -2, -2, -2, -2, -2, -2, -2}},
      // The high nibble comes first; nibble 8 is -8.
      {"high nibble first", 0, 0, {0x80, 0x00, 0x00, 0x00}, zero, 0, {-8, 0, 0, 0, 0, 0, 0, 0}},
      // Scale 12 takes -8 to -32768 exactly and 7 to 28672.
      {"scale 12", 0, 0, {0x87, 0x78, 0x00, 0x00}, zero, 12,
       {-32768, 28672, 28672, -32768, 0, 0, 0, 0}},
      {"nibbles 0..7", 0, 0, {0x01, 0x23, 0x45, 0x67}, zero, 0, {0, 1, 2, 3, 4, 5, 6, 7}},
      {"nibbles 8..F", 0, 0, {0x89, 0xAB, 0xCD, 0xEF}, zero, 0, {-8, -7, -6, -5, -4, -3, -2, -1}},
      // The sum is formed exactly, far beyond 32 bits, and clamped at the end.
      {"clamps high", -32768, -32768, {0x88, 0x88, 0x88, 0x88}, filled(-32768, -32768), 12,
       {32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767}},
      {"clamps both ways", -32768, -32768, {0x77, 0x77, 0x77, 0x77}, filled(32767, 32767), 12,
       {-32768, -32768, -32768, 32767, 32767, 32767, 32767, 32767}},
  };
  for (const Case& c : cases) {
    AdpcmHistory history;
    history.h[6] = c.h6;
    history.h[7] = c.h7;
    EXPECT_EQ(decode(history, c.bytes, c.c, c.scale), c.expected) << c.what;
  }
}

TEST(AdpcmDecoder, ResetZeroesHistoryAndWritesNothing) {
  AdpcmHistory history;
  history.h[6] = 1234;
  history.h[7] = -4321;
  Samples out;
  out.fill(77);
  const Predictor any = {-3000, 512, 9, 32767, -32768, 1, 2, 3, 2048, -2048, 4, 5, 6, 7, 8, 9};
  decodeAdpcmHalfFrame(history, nullptr, any.data(), 12, out.data());
  EXPECT_EQ(out, (Samples{77, 77, 77, 77, 77, 77, 77, 77}));
  for (int16_t h : history.h) EXPECT_EQ(h, 0);
  EXPECT_EQ(decode(history, {0, 0, 0, 0}, any, 12), (Samples{}));
}

TEST(AdpcmDecoder, HistoryCarriesBetweenHalvesAndFrames) {
  // Sample 0 = h6 + x0, sample 1 = h7 + x1, sample i >= 2 = x[i] + x[i - 2].
  Predictor c{};
  c[0] = 2048;
  c[9] = 2048;
  AdpcmHistory history;
  const Samples first = decode(history, {0x00, 0x00, 0x00, 0x35}, c, 4);
  EXPECT_EQ(first, (Samples{0, 0, 0, 0, 0, 0, 48, 80}));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(history.h[i], first[i]);
  EXPECT_EQ(decode(history, {0x12, 0x00, 0x00, 0x7F}, c, 4),
            (Samples{48 + 16, 80 + 32, 16, 32, 0, 0, 112, -16}));

  // Through an integrator, the second frame continues from the last sample
  // of the first frame's second half.
  const Predictor integrator = filled(0, 2048);
  history = AdpcmHistory{};
  std::vector<int16_t> samples;
  const std::array<uint8_t, 4> halves[] = {
      {0x11, 0x11, 0x11, 0x11}, {0x22, 0x22, 0x22, 0x22},   // frame 1
      {0xFF, 0xFF, 0xFF, 0xFF}, {0x00, 0x00, 0x00, 0x01}};  // frame 2
  for (const auto& half : halves) {
    const Samples out = decode(history, half, integrator, 0);
    samples.insert(samples.end(), out.begin(), out.end());
  }
  ASSERT_EQ(samples.size(), 32u);
  EXPECT_EQ(samples[7], 8);
  EXPECT_EQ(samples[8], 10);
  EXPECT_EQ(samples[15], 24);
  EXPECT_EQ(samples[16], 23);
  EXPECT_EQ(samples[23], 16);
  EXPECT_EQ(samples[31], 17);
}

TEST(AdpcmDecoder, ScaleAboveTwelveIsHeldAtTwelve) {
  AdpcmHistory a;
  AdpcmHistory b;
  const Predictor c = filled(100, -200);
  EXPECT_EQ(decode(a, {0x87, 0x12, 0xF0, 0x3C}, c, 15), decode(b, {0x87, 0x12, 0xF0, 0x3C}, c, 12));
}

TEST(AdpcmFrameHeader, FiftyTwoValuesPass) {
  int passing = 0;
  for (int h = 0; h < 256; ++h) passing += isAdpcmFrameHeader(static_cast<uint8_t>(h)) ? 1 : 0;
  EXPECT_EQ(passing, 52);
  for (uint8_t h : {0x00, 0x03, 0x13, 0xC3}) EXPECT_TRUE(isAdpcmFrameHeader(h)) << int(h);
  for (uint8_t h : {0x04, 0x08, 0x0C, 0xD0, 0xFF}) EXPECT_FALSE(isAdpcmFrameHeader(h)) << int(h);
}

}  // namespace
}  // namespace zaft

namespace zaft {
namespace {

// The vectorised kernel against the exact 64-bit path: books with
// coefficients over the whole 16-bit range (so that some predictors and
// scales must fall back) and realistic ones, random frames of every header
// (scales past 12, predictors the book does not hold), random histories,
// saturation included: every sample, the history after, the missing index.
TEST(AdpcmKernel, EveryPathMatchesTheScalarOneBitForBit) {
  std::mt19937 rng(1234);
  int vectorFrames = 0, scalarFrames = 0;
  for (int round = 0; round < 400; ++round) {
    const int predictors = 1 + static_cast<int>(rng() % 16);
    std::vector<int16_t> book(static_cast<size_t>(predictors) * 16);
    const int range = round % 4 == 0 ? 65536 : round % 4 == 1 ? 8192 : 4096;
    for (int16_t& c : book) c = static_cast<int16_t>(static_cast<int>(rng() % range) - range / 2);
    const AdpcmKernel kernel(book.data(), predictors);
    const size_t frames = 1 + rng() % 64;
    std::vector<uint8_t> bytes(frames * 9);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    for (size_t f = 0; f < frames; ++f) {
      const int p = bytes[9 * f] & 15;
      (std::min(bytes[9 * f] >> 4, 12) <= kernel.maxExactScale(p) ? vectorFrames : scalarFrames)++;
    }
    AdpcmHistory start;
    start.h[6] = static_cast<int16_t>(rng());
    start.h[7] = static_cast<int16_t>(rng());
    AdpcmHistory exact = start;
    std::vector<uint8_t> want(frames * 32);
    int32_t wantMissing = -1;
    kernel.decode(AdpcmPath::Scalar, exact, bytes.data(), frames, want.data(), wantMissing);
    for (AdpcmPath path : {AdpcmPath::Sse2, AdpcmPath::Avx2}) {
      if (!AdpcmKernel::runs(path)) continue;
      AdpcmHistory h = start;
      std::vector<uint8_t> got(frames * 32);
      int32_t missing = -1;
      kernel.decode(path, h, bytes.data(), frames, got.data(), missing);
      ASSERT_EQ(got, want) << round << " path " << static_cast<int>(path);
      EXPECT_EQ(h.h[6], exact.h[6]);
      EXPECT_EQ(h.h[7], exact.h[7]);
      EXPECT_EQ(missing, wantMissing);
    }
  }
  EXPECT_GT(vectorFrames, 1000);
  EXPECT_GT(scalarFrames, 100);
}

// The bound per predictor and scale: a predictor of full-range coefficients
// is exact at no scale; the worked examples' predictors at every one;
// between, the largest scale whose row sums stay below 2^31.
TEST(AdpcmKernel, ExactScalesFollowTheRowSums) {
  struct Case {
    Predictor c;
    int maxScale;
  };
  Predictor mixed = filled(-1500, 3000);  // rows of up to 24000 in all
  const Case cases[] = {
      {filled(0, 2048), 12},
      {filled(-32768, -32768), -1},
      {filled(1, 1), 12},
      {mixed, 12},
      // Row 7: 40000 x 32768 for the history, (7 x 20000 + 2048) x 8 x 2^s
      // for the residuals: below 2^31 up to s = 9.
      {filled(20000, 20000), 9},
      // 6000 x 32768 + 44048 x 32768 at s = 12: 1.64e9, still exact.
      {filled(0, 6000), 12},
  };
  for (const Case& c : cases) {
    const AdpcmKernel kernel(c.c.data(), 1);
    EXPECT_EQ(kernel.maxExactScale(0), c.maxScale) << c.c[0] << " " << c.c[8];
    // An index the book does not hold decodes with zero coefficients: exact.
    EXPECT_EQ(kernel.maxExactScale(1), 12);
  }
}

}  // namespace
}  // namespace zaft
