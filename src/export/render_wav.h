// A rendered sequence as a WAV file: 16-bit stereo PCM at the render's
// rate, its size known before the first byte is written.
#pragma once

#include <cstdint>

#include "export/byte_sink.h"

namespace zaft {

constexpr int64_t kStereoWavHeaderBytes = 44;
// The most stereo samples a WAV file holds: its RIFF size is 32 bits.
constexpr int64_t kMaxStereoWavFrames = (int64_t{0xFFFFFFFF} - 36) / 4;

inline int64_t stereoWavBytes(int64_t frames) { return kStereoWavHeaderBytes + 4 * frames; }

// The RIFF header of a file of `frames` stereo samples at `rate`.
void writeStereoWavHeader(ByteSink& sink, int32_t rate, int64_t frames);

}  // namespace zaft
