// Test support: a VADPCM encoder, so that test and demo ROMs can hold ADPCM
// waves made from real-sounding material.
//
// Books use the layout the decoder reads: order 2, predictor p is 16
// coefficients with 11 fraction bits; row 0 (c[0..7]) weighs the
// second-to-last sample of the previous half frame, row 1 (c[8..15]) the
// last one and the current half's residuals. A frame is 9 bytes: the header
// (scale << 4 | predictor) and 16 four-bit residuals, high nibble first.
//
// The encoder searches every predictor and every scale 0..12 for each
// frame, quantises each residual with the decoder's own arithmetic given the
// residuals chosen before it, keeps the combination with the least squared
// error, and carries exactly the decoder's history from frame to frame, so
// that decoding its frames gives back its own reconstruction bit for bit.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "support/bank_builder.h"

namespace zaft::test {

// The 16 coefficients of the order-2 predictor x[n] = a1 x[n-1] + a2 x[n-2]
// as the book holds them: row 1 is the predictor's impulse response
// g[1..8] (g[0] = 1, g[n] = a1 g[n-1] + a2 g[n-2]), the weight of the last
// previous sample and of each earlier residual; row 0 is a2 g[0..7], the
// weight of the sample before it. 2048 stands for 1.0; values are rounded
// and clamped to 16 bits.
std::array<int16_t, 16> predictorFromLpc(double a1, double a2);

// A book of `npredictors` (1..16) order-2 predictors fitted to `pcm`: the
// signal is cut into 16-sample frames, the frames are clustered by which
// predictor suits them best (splitting the worst cluster until there are
// enough, then a few rounds of reassignment), and each cluster's predictor
// is the least-squares fit over its frames.
BookDesign deriveBook(const std::vector<int16_t>& pcm, int npredictors);

struct AdpcmEncoding {
  std::vector<uint8_t> frames;   // 9 bytes per 16 samples
  std::vector<int16_t> decoded;  // what the decoder makes of `frames`
};

// Encodes `pcm` (padded with zeros to whole frames) with `book`, starting
// from the decoder's reset state (all-zero history). Frames only use
// predictor indices below book.npredictors.
AdpcmEncoding encodeAdpcm(const std::vector<int16_t>& pcm, const BookDesign& book);

// Decodes frames through the tool's decoder (decodeAdpcmHalfFrame), from a
// reset history, with the scale capped at 12 as the WAV writer does.
std::vector<int16_t> decodeAdpcm(const std::vector<uint8_t>& frames, const BookDesign& book);

// 10 log10(signal energy / error energy) over the first reference.size()
// samples (missing test samples count as 0); infinity when they are equal.
double snrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& test);

// Big-endian 16-bit samples, as a raw (type 1) wave holds them.
std::vector<uint8_t> rawWaveBytes(const std::vector<int16_t>& pcm);

}  // namespace zaft::test
