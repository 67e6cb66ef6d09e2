#include "bank/sample_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "bank/records.h"
#include "bank/struct_table.h"
#include "driver/run_context.h"
#include "rom/rom_stream.h"
#include "support/bank_builder.h"
#include "support/demo_rom.h"
#include "support/rom_builder.h"

namespace zaft {
namespace {

using test::BankFileSpec;
using test::BuiltBank;
using test::RomBuilder;

// Frames as an encoder writes them: scale 0..12, a predictor index the book
// holds, random residual nibbles.
std::vector<uint8_t> encodedFrames(std::mt19937& rng, int count, int predictors) {
  std::vector<uint8_t> bytes;
  for (int f = 0; f < count; ++f) {
    const int scale = static_cast<int>(rng() % 13);
    const int index = static_cast<int>(rng() % static_cast<unsigned>(predictors));
    bytes.push_back(static_cast<uint8_t>(scale << 4 | index));
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(rng()));
  }
  return bytes;
}

struct WaveShape {
  int frames = 10;
  int predictors = 2;  // 0: a raw wave of frames * 9 bytes
  bool padByte = false;  // len % 9 == 1: an encoder's 0x00 pad after the frames
};

// One bank, one instrument with one sound per wave, laid out by the bank
// builder (children first, 8-byte records, 8-aligned wave bases).
BuiltBank buildWaves(const std::vector<WaveShape>& shapes, uint32_t seed = 1) {
  std::mt19937 rng(seed);
  BankFileSpec design;
  design.envelopes.push_back({});
  design.keyMaps.push_back({});
  test::InstrumentSpec instrument;
  for (const WaveShape& shape : shapes) {
    test::WaveSpec wave;
    if (shape.predictors == 0) {
      wave.type = 1;
      for (int i = 0; i < shape.frames * 9; ++i) wave.data.push_back(static_cast<uint8_t>(rng()));
    } else {
      design.books.push_back(test::simpleBook(shape.predictors));
      wave.book = static_cast<int>(design.books.size()) - 1;
      wave.data = encodedFrames(rng, shape.frames, shape.predictors);
      if (shape.padByte) wave.data.push_back(0x00);
    }
    design.waves.push_back(wave);
    test::SoundSpec sound;
    sound.envelope = 0;
    sound.keyMap = 0;
    sound.wave = static_cast<int>(design.waves.size()) - 1;
    design.sounds.push_back(sound);
    instrument.sounds.push_back(sound.wave);
  }
  design.instruments.push_back(instrument);
  test::BankSpec bank;
  bank.insts = {0};
  design.banks.push_back(bank);
  return test::buildBank(design);
}

std::vector<uint8_t> randomFiller(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// A ROM of random filler with the bank's blocks placed.
RomStream placedRom(const BuiltBank& bank, size_t size, size_t ctlAt, size_t tblAt,
                    uint32_t seed = 7) {
  RomBuilder rom;
  rom.bytes() = randomFiller(size, seed);
  test::placeBank(rom, bank, ctlAt, tblAt);
  return RomStream(rom.bytes());
}

std::vector<WaveProbe> probesOf(const BuiltBank& bank, const std::vector<WaveShape>& shapes) {
  std::vector<WaveProbe> waves;
  for (size_t i = 0; i < shapes.size(); ++i) {
    WaveProbe w;
    w.base = static_cast<int32_t>(bank.waveBase[i]);
    w.len = static_cast<int32_t>(shapes[i].frames * 9 + (shapes[i].padByte ? 1 : 0));
    w.type = shapes[i].predictors == 0 ? 1 : 0;
    w.predictors = shapes[i].predictors;
    waves.push_back(w);
  }
  return waves;
}

const std::vector<WaveShape> kMixedBank = {{40, 2}, {25, 4}, {60, 8}, {12, 2}, {30, 0}, {33, 4}};

// --- Validation -----------------------------------------------------------

TEST(SampleBlockValidate, RightOffsetPassesWithFullShare) {
  const BuiltBank bank = buildWaves(kMixedBank);
  const RomStream rom = placedRom(bank, 0x40000, 0x1000, 0x20000);
  const SampleBlockCheck check = validateSampleBlock(rom, probesOf(bank, kMixedBank), 0x20000);
  EXPECT_EQ(check.offset, 0x20000);
  EXPECT_EQ(check.frames, 40 + 25 + 60 + 12 + 33);  // the raw wave has no frames
  EXPECT_EQ(check.plausibleFrames, check.frames);
  EXPECT_DOUBLE_EQ(check.share(), 1.0);
  EXPECT_TRUE(check.allInside);
  EXPECT_TRUE(check.passes());
}

TEST(SampleBlockValidate, WrongOffsetFallsFarBelow) {
  const BuiltBank bank = buildWaves(kMixedBank);
  const RomStream rom = placedRom(bank, 0x40000, 0x1000, 0x20000);
  const std::vector<WaveProbe> waves = probesOf(bank, kMixedBank);
  for (int64_t offset : {0x20000 + 8, 0x20000 - 16, 0x1000, 0x30000}) {
    const SampleBlockCheck check = validateSampleBlock(rom, waves, offset);
    EXPECT_TRUE(check.allInside) << offset;
    EXPECT_LT(check.share(), 0.9) << offset;
    EXPECT_FALSE(check.passes()) << offset;
  }
}

TEST(SampleBlockValidate, WaveOutsideTheRomFails) {
  const std::vector<WaveShape> shapes = {{20, 2}, {20, 4}};
  const BuiltBank bank = buildWaves(shapes);
  std::vector<WaveProbe> waves = probesOf(bank, shapes);

  // The block placed so that the second wave's last 9 bytes are cut off:
  // their one frame is counted as implausible without being read.
  const size_t size = 0x10000;
  const size_t cut = size - (waves[1].base + waves[1].len) + 9;
  RomBuilder builder;
  builder.bytes() = randomFiller(size, 6);
  builder.put(cut, bank.tbl).truncate(size);
  const RomStream rom(builder.bytes());
  SampleBlockCheck check = validateSampleBlock(rom, waves, static_cast<int64_t>(cut));
  EXPECT_FALSE(check.allInside);
  EXPECT_FALSE(check.passes());
  EXPECT_EQ(check.frames, 40);
  EXPECT_EQ(check.plausibleFrames, 39);

  // Before the ROM's start, and absurdly far away.
  for (int64_t offset : {int64_t{-16}, int64_t{-1} << 40, int64_t{1} << 62,
                         std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min()}) {
    check = validateSampleBlock(rom, waves, offset);
    EXPECT_FALSE(check.allInside) << offset;
    EXPECT_FALSE(check.passes()) << offset;
  }
  check = validateSampleBlock(rom, waves, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(check.plausibleFrames, 0);

  // A raw wave outside counts too, and a wave of len 0 or less has no place.
  waves = {{0, 100, 1, 0, 0}, {0x7FFFFF00, 0, 0, 2, 0}, {-5000, -9, 0, 2, 0}};
  EXPECT_FALSE(validateSampleBlock(rom, waves, rom.size() - 50).allInside);
  EXPECT_TRUE(validateSampleBlock(rom, waves, rom.size() - 100).allInside);
}

TEST(SampleBlockValidate, PadFramesOfLenModNineOneArePlausibleAndBlank) {
  const std::vector<WaveShape> shapes = {{15, 2, true}, {7, 4, true}, {9, 8, false}};
  const BuiltBank bank = buildWaves(shapes);
  const RomStream rom = placedRom(bank, 0x10000, 0x100, 0x4000);
  const std::vector<WaveProbe> waves = probesOf(bank, shapes);
  EXPECT_EQ(waves[0].len % 9, 1);
  const SampleBlockCheck check = validateSampleBlock(rom, waves, 0x4000);
  EXPECT_EQ(check.frames, 16 + 8 + 9);
  EXPECT_EQ(check.plausibleFrames, check.frames);
  // The pad frame holds one byte of the wave, 0x00: nothing else is its own.
  EXPECT_EQ(check.blankFrames, 2);
  EXPECT_TRUE(check.passes());

  // A pad byte other than 0x00, even a plausible header, is not a pad.
  RomBuilder builder;
  builder.bytes() = randomFiller(0x10000, 7);
  test::placeBank(builder, bank, 0x100, 0x4000);
  builder.u8(0x4000 + bank.waveBase[0] + 15 * 9, 0x01);
  const SampleBlockCheck badPad = validateSampleBlock(RomStream(builder.bytes()), waves, 0x4000);
  EXPECT_EQ(badPad.plausibleFrames, check.frames - 1);
  EXPECT_EQ(badPad.blankFrames, 1);
}

TEST(SampleBlockValidate, HeadersAreJudgedAgainstEachWavesBook) {
  const std::vector<WaveShape> shapes = {{30, 2}, {30, 4}, {30, 8}};
  const BuiltBank bank = buildWaves(shapes);
  RomBuilder builder;
  builder.bytes() = randomFiller(0x10000, 3);
  test::placeBank(builder, bank, 0x100, 0x4000);
  const std::vector<WaveProbe> waves = probesOf(bank, shapes);
  // Each wave's first header names the first predictor its book lacks, its
  // second header has scale 13; the highest index the book holds passes.
  for (size_t i = 0; i < 3; ++i) {
    const size_t at = 0x4000 + bank.waveBase[i];
    builder.u8(at, static_cast<uint8_t>(0x30 | shapes[i].predictors));
    builder.u8(at + 9, 0xD0);
    builder.u8(at + 18, static_cast<uint8_t>(0xC0 | (shapes[i].predictors - 1)));
  }
  const RomStream rom(builder.bytes());
  SampleBlockCheck check = validateSampleBlock(rom, waves, 0x4000);
  EXPECT_EQ(check.frames, 90);
  EXPECT_EQ(check.plausibleFrames, 84);
  EXPECT_FALSE(check.passes());  // 84 / 90 is below 99 %

  // A bigger book accepts the index the smaller one refused.
  std::vector<WaveProbe> bigger = waves;
  for (WaveProbe& w : bigger) w.predictors = 16;
  EXPECT_EQ(validateSampleBlock(rom, bigger, 0x4000).plausibleFrames, 87);
  // A wave without a book has nothing to judge its frames by.
  std::vector<WaveProbe> bookless = waves;
  bookless[0].predictors = 0;
  check = validateSampleBlock(rom, bookless, 0x4000);
  EXPECT_EQ(check.frames, 60);
  EXPECT_EQ(check.plausibleFrames, 56);
}

TEST(SampleBlockValidate, NinetyNinePercentIsTheLine) {
  SampleBlockCheck check;
  check.frames = 1000;
  check.plausibleFrames = 990;
  EXPECT_TRUE(check.passes());
  check.plausibleFrames = 989;
  EXPECT_FALSE(check.passes());
  check.plausibleFrames = 1000;
  check.allInside = false;
  EXPECT_FALSE(check.passes());
}

TEST(SampleBlockValidate, ZerosAlonePassNothing) {
  // Zero padding has plausible headers everywhere, but no frame carries sound.
  const std::vector<WaveShape> shapes = {{20, 2}, {20, 4}};
  const BuiltBank bank = buildWaves(shapes);
  const RomStream rom = placedRom(bank, 0x10000, 0x100, 0x4000);
  std::vector<uint8_t> zeros(0x10000, 0);
  const RomStream empty(zeros);
  const SampleBlockCheck check = validateSampleBlock(empty, probesOf(bank, shapes), 0x4000);
  EXPECT_DOUBLE_EQ(check.share(), 1.0);
  EXPECT_EQ(check.blankFrames, check.frames);
  EXPECT_EQ(check.soundFrames(), 0);
  EXPECT_FALSE(check.passes());

  // At least a quarter of the frames must carry sound.
  std::vector<uint8_t> bytes(0x100, 0);
  bytes[0] = 0x21;
  bytes[9 + 5] = 0x70;
  const std::vector<WaveProbe> wave = {{0, 8 * 9, 0, 2, 1}};
  EXPECT_TRUE(validateSampleBlock(RomStream(bytes), wave, 0).passes());
  bytes[9 + 5] = 0;
  const SampleBlockCheck oneInEight = validateSampleBlock(RomStream(bytes), wave, 0);
  EXPECT_EQ(oneInEight.soundFrames(), 1);
  EXPECT_DOUBLE_EQ(oneInEight.share(), 1.0);
  EXPECT_FALSE(oneInEight.passes());
}

TEST(SampleBlockValidate, BanksWithoutFramesPassWhenInside) {
  const RomStream rom(std::vector<uint8_t>(0x1000, 0x55));
  EXPECT_TRUE(validateSampleBlock(rom, {}, 0).passes());
  EXPECT_TRUE(validateSampleBlock(rom, {}, 0x7FFFFFFF).passes());
  const std::vector<WaveProbe> rawOnly = {{0, 0x800, 1, 0, 1}, {0x800, 0x100, 1, 0, 2}};
  const SampleBlockCheck inside = validateSampleBlock(rom, rawOnly, 0x100);
  EXPECT_EQ(inside.frames, 0);
  EXPECT_TRUE(inside.passes());
  EXPECT_FALSE(validateSampleBlock(rom, rawOnly, 0x800).passes());
  // Types other than 0 and 1 place no samples.
  EXPECT_TRUE(validateSampleBlock(rom, {{0, 0x10000, 2, 4, 1}}, 0).passes());
}

TEST(SampleBlockValidate, SharedSamplesCountForEveryWaveTable) {
  const std::vector<WaveShape> shapes = {{20, 4}};
  const BuiltBank bank = buildWaves(shapes);
  const RomStream rom = placedRom(bank, 0x10000, 0x100, 0x4000);
  std::vector<WaveProbe> waves = probesOf(bank, shapes);
  waves.push_back(waves[0]);
  waves.push_back(waves[0]);
  waves[2].predictors = 2;  // same samples, another book
  const SampleBlockCheck check = validateSampleBlock(rom, waves, 0x4000);
  EXPECT_EQ(check.frames, 60);
  EXPECT_EQ(check.plausibleFrames,
            40 + validateSampleBlock(rom, {waves[2]}, 0x4000).plausibleFrames);
}

// --- Ranking --------------------------------------------------------------

SampleBlockCheck checkOf(int64_t offset, int64_t frames, int64_t plausible, int64_t blank) {
  SampleBlockCheck c;
  c.offset = offset;
  c.frames = frames;
  c.plausibleFrames = plausible;
  c.blankFrames = blank;
  return c;
}

TEST(SampleBlockRank, ShareThenSoundThenBoundaryThenLowerOffset) {
  // Share first, even against more sound.
  EXPECT_TRUE(betterSampleBlock(checkOf(0x9000, 1000, 1000, 500), checkOf(0x100, 1000, 999, 0)));
  // Equal shares: the one whose frames carry sound, not zero padding.
  EXPECT_TRUE(betterSampleBlock(checkOf(0x9000, 1000, 1000, 10), checkOf(0x100, 1000, 1000, 11)));
  // Then an 8-byte boundary, then the lower offset.
  EXPECT_TRUE(betterSampleBlock(checkOf(0x9008, 1000, 1000, 0), checkOf(0x100A, 1000, 1000, 0)));
  EXPECT_TRUE(betterSampleBlock(checkOf(0x1008, 1000, 1000, 0), checkOf(0x9000, 1000, 1000, 0)));
  EXPECT_FALSE(betterSampleBlock(checkOf(0x1008, 1000, 1000, 0), checkOf(0x1008, 1000, 1000, 0)));
}

// --- Search ---------------------------------------------------------------

TEST(SampleBlockSearch, FindsABlockFarFromItsControlBlock) {
  const BuiltBank bank = buildWaves(kMixedBank);
  RomStream rom = placedRom(bank, 0x400000, 0x1000, 0x3A0010);
  RunSettings settings;
  settings.ctlOffset = 0x1000;
  const std::vector<WaveProbe> waves = probeBankFile(rom, settings);
  ASSERT_EQ(waves.size(), kMixedBank.size());
  const std::optional<SampleBlockCheck> found = searchSampleBlock(rom, waves);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->offset, 0x3A0010);
  EXPECT_DOUBLE_EQ(found->share(), 1.0);
  EXPECT_TRUE(found->passes());
}

TEST(SampleBlockSearch, PrefersTheRealBlockOverZeroPadding) {
  // The control block, zero padding, then the sample block: a guess inside
  // the control block fails, and the search finds the block. A zero region
  // bigger than the whole block lies elsewhere in the ROM as well.
  const std::vector<WaveShape> shapes = {{40, 2}, {25, 4}, {60, 8}, {3, 2, true}};
  const BuiltBank bank = buildWaves(shapes);
  const size_t ctlAt = 0x20000;
  const size_t tblAt = ctlAt + bank.ctl.size() + 0x180;
  RomBuilder builder;
  builder.bytes() = randomFiller(0x100000, 11);
  std::fill(builder.bytes().begin() + 0x40000, builder.bytes().begin() + 0x80000, 0);
  std::fill(builder.bytes().begin() + ctlAt, builder.bytes().begin() + tblAt, 0);
  test::placeBank(builder, bank, ctlAt, tblAt);
  const RomStream rom(builder.bytes());
  const std::vector<WaveProbe> waves = probesOf(bank, shapes);

  const SampleBlockCheck guess = validateSampleBlock(rom, waves, ctlAt + 0x30);
  EXPECT_FALSE(guess.passes());
  const SampleBlockCheck inZeros = validateSampleBlock(rom, waves, 0x50000);
  EXPECT_DOUBLE_EQ(inZeros.share(), 1.0);
  EXPECT_FALSE(inZeros.passes());

  const std::optional<SampleBlockCheck> found = searchSampleBlock(rom, waves);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->offset, static_cast<int64_t>(tblAt));
  EXPECT_EQ(found->plausibleFrames, found->frames);
}

TEST(SampleBlockSearch, MissingBlockFindsNothing) {
  const BuiltBank bank = buildWaves(kMixedBank);
  RomBuilder builder;
  builder.bytes() = randomFiller(0x200000, 5);
  std::fill(builder.bytes().begin() + 0x100000, builder.bytes().begin() + 0x180000, 0);
  builder.put(0x1000, bank.ctl);
  const RomStream rom(builder.bytes());
  // The zero region is far bigger than the block: offsets that put most
  // waves on zeros and a few frames on the filler beyond are not taken.
  EXPECT_FALSE(searchSampleBlock(rom, probesOf(bank, kMixedBank)).has_value());
  // A block too big for the ROM has no place at all.
  std::vector<WaveProbe> huge = probesOf(bank, kMixedBank);
  huge[0].len = 0x7FFFFFFF;
  EXPECT_FALSE(searchSampleBlock(rom, huge).has_value());
  EXPECT_FALSE(searchSampleBlock(RomStream(), probesOf(bank, kMixedBank)).has_value());
}

TEST(SampleBlockSearch, NothingToJudgeFindsNothing) {
  const RomStream rom(randomFiller(0x10000, 2));
  EXPECT_FALSE(searchSampleBlock(rom, {}).has_value());
  EXPECT_FALSE(searchSampleBlock(rom, {{0, 0x900, 1, 0, 1}}).has_value());
  EXPECT_FALSE(searchSampleBlock(rom, {{0, 0x900, 0, 0, 1}}).has_value());  // no book
}

TEST(SampleBlockSearch, TwoCopiesGiveTheLowerOneOnAnEightByteBoundary) {
  const BuiltBank bank = buildWaves(kMixedBank);
  RomBuilder builder;
  builder.bytes() = randomFiller(0x100000, 9);
  builder.put(0x10006, bank.tbl);  // not on an 8-byte boundary
  builder.put(0x60000, bank.tbl);
  builder.put(0x90000, bank.tbl);
  const RomStream rom(builder.bytes());
  const std::optional<SampleBlockCheck> found = searchSampleBlock(rom, probesOf(bank, kMixedBank));
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->offset, 0x60000);
}

