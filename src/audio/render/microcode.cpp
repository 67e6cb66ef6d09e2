#include "audio/render/microcode.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace zaft::render {

// The resampler's 64 phases of 4 taps, in 1.15, as the microcode holds them.
const int16_t kResampleTable[64][4] = {
    {  3129,  26285,   3398,    -33}, {  2873,  26262,   3679,    -40},
    {  2628,  26217,   3971,    -48}, {  2394,  26150,   4276,    -56},
    {  2173,  26061,   4592,    -65}, {  1963,  25950,   4920,    -74},
    {  1764,  25817,   5260,    -84}, {  1576,  25663,   5611,    -95},
    {  1399,  25487,   5974,   -106}, {  1233,  25291,   6347,   -118},
    {  1077,  25075,   6732,   -130}, {   932,  24838,   7127,   -143},
    {   796,  24583,   7532,   -156}, {   671,  24309,   7947,   -170},
    {   554,  24016,   8371,   -184}, {   446,  23706,   8804,   -198},
    {   347,  23379,   9246,   -212}, {   257,  23036,   9696,   -226},
    {   174,  22678,  10153,   -240}, {    99,  22304,  10618,   -254},
    {    31,  21917,  11088,   -268}, {   -30,  21517,  11564,   -280},
    {   -84,  21104,  12045,   -293}, {  -132,  20679,  12531,   -304},
    {  -173,  20244,  13020,   -314}, {  -210,  19799,  13512,   -323},
    {  -241,  19345,  14006,   -330}, {  -267,  18882,  14501,   -336},
    {  -289,  18413,  14997,   -340}, {  -306,  17937,  15493,   -341},
    {  -320,  17456,  15988,   -340}, {  -330,  16970,  16480,   -337},
    {  -337,  16480,  16970,   -330}, {  -340,  15988,  17456,   -320},
    {  -341,  15493,  17937,   -306}, {  -340,  14997,  18413,   -289},
    {  -336,  14501,  18882,   -267}, {  -330,  14006,  19345,   -241},
    {  -323,  13512,  19799,   -210}, {  -314,  13020,  20244,   -173},
    {  -304,  12531,  20679,   -132}, {  -293,  12045,  21104,    -84},
    {  -280,  11564,  21517,    -30}, {  -268,  11088,  21917,     31},
    {  -254,  10618,  22304,     99}, {  -240,  10153,  22678,    174},
    {  -226,   9696,  23036,    257}, {  -212,   9246,  23379,    347},
    {  -198,   8804,  23706,    446}, {  -184,   8371,  24016,    554},
    {  -170,   7947,  24309,    671}, {  -156,   7532,  24583,    796},
    {  -143,   7127,  24838,    932}, {  -130,   6732,  25075,   1077},
    {  -118,   6347,  25291,   1233}, {  -106,   5974,  25487,   1399},
    {   -95,   5611,  25663,   1576}, {   -84,   5260,  25817,   1764},
    {   -74,   4920,  25950,   1963}, {   -65,   4592,  26061,   2173},
    {   -56,   4276,  26150,   2394}, {   -48,   3971,  26217,   2628},
    {   -40,   3679,  26262,   2873}, {   -33,   3398,  26285,   3129},
};

