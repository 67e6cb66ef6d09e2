#include "audio/render/synth.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "audio/render/microcode.h"
#include "audio/render/wave_loader.h"
#include "util/fatal.h"

#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#endif

namespace zaft {

namespace {

using render::kEqualPower;

constexpr int32_t kMaxChunk = 160;        // samples the microcode mixes at once
constexpr int32_t kStealDelay = 512;      // samples a stolen voice has to fade out
constexpr int32_t kStealFade = kStealDelay - 64;
constexpr int32_t kMaxVirtualVoices = 4096;
// A frame runs at most this many callbacks; a client that keeps asking to
// run again at once would hang the console's driver.
constexpr int32_t kMaxCallbacksPerFrame = 1 << 16;
// The resampler's largest ratio ("within .03 cents of an octave") and 1.0.
constexpr double kMaxRatio = 1.99996;
constexpr int32_t kUnityPitch = 0x8000;

// A float to a 16-bit field as the console stores one: truncated to an
// integer, then its low 16 bits.
int16_t floatToS16(double v) {
  if (!(v == v)) return 0;
  v = std::clamp(v, -2147483648.0, 2147483647.0);
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(static_cast<int32_t>(v))));
}

// The envelope's rate from `vol` to `tgt` over `count` samples: the
// library's parametric power, (tgt / vol)^(8 / count) as a 16.16 number
// (integer part returned, fraction in *ratel), computed as it computes it.
int16_t ramp8Rate(double vol, double tgt, int32_t count, uint16_t* ratel) {
  if (count == 0) {
    if (tgt >= vol) {
      *ratel = 0xffff;
      return 0x7fff;
    }
    *ratel = 0;
    return 0;
  }
  if (tgt < 1.0) tgt = 1.0;
  if (vol <= 0) vol = 1;
  // log2 of 1 + k/8 less 1, for k = 0..7 (the library's table).
  static const double kLogTable[] = {-0.912537, -0.752072, -0.607683, -0.476438,
                                     -0.356144, -0.245112, -0.142019, -0.045804};
  constexpr double kLn2 = 0.69314718055994530942;
  const double invn = 1.0 / count;
  int32_t iInvn = static_cast<int32_t>(invn * 1073741824.0);  // 2^30 / count
  // The mantissa in [0.5, 1) and the exponent, by halving and doubling.
  double mant = tgt / vol;
  int32_t ex = 0;
  for (; mant >= 1.0; mant *= 0.5) ++ex;
  for (; mant < 0.5; mant += mant) --ex;
  const int32_t index = std::clamp(static_cast<int32_t>(mant * 16.0), 8, 15);
  double eps = (kLogTable[index - 8] + ex) * kLn2;
  eps /= 1073741824.0;
  double fs = 1.0 + eps;
  double a = 1.0;
  while (iInvn) {
    if (iInvn & 1) a = a * fs;
    fs *= fs;
    iInvn >>= 1;
  }
  a = a * a;
  a = a * a;
  a = a * a;
  const int16_t s = floatToS16(a);
  *ratel = static_cast<uint16_t>(floatToS16(65535.0 * (a - static_cast<double>(static_cast<float>(s)))));
  return s;
}

// The volume `samples` into a ramp from `ivol` at 16.16 rate `ratem.ratel`
// per 8 samples, in single precision as the library estimates it.
float rampVolume(float ivol, int32_t samples, int16_t ratem, uint16_t ratel) {
  samples >>= 3;
  if (samples == 0) return ivol;
  float r = (static_cast<float>(ratem * 65536) + static_cast<float>(ratel)) / 65536.0f;
  float a = 1.0f;
  for (int i = 0; i < 32; ++i) {
    if (samples & 1) a *= r;
    samples >>= 1;
    if (samples == 0) break;
    r *= r;
  }
  return ivol * a;
}