TEST(SampleBlockSearch, NegativeBasesAndBlocksAtTheRomsEnds) {
  const std::vector<WaveShape> shapes = {{30, 4}, {30, 2}};
  const BuiltBank bank = buildWaves(shapes);
  std::vector<WaveProbe> waves = probesOf(bank, shapes);
  // The block flush with the ROM's end.
  RomBuilder builder;
  builder.bytes() = randomFiller(0x20000, 4);
  const size_t end = 0x20000 - (waves[1].base + waves[1].len);
  builder.put(end, bank.tbl);
  builder.truncate(0x20000);
  std::optional<SampleBlockCheck> found = searchSampleBlock(RomStream(builder.bytes()), waves);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->offset, static_cast<int64_t>(end));
  // Bases measured from a point 0x1000 bytes past the block's start: the
  // block itself starts at offset 0 and the offset found is 0x1000.
  builder.bytes() = randomFiller(0x20000, 4);
  builder.put(0, bank.tbl);
  for (WaveProbe& w : waves) w.base -= 0x1000;
  found = searchSampleBlock(RomStream(builder.bytes()), waves);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->offset, 0x1000);
}

TEST(SampleBlockSearch, OneLongWaveIsNotShiftedByWholeFrames) {
  // A single wave with a 16-predictor book, with plausible frames on the
  // same 9-byte grid both before it and after it: 8 frames earlier or later
  // the headers fit as well, but the pad byte does not.
  const std::vector<WaveShape> shapes = {{400, 16, true}};
  const BuiltBank bank = buildWaves(shapes, 3);
  const size_t tblAt = 0x40000;
  const size_t end = tblAt + 400 * 9 + 1;
  std::mt19937 rng(5);
  RomBuilder builder;
  builder.bytes() = randomFiller(0x80000, 12);
  builder.put(tblAt - 16 * 9, encodedFrames(rng, 16, 16));
  builder.put(tblAt, bank.tbl);
  builder.put(end, std::vector<uint8_t>(8, 0x33));
  builder.put(end + 8, encodedFrames(rng, 16, 16));
  const RomStream rom(builder.bytes());
  const std::vector<WaveProbe> waves = probesOf(bank, shapes);
  for (int64_t shift : {-144, -72, 72, 144}) {
    const SampleBlockCheck shifted = validateSampleBlock(rom, waves, tblAt + shift);
    EXPECT_EQ(shifted.plausibleFrames, shifted.frames - 1) << shift;
  }
  const std::optional<SampleBlockCheck> found = searchSampleBlock(rom, waves);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->offset, static_cast<int64_t>(tblAt));
}