// The synthesizer's equal-power pan and effect-send curve (1.15): 128
// gains, a quarter cosine from 32767 down to 0.
const int16_t kEqualPower[128] = {
    32767, 32764, 32757, 32744, 32727, 32704, 32677, 32644, 32607, 32564, 32517, 32464,
    32407, 32344, 32277, 32205, 32127, 32045, 31958, 31866, 31770, 31668, 31561, 31450,
    31334, 31213, 31087, 30957, 30822, 30682, 30537, 30388, 30234, 30075, 29912, 29744,
    29572, 29395, 29214, 29028, 28838, 28643, 28444, 28241, 28033, 27821, 27605, 27385,
    27160, 26931, 26698, 26461, 26220, 25975, 25726, 25473, 25216, 24956, 24691, 24423,
    24151, 23875, 23596, 23313, 23026, 22736, 22442, 22145, 21845, 21541, 21234, 20924,
    20610, 20294, 19974, 19651, 19325, 18997, 18665, 18331, 17993, 17653, 17310, 16965,
    16617, 16266, 15913, 15558, 15200, 14840, 14477, 14113, 13746, 13377, 13006, 12633,
    12258, 11881, 11503, 11122, 10740, 10357,  9971,  9584,  9196,  8806,  8415,  8023,
     7630,  7235,  6839,  6442,  6044,  5646,  5246,  4845,  4444,  4042,  3640,  3237,
     2833,  2429,  2025,  1620,  1216,   810,   405,     0,
};

namespace {

#if defined(__SSE2__)
inline __m128i load8(const int16_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store8(int16_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline __m128i load4(const int16_t* p) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
// sat(dst + (src * gain >> 15)) for 8 samples. The shifted product is
// bits 15..30 of the 32-bit one, which is exact in 16 bits unless both
// factors are -32768 (callers keep such gains away), and a saturating add
// of two 16-bit numbers is the clamped sum.
inline __m128i mix8(__m128i dst, __m128i src, __m128i gain) {
  const __m128i lo = _mm_mullo_epi16(src, gain);
  const __m128i hi = _mm_mulhi_epi16(src, gain);
  const __m128i product = _mm_or_si128(_mm_slli_epi16(hi, 1), _mm_srli_epi16(lo, 15));
  return _mm_adds_epi16(dst, product);
}
#endif

template <bool kVector>
void resampleImpl(ResampleState& state, bool init, uint16_t pitch, int16_t* in, int16_t* out,
                  int32_t count) {
  int16_t* const base = in - 4;
  uint32_t fraction = 0;
  if (init) {
    for (int k = 0; k < 4; ++k) base[k] = 0;
  } else {
    for (int k = 0; k < 4; ++k) base[k] = state.history[k];
    fraction = state.fraction;
  }
  // The command takes the 1.15 increment; the position is 16.16. The
  // position after k outputs is (fraction + k * step) >> 16 and the phase
  // the next 6 bits below: one running sum (at most 65535 + 160 * 131070).
  const uint32_t step = static_cast<uint32_t>(pitch) << 1;
  uint32_t acc = fraction;
  int32_t i = 0;
#if defined(__SSE2__)
  if constexpr (kVector) {
    // Four outputs at a time: each one's 4 samples and 4 taps side by side,
    // multiplied and summed in pairs, the pairs summed across.
    for (; i + 4 <= count; i += 4) {
      __m128i s[4], t[4];
      for (int j = 0; j < 4; ++j) {
        s[j] = load4(base + (acc >> 16));
        t[j] = load4(kResampleTable[(acc >> 10) & 63]);
        acc += step;
      }
      const __m128i a = _mm_madd_epi16(_mm_unpacklo_epi64(s[0], s[1]), _mm_unpacklo_epi64(t[0], t[1]));
      const __m128i b = _mm_madd_epi16(_mm_unpacklo_epi64(s[2], s[3]), _mm_unpacklo_epi64(t[2], t[3]));
      const __m128i u = _mm_unpacklo_epi32(a, b);
      const __m128i v = _mm_unpackhi_epi32(a, b);
      const __m128i sum = _mm_add_epi32(_mm_unpacklo_epi64(u, v), _mm_unpackhi_epi64(u, v));
      const __m128i ordered = _mm_shuffle_epi32(sum, _MM_SHUFFLE(3, 1, 2, 0));
      const __m128i packed = _mm_packs_epi32(_mm_srai_epi32(ordered, 15), ordered);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), packed);
    }
  }
#endif
  for (; i < count; ++i) {
    const int16_t* tap = kResampleTable[(acc >> 10) & 63];
    const int16_t* s = base + (acc >> 16);
    const int32_t sum = s[0] * tap[0] + s[1] * tap[1] + s[2] * tap[2] + s[3] * tap[3];
    out[i] = clamp16(sum >> 15);
    acc += step;
  }
  const uint32_t pos = acc >> 16;
  fraction = acc & 0xFFFF;
  for (int k = 0; k < 4; ++k) state.history[k] = base[pos + k];
  state.fraction = static_cast<uint16_t>(fraction);
}


inline int16_t mixedGain(int16_t volume, int16_t amount) {
  return clamp16((volume * amount + 0x4000) >> 15);
}

inline void mixSample(int16_t& out, int16_t in, int16_t gain) {
  out = clamp16(out + ((in * gain) >> 15));
}

// One side's ramp: 16.16 value, its step per sample and its target.
struct Ramp {
  int64_t value, step, target;
  // Moves one sample; stops at the target.
  int16_t next() {
    value += step;
    if (step <= 0 ? value <= target : value >= target) {
      value = target;
      step = 0;
    }
    return static_cast<int16_t>(value >> 16);
  }
};

#if defined(__SSE2__)
// mix8 sixteen samples at a time, where the processor has AVX2; returns
// how many samples it mixed.
__attribute__((target("avx2"))) int32_t mixAvx2(int16_t* out, const int16_t* in, int32_t count,
                                                int16_t gain) {
  const __m256i g = _mm256_set1_epi16(gain);
  int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out + i));
    const __m256i lo = _mm256_mullo_epi16(x, g);
    const __m256i hi = _mm256_mulhi_epi16(x, g);
    const __m256i product = _mm256_or_si256(_mm256_slli_epi16(hi, 1), _mm256_srli_epi16(lo, 15));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_adds_epi16(d, product));
  }
  return i;
}

