// Speed of the compressed-block decoders, in bytes of output, beside a plain
// copy of the same number of bytes, in the same run. The block holds 256 KiB
// of sound-like data (noise, silence and repeated phrases) compressed by the
// test encoder.
//
//   build-bench/zaft_bench --benchmark_filter=Decompress
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "rom/compressed_block.h"
#include "support/lz_encoder.h"

namespace {

constexpr size_t kDataBytes = 256u << 10;

std::vector<uint8_t> soundLike() {
  std::mt19937 rng(7);
  std::vector<uint8_t> data;
  while (data.size() < kDataBytes) {
    const unsigned kind = rng() % 3;
    const size_t run = 16 + rng() % 512;
    const size_t start = data.size();
    for (size_t i = 0; i < run && data.size() < kDataBytes; ++i) {
      data.push_back(kind == 0 ? static_cast<uint8_t>(rng())
                     : kind == 1 || start < 64 ? 0
                                               : data[start - 64 + i % 64]);
    }
  }
  return data;
}

const std::vector<uint8_t>& blockOf(zaft::BlockFormat format) {
  static std::vector<uint8_t> blocks[3];
  std::vector<uint8_t>& block = blocks[static_cast<int>(format)];
  if (block.empty()) block = zaft::test::compressBlock(format, soundLike());
  return block;
}

void BM_Decompress(benchmark::State& state) {
  const auto format = static_cast<zaft::BlockFormat>(state.range(0));
  const std::vector<uint8_t>& block = blockOf(format);
  for (auto _ : state) {
    const std::optional<zaft::Decompressed> d =
        zaft::decompressBlock(block.data(), static_cast<int64_t>(block.size()));
    if (!d || !d->whole()) state.SkipWithError("the block did not decode");
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kDataBytes);
  state.SetLabel(zaft::blockFormatName(format));
}
BENCHMARK(BM_Decompress)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// The floor: copying the same number of bytes into a fresh buffer.
void BM_DecompressFloorCopy(benchmark::State& state) {
  const std::vector<uint8_t> data = soundLike();
  for (auto _ : state) {
    std::vector<uint8_t> out(data.size());
    std::memcpy(out.data(), data.data(), data.size());
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kDataBytes);
}
BENCHMARK(BM_DecompressFloorCopy)->Unit(benchmark::kMicrosecond);

}  // namespace
