#include "audio/render/sequence_player.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "util/endian.h"
#include "util/fatal.h"

namespace zaft {

namespace {
// The players' fixed numbers.
constexpr int32_t kFrameMicros = 16000;      // the heartbeat: one video frame
constexpr int32_t kGainChangeMicros = 1000;  // a ramp whose end has passed
constexpr int32_t kStartTempo = 500000;      // microseconds per quarter note
constexpr uint8_t kPanCenter = 64;
constexpr uint8_t kSustainDown = 63;  // the pedal is down above this
constexpr uint8_t kFullTremolo = 127;
constexpr uint8_t kPhaseAttack = 0, kPhaseNoteOn = 0, kPhaseDecay = 1, kPhaseSustain = 2,
                  kPhaseRelease = 3, kPhaseSustainRelease = 4;
constexpr int kMaxEventsAtOnce = 1 << 16;  // more at one instant: a loop of no length
constexpr int64_t kMaxEvents = int64_t{1} << 24;

// Controllers the players know.
constexpr uint8_t kCtrlVolume = 7, kCtrlPan = 10, kCtrlPriority = 16, kCtrlSustain = 64,
                  kCtrlFxMix = 91;

// A wave table's ADPCM loop carries the decoder's 16 samples at its start
// right after its three fields.
constexpr int64_t kLoopStateOffset = 12;

int32_t wrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
}  // namespace

float centsToRatio(int32_t cents) {
  // 2^(1/1200) and 2^(-1/1200) as the console's library stores them.
  float x = cents >= 0 ? 1.00057779f : 0.9994225441f;
  uint32_t n = cents >= 0 ? static_cast<uint32_t>(cents) : 0u - static_cast<uint32_t>(cents);
  float ratio = 1.0f;
  while (n != 0) {
    if (n & 1) ratio *= x;
    x *= x;
    n >>= 1;
  }
  return ratio;
}

SequencePlayer::SequencePlayer(const RomImage& rom, const BankFile& bankFile, const ALBank& bank,
                               int64_t tblOffset, std::unique_ptr<SeqReader> reader,
                               bool compact, const PlayerOptions& options)
    : rom_(rom),
      file_(bankFile),
      bank_(bank),
      tblOffset_(tblOffset),
      reader_(std::move(reader)),
      compact_(compact),
      options_(options),
      queue_(std::max(options.events, 1)),
      voices_(static_cast<size_t>(std::max(options.voices, 0))),
      waves_(static_cast<size_t>(bankFile.table.size())),
      loopArrivals_(16, 0) {
  for (size_t i = 0; i < voices_.size(); ++i) {
    voices_[i].next = freeList_;
    freeList_ = static_cast<int>(i);
  }
  // The game's calls before the first callback: the sequence, the bank, play.
  nextEvent_.type = PlayerEventType::Api;
  PlayerEvent e;
  e.type = PlayerEventType::SetSeq;
  post(e, 0);
  e.type = PlayerEventType::SetBank;
  post(e, 0);
  e.type = PlayerEventType::Play;
  post(e, 0);
}

void SequencePlayer::halt(std::string what) {
  if (problem_) return;
  problem_ = RenderProblem{static_cast<double>(elapsed_) / 1e6, std::move(what)};
}

void SequencePlayer::post(const PlayerEvent& e, int32_t delta) {
  if (!queue_.post(e, delta)) ++eventsLost_;
}

int32_t SequencePlayer::run(SynthVoices& synth) {
  if (problem_) return kFrameMicros;
  int32_t nextDelta = 0;
  int atOnce = 0;
  do {
    PlayerEvent evt = nextEvent_;
    switch (evt.type) {
      case PlayerEventType::SeqRef:
        handleNextSeqEvent(synth);
        break;
      case PlayerEventType::Api: {
        PlayerEvent api;
        api.type = PlayerEventType::Api;
        post(api, kFrameMicros);
        break;
      }
      case PlayerEventType::NoteEnd: {
        Voice& vs = voices_[static_cast<size_t>(evt.voice)];
        if (vs.id >= 0) {
          synth.stopVoice(vs.id);
          synth.freeVoice(vs.id);
          vs.id = -1;
        }
        unmapVoice(evt.voice);
        break;
      }
      case PlayerEventType::Env: {
        Voice& vs = voices_[static_cast<size_t>(evt.voice)];
        if (vs.envPhase == kPhaseAttack) vs.envPhase = kPhaseDecay;
        vs.envGain = evt.level;
        vs.envEndTime = wrapAdd(curTime_, evt.ramp);
        if (vs.id >= 0) synth.setVol(vs.id, volumeOf(vs), evt.ramp);
        break;
      }
      case PlayerEventType::NoteOff:
        handleMidi(synth, evt.status, evt.byte1, evt.byte2, 0);
        break;
      case PlayerEventType::Stop:
        if (state_ == State::Stopping) {
          while (allocHead_ >= 0) {
            Voice& vs = voices_[static_cast<size_t>(allocHead_)];
            if (vs.id >= 0) {
              synth.stopVoice(vs.id);
              synth.freeVoice(vs.id);
              vs.id = -1;
            }
            unmapVoice(allocHead_);
          }
          if (!compact_) curTime_ = 0;
          state_ = State::Stopped;
          ended_ = true;
        }
        break;
      case PlayerEventType::Play:
        if (state_ != State::Playing) {
          state_ = State::Playing;
          postNextSeqEvent();
        }
        break;
      case PlayerEventType::SetSeq:
        hasSeq_ = true;
        uspt_ = static_cast<int32_t>(static_cast<float>(kStartTempo) * reader_->qnpt());
        if (hasBank_) initFromBank();
        break;
      case PlayerEventType::SetBank:
        hasBank_ = true;
        initFromBank();
        break;
      case PlayerEventType::None:
        break;
    }
    if (problem_) return kFrameMicros;
    nextDelta = queue_.next(nextEvent_);
    if (nextEvent_.type == PlayerEventType::None) {
      // Cannot happen while the heartbeat reposts itself; never spin.
      nextEvent_.type = PlayerEventType::Api;
      nextDelta = kFrameMicros;
    }
    if (++atOnce > kMaxEventsAtOnce) {
      halt(formatText("more than %d events at one instant: a loop that takes no time",
                      kMaxEventsAtOnce));
      return kFrameMicros;
    }
  } while (nextDelta == 0);
  curTime_ = wrapAdd(curTime_, nextDelta);
  elapsed_ += nextDelta;
  return nextDelta;
}

bool SequencePlayer::finished() const {
  if (ended_) return true;
  if (state_ != State::Playing || allocHead_ >= 0) return false;
  // A sequence whose next event was lost to a full queue goes no further.
  if (nextEvent_.type == PlayerEventType::SeqRef) return false;
  for (int i = queue_.first(); i != EventQueue::kNone; i = queue_.after(i)) {
    const PlayerEventType t = queue_.event(i).type;
    if (t == PlayerEventType::SeqRef || t == PlayerEventType::Stop) return false;
  }
  return true;
}

void SequencePlayer::postNextSeqEvent() {
  if (state_ != State::Playing || !hasSeq_) return;
  int32_t ticks = 0;
  if (!reader_->nextDelta(ticks)) {
    halt(reader_->problem());
    return;
  }
  const int64_t micros = int64_t{ticks} * uspt_;
  if (micros < 0 || micros > INT32_MAX) {
    halt(formatText("a delay of %u ticks at %d microseconds a tick overflows the console's 32-bit "
                    "microseconds",
                    static_cast<uint32_t>(ticks), uspt_));
    return;
  }
  PlayerEvent e;
  e.type = PlayerEventType::SeqRef;
  post(e, static_cast<int32_t>(micros));
}

void SequencePlayer::handleNextSeqEvent(SynthVoices& synth) {
  if (!hasSeq_) return;
  if (++eventsRun_ > kMaxEvents) {
    halt(formatText("more than %lld sequence events", static_cast<long long>(kMaxEvents)));
    return;
  }
  PlayerSeqEvent e;
  if (!reader_->nextEvent(e)) {
    halt(reader_->problem());
    return;
  }
  switch (e.type) {
    case PlayerSeqEvent::Type::Midi:
      handleMidi(synth, e.status, e.byte1, e.byte2, compact_ ? e.duration : 0);
      postNextSeqEvent();
      break;
    case PlayerSeqEvent::Type::Tempo:
      tempo(e);
      postNextSeqEvent();
      break;
    case PlayerSeqEvent::Type::SeqEnd: {
      state_ = State::Stopping;
      PlayerEvent stop;
      stop.type = PlayerEventType::Stop;
      post(stop, EventQueue::kEnd);
      break;
    }
    case PlayerSeqEvent::Type::LoopEnd:
      if (e.foreverJump && ++loopArrivals_[static_cast<size_t>(e.track)] >= options_.loops) {
        fadeDue_ = true;
      }
      postNextSeqEvent();
      break;
    case PlayerSeqEvent::Type::TrackEnd:
    case PlayerSeqEvent::Type::LoopStart:
      postNextSeqEvent();
      break;
  }
}

void SequencePlayer::tempo(const PlayerSeqEvent& e) {
  const int32_t oldUspt = uspt_;
  const int32_t t = int32_t{e.tempo[0]} << 16 | int32_t{e.tempo[1]} << 8 | e.tempo[2];
  uspt_ = static_cast<int32_t>(static_cast<float>(t) * reader_->qnpt());
  if (!compact_) return;
  // The compact player's note ends are queued events: they keep their
  // ticks, counted again at the new tempo, as the console does it (the
  // chain of items taken out is put back in the order it was built).
  int32_t curDelta = 0;
  int firstTemp = EventQueue::kNone;
  for (int node = queue_.first(); node != EventQueue::kNone;) {
    curDelta += queue_.delta(node);
    const int nextNode = queue_.after(node);
    if (queue_.event(node).type == PlayerEventType::NoteOff) {
      queue_.unlink(node);
      if (firstTemp != EventQueue::kNone) {
        queue_.link(node, firstTemp);
      } else {
        queue_.detach(node);
        firstTemp = node;
      }
      const int32_t tempDelta = curDelta;
      if (nextNode != EventQueue::kNone) {
        curDelta -= queue_.delta(node);
        queue_.delta(nextNode) += queue_.delta(node);
      }
      queue_.delta(node) = tempDelta;
    }
    node = nextNode;
  }
  for (int node = firstTemp; node != EventQueue::kNone;) {
    const int nextNode = queue_.after(node);
    if (oldUspt == 0) {
      halt("a tempo change after a tempo of 0 divides by zero");
      return;
    }
    const uint32_t ticks = static_cast<uint32_t>(queue_.delta(node) / oldUspt);
    const int64_t micros = int64_t{ticks} * uspt_;
    if (micros < 0 || micros > INT32_MAX) {
      halt(formatText("a note's remaining %u ticks at %d microseconds a tick overflow the "
                      "console's 32-bit microseconds",
                      ticks, uspt_));
      return;
    }
    queue_.delta(node) = static_cast<int32_t>(micros);
    queue_.repost(node);
    node = nextNode;
  }
}

void SequencePlayer::handleMidi(SynthVoices& synth, uint8_t statusByte, uint8_t byte1,
                                uint8_t byte2, uint32_t duration) {
  const uint8_t status = statusByte & 0xF0;
  const uint8_t chan = statusByte & 0x0F;
  Channel& ch = channels_[chan];
  switch (status) {
    case 0x90:
      if (byte2 != 0) {
        noteOn(synth, chan, byte1, byte2, duration);
        break;
      }
      [[fallthrough]];  // a note-on of velocity 0 is a note-off
    case 0x80: {
      const int v = lookupVoice(byte1, chan);
      if (v < 0) break;
      Voice& vs = voices_[static_cast<size_t>(v)];
      if (vs.phase == kPhaseSustain) {
        vs.phase = kPhaseSustainRelease;
      } else {
        vs.phase = kPhaseRelease;
        releaseVoice(synth, v, vs.envelope->releaseTime);
      }
      break;
    }
    case 0xA0: {  // key pressure: the note's velocity
      const int v = lookupVoice(byte1, chan);
      if (v < 0) break;
      Voice& vs = voices_[static_cast<size_t>(v)];
      vs.velocity = byte2;
      if (vs.id >= 0) synth.setVol(vs.id, volumeOf(vs), deltaOf(vs));
      break;
    }
    case 0xD0:  // channel pressure: the velocity of the channel's notes
      for (int v = allocHead_; v >= 0; v = voices_[static_cast<size_t>(v)].next) {
        Voice& vs = voices_[static_cast<size_t>(v)];
        if (vs.channel != chan) continue;
        vs.velocity = byte1;
        if (vs.id >= 0) synth.setVol(vs.id, volumeOf(vs), deltaOf(vs));
      }
      break;
    case 0xB0:
      controller(synth, chan, byte1, byte2);
      break;
    case 0xC0:
      if (byte1 < bank_.instCount && byte1 < static_cast<int>(bank_.insts.size())) {
        // A null instrument would crash the console; it is passed over.
        const ALInstrument* inst = file_.table.recordAt<ALInstrument>(bank_.insts[byte1]);
        if (inst != nullptr) setInstrument(inst, chan);
      }
      break;
    case 0xE0: {
      const int32_t bend = ((int32_t{byte2} << 7) + byte1) - 8192;
      const int32_t cents = (ch.bendRange * bend) / 8192;
      const float ratio = centsToRatio(cents);
      ch.pitchBend = ratio;
      for (int v = allocHead_; v >= 0; v = voices_[static_cast<size_t>(v)].next) {
        Voice& vs = voices_[static_cast<size_t>(v)];
        if (vs.channel == chan && vs.id >= 0) synth.setPitch(vs.id, vs.pitch * ratio * vs.vibrato);
      }
      break;
    }
    default:
      break;
  }
}

void SequencePlayer::controller(SynthVoices& synth, uint8_t chan, uint8_t number, uint8_t value) {
  Channel& ch = channels_[chan];
  switch (number) {
    case kCtrlPan:
      ch.pan = value;
      for (int v = allocHead_; v >= 0; v = voices_[static_cast<size_t>(v)].next) {
        Voice& vs = voices_[static_cast<size_t>(v)];
        if (vs.channel == chan && vs.id >= 0) synth.setPan(vs.id, panOf(vs));
      }
      break;
    case kCtrlVolume:
      ch.vol = value;
      for (int v = allocHead_; v >= 0; v = voices_[static_cast<size_t>(v)].next) {
        Voice& vs = voices_[static_cast<size_t>(v)];
        if (vs.channel == chan && vs.envPhase != kPhaseRelease && vs.id >= 0) {
          synth.setVol(vs.id, volumeOf(vs), deltaOf(vs));
        }
      }
      break;
    case kCtrlPriority:
      ch.priority = value;  // for the notes to come
      break;
    case kCtrlSustain:
      ch.sustain = value;
      for (int v = allocHead_; v >= 0;) {
        Voice& vs = voices_[static_cast<size_t>(v)];
        const int next = vs.next;
        if (vs.channel == chan && vs.phase != kPhaseRelease) {
          if (value > kSustainDown) {
            if (vs.phase == kPhaseNoteOn) vs.phase = kPhaseSustain;
          } else if (vs.phase == kPhaseSustain) {
            vs.phase = kPhaseNoteOn;
          } else if (vs.phase == kPhaseSustainRelease) {
            vs.phase = kPhaseRelease;
            releaseVoice(synth, v, vs.envelope->releaseTime);
          }
        }
        v = next;
      }
      break;
    case kCtrlFxMix:
      ch.fxmix = value;
      for (int v = allocHead_; v >= 0; v = voices_[static_cast<size_t>(v)].next) {
        Voice& vs = voices_[static_cast<size_t>(v)];
        if (vs.channel == chan && vs.id >= 0) synth.setFxMix(vs.id, value);
      }
      break;
    default:
      break;
  }
}

void SequencePlayer::noteOn(SynthVoices& synth, uint8_t chan, uint8_t key, uint8_t vel,
                            uint32_t duration) {
  if (state_ != State::Playing) return;
  const ALSound* sound = lookupSound(key, vel, chan);
  if (sound == nullptr) return;
  const ALKeyMap* keyMap = file_.table.recordAt<ALKeyMap>(sound->keyMap);
  const ALEnvelope* env = file_.table.recordAt<ALEnvelope>(sound->envelope);
  // A sound without an envelope or a wave would crash the console: silent here.
  if (env == nullptr || file_.table.recordAt<ALWaveTable>(sound->wavetable) == nullptr) return;
  if (env->attackTime < 0 || env->secondTime < 0 || env->releaseTime < 0) {
    halt(formatText("an envelope's times (%d, %d, %d microseconds) are negative", env->attackTime,
                    env->secondTime, env->releaseTime));
    return;
  }
  const Channel& ch = channels_[chan];
  const int v = mapVoice(key, vel, chan);
  if (v < 0) {
    ++notesWithoutVoice_;
    return;
  }
  Voice& vs = voices_[static_cast<size_t>(v)];
  vs.id = synth.allocVoice(ch.priority);
  vs.sound = sound;
  vs.envelope = env;
  vs.wave = sound->wavetable;
  vs.envPhase = kPhaseAttack;
  vs.phase = ch.sustain > kSustainDown ? kPhaseSustain : kPhaseNoteOn;
  const int16_t cents =
      static_cast<int16_t>((int32_t{key} - keyMap->keyBase) * 100 + keyMap->detune);
  vs.pitch = centsToRatio(cents);
  vs.envGain = env->attackVolume;
  vs.envEndTime = wrapAdd(curTime_, env->attackTime);
  vs.tremelo = kFullTremolo;
  vs.vibrato = 1.0f;
  const float pitch = vs.pitch * ch.pitchBend * vs.vibrato;
  if (vs.id >= 0) {
    channelsSounded_ |= static_cast<uint16_t>(1u << chan);
    synth.startVoiceParams(vs.id, waveOf(vs.wave), pitch, volumeOf(vs), panOf(vs), ch.fxmix,
                           env->attackTime);
  }
  PlayerEvent e;
  e.type = PlayerEventType::Env;
  e.voice = v;
  e.level = env->decayVolume;
  e.ramp = env->secondTime;
  post(e, env->attackTime);
  if (duration != 0) {
    const int64_t micros = int64_t{uspt_} * duration;
    if (micros < 0 || micros > INT32_MAX) {
      halt(formatText("a note of %u ticks at %d microseconds a tick overflows the console's "
                      "32-bit microseconds",
                      duration, uspt_));
      return;
    }
    PlayerEvent off;
    off.type = PlayerEventType::NoteOff;
    off.status = static_cast<uint8_t>(0x80 | chan);
    off.byte1 = key;
    post(off, static_cast<int32_t>(micros));
  }
}

void SequencePlayer::releaseVoice(SynthVoices& synth, int v, int32_t micros) {
  Voice& vs = voices_[static_cast<size_t>(v)];
  if (vs.envPhase == kPhaseAttack) {
    // The decay has not begun: its event goes.
    for (int node = queue_.first(); node != EventQueue::kNone;) {
      const int nextNode = queue_.after(node);
      const PlayerEvent& e = queue_.event(node);
      if (e.type == PlayerEventType::Env && e.voice == v) queue_.drop(node);
      node = nextNode;
    }
  }
  vs.velocity = 0;
  vs.envPhase = kPhaseRelease;
  vs.envGain = 0;
  vs.envEndTime = wrapAdd(curTime_, micros);
  if (vs.id >= 0) {
    synth.setPriority(vs.id, 0);  // the first to be taken when voices run out
    synth.setVol(vs.id, 0, micros);
  }
  PlayerEvent e;
  e.type = PlayerEventType::NoteEnd;
  e.voice = v;
  post(e, micros);
}

void SequencePlayer::initFromBank() {
  const ALInstrument* first = nullptr;
  const size_t count =
      std::min(bank_.insts.size(), static_cast<size_t>(std::max<int16_t>(bank_.instCount, 0)));
  for (size_t i = 0; i < count && first == nullptr; ++i) {
    first = file_.table.recordAt<ALInstrument>(bank_.insts[i]);
  }
  if (first == nullptr) {
    halt("the bank has no instrument");
    return;
  }
  for (int c = 0; c < 16; ++c) {
    channels_[c] = Channel();
    setInstrument(first, c);
  }
  if (const ALInstrument* drums = file_.table.recordAt<ALInstrument>(bank_.percussion)) {
    setInstrument(drums, 9);
  }
}

void SequencePlayer::setInstrument(const ALInstrument* inst, int chan) {
  Channel& ch = channels_[chan];
  ch.instrument = inst;
  ch.pan = inst->pan;
  ch.vol = inst->volume;
  ch.priority = inst->priority;
  ch.bendRange = inst->bendRange;
}

const ALSound* SequencePlayer::lookupSound(uint8_t key, uint8_t vel, uint8_t chan) const {
  const ALInstrument* inst = channels_[chan].instrument;
  if (inst == nullptr) return nullptr;
  int32_t l = 1;
  int32_t r = std::min<int32_t>(inst->soundCount, static_cast<int32_t>(inst->sounds.size()));
  while (r >= l) {
    const int32_t i = (l + r) / 2;
    const ALSound* sound = file_.table.recordAt<ALSound>(inst->sounds[static_cast<size_t>(i - 1)]);
    const ALKeyMap* k = sound == nullptr ? nullptr : file_.table.recordAt<ALKeyMap>(sound->keyMap);
    if (k == nullptr) return nullptr;  // the console would crash here
    if (key >= k->keyMin && key <= k->keyMax && vel >= k->velocityMin && vel <= k->velocityMax) {
      return sound;
    }
    if (key < k->keyMin || (vel < k->velocityMin && key <= k->keyMax)) {
      r = i - 1;
    } else {
      l = i + 1;
    }
  }
  return nullptr;
}

int SequencePlayer::mapVoice(uint8_t key, uint8_t vel, uint8_t chan) {
  const int v = freeList_;
  if (v < 0) return -1;
  Voice& vs = voices_[static_cast<size_t>(v)];
  freeList_ = vs.next;
  vs.next = -1;
  if (allocHead_ < 0) {
    allocHead_ = v;
  } else {
    voices_[static_cast<size_t>(allocTail_)].next = v;
  }
  allocTail_ = v;
  vs.channel = chan;
  vs.key = key;
  vs.velocity = vel;
  return v;
}

void SequencePlayer::unmapVoice(int v) {
  int prev = -1;
  for (int i = allocHead_; i >= 0; i = voices_[static_cast<size_t>(i)].next) {
    if (i == v) {
      Voice& vs = voices_[static_cast<size_t>(i)];
      if (prev >= 0) {
        voices_[static_cast<size_t>(prev)].next = vs.next;
      } else {
        allocHead_ = vs.next;
      }
      if (allocTail_ == v) allocTail_ = prev;
      vs.next = freeList_;
      freeList_ = v;
      return;
    }
    prev = i;
  }
}

int SequencePlayer::lookupVoice(uint8_t key, uint8_t chan) const {
  for (int v = allocHead_; v >= 0; v = voices_[static_cast<size_t>(v)].next) {
    const Voice& vs = voices_[static_cast<size_t>(v)];
    if (vs.key == key && vs.channel == chan && vs.phase != kPhaseRelease &&
        vs.phase != kPhaseSustainRelease) {
      return v;
    }
  }
  return -1;
}

int16_t SequencePlayer::volumeOf(const Voice& vs) const {
  if (options_.onlyChannel && *options_.onlyChannel != vs.channel) return 0;
  uint32_t t1 = static_cast<uint32_t>((vs.tremelo * vs.velocity * vs.envGain) >> 6);
  const uint32_t t2 = static_cast<uint32_t>(
      (vs.sound->sampleVolume * int32_t{vol_} * channels_[vs.channel].vol) >> 14);
  t1 *= t2;
  t1 >>= 15;
  return static_cast<int16_t>(t1);
}

int32_t SequencePlayer::deltaOf(const Voice& vs) const {
  const int32_t delta =
      static_cast<int32_t>(static_cast<uint32_t>(vs.envEndTime) - static_cast<uint32_t>(curTime_));
  return delta >= 0 ? delta : kGainChangeMicros;
}

uint8_t SequencePlayer::panOf(const Voice& vs) const {
  const int32_t pan = int32_t{channels_[vs.channel].pan} - kPanCenter + vs.sound->samplePan;
  return static_cast<uint8_t>(std::clamp(pan, 0, 127));
}

const RenderWave& SequencePlayer::waveOf(int32_t waveTable) {
  std::optional<RenderWave>& cached = waves_[static_cast<size_t>(waveTable)];
  if (cached) return *cached;
  const ALWaveTable& w = file_.table[waveTable].as<ALWaveTable>();
  RenderWave r;
  r.rom = rom_.data();
  r.romSize = rom_.size();
  r.start = tblOffset_ + w.base;
  r.len = std::max(w.len, 0);
  r.codec = w.type == kWaveTypeAdpcm ? SampleCodec::Vadpcm : SampleCodec::Raw16;
  if (const ALADPCMBook* book = file_.bookOf(w)) {
    r.book.coefficients = book->predictors.data();
    r.book.predictors = book->storedPredictors();
  }
  const int32_t loop = w.waveInfo.rawWave.loop;  // the common first member
  if (w.type == kWaveTypeAdpcm) {
    if (const ALADPCMloop* l = file_.table.recordAt<ALADPCMloop>(loop)) {
      r.hasLoop = true;
      r.loopStart = l->start;
      r.loopEnd = l->end;
      r.loopCount = l->count;
      uint8_t state[32];
      rom_.copyAt(int64_t{file_.table[loop].fileOffset} + kLoopStateOffset, state, sizeof state);
      for (int i = 0; i < 16; ++i) r.loopState[i] = static_cast<int16_t>(loadBE16(state + 2 * i));
    }
  } else if (const ALRawLoop* l = file_.table.recordAt<ALRawLoop>(loop)) {
    r.hasLoop = true;
    r.loopStart = l->start;
    r.loopEnd = l->end;
    r.loopCount = l->count;
  }
  cached = r;
  return *cached;
}

// ---- the render ----

namespace {

class SynthCalls : public SynthVoices {
 public:
  explicit SynthCalls(Synth& s) : s_(s) {}
  VoiceId allocVoice(int16_t priority) override { return s_.allocVoice(priority, 0); }
  void freeVoice(VoiceId v) override { s_.freeVoice(v); }
  void stopVoice(VoiceId v) override { s_.stopVoice(v); }
  void startVoiceParams(VoiceId v, const RenderWave& wave, float pitch, int16_t volume,
                        uint8_t pan, uint8_t fxMix, int32_t rampMicros) override {
    s_.startVoiceParams(v, wave, pitch, volume, pan, fxMix, rampMicros);
  }
  void setPitch(VoiceId v, float ratio) override { s_.setPitch(v, ratio); }
  void setVol(VoiceId v, int16_t volume, int32_t rampMicros) override {
    s_.setVol(v, volume, rampMicros);
  }
  void setPan(VoiceId v, uint8_t pan) override { s_.setPan(v, pan); }
  void setFxMix(VoiceId v, uint8_t mix) override { s_.setFxMix(v, mix); }
  void setPriority(VoiceId v, int16_t priority) override { s_.setPriority(v, priority); }

