// The console's ADPCM ("VADPCM") frame decoder.
//
// A frame is 9 bytes: a header byte (bits 7-4 scale, bits 3-0 predictor
// index) and 16 four-bit residuals, high nibble first. It yields 16 samples
// in two halves of 8; the half frame (4 residual bytes) is the decoder's unit.
// A predictor is 16 coefficients with 11 fraction bits: row 0 (c[0..7])
// weighs the second-to-last sample of the previous half, row 1 (c[8..15])
// the last sample and the current half's residuals.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zaft {

constexpr size_t kAdpcmFrameBytes = 9;
constexpr size_t kAdpcmFrameSamples = 16;
constexpr size_t kAdpcmHalfFrameSamples = 8;
constexpr int kAdpcmMaxScale = 12;

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

// Scale at most 12 and predictor index 0..3: what the scan takes for a
// plausible frame header. 52 of the 256 byte values pass.
constexpr bool isAdpcmFrameHeader(uint8_t h) { return (h & 0x0C) == 0 && (h & 0xF0) <= 0xC0; }

}  // namespace zaft