bool haveAvx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}
#endif

template <bool kVector>
void mixImpl(int16_t* out, const int16_t* in, int32_t count, int16_t gain) {
  int32_t i = 0;
#if defined(__SSE2__)
  if constexpr (kVector) {
    if (gain == INT16_MIN) return mixImpl<false>(out, in, count, gain);
    if (haveAvx2()) i = mixAvx2(out, in, count, gain);
    const __m128i g = _mm_set1_epi16(gain);
    for (; i + 8 <= count; i += 8) store8(out + i, mix8(load8(out + i), load8(in + i), g));
  }
#endif
  for (; i < count; ++i) mixSample(out[i], in[i], gain);
}

template <bool kVector>
void envMixImpl(EnvMixState& state, bool init, const EnvMixSettings& settings, const int16_t* in,
                int32_t count, int16_t* dryL, int16_t* dryR, int16_t* wetL, int16_t* wetR) {
  Ramp ramp[2];
  int32_t sequence[2], rate[2];
  int16_t dry, wet;
  if (init) {
    dry = settings.dry;
    wet = settings.wet;
    for (int s = 0; s < 2; ++s) {
      ramp[s].value = static_cast<int64_t>(settings.volume[s]) * 65536;
      ramp[s].target = static_cast<int64_t>(settings.target[s]) * 65536;
      rate[s] = settings.rate[s];
      // A 32-bit product that may wrap, as the signal processor's does.
      sequence[s] = static_cast<int32_t>(
          static_cast<uint32_t>(static_cast<int64_t>(settings.volume[s]) * settings.rate[s]));
    }
  } else {
    dry = state.dry;
    wet = state.wet;
    for (int s = 0; s < 2; ++s) {
      ramp[s].value = state.value[s];
      ramp[s].target = state.target[s];
      rate[s] = state.rate[s];
      sequence[s] = state.sequence[s];
    }
  }
  for (int s = 0; s < 2; ++s) ramp[s].step = ramp[s].target - ramp[s].value;

  for (int32_t block = 0; block < count; block += 8) {
    for (int s = 0; s < 2; ++s) {
      if (ramp[s].step != 0) {
        sequence[s] = static_cast<int32_t>(
            static_cast<uint32_t>((static_cast<int64_t>(sequence[s]) * rate[s]) >> 16));
        ramp[s].step = (sequence[s] - ramp[s].value) >> 3;
      }
    }
    const int32_t end = block + 8 < count ? block + 8 : count;
    if (kVector && ramp[0].step == 0 && ramp[1].step == 0) {
      // Both steps are 0 and stay so to the end of the command (a step is
      // only recomputed while it is not 0). A side below its target meets
      // it at the first sample (with a step of 0 the ramp counts as
      // arrived); then every sample has the same four gains. A gain of 0
      // adds nothing (a voice without effect send).
      for (Ramp& side : ramp) {
        if (side.value <= side.target) side.value = side.target;
      }
      const int16_t l = static_cast<int16_t>(ramp[0].value >> 16);
      const int16_t r = static_cast<int16_t>(ramp[1].value >> 16);
      const int16_t gains[4] = {mixedGain(l, dry), mixedGain(r, dry), mixedGain(l, wet),
                                mixedGain(r, wet)};
      int16_t* const outs[4] = {dryL + block, dryR + block, wetL + block, wetR + block};
      for (int k = 0; k < 4; ++k) {
        if (gains[k] != 0) mixImpl<kVector>(outs[k], in + block, count - block, gains[k]);
      }
      break;
    }
    for (int32_t i = block; i < end; ++i) {
      const int16_t l = ramp[0].next();
      const int16_t r = ramp[1].next();
      const int16_t x = in[i];
      mixSample(dryL[i], x, mixedGain(l, dry));
      mixSample(dryR[i], x, mixedGain(r, dry));
      mixSample(wetL[i], x, mixedGain(l, wet));
      mixSample(wetR[i], x, mixedGain(r, wet));
    }
  }

  state.dry = dry;
  state.wet = wet;
  for (int s = 0; s < 2; ++s) {
    state.target[s] = static_cast<int32_t>(ramp[s].target);
    state.rate[s] = rate[s];
    state.sequence[s] = sequence[s];
    state.value[s] = static_cast<int32_t>(ramp[s].value);
  }
}

}  // namespace

