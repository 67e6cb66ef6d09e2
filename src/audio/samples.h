// The samples of a wave table as data: where its bytes lie in the ROM and
// what is missing of them, and its PCM, decoded without any file.
//
// An ADPCM wave has one frame per started 9 bytes of `len`, each giving 16
// samples; the bytes of a last frame cut by `len` belong to whatever follows
// the wave and read as zero, and only frames that begin inside the ROM are
// decoded. A raw wave's bytes are big-endian 16-bit samples: the PCM is the
// same values little-endian, aligned to the wave's start, and an odd count
// keeps its last byte as it stands (readers count only whole samples).
#pragma once

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "audio/adpcm.h"
#include "rom/rom_image.h"
#include "util/vadpcm_format.h"

namespace zaft {

// Bytes of PCM one ADPCM frame gives: 16 samples of 2 bytes.
constexpr size_t kAdpcmFrameOutputBytes = kAdpcmFrameSamples * 2;

// Where a sample's bytes lie in the ROM and how they are coded, whatever
// bank record named them.
struct SampleSource {
  SampleCodec codec = SampleCodec::None;
  int64_t start = 0;  // the first byte in the ROM (may lie before it)
  int32_t len = 0;
  bool hasBook = false;  // a VADPCM sample whose book was found
  VadpcmBook book;
};

// Where a wave's bytes lie, and what its PCM will be.
struct SampleLayout {
  SampleCodec codec = SampleCodec::None;
  int64_t start = 0;    // the wave's first byte in the ROM
  int32_t len = 0;
  int64_t present = 0;  // bytes of [start, start + len) inside the ROM
  // ADPCM: the frames that begin inside the ROM, [firstFrame, firstFrame + frames).
  int64_t firstFrame = 0;
  int64_t frames = 0;
  bool hasBook = false;
  VadpcmBook book;
  // Raw: the bytes taken, [rawFirst, rawFirst + present).
  int64_t rawFirst = 0;

  bool missingBytes() const { return present < len; }
  // Bytes of PCM: 32 per ADPCM frame, the present bytes of a raw wave; 0 for
  // another type or a len of 0 or less.
  int64_t pcmBytes() const;
};

SampleLayout layoutSamples(const RomImage& rom, const SampleSource& source);

// Produces a wave's PCM, 16-bit little-endian, piece by piece.
class SampleDecoder {
 public:
  // At most `maxFrames` ADPCM frames are decoded (a cap of the output format).
  SampleDecoder(const RomImage& rom, const SampleLayout& layout, int64_t maxFrames = INT64_MAX);

  // Writes the next PCM bytes into `out`, at most `room` (at least 32); gives
  // back how many, 0 at the end.
  size_t read(uint8_t* out, size_t room);
  // Bytes of PCM in all.
  int64_t totalBytes() const { return total_; }

  // The first frame's predictor index that the book does not hold (decoded
  // with zero coefficients), -1 when there was none. A wave without a book
  // decodes every frame with zero coefficients and reports none here.
  int32_t missingPredictor() const { return missingPredictor_; }

  // While decoding, judge the frames' headers as the sample-block check
  // does, for a book of `predictors` (at most 16 count): the check then
  // needs no second pass over them.
  void judgeFrames(int32_t predictors) { judgePredictors_ = std::min(predictors, 16); }
  // The frames decoded (and judged) so far.
  const FrameTally& judgement() const { return judgement_; }

 private:
  size_t readAdpcm(uint8_t* out, size_t room);
  size_t readRaw(uint8_t* out, size_t room);
  void judge(const uint8_t* frames, int64_t count);

  const RomImage& rom_;
  SampleLayout layout_;
  AdpcmKernel kernel_;
  int64_t total_ = 0;
  int64_t done_ = 0;  // frames (ADPCM) or bytes (raw) delivered
  int64_t frames_ = 0;
  AdpcmHistory history_;
  int32_t missingPredictor_ = -1;
  int32_t judgePredictors_ = 0;
  FrameTally judgement_;
};

// The whole PCM of a wave as samples (an odd raw byte left out).
std::vector<int16_t> decodeSamples(const RomImage& rom, const SampleLayout& layout);

}  // namespace zaft
