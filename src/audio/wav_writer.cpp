#include "audio/wav_writer.h"

#include <algorithm>
#include <cmath>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/adpcm.h"
#include "driver/fatal.h"
#include "driver/run_context.h"
#include "rom/endian.h"
#include "rom/rom_stream.h"

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
// RIFF size = file length - 8 = 50 + data bytes (+ pad byte).
constexpr uint64_t kRiffOverhead = kWavHeaderSize - 8;
// 32 bytes of PCM (16 samples) per 9-byte frame.
constexpr size_t kFrameOutputBytes = kAdpcmFrameSamples * 2;
// Output goes to the file in pieces of about this size; the buffer also
// holds the header and a pad byte, so a wave of up to kWriteChunk bytes of
// samples leaves in one write.
constexpr size_t kWriteChunk = size_t{1} << 20;
constexpr size_t kBufferLimit = kWriteChunk + kWavHeaderSize + 1;
// A RIFF file's sizes are 32-bit: the data chunk and its pad byte must leave
// the RIFF size at most 0xFFFFFFFF.
constexpr uint64_t kMaxDataBytes = UINT32_MAX - kRiffOverhead - 1;

constexpr uint8_t kTypeAdpcm = 0;
constexpr uint8_t kTypeRaw = 1;

const int16_t kZeroPredictor[kCoefficientsPerPredictor] = {};

// One file is written at a time, so its buffers live on from one wave to the
// next: their pages are touched once per run, not once per file.
std::vector<uint8_t>& outputBuffer() {
  static std::vector<uint8_t> buffer;
  return buffer;
}
std::vector<uint8_t>& frameBuffer() {
  static std::vector<uint8_t> buffer;
  return buffer;
}

// An output file: closed on every path out, with its write errors kept.
// Bytes gather in `pending` and go to the file a chunk at a time; the header
// stays in `pending` until the first chunk leaves, so a wave of up to
// kWriteChunk bytes of samples costs one write.
class WavFile {
 public:
  WavFile(FILE* file, const uint8_t (&header)[kWavHeaderSize])
      : file_(file), pending_(outputBuffer()) {
    // The buffering is ours; the stream hands each piece straight over.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    pending_.reserve(kBufferLimit);
    pending_.assign(header, header + kWavHeaderSize);
  }
  ~WavFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  WavFile(const WavFile&) = delete;
  WavFile& operator=(const WavFile&) = delete;

  // Room for `n` more bytes at the end of the file; n <= kWriteChunk.
  uint8_t* extend(size_t n) {
    if (pending_.size() + n > kBufferLimit) flush();
    size_t at = pending_.size();
    pending_.resize(at + n);
    return pending_.data() + at;
  }

  // Puts the final lengths into the header (`dataBytes` of samples, a pad
  // byte after an odd data chunk), writes what is left and closes. False
  // when any write or the close failed.
  bool finish(uint64_t dataBytes, const std::vector<uint8_t>& trailingChunk) {
    if (dataBytes % 2 != 0) *extend(1) = 0;
    if (!trailingChunk.empty()) std::memcpy(extend(trailingChunk.size()), trailingChunk.data(), trailingChunk.size());
    const uint64_t fileLength =
        kWavHeaderSize + dataBytes + dataBytes % 2 + trailingChunk.size();
    uint8_t lengths[kWavHeaderSize];
    std::memcpy(lengths, headerBytes(), kWavHeaderSize);
    storeLE32(lengths + kRiffSizeOffset, static_cast<uint32_t>(fileLength - 8));
    storeLE32(lengths + kDataSizeOffset, static_cast<uint32_t>(dataBytes));
    storeLE32(lengths + kSampleCountOffset, static_cast<uint32_t>(dataBytes / 2));
    if (!headerFlushed_) {
      std::memcpy(pending_.data(), lengths, kWavHeaderSize);
      flush();
    } else {
      flush();
      if (ok_ && std::fseek(file_, 0, SEEK_SET) != 0) ok_ = false;
      if (ok_ && std::fwrite(lengths, 1, kWavHeaderSize, file_) != kWavHeaderSize) ok_ = false;
    }
    if (std::fclose(file_) != 0) ok_ = false;
    file_ = nullptr;
    return ok_;
  }

 private:
  const uint8_t* headerBytes() const { return headerFlushed_ ? header_ : pending_.data(); }

