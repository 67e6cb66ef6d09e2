// Speed of the offset-guessing scan on a 64 MiB ROM of random filler with
// three copies of the demo ROM's two bank files in it (six control-block
// candidates), against reading the same file with `cat ROM > /dev/null` and
// against one plain pass over the image in memory, all in the same run.
//
//   build-bench/zaft_bench --benchmark_filter=Scan
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bank/libultra/offset_scan.h"
#include "bank/libultra/sequence_bank.h"
#include "driver/plan_jobs.h"
#include "bank/ead/ead_files.h"
#include "rom/compressed_block.h"
#include "export/libultra/midi_export.h"
#include "support/compact_encoder.h"
#include "rom/rom_image.h"
#include "support/demo_rom.h"
#include "util/reporter.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace {

constexpr size_t kScanRomSize = 64u << 20;
constexpr size_t kCopiesAt[] = {0, 20u << 20, 44u << 20};
constexpr size_t kExpectedCandidates = 6;

struct ScanRom {
  std::vector<uint8_t> bytes;
  zaft::test::TempDir dir;
  std::string path;
};

const ScanRom& scanRom() {
  static const std::unique_ptr<ScanRom> rom = [] {
    auto r = std::make_unique<ScanRom>();
    r->bytes.resize(kScanRomSize);
    std::mt19937_64 rng(64);
    for (size_t i = 0; i < kScanRomSize; i += 8) {
      uint64_t v = rng();
      for (int k = 0; k < 8; ++k) r->bytes[i + k] = static_cast<uint8_t>(v >> (8 * k));
    }
    const std::vector<uint8_t> demo = zaft::test::makeDemoRom();
    for (size_t at : kCopiesAt) std::copy(demo.begin(), demo.end(), r->bytes.begin() + at);
    r->path = r->dir.file("scan.z64");
    zaft::test::writeFile(r->path, r->bytes);
    return r;
  }();
  return *rom;
}

FILE* devNull() {
  static FILE* file = std::fopen("/dev/null", "w");
  return file;
}

// One whole scan of `rom`, its messages written to /dev/null; the number of
// candidates it reported.
size_t runScan(const zaft::RomImage& rom, bool verbose) {
  zaft::ConsoleReporter report(devNull(), devNull(), verbose);
  return zaft::scanForBankFiles(rom, report).candidates.size();
}

// The scan alone, on the image already in memory (verbose: 16384 progress
// lines written to /dev/null; quiet: none).
void BM_ScanInMemory(benchmark::State& state) {
  zaft::RomImage rom(scanRom().bytes);
  zaft::detectByteOrder(rom);
  const bool verbose = state.range(0) != 0;
  for (auto _ : state) {
    if (runScan(rom, verbose) != kExpectedCandidates) state.SkipWithError("wrong candidates");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kScanRomSize));
}
BENCHMARK(BM_ScanInMemory)->Arg(1)->Arg(0)->ArgName("verbose")->Unit(benchmark::kMillisecond)->UseRealTime();

// What a run without /c does before it rips: load the file, recognise its
// byte order, scan.
void BM_ScanLoadAndScan(benchmark::State& state) {
  const std::string& path = scanRom().path;
  for (auto _ : state) {
    std::unique_ptr<zaft::RomImage> rom = zaft::openRom(path);
    if (!rom) {
      state.SkipWithError("cannot open");
      break;
    }
    zaft::detectByteOrder(*rom);
    if (runScan(*rom, true) != kExpectedCandidates) state.SkipWithError("wrong candidates");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kScanRomSize));
}
BENCHMARK(BM_ScanLoadAndScan)->Unit(benchmark::kMillisecond)->UseRealTime();

// The yardstick: the same file through `cat` (a process of its own, reading
// from the page cache).
void BM_ScanCatRom(benchmark::State& state) {
  const std::string command = "cat '" + scanRom().path + "' > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("cat failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kScanRomSize));
}
BENCHMARK(BM_ScanCatRom)->Unit(benchmark::kMillisecond)->UseRealTime();

