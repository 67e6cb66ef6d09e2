#include "support/vadpcm_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>

#include "audio/adpcm.h"

namespace zaft::test {

namespace {

constexpr size_t kFrameSamples = 16;
constexpr size_t kHalfSamples = 8;
constexpr size_t kFrameBytes = 9;
constexpr int kMaxScale = 12;

int16_t clamp16(int64_t v) {
  return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767));
}

// One half frame as the decoder computes it, choosing each residual in turn
// given the ones before it: sample i is
//   (c[i] h6 + c[8+i] h7 + sum_{k<i} c[7+i-k] x[k] + 2048 x[i]) >> 11,
// clamped, with x[k] = residual k << scale. Since 2048 x[i] is a multiple of
// 2048, the shift gives (prediction >> 11) + x[i] exactly, so the residual
// nearest to the target is found by rounding. Returns the squared error, or
// stops early with a value above `limit` once the error exceeds it.
int64_t quantiseHalf(const int16_t* c, int16_t h6, int16_t h7, const int16_t* target, int scale,
                     int64_t limit, uint8_t nibbles[kHalfSamples], int16_t out[kHalfSamples]) {
  int64_t x[kHalfSamples];
  int64_t error = 0;
  const int64_t half = scale > 0 ? int64_t{1} << (scale - 1) : 0;
  for (size_t i = 0; i < kHalfSamples; ++i) {
    int64_t acc = int64_t{c[i]} * h6 + int64_t{c[8 + i]} * h7;
    for (size_t k = 0; k < i; ++k) acc += int64_t{c[7 + i - k]} * x[k];
    const int64_t predicted = acc >> 11;
    const int64_t r = std::clamp<int64_t>((target[i] - predicted + half) >> scale, -8, 7);
    x[i] = r * (int64_t{1} << scale);
    out[i] = clamp16(predicted + x[i]);
    nibbles[i] = static_cast<uint8_t>(r & 0xF);
    const int64_t e = int64_t{target[i]} - out[i];
    error += e * e;
    if (error > limit) return error;
  }
  return error;
}

// The least-squares statistics of one stretch of signal for an order-2
// predictor: phi[i][j] = sum over n of x[n-i] x[n-j].
struct Covariance {
  double phi[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  void add(const Covariance& o) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) phi[i][j] += o.phi[i][j];
  }
};

struct Lpc {
  double a1 = 0;
  double a2 = 0;
};

// Prediction error energy of `p` over the stretch.
double predictionError(const Covariance& s, const Lpc& p) {
  const auto& f = s.phi;
  return f[0][0] - 2 * p.a1 * f[0][1] - 2 * p.a2 * f[0][2] + p.a1 * p.a1 * f[1][1] +
         2 * p.a1 * p.a2 * f[1][2] + p.a2 * p.a2 * f[2][2];
}

// Solves the 2x2 normal equations (slightly regularised, so silence and
// pure tones stay solvable) and keeps the result inside the stable region
// |a2| < 1, |a1| < 1 - a2.
Lpc fit(const Covariance& s) {
  const auto& f = s.phi;
  const double ridge = 1e-6 * (f[1][1] + f[2][2]) + 1e-3;
  const double m11 = f[1][1] + ridge, m22 = f[2][2] + ridge, m12 = f[1][2];
  const double det = m11 * m22 - m12 * m12;
  Lpc p;
  if (det <= 0) return p;
  p.a1 = (f[0][1] * m22 - f[0][2] * m12) / det;
  p.a2 = (f[0][2] * m11 - f[0][1] * m12) / det;
  p.a2 = std::clamp(p.a2, -0.995, 0.995);
  const double a1Limit = (1 - p.a2) * 0.999;
  p.a1 = std::clamp(p.a1, -a1Limit, a1Limit);
  return p;
}

}  // namespace