TEST(SampleBlockSearch, TinyBankStillEndsWithAPassingOffset) {
  // One frame of a 16-predictor book fits almost anywhere: the search stays
  // bounded and gives back an offset that passes.
  const RomStream rom(randomFiller(0x100000, 8));
  const std::optional<SampleBlockCheck> found = searchSampleBlock(rom, {{0, 9, 0, 16, 1}});
  ASSERT_TRUE(found.has_value());
  EXPECT_TRUE(found->passes());
  EXPECT_EQ(found->offset % 8, 0);
}

TEST(SampleBlockSearch, SameAsValidatingEveryOffset) {
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
        bytes[i] = kind == 0 ? 0
                   : kind == 1 ? static_cast<uint8_t>(rng())
                   : (i - at) % 9 == 0 ? static_cast<uint8_t>((rng() % 13) << 4 | rng() % 2)
                                        : static_cast<uint8_t>(rng());
      }
      at += run;
    }
    std::vector<WaveProbe> waves;
    const int count = 1 + static_cast<int>(rng() % 4);
    int32_t base = static_cast<int32_t>(rng() % 64) - 32;
    for (int i = 0; i < count; ++i) {
      WaveProbe w;
      w.base = base;
      w.len = static_cast<int32_t>(1 + rng() % 180);
      w.type = rng() % 6 == 0 ? 1 : 0;
      w.predictors = static_cast<int32_t>(rng() % 5 == 0 ? 0 : 1 + rng() % 16);
      if (rng() % 8 == 0) w.len = -w.len;
      waves.push_back(w);
      base += static_cast<int32_t>(rng() % 200) - 20;
    }
    const RomStream rom(bytes);
    std::optional<SampleBlockCheck> brute;
    for (int64_t offset = 0; offset < static_cast<int64_t>(size) + 64; offset += 2) {
      const SampleBlockCheck check = validateSampleBlock(rom, waves, offset);
      if (check.frames == 0 || check.frames >= 100 || !check.passes()) continue;
      if (!brute || betterSampleBlock(check, *brute)) brute = check;
    }
    const std::optional<SampleBlockCheck> searched = searchSampleBlock(rom, waves);
    const int64_t judged = validateSampleBlock(rom, waves, 0).frames;
    if (judged >= 100) continue;
    ASSERT_EQ(searched.has_value(), brute.has_value()) << round;
    if (!brute) continue;
    ++found;
    EXPECT_EQ(searched->offset, brute->offset) << round;
    EXPECT_EQ(searched->plausibleFrames, brute->plausibleFrames) << round;
    EXPECT_EQ(searched->blankFrames, brute->blankFrames) << round;
  }
  EXPECT_GT(found, 50);
}