enum class UpdateType : uint8_t {
  FreeVoice,
  SetVolume,
  SetPitch,
  SetPan,
  SetFxMix,
  StartVoice,
  StartVoiceParams,
  StopVoice
};

}  // namespace

int32_t frameSamplesFor(int32_t outputRate) {
  const float exact = static_cast<float>(outputRate) / 60.0f;
  int32_t n = static_cast<int32_t>(exact);
  if (static_cast<float>(n) < exact) ++n;
  return (n + 15) & ~15;
}

struct Synth::Impl {
  struct Update {
    int32_t next = -1;
    int64_t time = 0;
    UpdateType type = UpdateType::SetPitch;
    int32_t value = 0;  // volume, pan, send
    int32_t ramp = 0;   // samples
    float pitch = 0;
    int32_t voice = -1;  // FreeVoice: the physical voice
    int16_t volume = 0;
    uint8_t pan = 0, fxMix = 0;
    RenderWave wave;
  };

  // The envelope mixer's own state (the library's side of it).
  struct Envelope {
    bool playing = false;
    bool first = true;
    int16_t pan = 0, volume = 1, cvolL = 1, cvolR = 1, dryamt = 0, wetamt = 0;
    int16_t ltgt = 1, rtgt = 1, lratm = 1, rratm = 1;
    uint16_t lratl = 0, rratl = 0;
    int32_t delta = 0, segEnd = 0;
    int32_t head = -1, tail = -1;  // waiting updates, in order
    render::EnvMixState mixer;
  };

  struct Resampler {
    float ratio = 1.0f;
    float delta = 0;
    bool first = true;
    render::ResampleState state;
  };

  struct PhysicalVoice {
    int32_t vvoice = -1;
    int32_t offset = 0;
    render::WaveLoader loader;
    Resampler resampler;
    Envelope env;
  };

  struct VirtualVoice {
    bool used = false;
    int16_t priority = 0;
    int16_t fxBus = 0;
    int32_t pvoice = -1;
  };

  struct Link {
    int32_t next = -1, prev = -1;
  };

  struct Client {
    SynthClient* client;
    int64_t samplesLeft;
  };

  explicit Impl(const RenderConfig& c);

  // Voice lists, linked as the library links them: a node goes in right
  // after the list's head.
  void link(int32_t node, int32_t after) {
    links[node].next = links[after].next;
    links[node].prev = after;
    if (links[after].next != -1) links[links[after].next].prev = node;
    links[after].next = node;
  }
  void unlink(int32_t node) {
    if (links[node].next != -1) links[links[node].next].prev = links[node].prev;
    if (links[node].prev != -1) links[links[node].prev].next = links[node].next;
  }
  int32_t freeList() const { return numVoices; }
  int32_t lameList() const { return numVoices + 1; }
  int32_t allocList() const { return numVoices + 2; }

  int32_t timeToSamplesNoRound(int32_t micros) const {
    const float t = static_cast<float>(
        static_cast<double>(static_cast<float>(micros) * static_cast<float>(config.outputRate)) /
            1000000.0 +
        0.5);
    return static_cast<int32_t>(std::clamp(t, -2147483648.0f, 2147483520.0f));
  }
  int32_t timeToSamples(int32_t micros) const { return timeToSamplesNoRound(micros) & ~0xf; }

  PhysicalVoice* voiceOf(VoiceId v) {
    if (v < 0 || v >= static_cast<int32_t>(vvoices.size()) || !vvoices[v].used) return nullptr;
    const int32_t p = vvoices[v].pvoice;
    return p < 0 ? nullptr : &pvoices[p];
  }
  Update* newUpdate(PhysicalVoice& pv, UpdateType type, int64_t time);
  bool allocatePVoice(int32_t* pvoice, int16_t priority);
  void freePVoice(int32_t pvoice) {
    unlink(pvoice);
    link(pvoice, lameList());
  }

  void pullVoice(PhysicalVoice& pv, int32_t count, int64_t sampleOffset);
  void pullSubFrame(PhysicalVoice& pv, int32_t outp, int32_t count);
  void pullResampled(PhysicalVoice& pv, int16_t* out, int32_t count);

