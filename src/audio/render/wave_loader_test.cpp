#include "audio/render/wave_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/synth.h"
#include "support/vadpcm_encoder.h"

namespace zaft::render {
namespace {

// A wave of 320 samples as ADPCM or raw, with what a decoder makes of it.
struct TestWave {
  std::vector<uint8_t> rom;
  std::vector<int16_t> pcm;  // the decoded samples, one per sample of the wave
  test::BookDesign book;
  RenderWave wave;
};

TestWave makeWave(SampleCodec codec) {
  TestWave t;
  const std::vector<int16_t> source = test::pluckedString(32000, 220.0, 0.01, 7);
  std::vector<int16_t> pcm(source.begin(), source.begin() + 320);
  t.rom.assign(40, 0xEE);  // bytes before the wave, never read
  if (codec == SampleCodec::Vadpcm) {
    t.book = test::deriveBook(pcm, 2);
    const test::AdpcmEncoding enc = test::encodeAdpcm(pcm, t.book);
    t.pcm = enc.decoded;
    t.rom.insert(t.rom.end(), enc.frames.begin(), enc.frames.end());
    t.wave.len = static_cast<int32_t>(enc.frames.size());
  } else {
    t.pcm = pcm;
    const std::vector<uint8_t> bytes = test::rawWaveBytes(pcm);
    t.rom.insert(t.rom.end(), bytes.begin(), bytes.end());
    t.wave.len = static_cast<int32_t>(bytes.size());
  }
  t.rom.resize(t.rom.size() + 64, 0x5A);  // what follows the wave is not read either
  t.wave.rom = t.rom.data();
  t.wave.romSize = static_cast<int64_t>(t.rom.size());
  t.wave.start = 40;
  t.wave.codec = codec;
  t.wave.book = VadpcmBook{t.book.predictors.data(), t.book.npredictors};
  return t;
}

void setLoop(TestWave& t, int32_t start, int32_t end, int32_t count) {
  t.wave.hasLoop = true;
  t.wave.loopStart = start;
  t.wave.loopEnd = end;
  t.wave.loopCount = count;
  // The loop's state is the decoded frame that holds its start.
  std::copy_n(t.pcm.begin() + (start & ~15), 16, t.wave.loopState);
}

// The stream as it should sound: up to the loop's end, `passes` more
// passes of the loop, the rest of the wave, then silence.
std::vector<int16_t> expectedStream(const TestWave& t, int32_t passes, size_t n) {
  std::vector<int16_t> s;
  const int32_t end = t.wave.hasLoop ? t.wave.loopEnd : static_cast<int32_t>(t.pcm.size());
  s.insert(s.end(), t.pcm.begin(), t.pcm.begin() + end);
  for (int32_t p = 0; p < passes && s.size() < n; ++p) {
    s.insert(s.end(), t.pcm.begin() + t.wave.loopStart, t.pcm.begin() + t.wave.loopEnd);
  }
  if (s.size() < n) s.insert(s.end(), t.pcm.begin() + end, t.pcm.end());
  s.resize(n, 0);
  return s;
}

std::vector<int16_t> pullAll(WaveLoader& loader, const std::vector<int32_t>& sizes, size_t n) {
  std::vector<int16_t> out;
  for (size_t i = 0; out.size() < n; ++i) {
    std::vector<int16_t> part(static_cast<size_t>(sizes[i % sizes.size()]));
    loader.pull(part.data(), static_cast<int32_t>(part.size()));
    out.insert(out.end(), part.begin(), part.end());
  }
  out.resize(n);
  return out;
}

// The stream equals the decoder's output through the wave's loop, for
// both codecs, whatever sizes the resampler asks for (each pull no longer
// than the loop, where a counted loop is exact).
TEST(WaveLoader, PlaysTheDecodedWaveThroughItsLoop) {
  struct Case {
    const char* what;
    SampleCodec codec;
    int32_t loopStart, loopEnd, loopCount, passes;
    std::vector<int32_t> pulls;
  };
  const Case cases[] = {
      {"adpcm, no loop", SampleCodec::Vadpcm, 0, 0, 0, 0, {48, 160, 16, 96}},
      {"adpcm, 2 passes", SampleCodec::Vadpcm, 37, 320, 2, 2, {48, 160, 16, 96, 32}},
      {"adpcm, endless", SampleCodec::Vadpcm, 37, 320, -1, 1000, {160, 112, 16, 304}},
      {"adpcm, endless, loop inside a pull", SampleCodec::Vadpcm, 297, 317, -1, 1000, {160}},
      {"raw, no loop", SampleCodec::Raw16, 0, 0, 0, 0, {48, 160, 16, 96}},
      {"raw, 2 passes", SampleCodec::Raw16, 37, 320, 2, 2, {48, 160, 16, 96, 32}},
      {"raw, endless, loop inside a pull", SampleCodec::Raw16, 297, 317, -1, 1000, {160}},
      {"a loop ending before it starts plays as none", SampleCodec::Vadpcm, 100, 50, -1, 0,
       {48, 160, 16, 96}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestWave t = makeWave(c.codec);
    if (c.loopCount != 0) setLoop(t, c.loopStart, c.loopEnd, c.loopCount);
    WaveLoader loader;
    loader.setWave(t.wave);
    loader.reset();
    const size_t n = 3000;
    TestWave plain = t;
    if (c.loopEnd <= c.loopStart) plain.wave.hasLoop = false;
    EXPECT_EQ(pullAll(loader, c.pulls, n), expectedStream(plain, c.passes, n));
    // A reset starts the wave and its loop count over.
    loader.reset();
    EXPECT_EQ(pullAll(loader, c.pulls, n), expectedStream(plain, c.passes, n));
  }
}

// At the wave's end the console's loader drops what a pull leaves of the
// last frame when the next pull's frames all lie past the end (their
// samples at least the pull's length): of a 3-frame wave, pulls of 40 and
// 40 play all 48 samples, 40 and 44 play 40, 40, 4 and 40 play 44.
TEST(WaveLoader, DropsTheLastFramesRestWhenAPullRunsPastTheEnd) {
  TestWave t = makeWave(SampleCodec::Vadpcm);
  t.wave.len = 27;
  struct Case {
    std::vector<int32_t> pulls;
    int32_t played;
  };
  const Case cases[] = {{{40, 40}, 48}, {{40, 44}, 40}, {{40, 4, 40}, 44}};
  for (const Case& c : cases) {
    WaveLoader loader;
    loader.setWave(t.wave);
    std::vector<int16_t> expected(t.pcm.begin(), t.pcm.begin() + c.played);
    expected.resize(84, 0);
    EXPECT_EQ(pullAll(loader, c.pulls, 84), expected) << c.played;
  }
}

// Waves whose claims run past the image or make no sense: reads past the
// image are 0, nothing is read out of bounds, every pull is filled.
TEST(WaveLoader, HostileWavesReadOnlyInsideTheImage) {
  TestWave base = makeWave(SampleCodec::Vadpcm);
  auto with = [&](auto change) {
    TestWave t = base;
    change(t.wave);
    return t.wave;
  };
  const RenderWave waves[] = {
      with([](RenderWave& w) { w.len = INT32_MAX; }),
      with([](RenderWave& w) { w.len = -5; }),
      with([](RenderWave& w) { w.start = -1000; }),
      with([](RenderWave& w) { w.start = INT64_MAX / 2; }),
      with([](RenderWave& w) { w.rom = nullptr; }),
      with([](RenderWave& w) { w.codec = SampleCodec::None; }),
      with([](RenderWave& w) { w.book = VadpcmBook{}; }),
      with([](RenderWave& w) {
        w.hasLoop = true;
        w.loopStart = INT32_MAX - 20;
        w.loopEnd = INT32_MAX;
        w.loopCount = -1;
      }),
      with([](RenderWave& w) {
        w.hasLoop = true;
        w.loopStart = 0;
        w.loopEnd = 1;
        w.loopCount = -1;
        w.codec = SampleCodec::Raw16;
        w.len = INT32_MAX;
      }),
  };
  for (const RenderWave& w : waves) {
    WaveLoader loader;
    loader.setWave(w);
    std::vector<int16_t> out(320, 7);
    for (int i = 0; i < 40; ++i) loader.pull(out.data(), 320);
  }
  // A wave with no image at all is silence.
  WaveLoader loader;
  loader.setWave(waves[4]);
  std::vector<int16_t> out(320, 7);
  loader.pull(out.data(), 320);
  EXPECT_EQ(out, std::vector<int16_t>(320, 0));
}

}  // namespace
}  // namespace zaft::render
