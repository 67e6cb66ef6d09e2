// How an ADPCM ("VADPCM") wave's bytes are laid out, and how its frames are
// judged.
//
// An ADPCM frame is 9 bytes: a header byte (bits 7-4 scale, bits 3-0
// predictor index) and 16 four-bit residuals, high nibble first. It yields
// 16 samples in two halves of 8. Frames follow each other without gaps from
// the wave's first byte. A raw wave is 16-bit big-endian samples.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zaft {

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

// How a sample's bytes are coded; None places no samples.
enum class SampleCodec : uint8_t { Vadpcm, Raw16, None };

// A VADPCM book: `predictors` predictors of 16 coefficients each, as stored.
struct VadpcmBook {
  const int16_t* coefficients = nullptr;
  int32_t predictors = 0;
};

// Judging frames by their header bytes, which the sample-block check, its
// search and the decoder share. A frame is plausible when its scale is at
// most 12 and its predictor index one the book holds (a real encoder writes
// nothing else), and the pad frame of a wave (below) holds the encoder's
// 0x00; it is blank when it is plausible and every byte of it inside the
// wave is 0: zero padding, silence wherever it lies, proof of nothing.

// kPlausibleHeaders.ok[P][h]: header byte h is plausible for a book of P
// predictors (P up to 16, the most an index reaches).
struct PlausibleHeaders {
  std::array<std::array<uint8_t, 256>, kMaxIndexedPredictors + 1> ok{};
  constexpr PlausibleHeaders() {
    for (int p = 0; p <= kMaxIndexedPredictors; ++p) {
      for (int h = 0; h < 256; ++h) {
        ok[static_cast<size_t>(p)][static_cast<size_t>(h)] =
            (h >> 4) <= kAdpcmMaxScale && (h & 0x0F) < p ? 1 : 0;
      }
    }
  }
};
inline constexpr PlausibleHeaders kPlausibleHeaders;

// Frames of a wave of `len` bytes: one per started 9 bytes.
constexpr int64_t adpcmFramesOf(int64_t len) {
  return len <= 0 ? 0 : (len + static_cast<int64_t>(kAdpcmFrameBytes) - 1) /
                            static_cast<int64_t>(kAdpcmFrameBytes);
}
// An encoder that pads an odd frame count leaves one byte of its last frame
// inside `len` (len % 9 == 1): that frame's header must be 0x00. Its index,
// or -1 for a wave without one.
constexpr int64_t padFrameOf(int64_t len) {
  return len > 0 && len % static_cast<int64_t>(kAdpcmFrameBytes) == 1 ? adpcmFramesOf(len) - 1
                                                                       : -1;
}

// Frames judged, and of them the plausible and the blank ones.
struct FrameTally {
  int64_t frames = 0;
  int64_t plausible = 0;
  int64_t blank = 0;
  int64_t implausible() const { return frames - plausible; }
};

}  // namespace zaft
