// A sequence rendered as the console plays it: the SDK's sequence players
// (the compact one and the Standard MIDI one) driving the synthesizer with
// one bank of a bank file.
//
// The player keeps the console's own state and arithmetic: 16 channels
// (program, volume, pan, priority, effect mix from controller 91, sustain,
// pitch bend within the instrument's bend range), a queue of 64 events in
// microseconds, ticks of (int32)((float)tempo * (float)(1.0 / division))
// microseconds (500000 per quarter note until the sequence says otherwise),
// voices handed out while any of its 16 is free (a note that finds none is
// not played), the sound of a note found by the bank's binary search over
// key maps, the pitch ratio in single-precision float from the key, the
// key map's base and detune and the channel's bend (the console does not
// scale it by the bank's sample rate), the volume as the console's integer
// product of the player's 0x7FFF, channel, sound, velocity and envelope
// levels, the envelope's attack, decay and release as volume ramps, pan as
// channel pan - 64 + the sound's pan. No vibrato or tremolo oscillators are
// run: games supply those.
//
// What the console would do with numbers that do not fit its arithmetic (a
// note's length or a delay past 2^31 microseconds, a negative envelope time)
// stops the render there with a problem instead.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/render/event_queue.h"
#include "audio/render/sequence_reader.h"
#include "audio/render/synth.h"
#include "bank/libultra/bank_file.h"
#include "rom/rom_image.h"

namespace zaft {

// The alSyn* calls a sequence player makes (the synthesizer, or a recorder
// in tests).
class SynthVoices {
 public:
  virtual ~SynthVoices() = default;
  virtual VoiceId allocVoice(int16_t priority) = 0;
  virtual void freeVoice(VoiceId v) = 0;
  virtual void stopVoice(VoiceId v) = 0;
  virtual void startVoiceParams(VoiceId v, const RenderWave& wave, float pitch, int16_t volume,
                                uint8_t pan, uint8_t fxMix, int32_t rampMicros) = 0;
  virtual void setPitch(VoiceId v, float ratio) = 0;
  virtual void setVol(VoiceId v, int16_t volume, int32_t rampMicros) = 0;
  virtual void setPan(VoiceId v, uint8_t pan) = 0;
  virtual void setFxMix(VoiceId v, uint8_t mix) = 0;
  virtual void setPriority(VoiceId v, int16_t priority) = 0;
};

// alCents2Ratio: 2^(cents / 1200) by squaring in single precision, as the
// console computes it.
float centsToRatio(int32_t cents);

struct PlayerOptions {
  int voices = 16;
  int events = 64;
  // An endless loop's end reached this many times asks for the fade.
  int loops = 2;
  // Only this channel (0-15) is heard: every other channel's voices play
  // at volume 0, so voices are handed out as in the whole mix.
  std::optional<int> onlyChannel;
};

struct RenderProblem {
  double seconds = 0;  // the sequence's time when it happened
  std::string what;
};

class SequencePlayer {
 public:
  // `bank` must be one of `bankFile`'s banks; the samples lie at
  // `tblOffset` + their base in `rom`. All must outlive the player.
  SequencePlayer(const RomImage& rom, const BankFile& bankFile, const ALBank& bank,
                 int64_t tblOffset, std::unique_ptr<SeqReader> reader, bool compact,
                 const PlayerOptions& options);

  // One callback of the synthesizer: runs what is due, returns the
  // microseconds until the next.
  int32_t run(SynthVoices& synth);

  // The sequence has ended and every voice it started is done.
  bool finished() const;
  // An endless loop has been played the number of times asked for.
  bool fadeDue() const { return fadeDue_; }
  // Set when the render must stop; the player does nothing more.
  const std::optional<RenderProblem>& problem() const { return problem_; }
  int64_t notesWithoutVoice() const { return notesWithoutVoice_; }
  int64_t eventsLost() const { return eventsLost_; }
  uint16_t channelsSounded() const { return channelsSounded_; }

 private:
  enum class State { Stopped, Playing, Stopping };
  struct Voice {
    int next = -1;
    VoiceId id = -1;
    const ALSound* sound = nullptr;
    const ALEnvelope* envelope = nullptr;
    int32_t wave = 0;  // the sound's wave table index
    int32_t envEndTime = 0;
    float pitch = 1.0f;
    float vibrato = 1.0f;
    uint8_t envGain = 0;
    uint8_t channel = 0;
    uint8_t key = 0;
    uint8_t velocity = 0;
    uint8_t envPhase = 0;
    uint8_t phase = 0;
    uint8_t tremelo = 0;
  };
  struct Channel {
    const ALInstrument* instrument = nullptr;
    int16_t bendRange = 200;
    uint8_t pan = 64;
    uint8_t priority = 5;
    uint8_t vol = 127;
    uint8_t fxmix = 0;
    uint8_t sustain = 0;
    float pitchBend = 1.0f;
  };