  void flush() {
    if (pending_.empty()) return;
    if (!headerFlushed_) {
      std::memcpy(header_, pending_.data(), kWavHeaderSize);
      headerFlushed_ = true;
    }
    if (ok_ && std::fwrite(pending_.data(), 1, pending_.size(), file_) != pending_.size()) {
      ok_ = false;
    }
    pending_.clear();
  }

  FILE* file_;
  std::vector<uint8_t>& pending_;
  uint8_t header_[kWavHeaderSize] = {};
  bool headerFlushed_ = false;
  bool ok_ = true;
};

// The ROM's own name counts as taken too: the wave is written beside it
// under a distinct name rather than over it, or lost.
bool isRomFile(const RunContext& ctx, const std::string& name) {
  return ctx.rom != nullptr && ctx.rom->isSameFileAs(outputPath(ctx.settings, name));
}

bool nameTaken(const RunContext& ctx, const std::string& name) {
  return wavNameTaken(ctx, name) || isRomFile(ctx, name);
}

// The file name for this wave. Different numbers can print alike (bank 1,
// instrument 0, sound 123 and bank 10, instrument 1, sound 23 both give
// A1000123.WAV; so do a bank's percussion and its first instrument), so a
// name already written in this run gets the first free "_1", "_2", ...
// before ".WAV" instead of replacing the earlier file.
std::string chooseWaveName(RunContext& ctx, uint8_t type) {
  const char lead = static_cast<char>(type == kTypeAdpcm ? 65 : 64);
  std::string name = formatText("%c%01d%03d%02d.WAV", lead, ctx.walk.curBank, ctx.walk.curInst,
                                ctx.walk.curSound);
  if (!nameTaken(ctx, name)) return name;
  const std::string stem = name.substr(0, name.size() - 4);
  std::string distinct;
  for (int n = 1;; ++n) {
    distinct = formatText("%s_%d.WAV", stem.c_str(), n);
    if (!nameTaken(ctx, distinct)) break;
  }
  if (isRomFile(ctx, name)) {
    std::fprintf(ctx.err, "Warning: %s is the ROM file itself; this wave is written as %s\n",
                 name.c_str(), distinct.c_str());
  } else {
    std::fprintf(ctx.err,
                 "Warning: %s was already written in this run; this wave is written as %s\n",
                 name.c_str(), distinct.c_str());
  }
  return distinct;
}

// "0x%06llX", with a minus sign for an offset before the file's start.
std::string offsetText(int64_t offset) {
  const uint64_t magnitude = offset < 0 ? 0 - static_cast<uint64_t>(offset) : offset;
  return formatText("%s0x%06" PRIX64, offset < 0 ? "-" : "", magnitude);
}

void warnOutsideRom(RunContext& ctx, const std::string& path, int64_t start, int32_t len,
                    int64_t present) {
  std::fprintf(ctx.err,
               "Warning: %s: wave data at %s (%d bytes) lies outside the ROM; %" PRId64
               " of its bytes exist\n",
               path.c_str(), offsetText(start).c_str(), len, present);
}

// Raw samples are big-endian two's complement, as every number in the ROM;
// the WAV file wants them little-endian, same value. An odd count leaves a
// last byte without a partner: it is kept as it stands, so the data chunk
// holds every byte of the wave (readers count only whole samples).
uint64_t writeRawWave(RunContext& ctx, const RomStream& rom, WavFile& file,
                      const std::string& path, const ALWaveTable& wave, int64_t start) {
  const int64_t end = start + wave.len;
  // Samples stay aligned to the wave's start: when the wave begins an odd
  // number of bytes before the file, the byte that lies inside belongs to a
  // sample whose first half is missing, and is left out.
  int64_t first = std::max<int64_t>(start, 0);
  if (((first - start) & 1) != 0) ++first;
  const int64_t last = std::min<int64_t>(end, rom.size());
  const int64_t present = std::max<int64_t>(last - first, 0);
  if (present < wave.len) warnOutsideRom(ctx, path, start, wave.len, present);

  // Straight from the ROM into the output buffer, a chunk (an even number of
  // bytes) at a time, and converted there.
  for (int64_t done = 0; done < present;) {
    const size_t piece = static_cast<size_t>(std::min<int64_t>(present - done, kWriteChunk));
    uint8_t* out = file.extend(piece);
    rom.copyAt(first + done, out, piece);
    for (size_t i = 0; i + 1 < piece; i += 2) storeLE16(out + i, loadBE16(out + i));
    done += static_cast<int64_t>(piece);
  }
  return static_cast<uint64_t>(present);
}

