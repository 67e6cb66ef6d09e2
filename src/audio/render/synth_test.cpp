#include "audio/render/synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

#include "audio/render/microcode.h"
#include "support/synth.h"
#include "support/vadpcm_encoder.h"
#include "util/fatal.h"

namespace zaft {
namespace {

// A client that runs a script: call n gets the synthesizer and n, and
// returns the microseconds until its next call.
class Script : public SynthClient {
 public:
  explicit Script(std::function<int32_t(Synth&, int)> f) : f_(std::move(f)) {}
  int32_t handle(Synth& synth) override { return f_(synth, calls_++); }

 private:
  std::function<int32_t(Synth&, int)> f_;
  int calls_ = 0;
};

constexpr int32_t kNever = 1 << 30;  // microseconds: no further call

// Interleaved stereo of `frames` frames of `frameSize`.
std::vector<int16_t> render(Synth& synth, int frames, int32_t frameSize) {
  std::vector<int16_t> out(static_cast<size_t>(2 * frames * frameSize));
  for (int f = 0; f < frames; ++f) synth.renderFrame(out.data() + 2 * f * frameSize, frameSize);
  return out;
}

std::vector<int16_t> channel(const std::vector<int16_t>& stereo, int side) {
  std::vector<int16_t> out;
  for (size_t i = static_cast<size_t>(side); i < stereo.size(); i += 2) out.push_back(stereo[i]);
  return out;
}

// A raw wave holding `pcm`.
struct RawWave {
  std::vector<uint8_t> rom;
  RenderWave wave;
  explicit RawWave(const std::vector<int16_t>& pcm) : rom(test::rawWaveBytes(pcm)) {
    wave.rom = rom.data();
    wave.romSize = static_cast<int64_t>(rom.size());
    wave.len = static_cast<int32_t>(rom.size());
    wave.codec = SampleCodec::Raw16;
  }
};

std::vector<int16_t> impulse(int16_t height, size_t length) {
  std::vector<int16_t> pcm(length, 0);
  pcm[0] = height;
  return pcm;
}

// One note started at time 0 with the start call's parameters.
std::vector<int16_t> renderNote(const RenderConfig& config, const RenderWave& wave, float pitch,
                                int16_t volume, uint8_t pan, uint8_t fxMix, int frames,
                                int32_t frameSize) {
  Synth synth(config);
  Script script([&](Synth& s, int call) {
    if (call == 0) s.startVoiceParams(s.allocVoice(5), wave, pitch, volume, pan, fxMix, 0);
    return kNever;
  });
  synth.addClient(&script);
  return render(synth, frames, frameSize);
}

TEST(Synth, FrameSizeIsASixtiethRoundedUpToSixteen) {
  EXPECT_EQ(frameSamplesFor(32000), 544);  // 533.3
  EXPECT_EQ(frameSamplesFor(44100), 736);  // 735
  EXPECT_EQ(frameSamplesFor(22080), 368);  // exactly 368
}

// At unity pitch the resampler still filters: every output sample is the
// 4 taps of phase 0 over the input (the 4 before it carried, zeros at the
// start), so an impulse comes out as those taps, one sample late. The
// mixer then applies the volume squared and the equal-power pan.
TEST(Synth, RawNoteAtUnityPitchIsTheSampleThroughPhaseZeroPanned) {
  const int16_t kHeight = 30000;
  RawWave raw(impulse(kHeight, 64));
  // y[1..4]: the impulse times taps 3, 2, 1, 0 of phase 0 (-33, 3398, 26285, 3129).
  const int32_t y[5] = {0, (kHeight * -33) >> 15, (kHeight * 3398) >> 15,
                        (kHeight * 26285) >> 15, (kHeight * 3129) >> 15};
  const int32_t volume = (0x7FFF * 0x7FFF) >> 15;  // 32766
  struct Case {
    uint8_t pan;
    int32_t left, right;  // the equal-power curve at pan and at 127 - pan
  };
  const Case cases[] = {{0, 32767, 0}, {64, 23026, 23313}, {32, 30234, 12633}, {127, 0, 32767}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.pan));
    const std::vector<int16_t> out =
        renderNote(RenderConfig{}, raw.wave, 1.0f, 0x7FFF, c.pan, 0, 1, 544);
    // Full dry send: the gain is the side's volume times 32767, rounded.
    const int32_t gainL = (((volume * c.left) >> 15) * 32767 + 0x4000) >> 15;
    const int32_t gainR = (((volume * c.right) >> 15) * 32767 + 0x4000) >> 15;
    for (size_t i = 0; i < out.size() / 2; ++i) {
      const int32_t yi = i < 5 ? y[i] : 0;
      ASSERT_EQ(out[2 * i], (yi * gainL) >> 15) << "left " << i;
      ASSERT_EQ(out[2 * i + 1], (yi * gainR) >> 15) << "right " << i;
    }
  }
}