TEST(SampleBlockSearch, DemoRomBanksOfEncodedInstruments) {
  // Real encoder output (books fitted to synthesized instruments), placed in
  // filler that looks like code and data.
  const test::DemoRom demo = test::buildDemoRom();
  RomStream rom(demo.bytes);
  for (const test::DemoBankFile& file : demo.bankFiles) {
    RunSettings settings;
    settings.ctlOffset = static_cast<int32_t>(file.ctlOffset);
    const std::vector<WaveProbe> waves = probeBankFile(rom, settings);
    ASSERT_FALSE(waves.empty());
    const SampleBlockCheck check =
        validateSampleBlock(rom, waves, static_cast<int64_t>(file.tblOffset));
    EXPECT_TRUE(check.passes());
    EXPECT_EQ(check.plausibleFrames, check.frames);
    const std::optional<SampleBlockCheck> found = searchSampleBlock(rom, waves);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->offset, static_cast<int64_t>(file.tblOffset));
  }
}

// --- Probe walk -----------------------------------------------------------

RunSettings settingsAt(int32_t ctlOffset) {
  RunSettings s;
  s.ctlOffset = ctlOffset;
  s.tblOffset = 0x40;
  s.tblGiven = 1;  // the probe never writes WAV files whatever this says
  return s;
}