 private:
  Synth& s_;
};

class PlayerClient : public SynthClient {
 public:
  explicit PlayerClient(SequencePlayer& player) : player_(player) {}
  int32_t handle(Synth& synth) override {
    SynthCalls calls(synth);
    return player_.run(calls);
  }

 private:
  SequencePlayer& player_;
};

const ALBank* bankAt(const BankFile& file, int index) {
  const ALBankFile* banks =
      file.table.recordAt<ALBankFile>(file.table.find(static_cast<uint32_t>(file.ctlOffset)));
  if (banks == nullptr || index < 0 || index >= banks->bankCount ||
      index >= static_cast<int>(banks->banks.size())) {
    return nullptr;
  }
  return file.table.recordAt<ALBank>(banks->banks[static_cast<size_t>(index)]);
}

}  // namespace

RenderResult renderSequence(const RomImage& rom, const BankFile& bankFile, int bankIndex,
                            int64_t tblOffset, const uint8_t* sequence, int64_t len,
                            bool standard, const RenderSettings& settings, const PcmSink& sink) {
  RenderResult result;
  auto stopWith = [&](std::string what, double seconds) {
    result.end = RenderResult::End::Problem;
    result.problem = RenderProblem{seconds, std::move(what)};
  };
  constexpr int32_t kMaxRate = 384000;
  const int32_t rate = settings.synth.outputRate;
  if (rate <= 0 || rate > kMaxRate) {
    stopWith(formatText("an output rate of %d Hz (1 to %d)", rate, kMaxRate), 0);
    return result;
  }
  constexpr int32_t kMaxVoices = 256;
  if (settings.synth.voices < 1 || settings.synth.voices > kMaxVoices) {
    stopWith(formatText("%d voices (1 to %d)", settings.synth.voices, kMaxVoices), 0);
    return result;
  }
  const ALBank* bank = bankAt(bankFile, bankIndex);
  if (bank == nullptr) {
    stopWith(formatText("bank %d is not in the bank file", bankIndex), 0);
    return result;
  }
  std::unique_ptr<SeqReader> reader;
  if (standard) {
    reader = std::make_unique<MidiSeqReader>(sequence, len);
  } else {
    reader = std::make_unique<CompactSeqReader>(sequence, len);
  }
  if (!reader->problem().empty()) {
    stopWith(reader->problem(), 0);
    return result;
  }
  PlayerOptions options;
  options.voices = settings.synth.voices;
  options.loops = std::max(settings.loops, 1);
  options.onlyChannel = settings.onlyChannel;
  SequencePlayer player(rom, bankFile, *bank, tblOffset, std::move(reader), !standard, options);
  PlayerClient client(player);
  Synth synth(settings.synth);
  synth.addClient(&client);

  const int32_t frame = frameSamplesFor(rate);
  const int64_t cut = static_cast<int64_t>(std::clamp(settings.seconds, 0.0, 86400.0) * rate);
  const int64_t fadeLength = int64_t{kFadeSeconds} * rate;
  const int64_t maxTail = int64_t{kMaxTailSeconds} * rate;
  std::vector<int16_t> pcm(2 * static_cast<size_t>(frame));
  std::optional<int64_t> fadeStart;
  std::optional<int64_t> tailStart;
  result.end = RenderResult::End::Cut;
  while (result.frames < cut) {
    synth.renderFrame(pcm.data(), frame);
    if (player.problem()) {
      result.end = RenderResult::End::Problem;
      result.problem = player.problem();
      break;
    }
    int64_t count = std::min<int64_t>(frame, cut - result.frames);
    if (tailStart) {
      const bool silent = std::all_of(pcm.begin(), pcm.end(), [](int16_t s) { return s == 0; });
      if (silent || result.frames - *tailStart >= maxTail) {
        result.end = RenderResult::End::Sequence;
        break;
      }
    }
    if (!fadeStart && player.fadeDue()) fadeStart = result.frames;
    if (fadeStart) {
      for (int64_t i = 0; i < count; ++i) {
        const int64_t left = fadeLength - (result.frames + i - *fadeStart);
        if (left <= 0) {
          count = i;
          result.end = RenderResult::End::Fade;
          break;
        }
        for (int c = 0; c < 2; ++c) {
          int16_t& s = pcm[static_cast<size_t>(2 * i + c)];
          s = static_cast<int16_t>(s * left / fadeLength);
        }
      }
    }
    if (count > 0) sink(pcm.data(), static_cast<int32_t>(count));
    result.frames += count;
    if (result.end == RenderResult::End::Fade) break;
    if (!tailStart && player.finished()) tailStart = result.frames;
  }
  result.notesWithoutVoice = player.notesWithoutVoice();
  result.eventsLost = player.eventsLost();
  result.channelsSounded = player.channelsSounded();
  return result;
}

}  // namespace zaft
