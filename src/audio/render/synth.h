// The console's synthesis driver as a sequence player sees it: voices
// allocated, started, ramped and freed at the times the driver stamps the
// calls with, and alAudioFrame mixing frames of stereo samples.
//
// The configuration it is exact for: `voices` virtual and physical voices,
// `updates` parameter updates in the driver's queue, frames of
// ceil16(outputRate / 60) samples mixed in chunks of at most 160.
#pragma once

#include <cstdint>

#include "util/vadpcm_format.h"

namespace zaft {

// The effect bus presets.
enum class FxType { None, SmallRoom, BigRoom, Chorus, Flange, Echo };

struct RenderConfig {
  int32_t outputRate = 32000;  // Hz
  int32_t voices = 16;         // virtual and physical voices
  int32_t updates = 64;        // parameter updates (the queue's capacity)
  FxType fx = FxType::None;    // None, SmallRoom, BigRoom, Chorus, Flange, Echo
  // frames of ceil16(outputRate / 60) samples, mixed in chunks of at most 160
};

class Synth;

// A client of the synthesizer (a sequence player): called when its time comes.
class SynthClient {
 public:
  virtual ~SynthClient() = default;
  // Runs what is due; returns the microseconds until it wants to run again.
  virtual int32_t handle(class Synth& synth) = 0;
};

// A wave as the voice plays it: its bytes as the console's DMA would read them.
struct RenderWave {
  const uint8_t* rom = nullptr;
  int64_t romSize = 0;  // bytes past the end read as 0
  int64_t start = 0;    // the wave's first byte in `rom`
  int32_t len = 0;
  SampleCodec codec = SampleCodec::Vadpcm;  // Vadpcm or Raw16 (util/vadpcm_format.h)
  VadpcmBook book;                          // order 2, predictors as stored
  bool hasLoop = false;
  int32_t loopStart = 0, loopEnd = 0, loopCount = 0;
  int16_t loopState[16] = {};  // ADPCM loops
};

using VoiceId = int32_t;  // -1: none

class Synth {
 public:
  explicit Synth(const RenderConfig& config);
  void addClient(SynthClient* client);  // its first handle() runs at time 0
  // The alSyn* calls a client makes from handle(); each takes effect at the
  // time the SDK's driver stamps it with (the callback's time, rounded as the
  // driver does). A voice the driver stole for a call of higher priority keeps
  // its id until its holder frees it; the calls on it then do nothing.
  VoiceId allocVoice(int16_t priority, int16_t fxBus = 0);  // -1 when none is free
  void freeVoice(VoiceId v);
  void startVoice(VoiceId v, const RenderWave& wave);
  void stopVoice(VoiceId v);
  void setPitch(VoiceId v, float ratio);
  void setVol(VoiceId v, int16_t volume, int32_t rampMicros);
  void setPan(VoiceId v, uint8_t pan);
  void setFxMix(VoiceId v, uint8_t mix);
  void setPriority(VoiceId v, int16_t priority);
  int16_t priorityOf(VoiceId v) const;
  // alSynStartVoiceParams: starts the wave with its pitch, volume (reached
  // over `rampMicros`), pan and effect mix (above 127 taken as 127) in one
  // parameter update, as the sequence players start every note.
  void startVoiceParams(VoiceId v, const RenderWave& wave, float pitch, int16_t volume,
                        uint8_t pan, uint8_t fxMix, int32_t rampMicros);
  // alAudioFrame: runs every client callback due within the frame (at the frame's start), then mixes
  // `samples` stereo samples (interleaved L R int16) into `out`.
  void renderFrame(int16_t* out, int32_t samples);

 private:
  RenderConfig config_;
  SynthClient* client_ = nullptr;
  int64_t curSamples_ = 0;
  int64_t clientSamples_ = 0;
  int32_t nextVoice_ = 0;
};

}  // namespace zaft