// The ratio is taken in single precision, clamped below 2 and quantised
// to 1/32768: ratios that quantise alike sound alike. At 0.5 the impulse
// is read at phases 0 and 32 in turn, each position twice.
TEST(Synth, PitchRatioIsQuantisedFloat) {
  RawWave raw(impulse(30000, 64));
  std::vector<int16_t> late(320, 0);
  late[300] = 30000;
  RawWave rawLate(late);
  auto left = [&](const RawWave& w, float pitch) {
    return channel(renderNote(RenderConfig{}, w.wave, pitch, 0x7FFF, 0, 0, 2, 544), 0);
  };
  const std::vector<int16_t> half = left(raw, 0.5f);
  EXPECT_EQ(left(raw, 0.50001f), half);
  EXPECT_EQ(left(raw, 3.0f), left(raw, 65534.0f / 32768));
  // One step of 1/32768 moves the phase by a table entry in 512 samples.
  EXPECT_EQ(left(rawLate, 0.50001f), left(rawLate, 0.5f));
  EXPECT_NE(left(rawLate, 0.5f + 1.0f / 32768), left(rawLate, 0.5f));
  // Phase 0 is (3129, 26285, 3398, -33), phase 32 (-337, 16480, 16970,
  // -330): the impulse meets tap 3 of each, then tap 2, ...
  const int32_t gain = ((((0x7FFF * 0x7FFF) >> 15) * 32767 >> 15) * 32767 + 0x4000) >> 15;
  const int32_t taps[8] = {-33, -330, 3398, 16970, 26285, 16480, 3129, -337};
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(half[static_cast<size_t>(2 + k)], (((30000 * taps[k]) >> 15) * gain) >> 15) << k;
  }
}

// The resampler's fraction and its 4 carried samples pass from chunk to
// chunk and frame to frame: a note with no parameter changes sounds the
// same whatever the frame size.
TEST(Synth, PhaseCarriesAcrossChunksAndFrames) {
  const std::vector<int16_t> pcm = test::pluckedString(32000, 330.0, 0.05, 3);
  const test::BookDesign book = test::deriveBook(pcm, 2);
  const test::AdpcmEncoding enc = test::encodeAdpcm(pcm, book);
  RenderWave wave;
  wave.rom = enc.frames.data();
  wave.romSize = static_cast<int64_t>(enc.frames.size());
  wave.len = static_cast<int32_t>(enc.frames.size());
  wave.book = VadpcmBook{book.predictors.data(), book.npredictors};
  wave.hasLoop = true;
  wave.loopStart = 800;
  wave.loopEnd = static_cast<int32_t>(enc.decoded.size());
  wave.loopCount = -1;
  std::copy_n(enc.decoded.begin() + 800, 16, wave.loopState);
  const float pitch = 1.2345f;
  const std::vector<int16_t> whole = renderNote(RenderConfig{}, wave, pitch, 0x6000, 40, 0, 1, 4352);
  EXPECT_EQ(renderNote(RenderConfig{}, wave, pitch, 0x6000, 40, 0, 8, 544), whole);
  EXPECT_EQ(renderNote(RenderConfig{}, wave, pitch, 0x6000, 40, 0, 17, 256), whole);
  EXPECT_EQ(renderNote(RenderConfig{}, wave, pitch, 0x6000, 40, 0, 272, 16), whole);
}

