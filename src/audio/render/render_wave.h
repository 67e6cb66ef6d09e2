// A wave as a synthesizer voice plays it: where its bytes lie, how they are
// coded and how it loops. The voice reads the bytes as the console's DMA
// does, from the ROM image, so a loop or a read that runs past the wave's
// recorded length reads whatever follows it (0 past the image's end).
#pragma once

#include <cstdint>

#include "util/vadpcm_format.h"

namespace zaft {

struct RenderWave {
  const uint8_t* rom = nullptr;
  int64_t romSize = 0;  // bytes past the end read as 0
  int64_t start = 0;    // the wave's first byte in `rom`
  int32_t len = 0;
  SampleCodec codec = SampleCodec::Vadpcm;  // Vadpcm or Raw16 (anything else plays silence)
  // Order 2, predictors as stored. The coefficients must outlive every voice
  // that plays the wave.
  VadpcmBook book;
  // Positions in samples. A loop plays [loopStart, loopEnd) `loopCount`
  // more times (-1: for ever; 0: not at all). One with loopEnd <= loopStart
  // or a negative start is not played as a loop (the console would hang).
  bool hasLoop = false;
  int32_t loopStart = 0, loopEnd = 0, loopCount = 0;
  // ADPCM loops: the decoded 16-sample frame that holds loopStart.
  int16_t loopState[16] = {};
};

}  // namespace zaft