std::array<int16_t, 16> predictorFromLpc(double a1, double a2) {
  double g[9];
  g[0] = 1.0;
  g[1] = a1;
  for (int n = 2; n < 9; ++n) g[n] = a1 * g[n - 1] + a2 * g[n - 2];
  auto fixed = [](double v) { return clamp16(std::llround(v * 2048.0)); };
  std::array<int16_t, 16> c{};
  for (int i = 0; i < 8; ++i) {
    c[static_cast<size_t>(i)] = fixed(a2 * g[i]);
    c[static_cast<size_t>(8 + i)] = fixed(g[i + 1]);
  }
  return c;
}

BookDesign deriveBook(const std::vector<int16_t>& pcm, int npredictors) {
  if (npredictors < 1 || npredictors > 16) throw std::invalid_argument("deriveBook: 1..16 predictors");
  const size_t frameCount = std::max<size_t>(1, (pcm.size() + kFrameSamples - 1) / kFrameSamples);
  auto sample = [&](ptrdiff_t n) -> double {
    return n >= 0 && static_cast<size_t>(n) < pcm.size() ? pcm[static_cast<size_t>(n)] : 0.0;
  };
  std::vector<Covariance> frames(frameCount);
  for (size_t f = 0; f < frameCount; ++f) {
    for (size_t k = 0; k < kFrameSamples; ++k) {
      const auto n = static_cast<ptrdiff_t>(f * kFrameSamples + k);
      const double x[3] = {sample(n), sample(n - 1), sample(n - 2)};
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) frames[f].phi[i][j] += x[i] * x[j];
    }
  }

  std::vector<Lpc> predictors;
  std::vector<size_t> owner(frameCount, 0);
  auto refit = [&]() {
    std::vector<Covariance> sums(predictors.size());
    std::vector<bool> used(predictors.size(), false);
    for (size_t f = 0; f < frameCount; ++f) {
      sums[owner[f]].add(frames[f]);
      used[owner[f]] = true;
    }
    for (size_t p = 0; p < predictors.size(); ++p) {
      if (used[p]) predictors[p] = fit(sums[p]);
    }
  };
  auto reassign = [&]() {
    for (size_t f = 0; f < frameCount; ++f) {
      double best = std::numeric_limits<double>::infinity();
      for (size_t p = 0; p < predictors.size(); ++p) {
        const double e = predictionError(frames[f], predictors[p]);
        if (e < best) {
          best = e;
          owner[f] = p;
        }
      }
    }
  };

  predictors.push_back(Lpc{});
  refit();
  while (predictors.size() < static_cast<size_t>(npredictors)) {
    // Split the cluster that predicts worst: its worst frame seeds the new
    // predictor.
    std::vector<double> clusterError(predictors.size(), 0.0);
    for (size_t f = 0; f < frameCount; ++f) {
      clusterError[owner[f]] += predictionError(frames[f], predictors[owner[f]]);
    }
    const size_t worst = static_cast<size_t>(
        std::max_element(clusterError.begin(), clusterError.end()) - clusterError.begin());
    size_t seed = 0;
    double seedError = -1;
    for (size_t f = 0; f < frameCount; ++f) {
      if (owner[f] != worst) continue;
      const double e = predictionError(frames[f], predictors[worst]);
      if (e > seedError) {
        seedError = e;
        seed = f;
      }
    }
    predictors.push_back(fit(frames[seed]));
    for (int round = 0; round < 8; ++round) {
      reassign();
      refit();
    }
  }

  BookDesign book;
  book.order = 2;
  book.npredictors = npredictors;
  for (const Lpc& p : predictors) {
    const std::array<int16_t, 16> c = predictorFromLpc(p.a1, p.a2);
    book.predictors.insert(book.predictors.end(), c.begin(), c.end());
  }
  return book;
}

