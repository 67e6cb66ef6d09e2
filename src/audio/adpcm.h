// The console's ADPCM ("VADPCM") frame decoder. The half frame (4 residual
// bytes, 8 samples) is its unit; bank/sample_format.h has the frame layout.
// A predictor is 16 coefficients with 11 fraction bits: row 0 (c[0..7])
// weighs the second-to-last sample of the previous half, row 1 (c[8..15])
// the last sample and the current half's residuals.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bank/sample_format.h"

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

}  // namespace zaft
