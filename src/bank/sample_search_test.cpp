#include "bank/sample_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "bank/libultra/walk.h"
#include "support/demo_rom.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using test::randomBytes;

// Frames as an encoder writes them: scale 0..12, an index the book holds.
std::vector<uint8_t> encodedFrames(std::mt19937& rng, int count, int predictors) {
  std::vector<uint8_t> bytes;
  for (int f = 0; f < count; ++f) {
    bytes.push_back(static_cast<uint8_t>(rng() % 13 << 4 | rng() % static_cast<unsigned>(predictors)));
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(rng()));
  }
  return bytes;
}

struct Shape {
  int frames;
  int predictors;        // 0: a raw wave of frames * 9 bytes
  bool padByte = false;  // len % 9 == 1: an encoder's 0x00 after the frames
};

// A sample block as bank compilers lay it out (each wave at an 8-aligned
// base, zeros between), and its waves.
struct Block {
  std::vector<uint8_t> bytes;
  std::vector<WaveProbe> waves;
};

Block makeBlock(const std::vector<Shape>& shapes, uint32_t seed = 1) {
  std::mt19937 rng(seed);
  Block block;
  for (const Shape& s : shapes) {
    std::vector<uint8_t> data = s.predictors == 0 ? randomBytes(9 * static_cast<size_t>(s.frames), rng())
                                                  : encodedFrames(rng, s.frames, s.predictors);
    if (s.padByte) data.push_back(0x00);
    block.waves.push_back({static_cast<int32_t>(block.bytes.size()), static_cast<int32_t>(data.size()),
                           static_cast<uint8_t>(s.predictors == 0 ? 1 : 0), s.predictors,
                           static_cast<int32_t>(block.waves.size()) + 1});
    block.bytes.insert(block.bytes.end(), data.begin(), data.end());
    block.bytes.resize((block.bytes.size() + 7) / 8 * 8, 0);
  }
  return block;
}

// Copies as much of `data` as fits before the ROM's end.
void put(std::vector<uint8_t>& rom, size_t at, const std::vector<uint8_t>& data) {
  const size_t n = std::min(data.size(), rom.size() - at);
  std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n),
            rom.begin() + static_cast<std::ptrdiff_t>(at));
}

const std::vector<Shape> kMixedBank = {{40, 2}, {25, 4}, {60, 8}, {12, 2}, {30, 0}, {33, 4}};

TEST(SampleSearch, FindsTheBlock) {
  const Block mixed = makeBlock(kMixedBank);
  const Block padded = makeBlock({{40, 2}, {25, 4}, {60, 8}, {3, 2, true}});
  const Block two = makeBlock({{30, 4}, {30, 2}});
  const size_t twoEnd = static_cast<size_t>(two.waves[1].base + two.waves[1].len);
  struct Case {
    const char* what;
    const Block& block;
    size_t size;
    std::vector<size_t> copiesAt;
    std::vector<std::pair<size_t, size_t>> zeros;  // from, to
    int32_t baseShift;
    size_t expected;
  };
  const Case cases[] = {
      {"far from its control block", mixed, 0x400000, {0x3A0010}, {}, 0, 0x3A0010},
      {"three copies: the lowest on an 8-byte boundary", mixed, 0x100000, {0x10006, 0x60000, 0x90000},
       {}, 0, 0x60000},
      // Zero padding before the block and a zero region bigger than the
      // whole block elsewhere: plausible everywhere, but blank.
      {"after zero padding, beside a bigger zero region", padded, 0x100000, {0x20400},
       {{0x20000, 0x20400}, {0x40000, 0x80000}}, 0, 0x20400},
      {"flush with the ROM's end", two, 0x20000, {0x20000 - twoEnd}, {}, 0, 0x20000 - twoEnd},
      {"at the ROM's start, bases measured from 0x1000 past it", two, 0x20000, {0}, {}, -0x1000, 0x1000},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = randomBytes(c.size, 11);
    for (const auto& [from, to] : c.zeros) std::fill(bytes.begin() + from, bytes.begin() + to, 0);
    for (size_t at : c.copiesAt) put(bytes, at, c.block.bytes);
    std::vector<WaveProbe> waves = c.block.waves;
    for (WaveProbe& w : waves) w.base += c.baseShift;
    const std::optional<SampleBlockCheck> found = searchSampleBlock(RomImage(bytes), waves);
    ASSERT_TRUE(found.has_value()) << c.what;
    EXPECT_EQ(found->offset, static_cast<int64_t>(c.expected)) << c.what;
    EXPECT_EQ(found->plausibleFrames, found->frames) << c.what;
    EXPECT_TRUE(found->passes()) << c.what;
  }
}