  RenderConfig config;
  int32_t numVoices;
  std::vector<PhysicalVoice> pvoices;
  std::vector<Link> links;
  std::vector<VirtualVoice> vvoices;
  std::vector<int32_t> freeVirtual;
  std::vector<Update> updates;
  int32_t freeUpdate = -1;
  int64_t dropped = 0;
  std::vector<Client> clients;  // the newest first
  int64_t curSamples = 0;
  int64_t paramSamples = 0;
  std::unique_ptr<render::Effect> effect;
  // The buses of one chunk.
  int16_t mainL[kMaxChunk], mainR[kMaxChunk], auxL[kMaxChunk], auxR[kMaxChunk];
  // The resampler's input: its 4 carried samples, up to 2 x 160 new ones and
  // room for its last taps.
  int16_t resampleIn[4 + 2 * kMaxChunk + 8];
  int16_t voiceOut[kMaxChunk];
};

Synth::Impl::Impl(const RenderConfig& c) : config(c) {
  if (c.outputRate < 1000 || c.outputRate > 192000) {
    throw FatalError(formatText("synthesizer: output rate %d Hz is out of range (1000 to 192000)",
                                c.outputRate));
  }
  if (c.voices < 1 || c.voices > 256) {
    throw FatalError(formatText("synthesizer: %d voices is out of range (1 to 256)", c.voices));
  }
  if (c.updates < 1 || c.updates > 65536) {
    throw FatalError(
        formatText("synthesizer: %d parameter updates is out of range (1 to 65536)", c.updates));
  }
  numVoices = c.voices;
  pvoices.resize(static_cast<size_t>(numVoices));
  links.resize(static_cast<size_t>(numVoices + 3));
  for (int32_t i = 0; i < numVoices; ++i) link(i, freeList());
  updates.resize(static_cast<size_t>(c.updates));
  for (int32_t i = 0; i < c.updates; ++i) {
    updates[static_cast<size_t>(i)].next = freeUpdate;
    freeUpdate = i;
  }
  if (c.fx != FxType::None) effect = std::make_unique<render::Effect>(c.fx, c.outputRate);
}

Synth::Impl::Update* Synth::Impl::newUpdate(PhysicalVoice& pv, UpdateType type, int64_t time) {
  if (freeUpdate < 0) {
    ++dropped;
    return nullptr;
  }
  const int32_t i = freeUpdate;
  Update& u = updates[static_cast<size_t>(i)];
  freeUpdate = u.next;
  u = Update{};
  u.type = type;
  u.time = time;
  if (pv.env.tail >= 0) {
    updates[static_cast<size_t>(pv.env.tail)].next = i;
  } else {
    pv.env.head = i;
  }
  pv.env.tail = i;
  return &u;
}

bool Synth::Impl::allocatePVoice(int32_t* pvoice, int16_t priority) {
  int32_t node = links[lameList()].next;
  if (node == -1) node = links[freeList()].next;
  if (node != -1) {
    unlink(node);
    link(node, allocList());
    *pvoice = node;
    return false;
  }
  // Steal: the last in the list (the oldest) of the lowest priority not
  // above the caller's, among voices not already being stolen.
  bool stolen = false;
  for (node = links[allocList()].next; node != -1; node = links[node].next) {
    const PhysicalVoice& pv = pvoices[static_cast<size_t>(node)];
    const int16_t p = vvoices[static_cast<size_t>(pv.vvoice)].priority;
    if (p <= priority && pv.offset == 0) {
      *pvoice = node;
      priority = p;
      stolen = true;
    }
  }
  return stolen;
}