// Frames start at every multiple of 9 below `len`, each giving 16 samples.
// The bytes of a last frame cut by `len` belong to whatever follows the wave
// and read as zero here. Only frames that begin inside the ROM are decoded.
uint64_t writeAdpcmWave(RunContext& ctx, const RomStream& rom, WavFile& file,
                        const std::string& path, const ALWaveTable& wave, int64_t start) {
  const int64_t len = wave.len;
  const int64_t frameBytes = static_cast<int64_t>(kAdpcmFrameBytes);
  const int64_t frames = (len + frameBytes - 1) / frameBytes;
  // Frames k with 0 <= start + 9k < ROM size.
  int64_t firstFrame = start < 0 ? (-start + frameBytes - 1) / frameBytes : 0;
  int64_t endFrame = rom.size() > start ? (rom.size() - start + frameBytes - 1) / frameBytes : 0;
  firstFrame = std::min(firstFrame, frames);
  endFrame = std::clamp(endFrame, firstFrame, frames);
  int64_t count = endFrame - firstFrame;

  const int64_t presentFirst = std::max<int64_t>(start, 0);
  const int64_t presentLast = std::min<int64_t>(start + len, rom.size());
  const int64_t present = std::max<int64_t>(presentLast - presentFirst, 0);
  if (present < len) warnOutsideRom(ctx, path, start, wave.len, present);

  const int64_t maxFrames = static_cast<int64_t>(kMaxDataBytes / kFrameOutputBytes);
  if (count > maxFrames) {
    count = maxFrames;
    std::fprintf(ctx.err,
                 "Warning: %s would exceed the 4 GiB size of a WAV file; only %" PRId64
                 " frames are written\n",
                 path.c_str(), count);
  }
  if (count == 0) return 0;

  const int32_t bookIndex = wave.waveInfo.adpcmWave.book;
  const ALADPCMBook* book = nullptr;
  if (bookIndex > 0 && bookIndex < ctx.table.size() &&
      ctx.table[bookIndex].kind == StructKind::AdpcmBook) {
    book = ctx.table[bookIndex].getIf<ALADPCMBook>();
  }
  bool warned = false;
  if (book == nullptr) {
    std::fprintf(ctx.err,
                 "Warning: %s has no codebook (book index %d); decoded with zero coefficients\n",
                 path.c_str(), bookIndex);
    warned = true;
  }

  AdpcmHistory history;
  decodeAdpcmHalfFrame(history, nullptr, kZeroPredictor, 0, nullptr);
  const size_t framesPerChunk = kWriteChunk / kFrameOutputBytes;
  std::vector<uint8_t>& input = frameBuffer();
  for (int64_t done = 0; done < count;) {
    const size_t batch = static_cast<size_t>(std::min<int64_t>(count - done, framesPerChunk));
    // The batch's frames in one piece; a last frame cut by `len` reads as
    // zero beyond it, one cut by the end of the ROM too.
    const int64_t at = (firstFrame + done) * frameBytes;
    input.resize(batch * kAdpcmFrameBytes);
    const size_t inWave =
        static_cast<size_t>(std::min<int64_t>(len - at, static_cast<int64_t>(input.size())));
    rom.copyAt(start + at, input.data(), inWave);
    std::fill(input.begin() + static_cast<ptrdiff_t>(inWave), input.end(), 0);
    const uint8_t* frame = input.data();
    uint8_t* out = file.extend(batch * kFrameOutputBytes);
    for (size_t f = 0; f < batch; ++f, frame += kAdpcmFrameBytes) {
      const uint8_t header = frame[0];
      const int32_t p = header & 0x0F;
      const uint8_t scale = static_cast<uint8_t>(std::min(header >> 4, kAdpcmMaxScale));
      const int16_t* predictor = book != nullptr ? book->predictor(p) : nullptr;
      if (predictor == nullptr) {
        predictor = kZeroPredictor;
        if (!warned) {
          std::fprintf(ctx.err,
                       "Warning: %s uses predictor %d but its book holds %d; decoded with zero "
                       "coefficients\n",
                       path.c_str(), p, book->storedPredictors());
          warned = true;
        }
      }
      int16_t samples[kAdpcmFrameSamples];
      decodeAdpcmHalfFrame(history, frame + 1, predictor, scale, samples);
      decodeAdpcmHalfFrame(history, frame + 5, predictor, scale, samples + 8);
      for (size_t i = 0; i < kAdpcmFrameSamples; ++i) {
        storeLE16(out + 2 * i, static_cast<uint16_t>(samples[i]));
      }
      out += kFrameOutputBytes;
    }
    done += static_cast<int64_t>(batch);
  }
  return static_cast<uint64_t>(count) * kFrameOutputBytes;
}