TEST(SampleSearch, FindsNothingWithoutABlockOrFramesToJudge) {
  const Block mixed = makeBlock(kMixedBank);
  // Filler with a zero region far bigger than the block: offsets that put
  // most waves on zeros and a few frames on the filler beyond are not taken.
  std::vector<uint8_t> bytes = randomBytes(0x200000, 5);
  std::fill(bytes.begin() + 0x100000, bytes.begin() + 0x180000, 0);
  const RomImage rom(bytes);
  std::vector<WaveProbe> huge = mixed.waves;
  huge[0].len = 0x7FFFFFFF;  // no place in the ROM
  struct Case {
    const char* what;
    const RomImage& rom;
    std::vector<WaveProbe> waves;
  };
  const RomImage empty;
  const Case cases[] = {
      {"a missing block", rom, mixed.waves},
      {"a block too big for the ROM", rom, huge},
      {"an empty ROM", empty, mixed.waves},
      {"no waves", rom, {}},
      {"raw waves alone", rom, {{0, 0x900, 1, 0, 1}}},
      {"a wave without a book", rom, {{0, 0x900, 0, 0, 1}}},
  };
  for (const Case& c : cases) EXPECT_FALSE(searchSampleBlock(c.rom, c.waves).has_value()) << c.what;
}

TEST(SampleSearch, OneLongWaveIsNotShiftedByWholeFrames) {
  // A single wave with a 16-predictor book, with plausible frames on the
  // same 9-byte grid both before and after it: 8 frames earlier or later the
  // headers fit as well, but the pad byte does not.
  const Block block = makeBlock({{400, 16, true}}, 3);
  const size_t tblAt = 0x40000;
  const size_t end = tblAt + 400 * 9 + 1;
  std::mt19937 rng(5);
  std::vector<uint8_t> bytes = randomBytes(0x80000, 12);
  put(bytes, tblAt - 16 * 9, encodedFrames(rng, 16, 16));
  put(bytes, tblAt, block.bytes);
  put(bytes, end, std::vector<uint8_t>(8, 0x33));
  put(bytes, end + 8, encodedFrames(rng, 16, 16));
  const RomImage rom(bytes);
  for (int64_t shift : {-144, -72, 72, 144}) {
    const SampleBlockCheck shifted = validateSampleBlock(rom, block.waves, tblAt + shift);
    EXPECT_EQ(shifted.plausibleFrames, shifted.frames - 1) << shift;
  }
  const std::optional<SampleBlockCheck> found = searchSampleBlock(rom, block.waves);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->offset, static_cast<int64_t>(tblAt));
}

TEST(SampleSearch, OneFrameStillEndsWithAPassingOffsetOnAnEightByteBoundary) {
  // One frame of a 16-predictor book fits almost anywhere: the search stays
  // bounded and gives back an offset that passes.
  const RomImage rom(randomBytes(0x100000, 8));
  const std::optional<SampleBlockCheck> found =
      searchSampleBlock(rom, {{0, 9, 0, 16, 1}}, {0x80000, 0x80100});
  ASSERT_TRUE(found.has_value());
  EXPECT_TRUE(found->passes());
  EXPECT_EQ(found->offset % 8, 0);
  // Nearly every offset is alike: counted to 100, and the nearest kept.
  EXPECT_EQ(found->alike, 100);
  EXPECT_FALSE(found->alikeCounted);
  EXPECT_LE(found->distance, 0x100);
}

TEST(SampleSearch, ARomOfLookAlikesIsSearchedWithinBoundsAndSaysSo) {
  // Every byte a plausible header for 2 predictors (one in 500 not): nearly
  // every offset fits the one long wave, more than the search judges in full.
  std::mt19937 rng(5);
  std::vector<uint8_t> bytes(1 << 20);
  for (uint8_t& b : bytes) {
    const uint32_t r = rng();
    b = r % 500 == 0 ? 0xF7 : static_cast<uint8_t>((1 + (r >> 9) % 12) << 4 | (r >> 13) % 2);
  }
  const RomImage rom(bytes);
  const std::optional<SampleBlockCheck> found = searchSampleBlock(rom, {{0, 350000, 0, 2, 1}});
  ASSERT_TRUE(found.has_value());
  EXPECT_TRUE(found->passes());
  EXPECT_FALSE(found->searchedAll);
}

