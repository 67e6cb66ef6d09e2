// The sample block search over a 64 MiB ROM of random filler holding one bank
// of 300 ADPCM wave tables (books of 2, 4 and 8 predictors, 1 to 18 KiB of
// frames each, about 2.7 MiB in all) whose sample block lies 46 MiB away from
// its control block. Variants: a 16 MiB run of zeros in the ROM as well, every
// book of 16 predictors (the least selective headers), the block missing;
// and hard cases: 16 MiB of sparse data (one byte in 40 non-zero), a bank of
// one 900 KiB wave with a 16-predictor book, a bank of one frame (it fits
// almost anywhere), that long wave without a pad byte right after 4 MiB of
// zeros. Also the probe walk and one full validation, and the worst case
// for the search's bound: ROMs of 1.5 and 64 MiB of header look-alikes (every
// byte a plausible header for a 2-predictor book, 1 in 500 not), where
// nearly every offset fits one long wave.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "bank/sample_block.h"
#include "bank/sample_search.h"
#include "bank/libultra/walk.h"
#include "rom/rom_image.h"
#include "support/bank_builder.h"
#include "support/rom_builder.h"

namespace {

using zaft::test::BankFileDesign;
using zaft::test::BuiltBank;

constexpr size_t kRomSize = size_t{64} << 20;
constexpr size_t kCtlAt = 0x100000;
constexpr size_t kTblAt = 0x2F00000;  // 47 MiB
constexpr size_t kZerosAt = 0x800000;
constexpr size_t kZerosSize = size_t{16} << 20;
constexpr int kWaves = 300;

enum class Variant {
  Plain,
  WithZeros,
  BigBooks,
  Missing,
  Sparse,
  HugeWave,
  OneFrame,
  HugeWaveAfterZeros,
  kCount
};

BuiltBank buildBank(Variant variant) {
  const bool hugeWave = variant == Variant::HugeWave || variant == Variant::HugeWaveAfterZeros;
  const bool bigBooks = variant == Variant::BigBooks || hugeWave || variant == Variant::OneFrame;
  const int waveCount = hugeWave || variant == Variant::OneFrame ? 1 : kWaves;
  std::mt19937 rng(42);
  BankFileDesign design;
  design.envelopes.push_back({});
  design.keyMaps.push_back({});
  const int bookSizes[3] = {2, 4, 8};
  for (int b = 0; b < 3; ++b) design.books.push_back(zaft::test::simpleBook(bigBooks ? 16 : bookSizes[b]));
  zaft::test::InstrumentDesign instrument;
  for (int w = 0; w < waveCount; ++w) {
    zaft::test::WaveDesign wave;
    wave.book = static_cast<int>(rng() % 3);
    const int predictors = design.books[static_cast<size_t>(wave.book)].npredictors;
    int frames = 100 + static_cast<int>(rng() % 2000);
    if (hugeWave) frames = 100000;
    if (variant == Variant::OneFrame) frames = 1;
    for (int f = 0; f < frames; ++f) {
      const int scale = static_cast<int>(rng() % 13);
      wave.data.push_back(static_cast<uint8_t>(scale << 4 | static_cast<int>(rng() % predictors)));
      for (int i = 0; i < 8; ++i) wave.data.push_back(static_cast<uint8_t>(rng()));
    }
    const bool noPad = variant == Variant::OneFrame || variant == Variant::HugeWaveAfterZeros;
    if (w % 7 == 0 && !noPad) wave.data.push_back(0x00);  // an encoder's pad byte
    design.waves.push_back(wave);
    zaft::test::SoundDesign sound;
    sound.envelope = 0;
    sound.keyMap = 0;
    sound.wave = w;
    design.sounds.push_back(sound);
    instrument.sounds.push_back(w);
  }
  design.instruments.push_back(instrument);
  zaft::test::BankDesign bank;
  bank.insts = {0};
  design.banks.push_back(bank);
  return zaft::test::buildBank(design);
}

// What a run walks for its probes: the bank file, without messages.
std::vector<zaft::WaveProbe> probeBankFile(const zaft::RomImage& rom) {
  zaft::NullReporter quiet;
  return zaft::probesOf(zaft::walkBankFile(rom, static_cast<int32_t>(kCtlAt), zaft::WalkLimits(), quiet));
}

struct Setup {
  std::unique_ptr<zaft::RomImage> rom;
  std::vector<zaft::WaveProbe> waves;
};

const Setup& setupFor(Variant variant) {
  static std::optional<Setup> setups[static_cast<int>(Variant::kCount)];
  std::optional<Setup>& s = setups[static_cast<int>(variant)];
  if (s) return *s;
  zaft::test::RomBuilder builder;
  std::vector<uint8_t>& bytes = builder.bytes();
  bytes.resize(kRomSize);
  std::mt19937_64 rng(7);
  for (size_t i = 0; i < kRomSize; i += 8) {
    const uint64_t r = rng();
    for (size_t k = 0; k < 8; ++k) bytes[i + k] = static_cast<uint8_t>(r >> (8 * k));
  }
  if (variant == Variant::WithZeros) {
    std::fill(bytes.begin() + kZerosAt, bytes.begin() + kZerosAt + kZerosSize, 0);
  }
  if (variant == Variant::HugeWaveAfterZeros) {
    std::fill(bytes.begin() + kTblAt - kZerosSize / 4, bytes.begin() + kTblAt, 0);
  }
  if (variant == Variant::Sparse) {
    for (size_t i = kZerosAt; i < kZerosAt + kZerosSize; ++i) {
      if (rng() % 40 != 0) bytes[i] = 0;
    }
  }
  const BuiltBank bank = buildBank(variant);
  builder.put(kCtlAt, bank.ctl);
  if (variant != Variant::Missing) builder.put(kTblAt, bank.tbl);
  s.emplace();
  s->rom = std::make_unique<zaft::RomImage>(std::move(bytes));
  s->waves = probeBankFile(*s->rom);
  return *s;
}

const char* const kVariantNames[] = {"plain",    "zeros16MiB", "books16",  "missing",
                                     "sparse",   "oneLongWave", "oneFrame", "longWaveAfterZeros"};

void BM_SearchSampleBlock(benchmark::State& state) {
  const Variant variant = static_cast<Variant>(state.range(0));
  const Setup& s = setupFor(variant);
  std::optional<zaft::SampleBlockCheck> found;
  for (auto _ : state) {
    found = zaft::searchSampleBlock(*s.rom, s.waves);
    benchmark::DoNotOptimize(found);
  }
  bool right = variant == Variant::Missing ? !found.has_value()
                                           : found && found->offset == int64_t{kTblAt};
  if (variant == Variant::OneFrame) right = found && found->passes();
  if (!right) {
    std::fprintf(stderr, "%s: found %" PRId64 "\n", kVariantNames[state.range(0)],
                 found ? found->offset : int64_t{-1});
    state.SkipWithError("the search did not find the block");
  }
  state.SetLabel(kVariantNames[state.range(0)]);
  state.counters["waves"] = static_cast<double>(s.waves.size());
}
BENCHMARK(BM_SearchSampleBlock)
    ->DenseRange(0, static_cast<int>(Variant::kCount) - 1)
    ->Unit(benchmark::kMillisecond);

// One wave over a third of the ROM, a book of 2 predictors, and every byte
// a plausible non-zero header but one in 500.
void BM_SearchLookAlikes(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0)) << 10;
  std::mt19937 rng(5);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) {
    const uint32_t r = rng();
    b = r % 500 == 0 ? 0xF7 : static_cast<uint8_t>((1 + (r >> 9) % 12) << 4 | (r >> 13) % 2);
  }
  const zaft::RomImage rom(std::move(bytes));
  const std::vector<zaft::WaveProbe> waves = {
      {0, static_cast<int32_t>(size / 3 / 9 * 9), 0, 2, 1}};
  std::optional<zaft::SampleBlockCheck> found;
  for (auto _ : state) {
    found = zaft::searchSampleBlock(rom, waves);
    benchmark::DoNotOptimize(found);
  }
  if (!found || !found->passes()) state.SkipWithError("the search found nothing");
  state.counters["searchedAll"] = found && found->searchedAll ? 1 : 0;
}
BENCHMARK(BM_SearchLookAlikes)->Arg(1536)->Arg(64 << 10)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ValidateSampleBlock(benchmark::State& state) {
  const Setup& s = setupFor(Variant::Plain);
  int64_t frames = 0;
  for (auto _ : state) {
    const zaft::SampleBlockCheck check = zaft::validateSampleBlock(*s.rom, s.waves, kTblAt);
    frames = check.frames;
    benchmark::DoNotOptimize(check);
  }
  state.counters["frames"] = static_cast<double>(frames);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * frames);
}
BENCHMARK(BM_ValidateSampleBlock)->Unit(benchmark::kMicrosecond);

void BM_ProbeBankFile(benchmark::State& state) {
  const Setup& s = setupFor(Variant::Plain);
  for (auto _ : state) {
    std::vector<zaft::WaveProbe> waves = probeBankFile(*s.rom);
    benchmark::DoNotOptimize(waves);
  }
}
BENCHMARK(BM_ProbeBankFile)->Unit(benchmark::kMicrosecond);

}  // namespace
