#include "export/wav_export.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>

#include "audio/pitch.h"
#include "export/sample_source.h"
#include "audio/samples.h"
#include "util/endian.h"
#include "util/fatal.h"
#include "util/ordered_pool.h"

namespace zaft {

// The three length fields hold the values of a 6890-sample file until the
// writer puts the real ones in: 13830 = 6890 * 2 + 50, 13780 = 6890 * 2.
const uint8_t WavHeaderTemplate[kWavHeaderSize] = {
    'R',  'I',  'F',  'F',  0x06, 0x36, 0x00, 0x00,  // RIFF, 13830
    'W',  'A',  'V',  'E',  'f',  'm',  't',  ' ',   // WAVE, "fmt "
    0x12, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,  // 18, PCM, 1 channel
    0x22, 0x56, 0x00, 0x00, 0x44, 0xAC, 0x00, 0x00,  // 22050 Hz, 44100 bytes/s
    0x02, 0x00, 0x10, 0x00, 0x00, 0x00, 'f',  'a',   // align 2, 16 bits, ext 0, "fa
    'c',  't',  0x04, 0x00, 0x00, 0x00, 0xEA, 0x1A,  // ct", 4, 6890 samples
    0x00, 0x00, 'd',  'a',  't',  'a',  0xD4, 0x35,  // "data", 13780
    0x00, 0x00,
};

namespace {

constexpr size_t kRiffSizeOffset = 4;
constexpr size_t kSampleRateOffset = 24;
constexpr size_t kByteRateOffset = 28;
constexpr size_t kSampleCountOffset = 46;
constexpr size_t kDataSizeOffset = 54;
// RIFF size = file length - 8 = 50 + data bytes (+ pad byte) + trailing chunks.
constexpr uint64_t kRiffOverhead = kWavHeaderSize - 8;
// PCM goes to the sink in pieces of this size (a multiple of a frame's 32 bytes).
constexpr size_t kPiece = ByteSink::kMaxExtend;

// The "smpl" chunk (/l): sampler facts for the wave. Layout, little-endian:
//    0 "smpl"  4 chunk size (36 + 24 per loop)  8 manufacturer 0  12 product 0
//   16 sample period in ns  20 MIDI unity note  24 MIDI pitch fraction
//   28 SMPTE format 0  32 SMPTE offset 0  36 loop count  40 sampler data 0
//   44.. loops of 24 bytes: id, type (0 forward), start, end (last sample
//   played), fraction 0, play count (0 endless).
constexpr size_t kSamplerChunkHeader = 44;
constexpr size_t kSamplerLoopSize = 24;

// "0x%06llX", with a minus sign for an offset before the file's start.
std::string offsetText(int64_t offset) {
  const uint64_t magnitude = offset < 0 ? 0 - static_cast<uint64_t>(offset) : offset;
  return formatText("%s0x%06" PRIX64, offset < 0 ? "-" : "", magnitude);
}

void warnOutsideRom(Reporter& report, const std::string& path, const SampleLayout& s) {
  report.errf("Warning: %s: wave data at %s (%d bytes) lies outside the ROM; %" PRId64
              " of its bytes exist\n",
              path.c_str(), offsetText(s.start).c_str(), s.len, s.present);
}

// The frames a wave's file holds, after the warnings about what it lacks.
int64_t framesToWrite(const SampleLayout& s, const std::string& path, int32_t bookIndex,
                      uint64_t trailingBytes, Reporter& report) {
  if (s.missingBytes()) warnOutsideRom(report, path, s);
  int64_t count = s.frames;
  const int64_t maxFrames = maxWavFrames(trailingBytes);
  if (count > maxFrames) {
    count = maxFrames;
    report.errf("Warning: %s would exceed the 4 GiB size of a WAV file; only %" PRId64
                " frames are written\n",
                path.c_str(), count);
  }
  if (count > 0 && !s.hasBook) {
    report.errf("Warning: %s has no codebook (book index %d); decoded with zero coefficients\n",
                path.c_str(), bookIndex);
  }
  return count;
}

// A wave's file made ahead of its writing.
struct PreparedWave {
  std::unique_ptr<BlockSink> file;  // null: made as it is written
  std::unique_ptr<CollectingReporter> warnings;
  int64_t samples = 0;
  std::optional<FrameTally> frames;
};

// One wave's file, wherever it goes: its bytes (from `layout`, where its
// samples lie) into `sink` (not finished), its warnings, naming `path`,
// into `report`, in the order they arise.
void makeWave(const RomImage& rom, const Sample& wave, const SampleLayout& layout,
              const std::string& path, const WavOptions& options, ByteSink& sink,
              Reporter& report, PreparedWave& made) {
  int64_t frames = 0;
  if (wave.codec != SampleCodec::None) {
    if (wave.len < 0) {
      report.errf("Warning: %s has a negative length (%d); its data chunk is empty\n",
                  path.c_str(), wave.len);
    } else if (wave.len > 0 && wave.codec == SampleCodec::Raw16) {
      if (layout.missingBytes()) warnOutsideRom(report, path, layout);
    } else if (wave.len > 0) {
      frames = framesToWrite(layout, path, wave.bookRecord,
                             options.samplerChunk ? kMaxSamplerChunkBytes : 0, report);
    }
  }
  SampleDecoder decoder(rom, layout, frames);
  const int32_t predictors = layout.book.predictors;
  if (layout.codec == SampleCodec::Vadpcm && predictors > 0) decoder.judgeFrames(predictors);
  const uint64_t dataBytes = static_cast<uint64_t>(decoder.totalBytes());
  made.samples = static_cast<int64_t>(dataBytes / 2);

  // The chunk's warnings come after the decoder's, as the chunk is written
  // after the samples.
  CollectingReporter chunkWarnings(report.verbose());
  std::vector<uint8_t> trailing;
  if (options.samplerChunk) {
    trailing = samplerChunk(wave, made.samples, path, chunkWarnings);
  }

  uint8_t* header = sink.extend(kWavHeaderSize);
  std::memcpy(header, WavHeaderTemplate, kWavHeaderSize);
  // A negative rate (a negative /a ratio or sample rate) has no meaning in a
  // WAV header: it is written as 0. The byte rate is twice the rate.
  const uint32_t rate = static_cast<uint32_t>(std::max<int32_t>(wave.rate, 0));
  storeLE32(header + kSampleRateOffset, rate);
  storeLE32(header + kByteRateOffset, rate * 2u);
  storeLE32(header + kRiffSizeOffset, static_cast<uint32_t>(wavRiffSize(dataBytes, trailing.size())));
  storeLE32(header + kDataSizeOffset, static_cast<uint32_t>(dataBytes));
  storeLE32(header + kSampleCountOffset, static_cast<uint32_t>(dataBytes / 2));

  for (uint64_t left = dataBytes; left > 0;) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, kPiece));
    decoder.read(sink.extend(piece), piece);
    left -= piece;
  }
  if (decoder.missingPredictor() >= 0) {
    report.errf("Warning: %s uses predictor %d but its book holds %d; decoded with zero "
                "coefficients\n",
                path.c_str(), decoder.missingPredictor(), layout.book.predictors);
  }
  chunkWarnings.replay(report);
  if (dataBytes % 2 != 0) *sink.extend(1) = 0;
  if (!trailing.empty()) sink.write(trailing.data(), trailing.size());
  if (layout.codec == SampleCodec::Vadpcm && predictors > 0 &&
      decoder.judgement().frames == layout.frames) {
    made.frames = decoder.judgement();
  }
}

