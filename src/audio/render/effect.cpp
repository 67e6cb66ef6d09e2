#include "audio/render/effect.h"

#include <algorithm>
#include <utility>

#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#endif

namespace zaft::render {

namespace {

// The library's preset "milliseconds": (int)44.1 rounded down to a
// multiple of 8 samples.
constexpr int32_t kMs = 40;
// The chorus sweep's range and the cents-to-log constant the library uses
// (120000 / ln 2, for hundredths of a cent).
constexpr double kRange = 2.0;
constexpr double kCentsToLog = 173123.404906676;
// The low-pass coefficients' scale (14 fraction bits).
constexpr int32_t kFilterScale = 16384;

void initLowPass(int16_t fc, int16_t coefficients[16], uint16_t* gain) {
  const int32_t scaled = fc * kFilterScale;
  const int16_t c = static_cast<int16_t>(scaled >> 15);
  *gain = static_cast<uint16_t>(kFilterScale - c);
  for (int i = 0; i < 8; ++i) coefficients[i] = 0;
  coefficients[8] = c;
  const double ffc = static_cast<double>(c) / kFilterScale;
  double power = ffc;
  for (int i = 9; i < 16; ++i) {
    power *= ffc;
    coefficients[i] = static_cast<int16_t>(power * kFilterScale);
  }
}

}  // namespace

std::vector<Effect::Section> Effect::preset(FxType type, int32_t* length) {
  // The library's effect presets: sections of {input, output, feedback,
  // feed-forward, gain, chorus rate, chorus depth, low-pass}.
  switch (type) {
    case FxType::SmallRoom:
      *length = 100 * kMs;
      return {{0, 54 * kMs, 9830, -9830, 0, 0, 0, 0},
              {19 * kMs, 38 * kMs, 3276, -3276, 0x3fff, 0, 0, 0},
              {0, 60 * kMs, 5000, 0, 0, 0, 0, 0x5000}};
    case FxType::BigRoom:
      *length = 100 * kMs;
      return {{0, 66 * kMs, 9830, -9830, 0, 0, 0, 0},
              {22 * kMs, 54 * kMs, 3276, -3276, 0x3fff, 0, 0, 0},
              {66 * kMs, 91 * kMs, 3276, -3276, 0x3fff, 0, 0, 0},
              {0, 94 * kMs, 8000, 0, 0, 0, 0, 0x5000}};
    case FxType::Echo:
      *length = 200 * kMs;
      return {{0, 179 * kMs, 12000, 0, 0x7fff, 0, 0, 0}};
    case FxType::Chorus:
      *length = 20 * kMs;
      return {{0, 5 * kMs, 0x4000, 0, 0x7fff, 7600, 700, 0}};
    case FxType::Flange:
      *length = 20 * kMs;
      return {{0, 5 * kMs, 0, 0x5fff, 0x7fff, 380, 500, 0}};
    case FxType::None:
      break;
  }
  *length = 0;
  return {};
}

Effect::Effect(FxType type, int32_t outputRate) {
  int32_t length = 0;
  for (const Section& s : preset(type, &length)) {
    Delay d;
    d.s = s;
    if (s.chorusRate != 0) {
      d.modulated = true;
      d.rsinc = static_cast<float>(
          static_cast<double>(static_cast<float>(s.chorusRate) / 1000.0f) * kRange / outputRate);
      d.rsgain = static_cast<float>(static_cast<double>(static_cast<float>(s.chorusDepth)) /
                                    kCentsToLog * static_cast<double>(s.output - s.input));
      d.rsval = 1.0f;
    }
    if (s.lowPass != 0) {
      d.filtered = true;
      initLowPass(static_cast<int16_t>(s.lowPass), d.lpCoefficients, &d.lpGain);
    }
    delays_.push_back(d);
  }
  line_.assign(static_cast<size_t>(length), 0);
}

// Positions are taken modulo the line's length (the library's pointers
// wrap once, which is the same for every position its sections reach).
void Effect::load(int64_t pos, int16_t* dst, int32_t count) const {
  const int64_t n = static_cast<int64_t>(line_.size());
  const int64_t p = ((pos % n) + n) % n;
  const int64_t first = std::min<int64_t>(count, n - p);
  std::copy_n(line_.data() + p, first, dst);
  std::copy_n(line_.data(), count - first, dst + first);
}

void Effect::save(int64_t pos, const int16_t* src, int32_t count) {
  const int64_t n = static_cast<int64_t>(line_.size());
  const int64_t p = ((pos % n) + n) % n;
  const int64_t first = std::min<int64_t>(count, n - p);
  std::copy_n(src, first, line_.data() + p);
  std::copy_n(src + first, count - first, line_.data());
}

void Effect::loadOutputTap(Delay& d, int16_t* dst, int32_t count) {
  if (!d.modulated) {
    load(input_ - d.s.output, dst, count);
    return;
  }
  // The sweep: a sawtooth from -2 to 2 folded into a triangle from -1 to
  // 1, times the depth in samples, read as a pitch ratio over the delay.
  const int32_t length = static_cast<int32_t>(d.s.output - d.s.input);
  d.rsval += d.rsinc * static_cast<float>(count);
  if (static_cast<double>(d.rsval) > kRange) {
    d.rsval = static_cast<float>(static_cast<double>(d.rsval) - kRange * 2);
  }
  float val = d.rsval < 0 ? -d.rsval : d.rsval;
  val = static_cast<float>(static_cast<double>(val) - kRange / 2);
  float delta = d.rsgain * val;
  delta /= static_cast<float>(length);
  delta = static_cast<float>(static_cast<int32_t>(delta * 32768.0f));
  delta = delta / 32768.0f;
  const float ratio = static_cast<float>(1.0 - static_cast<double>(delta));
  const float wanted = d.rsFraction + ratio * static_cast<float>(count);
  const int32_t inCount = static_cast<int32_t>(wanted);
  d.rsFraction = wanted - static_cast<float>(inCount);
  // Four samples of room for the resampler's history, and a little past
  // the end for its last taps.
  int16_t in[4 + 2 * 160 + 8] = {};
  const int32_t loaded = std::clamp(inCount, 0, 2 * 160);
  load(input_ - (static_cast<int64_t>(d.s.output) - d.rsdelta), in + 4, loaded);
  resample(d.rs, d.rsFirst, static_cast<uint16_t>(static_cast<int32_t>(ratio * 32768.0f)), in + 4,
           dst, count);
  d.rsFirst = false;
  d.rsdelta += inCount - count;
}

void Effect::process(int16_t* auxL, int16_t* auxR, int32_t count) {
  if (delays_.empty()) return;
  // The two sides to mono at 0.707 each: L - 0.293 L, then + 0.707 R.
  mix(auxL, auxL, count, static_cast<int16_t>(0xda83));
  mix(auxL, auxR, count, 0x5a82);
  save(input_, auxL, count);
  int16_t a[160], b[160], out[160] = {};
  int16_t* buff1 = a;
  int16_t* buff2 = b;
  const Delay* previous = nullptr;
  for (Delay& d : delays_) {
    const int64_t inPos = input_ - d.s.input;
    const int64_t outPos = input_ - d.s.output;
    // The library skips the load when this section's input tap is the
    // previous section's output tap, as it compares them.
    if (previous != nullptr && static_cast<uint32_t>(0u - d.s.input) == previous->s.output) {
      std::swap(buff1, buff2);
    } else {
      load(inPos, buff1, count);
    }
    loadOutputTap(d, buff2, count);
    if (d.s.ffcoef != 0) {
      mix(buff2, buff1, count, d.s.ffcoef);
      if (!d.modulated && !d.filtered) save(outPos, buff2, count);
    }
    if (d.s.fbcoef != 0) {
      mix(buff1, buff2, count, d.s.fbcoef);
      save(inPos, buff1, count);
    }
    if (d.filtered) {
      poleFilter(d.lp, d.lpFirst, d.lpCoefficients, d.lpGain, buff2, count);
      d.lpFirst = false;
    }
    if (!d.modulated) save(outPos, buff2, count);
    if (d.s.gain != 0) mix(out, buff2, count, d.s.gain);
    previous = &d;
  }
  input_ += count;
  if (input_ > static_cast<int64_t>(line_.size())) input_ -= static_cast<int64_t>(line_.size());
  std::copy(out, out + count, auxL);
  std::copy(out, out + count, auxR);
}

}  // namespace zaft::render
