#include "rom/compressed_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "support/lz_encoder.h"
#include "util/endian.h"

namespace zaft {
namespace {

const BlockFormat kFormats[] = {BlockFormat::Mio0, BlockFormat::Yay0, BlockFormat::Yaz0};

// Random bytes, runs and repeated phrases: literals, short and long copies,
// and copies that overlap what they produce.
std::vector<uint8_t> sampleData(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data;
  while (data.size() < size) {
    const unsigned kind = rng() % 3;
    const size_t run = 1 + rng() % 300;
    for (size_t i = 0; i < run && data.size() < size; ++i) {
      data.push_back(kind == 0   ? static_cast<uint8_t>(rng())
                     : kind == 1 ? 0x55
                                 : data.empty() ? 1 : data[data.size() - 1 - (i % data.size()) % 7]);
    }
  }
  return data;
}

TEST(CompressedBlock, RoundTripsEveryFormat) {
  for (const BlockFormat format : kFormats) {
    for (const size_t size : {0u, 1u, 17u, 5000u, 70000u}) {
      SCOPED_TRACE(std::string(blockFormatName(format)) + " " + std::to_string(size));
      const std::vector<uint8_t> data = sampleData(size, static_cast<uint32_t>(size));
      const std::vector<uint8_t> block = test::compressBlock(format, data);
      const std::optional<Decompressed> d =
          decompressBlock(block.data(), static_cast<int64_t>(block.size()));
      ASSERT_TRUE(d.has_value());
      EXPECT_EQ(d->format, format);
      EXPECT_EQ(d->problem, "");
      EXPECT_EQ(d->bytes, data);
      if (size == 70000) {
        EXPECT_LT(block.size(), data.size() / 2);
      }
    }
  }
  const uint8_t other[16] = {'M', 'I', 'O', '1'};
  EXPECT_FALSE(decompressBlock(other, 16).has_value());
}

// Every cut and every damaged byte: the decoder reads only what it was
// given, never produces more than the declared size, and says why it
// stopped; what it produced before a cut is the data's start.
TEST(CompressedBlock, CutAndDamagedBlocksStopSafely) {
  for (const BlockFormat format : kFormats) {
    SCOPED_TRACE(blockFormatName(format));
    const std::vector<uint8_t> data = sampleData(600, 9);
    const std::vector<uint8_t> block = test::compressBlock(format, data);
    for (size_t cut = 4; cut < block.size(); ++cut) {
      const std::vector<uint8_t> part(block.begin(), block.begin() + static_cast<ptrdiff_t>(cut));
      const Decompressed d = *decompressBlock(part.data(), static_cast<int64_t>(cut));
      ASSERT_FALSE(d.whole()) << cut;
      ASSERT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), data.begin())) << cut;
    }
    for (size_t at = 4; at < block.size(); ++at) {
      std::vector<uint8_t> damaged = block;
      damaged[at] ^= 0xA5;
      const Decompressed d = *decompressBlock(damaged.data(), static_cast<int64_t>(damaged.size()));
      ASSERT_LE(static_cast<int64_t>(d.bytes.size()), d.declaredSize) << at;
      if (d.whole()) {
        ASSERT_EQ(static_cast<int64_t>(d.bytes.size()), d.declaredSize) << at;
      }
    }
  }
}

TEST(CompressedBlock, ClaimsThatCannotHoldAreRefused) {
  struct Case {
    std::vector<uint8_t> block;
    std::string problem;
  };
  std::vector<uint8_t> huge = test::compressBlock(BlockFormat::Yaz0, {1, 2, 3});
  storeBE32(huge.data() + 4, 0x01000001);
  // A first item that copies: nothing was produced to copy from.
  const std::vector<uint8_t> early = {'Y', 'a', 'z', '0', 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0,
                                      0x00, 0x10, 0x00};
  const Case cases[] = {
      {huge, "it declares 16777217 bytes, more than the 16777216 a block can hold"},
      {early, "a copy reaches before the start of the output"},
      {{'Y', 'a', 'y', '0', 0, 0}, "the block's header is cut short"},
  };
  for (const Case& c : cases) {
    const std::optional<Decompressed> d =
        decompressBlock(c.block.data(), static_cast<int64_t>(c.block.size()));
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->problem, c.problem);
  }
}

// The finder takes each format's block at a 4-byte boundary, and no magic
// whose header cannot hold (no size, streams out of order or past the end).
TEST(CompressedBlock, FinderTakesPlausibleHeadersOnly) {
  std::vector<uint8_t> rom(4096, 0xA5);
  const std::vector<uint8_t> data = sampleData(600, 7);
  const int64_t at[] = {0x100, 0x404, 0x800};
  for (size_t k = 0; k < 3; ++k) {
    const std::vector<uint8_t> block = test::compressBlock(kFormats[k], data);
    std::copy(block.begin(), block.end(), rom.begin() + at[k]);
  }
  const auto plant = [&](int64_t pos, const char* magic, uint32_t size, uint32_t a, uint32_t b) {
    std::memcpy(rom.data() + pos, magic, 4);
    storeBE32(rom.data() + pos + 4, size);
    storeBE32(rom.data() + pos + 8, a);
    storeBE32(rom.data() + pos + 12, b);
  };
  plant(0xC00, "MIO0", 0, 16, 20);          // nothing to produce
  plant(0xC40, "Yay0", 100, 40, 20);        // streams out of order
  plant(0xC80, "MIO0", 100, 16, 0x10000);   // a stream past the end
  plant(0xCC2, "Yaz0", 100, 0, 0);          // not at a 4-byte boundary
  std::memcpy(rom.data() + 0xFF8, "Yaz0", 4);  // header cut by the end
  storeBE32(rom.data() + 0xFFC, 100);
  const std::vector<FoundBlock> found = findCompressedBlocks(rom.data(), 4096);
  ASSERT_EQ(found.size(), 3u);
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(found[k].offset, at[k]);
    EXPECT_EQ(found[k].format, kFormats[k]);
    EXPECT_EQ(found[k].declaredSize, 600);
  }
}

}  // namespace
}  // namespace zaft
