// STAND-IN, TO BE REPLACED by the synthesizer: it runs its client's
// callbacks on the driver's schedule but mixes silence, so that the
// sequence player builds and runs before the synthesizer lands. Drop this
// file when the real one is merged.
#include <algorithm>

#include "audio/render/synth.h"

namespace zaft {

namespace {
// Microseconds to samples, as the driver converts a callback's delay.
int32_t samplesOf(int32_t micros, int32_t rate) {
  const float samples = static_cast<float>(micros) * static_cast<float>(rate) / 1000000.0 + 0.5;
  return static_cast<int32_t>(samples);
}
}  // namespace

Synth::Synth(const RenderConfig& config) : config_(config) {}

void Synth::addClient(SynthClient* client) {
  client_ = client;
  clientSamples_ = curSamples_;
}

// Voice ids count up; the stand-in never runs out of voices.
VoiceId Synth::allocVoice(int16_t, int16_t) { return nextVoice_++; }
void Synth::freeVoice(VoiceId) {}
void Synth::startVoice(VoiceId, const RenderWave&) {}
void Synth::stopVoice(VoiceId) {}
void Synth::setPitch(VoiceId, float) {}
void Synth::setVol(VoiceId, int16_t, int32_t) {}
void Synth::setPan(VoiceId, uint8_t) {}
void Synth::setFxMix(VoiceId, uint8_t) {}
void Synth::setPriority(VoiceId, int16_t) {}
int16_t Synth::priorityOf(VoiceId) const { return 0; }
void Synth::startVoiceParams(VoiceId, const RenderWave&, float, int16_t, uint8_t, uint8_t,
                             int32_t) {}

void Synth::renderFrame(int16_t* out, int32_t samples) {
  while (client_ != nullptr && clientSamples_ - curSamples_ < samples) {
    clientSamples_ += samplesOf(client_->handle(*this), config_.outputRate);
  }
  std::fill(out, out + 2 * static_cast<int64_t>(samples), int16_t{0});
  curSamples_ += samples;
}

}  // namespace zaft