void resample(ResampleState& state, bool init, uint16_t pitch, int16_t* in, int16_t* out,
              int32_t count) {
  resampleImpl<true>(state, init, pitch, in, out, count);
}

void envMix(EnvMixState& state, bool init, const EnvMixSettings& settings, const int16_t* in,
            int32_t count, int16_t* dryL, int16_t* dryR, int16_t* wetL, int16_t* wetR) {
  envMixImpl<true>(state, init, settings, in, count, dryL, dryR, wetL, wetR);
}

void mix(int16_t* out, const int16_t* in, int32_t count, int16_t gain) {
  mixImpl<true>(out, in, count, gain);
}

namespace scalar {

void resample(ResampleState& state, bool init, uint16_t pitch, int16_t* in, int16_t* out,
              int32_t count) {
  resampleImpl<false>(state, init, pitch, in, out, count);
}

void envMix(EnvMixState& state, bool init, const EnvMixSettings& settings, const int16_t* in,
            int32_t count, int16_t* dryL, int16_t* dryR, int16_t* wetL, int16_t* wetR) {
  envMixImpl<false>(state, init, settings, in, count, dryL, dryR, wetL, wetR);
}

void mix(int16_t* out, const int16_t* in, int32_t count, int16_t gain) {
  mixImpl<false>(out, in, count, gain);
}

}  // namespace scalar