// A file no larger than this is made ahead on a helper thread, in memory;
// a larger one is made by the writer as it writes.
constexpr int64_t kMaxPreparedBytes = int64_t{8} << 20;

// The memory files are made in, handed back after their writing: pages
// touched once, not once per wave.
class SpareBlocks {
 public:
  std::unique_ptr<BlockSink> take(size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = spare_.begin(); it != spare_.end(); ++it) {
      if ((*it)->capacity() >= size) {
        const size_t capacity = (*it)->capacity();
        std::unique_ptr<BlockSink> reused = std::make_unique<BlockSink>((*it)->release(), capacity);
        spare_.erase(it);
        return reused;
      }
    }
    return std::make_unique<BlockSink>(size);
  }
  void give(std::unique_ptr<BlockSink> sink) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (spare_.size() < kKept) spare_.push_back(std::move(sink));
  }

 private:
  static constexpr size_t kKept = 32;
  std::mutex mutex_;
  std::vector<std::unique_ptr<BlockSink>> spare_;
};

// Makes wave `ref`'s file in memory, unless its name is refused or it is
// too large.
PreparedWave prepareWave(const RomImage& rom, const Sample& wave, int64_t tblOffset,
                         const PlannedFile& name, const WavOptions& options,
                         bool verbose, SpareBlocks& blocks) {
  PreparedWave made;
  if (name.refused()) return made;
  const SampleLayout layout = layoutSamples(rom, sampleSourceOf(wave, tblOffset));
  const int64_t size =
      static_cast<int64_t>(kWavHeaderSize + 1 + kMaxSamplerChunkBytes) + layout.pcmBytes();
  if (size > kMaxPreparedBytes) return made;
  made.file = blocks.take(static_cast<size_t>(size));
  made.warnings = std::make_unique<CollectingReporter>(verbose);
  makeWave(rom, wave, layout, name.path, options, *made.file, *made.warnings, made);
  return made;
}

