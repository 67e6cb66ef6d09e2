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
