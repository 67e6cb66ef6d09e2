#include "support/vadpcm_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "audio/adpcm.h"
#include "support/synth.h"

namespace zaft::test {
namespace {

struct RoundTripCase {
  std::string name;
  std::vector<int16_t> pcm;
  double floorDb;  // measured, then set a few dB below
};

// Measured with 4-predictor books at 22050 Hz: sweep 37.1 dB, plucked string
// 34.7 dB, white noise 23.3 dB.
std::vector<RoundTripCase> roundTripCases() {
  return {
      {"sine sweep 50 Hz to 10 kHz", sineSweep(22050, 1.0, 50.0, 10000.0, 0.5), 34.0},
      {"plucked string", pluckedString(22050, 196.0, 1.0, 7), 31.0},
      {"white noise", whiteNoise(22050, 1.0, 0.25, 99), 20.0},
  };
}

TEST(VadpcmEncoder, RoundTripThroughTheToolsDecoderReachesTheFloor) {
  for (const RoundTripCase& c : roundTripCases()) {
    SCOPED_TRACE(c.name);
    const BookDesign book = deriveBook(c.pcm, 4);
    const AdpcmEncoding enc = encodeAdpcm(c.pcm, book);
    ASSERT_EQ(enc.frames.size(), (c.pcm.size() + 15) / 16 * 9);
    const std::vector<int16_t> decoded = decodeAdpcm(enc.frames, book);
    // The encoder's history stayed the decoder's: bit for bit the same.
    ASSERT_EQ(decoded, enc.decoded);
    EXPECT_GE(snrDb(c.pcm, decoded), c.floorDb);
  }
}

TEST(VadpcmEncoder, StaysInStepWhenTheDecoderClamps) {
  // A full-scale square wave overshoots on every edge, so the decoder's
  // clamp is hit; the encoder must clamp the same way.
  std::vector<int16_t> square(4000);
  for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 37) % 2 ? 32767 : -32768;
  const BookDesign book = deriveBook(square, 2);
  const AdpcmEncoding enc = encodeAdpcm(square, book);
  EXPECT_EQ(decodeAdpcm(enc.frames, book), enc.decoded);
  EXPECT_GE(snrDb(square, enc.decoded), 10.0);
}

TEST(VadpcmEncoder, SeveralPredictorsFollowAChangingSpectrum) {
  // One predictor cannot fit both ends of a sweep; four clustered ones can
  // (measured 26.1 dB against 37.1 dB).
  const std::vector<int16_t> sweep = sineSweep(22050, 1.0, 50.0, 10000.0, 0.5);
  const BookDesign one = deriveBook(sweep, 1);
  const BookDesign four = deriveBook(sweep, 4);
  EXPECT_GE(snrDb(sweep, encodeAdpcm(sweep, four).decoded),
            snrDb(sweep, encodeAdpcm(sweep, one).decoded) + 6.0);
}

TEST(VadpcmEncoder, FramesUseOnlyTheBooksPredictorsAndScalesUpTo12) {
  const std::vector<int16_t> pcm = snareDrum(22050, 5);
  for (int npredictors : {1, 2, 4}) {
    const BookDesign book = deriveBook(pcm, npredictors);
    ASSERT_EQ(book.npredictors, npredictors);
    ASSERT_EQ(book.predictors.size(), static_cast<size_t>(npredictors) * 16);
    const AdpcmEncoding enc = encodeAdpcm(pcm, book);
    for (size_t f = 0; f < enc.frames.size(); f += 9) {
      ASSERT_LT(enc.frames[f] & 0x0F, npredictors) << "frame at " << f;
      ASSERT_LE(enc.frames[f] >> 4, 12) << "frame at " << f;
      ASSERT_TRUE(isAdpcmFrameHeader(enc.frames[f]));
    }
  }
}

TEST(VadpcmEncoder, PadsTheLastFrameWithSilence) {
  std::vector<int16_t> pcm(17, 0);
  pcm[16] = 1000;
  const BookDesign book = deriveBook(pcm, 1);
  const AdpcmEncoding enc = encodeAdpcm(pcm, book);
  ASSERT_EQ(enc.frames.size(), 18u);
  ASSERT_EQ(enc.decoded.size(), 32u);
  // Silence encodes as silence: header 0 and zero residuals.
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(enc.frames[i], 0) << i;
  EXPECT_NEAR(enc.decoded[16], 1000, 64);
}

TEST(VadpcmEncoder, PredictorRowsAreTheImpulseResponses) {
  // a1 = 1, a2 = 0: each sample is the last one plus the residual.
  const std::array<int16_t, 16> step = predictorFromLpc(1.0, 0.0);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(step[static_cast<size_t>(i)], 0) << i;
    EXPECT_EQ(step[static_cast<size_t>(8 + i)], 2048) << i;
  }
  // a1 = 2, a2 = -1: g[n] = n + 1.
  const std::array<int16_t, 16> ramp = predictorFromLpc(2.0, -1.0);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(ramp[static_cast<size_t>(i)], -2048 * (i + 1)) << i;
    EXPECT_EQ(ramp[static_cast<size_t>(8 + i)], 2048 * (i + 2)) << i;
  }
  // a1 = 3: g[n] = 3^n leaves 16 bits from g[3] on.
  const std::array<int16_t, 16> steep = predictorFromLpc(3.0, 0.0);
  EXPECT_EQ(steep[8], 6144);
  EXPECT_EQ(steep[9], 18432);
  EXPECT_EQ(steep[10], 32767);
  EXPECT_EQ(steep[15], 32767);
}

TEST(VadpcmEncoder, TheToolsDecoderRunsTheRecursionThePredictorStandsFor) {
  // One residual kick into a resonator; with every later residual zero the
  // decoder must ring as y[n] = a1 y[n-1] + a2 y[n-2], across both halves and
  // into the next frame, up to the rounding of the fixed-point coefficients
  // (measured: at most 3.8 off; with the rows swapped, thousands).
  const double a1 = 1.6, a2 = -0.8;
  const std::array<int16_t, 16> c = predictorFromLpc(a1, a2);
  BookDesign book{2, 1, std::vector<int16_t>(c.begin(), c.end())};
  std::vector<uint8_t> frames(18, 0);
  frames[0] = 0xA0;  // scale 10, predictor 0
  frames[1] = 0x70;  // residual 7: 7 << 10 = 7168
  frames[9] = 0xA0;
  const std::vector<int16_t> decoded = decodeAdpcm(frames, book);
  double y1 = 0, y2 = 0;
  for (size_t n = 0; n < decoded.size(); ++n) {
    const double y = a1 * y1 + a2 * y2 + (n == 0 ? 7168.0 : 0.0);
    EXPECT_NEAR(decoded[n], y, 8.0) << "sample " << n;
    y2 = y1;
    y1 = decoded[n];
  }
}

}  // namespace
}  // namespace zaft::test