TEST(SampleBlockProbe, GivesTheWavesInEntryOrderAndPrintsNothing) {
  const BuiltBank bank = buildWaves(kMixedBank);
  RomStream rom = placedRom(bank, 0x20000, 0x2000, 0x8000);
  rom.position = 0x1234;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const std::vector<WaveProbe> waves = probeBankFile(rom, settingsAt(0x2000));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(rom.position, 0x1234);

  ASSERT_EQ(waves.size(), kMixedBank.size());
  const std::vector<WaveProbe> expected = probesOf(bank, kMixedBank);
  int32_t lastEntry = 0;
  for (size_t i = 0; i < waves.size(); ++i) {
    EXPECT_EQ(waves[i].base, expected[i].base) << i;
    EXPECT_EQ(waves[i].len, expected[i].len) << i;
    EXPECT_EQ(waves[i].type, expected[i].type) << i;
    EXPECT_EQ(waves[i].predictors, expected[i].predictors) << i;
    EXPECT_GT(waves[i].entry, lastEntry) << i;
    lastEntry = waves[i].entry;
  }
  EXPECT_TRUE(validateSampleBlock(rom, waves, 0x8000).passes());
}

TEST(SampleBlockProbe, BogusPointerGivesWhatWasRead) {
  const BuiltBank bank = buildWaves(kMixedBank);
  const size_t ctlAt = 0x2000;
  const std::vector<WaveProbe> all = probesOf(bank, kMixedBank);

  // The third sound's wave table pointer leads before the ROM's start: the
  // first two waves were read.
  RomBuilder builder;
  builder.bytes() = randomFiller(0x20000, 1);
  test::placeBank(builder, bank, ctlAt, 0x8000);
  builder.rawPtr(ctlAt + bank.soundAt[2] + 8, 0xF0000000);
  RomStream rom(builder.bytes());
  std::vector<WaveProbe> waves = probeBankFile(rom, settingsAt(static_cast<int32_t>(ctlAt)));
  ASSERT_EQ(waves.size(), 2u);
  EXPECT_EQ(waves[1].base, all[1].base);

  // The third wave's book pointer is bogus: that wave table was entered but
  // never finished, and is left out.
  builder.bytes() = randomFiller(0x20000, 1);
  test::placeBank(builder, bank, ctlAt, 0x8000);
  builder.rawPtr(ctlAt + bank.waveAt[2] + 16, 0xF0000000);
  rom = RomStream(builder.bytes());
  waves = probeBankFile(rom, settingsAt(static_cast<int32_t>(ctlAt)));
  ASSERT_EQ(waves.size(), 2u);

  // The same with its loop pointer, and with the raw wave's loop.
  builder.bytes() = randomFiller(0x20000, 1);
  test::placeBank(builder, bank, ctlAt, 0x8000);
  builder.rawPtr(ctlAt + bank.waveAt[4] + 12, 0xF0000000);
  rom = RomStream(builder.bytes());
  waves = probeBankFile(rom, settingsAt(static_cast<int32_t>(ctlAt)));
  ASSERT_EQ(waves.size(), 4u);
  EXPECT_EQ(waves[3].base, all[3].base);
}

