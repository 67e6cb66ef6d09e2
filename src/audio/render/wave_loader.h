// The first stage of a synthesizer voice: the wave's samples, as the
// console's load filter places them for the resampler. ADPCM waves are
// decoded frame by frame with the decoder's state carried from one pull to
// the next; a loop restarts decoding at the frame after the one holding the
// loop start, from the loop's state. A raw wave is read as 16-bit
// big-endian samples. Past the wave's end the stream is silence.
//
// The console's own bookkeeping is kept as it is, quirks included, because
// the samples depend on it: the position inside the last decoded frame, the
// frame-rounded read position, the loop counted down once per pass (and a
// pass completed within one pull even when the count runs out), and at the
// wave's end the decoded samples that a pull leaves unread are dropped.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/adpcm.h"
#include "audio/render/render_wave.h"

namespace zaft::render {

class WaveLoader {
 public:
  // A new wave: read position and loop from the wave; the decoder state
  // and the position inside the last frame stay as they were.
  void setWave(const RenderWave& wave);
  // Back to the wave's start: the decoder state is cleared before the next
  // decode and the loop count is the wave's again.
  void reset();
  // Writes the next `count` (>= 0) samples of the stream at `out`.
  void pull(int16_t* out, int32_t count);

 private:
  enum class Start { Fresh, Carried, Loop };
  void pullAdpcm(int16_t* out, int32_t count);
  void pullRaw(int16_t* out, int32_t count);
  // Decodes `frames` frames at the read position after a 16-sample state
  // frame (zeros, the carried state or the loop's) into chunk_; returns it.
  const int16_t* decode(int32_t frames, Start start);
  // `n` bytes of the ROM image at `offset` from the wave's start.
  void readBytes(int64_t offset, int32_t n, uint8_t* dst) const;
  void readRaw(int64_t offset, int32_t samples, int16_t* out);

  RenderWave wave_;
  bool loaded_ = false;
  int64_t len_ = 0;       // bytes; whole frames for ADPCM
  int64_t sample_ = 0;    // the stream's position in the wave
  int64_t memin_ = 0;     // the next frame's (or sample's) byte offset
  int32_t lastsam_ = 0;   // samples of the last decoded frame already used
  bool first_ = true;     // the next decode starts from a zero state
  int32_t loopStart_ = 0, loopEnd_ = 0, loopCount_ = 0;
  int16_t state_[16] = {};  // the last decoded frame
  std::unique_ptr<AdpcmKernel> kernel_;
  std::vector<int16_t> kernelBook_;  // the coefficients kernel_ was made for
  std::vector<int16_t> chunk_;
  std::vector<uint8_t> bytes_;
};

}  // namespace zaft::render