// A volume change ramps exponentially in steps recomputed every 8 samples:
// monotonic from the old level to the new one, which it holds exactly.
TEST(Synth, VolumeRampMovesFromLevelToLevel) {
  RawWave raw(std::vector<int16_t>(64, 8192));
  raw.wave.hasLoop = true;
  raw.wave.loopEnd = 64;
  raw.wave.loopCount = -1;
  Synth synth(RenderConfig{});
  VoiceId v = -1;
  Script script([&](Synth& s, int call) {
    if (call == 0) {
      v = s.allocVoice(5);
      s.startVoiceParams(v, raw.wave, 1.0f, 0x7FFF, 0, 0, 0);
      return 34000;  // 1088 samples: the start of the third frame
    }
    if (call == 1) s.setVol(v, 0x3FFF, 10000);  // 320 samples
    return kNever;
  });
  synth.addClient(&script);
  const std::vector<int16_t> left = channel(render(synth, 6, 544), 0);
  // A constant input of 8192 comes out of phase 0 as 8192 * 32779 >> 15.
  const int32_t y = (8192 * 32779) >> 15;
  auto level = [&](int32_t volume) {
    const int32_t v2 = (volume * volume) >> 15;
    const int32_t gain = ((((v2 * 32767) >> 15) * 32767) + 0x4000) >> 15;
    return (y * gain) >> 15;
  };
  ASSERT_EQ(left[1087], level(0x7FFF));
  EXPECT_EQ(left[1088 + 1600], level(0x3FFF));
  int32_t reached = -1;
  for (int32_t i = 1088; i < 1088 + 1600; ++i) {
    ASSERT_LE(left[static_cast<size_t>(i + 1)], left[static_cast<size_t>(i)]) << i;
    if (reached < 0 && left[static_cast<size_t>(i)] == level(0x3FFF)) reached = i - 1088;
  }
  EXPECT_GT(reached, 240);
  EXPECT_LT(reached, 400);
  EXPECT_GT(left[1088 + 160], level(0x3FFF));
  EXPECT_LT(left[1088 + 160], level(0x7FFF));
}

// A fully wet impulse: the effect's output is quiet until its first tap
// (the echo's output tap; a room's first section with a gain reads its
// input tap through the feed-forward; the flange mixes the input at once).
// The impulse's first loud output sample (the resampler's tap 2) marks it.
TEST(Synth, EffectFirstEchoAtThePresetsDelay) {
  RawWave raw(impulse(30000, 64));
  auto firstSound = [&](FxType fx) {
    RenderConfig config;
    config.fx = fx;
    const std::vector<int16_t> out =
        renderNote(config, raw.wave, 1.0f, 0x7FFF, 64, 127, 16, 544);
    for (size_t i = 0; i < out.size(); ++i) {
      if (std::abs(out[i]) >= 100) return static_cast<int32_t>(i / 2);
    }
    return -1;
  };
  const int32_t dry = firstSound(FxType::None);
  ASSERT_EQ(dry, 2);
  struct Case {
    FxType fx;
    int32_t delay;
  };
  // (The big room's third section reads the first one's output tap: its
  // all-pass pair passes a trace of the input at once, so it has no clean
  // first echo to time.)
  const Case cases[] = {{FxType::Echo, 7160}, {FxType::SmallRoom, 760}, {FxType::Flange, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fx));
    EXPECT_EQ(firstSound(c.fx), dry + c.delay);
  }
  // The chorus sweeps its 200-sample tap by under a sample.
  EXPECT_NEAR(firstSound(FxType::Chorus), dry + 200, 4);
}

// Allocation: freed, then free voices; otherwise the oldest of the lowest
// priority not above the caller's, not one already being stolen.
TEST(Synth, StealsTheOldestLowestPriorityVoice) {
  RenderConfig config;
  config.voices = 2;
  Synth synth(config);
  const VoiceId a = synth.allocVoice(5);
  const VoiceId b = synth.allocVoice(5);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(synth.allocVoice(4), -1);
  const VoiceId c = synth.allocVoice(5);  // takes a's physical voice
  ASSERT_GE(c, 0);
  const VoiceId d = synth.allocVoice(9);  // b's: a's is still fading
  ASSERT_GE(d, 0);
  EXPECT_EQ(synth.allocVoice(9), -1);
  synth.setPriority(c, 7);
  EXPECT_EQ(synth.priorityOf(c), 7);
  EXPECT_EQ(synth.priorityOf(-1), 0);
  // A freed voice is handed out again, before any stealing.
  synth.freeVoice(a);
  synth.freeVoice(b);
  EXPECT_EQ(synth.allocVoice(9), -1);  // both physical voices still fade
}