TEST(SampleBlockProbe, WrongRevisionGivesNoWaves) {
  const BuiltBank bank = buildWaves(kMixedBank);
  RomBuilder builder;
  builder.bytes() = randomFiller(0x20000, 1);
  test::placeBank(builder, bank, 0x2000, 0x8000);
  builder.be16(0x2000, 0x4232);
  RomStream rom(builder.bytes());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(probeBankFile(rom, settingsAt(0x2000)).empty());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  // No bank file at all: past the ROM's end, before its start.
  EXPECT_TRUE(probeBankFile(rom, settingsAt(0x7FFFFFF0)).empty());
  EXPECT_TRUE(probeBankFile(rom, settingsAt(-16)).empty());
  RomStream empty;
  EXPECT_TRUE(probeBankFile(empty, settingsAt(0)).empty());
}

TEST(SampleBlockProbe, CollectsRawAndBooklessWaves) {
  RunContext ctx;
  enterNullStruct(ctx);
  auto add = [&](StructKind kind) -> StructEntry& {
    StructEntry& e = ctx.table.append(static_cast<uint32_t>(ctx.table.size() * 0x20));
    e.kind = kind;
    return e;
  };
  StructEntry& book = add(StructKind::AdpcmBook);
  ALADPCMBook b;
  b.npredictors = 100;  // a claim; 3 predictors are stored
  b.predictors.assign(3 * kCoefficientsPerPredictor, 0);
  book.data = b;
  const int32_t bookIndex = ctx.table.size() - 1;
  StructEntry& raw = add(StructKind::WaveTable);
  ALWaveTable r;
  r.type = 1;
  r.base = 0x10;
  r.len = 0x20;
  raw.data = r;
  StructEntry& adpcm = add(StructKind::WaveTable);
  ALWaveTable a;
  a.len = 0x90;
  a.waveInfo.adpcmWave.book = bookIndex;
  adpcm.data = a;
  StructEntry& lost = add(StructKind::WaveTable);
  ALWaveTable l;
  l.waveInfo.adpcmWave.book = 1 + bookIndex;  // not a book
  lost.data = l;

  const std::vector<WaveProbe> waves = collectWaves(ctx);
  ASSERT_EQ(waves.size(), 3u);
  EXPECT_EQ(waves[0].type, 1);
  EXPECT_EQ(waves[0].predictors, 0);
  EXPECT_EQ(waves[0].entry, bookIndex + 1);
  EXPECT_EQ(waves[1].predictors, 3);
  EXPECT_EQ(waves[2].predictors, 0);
}

}  // namespace
}  // namespace zaft
