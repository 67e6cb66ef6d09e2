#include "audio/adpcm.h"

#include <algorithm>

namespace zaft {

namespace {

// A residual nibble is a 4-bit two's-complement number.
constexpr int16_t kResidualValues[16] = {0, 1, 2, 3, 4, 5, 6, 7, -8, -7, -6, -5, -4, -3, -2, -1};

// 2048 is 1.0 for the coefficients (11 fraction bits).
constexpr int kFractionBits = 11;

inline int16_t clampSample(int64_t value) {
  return static_cast<int16_t>(std::clamp<int64_t>(value, INT16_MIN, INT16_MAX));
}

// r * 2^scale kept as a signed 16-bit number; with scale <= 12 nothing is
// lost (-8 << 12 = -32768, 7 << 12 = 28672).
inline int32_t scaleResidual(uint8_t nibble, int scale) {
  return static_cast<int16_t>(kResidualValues[nibble] * (1 << scale));
}

}  // namespace

void decodeAdpcmHalfFrame(AdpcmHistory& history, const uint8_t* residuals,
                          const int16_t* predictor, uint8_t scale, int16_t out[8]) {
  if (residuals == nullptr) {
    history = AdpcmHistory{};
    return;
  }
  // The writer caps the header's scale at 12 already; a larger value would
  // make the shift meaningless, so it is held to 12 here too.
  const int s = std::min<int>(scale, kAdpcmMaxScale);

  int32_t x[8];
  for (int k = 0; k < 4; ++k) {
    x[2 * k] = scaleResidual(static_cast<uint8_t>(residuals[k] >> 4), s);
    x[2 * k + 1] = scaleResidual(static_cast<uint8_t>(residuals[k] & 0x0F), s);
  }

  const int32_t h6 = history.h[6];
  const int32_t h7 = history.h[7];
  const int16_t* row0 = predictor;
  const int16_t* row1 = predictor + 8;

  // Each product of two 16-bit numbers is exact in 32 bits; their sum is
  // not, so it is formed in 64 bits and clamped only at the end. Samples of
  // this call never feed each other: sample i sees the previous call's last
  // two samples and residuals 0..i, the newest weighed by row1[0].
  int16_t y[8];
  for (int i = 0; i < 8; ++i) {
    int64_t acc = static_cast<int64_t>(row0[i] * h6) + static_cast<int64_t>(row1[i] * h7);
    for (int k = 0; k < i; ++k) acc += static_cast<int64_t>(row1[i - 1 - k] * x[k]);
    acc += static_cast<int64_t>(x[i]) * (1 << kFractionBits);
    // Arithmetic shift: division by 2048 rounded toward negative infinity.
    y[i] = clampSample(acc >> kFractionBits);
  }
  for (int i = 0; i < 8; ++i) out[i] = history.h[i] = y[i];
}

}  // namespace zaft
