// The console's ADPCM ("VADPCM") frame decoder. The half frame (4 residual
// bytes, 8 samples) is its unit; util/vadpcm_format.h has the frame layout.
// A predictor is 16 coefficients with 11 fraction bits: row 0 (c[0..7])
// weighs the second-to-last sample of the previous half, row 1 (c[8..15])
// the last sample and the current half's residuals.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/vadpcm_format.h"

namespace zaft {

// The samples produced by the latest decoder call; h[6] and h[7] feed the
// next prediction.
struct AdpcmHistory {
  int16_t h[8] = {0, 0, 0, 0, 0, 0, 0, 0};
};

// With residuals == nullptr: resets the history to zero and writes nothing.
// Otherwise decodes 4 residual bytes with the 16 coefficients and the scale
// (0..12) into out[0..7] and makes them the new history.
void decodeAdpcmHalfFrame(AdpcmHistory& history, const uint8_t* residuals,
                          const int16_t* predictor, uint8_t scale, int16_t out[8]);

// The ways AdpcmKernel can decode: the exact 64-bit recurrence alone, and
// the vectorised ones (x86-64: SSE2 always, AVX2 when the processor has it).
enum class AdpcmPath { Scalar, Sse2, Avx2 };

// The decoder of whole frames for one book, vectorised where that is exact.
//
// Each half frame's 8 samples are a fixed linear map of the previous two
// samples and the 8 scaled residuals: row i of the predictor's 8 x 10 matrix
// M holds c[i] and c[8 + i] for the history, c[7 + i - k] for residual
// k < i, 2048 for residual i and 0 after it. With 16-bit multiply-adds into
// 32-bit lanes, the floor shift and a saturating pack, a half frame takes a
// handful of instructions, and only the history part waits on the half
// before it. The lanes are exact when no sum can leave 32 bits: with
// |history| <= 32768 and |residual| <= 8 * 2^scale, every row's sum of
// |M| times those bounds must stay below 2^31. That is decided once per
// predictor, as the largest scale it holds for; a frame of a larger scale
// takes the exact 64-bit path (decodeAdpcmHalfFrame). Every result is the
// same as that path's, bit for bit, whichever path decodes.
class AdpcmKernel {
 public:
  // The book's stored predictors; an index it does not hold decodes with
  // zero coefficients.
  AdpcmKernel(const int16_t* coefficients, int32_t predictors);

  // Decodes `count` frames of 9 bytes into 16 samples each, as 16-bit
  // little-endian values at `out`, carrying `history` (its h[6] and h[7]).
  // `missing` gets the first predictor index the book does not hold, when
  // it is still -1. The fastest path this machine runs decodes.
  void decode(AdpcmHistory& history, const uint8_t* frames, size_t count, uint8_t* out,
              int32_t& missing) const {
    decode(fastestPath(), history, frames, count, out, missing);
  }
  // The same through `path`, which must run here (tests, benchmarks).
  void decode(AdpcmPath path, AdpcmHistory& history, const uint8_t* frames, size_t count,
              uint8_t* out, int32_t& missing) const;

  // The largest scale predictor p's 32-bit lanes are exact for; -1 for none.
  int maxExactScale(int p) const { return predictors_[static_cast<size_t>(p & 15)].maxScale; }
  // Whether `path` runs on this machine, and the fastest one that does.
  static bool runs(AdpcmPath path);
  static AdpcmPath fastestPath();

 private:
  void decodeScalar(AdpcmHistory& history, const uint8_t* frames, size_t count, uint8_t* out,
                    int32_t& missing) const;
  void decodeSse2(AdpcmHistory& history, const uint8_t* frames, size_t count, uint8_t* out,
                  int32_t& missing) const;
  void decodeAvx2(AdpcmHistory& history, const uint8_t* frames, size_t count, uint8_t* out,
                  int32_t& missing) const;

  struct Predictor {
    int16_t c[16] = {};
    // Column pairs of M, for outputs 0-3 and 4-7: pair 0 the history (c[i],
    // c[8 + i]), pairs 1-4 residuals (2j, 2j + 1).
    alignas(32) int16_t pairs[5][2][8] = {};
    int maxScale = -1;
    bool held = false;  // the book holds it
  };
  // Predictor `coefficients` (16 of them), or nullptr for zero ones.
  static Predictor makePredictor(const int16_t* coefficients);
  Predictor predictors_[kMaxIndexedPredictors];
};

}  // namespace zaft
