#include "support/synth.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace zaft::test {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kPeak = 0.7 * 32767.0;  // where every generator puts its loudest sample

size_t sampleCount(int rate, double seconds) {
  return static_cast<size_t>(std::lround(rate * seconds));
}

// Scales to kPeak and rounds to 16 bits. One factor for the whole sample, so
// a periodic loop region stays periodic.
std::vector<int16_t> toPcm(const std::vector<double>& signal) {
  double peak = 0;
  for (double v : signal) peak = std::max(peak, std::fabs(v));
  const double gain = peak > 0 ? kPeak / peak : 0;
  std::vector<int16_t> pcm(signal.size());
  for (size_t i = 0; i < signal.size(); ++i) {
    pcm[i] = static_cast<int16_t>(std::lround(signal[i] * gain));
  }
  return pcm;
}

// A linear fade over the last `seconds`, so that a one-shot ends in silence.
void fadeOut(std::vector<double>& signal, int rate, double seconds) {
  const size_t n = std::min(signal.size(), sampleCount(rate, seconds));
  for (size_t i = 0; i < n; ++i) {
    signal[signal.size() - 1 - i] *= static_cast<double>(i) / static_cast<double>(n);
  }
}

// One-pole low-pass coefficient for a cutoff in Hz.
double onePole(int rate, double hz) { return 1.0 - std::exp(-2.0 * kPi * hz / rate); }

std::vector<double> karplusStrong(int rate, double hz, double seconds, uint32_t seed,
                                  int burstSmoothing, double endLevel) {
  // The averaging filter delays by half a sample, so the line is half a
  // sample shorter than the period.
  const size_t period = std::max<size_t>(2, static_cast<size_t>(std::lround(rate / hz - 0.5)));
  NoiseSource noise(seed);
  std::vector<double> line(period);
  for (double& v : line) v = noise.uniform();
  for (int pass = 0; pass < burstSmoothing; ++pass) {
    std::vector<double> smooth(period);
    for (size_t i = 0; i < period; ++i) {
      smooth[i] = (line[(i + period - 1) % period] + 2 * line[i] + line[(i + 1) % period]) / 4;
    }
    line = smooth;
  }
  double mean = 0;
  for (double v : line) mean += v;
  mean /= static_cast<double>(period);
  for (double& v : line) v -= mean;

  const size_t n = sampleCount(rate, seconds);
  const double loss = std::exp(std::log(endLevel) / static_cast<double>(n));
  std::vector<double> out(n);
  size_t at = 0;
  for (size_t i = 0; i < n; ++i) {
    const double cur = line[at];
    const double next = line[(at + 1) % period];
    out[i] = cur;
    line[at] = loss * 0.5 * (cur + next);
    at = (at + 1) % period;
  }
  fadeOut(out, rate, 0.01);
  return out;
}

// A loop of `length` samples in which partial k of every voice completes
// k * cycles[voice] whole cycles, built from one sine table of the loop's
// length so that the region repeats exactly.
struct Partial {
  int64_t cyclesPerLoop;
  double amplitude;
  int64_t phase;  // in table steps
};

std::vector<double> periodicLoop(size_t length, const std::vector<Partial>& partials) {
  std::vector<double> table(length);
  for (size_t i = 0; i < length; ++i) {
    table[i] = std::sin(2.0 * kPi * static_cast<double>(i) / static_cast<double>(length));
  }
  std::vector<double> loop(length, 0.0);
  const auto len = static_cast<int64_t>(length);
  for (const Partial& p : partials) {
    for (int64_t t = 0; t < len; ++t) {
      loop[static_cast<size_t>(t)] += p.amplitude * table[static_cast<size_t>((p.cyclesPerLoop * t + p.phase) % len)];
    }
  }
  return loop;
}

