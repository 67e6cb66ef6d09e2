// A whole run on a generated 64 MiB ROM: thousands of records and tens of
// MiB of ADPCM and raw samples, ripped with given offsets, beside the I/O
// floor measured in the same run (reading the ROM, writing files of the
// sizes the rip wrote), on one thread and with decoding beside writing, on
// random frames and on real encoded audio.
//
//   build-bench/zaft_bench --benchmark_filter=WholeRun
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "bank/libultra/bank_lowering.h"
#include "bank/libultra/walk.h"
#include "driver/run.h"
#include "export/output_plan.h"
#include "export/sf2_export.h"
#include "export/wav_export.h"
#include "rom/rom_image.h"
#include "support/bank_builder.h"
#include "support/rom_builder.h"
#include "support/synth.h"
#include "support/vadpcm_encoder.h"
#include "support/test_util.h"

namespace {

constexpr size_t kRomSize = size_t{64} << 20;
constexpr size_t kCtl = 0x100000;
constexpr size_t kTbl = 0x200000;
constexpr int kWaves = 1000;  // about 60 MiB of samples: 6000 frames, or 60000 raw bytes

// About 1 MiB of ADPCM frames of music-like material (plucked strings,
// drums, a pad, a bell), encoded once with a book fitted to it.
struct RealAudio {
  std::vector<uint8_t> frames;
  zaft::test::BookDesign book;
  std::vector<uint8_t> raw;  // big-endian samples of the same material
};

RealAudio realAudio() {
  using namespace zaft::test;
  const int rate = 22050;
  std::vector<int16_t> pcm;
  auto add = [&](const std::vector<int16_t>& piece) { pcm.insert(pcm.end(), piece.begin(), piece.end()); };
  for (int round = 0; pcm.size() < 1900000; ++round) {
    const uint32_t seed = static_cast<uint32_t>(round);
    add(pluckedString(rate, 110.0 * (1 + round % 5), 2.0, seed));
    add(kickDrum(rate));
    add(snareDrum(rate, seed));
    add(hiHat(rate, seed));
    add(pad(rate, 220.0 + 30 * (round % 4), 0.5, 1.0).pcm);
    add(bell(rate, 660.0, 1.5));
    add(pluckedBass(rate, 55.0 * (1 + round % 3), 1.5, seed));
  }
  pcm.resize(1900000);
  RealAudio audio;
  audio.book = deriveBook(pcm, 4);
  audio.frames = encodeAdpcm(pcm, audio.book).frames;
  audio.raw = rawWaveBytes(pcm);
  return audio;
}

// The benchmark ROM: one bank file of kWaves waves (every tenth raw), of
// random frames (scales 0..12, predictors 0..3), or of real audio.
struct Fixture {
  zaft::test::TempDir dir;
  std::string rom;