void Synth::Impl::pullResampled(PhysicalVoice& pv, int16_t* out, int32_t count) {
  Resampler& r = pv.resampler;
  // The library clamps the ratio only from above; a negative or undefined
  // one (no caller of ours makes one) is taken as 0.
  if (!(r.ratio >= 0.0f)) r.ratio = 0.0f;
  if (static_cast<double>(r.ratio) > kMaxRatio) r.ratio = static_cast<float>(kMaxRatio);
  r.ratio = static_cast<float>(static_cast<int32_t>(r.ratio * static_cast<float>(kUnityPitch)));
  r.ratio = r.ratio / static_cast<float>(kUnityPitch);
  const float wanted = r.delta + r.ratio * static_cast<float>(count);
  const int32_t inCount = static_cast<int32_t>(wanted);
  r.delta = wanted - static_cast<float>(inCount);
  int16_t* in = resampleIn + 4;
  pv.loader.pull(in, inCount);
  std::fill(in + inCount, in + inCount + 8, int16_t{0});
  const int32_t incr = static_cast<int32_t>(r.ratio * static_cast<float>(kUnityPitch));
  render::resample(r.state, r.first, static_cast<uint16_t>(incr), in, out, count);
  r.first = false;
}

void Synth::Impl::pullSubFrame(PhysicalVoice& pv, int32_t outp, int32_t count) {
  Envelope& e = pv.env;
  if (!e.playing || count <= 0) return;
  pullResampled(pv, voiceOut, count);
  render::EnvMixSettings s;
  const bool init = e.first;
  if (e.first) {
    e.first = false;
    e.ltgt = static_cast<int16_t>((e.volume * kEqualPower[e.pan]) >> 15);
    e.lratm = ramp8Rate(e.cvolL, e.ltgt, e.segEnd, &e.lratl);
    e.rtgt = static_cast<int16_t>((e.volume * kEqualPower[127 - e.pan]) >> 15);
    e.rratm = ramp8Rate(e.cvolR, e.rtgt, e.segEnd, &e.rratl);
    s.volume[0] = e.cvolL;
    s.volume[1] = e.cvolR;
    s.target[0] = e.ltgt;
    s.target[1] = e.rtgt;
    s.rate[0] = static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(e.lratm)) << 16) |
                                     e.lratl);
    s.rate[1] = static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(e.rratm)) << 16) |
                                     e.rratl);
    s.dry = e.dryamt;
    s.wet = e.wetamt;
  }
  render::envMix(e.mixer, init, s, voiceOut, count, mainL + outp, mainR + outp, auxL + outp,
                 auxR + outp);
  e.delta += count;
}

