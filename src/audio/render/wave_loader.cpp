#include "audio/render/wave_loader.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "util/endian.h"

namespace zaft::render {

namespace {

constexpr int32_t kFrameBytes = static_cast<int32_t>(kAdpcmFrameBytes);  // 9
constexpr int32_t kFrameSamples = 16;

int32_t framesFor(int32_t samples) { return (samples + kFrameSamples - 1) / kFrameSamples; }

}  // namespace

void WaveLoader::setWave(const RenderWave& wave) {
  wave_ = wave;
  // Far enough outside any image that every read misses it, near enough
  // that positions cannot overflow.
  constexpr int64_t kFar = int64_t{1} << 48;
  wave_.start = std::clamp(wave.start, -kFar, kFar);
  loaded_ = true;
  memin_ = 0;
  sample_ = 0;
  len_ = std::max<int64_t>(wave.len, 0);
  if (wave.codec == SampleCodec::Vadpcm) {
    // Only whole frames are read.
    len_ = kFrameBytes * (len_ / kFrameBytes);
    // The decoder for this book, kept while the notes use the same one
    // (compared by value: a book's storage may be reused for another).
    const int32_t predictors =
        wave.book.coefficients == nullptr ? 0 : std::clamp<int32_t>(wave.book.predictors, 0, 16);
    const int16_t* c = wave.book.coefficients;
    if (!kernel_ || kernelBook_.size() != static_cast<size_t>(16 * predictors) ||
        !std::equal(kernelBook_.begin(), kernelBook_.end(), c)) {
      kernelBook_.assign(c, c + 16 * predictors);
      kernel_ = std::make_unique<AdpcmKernel>(kernelBook_.data(), predictors);
    }
  }
  if (wave.hasLoop && wave.loopStart >= 0 && wave.loopEnd > wave.loopStart) {
    loopStart_ = wave.loopStart;
    loopEnd_ = wave.loopEnd;
    loopCount_ = wave.loopCount;
  } else {
    loopStart_ = loopEnd_ = loopCount_ = 0;
  }
}

void WaveLoader::reset() {
  lastsam_ = 0;
  first_ = true;
  sample_ = 0;
  if (loaded_) {
    memin_ = 0;
    if (loopEnd_ > loopStart_) loopCount_ = wave_.loopCount;
  }
}

void WaveLoader::readBytes(int64_t offset, int32_t n, uint8_t* dst) const {
  if (n <= 0) return;
  const int64_t from = wave_.start + offset;
  const int64_t lo = std::clamp<int64_t>(from, 0, wave_.romSize);
  const int64_t hi = std::clamp<int64_t>(from + n, 0, wave_.romSize);
  std::memset(dst, 0, static_cast<size_t>(n));
  if (wave_.rom != nullptr && hi > lo) {
    std::memcpy(dst + (lo - from), wave_.rom + lo, static_cast<size_t>(hi - lo));
  }
}

void WaveLoader::pull(int16_t* out, int32_t count) {
  if (count <= 0) return;
  if (!loaded_ || (wave_.codec != SampleCodec::Vadpcm && wave_.codec != SampleCodec::Raw16)) {
    std::fill(out, out + count, int16_t{0});
    return;
  }
  if (wave_.codec == SampleCodec::Vadpcm) {
    pullAdpcm(out, count);
  } else {
    pullRaw(out, count);
  }
}

const int16_t* WaveLoader::decode(int32_t frames, Start start) {
  frames = std::max(frames, 0);
  chunk_.resize(static_cast<size_t>(kFrameSamples + frames * kFrameSamples));
  int16_t* c = chunk_.data();
  if (start == Start::Fresh) {
    std::fill(c, c + kFrameSamples, int16_t{0});
  } else {
    const int16_t* from = start == Start::Loop ? wave_.loopState : state_;
    std::copy(from, from + kFrameSamples, c);
  }
  if (frames > 0) {
    bytes_.resize(static_cast<size_t>(frames * (kFrameBytes + 2 * kFrameSamples)));
    uint8_t* in = bytes_.data();
    readBytes(memin_, frames * kFrameBytes, in);
    AdpcmHistory history;
    for (int i = 0; i < 8; ++i) history.h[i] = c[8 + i];
    int32_t missing = -1;
    if constexpr (std::endian::native == std::endian::little) {
      // The decoder writes little-endian samples: this machine's own.
      kernel_->decode(history, in, static_cast<size_t>(frames),
                      reinterpret_cast<uint8_t*>(c + kFrameSamples), missing);
    } else {
      uint8_t* pcm = in + frames * kFrameBytes;
      kernel_->decode(history, in, static_cast<size_t>(frames), pcm, missing);
      for (int32_t i = 0; i < frames * kFrameSamples; ++i) {
        c[kFrameSamples + i] = static_cast<int16_t>(loadLE16(pcm + 2 * i));
      }
    }
  }
  std::copy(c + frames * kFrameSamples, c + frames * kFrameSamples + kFrameSamples, state_);
  first_ = false;
  return c;
}

void WaveLoader::pullAdpcm(int16_t* out, int32_t outCount) {
  const bool looped = loopCount_ != 0 && outCount + sample_ > loopEnd_;
  // While a loop counts, a pull never ends past its end, so this is >= 0.
  int32_t nSam = looped ? static_cast<int32_t>(std::max<int64_t>(loopEnd_ - sample_, 0)) : outCount;
  const int32_t nLeft = lastsam_ ? kFrameSamples - lastsam_ : 0;
  int32_t tsam = std::max(nSam - nLeft, 0);
  int32_t nframes = framesFor(tsam);

  if (looped) {
    // Up to the loop's end, then whole passes from the loop's start, each
    // decoded afresh from the loop state, until the pull is filled.
    const int16_t* c = decode(nframes, first_ ? Start::Fresh : Start::Carried);
    const int32_t from = lastsam_ ? lastsam_ : kFrameSamples;
    int32_t written = nSam;
    std::copy(c + from, c + from + written, out);
    lastsam_ = loopStart_ & 15;
    memin_ = static_cast<int64_t>(kFrameBytes) * ((loopStart_ >> 4) + 1);
    sample_ = loopStart_;
    while (outCount > nSam) {
      outCount -= nSam;
      if (loopCount_ != -1 && loopCount_ != 0) --loopCount_;
      nSam = std::min(outCount, loopEnd_ - loopStart_);
      tsam = std::max(nSam - kFrameSamples + lastsam_, 0);
      nframes = framesFor(tsam);
      c = decode(nframes, Start::Loop);
      std::copy(c + lastsam_, c + lastsam_ + nSam, out + written);
      written += nSam;
    }
    lastsam_ = (outCount + lastsam_) & 15;
    sample_ += outCount;
    memin_ += static_cast<int64_t>(kFrameBytes) * nframes;
    return;
  }

  // Not looping: whole frames; those past the wave's end are silence.
  nSam = nframes * kFrameSamples;
  const int64_t overFlow = std::max<int64_t>(memin_ + int64_t{kFrameBytes} * nframes - len_, 0);
  const int32_t nOver = static_cast<int32_t>(
      std::min<int64_t>((overFlow / kFrameBytes) * kFrameSamples, nSam + nLeft));
  if (nOver - (nOver & 15) < outCount) {
    const int32_t frames = std::max(nSam - nOver, 0) / kFrameSamples;
    const int16_t* c = decode(frames, first_ ? Start::Fresh : Start::Carried);
    const int32_t from = lastsam_ ? lastsam_ : kFrameSamples;
    const int32_t decoded = std::clamp(nLeft + nSam - nOver, 0, outCount);
    std::copy(c + from, c + from + decoded, out);
    std::fill(out + decoded, out + outCount, int16_t{0});
    lastsam_ = (outCount + lastsam_) & 15;
    sample_ += outCount;
  } else {
    // Nothing left to decode: the pull is silence and the rest of the
    // last frame is dropped.
    std::fill(out, out + outCount, int16_t{0});
    lastsam_ = 0;
  }
  memin_ += static_cast<int64_t>(kFrameBytes) * nframes;
  if (nOver) lastsam_ = 0;
}

void WaveLoader::readRaw(int64_t offset, int32_t samples, int16_t* out) {
  if (samples <= 0) return;
  bytes_.resize(static_cast<size_t>(2 * samples));
  readBytes(offset, 2 * samples, bytes_.data());
  for (int32_t i = 0; i < samples; ++i) {
    out[i] = static_cast<int16_t>(loadBE16(bytes_.data() + 2 * i));
  }
}

void WaveLoader::pullRaw(int16_t* out, int32_t outCount) {
  if (loopCount_ != 0 && outCount + sample_ > loopEnd_) {
    int32_t nSam = static_cast<int32_t>(std::max<int64_t>(loopEnd_ - sample_, 0));
    int32_t written = nSam;
    readRaw(memin_, written, out);
    memin_ = 2 * static_cast<int64_t>(loopStart_);
    sample_ = loopStart_;
    while (outCount > nSam) {
      outCount -= nSam;
      if (loopCount_ != -1 && loopCount_ != 0) --loopCount_;
      nSam = std::min(outCount, loopEnd_ - loopStart_);
      readRaw(memin_, nSam, out + written);
      written += nSam;
    }
    sample_ += outCount;
    memin_ += 2 * static_cast<int64_t>(outCount);
    return;
  }
  // Not looping: bytes past the wave's end are zero, to the byte.
  const int32_t nbytes = 2 * outCount;
  const int64_t overFlow = std::clamp<int64_t>(memin_ + nbytes - len_, 0, nbytes);
  bytes_.resize(static_cast<size_t>(nbytes));
  uint8_t* b = bytes_.data();
  const int32_t kept = nbytes - static_cast<int32_t>(overFlow);
  readBytes(memin_, kept, b);
  std::fill(b + kept, b + nbytes, uint8_t{0});
  for (int32_t i = 0; i < outCount; ++i) out[i] = static_cast<int16_t>(loadBE16(b + 2 * i));
  if (overFlow < nbytes) sample_ += outCount;
  memin_ += nbytes;
}

}  // namespace zaft::render