// A stolen voice fades out and its new note starts 512 samples late.
TEST(Synth, StolenVoiceStartsItsNote512SamplesLate) {
  RawWave raw(impulse(30000, 64));
  RenderConfig config;
  config.voices = 1;
  Synth synth(config);
  Script script([&](Synth& s, int call) {
    if (call == 0) {
      s.allocVoice(5);  // holds the only voice, silent
      s.startVoiceParams(s.allocVoice(5), raw.wave, 1.0f, 0x7FFF, 64, 0, 0);
    }
    return kNever;
  });
  synth.addClient(&script);
  const std::vector<int16_t> left = channel(render(synth, 2, 544), 0);
  size_t first = 0;
  while (first < left.size() && left[first] == 0) ++first;
  EXPECT_EQ(first, 512u + 1);
}

TEST(Synth, CallsBeyondTheUpdateQueueAreDroppedAndCounted) {
  RenderConfig config;
  config.updates = 3;
  Synth synth(config);
  Script script([&](Synth& s, int call) {
    if (call == 0) {
      const VoiceId v = s.allocVoice(5);
      for (int i = 0; i < 5; ++i) s.setPan(v, 10);
    }
    return kNever;
  });
  synth.addClient(&script);
  render(synth, 1, 544);
  EXPECT_EQ(synth.droppedUpdates(), 2);
  render(synth, 1, 544);  // the queue was returned: three more fit
}

TEST(Synth, RejectsConfigurationsOutOfRange) {
  struct Case {
    RenderConfig config;
    const char* message;
  };
  const Case cases[] = {
      {{999, 16, 64, FxType::None},
       "synthesizer: output rate 999 Hz is out of range (1000 to 192000)"},
      {{32000, 0, 64, FxType::None}, "synthesizer: 0 voices is out of range (1 to 256)"},
      {{32000, 16, 0, FxType::None},
       "synthesizer: 0 parameter updates is out of range (1 to 65536)"},
  };
  for (const Case& c : cases) {
    try {
      Synth synth(c.config);
      ADD_FAILURE() << c.message;
    } catch (const FatalError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

}  // namespace
}  // namespace zaft

namespace zaft {
namespace {

// More notes than voices, through every effect, with pitch, pan, send and
// volume changes: the same samples on every run, and sound.
TEST(Synth, BusySongIsDeterministicThroughEveryEffect) {
  const std::vector<int16_t> pcm = test::pluckedString(32000, 262.0, 0.1, 9);
  const test::BookDesign book = test::deriveBook(pcm, 2);
  const test::AdpcmEncoding enc = test::encodeAdpcm(pcm, book);
  RenderWave wave;
  wave.rom = enc.frames.data();
  wave.romSize = static_cast<int64_t>(enc.frames.size());
  wave.len = static_cast<int32_t>(enc.frames.size());
  wave.book = VadpcmBook{book.predictors.data(), book.npredictors};
  auto song = [&](FxType fx) {
    RenderConfig config;
    config.voices = 4;
    config.fx = fx;
    Synth synth(config);
    std::vector<VoiceId> held;
    Script script([&](Synth& s, int call) {
      const VoiceId v = s.allocVoice(static_cast<int16_t>(call % 3));
      s.startVoiceParams(v, wave, 0.75f + 0.1f * static_cast<float>(call % 7), 0x6000,
                         static_cast<uint8_t>(call * 13 % 128), static_cast<uint8_t>(call * 29 % 128),
                         call % 2 ? 8000 : 0);
      for (VoiceId h : held) {
        s.setPitch(h, 1.1f);
        s.setVol(h, 0x2000, 30000);
      }
      held.push_back(v);
      if (held.size() > 3) {
        s.stopVoice(held.front());
        s.freeVoice(held.front());
        held.erase(held.begin());
      }
      return 23000;
    });
    synth.addClient(&script);
    return render(synth, 30, 544);
  };
  for (FxType fx : {FxType::None, FxType::SmallRoom, FxType::BigRoom, FxType::Chorus,
                    FxType::Flange, FxType::Echo}) {
    SCOPED_TRACE(static_cast<int>(fx));
    const std::vector<int16_t> first = song(fx);
    EXPECT_EQ(song(fx), first);
    EXPECT_NE(std::count(first.begin(), first.end(), int16_t{0}), static_cast<long>(first.size()));
  }
}

}  // namespace
}  // namespace zaft