// The "smpl" chunk (/l): sampler facts for the wave. Layout, little-endian:
//    0 "smpl"  4 chunk size (36 + 24 per loop)  8 manufacturer 0  12 product 0
//   16 sample period in ns  20 MIDI unity note  24 MIDI pitch fraction
//   28 SMPTE format 0  32 SMPTE offset 0  36 loop count  40 sampler data 0
//   44.. loops of 24 bytes: id, type (0 forward), start, end (last sample
//   played), fraction 0, play count (0 endless).
constexpr size_t kSamplerChunkHeader = 44;
constexpr size_t kSamplerLoopSize = 24;
constexpr int kDefaultUnityNote = 60;

// The key map of the sound that led to this wave, if it has one.
const ALKeyMap* soundKeyMap(const RunContext& ctx) {
  const int32_t sound = ctx.walk.soundEntry;
  if (sound <= 0 || sound >= ctx.table.size()) return nullptr;
  const ALSound* record = ctx.table[sound].getIf<ALSound>();
  if (record == nullptr || record->keyMap <= 0 || record->keyMap >= ctx.table.size()) return nullptr;
  return ctx.table[record->keyMap].getIf<ALKeyMap>();
}

// start, end and count of the wave's loop record, whichever loop kind the
// entry holds; false when there is none.
bool waveLoop(const RunContext& ctx, const ALWaveTable& wave, int32_t (&loop)[3]) {
  const int32_t index = wave.waveInfo.rawWave.loop;
  if (index <= 0 || index >= ctx.table.size()) return false;
  if (const ALADPCMloop* a = ctx.table[index].getIf<ALADPCMloop>()) {
    loop[0] = a->start, loop[1] = a->end, loop[2] = a->count;
    return true;
  }
  if (const ALRawLoop* r = ctx.table[index].getIf<ALRawLoop>()) {
    loop[0] = r->start, loop[1] = r->end, loop[2] = r->count;
    return true;
  }
  return false;
}

std::vector<uint8_t> samplerChunk(RunContext& ctx, const ALWaveTable& wave, const std::string& path,
                                  int64_t samples) {
  // Unity note and fraction from the key map's base key and detune (cents):
  // the pitch keyBase * 100 + detune cents, split into a note and the
  // fraction of a semitone above it (0x80000000 is half a semitone).
  int64_t cents = int64_t{kDefaultUnityNote} * 100;
  if (const ALKeyMap* keyMap = soundKeyMap(ctx)) cents = int64_t{keyMap->keyBase} * 100 + keyMap->detune;
  cents = std::clamp<int64_t>(cents, 0, 127 * 100);
  const uint32_t unityNote = static_cast<uint32_t>(cents / 100);
  const uint32_t fraction =
      static_cast<uint32_t>(std::llround(static_cast<double>(cents % 100) / 100.0 * 4294967296.0));
  const int32_t rate = ctx.walk.outputRate;
  const uint32_t period =
      rate > 0 ? static_cast<uint32_t>(std::llround(1e9 / static_cast<double>(rate))) : 0;

  int32_t loop[3];
  bool looped = waveLoop(ctx, wave, loop) && loop[2] != 0 && loop[0] < loop[1];
  int64_t start = 0, end = 0;
  if (looped) {
    start = loop[0];
    end = int64_t{loop[1]} - 1;
    if (start < 0 || end >= samples) {
      const int64_t clippedStart = std::max<int64_t>(start, 0);
      const int64_t clippedEnd = std::min<int64_t>(end, samples - 1);
      if (clippedStart > clippedEnd) {
        std::fprintf(ctx.err,
                     "Warning: %s: loop %" PRId64 "..%" PRId64 " lies outside its %" PRId64
                     " samples; no loop is written\n",
                     path.c_str(), start, end, samples);
        looped = false;
      } else {
        std::fprintf(ctx.err,
                     "Warning: %s: loop %" PRId64 "..%" PRId64 " reaches past its %" PRId64
                     " samples; clipped to %" PRId64 "..%" PRId64 "\n",
                     path.c_str(), start, end, samples, clippedStart, clippedEnd);
        start = clippedStart;
        end = clippedEnd;
      }
    }
  }
  // -1, 2147483647 and any other negative count play endlessly.
  const uint32_t playCount = looped && loop[2] > 0 && loop[2] < INT32_MAX ? static_cast<uint32_t>(loop[2]) : 0;

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

}  // namespace