// Writes wave k's file under its planned name: made here, or as `made`
// holds it.
void writeOne(const RomImage& rom, const InstrumentSet& set, int64_t tblOffset, size_t k,
              const PlannedFile& name, const WavOptions& options, OutputTarget& target,
              Reporter& report, PreparedWave* made, WavResult& result) {
  const Sample& wave = set.samples[k];
  if (!name.notice.empty()) report.err(name.notice);
  WaveOutcome& outcome = result.outcomes[wave.record];
  outcome = WaveOutcome{};
  if (name.refused()) {
    report.err(name.refusal);
    outcome.skipped = "a folder stands at its name";
    if (result.failure.empty()) result.failure = name.refusal;
    return;
  }
  std::unique_ptr<ByteSink> sink = target.open(name.path);
  if (!sink) {
    // Every wave of the bank file goes to the same folder: one message, and
    // the bank file ends.
    fatal("Unable to open .wav output file %s\n  %s\n", name.path.c_str(), target.error().c_str());
  }
  ++result.files;
  outcome.file = name.name;
  // The rate the file's header holds: a negative rate is written as 0.
  outcome.rate = std::max<int32_t>(wave.rate, 0);
  PreparedWave here;
  if (made != nullptr && made->file) {
    made->warnings->replay(report);
    sink->write(made->file->data(), made->file->size());
  } else {
    made = &here;
    const SampleLayout layout = layoutSamples(rom, sampleSourceOf(wave, tblOffset));
    makeWave(rom, wave, layout, name.path, options, *sink, report, here);
  }
  outcome.samples = made->samples;
  if (k < result.frames.size()) result.frames[k] = made->frames;
  if (!sink->finish()) {
    // Nothing is left under its name; a full disk or a size limit would fail
    // every later wave too.
    fatal("Unable to write .wav output file %s: %s\n", name.path.c_str(), sink->error().c_str());
  }
}

}  // namespace

uint64_t wavRiffSize(uint64_t dataBytes, uint64_t trailingBytes) {
  return kRiffOverhead + dataBytes + dataBytes % 2 + trailingBytes;
}

int64_t maxWavFrames(uint64_t trailingBytes) {
  return static_cast<int64_t>((UINT32_MAX - kRiffOverhead - trailingBytes) /
                              kAdpcmFrameOutputBytes);
}