AdpcmEncoding encodeAdpcm(const std::vector<int16_t>& pcm, const BookDesign& book) {
  if (book.npredictors < 1 || book.predictors.size() < static_cast<size_t>(book.npredictors) * 16) {
    throw std::invalid_argument("encodeAdpcm: book without predictors");
  }
  const size_t frameCount = (pcm.size() + kFrameSamples - 1) / kFrameSamples;
  std::vector<int16_t> input(pcm);
  input.resize(frameCount * kFrameSamples, 0);

  AdpcmEncoding out;
  out.frames.reserve(frameCount * kFrameBytes);
  out.decoded.reserve(frameCount * kFrameSamples);
  int16_t h6 = 0, h7 = 0;  // the decoder's history after a reset
  for (size_t f = 0; f < frameCount; ++f) {
    const int16_t* target = &input[f * kFrameSamples];
    int64_t bestError = std::numeric_limits<int64_t>::max();
    uint8_t bestHeader = 0;
    uint8_t bestNibbles[kFrameSamples] = {};
    int16_t bestOut[kFrameSamples] = {};
    for (int p = 0; p < book.npredictors; ++p) {
      const int16_t* c = &book.predictors[static_cast<size_t>(p) * 16];
      for (int s = 0; s <= kMaxScale; ++s) {
        uint8_t nibbles[kFrameSamples];
        int16_t decoded[kFrameSamples];
        const int64_t first = quantiseHalf(c, h6, h7, target, s, bestError, nibbles, decoded);
        if (first >= bestError) continue;
        const int64_t second = quantiseHalf(c, decoded[6], decoded[7], target + kHalfSamples, s,
                                            bestError - first, nibbles + kHalfSamples,
                                            decoded + kHalfSamples);
        if (first + second >= bestError) continue;
        bestError = first + second;
        bestHeader = static_cast<uint8_t>(s << 4 | p);
        std::copy(nibbles, nibbles + kFrameSamples, bestNibbles);
        std::copy(decoded, decoded + kFrameSamples, bestOut);
      }
    }
    out.frames.push_back(bestHeader);
    for (size_t k = 0; k < kFrameSamples; k += 2) {
      out.frames.push_back(static_cast<uint8_t>(bestNibbles[k] << 4 | bestNibbles[k + 1]));
    }
    out.decoded.insert(out.decoded.end(), bestOut, bestOut + kFrameSamples);
    h6 = bestOut[14];
    h7 = bestOut[15];
  }
  return out;
}

std::vector<int16_t> decodeAdpcm(const std::vector<uint8_t>& frames, const BookDesign& book) {
  std::vector<int16_t> out;
  out.reserve((frames.size() + kFrameBytes - 1) / kFrameBytes * kFrameSamples);
  AdpcmHistory history;
  int16_t half[kHalfSamples];
  decodeAdpcmHalfFrame(history, nullptr, nullptr, 0, half);
  const int16_t zeros[16] = {};
  for (size_t f = 0; f + kFrameBytes <= frames.size(); f += kFrameBytes) {
    const uint8_t header = frames[f];
    const size_t p = header & 0x0F;
    const auto scale = static_cast<uint8_t>(std::min(header >> 4, kMaxScale));
    const int16_t* c = p < static_cast<size_t>(std::max(book.npredictors, 0)) && (p + 1) * 16 <= book.predictors.size()
                           ? &book.predictors[p * 16]
                           : zeros;
    for (size_t h = 0; h < 2; ++h) {
      decodeAdpcmHalfFrame(history, &frames[f + 1 + 4 * h], c, scale, half);
      out.insert(out.end(), half, half + kHalfSamples);
    }
  }
  return out;
}

double snrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& test) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < reference.size(); ++i) {
    const double r = reference[i];
    const double t = i < test.size() ? test[i] : 0.0;
    signal += r * r;
    noise += (r - t) * (r - t);
  }
  if (noise == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(signal / noise);
}

std::vector<uint8_t> rawWaveBytes(const std::vector<int16_t>& pcm) {
  std::vector<uint8_t> out(pcm.size() * 2);
  for (size_t i = 0; i < pcm.size(); ++i) {
    const auto v = static_cast<uint16_t>(pcm[i]);
    out[2 * i] = static_cast<uint8_t>(v >> 8);
    out[2 * i + 1] = static_cast<uint8_t>(v);
  }
  return out;
}

}  // namespace zaft::test
