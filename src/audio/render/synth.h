// The console's synthesizer, sample for sample: the SDK audio library's
// synthesis driver and the audio microcode it drives.
//
// Clients (sequence players) run at the start of each frame; the voice
// calls they make are stamped with the time their callback was due,
// rounded down to 16 samples, and queued as parameter updates on the voice
// (at most `updates` waiting at once; a call finding none free is dropped,
// as the console drops it, and counted). Each frame is then mixed in
// chunks of at most 160 samples: every physical voice, in a fixed order,
// applies the updates due within the chunk and runs its chain (wave loader
// with ADPCM decoding and loops, 4-tap resampler, envelope mixer) into the
// dry (main) and wet (aux) buses; the effect turns the aux buses into its
// output (with no effect they pass unchanged); the aux buses are mixed into
// the main ones and the result is written interleaved, saturated to 16 bits.
//
// Virtual voices (VoiceId) are what a client holds; a physical voice plays
// for at most one of them. Allocating takes a voice freed this frame first,
// then a free one, and otherwise steals the oldest voice of the lowest
// priority not above the caller's: the stolen voice ramps to silence over
// 448 samples and stops 512 samples later, and everything the new owner
// asks of it is delayed by those 512 samples (until it is freed), as on the
// console.
//
// Where the console would hang or read out of bounds (a loop that ends
// before it starts, a negative ramp, a callback that asks to run again
// without letting time pass), the synthesizer keeps to safe ground; the
// comments where that happens say how.
#pragma once

#include <cstdint>
#include <memory>

#include "audio/render/effect.h"
#include "audio/render/render_wave.h"

namespace zaft {

struct RenderConfig {
  int32_t outputRate = 32000;  // Hz, 1000 to 192000
  int32_t voices = 16;         // virtual and physical voices, 1 to 256
  int32_t updates = 64;        // parameter updates (the queue's capacity), 1 to 65536
  FxType fx = FxType::None;    // None, SmallRoom, BigRoom, Chorus, Flange, Echo
  // frames of ceil16(outputRate / 60) samples, mixed in chunks of at most 160
};

// Samples in a frame at `outputRate`: outputRate / 60 rounded up to a
// multiple of 16 (the chunk and ramp arithmetic work in 16s).
int32_t frameSamplesFor(int32_t outputRate);

class Synth;

// A client of the synthesizer (a sequence player): called when its time comes.
class SynthClient {
 public:
  virtual ~SynthClient() = default;
  // Runs what is due; returns the microseconds until it wants to run again.
  virtual int32_t handle(Synth& synth) = 0;
};

using VoiceId = int32_t;  // -1: none

class Synth {
 public:
  // Throws FatalError naming the setting when the configuration is out of range.
  explicit Synth(const RenderConfig& config);
  ~Synth();
  Synth(const Synth&) = delete;
  Synth& operator=(const Synth&) = delete;

  // Its first handle() runs at the current time (0 for a new synthesizer).
  // Clients added later run first among those due at the same time.
  void addClient(SynthClient* client);
  // Not from inside a handle().
  void removeClient(SynthClient* client);

  // The voice calls a client makes from handle(). Each takes effect at the
  // time the callback was due, rounded down to 16 samples (plus 512 on a
  // stolen voice). A call on -1, on a freed id or on a voice that lost its
  // physical voice does nothing.

  // A voice of `priority` with a physical voice, or -1 when every physical
  // voice is busy with a higher priority (or stolen already).
  VoiceId allocVoice(int16_t priority, int16_t fxBus = 0);
  // Gives the voice back; the id may be handed out again. A voice still
  // sounding keeps sounding until stopped, as on the console.
  void freeVoice(VoiceId v);
  void startVoice(VoiceId v, const RenderWave& wave);
  // Starts a wave with its pitch ratio, volume (0..0x7FFF, squared by the
  // mixer), pan (0..127, 64 centre), effect send (0..127) and a first
  // volume ramp of `rampMicros` from silence (0: at full volume at once).
  void startVoiceParams(VoiceId v, const RenderWave& wave, float pitch, int16_t volume,
                        uint8_t pan, uint8_t fxMix, int32_t rampMicros);
  void stopVoice(VoiceId v);
  // Playback speed relative to the output rate; clamped below 2 and
  // quantised to 1/32768 as the resampler takes it.
  void setPitch(VoiceId v, float ratio);
  // Ramps to `volume` over `rampMicros` (rounded down to 16 samples; a
  // negative time counts as 0).
  void setVol(VoiceId v, int16_t volume, int32_t rampMicros);
  void setPan(VoiceId v, uint8_t pan);       // above 127 counts as 127
  void setFxMix(VoiceId v, uint8_t mix);     // above 127 counts as 127
  void setPriority(VoiceId v, int16_t priority);
  int16_t priorityOf(VoiceId v) const;  // 0 for -1 or a freed id

  // alAudioFrame: runs every client callback due within the frame (at the
  // frame's start), then mixes `samples` stereo samples (interleaved L R
  // int16) into `out`. With no client, writes silence and time stands
  // still, as the console's driver does nothing then. Frames should be a
  // multiple of 16 samples (frameSamplesFor) for the result to be the
  // console's.
  void renderFrame(int16_t* out, int32_t samples);

  // The sample time: samples mixed so far.
  int64_t sampleTime() const;
  // Voice calls dropped because every parameter update was in use.
  int64_t droppedUpdates() const;


 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zaft