std::vector<uint8_t> samplerChunk(const Sample& wave, int64_t samples,
                                  const std::string& label, Reporter& report) {
  // The note the sample sounds at when played at its own rate, and the
  // fraction of a semitone above it (0x80000000 is half a semitone).
  const SamplePitch pitch{wave.pitchCents};
  const uint32_t unityNote = static_cast<uint32_t>(pitch.unityNote());
  const uint32_t fraction = static_cast<uint32_t>(
      std::llround(static_cast<double>(pitch.fractionCents()) / 100.0 * 4294967296.0));
  const int32_t rate = wave.rate;
  const uint32_t period =
      rate > 0 ? static_cast<uint32_t>(std::llround(1e9 / static_cast<double>(rate))) : 0;

  const SampleLoop loop = wave.loop.value_or(SampleLoop{});
  bool looped = wave.loop && loop.count != 0 && loop.start < loop.end;
  int64_t start = 0, end = 0;
  if (looped) {
    start = loop.start;
    end = int64_t{loop.end} - 1;
    if (start < 0 || end >= samples) {
      const int64_t clippedStart = std::max<int64_t>(start, 0);
      const int64_t clippedEnd = std::min<int64_t>(end, samples - 1);
      if (clippedStart > clippedEnd) {
        report.errf("Warning: %s: loop %" PRId64 "..%" PRId64 " lies outside its %" PRId64
                    " samples; no loop is written\n",
                    label.c_str(), start, end, samples);
        looped = false;
      } else {
        report.errf("Warning: %s: loop %" PRId64 "..%" PRId64 " reaches past its %" PRId64
                    " samples; clipped to %" PRId64 "..%" PRId64 "\n",
                    label.c_str(), start, end, samples, clippedStart, clippedEnd);
        start = clippedStart;
        end = clippedEnd;
      }
    }
  }
  // -1, 2147483647 and any other negative count play endlessly.
  const uint32_t playCount =
      looped && loop.count > 0 && loop.count < INT32_MAX ? static_cast<uint32_t>(loop.count) : 0;

  const size_t loops = looped ? 1 : 0;
  std::vector<uint8_t> chunk(kSamplerChunkHeader + kSamplerLoopSize * loops, 0);
  std::memcpy(chunk.data(), "smpl", 4);
  storeLE32(chunk.data() + 4, static_cast<uint32_t>(chunk.size() - 8));
  storeLE32(chunk.data() + 16, period);
  storeLE32(chunk.data() + 20, unityNote);
  storeLE32(chunk.data() + 24, fraction);
  storeLE32(chunk.data() + 36, static_cast<uint32_t>(loops));
  if (looped) {
    uint8_t* l = chunk.data() + kSamplerChunkHeader;
    storeLE32(l + 8, static_cast<uint32_t>(start));
    storeLE32(l + 12, static_cast<uint32_t>(end));
    storeLE32(l + 20, playCount);
  }
  return chunk;
}

WavResult exportWaves(const RomImage& rom, const InstrumentSet& set, int64_t tblOffset,
                      const std::vector<PlannedFile>& names, const WavOptions& options,
                      OutputTarget& target, Reporter& report) {
  WavResult result;
  exportWaves(rom, set, tblOffset, names, options, target, report, result);
  return result;
}

void exportWaves(const RomImage& rom, const InstrumentSet& set, int64_t tblOffset,
                 const std::vector<PlannedFile>& names, const WavOptions& options,
                 OutputTarget& target, Reporter& report, WavResult& result) {
  const size_t count = std::min(set.samples.size(), names.size());
  result.frames.assign(count, std::nullopt);
  // With helpers, waves are made ahead of the one being written, at most a
  // few per helper (each at most kMaxPreparedBytes).
  const int helpers = count > 1 ? std::max(options.threads, 1) - 1 : 0;
  SpareBlocks blocks;
  std::optional<OrderedPool<PreparedWave>> pool;
  if (helpers > 0) {
    const bool verbose = report.verbose();
    pool.emplace(count, helpers, static_cast<size_t>(4 * helpers), [&, verbose](size_t k) {
      return prepareWave(rom, set.samples[k], tblOffset, names[k], options, verbose, blocks);
    });
  }
  std::set<int32_t> rateWarned;
  for (size_t k = 0; k < count; ++k) {
    const Sample& wave = set.samples[k];
    // A ratio that leaves no positive rate (/a abc, /a 0, /a -1) gives
    // files that players refuse: said once per bank.
    if (wave.rate <= 0 && rateWarned.insert(wave.bank).second) {
      report.errf("Warning: bank %d has an output rate of %d Hz; its .wav files get the rate %d, "
                  "which players refuse (see /a)\n",
                  wave.bank, wave.rate, std::max<int32_t>(wave.rate, 0));
    }
    if (pool) {
      PreparedWave made = pool->take(k);
      writeOne(rom, set, tblOffset, k, names[k], options, target, report, &made, result);
      if (made.file) blocks.give(std::move(made.file));
    } else {
      writeOne(rom, set, tblOffset, k, names[k], options, target, report, nullptr, result);
    }
  }
}

}  // namespace zaft
