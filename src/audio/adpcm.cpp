#include "audio/adpcm.h"

#include <algorithm>
#include <cstdlib>

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

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "util/endian.h"

namespace zaft {

namespace {

// |history| <= 32768 and |residual| <= 8 * 2^scale: the largest scale at
// which every row's sum of |coefficient| times those stays below 2^31.
int largestExactScale(const int16_t (&m)[8][10]) {
  int64_t history[8], residuals[8];
  for (int i = 0; i < 8; ++i) {
    history[i] = (std::abs(int64_t{m[i][0]}) + std::abs(int64_t{m[i][1]})) * 32768;
    residuals[i] = 0;
    for (int k = 0; k < 8; ++k) residuals[i] += std::abs(int64_t{m[i][2 + k]}) * 8;
  }
  int best = -1;
  for (int s = 0; s <= kAdpcmMaxScale; ++s) {
    for (int i = 0; i < 8; ++i) {
      if (history[i] + (residuals[i] << s) >= (int64_t{1} << 31)) return best;
    }
    best = s;
  }
  return best;
}

}  // namespace

AdpcmKernel::Predictor AdpcmKernel::makePredictor(const int16_t* coefficients) {
  Predictor out;
  out.held = coefficients != nullptr;
  if (out.held) std::copy(coefficients, coefficients + 16, out.c);
  int16_t m[8][10] = {};
  for (int i = 0; i < 8; ++i) {
    m[i][0] = out.c[i];
    m[i][1] = out.c[8 + i];
    for (int k = 0; k < i; ++k) m[i][2 + k] = out.c[7 + i - k];
    m[i][2 + i] = 1 << kFractionBits;
  }
  for (int j = 0; j < 5; ++j) {
    for (int i = 0; i < 8; ++i) {
      out.pairs[j][i / 4][2 * (i % 4)] = m[i][2 * j];
      out.pairs[j][i / 4][2 * (i % 4) + 1] = m[i][2 * j + 1];
    }
  }
  out.maxScale = largestExactScale(m);
  return out;
}

AdpcmKernel::AdpcmKernel(const int16_t* coefficients, int32_t predictors) {
  // An index the book does not hold: zero coefficients, the same for every
  // kernel.
  static const Predictor kMissing = makePredictor(nullptr);
  for (int p = 0; p < kMaxIndexedPredictors; ++p) {
    predictors_[p] = p < predictors && coefficients != nullptr ? makePredictor(coefficients + 16 * p)
                                                              : kMissing;
  }
}

void AdpcmKernel::decodeScalar(AdpcmHistory& history, const uint8_t* frames, size_t count,
                               uint8_t* out, int32_t& missing) const {
  for (size_t f = 0; f < count; ++f, frames += kAdpcmFrameBytes, out += 32) {
    const uint8_t header = frames[0];
    const Predictor& p = predictors_[header & 0x0F];
    if (!p.held && missing < 0) missing = header & 0x0F;
    const uint8_t scale = static_cast<uint8_t>(std::min(header >> 4, kAdpcmMaxScale));
    int16_t samples[kAdpcmFrameSamples];
    decodeAdpcmHalfFrame(history, frames + 1, p.c, scale, samples);
    decodeAdpcmHalfFrame(history, frames + 5, p.c, scale, samples + 8);
    for (size_t i = 0; i < kAdpcmFrameSamples; ++i) {
      storeLE16(out + 2 * i, static_cast<uint16_t>(samples[i]));
    }
  }
}

#if defined(__SSE2__)

namespace {

// The residuals of both half frames from the 8 bytes after the header, high
// nibble first, times 2^scale, as 16-bit lanes: each byte in two lanes,
// masked to its nibble and moved to the top of its lane, then shifted down
// arithmetically by 12 - scale.
inline void residuals(const uint8_t* bytes, __m128i shift, __m128i& first, __m128i& second) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i nibbles = _mm_set1_epi32(0x000F00F0);
  const __m128i toTop = _mm_set1_epi32(0x10000100);
  __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes));
  v = _mm_unpacklo_epi8(v, v);
  first = _mm_unpacklo_epi8(v, zero);
  second = _mm_unpackhi_epi8(v, zero);
  first = _mm_sra_epi16(_mm_mullo_epi16(_mm_and_si128(first, nibbles), toTop), shift);
  second = _mm_sra_epi16(_mm_mullo_epi16(_mm_and_si128(second, nibbles), toTop), shift);
}

// `h` holds the previous two samples as the pair of every 32-bit lane.
inline __m128i historyPair(const AdpcmHistory& history) {
  return _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(history.h[6]) |
                                             static_cast<uint32_t>(static_cast<uint16_t>(history.h[7])) << 16));
}

inline void keepHistory(__m128i h, AdpcmHistory& history) {
  const int32_t pair = _mm_cvtsi128_si32(h);
  history.h[6] = static_cast<int16_t>(pair & 0xFFFF);
  history.h[7] = static_cast<int16_t>(static_cast<uint32_t>(pair) >> 16);
}

// One half frame of residuals `x` after history `h`, in 128-bit lanes: the
// outputs 0-3 and 4-7 apart.
inline __m128i halfFrameSse2(const int16_t (&pairs)[5][2][8], __m128i x, __m128i h) {
  const __m128i* p = reinterpret_cast<const __m128i*>(pairs);
  __m128i lo = _mm_madd_epi16(_mm_shuffle_epi32(x, 0x00), p[2]);
  __m128i hi = _mm_madd_epi16(_mm_shuffle_epi32(x, 0x00), p[3]);
  lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_shuffle_epi32(x, 0x55), p[4]));
  hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_shuffle_epi32(x, 0x55), p[5]));
  lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_shuffle_epi32(x, 0xAA), p[6]));
  hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_shuffle_epi32(x, 0xAA), p[7]));
  lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_shuffle_epi32(x, 0xFF), p[8]));
  hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_shuffle_epi32(x, 0xFF), p[9]));
  lo = _mm_add_epi32(lo, _mm_madd_epi16(h, p[0]));
  hi = _mm_add_epi32(hi, _mm_madd_epi16(h, p[1]));
  return _mm_packs_epi32(_mm_srai_epi32(lo, kFractionBits), _mm_srai_epi32(hi, kFractionBits));
}