void Synth::Impl::pullVoice(PhysicalVoice& pv, int32_t count, int64_t sampleOffset) {
  Envelope& e = pv.env;
  int64_t thisOffset = sampleOffset;
  int32_t outp = 0;
  while (e.head >= 0) {
    Update& u = updates[static_cast<size_t>(e.head)];
    const int64_t lastOffset = thisOffset;
    thisOffset = u.time;
    // Updates are queued in time order; one stamped before the chunk (which
    // the library's assertions exclude) applies at its start.
    const int32_t samples = static_cast<int32_t>(std::max<int64_t>(thisOffset - lastOffset, 0));
    if (samples > count) break;
    switch (u.type) {
      case UpdateType::StartVoiceParams: {
        pv.loader.setWave(u.wave);
        e.playing = true;
        e.first = true;
        e.delta = 0;
        e.segEnd = u.ramp;
        e.volume = static_cast<int16_t>((u.volume * u.volume) >> 15);
        e.pan = u.pan;
        e.dryamt = kEqualPower[u.fxMix];
        e.wetamt = kEqualPower[127 - u.fxMix];
        if (u.ramp != 0) {
          e.cvolL = 1;
          e.cvolR = 1;
        } else {
          e.cvolL = static_cast<int16_t>((e.volume * kEqualPower[e.pan]) >> 15);
          e.cvolR = static_cast<int16_t>((e.volume * kEqualPower[127 - e.pan]) >> 15);
        }
        pv.resampler.ratio = u.pitch;
        break;
      }
      case UpdateType::SetFxMix:
      case UpdateType::SetPan:
      case UpdateType::SetVolume: {
        pullSubFrame(pv, outp, samples);
        if (e.delta >= e.segEnd) {
          e.ltgt = static_cast<int16_t>((e.volume * kEqualPower[e.pan]) >> 15);
          e.rtgt = static_cast<int16_t>((e.volume * kEqualPower[127 - e.pan]) >> 15);
          e.delta = e.segEnd;
          e.cvolL = e.ltgt;
          e.cvolR = e.rtgt;
        } else {
          e.cvolL = floatToS16(rampVolume(e.cvolL, e.delta, e.lratm, e.lratl));
          e.cvolR = floatToS16(rampVolume(e.cvolR, e.delta, e.rratm, e.rratl));
        }
        // A volume of 0 would never ramp anywhere.
        if (e.cvolL == 0) e.cvolL = 1;
        if (e.cvolR == 0) e.cvolR = 1;
        if (u.type == UpdateType::SetPan) e.pan = static_cast<int16_t>(u.value);
        if (u.type == UpdateType::SetVolume) {
          e.delta = 0;
          e.volume = static_cast<int16_t>((u.value * u.value) >> 15);
          e.segEnd = u.ramp;
        }
        if (u.type == UpdateType::SetFxMix) {
          e.dryamt = kEqualPower[u.value];
          e.wetamt = kEqualPower[127 - u.value];
        }
        e.first = true;
        break;
      }
      case UpdateType::StartVoice:
        // The samples until the start are skipped, not mixed.
        pv.loader.setWave(u.wave);
        e.playing = true;
        break;
      case UpdateType::StopVoice:
        pullSubFrame(pv, outp, samples);
        e.first = true;
        e.playing = false;
        e.volume = 1;
        pv.resampler.delta = 0;
        pv.resampler.first = true;
        pv.loader.reset();
        break;
      case UpdateType::FreeVoice:
        pvoices[static_cast<size_t>(u.voice)].offset = 0;
        freePVoice(u.voice);
        break;
      case UpdateType::SetPitch:
        pullSubFrame(pv, outp, samples);
        pv.resampler.ratio = u.pitch;
        break;
    }
    outp += samples;
    count -= samples;
    const int32_t done = e.head;
    e.head = u.next;
    if (e.head < 0) e.tail = -1;
    updates[static_cast<size_t>(done)].next = freeUpdate;
    freeUpdate = done;
  }
  pullSubFrame(pv, outp, count);
  if (e.delta > e.segEnd) e.delta = e.segEnd;
}

Synth::Synth(const RenderConfig& config) : impl_(std::make_unique<Impl>(config)) {}
Synth::~Synth() = default;

void Synth::addClient(SynthClient* client) {
  impl_->clients.insert(impl_->clients.begin(), Impl::Client{client, impl_->curSamples});
}

void Synth::removeClient(SynthClient* client) {
  auto& c = impl_->clients;
  c.erase(std::remove_if(c.begin(), c.end(),
                         [client](const Impl::Client& x) { return x.client == client; }),
          c.end());
}