// One plain pass over the image in memory: a byte of every 16, summed.
void BM_ScanMemoryPass(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = scanRom().bytes;
  for (auto _ : state) {
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 16) sum += bytes[i];
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kScanRomSize));
}
BENCHMARK(BM_ScanMemoryPass)->Unit(benchmark::kMillisecond)->UseRealTime();

// The music scan over the same ROM (the demo ROM's sequence bank in each
// of its three copies): every even offset, beside the bank-file scan above.
void BM_ScanSequenceBanks(benchmark::State& state) {
  zaft::RomImage rom(scanRom().bytes);
  zaft::NullReporter quiet;
  size_t found = 0;
  for (auto _ : state) found = zaft::scanForSequenceBanks(rom, quiet).size();
  if (found != 3) state.SkipWithError("the scan did not find the three sequence banks");
}
BENCHMARK(BM_ScanSequenceBanks)->Unit(benchmark::kMillisecond)->UseRealTime();

// The finders /x adds, each alone over the image in memory: compressed
// blocks (a word of every four bytes) and the EAD driver's file headers (a
// boundary of every 16), each beside the memory pass above.
void BM_ScanCompressedBlocks(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = scanRom().bytes;
  size_t found = 0;
  for (auto _ : state) {
    found = zaft::findCompressedBlocks(bytes.data(), static_cast<int64_t>(bytes.size())).size();
  }
  state.counters["blocks"] = static_cast<double>(found);
}
BENCHMARK(BM_ScanCompressedBlocks)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScanEadFiles(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = scanRom().bytes;
  size_t found = 0;
  for (auto _ : state) {
    found = zaft::findEadFiles(bytes.data(), static_cast<int64_t>(bytes.size())).sets.size();
  }
  state.counters["sets"] = static_cast<double>(found);
}
BENCHMARK(BM_ScanEadFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

// Everything /x does before it rips: load the file, recognise its byte
// order, and run every finder (bank files, sequence banks, EAD files,
// compressed blocks and what lies inside each) over it. The yardstick is
// `cat` above: the aim is within 1.5 times it.
void BM_ScanAllFinders(benchmark::State& state) {
  zaft::Settings s;
  s.extractAll = true;
  s.romPath = scanRom().path;
  size_t found = 0;
  for (auto _ : state) {
    std::unique_ptr<zaft::RomImage> rom = zaft::openRom(s.romPath);
    if (!rom) {
      state.SkipWithError("cannot open");
      break;
    }
    zaft::detectByteOrder(*rom);
    zaft::NullReporter quiet;
    const zaft::JobPlan plan = zaft::planJobs(s, *rom, quiet);
    found = plan.all.size() + plan.sequences.size() + plan.eadSets.size() + plan.eadSequences.size();
  }
  state.counters["finds"] = static_cast<double>(found);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kScanRomSize));
}
BENCHMARK(BM_ScanAllFinders)->Unit(benchmark::kMillisecond)->UseRealTime();

// Converting 1 MB of compact sequences: a 64 KiB song sixteen times.
void BM_CompactToMidi(benchmark::State& state) {
  zaft::test::CompactSong song;
  std::mt19937 rng(17);
  for (int t = 0; t < 8; ++t) {
    zaft::test::SongTrack track;
    for (uint32_t k = 0; k < 3000; ++k) {
      track.push_back({zaft::test::SongEvent::Kind::Note, 24 * k, static_cast<uint8_t>(0x90 | t),
                       static_cast<uint8_t>(36 + rng() % 48), static_cast<uint8_t>(40 + rng() % 80),
                       static_cast<uint32_t>(12 + rng() % 200)});
    }
    song.tracks.push_back(track);
  }
  const std::vector<uint8_t> bytes = zaft::test::compactSequence(song).bytes;
  const int copies = static_cast<int>((1 << 20) / bytes.size()) + 1;
  for (auto _ : state) {
    for (int c = 0; c < copies; ++c) {
      const zaft::MidiSequence midi = zaft::compactToMidi(bytes.data(), static_cast<int64_t>(bytes.size()));
      zaft::BlockSink sink(static_cast<size_t>(midi.fileBytes));
      zaft::writeMidi(midi, sink);
      benchmark::DoNotOptimize(sink.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * copies * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_CompactToMidi)->Unit(benchmark::kMillisecond);

}  // namespace
