#include "audio/samples.h"

#include <algorithm>
#include <cstring>

#include "util/endian.h"

namespace zaft {

namespace {

constexpr int64_t kFrameBytes = static_cast<int64_t>(kAdpcmFrameBytes);
const int16_t kZeroPredictor[kCoefficientsPerPredictor] = {};

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
  if (type == kWaveTypeAdpcm) return frames * static_cast<int64_t>(kAdpcmFrameOutputBytes);
  if (type == kWaveTypeRaw) return present;
  return 0;
}

SampleLayout layoutSamples(const RomImage& rom, int64_t tblOffset, const ALWaveTable& wave,
                           const ALADPCMBook* book) {
  SampleLayout s;
  s.type = wave.type;
  s.start = tblOffset + wave.base;
  s.len = wave.len;
  s.book = book;
  if (wave.len <= 0) return s;
  const int64_t size = rom.size();
  const int64_t end = s.start + wave.len;
  if (wave.type == kWaveTypeRaw) {
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
  if (wave.type != kWaveTypeAdpcm) return s;
  // Frames k with 0 <= start + 9k < ROM size.
  const int64_t frames = ceilDiv(wave.len, kFrameBytes);
  int64_t firstFrame = s.start < 0 ? ceilDiv(-s.start, kFrameBytes) : 0;
  int64_t endFrame = size > s.start ? ceilDiv(size - s.start, kFrameBytes) : 0;
  firstFrame = std::min(firstFrame, frames);
  endFrame = std::clamp(endFrame, firstFrame, frames);
  s.firstFrame = firstFrame;
  s.frames = endFrame - firstFrame;
  return s;
}

SampleDecoder::SampleDecoder(const RomImage& rom, const SampleLayout& layout, int64_t maxFrames)
    : rom_(rom), layout_(layout) {
  if (layout_.len <= 0) return;
  if (layout_.type == kWaveTypeAdpcm) {
    frames_ = std::min(layout_.frames, maxFrames);
    total_ = frames_ * static_cast<int64_t>(kAdpcmFrameOutputBytes);
  } else if (layout_.type == kWaveTypeRaw) {
    total_ = layout_.present;
  }
  decodeAdpcmHalfFrame(history_, nullptr, kZeroPredictor, 0, nullptr);
}

size_t SampleDecoder::read(uint8_t* out, size_t room) {
  if (layout_.type == kWaveTypeAdpcm) return readAdpcm(out, room);
  if (layout_.type == kWaveTypeRaw) return readRaw(out, room);
  return 0;
}

size_t SampleDecoder::readAdpcm(uint8_t* out, size_t room) {
  const int64_t batch =
      std::min<int64_t>(frames_ - done_, static_cast<int64_t>(room / kAdpcmFrameOutputBytes));
  if (batch <= 0) return 0;
  // The batch's frames in one piece; a last frame cut by `len` reads as zero
  // beyond it, one cut by the end of the ROM too.
  const int64_t at = (layout_.firstFrame + done_) * kFrameBytes;
  const size_t bytes = static_cast<size_t>(batch) * kAdpcmFrameBytes;
  uint8_t* input = frameBuffer(bytes).data();
  const size_t inWave = static_cast<size_t>(std::min<int64_t>(layout_.len - at, static_cast<int64_t>(bytes)));
  rom_.copyAt(layout_.start + at, input, inWave);
  std::fill(input + inWave, input + bytes, 0);
  const uint8_t* frame = input;
  for (int64_t f = 0; f < batch; ++f, frame += kAdpcmFrameBytes) {
    const uint8_t header = frame[0];
    const int32_t p = header & 0x0F;
    const uint8_t scale = static_cast<uint8_t>(std::min(header >> 4, kAdpcmMaxScale));
    const int16_t* predictor = layout_.book != nullptr ? layout_.book->predictor(p) : nullptr;
    if (predictor == nullptr) {
      predictor = kZeroPredictor;
      if (layout_.book != nullptr && missingPredictor_ < 0) missingPredictor_ = p;
    }
    int16_t samples[kAdpcmFrameSamples];
    decodeAdpcmHalfFrame(history_, frame + 1, predictor, scale, samples);
    decodeAdpcmHalfFrame(history_, frame + 5, predictor, scale, samples + 8);
    for (size_t i = 0; i < kAdpcmFrameSamples; ++i) {
      storeLE16(out + 2 * i, static_cast<uint16_t>(samples[i]));
    }
    out += kAdpcmFrameOutputBytes;
  }
  done_ += batch;
  return static_cast<size_t>(batch) * kAdpcmFrameOutputBytes;
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