// A raised-cosine fade-in over `attack` samples, then the loop repeated.
LoopedSample withAttack(const std::vector<double>& loop, size_t attack) {
  std::vector<double> signal(attack + loop.size());
  for (size_t i = 0; i < signal.size(); ++i) {
    const double gain =
        i < attack ? 0.5 - 0.5 * std::cos(kPi * static_cast<double>(i) / static_cast<double>(attack)) : 1.0;
    // The region before the loop is the loop's tail, so that the attack
    // runs into the loop start without a jump.
    const size_t phase = (i + loop.size() - attack % loop.size()) % loop.size();
    signal[i] = gain * loop[phase];
  }
  LoopedSample out;
  out.pcm = toPcm(signal);
  out.loopStart = static_cast<int32_t>(attack);
  out.loopEnd = static_cast<int32_t>(attack + loop.size());
  return out;
}

// Loop lengths and attacks are kept to whole 16-sample frames, as the
// console's tools prefer for ADPCM loops.
size_t frameRounded(int rate, double seconds) {
  return std::max<size_t>(16, (sampleCount(rate, seconds) + 8) / 16 * 16);
}

}  // namespace

std::vector<int16_t> sineSweep(int rate, double seconds, double fromHz, double toHz,
                               double amplitude) {
  const size_t n = sampleCount(rate, seconds);
  std::vector<int16_t> pcm(n);
  const double ratio = toHz / fromHz;
  double phase = 0;
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(n);
    const double hz = fromHz * std::pow(ratio, t);
    pcm[i] = static_cast<int16_t>(std::lround(amplitude * 32767.0 * std::sin(phase)));
    phase += 2.0 * kPi * hz / rate;
  }
  return pcm;
}

std::vector<int16_t> whiteNoise(int rate, double seconds, double amplitude, uint32_t seed) {
  NoiseSource noise(seed);
  std::vector<int16_t> pcm(sampleCount(rate, seconds));
  for (int16_t& v : pcm) v = static_cast<int16_t>(std::lround(amplitude * 32767.0 * noise.uniform()));
  return pcm;
}

std::vector<int16_t> pluckedString(int rate, double hz, double seconds, uint32_t seed) {
  return toPcm(karplusStrong(rate, hz, seconds, seed, 1, 0.02));
}

std::vector<int16_t> pluckedBass(int rate, double hz, double seconds, uint32_t seed) {
  return toPcm(karplusStrong(rate, hz, seconds, seed, 6, 0.08));
}

std::vector<int16_t> kickDrum(int rate) {
  const size_t n = sampleCount(rate, 0.5);
  NoiseSource noise(0x4B1C4u);
  std::vector<double> out(n);
  double phase = 0;
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double hz = 48.0 + 120.0 * std::exp(-t / 0.035);
    double v = std::sin(phase) * std::exp(-t / 0.22);
    v += 0.3 * noise.uniform() * std::exp(-t / 0.002);  // the beater's click
    out[i] = v;
    phase += 2.0 * kPi * hz / rate;
  }
  fadeOut(out, rate, 0.02);
  return toPcm(out);
}

std::vector<int16_t> snareDrum(int rate, uint32_t seed) {
  const size_t n = sampleCount(rate, 0.4);
  NoiseSource noise(seed);
  std::vector<double> out(n);
  const double hiCut = onePole(rate, 6000.0);
  const double loCut = onePole(rate, 500.0);
  double hi = 0, lo = 0;
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double x = noise.uniform();
    hi += hiCut * (x - hi);
    lo += loCut * (hi - lo);
    const double rattle = (hi - lo) * std::exp(-t / 0.11);
    const double body = (0.6 * std::sin(2.0 * kPi * 185.0 * t) + 0.35 * std::sin(2.0 * kPi * 330.0 * t)) *
                        std::exp(-t / 0.045);
    out[i] = 1.4 * rattle + body;
  }
  fadeOut(out, rate, 0.02);
  return toPcm(out);
}