VoiceId Synth::allocVoice(int16_t priority, int16_t fxBus) {
  Impl& s = *impl_;
  int32_t pv = -1;
  const bool stolen = s.allocatePVoice(&pv, priority);
  if (pv < 0) return -1;
  int32_t id;
  if (!s.freeVirtual.empty()) {
    id = s.freeVirtual.back();
    s.freeVirtual.pop_back();
  } else if (static_cast<int32_t>(s.vvoices.size()) < kMaxVirtualVoices) {
    id = static_cast<int32_t>(s.vvoices.size());
    s.vvoices.emplace_back();
  } else {
    // No id left to name it by (a client that never frees): give the
    // physical voice back untouched.
    if (!stolen) s.freePVoice(pv);
    return -1;
  }
  Impl::PhysicalVoice& p = s.pvoices[static_cast<size_t>(pv)];
  if (stolen) {
    p.offset = kStealDelay;
    s.vvoices[static_cast<size_t>(p.vvoice)].pvoice = -1;
    // Fade the old note out, then stop it. (The console does not check
    // that the first update exists.)
    if (Impl::Update* u = s.newUpdate(p, UpdateType::SetVolume, s.paramSamples)) {
      u->value = 0;
      u->ramp = kStealFade;
    }
    s.newUpdate(p, UpdateType::StopVoice, s.paramSamples + p.offset);
  } else {
    p.offset = 0;
  }
  Impl::VirtualVoice& v = s.vvoices[static_cast<size_t>(id)];
  v = Impl::VirtualVoice{true, priority, fxBus, pv};
  p.vvoice = id;
  return id;
}

void Synth::freeVoice(VoiceId id) {
  Impl& s = *impl_;
  if (id < 0 || id >= static_cast<int32_t>(s.vvoices.size()) || !s.vvoices[id].used) return;
  Impl::VirtualVoice& v = s.vvoices[static_cast<size_t>(id)];
  if (v.pvoice >= 0) {
    Impl::PhysicalVoice& p = s.pvoices[static_cast<size_t>(v.pvoice)];
    if (p.offset != 0) {
      // Still fading from a steal: free it when the fade is over. Without
      // an update the console leaves it allocated for good, and so do we.
      if (Impl::Update* u = s.newUpdate(p, UpdateType::FreeVoice, s.paramSamples + p.offset)) {
        u->voice = v.pvoice;
      }
    } else {
      s.freePVoice(v.pvoice);
    }
  }
  v = Impl::VirtualVoice{};
  s.freeVirtual.push_back(id);
}

void Synth::startVoice(VoiceId id, const RenderWave& wave) {
  Impl& s = *impl_;
  if (Impl::PhysicalVoice* p = s.voiceOf(id)) {
    if (Impl::Update* u = s.newUpdate(*p, UpdateType::StartVoice, s.paramSamples + p->offset)) {
      u->wave = wave;
    }
  }
}

void Synth::startVoiceParams(VoiceId id, const RenderWave& wave, float pitch, int16_t volume,
                             uint8_t pan, uint8_t fxMix, int32_t rampMicros) {
  Impl& s = *impl_;
  if (Impl::PhysicalVoice* p = s.voiceOf(id)) {
    if (Impl::Update* u =
            s.newUpdate(*p, UpdateType::StartVoiceParams, s.paramSamples + p->offset)) {
      u->wave = wave;
      u->pitch = pitch;
      u->volume = volume;
      u->pan = std::min<uint8_t>(pan, 127);
      u->fxMix = std::min<uint8_t>(fxMix, 127);
      u->ramp = s.timeToSamples(std::max(rampMicros, 0));
    }
  }
}

void Synth::stopVoice(VoiceId id) {
  Impl& s = *impl_;
  if (Impl::PhysicalVoice* p = s.voiceOf(id)) {
    s.newUpdate(*p, UpdateType::StopVoice, s.paramSamples + p->offset);
  }
}

void Synth::setPitch(VoiceId id, float ratio) {
  Impl& s = *impl_;
  if (Impl::PhysicalVoice* p = s.voiceOf(id)) {
    if (Impl::Update* u = s.newUpdate(*p, UpdateType::SetPitch, s.paramSamples + p->offset)) {
      u->pitch = ratio;
    }
  }
}

void Synth::setVol(VoiceId id, int16_t volume, int32_t rampMicros) {
  Impl& s = *impl_;
  if (Impl::PhysicalVoice* p = s.voiceOf(id)) {
    if (Impl::Update* u = s.newUpdate(*p, UpdateType::SetVolume, s.paramSamples + p->offset)) {
      u->value = volume;
      // A negative time would make the rate computation loop for ever.
      u->ramp = s.timeToSamples(std::max(rampMicros, 0));
    }
  }
}