  explicit Fixture(bool real) {
    using namespace zaft::test;
    std::mt19937 rng(7);
    BankFileDesign design;
    design.envelopes.resize(8);
    // Sound k of each instrument plays key 10 + k alone, so every wave
    // sounds in the soundfont too.
    for (int k = 0; k < 100; ++k) {
      const uint8_t key = static_cast<uint8_t>(10 + k);
      design.keyMaps.push_back({0, 127, key, key, key, 0});
    }
    const RealAudio audio = real ? realAudio() : RealAudio{};
    for (int b = 0; b < 16; ++b) design.books.push_back(real ? audio.book : simpleBook(4));
    InstrumentDesign inst;
    for (int w = 0; w < kWaves; ++w) {
      WaveDesign wave;
      wave.type = w % 10 == 9 ? 1 : 0;
      wave.data.resize(wave.type == 0 ? 9 * 6000 : 60000);
      if (real) {
        // Each wave a window of the material, starting on a frame.
        const std::vector<uint8_t>& from = wave.type == 0 ? audio.frames : audio.raw;
        const size_t step = wave.type == 0 ? 9 * 997 : 2 * 9973;
        const size_t at = (static_cast<size_t>(w) * step) % (from.size() - wave.data.size());
        std::copy(from.begin() + static_cast<std::ptrdiff_t>(at),
                  from.begin() + static_cast<std::ptrdiff_t>(at + wave.data.size()), wave.data.begin());
      } else {
        for (size_t i = 0; i < wave.data.size(); ++i) wave.data[i] = static_cast<uint8_t>(rng());
        if (wave.type == 0) {
          for (size_t f = 0; f < wave.data.size(); f += 9) {
            wave.data[f] = static_cast<uint8_t>(rng() % 0xC4) & 0xC3;
          }
        }
      }
      if (wave.type == 0) wave.book = w % 16;
      design.waves.push_back(wave);
      design.sounds.push_back({w % 8, w % 100, w, 64, 127, 0});
      inst.sounds.push_back(w);
      if (inst.sounds.size() == 100) {
        design.instruments.push_back(inst);
        inst.sounds.clear();
      }
    }
    BankDesign bank;
    for (size_t i = 0; i < design.instruments.size(); ++i) bank.insts.push_back(static_cast<int>(i));
    design.banks = {bank};
    BuiltBank built = buildBank(design);
    RomBuilder image(kRomSize);
    for (size_t i = 0; i < kCtl; ++i) image.bytes()[i] = static_cast<uint8_t>(rng());
    placeBank(image, built, kCtl, kTbl);
    image.resize(kRomSize);
    rom = dir.file("bench.z64");
    image.save(rom);
  }
};

Fixture& fixture(bool real = false) {
  static Fixture random(false);
  if (!real) return random;
  static Fixture music(true);
  return music;
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The I/O floor of a run that wrote `sizes`: reading the ROM whole, and
// writing files of those sizes into `folder` with one plain write each.
void ioFloor(const std::string& rom, const std::string& folder, const std::vector<size_t>& sizes) {
  static std::vector<char> buffer(size_t{8} << 20, 0x5A);
  std::filesystem::create_directories(folder);
  FILE* in = std::fopen(rom.c_str(), "rb");
  while (std::fread(buffer.data(), 1, buffer.size(), in) == buffer.size()) {
  }
  std::fclose(in);
  for (size_t k = 0; k < sizes.size(); ++k) {
    FILE* out = std::fopen((folder + "/" + std::to_string(k)).c_str(), "wb");
    for (size_t left = sizes[k]; left > 0;) {
      const size_t n = std::min(left, buffer.size());
      std::fwrite(buffer.data(), 1, n, out);
      left -= n;
    }
    std::fclose(out);
  }
}

// The whole run on the benchmark ROM beside its I/O floor, in pairs, each
// into a fresh folder: the time is the run's; the counters give the
// floor's median and the run-to-floor ratio's min, median and max over the
// pairs. Arguments: decoding threads (/p), and 1 for the real-audio ROM.
void BM_WholeRunBesideFloor(benchmark::State& state) {
  Fixture& f = fixture(state.range(1) != 0);
  FILE* sink = std::fopen("/dev/null", "w");
  const std::string threads = std::to_string(state.range(0));
  std::vector<double> floors, ratios;
  std::vector<size_t> sizes;
  size_t written = 0;
  size_t floorBytes = 0;
  int pair = 0;
  const std::vector<std::string> args = {"zaft", "/q", "/p", threads, "/d", "", "/c", "0x100000",
                                         "/t", "0x200000", f.rom};
  auto runOnce = [&](const std::string& out) {
    std::vector<std::string> with = args;
    with[5] = out;
    const auto start = std::chrono::steady_clock::now();
    if (zaft::runZaft(with, sink, sink) != 0) state.SkipWithError("run failed");
    return millisecondsSince(start);
  };
  auto floorOnce = [&](const std::string& out) {
    const auto start = std::chrono::steady_clock::now();
    ioFloor(f.rom, out, sizes);
    return millisecondsSince(start);
  };
  // The sizes the floor writes: those of a first run's files.
  {
    const std::string out = f.dir.file("sizes");
    runOnce(out);
    for (const auto& e : std::filesystem::directory_iterator(out)) sizes.push_back(e.file_size());
    for (size_t size : sizes) written += size;
    std::filesystem::remove_all(out);
  }
  for (auto _ : state) {
    // Each pair starts with nothing waiting to be written back, the run and
    // the floor taking turns at going first.
    const std::string out = f.dir.file("run" + std::to_string(pair));
    const std::string floor = f.dir.file("floor" + std::to_string(pair));
    double run = 0, plain = 0;
    ::sync();
    if (pair % 2 == 0) {
      run = runOnce(out);
      ::sync();
      plain = floorOnce(floor);
    } else {
      plain = floorOnce(floor);
      ::sync();
      run = runOnce(out);
    }
    ++pair;
    state.SetIterationTime(run / 1000);
    floors.push_back(plain);
    ratios.push_back(run / plain);
    state.PauseTiming();
    floorBytes = 0;
    for (const auto& e : std::filesystem::directory_iterator(floor)) floorBytes += e.file_size();
    std::filesystem::remove_all(out);
    std::filesystem::remove_all(floor);
    state.ResumeTiming();
  }
  std::sort(floors.begin(), floors.end());
  std::sort(ratios.begin(), ratios.end());
  state.counters["files"] = static_cast<double>(sizes.size());
  state.counters["output_MiB"] = static_cast<double>(written) / (1 << 20);
  state.counters["floor_ms"] = floors[floors.size() / 2];
  state.counters["floor_MiB"] = static_cast<double>(floorBytes) / (1 << 20);
  state.counters["ratio_min"] = ratios.front();
  state.counters["ratio_med"] = ratios[ratios.size() / 2];
  state.counters["ratio_max"] = ratios.back();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (kRomSize + written)));
  std::fclose(sink);
}
BENCHMARK(BM_WholeRunBesideFloor)
    ->ArgsProduct({{1, 2}, {0, 1}})
    ->ArgNames({"threads", "real"})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(7);

