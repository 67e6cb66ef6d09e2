// The WAV writer: one 16-bit mono PCM file per new wave table, named
// "%c%01d%03d%02d.WAV" from the walk's bank, instrument and sound numbers.
//
// WavHeaderTemplate, 58 bytes, little-endian:
//    0 "RIFF"   4 file length - 8   8 "WAVE"   12 "fmt "  16 18 (fmt size)
//   20 1 (PCM) 22 1 channel  24 sample rate  28 byte rate  32 2 (align)
//   34 16 bits 36 0 (fmt extension size)  38 "fact"  42 4  46 sample count
//   50 "data"  54 data length; samples follow at 58.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bank/records.h"

namespace zaft {

struct RunContext;

constexpr size_t kWavHeaderSize = 58;
extern const uint8_t WavHeaderTemplate[kWavHeaderSize];

// Called by readWaveTable for each new wave table once its loop and book are
// entered. Writes nothing while settings.tblGiven is 0.
void writeWaveFile(RunContext& ctx, const ALWaveTable& wave);

// Whether this run has written a WAV file of that name (in its output
// folder); the header and JSON writers never replace one.
bool wavNameTaken(const RunContext& ctx, const std::string& name);

}  // namespace zaft
