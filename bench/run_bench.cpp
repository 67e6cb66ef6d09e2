// A whole run on a generated 64 MiB ROM: thousands of records and tens of
// MiB of ADPCM and raw samples, ripped with given offsets, beside the I/O
// floor measured in the same run (reading the ROM, writing as many bytes as
// the rip writes).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "bank/walk.h"
#include "driver/run.h"
#include "export/output_plan.h"
#include "export/sf2_export.h"
#include "export/wav_export.h"
#include "rom/rom_image.h"
#include "support/bank_builder.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace {

constexpr size_t kRomSize = size_t{64} << 20;
constexpr size_t kCtl = 0x100000;
constexpr size_t kTbl = 0x200000;

struct Fixture {
  zaft::test::TempDir dir;
  std::string rom;
  size_t outputBytes = 0;

  Fixture() {
    using namespace zaft::test;
    std::mt19937 rng(7);
    BankFileSpec design;
    design.envelopes.resize(8);
    // Sound k of each instrument plays key 10 + k alone, so every wave
    // sounds in the soundfont too.
    for (int k = 0; k < 100; ++k) {
      const uint8_t key = static_cast<uint8_t>(10 + k);
      design.keyMaps.push_back({0, 127, key, key, key, 0});
    }
    for (int b = 0; b < 16; ++b) design.books.push_back(simpleBook(4));
    const int waves = 1000;  // about 60 MiB of samples
    InstrumentSpec inst;
    for (int w = 0; w < waves; ++w) {
      WaveSpec wave;
      wave.type = w % 10 == 9 ? 1 : 0;
      wave.data.resize(wave.type == 0 ? 9 * 6000 : 60000);
      for (size_t i = 0; i < wave.data.size(); ++i) wave.data[i] = static_cast<uint8_t>(rng());
      if (wave.type == 0) {
        for (size_t f = 0; f < wave.data.size(); f += 9) wave.data[f] = static_cast<uint8_t>(rng() % 0xC4) & 0xC3;
        wave.book = w % 16;
      }
      design.waves.push_back(wave);
      design.sounds.push_back({w % 8, w % 100, w, 64, 127, 0});
      inst.sounds.push_back(w);
      if (inst.sounds.size() == 100) {
        design.instruments.push_back(inst);
        inst.sounds.clear();
      }
    }
    BankSpec bank;
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

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_WholeRun(benchmark::State& state) {
  Fixture& f = fixture();
  FILE* sink = std::fopen("/dev/null", "w");
  const std::string out = f.dir.file("out");
  for (auto _ : state) {
    int status = zaft::runZaft({"zaft", "/q", "/d", out, "/c", "0x100000", "/t", "0x200000", f.rom},
                               sink, sink);
    if (status != 0) state.SkipWithError("run failed");
  }
  size_t written = 0;
  for (const auto& e : std::filesystem::directory_iterator(out)) written += e.file_size();
  f.outputBytes = written;
  state.counters["output_MiB"] = static_cast<double>(written) / (1 << 20);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (kRomSize + written)));
  std::fclose(sink);
}
BENCHMARK(BM_WholeRun)->Unit(benchmark::kMillisecond)->UseRealTime();

// The exporters alone on the walked bank file: every WAV file, and the
// soundfont of the same waves (one file of the same PCM).
struct Walked {
  std::unique_ptr<zaft::RomImage> rom;
  zaft::BankFile bank;
};

const Walked& walked() {
  static const Walked w = [] {
    Walked out;
    out.rom = zaft::openRom(fixture().rom);
    zaft::NullReporter quiet;
    zaft::WalkLimits limits;
    limits.samplesWritten = true;
    out.bank = zaft::walkBankFile(*out.rom, kCtl, limits, quiet);
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
    const zaft::BankOutputs names = plan.planBankFile(out, w.bank, true, "CONTROL.H", "");
    zaft::OutputBudget budget;
    zaft::FileTarget files(budget);
    zaft::exportWaves(*w.rom, w.bank, kTbl, names.waves, zaft::WavOptions{}, files, quiet);
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
    zaft::writeSoundFont(*w.rom, w.bank, kTbl, zaft::SoundFontOptions{}, *sink, quiet);
    sink->finish();
  }
  state.counters["sf2_MiB"] = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
}
BENCHMARK(BM_ExportSoundFont)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: read the ROM and write as many bytes as the rip wrote, in
// 1 MiB pieces.
void BM_IoFloor(benchmark::State& state) {
  Fixture& f = fixture();
  size_t toWrite = f.outputBytes != 0 ? f.outputBytes : size_t{110} << 20;
  std::vector<char> buffer(1 << 20);
  const std::string copy = f.dir.file("floor.bin");
  for (auto _ : state) {
    FILE* in = std::fopen(f.rom.c_str(), "rb");
    while (std::fread(buffer.data(), 1, buffer.size(), in) == buffer.size()) {
    }
    std::fclose(in);
    FILE* out = std::fopen(copy.c_str(), "wb");
    for (size_t left = toWrite; left > 0;) {
      size_t n = std::min(left, buffer.size());
      std::fwrite(buffer.data(), 1, n, out);
      left -= n;
    }
    std::fclose(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (kRomSize + toWrite)));
}
BENCHMARK(BM_IoFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