std::vector<int16_t> hiHat(int rate, uint32_t seed) {
  const size_t n = sampleCount(rate, 0.35);
  NoiseSource noise(seed);
  std::vector<double> out(n);
  const double cut = onePole(rate, 7000.0);
  double lo = 0, prev = 0;
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double x = noise.uniform();
    lo += cut * (x - lo);
    const double high = x - lo;  // what the low-pass leaves out
    out[i] = (high - 0.5 * prev) * std::exp(-t / 0.07);
    prev = high;
  }
  fadeOut(out, rate, 0.02);
  return toPcm(out);
}

LoopedSample pad(int rate, double hz, double attackSeconds, double loopSeconds) {
  const size_t length = frameRounded(rate, loopSeconds);
  const auto base = std::max<int64_t>(2, std::llround(hz * static_cast<double>(length) / rate));
  // Three saws a cycle apart per loop (a slow chorus) and one an octave up.
  const int64_t voices[] = {base - 1, base, base + 1, 2 * base};
  const double voiceGain[] = {1.0, 1.0, 1.0, 0.45};
  const double cutoff = 900.0;
  NoiseSource phases(0x9AD0u);
  std::vector<Partial> partials;
  for (int v = 0; v < 4; ++v) {
    const int64_t phase = static_cast<int64_t>(phases.next() % length);
    for (int64_t k = 1;; ++k) {
      const double partialHz = static_cast<double>(k * voices[v]) * rate / static_cast<double>(length);
      if (partialHz > 0.45 * rate) break;
      const double lowPass = 1.0 / std::sqrt(1.0 + std::pow(partialHz / cutoff, 4));
      const double amplitude = voiceGain[v] * lowPass / static_cast<double>(k);
      if (amplitude < 1e-4) break;
      partials.push_back({k * voices[v], amplitude, k * phase});
    }
  }
  return withAttack(periodicLoop(length, partials), frameRounded(rate, attackSeconds));
}

LoopedSample organ(int rate, double hz, double attackSeconds, double loopSeconds) {
  const size_t length = frameRounded(rate, loopSeconds);
  const auto base = std::max<int64_t>(1, std::llround(hz * static_cast<double>(length) / rate));
  const int64_t harmonics[] = {1, 2, 3, 4, 6};
  const double drawbars[] = {1.0, 0.6, 0.45, 0.25, 0.15};
  std::vector<Partial> partials;
  for (int h = 0; h < 5; ++h) partials.push_back({harmonics[h] * base, drawbars[h], 0});
  return withAttack(periodicLoop(length, partials), frameRounded(rate, attackSeconds));
}

std::vector<int16_t> bell(int rate, double hz, double seconds) {
  // Partials of a struck bell relative to its nominal pitch, each with its
  // own decay: the higher ones die sooner.
  const double ratios[] = {0.5, 1.0, 1.19, 1.56, 2.0, 2.51, 2.66, 3.01, 4.1};
  const double levels[] = {0.5, 1.0, 0.45, 0.35, 0.5, 0.25, 0.2, 0.15, 0.1};
  const size_t n = sampleCount(rate, seconds);
  std::vector<double> out(n, 0.0);
  for (int p = 0; p < 9; ++p) {
    const double partialHz = hz * ratios[p];
    if (partialHz > 0.45 * rate) continue;
    const double decay = 0.9 / ratios[p];
    for (size_t i = 0; i < n; ++i) {
      const double t = static_cast<double>(i) / rate;
      out[i] += levels[p] * std::sin(2.0 * kPi * partialHz * t) * std::exp(-t / decay);
    }
  }
  fadeOut(out, rate, 0.05);
  return toPcm(out);
}

std::vector<int16_t> zap(int rate, double seconds) {
  const size_t n = sampleCount(rate, seconds);
  std::vector<double> out(n);
  double phase = 0;
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(n);
    const double hz = 2400.0 * std::pow(150.0 / 2400.0, t);
    out[i] = (std::sin(phase) + 0.3 * std::sin(3 * phase) + 0.15 * std::sin(5 * phase)) * (1.0 - t);
    phase += 2.0 * kPi * hz / rate;
  }
  return toPcm(out);
}

}  // namespace zaft::test
