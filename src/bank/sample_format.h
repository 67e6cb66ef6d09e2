// The sample table block (.tbl): what a wave table's `type` means and how
// an ADPCM ("VADPCM") wave's bytes are laid out.
//
// An ADPCM frame is 9 bytes: a header byte (bits 7-4 scale, bits 3-0
// predictor index) and 16 four-bit residuals, high nibble first. It yields
// 16 samples in two halves of 8. Frames follow each other without gaps from
// the wave's first byte. A raw wave is 16-bit big-endian samples.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zaft {

constexpr uint8_t kWaveTypeAdpcm = 0;
constexpr uint8_t kWaveTypeRaw = 1;  // the walk takes every type but 0 as raw
constexpr bool isKnownWaveType(uint8_t type) {
  return type == kWaveTypeAdpcm || type == kWaveTypeRaw;
}

constexpr size_t kAdpcmFrameBytes = 9;
constexpr size_t kAdpcmFrameSamples = 16;
constexpr size_t kAdpcmHalfFrameSamples = 8;
constexpr int kAdpcmMaxScale = 12;
// A predictor: 16 coefficients, two rows of eight, 11 fraction bits.
constexpr int kCoefficientsPerPredictor = 16;
// A frame header's 4-bit index reaches 16 predictors.
constexpr int kMaxIndexedPredictors = 16;

// Scale at most 12 and predictor index 0..3: what the offset scan takes for
// a plausible frame header. 52 of the 256 byte values pass.
constexpr bool isAdpcmFrameHeader(uint8_t h) { return (h & 0x0C) == 0 && (h & 0xF0) <= 0xC0; }

}  // namespace zaft