void Synth::setPan(VoiceId id, uint8_t pan) {
  Impl& s = *impl_;
  if (Impl::PhysicalVoice* p = s.voiceOf(id)) {
    if (Impl::Update* u = s.newUpdate(*p, UpdateType::SetPan, s.paramSamples + p->offset)) {
      u->value = std::min<uint8_t>(pan, 127);
    }
  }
}

void Synth::setFxMix(VoiceId id, uint8_t mix) {
  Impl& s = *impl_;
  if (Impl::PhysicalVoice* p = s.voiceOf(id)) {
    if (Impl::Update* u = s.newUpdate(*p, UpdateType::SetFxMix, s.paramSamples + p->offset)) {
      u->value = std::min<uint8_t>(mix, 127);
    }
  }
}

void Synth::setPriority(VoiceId id, int16_t priority) {
  Impl& s = *impl_;
  if (id >= 0 && id < static_cast<int32_t>(s.vvoices.size()) && s.vvoices[id].used) {
    s.vvoices[static_cast<size_t>(id)].priority = priority;
  }
}

int16_t Synth::priorityOf(VoiceId id) const {
  const Impl& s = *impl_;
  if (id >= 0 && id < static_cast<int32_t>(s.vvoices.size()) && s.vvoices[id].used) {
    return s.vvoices[static_cast<size_t>(id)].priority;
  }
  return 0;
}

void Synth::renderFrame(int16_t* out, int32_t samples) {
  Impl& s = *impl_;
  if (samples <= 0) return;
  if (s.clients.empty()) {
    std::fill(out, out + 2 * static_cast<int64_t>(samples), int16_t{0});
    return;
  }
  // Every callback due before the frame's end runs now, in time order (the
  // newest client first among equals), stamped with its time rounded down
  // to 16 samples.
  for (int32_t calls = 0; calls < kMaxCallbacksPerFrame; ++calls) {
    Impl::Client* next = nullptr;
    int64_t delta = std::numeric_limits<int32_t>::max();
    for (Impl::Client& c : s.clients) {
      if (c.samplesLeft - s.curSamples < delta) {
        next = &c;
        delta = c.samplesLeft - s.curSamples;
      }
    }
    if (next == nullptr) break;
    s.paramSamples = next->samplesLeft;
    if (s.paramSamples - s.curSamples >= samples) break;
    s.paramSamples &= ~int64_t{15};
    const int32_t micros = next->client->handle(*this);
    next->samplesLeft += s.timeToSamplesNoRound(micros);
  }
  s.paramSamples &= ~int64_t{15};

  while (samples > 0) {
    const int32_t n = std::min(samples, kMaxChunk);
    std::fill(s.mainL, s.mainL + n, int16_t{0});
    std::fill(s.mainR, s.mainR + n, int16_t{0});
    std::fill(s.auxL, s.auxL + n, int16_t{0});
    std::fill(s.auxR, s.auxR + n, int16_t{0});
    for (Impl::PhysicalVoice& pv : s.pvoices) s.pullVoice(pv, n, s.curSamples);
    if (s.effect) s.effect->process(s.auxL, s.auxR, n);
    render::mix(s.mainL, s.auxL, n, 0x7fff);
    render::mix(s.mainR, s.auxR, n, 0x7fff);
    for (int32_t i = 0; i < n; ++i) {
      out[2 * i] = s.mainL[i];
      out[2 * i + 1] = s.mainR[i];
    }
    out += 2 * n;
    samples -= n;
    s.curSamples += n;
  }
  // Voices freed during the frame become free ones.
  for (int32_t node; (node = s.links[s.lameList()].next) != -1;) {
    s.unlink(node);
    s.link(node, s.freeList());
  }
}

int64_t Synth::sampleTime() const { return impl_->curSamples; }
int64_t Synth::droppedUpdates() const { return impl_->dropped; }

}  // namespace zaft
