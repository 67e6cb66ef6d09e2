// The synthesizer on a busy song: 16 voices sounding at once at 44.1 kHz
// through the small-room effect, notes restarting and volumes ramping all
// the time, against decoding the same ADPCM samples alone. The "realtime"
// counter is seconds of music made per second of CPU.
//
//   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DZAFT_BUILD_BENCH=ON
//   cmake --build build-bench -j2 --target zaft_bench
//   build-bench/zaft_bench --benchmark_filter='Render|SameSamples'
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/adpcm.h"
#include "audio/render/synth.h"
#include "support/synth.h"
#include "support/vadpcm_encoder.h"

namespace {

constexpr int32_t kRate = 44100;
constexpr int kVoices = 16;
constexpr double kSeconds = 10.0;

// Two looping instruments, encoded once.
struct Instrument {
  zaft::test::BookDesign book;
  zaft::test::AdpcmEncoding enc;
  zaft::RenderWave wave;
};

const std::vector<Instrument>& instruments() {
  static const std::vector<Instrument> all = [] {
    std::vector<Instrument> v(2);
    const zaft::test::LoopedSample sources[2] = {zaft::test::pad(22050, 220.0, 0.2, 0.1),
                                                 zaft::test::organ(22050, 330.0, 0.05, 0.1)};
    for (int i = 0; i < 2; ++i) {
      Instrument& in = v[static_cast<size_t>(i)];
      const auto& s = sources[i];
      in.book = zaft::test::deriveBook(s.pcm, 4);
      in.enc = zaft::test::encodeAdpcm(s.pcm, in.book);
      zaft::RenderWave& w = in.wave;
      w.rom = in.enc.frames.data();
      w.romSize = static_cast<int64_t>(in.enc.frames.size());
      w.len = static_cast<int32_t>(in.enc.frames.size());
      w.book = zaft::VadpcmBook{in.book.predictors.data(), in.book.npredictors};
      w.hasLoop = true;
      w.loopStart = s.loopStart;
      w.loopEnd = s.loopEnd;
      w.loopCount = -1;
      for (int k = 0; k < 16; ++k) {
        w.loopState[k] = in.enc.decoded[static_cast<size_t>((s.loopStart & ~15) + k)];
      }
    }
    return v;
  }();
  return all;
}

// Every 20 ms: one voice's volume ramps; every 100 ms one note restarts.
class BusySong : public zaft::SynthClient {
 public:
  int32_t handle(zaft::Synth& s) override {
    if (tick_ == 0) {
      for (int k = 0; k < kVoices; ++k) start(s, k);
    } else {
      const int k = tick_ % kVoices;
      s.setVol(voices_[k], static_cast<int16_t>(0x3000 + 0x400 * (tick_ % 16)), 15000);
      if (tick_ % 5 == 0) {
        const int r = (tick_ / 5) % kVoices;
        s.stopVoice(voices_[r]);
        s.freeVoice(voices_[r]);
        start(s, r);
      }
    }
    ++tick_;
    return 20000;
  }

 private:
  void start(zaft::Synth& s, int k) {
    const auto& inst = instruments();
    voices_[k] = s.allocVoice(5);
    const float pitch = static_cast<float>(std::pow(2.0, (k - 8 + tick_ % 3) / 12.0));
    s.startVoiceParams(voices_[k], inst[static_cast<size_t>(k % 2)].wave, pitch, 0x5000,
                       static_cast<uint8_t>(8 * k), 40, 5000);
  }
  zaft::VoiceId voices_[kVoices] = {};
  int tick_ = 0;
};

void BM_RenderBusySong(benchmark::State& state) {
  instruments();
  const int32_t frame = zaft::frameSamplesFor(kRate);
  const int frames = static_cast<int>(kSeconds * kRate / frame);
  std::vector<int16_t> out(static_cast<size_t>(2 * frame));
  for (auto _ : state) {
    zaft::RenderConfig config;
    config.outputRate = kRate;
    config.fx = zaft::FxType::SmallRoom;
    zaft::Synth synth(config);
    BusySong song;
    synth.addClient(&song);
    for (int f = 0; f < frames; ++f) synth.renderFrame(out.data(), frame);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["realtime"] = benchmark::Counter(
      static_cast<double>(frames) * frame / kRate * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderBusySong)->Unit(benchmark::kMillisecond);

// The ADPCM decoding alone of as many samples as the song's 16 voices play
// (at their average pitch of about 1).
void BM_DecodeSameSamples(benchmark::State& state) {
  const Instrument& in = instruments()[0];
  const zaft::AdpcmKernel kernel(in.book.predictors.data(), in.book.npredictors);
  const size_t frames = in.enc.frames.size() / zaft::kAdpcmFrameBytes;
  const int64_t wanted = static_cast<int64_t>(kSeconds * kRate * kVoices);
  std::vector<uint8_t> pcm(frames * 32);
  for (auto _ : state) {
    for (int64_t done = 0; done < wanted; done += static_cast<int64_t>(frames) * 16) {
      zaft::AdpcmHistory history;
      int32_t missing = -1;
      kernel.decode(history, in.enc.frames.data(), frames, pcm.data(), missing);
      benchmark::DoNotOptimize(pcm.data());
    }
  }
  state.counters["realtime"] =
      benchmark::Counter(kSeconds * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeSameSamples)->Unit(benchmark::kMillisecond);

}  // namespace
