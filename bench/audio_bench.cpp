// Throughput of the sample path: the ADPCM decoder alone (bytes of PCM it
// produces per second), a whole wave decoded into memory, and a whole wave
// written as a WAV file, against a plain write of the same number of bytes.
//
//   cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZAFT_BUILD_BENCH=ON
//   cmake --build build -j2 && build/zaft_bench --benchmark_filter='Decode|Write'
//
// Compare CPU times on a loaded machine: the wall time of the file
// benchmarks includes waiting for the disk.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "audio/adpcm.h"
#include "audio/samples.h"
#include "bank/instrument_set.h"
#include "export/sample_source.h"
#include "export/byte_sink.h"
#include "export/output_plan.h"
#include "export/wav_export.h"
#include "rom/rom_image.h"
#include "support/test_util.h"
#include "util/reporter.h"

namespace {

using zaft::test::randomBytes;

// A typical order-2 predictor: row 0 weighs h6 negatively, row 1 is the
// impulse response of a resonant filter.
const int16_t kPredictor[16] = {-1500, -1800, -1900, -1850, -1700, -1500, -1250, -1000,
                                3500,  4100,  4300,  4200,  3850,  3350,  2750,  2100};

void BM_DecodeHalfFrames(benchmark::State& state) {
  const size_t frames = 4096;
  const std::vector<uint8_t> data = randomBytes(frames * zaft::kAdpcmFrameBytes, 1);
  std::vector<int16_t> pcm(frames * zaft::kAdpcmFrameSamples);
  for (auto _ : state) {
    zaft::AdpcmHistory history;
    decodeAdpcmHalfFrame(history, nullptr, kPredictor, 0, nullptr);
    for (size_t f = 0; f < frames; ++f) {
      const uint8_t* frame = data.data() + f * zaft::kAdpcmFrameBytes;
      const uint8_t scale = static_cast<uint8_t>(std::min(frame[0] >> 4, 12));
      int16_t* out = pcm.data() + f * zaft::kAdpcmFrameSamples;
      decodeAdpcmHalfFrame(history, frame + 1, kPredictor, scale, out);
      decodeAdpcmHalfFrame(history, frame + 5, kPredictor, scale, out + 8);
    }
    benchmark::DoNotOptimize(pcm.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(pcm.size() * sizeof(int16_t)));
}
BENCHMARK(BM_DecodeHalfFrames);

// The vectorised kernel over the same frames, and each of its paths alone.
void kernelBenchmark(benchmark::State& state, zaft::AdpcmPath path) {
  if (!zaft::AdpcmKernel::runs(path)) {
    state.SkipWithError("this machine does not run that path");
    return;
  }
  const size_t frames = 4096;
  std::vector<uint8_t> data = randomBytes(frames * zaft::kAdpcmFrameBytes, 1);
  for (size_t f = 0; f < frames; ++f) {
    uint8_t& header = data[f * zaft::kAdpcmFrameBytes];
    header = static_cast<uint8_t>((std::min(header >> 4, 11) << 4) | (header & 1));
  }
  std::vector<int16_t> book(kPredictor, kPredictor + 16);
  book.insert(book.end(), kPredictor, kPredictor + 16);
  const zaft::AdpcmKernel kernel(book.data(), 2);
  std::vector<uint8_t> pcm(frames * zaft::kAdpcmFrameSamples * 2);
  for (auto _ : state) {
    zaft::AdpcmHistory history;
    int32_t missing = -1;
    kernel.decode(path, history, data.data(), frames, pcm.data(), missing);
    benchmark::DoNotOptimize(pcm.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(pcm.size()));
}
void BM_DecodeKernelAvx2(benchmark::State& state) { kernelBenchmark(state, zaft::AdpcmPath::Avx2); }
BENCHMARK(BM_DecodeKernelAvx2);
void BM_DecodeKernelSse2(benchmark::State& state) { kernelBenchmark(state, zaft::AdpcmPath::Sse2); }
BENCHMARK(BM_DecodeKernelSse2);
void BM_DecodeKernelScalar(benchmark::State& state) { kernelBenchmark(state, zaft::AdpcmPath::Scalar); }
BENCHMARK(BM_DecodeKernelScalar);

// The baseline of the kernel: reading the frames and storing the same bytes
// of PCM, each output a copy of an input byte pair.
void BM_MemoryPassSameBytes(benchmark::State& state) {
  const size_t frames = 4096;
  const std::vector<uint8_t> data = randomBytes(frames * zaft::kAdpcmFrameBytes, 1);
  std::vector<uint8_t> pcm(frames * zaft::kAdpcmFrameSamples * 2);
  for (auto _ : state) {
    for (size_t f = 0; f < frames; ++f) {
      const uint8_t* in = data.data() + f * zaft::kAdpcmFrameBytes;
      uint8_t* out = pcm.data() + f * zaft::kAdpcmFrameSamples * 2;
      std::memcpy(out, in, 8);
      std::memcpy(out + 8, in, 8);
      std::memcpy(out + 16, in + 1, 8);
      std::memcpy(out + 24, in + 1, 8);
    }
    benchmark::DoNotOptimize(pcm.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(pcm.size()));
}
BENCHMARK(BM_MemoryPassSameBytes);

constexpr size_t kWaveBytes = size_t{1} << 20;  // 1 MiB of ADPCM or raw samples

// A bank file holding one wave of kWaveBytes at offset 0 of the sample
// block, and the name of its file in a fresh temporary folder.
struct WaveSetup {
  explicit WaveSetup(bool adpcm)
      : rom([adpcm] {
          std::vector<uint8_t> bytes = randomBytes(kWaveBytes, 2);
          // Realistic frame headers: scales up to 11, predictors 0..3.
          if (adpcm) {
            for (size_t f = 0; f < bytes.size(); f += zaft::kAdpcmFrameBytes) bytes[f] &= 0xB3;
          }
          return bytes;
        }()) {
    coefficients.assign(kPredictor, kPredictor + 16);
    coefficients.resize(64, 1000);
    zaft::Sample sample;
    sample.record = 2;
    sample.codec = adpcm ? zaft::SampleCodec::Vadpcm : zaft::SampleCodec::Raw16;
    sample.len = static_cast<int32_t>(kWaveBytes);
    sample.hasBook = adpcm;
    if (adpcm) sample.book = {coefficients.data(), 4};
    sample.bookRecord = 1;
    sample.rate = 22050;
    set.samples = {sample};
    zaft::PlannedFile file;
    file.name = adpcm ? "A000000.WAV" : "@000000.WAV";
    file.path = dir.file(file.name);
    names = {file};
  }
  zaft::SampleLayout layout() const {
    return zaft::layoutSamples(rom, zaft::sampleSourceOf(set.samples[0], 0));
  }
  // Bytes of the file one wave gives.
  size_t fileBytes() const {
    return zaft::kWavHeaderSize + static_cast<size_t>(layout().pcmBytes());
  }

  zaft::test::TempDir dir;
  zaft::RomImage rom;
  std::vector<int16_t> coefficients;  // the book: 4 predictors
  zaft::InstrumentSet set;
  std::vector<zaft::PlannedFile> names;
};

// A wave decoded by the sample decoder into memory, a piece at a time, as
// the WAV exporter does.
void decodeWaveBenchmark(benchmark::State& state, bool adpcm) {
  WaveSetup setup(adpcm);
  const zaft::SampleLayout layout = setup.layout();
  std::vector<uint8_t> piece(zaft::ByteSink::kMaxExtend);
  for (auto _ : state) {
    zaft::SampleDecoder decoder(setup.rom, layout);
    while (decoder.read(piece.data(), piece.size()) != 0) benchmark::DoNotOptimize(piece.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * layout.pcmBytes());
}

// 1 MiB of ADPCM frames decoded to 3.6 MiB of PCM.
void BM_DecodeAdpcmWave(benchmark::State& state) { decodeWaveBenchmark(state, true); }
BENCHMARK(BM_DecodeAdpcmWave)->Unit(benchmark::kMillisecond);

// 1 MiB of raw samples converted.
void BM_DecodeRawWave(benchmark::State& state) { decodeWaveBenchmark(state, false); }
BENCHMARK(BM_DecodeRawWave)->Unit(benchmark::kMillisecond);

void writeWaveBenchmark(benchmark::State& state, bool adpcm) {
  WaveSetup setup(adpcm);
  zaft::OutputBudget unlimited;
  zaft::FileTarget files(unlimited);
  zaft::NullReporter quiet;
  for (auto _ : state) {
    const zaft::WavResult result =
        zaft::exportWaves(setup.rom, setup.set, 0, setup.names, {}, files, quiet);
    if (result.files != 1) {
      state.SkipWithError("the wave file was not written");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(setup.fileBytes()));
}

// 1 MiB of ADPCM frames decoded and written as a 3.6 MiB WAV file.
void BM_WriteAdpcmWave(benchmark::State& state) { writeWaveBenchmark(state, true); }
BENCHMARK(BM_WriteAdpcmWave)->Unit(benchmark::kMillisecond);

// 1 MiB of raw samples converted and written.
void BM_WriteRawWave(benchmark::State& state) { writeWaveBenchmark(state, false); }
BENCHMARK(BM_WriteRawWave)->Unit(benchmark::kMillisecond);

// The floor: the ADPCM wave's file size written with one fwrite, no work.
void BM_PlainWriteSameBytes(benchmark::State& state) {
  WaveSetup setup(true);
  const std::vector<uint8_t> bytes(setup.fileBytes(), 0x5A);
  const std::string path = setup.dir.file("plain.bin");
  for (auto _ : state) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
      state.SkipWithError("cannot open the output file");
      break;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_PlainWriteSameBytes)->Unit(benchmark::kMillisecond);

}  // namespace