bool wavNameTaken(const RunContext& ctx, const std::string& name) {
  return std::find(ctx.wavNames.begin(), ctx.wavNames.end(), name) != ctx.wavNames.end();
}

void writeWaveFile(RunContext& ctx, const ALWaveTable& wave) {
  if (ctx.settings.tblGiven == 0) return;

  const std::string name = chooseWaveName(ctx, wave.type);
  const std::string path = outputPath(ctx.settings, name);
  // What became of this wave, for the run's machine-readable report.
  WaveOutcome& outcome = ctx.waveOutcomes[ctx.walk.waveEntry];
  outcome = WaveOutcome{};
  if (ctx.rom != nullptr && ctx.rom->isSameFileAs(path)) {
    std::fprintf(ctx.err, "Warning: %s is the ROM file itself; this wave is not written\n",
                 path.c_str());
    outcome.skipped = "its file name is the ROM file itself";
    return;
  }
  FILE* stream = std::fopen(path.c_str(), "wb");
  if (stream == nullptr) {
    std::fprintf(ctx.err, "Unable to open .wav output file %s\n", path.c_str());
    outcome.skipped = "the output file could not be opened";
    return;
  }
  ctx.counters.wavFiles++;
  ctx.wavNames.push_back(name);
  outcome.file = name;
  outcome.rate = ctx.walk.outputRate;

  uint8_t header[kWavHeaderSize];
  std::memcpy(header, WavHeaderTemplate, kWavHeaderSize);
  // A negative rate (a negative /a ratio or sample rate) has no meaning in a
  // WAV header: it is written as 0. The byte rate is twice the rate.
  const uint32_t rate = static_cast<uint32_t>(std::max<int32_t>(ctx.walk.outputRate, 0));
  storeLE32(header + kSampleRateOffset, rate);
  storeLE32(header + kByteRateOffset, rate * 2u);
  WavFile file(stream, header);

  uint64_t dataBytes = 0;
  if (wave.type == kTypeAdpcm || wave.type == kTypeRaw) {
    if (wave.len < 0) {
      std::fprintf(ctx.err, "Warning: %s has a negative length (%d); its data chunk is empty\n",
                   path.c_str(), wave.len);
    } else if (wave.len > 0) {
      static const RomStream kNoRom;
      const RomStream& rom = ctx.rom != nullptr ? *ctx.rom : kNoRom;
      const int64_t start = static_cast<int64_t>(ctx.settings.tblOffset) + wave.base;
      dataBytes = wave.type == kTypeRaw ? writeRawWave(ctx, rom, file, path, wave, start)
                                        : writeAdpcmWave(ctx, rom, file, path, wave, start);
    }
  }
  outcome.samples = static_cast<int64_t>(dataBytes / 2);
  std::vector<uint8_t> trailing;
  if (ctx.settings.samplerChunk) trailing = samplerChunk(ctx, wave, path, outcome.samples);
  const bool written = file.finish(dataBytes, trailing);
  if (!written) {
    std::fprintf(ctx.err, "Unable to write .wav output file %s\n", path.c_str());
    outcome.skipped = "the output file could not be written completely";
  }
  // The file is left valid, with an empty data chunk, before the run ends.
  if (wave.type != kTypeAdpcm && wave.type != kTypeRaw) {
    fatal("Unknown wavetable type... Aborting...\n");
  }
}

}  // namespace zaft
