#include "audio/samples.h"

#include <algorithm>
#include <cstring>

#include "util/endian.h"

namespace zaft {

namespace {

constexpr int64_t kFrameBytes = static_cast<int64_t>(kAdpcmFrameBytes);
// Frames copied out of the ROM, kept from one wave to the next: its pages
// are touched once per thread, not once per wave.
std::vector<uint8_t>& frameBuffer(size_t size) {
  thread_local std::vector<uint8_t> buffer;
  if (buffer.size() < size) buffer.resize(size);
  return buffer;
}

int64_t ceilDiv(int64_t n, int64_t d) { return (n + d - 1) / d; }

}  // namespace

int64_t SampleLayout::pcmBytes() const {
  if (len <= 0) return 0;
  if (codec == SampleCodec::Vadpcm) return frames * static_cast<int64_t>(kAdpcmFrameOutputBytes);
  if (codec == SampleCodec::Raw16) return present;
  return 0;
}

SampleLayout layoutSamples(const RomImage& rom, const SampleSource& source) {
  SampleLayout s;
  s.codec = source.codec;
  s.start = source.start;
  s.len = source.len;
  s.hasBook = source.hasBook;
  s.book = source.book;
  if (source.len <= 0) return s;
  const int64_t size = rom.size();
  const int64_t end = s.start + source.len;
  if (source.codec == SampleCodec::Raw16) {
    // Samples stay aligned to the wave's start: when the wave begins an odd
    // number of bytes before the file, the byte that lies inside belongs to
    // a sample whose first half is missing, and is left out.
    int64_t first = std::max<int64_t>(s.start, 0);
    if (((first - s.start) & 1) != 0) ++first;
    s.rawFirst = first;
    s.present = std::max<int64_t>(std::min(end, size) - first, 0);
    return s;
  }
  s.present = std::max<int64_t>(std::min(end, size) - std::max<int64_t>(s.start, 0), 0);
  if (source.codec != SampleCodec::Vadpcm) return s;
  // Frames k with 0 <= start + 9k < ROM size.
  const int64_t frames = adpcmFramesOf(source.len);
  int64_t firstFrame = s.start < 0 ? ceilDiv(-s.start, kFrameBytes) : 0;
  int64_t endFrame = size > s.start ? ceilDiv(size - s.start, kFrameBytes) : 0;
  firstFrame = std::min(firstFrame, frames);
  endFrame = std::clamp(endFrame, firstFrame, frames);
  s.firstFrame = firstFrame;
  s.frames = endFrame - firstFrame;
  return s;
}

SampleDecoder::SampleDecoder(const RomImage& rom, const SampleLayout& layout, int64_t maxFrames)
    : rom_(rom),
      layout_(layout),
      kernel_(layout.book.predictors > 0 ? layout.book.coefficients : nullptr,
              layout.book.predictors) {
  if (layout_.len <= 0) return;
  if (layout_.codec == SampleCodec::Vadpcm) {
    frames_ = std::min(layout_.frames, maxFrames);
    total_ = frames_ * static_cast<int64_t>(kAdpcmFrameOutputBytes);
  } else if (layout_.codec == SampleCodec::Raw16) {
    total_ = layout_.present;
  }
}

size_t SampleDecoder::read(uint8_t* out, size_t room) {
  if (layout_.codec == SampleCodec::Vadpcm) return readAdpcm(out, room);
  if (layout_.codec == SampleCodec::Raw16) return readRaw(out, room);
  return 0;
}

size_t SampleDecoder::readAdpcm(uint8_t* out, size_t room) {
  const int64_t batch =
      std::min<int64_t>(frames_ - done_, static_cast<int64_t>(room / kAdpcmFrameOutputBytes));
  if (batch <= 0) return 0;
  const int64_t at = (layout_.firstFrame + done_) * kFrameBytes;
  // Frames whole inside both the wave and the ROM are decoded where they lie.
  const int64_t inside = std::min<int64_t>(layout_.len, rom_.size() - layout_.start) - at;
  const int64_t direct = std::clamp<int64_t>(inside / kFrameBytes, 0, batch);
  int32_t missing = -1;
  if (direct > 0) {
    const uint8_t* frames = rom_.data() + layout_.start + at;
    judge(frames, direct);
    kernel_.decode(history_, frames, static_cast<size_t>(direct), out, missing);
  }
  // A last frame cut by `len` reads as zero beyond it, one cut by the end of
  // the ROM too: those are copied first.
  if (direct < batch) {
    const int64_t from = at + direct * kFrameBytes;
    const size_t bytes = static_cast<size_t>(batch - direct) * kAdpcmFrameBytes;
    uint8_t* input = frameBuffer(bytes).data();
    const size_t inWave =
        static_cast<size_t>(std::min<int64_t>(layout_.len - from, static_cast<int64_t>(bytes)));
    rom_.copyAt(layout_.start + from, input, inWave);
    std::fill(input + inWave, input + bytes, 0);
    judge(input, batch - direct);
    kernel_.decode(history_, input, static_cast<size_t>(batch - direct),
                   out + direct * static_cast<int64_t>(kAdpcmFrameOutputBytes), missing);
  }
  // A wave without a book decodes with zero coefficients; its warning is
  // that it has none.
  if (layout_.hasBook && missingPredictor_ < 0) missingPredictor_ = missing;
  done_ += batch;
  return static_cast<size_t>(batch) * kAdpcmFrameOutputBytes;
}

// The frames' headers as the sample-block check judges them: plausible
// (scale at most 12, an index the book holds; the pad frame's byte 0), and
// blank (plausible with every byte 0). Bytes beyond the wave read as 0.
void SampleDecoder::judge(const uint8_t* frames, int64_t count) {
  if (judgePredictors_ <= 0) return;
  const uint8_t* ok = kPlausibleHeaders.ok[static_cast<size_t>(judgePredictors_)].data();
  int64_t plausible = 0;
  int64_t blank = 0;
  for (const uint8_t* frame = frames; frame < frames + count * kFrameBytes; frame += kFrameBytes) {
    const uint8_t header = frame[0];
    plausible += ok[header];
    blank += (header == 0) & (loadLE64(frame + 1) == 0);
  }
  // Only the pad frame (padFrameOf) asks for more: a header other than 0
  // there is implausible.
  const int64_t pad = padFrameOf(layout_.len);
  const int64_t first = layout_.firstFrame + done_ + judgement_.frames;
  if (pad >= first && pad < first + count) {
    const uint8_t header = frames[(pad - first) * kFrameBytes];
    plausible -= header != 0 && ok[header] != 0;
  }
  judgement_.plausible += plausible;
  judgement_.blank += blank;
  judgement_.frames += count;
}

// Straight from the ROM into `out`, an even number of bytes at a time (the
// last piece may hold the odd byte), converted there.
size_t SampleDecoder::readRaw(uint8_t* out, size_t room) {
  const int64_t left = total_ - done_;
  if (left <= 0) return 0;
  const size_t piece = left <= static_cast<int64_t>(room) ? static_cast<size_t>(left)
                                                         : room & ~size_t{1};
  rom_.copyAt(layout_.rawFirst + done_, out, piece);
  for (size_t i = 0; i + 1 < piece; i += 2) storeLE16(out + i, loadBE16(out + i));
  done_ += static_cast<int64_t>(piece);
  return piece;
}

std::vector<int16_t> decodeSamples(const RomImage& rom, const SampleLayout& layout) {
  SampleDecoder decoder(rom, layout);
  std::vector<uint8_t> bytes(static_cast<size_t>(decoder.totalBytes()) + kAdpcmFrameOutputBytes);
  size_t at = 0;
  while (size_t n = decoder.read(bytes.data() + at, bytes.size() - at)) at += n;
  std::vector<int16_t> samples(at / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(loadLE16(bytes.data() + 2 * i));
  }
  return samples;
}

}  // namespace zaft