// The exporters alone on the walked bank file: every WAV file, and the
// soundfont of the same waves (one file of the same PCM).
struct Walked {
  std::unique_ptr<zaft::RomImage> rom;
  zaft::BankFile bank;
  zaft::InstrumentSet set;
};

const Walked& walked() {
  static const Walked w = [] {
    Walked out;
    out.rom = zaft::openRom(fixture().rom);
    zaft::NullReporter quiet;
    zaft::WalkLimits limits;
    limits.samplesWritten = true;
    out.bank = zaft::walkBankFile(*out.rom, kCtl, limits, quiet);
    out.set = zaft::instrumentSetOf(out.bank, 1.0);
    return out;
  }();
  return w;
}

void BM_ExportWaves(benchmark::State& state) {
  const Walked& w = walked();
  const std::string out = fixture().dir.file("waves");
  std::filesystem::create_directories(out);
  zaft::NullReporter quiet;
  for (auto _ : state) {
    zaft::OutputPlan plan(w.rom->identity());
    const zaft::BankOutputs names = plan.planBankFile(out, w.set, false, true, {{"header file", "CONTROL.H", false}});
    zaft::OutputBudget budget;
    zaft::FileTarget files(budget);
    zaft::exportWaves(*w.rom, w.set, kTbl, names.waves, zaft::WavOptions{}, files, quiet);
  }
}
BENCHMARK(BM_ExportWaves)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExportSoundFont(benchmark::State& state) {
  const Walked& w = walked();
  const std::string path = fixture().dir.file("bank.sf2");
  zaft::NullReporter quiet;
  for (auto _ : state) {
    zaft::OutputBudget budget;
    zaft::FileTarget files(budget);
    std::unique_ptr<zaft::ByteSink> sink = files.open(path);
    zaft::writeSoundFont(*w.rom, w.set, kTbl, zaft::SoundFontOptions{}, *sink, quiet);
    sink->finish();
  }
  state.counters["sf2_MiB"] = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
}
BENCHMARK(BM_ExportSoundFont)->Unit(benchmark::kMillisecond)->UseRealTime();


}  // namespace