// The same with the residuals' part in 256-bit lanes, all 8 outputs at
// once; the history's part, the one that waits on the half before, stays
// in 128-bit lanes.
__attribute__((target("avx2"))) inline __m128i halfFrameAvx2(const int16_t (&pairs)[5][2][8],
                                                             __m128i x, __m128i h) {
  const __m128i* p = reinterpret_cast<const __m128i*>(pairs);
  const __m256i* m = reinterpret_cast<const __m256i*>(pairs);
  const __m256i xx = _mm256_broadcastsi128_si256(x);
  __m256i acc = _mm256_madd_epi16(_mm256_shuffle_epi32(xx, 0x00), _mm256_load_si256(m + 1));
  acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_shuffle_epi32(xx, 0x55), _mm256_load_si256(m + 2)));
  acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_shuffle_epi32(xx, 0xAA), _mm256_load_si256(m + 3)));
  acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_shuffle_epi32(xx, 0xFF), _mm256_load_si256(m + 4)));
  const __m128i lo = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm_madd_epi16(h, p[0]));
  const __m128i hi = _mm_add_epi32(_mm256_extracti128_si256(acc, 1), _mm_madd_epi16(h, p[1]));
  return _mm_packs_epi32(_mm_srai_epi32(lo, kFractionBits), _mm_srai_epi32(hi, kFractionBits));
}

}  // namespace

// The two vectorised loops differ only in their half frame. A frame of a
// scale beyond its predictor's exact bound takes the 64-bit path, from and
// back to the vector history. x86 is little-endian: the lanes are stored as
// the file wants them.
#define ZAFT_ADPCM_VECTOR_LOOP(halfFrame)                                                   \
  __m128i h = historyPair(history);                                                          \
  bool scalarLast = false;                                                                   \
  for (size_t f = 0; f < count; ++f, frames += kAdpcmFrameBytes, out += 32) {                \
    const uint8_t header = frames[0];                                                        \
    const Predictor& p = predictors_[header & 0x0F];                                         \
    if (!p.held && missing < 0) missing = header & 0x0F;                                     \
    const int scale = std::min(header >> 4, kAdpcmMaxScale);                                 \
    if (scale > p.maxScale) {                                                                \
      if (!scalarLast) keepHistory(h, history);                                              \
      decodeScalar(history, frames, 1, out, missing);                                        \
      h = historyPair(history);                                                              \
      scalarLast = true;                                                                     \
      continue;                                                                              \
    }                                                                                        \
    scalarLast = false;                                                                      \
    __m128i x0, x1;                                                                          \
    residuals(frames + 1, _mm_cvtsi32_si128(12 - scale), x0, x1);                            \
    const __m128i first = halfFrame(p.pairs, x0, h);                                         \
    const __m128i second = halfFrame(p.pairs, x1, _mm_shuffle_epi32(first, 0xFF));           \
    h = _mm_shuffle_epi32(second, 0xFF);                                                     \
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), first);                                \
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), second);                          \
  }                                                                                          \
  if (!scalarLast) keepHistory(h, history);

void AdpcmKernel::decodeSse2(AdpcmHistory& history, const uint8_t* frames, size_t count,
                             uint8_t* out, int32_t& missing) const {
  ZAFT_ADPCM_VECTOR_LOOP(halfFrameSse2)
}

__attribute__((target("avx2"))) void AdpcmKernel::decodeAvx2(AdpcmHistory& history,
                                                             const uint8_t* frames, size_t count,
                                                             uint8_t* out, int32_t& missing) const {
  ZAFT_ADPCM_VECTOR_LOOP(halfFrameAvx2)
}

#undef ZAFT_ADPCM_VECTOR_LOOP

bool AdpcmKernel::runs(AdpcmPath path) {
  if (path == AdpcmPath::Avx2) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
  }
  return true;
}

#else

// Only the exact path elsewhere.
void AdpcmKernel::decodeSse2(AdpcmHistory& history, const uint8_t* frames, size_t count,
                             uint8_t* out, int32_t& missing) const {
  decodeScalar(history, frames, count, out, missing);
}
void AdpcmKernel::decodeAvx2(AdpcmHistory& history, const uint8_t* frames, size_t count,
                             uint8_t* out, int32_t& missing) const {
  decodeScalar(history, frames, count, out, missing);
}
bool AdpcmKernel::runs(AdpcmPath path) { return path == AdpcmPath::Scalar; }

#endif

AdpcmPath AdpcmKernel::fastestPath() {
  static const AdpcmPath fastest = runs(AdpcmPath::Avx2)   ? AdpcmPath::Avx2
                                   : runs(AdpcmPath::Sse2) ? AdpcmPath::Sse2
                                                           : AdpcmPath::Scalar;
  return fastest;
}

void AdpcmKernel::decode(AdpcmPath path, AdpcmHistory& history, const uint8_t* frames,
                         size_t count, uint8_t* out, int32_t& missing) const {
  switch (path) {
    case AdpcmPath::Avx2: decodeAvx2(history, frames, count, out, missing); break;
    case AdpcmPath::Sse2: decodeSse2(history, frames, count, out, missing); break;
    case AdpcmPath::Scalar: decodeScalar(history, frames, count, out, missing); break;
  }
}

}  // namespace zaft
