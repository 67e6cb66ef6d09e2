// The WAV exporter: one 16-bit mono PCM file per wave table of a walked
// bank file, under the names the output plan gave them.
//
// WavHeaderTemplate, 58 bytes, little-endian:
//    0 "RIFF"   4 file length - 8   8 "WAVE"   12 "fmt "  16 18 (fmt size)
//   20 1 (PCM) 22 1 channel  24 sample rate  28 byte rate  32 2 (align)
//   34 16 bits 36 0 (fmt extension size)  38 "fact"  42 4  46 sample count
//   50 "data"  54 data length; samples follow at 58.
// With /l a "smpl" chunk with the loop and the root key follows the data
// (and its pad byte, after an odd length).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bank/instrument_set.h"
#include "export/byte_sink.h"
#include "export/output_plan.h"
#include "rom/rom_image.h"
#include "util/reporter.h"
#include "util/vadpcm_format.h"

namespace zaft {

constexpr size_t kWavHeaderSize = 58;
extern const uint8_t WavHeaderTemplate[kWavHeaderSize];

// What became of one wave table's samples.
struct WaveOutcome {
  std::string file;     // the WAV file's name as written
  int64_t samples = 0;  // samples in its data chunk
  int32_t rate = 0;     // its sample rate
  std::string skipped;  // why no file was written; empty when one was
};


struct WavResult {
  int32_t files = 0;                         // files created
  std::map<int32_t, WaveOutcome> outcomes;   // by the sample's record
  // By sample index: the frames decoding judged, as the sample-block
  // check judges them, when it read every frame of the wave that begins
  // inside the ROM with a book of predictors.
  std::vector<std::optional<FrameTally>> frames;
  std::string failure;  // the first wave that could not be written, and why
};

struct WavOptions {
  bool samplerChunk = false;  // /l
  // Threads that make the files: with more than 1, the calling thread
  // writes them in order while the others decode the next ones. Every byte
  // written and every message is the same for any number.
  int threads = 1;
};

// Writes one file per sample of `set` with the sample block at `tblOffset`,
// `names[k]` for set.samples[k]. Warnings name the file. A file that cannot
// be created or written ends the export with a FatalError naming it and the
// reason; a refused name (a folder in the way) skips that wave.
WavResult exportWaves(const RomImage& rom, const InstrumentSet& set, int64_t tblOffset,
                      const std::vector<PlannedFile>& names, const WavOptions& options,
                      OutputTarget& target, Reporter& report);
// The same into `result`, which keeps what was done when the export ends
// early.
void exportWaves(const RomImage& rom, const InstrumentSet& set, int64_t tblOffset,
                 const std::vector<PlannedFile>& names, const WavOptions& options,
                 OutputTarget& target, Reporter& report, WavResult& result);

// A WAV file's sizes are 32-bit. The RIFF size (file length - 8) of a file
// with `dataBytes` of samples (and a pad byte after an odd count) and
// `trailingBytes` of chunks after them; and the most ADPCM frames whose file
// keeps that size within 32 bits.
uint64_t wavRiffSize(uint64_t dataBytes, uint64_t trailingBytes);
int64_t maxWavFrames(uint64_t trailingBytes);
// The largest "smpl" chunk: its header and one loop.
constexpr size_t kMaxSamplerChunkBytes = 44 + 24;

// The "smpl" chunk of a wave with `samples` samples: its loop (clipped to
// the samples, with a warning naming `label`) and the pitch the sample
// sounds at through the key map of the sound that reached it (audio/pitch.h).
std::vector<uint8_t> samplerChunk(const Sample& wave, int64_t samples,
                                  const std::string& label, Reporter& report);

}  // namespace zaft
