#include "audio/adpcm.h"

#include <gtest/gtest.h>

#include <array>
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

AdpcmHistory historyWith(int16_t h6, int16_t h7) {
  AdpcmHistory history;
  history.h[6] = h6;
  history.h[7] = h7;
  return history;
}

TEST(AdpcmDecoderTest, WorkedExamples) {
  // Row 1 all 1.0: each sample is the previous one plus the scaled residual.
  const Predictor integrator = filled(0, 2048);
  AdpcmHistory history = historyWith(0, -50);
  EXPECT_EQ(decode(history, {0x12, 0x34, 0xF0, 0x0F}, integrator, 2),
            (Samples{-46, -38, -26, -10, -14, -14, -14, -18}));

  history = historyWith(0, 100);
  EXPECT_EQ(decode(history, {0x11, 0x11, 0x11, 0x11}, integrator, 0),
            (Samples{101, 102, 103, 104, 105, 106, 107, 108}));

  // -1 - 2048 = -2049 rounds down to -2, not toward zero.
  history = AdpcmHistory{};
  EXPECT_EQ(decode(history, {0xFF, 0xFF, 0xFF, 0xFF}, filled(1, 1), 0),
            (Samples{-1, -2, -2, -2, -2, -2, -2, -2}));
}

TEST(AdpcmDecoderTest, ResetZeroesHistoryAndWritesNothing) {
  AdpcmHistory history = historyWith(1234, -4321);
  Samples out;
  out.fill(77);
  const Predictor any = {-3000, 512, 9, 32767, -32768, 1, 2, 3, 2048, -2048, 4, 5, 6, 7, 8, 9};
  decodeAdpcmHalfFrame(history, nullptr, any.data(), 12, out.data());
  EXPECT_EQ(out, (Samples{77, 77, 77, 77, 77, 77, 77, 77}));
  for (int16_t h : history.h) EXPECT_EQ(h, 0);
  EXPECT_EQ(decode(history, {0, 0, 0, 0}, any, 12), (Samples{}));
}

TEST(AdpcmDecoderTest, ResidualNibbles) {
  AdpcmHistory history;
  const Predictor zero{};
  // The high nibble comes first; nibble 8 is -8.
  EXPECT_EQ(decode(history, {0x80, 0x00, 0x00, 0x00}, zero, 0), (Samples{-8, 0, 0, 0, 0, 0, 0, 0}));
  // Scale 12 takes -8 to -32768 exactly and 7 to 28672.
  EXPECT_EQ(decode(history, {0x87, 0x78, 0x00, 0x00}, zero, 12),
            (Samples{-32768, 28672, 28672, -32768, 0, 0, 0, 0}));
  // Every nibble through its table value.
  const Samples low = decode(history, {0x01, 0x23, 0x45, 0x67}, zero, 0);
  EXPECT_EQ(low, (Samples{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(decode(history, {0x89, 0xAB, 0xCD, 0xEF}, zero, 0),
            (Samples{-8, -7, -6, -5, -4, -3, -2, -1}));
}

TEST(AdpcmDecoderTest, SaturatesOnTheExactSum) {
  // Far beyond 32 bits: every sample clamps high.
  AdpcmHistory history = historyWith(-32768, -32768);
  EXPECT_EQ(decode(history, {0x88, 0x88, 0x88, 0x88}, filled(-32768, -32768), 12),
            (Samples{32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767}));

  history = historyWith(-32768, -32768);
  EXPECT_EQ(decode(history, {0x77, 0x77, 0x77, 0x77}, filled(32767, 32767), 12),
            (Samples{-32768, -32768, -32768, 32767, 32767, 32767, 32767, 32767}));
}

TEST(AdpcmDecoderTest, HistoryCarriesBetweenHalvesAndFrames) {
  // Sample 0 = h6 + x0, sample 1 = h7 + x1, sample i >= 2 = x[i] + x[i - 2].
  Predictor c{};
  c[0] = 2048;
  c[9] = 2048;
  AdpcmHistory history;
  Samples first = decode(history, {0x00, 0x00, 0x00, 0x35}, c, 4);
  EXPECT_EQ(first, (Samples{0, 0, 0, 0, 0, 0, 48, 80}));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(history.h[i], first[i]);

  Samples second = decode(history, {0x12, 0x00, 0x00, 0x7F}, c, 4);
  EXPECT_EQ(second, (Samples{48 + 16, 80 + 32, 16, 32, 0, 0, 112, -16}));

  // A whole frame through an integrator: the second frame continues from the
  // last sample of the first frame's second half.
  const Predictor integrator = filled(0, 2048);
  history = AdpcmHistory{};
  std::vector<int16_t> samples;
  const uint8_t frames[2][8] = {{0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22, 0x22},
                                {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01}};
  for (const auto& frame : frames) {
    for (int half = 0; half < 2; ++half) {
      int16_t out[8];
      decodeAdpcmHalfFrame(history, frame + 4 * half, integrator.data(), 0, out);
      samples.insert(samples.end(), out, out + 8);
    }
  }
  ASSERT_EQ(samples.size(), 32u);
  EXPECT_EQ(samples[7], 8);
  EXPECT_EQ(samples[8], 10);
  EXPECT_EQ(samples[15], 24);
  EXPECT_EQ(samples[16], 23);
  EXPECT_EQ(samples[23], 16);
  EXPECT_EQ(samples[31], 17);
}

TEST(AdpcmDecoderTest, ScaleAboveTwelveIsHeldAtTwelve) {
  AdpcmHistory a;
  AdpcmHistory b;
  const Predictor c = filled(100, -200);
  EXPECT_EQ(decode(a, {0x87, 0x12, 0xF0, 0x3C}, c, 15), decode(b, {0x87, 0x12, 0xF0, 0x3C}, c, 12));
}

TEST(AdpcmFrameHeaderTest, FiftyTwoValuesPass) {
  int passing = 0;
  for (int h = 0; h < 256; ++h) passing += isAdpcmFrameHeader(static_cast<uint8_t>(h)) ? 1 : 0;
  EXPECT_EQ(passing, 52);
  for (uint8_t h : {0x00, 0x03, 0x13, 0xC3}) EXPECT_TRUE(isAdpcmFrameHeader(h)) << int(h);
  for (uint8_t h : {0x04, 0x08, 0x0C, 0xD0, 0xFF}) EXPECT_FALSE(isAdpcmFrameHeader(h)) << int(h);
}

}  // namespace
}  // namespace zaft