TEST(SampleSearch, LookAlikesGoToTheNearestToTheControlBlockAndAreCounted) {
  // A one-wave bank fits wherever 60 frames of any bank's samples lie: the
  // bytes cannot tell, so the block beside the control block wins, before
  // or after it, and the result says how many fit.
  std::vector<uint8_t> bytes(0x100000, 0);
  const Block mine = makeBlock({{60, 2}}, 7);
  const size_t places[] = {0x2000, 0x40400, 0x9F800};
  for (size_t i = 0; i < 3; ++i) put(bytes, places[i], makeBlock({{60, 2}}, 7 + 10 * i).bytes);
  const RomImage rom(std::move(bytes));
  struct Case { ControlExtent control; int64_t found; };
  const Case cases[] = {
      {{0x40000, 0x40300}, 0x40400},  // after its control block
      {{0x40700, 0x40900}, 0x40400},  // before it
      {{0xA0000, 0xA0400}, 0x9F800},
      {{0, 0}, 0x2000},  // no control block: the lowest
  };
  for (const Case& c : cases) {
    const std::optional<SampleBlockCheck> found = searchSampleBlock(rom, mine.waves, c.control);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->offset, c.found) << c.control.from;
    EXPECT_EQ(found->alike, 3);
    EXPECT_EQ(found->alikeOffsets, (std::vector<int64_t>{0x2000, 0x40400, 0x9F800}));
  }
}

TEST(SampleSearch, SameAsValidatingEveryEvenOffset) {
  // Below 100 frames a passing offset has every frame plausible, so nothing
  // the quick test skips could pass: the search must give exactly what
  // validating every even offset and keeping the best gives.
  std::mt19937 rng(2024);
  int found = 0;
  for (int round = 0; round < 300; ++round) {
    const size_t size = 512 + rng() % 3000;
    std::vector<uint8_t> bytes(size);
    // Zeros, random bytes and runs of plausible frames, so that offsets pass.
    for (size_t at = 0; at < size;) {
      const size_t run = 1 + rng() % 200;
      const unsigned kind = rng() % 3;
      for (size_t i = at; i < std::min(size, at + run); ++i) {
        bytes[i] = kind == 0                 ? 0
                   : kind == 1 || (i - at) % 9 ? static_cast<uint8_t>(rng())
                                               : static_cast<uint8_t>((rng() % 13) << 4 | rng() % 2);
      }
      at += run;
    }
    std::vector<WaveProbe> waves;
    int32_t base = static_cast<int32_t>(rng() % 64) - 32;
    for (int i = 0, count = 1 + static_cast<int>(rng() % 4); i < count; ++i) {
      WaveProbe w;
      w.base = base;
      w.len = static_cast<int32_t>(1 + rng() % 180);
      w.type = rng() % 6 == 0 ? 1 : 0;
      w.predictors = static_cast<int32_t>(rng() % 5 == 0 ? 0 : 1 + rng() % 16);
      if (rng() % 8 == 0) w.len = -w.len;
      waves.push_back(w);
      base += static_cast<int32_t>(rng() % 200) - 20;
    }
    const RomImage rom(bytes);
    if (validateSampleBlock(rom, waves, 0).frames >= 100) continue;
    std::optional<SampleBlockCheck> brute;
    for (int64_t offset = 0; offset < static_cast<int64_t>(size) + 64; offset += 2) {
      const SampleBlockCheck check = validateSampleBlock(rom, waves, offset);
      if (check.frames == 0 || !check.passes()) continue;
      if (!brute || betterSampleBlock(check, *brute)) brute = check;
    }
    const std::optional<SampleBlockCheck> searched = searchSampleBlock(rom, waves);
    ASSERT_EQ(searched.has_value(), brute.has_value()) << round;
    if (!brute) continue;
    ++found;
    EXPECT_EQ(searched->offset, brute->offset) << round;
    EXPECT_EQ(searched->plausibleFrames, brute->plausibleFrames) << round;
    EXPECT_EQ(searched->blankFrames, brute->blankFrames) << round;
  }
  EXPECT_GT(found, 50);
}

TEST(SampleSearch, DemoRomBanksOfEncodedInstruments) {
  // Real encoder output (books fitted to synthesized instruments), walked
  // from its control block, in filler that looks like code and data.
  const test::DemoRom demo = test::buildDemoRom();
  const RomImage rom(demo.bytes);
  for (const test::DemoBankFile& file : demo.bankFiles) {
    NullReporter quiet;
    const std::vector<WaveProbe> waves =
        probesOf(walkBankFile(rom, static_cast<int32_t>(file.ctlOffset), WalkLimits(), quiet));
    ASSERT_FALSE(waves.empty());
    const SampleBlockCheck check = validateSampleBlock(rom, waves, static_cast<int64_t>(file.tblOffset));
    EXPECT_TRUE(check.passes());
    EXPECT_EQ(check.plausibleFrames, check.frames);
    const std::optional<SampleBlockCheck> found = searchSampleBlock(rom, waves);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->offset, static_cast<int64_t>(file.tblOffset));
  }
}

}  // namespace
}  // namespace zaft
