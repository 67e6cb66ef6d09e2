// PLACEHOLDER until the WAV writer lands.
#include "audio/wav_writer.h"

namespace zaft {

const uint8_t WavHeaderTemplate[kWavHeaderSize] = {};

void writeWaveFile(RunContext&, const ALWaveTable&) {}

}  // namespace zaft