namespace {

template <bool kVector>
void poleFilterImpl(PoleState& state, bool init, const int16_t coefficients[16], uint16_t gain,
                    int16_t* buf, int32_t count) {
  const int16_t* const older = coefficients;      // weights of the sample two back
  const int16_t* const last = coefficients + 8;   // weights of the last sample
  // The weights of the block's own inputs: the last sample's, scaled by
  // the gain and kept to 16 bits as the microcode keeps them.
  int16_t inputs[8];
  for (int i = 0; i < 8; ++i) inputs[i] = static_cast<int16_t>((last[i] * gain) >> 14);
  int16_t l1 = init ? 0 : state.last[0];
  int16_t l2 = init ? 0 : state.last[1];
  int32_t block = 0;
#if defined(__SSE2__)
  if constexpr (kVector) {
    if (gain <= INT16_MAX) {
      // Output i of a block is row i of an 8 x 10 matrix times (x0..x7,
      // l1, l2): the gain on the diagonal, the input weights below it, the
      // two history weights last. Columns go in pairs to the multiply-add;
      // the sums stay in 32 bits as the scalar ones do.
      alignas(16) int16_t pairs[5][2][8] = {};
      for (int i = 0; i < 8; ++i) {
        int16_t row[10] = {};
        for (int j = 0; j < i; ++j) row[j] = inputs[i - 1 - j];
        row[i] = static_cast<int16_t>(gain);
        row[8] = older[i];
        row[9] = last[i];
        for (int p = 0; p < 5; ++p) {
          pairs[p][i / 4][2 * (i % 4)] = row[2 * p];
          pairs[p][i / 4][2 * (i % 4) + 1] = row[2 * p + 1];
        }
      }
      __m128i m[5][2];
      for (int p = 0; p < 5; ++p) {
        for (int h = 0; h < 2; ++h) m[p][h] = load8(pairs[p][h]);
      }
      for (; block + 8 <= count; block += 8) {
        const __m128i x = load8(buf + block);
        const __m128i hist = _mm_set1_epi32(static_cast<int32_t>(
            (static_cast<uint32_t>(static_cast<uint16_t>(l2)) << 16) | static_cast<uint16_t>(l1)));
        __m128i lo = _mm_madd_epi16(hist, m[4][0]);
        __m128i hi = _mm_madd_epi16(hist, m[4][1]);
        const __m128i xs[4] = {_mm_shuffle_epi32(x, 0x00), _mm_shuffle_epi32(x, 0x55),
                               _mm_shuffle_epi32(x, 0xAA), _mm_shuffle_epi32(x, 0xFF)};
        for (int p = 0; p < 4; ++p) {
          lo = _mm_add_epi32(lo, _mm_madd_epi16(xs[p], m[p][0]));
          hi = _mm_add_epi32(hi, _mm_madd_epi16(xs[p], m[p][1]));
        }
        const __m128i y = _mm_packs_epi32(_mm_srai_epi32(lo, 14), _mm_srai_epi32(hi, 14));
        store8(buf + block, y);
        l1 = static_cast<int16_t>(_mm_extract_epi16(y, 6));
        l2 = static_cast<int16_t>(_mm_extract_epi16(y, 7));
      }
    }
  }
#endif
  for (; block < count; block += 8) {
    int16_t x[8];
    for (int i = 0; i < 8; ++i) x[i] = buf[block + i];
    for (int i = 0; i < 8; ++i) {
      int32_t acc = x[i] * static_cast<int32_t>(gain) + older[i] * l1 + last[i] * l2;
      for (int k = 0; k < i; ++k) acc += inputs[k] * x[i - 1 - k];
      buf[block + i] = clamp16(acc >> 14);
    }
    l1 = buf[block + 6];
    l2 = buf[block + 7];
  }
  state.last[0] = l1;
  state.last[1] = l2;
}

}  // namespace

void poleFilter(PoleState& state, bool init, const int16_t coefficients[16], uint16_t gain,
                int16_t* buf, int32_t count) {
  poleFilterImpl<true>(state, init, coefficients, gain, buf, count);
}

void scalar::poleFilter(PoleState& state, bool init, const int16_t coefficients[16],
                        uint16_t gain, int16_t* buf, int32_t count) {
  poleFilterImpl<false>(state, init, coefficients, gain, buf, count);
}

}  // namespace zaft::render