  void halt(std::string what);
  void post(const PlayerEvent& e, int32_t delta);
  void postNextSeqEvent();
  void handleNextSeqEvent(SynthVoices& synth);
  void handleMidi(SynthVoices& synth, uint8_t status, uint8_t byte1, uint8_t byte2,
                  uint32_t duration);
  void noteOn(SynthVoices& synth, uint8_t chan, uint8_t key, uint8_t vel, uint32_t duration);
  void controller(SynthVoices& synth, uint8_t chan, uint8_t number, uint8_t value);
  void tempo(const PlayerSeqEvent& e);
  void releaseVoice(SynthVoices& synth, int v, int32_t micros);
  void initFromBank();
  void setInstrument(const ALInstrument* inst, int chan);
  const ALSound* lookupSound(uint8_t key, uint8_t vel, uint8_t chan) const;
  int mapVoice(uint8_t key, uint8_t vel, uint8_t chan);
  void unmapVoice(int v);
  int lookupVoice(uint8_t key, uint8_t chan) const;
  int16_t volumeOf(const Voice& vs) const;
  int32_t deltaOf(const Voice& vs) const;
  uint8_t panOf(const Voice& vs) const;
  const RenderWave& waveOf(int32_t waveTable);

  const RomImage& rom_;
  const BankFile& file_;
  const ALBank& bank_;
  int64_t tblOffset_;
  std::unique_ptr<SeqReader> reader_;
  bool compact_;
  PlayerOptions options_;

  EventQueue queue_;
  PlayerEvent nextEvent_;
  State state_ = State::Stopped;
  bool hasSeq_ = false;
  bool hasBank_ = false;
  bool ended_ = false;
  int32_t uspt_ = 488;
  int32_t curTime_ = 0;   // microseconds, wrapping as the console's
  int64_t elapsed_ = 0;   // microseconds since the start
  int16_t vol_ = 0x7FFF;
  Channel channels_[16];
  std::vector<Voice> voices_;
  int allocHead_ = -1, allocTail_ = -1, freeList_ = -1;
  std::vector<std::optional<RenderWave>> waves_;
  std::vector<int> loopArrivals_;
  bool fadeDue_ = false;
  std::optional<RenderProblem> problem_;
  int64_t notesWithoutVoice_ = 0;
  int64_t eventsLost_ = 0;
  int64_t eventsRun_ = 0;
  uint16_t channelsSounded_ = 0;
};

// ---- the render of one sequence ----

struct RenderSettings {
  RenderConfig synth;      // output rate, voices, updates, effect
  int loops = 2;           // an endless loop played this many times, then faded out
  double seconds = 600;    // a hard cut
  std::optional<int> onlyChannel;  // 0-15: that channel alone (a stem)
};

// Seconds of fade after the loops, and at most this much of the effect's
// tail after the sequence has ended.
constexpr int kFadeSeconds = 8;
constexpr int kMaxTailSeconds = 10;

struct RenderResult {
  enum class End { Sequence, Fade, Cut, Problem };
  End end = End::Sequence;
  int64_t frames = 0;  // stereo samples handed out
  std::optional<RenderProblem> problem;  // why it stopped early
  int64_t notesWithoutVoice = 0;  // notes not played: every voice was busy
  int64_t eventsLost = 0;         // posts to the full event queue
  uint16_t channelsSounded = 0;   // bit c: channel c started a voice
};

// Receives `count` stereo samples (L R interleaved), in order.
using PcmSink = std::function<void(const int16_t* samples, int32_t count)>;

// Renders the `len` bytes of a sequence (a Standard MIDI File when
// `standard`, else a compact sequence) with bank `bankIndex` of the bank
// file, its samples at `tblOffset` + base in `rom`.
RenderResult renderSequence(const RomImage& rom, const BankFile& bankFile, int bankIndex,
                            int64_t tblOffset, const uint8_t* sequence, int64_t len,
                            bool standard, const RenderSettings& settings, const PcmSink& sink);

}  // namespace zaft
