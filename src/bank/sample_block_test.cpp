#include "bank/sample_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "bank/libultra/walk.h"
#include "support/bank_builder.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using test::randomBytes;

struct Shape {
  int frames = 10;
  int predictors = 2;    // 0: a raw wave of frames * 9 bytes
  bool padByte = false;  // len % 9 == 1: an encoder's 0x00 after the frames
};

// One bank, one instrument with a sound per wave, laid out by the bank
// builder; `waves` are the probes a walk of it should give (entry left 0).
struct Bank {
  test::BuiltBank built;
  std::vector<WaveProbe> waves;
};

Bank buildWaves(const std::vector<Shape>& shapes) {
  std::mt19937 rng(1);
  test::BankFileDesign design;
  design.envelopes.push_back({});
  design.keyMaps.push_back({});
  design.instruments.push_back({});
  for (const Shape& shape : shapes) {
    test::WaveDesign wave;
    for (int f = 0; f < shape.frames; ++f) {
      // Frames as an encoder writes them: scale 0..12, an index the book holds.
      for (int i = 0; i < 9; ++i) wave.data.push_back(static_cast<uint8_t>(rng()));
      if (shape.predictors > 0) {
        wave.data[9 * static_cast<size_t>(f)] =
            static_cast<uint8_t>(rng() % 13 << 4 | rng() % static_cast<unsigned>(shape.predictors));
      }
    }
    if (shape.predictors == 0) {
      wave.type = 1;
    } else {
      design.books.push_back(test::simpleBook(shape.predictors));
      wave.book = static_cast<int>(design.books.size()) - 1;
      if (shape.padByte) wave.data.push_back(0x00);
    }
    design.waves.push_back(wave);
    const int index = static_cast<int>(design.waves.size()) - 1;
    design.sounds.push_back({0, 0, index});
    design.instruments[0].sounds.push_back(index);
  }
  test::BankDesign bank;
  bank.insts = {0};
  design.banks.push_back(bank);
  Bank out{test::buildBank(design), {}};
  for (size_t i = 0; i < shapes.size(); ++i) {
    out.waves.push_back({static_cast<int32_t>(out.built.waveBase[i]),
                         static_cast<int32_t>(design.waves[i].data.size()), design.waves[i].type,
                         shapes[i].predictors, 0});
  }
  return out;
}

// The bank's blocks placed in random filler.
std::vector<uint8_t> placed(const Bank& bank, size_t size, size_t ctlAt, size_t tblAt) {
  test::RomBuilder rom;
  rom.bytes() = randomBytes(size, 7);
  test::placeBank(rom, bank.built, ctlAt, tblAt);
  return rom.bytes();
}

const std::vector<Shape> kMixedBank = {{40, 2}, {25, 4}, {60, 8}, {12, 2}, {30, 0}, {33, 4}};

TEST(SampleBlockValidate, RightOffsetPassesWrongOnesFallFarBelow) {
  const Bank bank = buildWaves(kMixedBank);
  const RomImage rom(placed(bank, 0x40000, 0x1000, 0x20000));
  const SampleBlockCheck check = validateSampleBlock(rom, bank.waves, 0x20000);
  EXPECT_EQ(check.offset, 0x20000);
  EXPECT_EQ(check.frames, 40 + 25 + 60 + 12 + 33);  // the raw wave has no frames
  EXPECT_EQ(check.plausibleFrames, check.frames);
  EXPECT_DOUBLE_EQ(check.share(), 1.0);
  EXPECT_TRUE(check.allInside);
  EXPECT_TRUE(check.passes());
  for (int64_t offset : {0x20000 + 8, 0x20000 - 16, 0x1000, 0x30000}) {
    const SampleBlockCheck wrong = validateSampleBlock(rom, bank.waves, offset);
    EXPECT_TRUE(wrong.allInside) << offset;
    EXPECT_LT(wrong.share(), 0.9) << offset;
    EXPECT_FALSE(wrong.passes()) << offset;
  }
}

TEST(SampleBlockValidate, WavesOutsideTheRomFail) {
  const Bank bank = buildWaves({{20, 2}, {20, 4}});
  const WaveProbe& last = bank.waves[1];
  // The block placed so that the second wave's last 9 bytes are cut off:
  // their one frame counts as implausible without being read.
  const size_t size = 0x10000;
  const size_t cut = size - static_cast<size_t>(last.base + last.len) + 9;
  test::RomBuilder builder;
  builder.bytes() = randomBytes(size, 6);
  builder.put(cut, bank.built.tbl).truncate(size);
  const RomImage rom(builder.bytes());
  SampleBlockCheck check = validateSampleBlock(rom, bank.waves, static_cast<int64_t>(cut));
  EXPECT_FALSE(check.allInside);
  EXPECT_FALSE(check.passes());
  EXPECT_EQ(check.frames, 40);
  EXPECT_EQ(check.plausibleFrames, 39);

  // Before the ROM's start, and absurdly far away: nothing read, nothing wraps.
  for (int64_t offset : {int64_t{-16}, int64_t{-1} << 40, int64_t{1} << 62,
                         std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min()}) {
    check = validateSampleBlock(rom, bank.waves, offset);
    EXPECT_FALSE(check.allInside) << offset;
    EXPECT_FALSE(check.passes()) << offset;
    if (offset > 0) {
      EXPECT_EQ(check.plausibleFrames, 0) << offset;
    }
  }

  // A raw wave outside counts too; a wave of len 0 or less has no place.
  const std::vector<WaveProbe> waves = {{0, 100, 1, 0, 0}, {0x7FFFFF00, 0, 0, 2, 0}, {-5000, -9, 0, 2, 0}};
  EXPECT_FALSE(validateSampleBlock(rom, waves, rom.size() - 50).allInside);
  EXPECT_TRUE(validateSampleBlock(rom, waves, rom.size() - 100).allInside);
}

TEST(SampleBlockValidate, PadFrameIsPlausibleAndBlankOnlyWhenZero) {
  const Bank bank = buildWaves({{15, 2, true}, {7, 4, true}, {9, 8}});
  std::vector<uint8_t> bytes = placed(bank, 0x10000, 0x100, 0x4000);
  ASSERT_EQ(bank.waves[0].len % 9, 1);
  SampleBlockCheck check = validateSampleBlock(RomImage(bytes), bank.waves, 0x4000);
  EXPECT_EQ(check.frames, 16 + 8 + 9);
  EXPECT_EQ(check.plausibleFrames, check.frames);
  // The pad frame holds one byte of the wave, 0x00: nothing else is its own.
  EXPECT_EQ(check.blankFrames, 2);
  EXPECT_TRUE(check.passes());

  // A pad byte other than 0x00, even a plausible header, is not a pad.
  bytes[0x4000 + bank.waves[0].base + 15 * 9] = 0x01;
  check = validateSampleBlock(RomImage(bytes), bank.waves, 0x4000);
  EXPECT_EQ(check.plausibleFrames, 16 + 8 + 9 - 1);
  EXPECT_EQ(check.blankFrames, 1);
}

TEST(SampleBlockValidate, HeadersAreJudgedAgainstEachWavesBook) {
  const Bank bank = buildWaves({{30, 2}, {30, 4}, {30, 8}});
  std::vector<uint8_t> bytes = placed(bank, 0x10000, 0x100, 0x4000);
  // Each wave's first header names the first predictor its book lacks, its
  // second has scale 13; the third, the highest index the book holds, passes.
  for (const WaveProbe& w : bank.waves) {
    const size_t at = 0x4000 + static_cast<size_t>(w.base);
    bytes[at] = static_cast<uint8_t>(0x30 | w.predictors);
    bytes[at + 9] = 0xD0;
    bytes[at + 18] = static_cast<uint8_t>(0xC0 | (w.predictors - 1));
  }
  const RomImage rom(bytes);
  const SampleBlockCheck check = validateSampleBlock(rom, bank.waves, 0x4000);
  EXPECT_EQ(check.frames, 90);
  EXPECT_EQ(check.plausibleFrames, 84);
  EXPECT_FALSE(check.passes());  // 84 / 90 is below 99 %

  // A bigger book accepts the index the smaller one refused.
  std::vector<WaveProbe> bigger = bank.waves;
  for (WaveProbe& w : bigger) w.predictors = 16;
  EXPECT_EQ(validateSampleBlock(rom, bigger, 0x4000).plausibleFrames, 87);
  // A wave without a book has nothing to judge its frames by.
  std::vector<WaveProbe> bookless = bank.waves;
  bookless[0].predictors = 0;
  const SampleBlockCheck some = validateSampleBlock(rom, bookless, 0x4000);
  EXPECT_EQ(some.frames, 60);
  EXPECT_EQ(some.plausibleFrames, 56);
}

TEST(SampleBlockValidate, PassesNeedsTheShareAQuarterOfSoundAndEveryWaveInside) {
  struct Case {
    SampleBlockCheck check;  // offset, frames, plausible, blank, allInside
    bool passes;
  };
  const Case cases[] = {
      {{0, 1000, 990, 0, true}, true},  // 99 % exactly
      {{0, 1000, 989, 0, true}, false},
      {{0, 1000, 1000, 0, false}, false},
      {{0, 1000, 1000, 750, true}, true},  // a quarter carries sound
      {{0, 1000, 1000, 751, true}, false},
      {{0, 8, 8, 7, true}, false},  // one frame in eight
      {{0, 1, 1, 1, true}, false},  // blank alone
      {{0, 0, 0, 0, true}, true},   // nothing to judge
      {{0, 0, 0, 0, false}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.check.passes(), c.passes)
        << c.check.frames << " " << c.check.plausibleFrames << " " << c.check.blankFrames;
  }
}

TEST(SampleBlockValidate, BlankFramesAreThoseWhoseBytesInsideTheWaveAreZero) {
  // Zero padding has plausible headers everywhere, but no frame carries sound.
  const Bank bank = buildWaves({{20, 2}, {20, 4}});
  const SampleBlockCheck zeros =
      validateSampleBlock(RomImage(std::vector<uint8_t>(0x10000, 0)), bank.waves, 0x4000);
  EXPECT_DOUBLE_EQ(zeros.share(), 1.0);
  EXPECT_EQ(zeros.blankFrames, zeros.frames);
  EXPECT_FALSE(zeros.passes());

  // A non-zero byte anywhere inside the wave gives the frame sound; bytes
  // past the wave's end do not.
  std::vector<uint8_t> bytes(0x100, 0);
  bytes[0] = 0x21;
  bytes[9 + 5] = 0x70;
  bytes[71] = 0x55;  // just past the wave: 8 frames, the last one 8 bytes short
  const std::vector<WaveProbe> wave = {{0, 71, 0, 2, 1}};
  const SampleBlockCheck check = validateSampleBlock(RomImage(bytes), wave, 0);
  EXPECT_EQ(check.soundFrames(), 2);
  EXPECT_TRUE(check.passes());
}

TEST(SampleBlockValidate, BanksWithoutFramesPassWhenInside) {
  const RomImage rom(std::vector<uint8_t>(0x1000, 0x55));
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
  const Bank bank = buildWaves({{20, 4}});
  const RomImage rom(placed(bank, 0x10000, 0x100, 0x4000));
  std::vector<WaveProbe> waves(3, bank.waves[0]);
  waves[2].predictors = 2;  // the same samples through another book
  const SampleBlockCheck check = validateSampleBlock(rom, waves, 0x4000);
  const SampleBlockCheck other = validateSampleBlock(rom, {waves[2]}, 0x4000);
  EXPECT_LT(other.plausibleFrames, 20);
  EXPECT_EQ(check.frames, 60);
  EXPECT_EQ(check.plausibleFrames, 40 + other.plausibleFrames);
}

TEST(SampleBlockRank, ShareThenSoundThenBoundaryThenNearerThenLowerOffset) {
  auto check = [](int64_t offset, int64_t plausible, int64_t blank, int64_t distance = 0) {
    SampleBlockCheck c{offset, 1000, plausible, blank, true};
    c.distance = distance;
    return c;
  };
  // The better one first.
  const std::pair<SampleBlockCheck, SampleBlockCheck> ranked[] = {
      {check(0x9000, 1000, 500), check(0x100, 999, 0)},   // share first, even against more sound
      {check(0x9000, 1000, 10), check(0x100, 1000, 11)},  // then frames that carry sound
      {check(0x9008, 1000, 0), check(0x100A, 1000, 0)},   // then an 8-byte boundary
      {check(0x9000, 1000, 0, 8), check(0x1008, 1000, 0, 16)},  // then nearer the control block
      {check(0x1008, 1000, 0), check(0x9000, 1000, 0)},   // then the lower offset
  };
  for (const auto& [better, worse] : ranked) {
    EXPECT_TRUE(betterSampleBlock(better, worse)) << better.offset;
    EXPECT_FALSE(betterSampleBlock(worse, better)) << better.offset;
  }
  EXPECT_FALSE(betterSampleBlock(check(0x1008, 1000, 0), check(0x1008, 1000, 0)));
  // Alike is what the frames say, wherever the offsets lie.
  EXPECT_TRUE(equallyGoodSampleBlocks(check(0x9000, 1000, 0, 8), check(0x1008, 1000, 0, 16)));
  EXPECT_FALSE(equallyGoodSampleBlocks(check(0x9008, 1000, 0), check(0x100A, 1000, 0)));
}

// --- probesOf ------------------------------------------------------------

std::vector<WaveProbe> walkedProbes(const std::vector<uint8_t>& bytes, int32_t ctlOffset) {
  NullReporter quiet;
  return probesOf(walkBankFile(RomImage(bytes), ctlOffset, WalkLimits(), quiet));
}

TEST(SampleBlockProbe, GivesTheWalkedWavesInEntryOrder) {
  const Bank bank = buildWaves(kMixedBank);
  const std::vector<uint8_t> bytes = placed(bank, 0x20000, 0x2000, 0x8000);
  const std::vector<WaveProbe> waves = walkedProbes(bytes, 0x2000);
  ASSERT_EQ(waves.size(), kMixedBank.size());
  auto fields = [](const WaveProbe& w) { return std::tuple(w.base, w.len, w.type, w.predictors); };
  int32_t lastEntry = 0;
  for (size_t i = 0; i < waves.size(); ++i) {
    EXPECT_EQ(fields(waves[i]), fields(bank.waves[i])) << i;
    EXPECT_GT(waves[i].entry, lastEntry) << i;
    lastEntry = waves[i].entry;
  }
  EXPECT_TRUE(validateSampleBlock(RomImage(bytes), waves, 0x8000).passes());
}

TEST(SampleBlockProbe, ABogusPointerGivesTheWavesFinishedBeforeIt) {
  const Bank bank = buildWaves(kMixedBank);
  const test::BuiltBank& b = bank.built;
  struct Case {
    const char* what;
    uint32_t field;  // in the control block
    size_t waves;
  };
  const Case cases[] = {
      {"the third sound's wave table pointer", b.soundAt[2] + 8, 2},
      {"the third wave's loop pointer", b.waveAt[2] + 12, 2},  // entered, never finished
      {"the third wave's book pointer", b.waveAt[2] + 16, 2},
      {"the raw wave's loop pointer", b.waveAt[4] + 12, 4},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = placed(bank, 0x20000, 0x2000, 0x8000);
    test::RomBuilder rom;
    rom.bytes() = bytes;
    rom.rawPtr(0x2000 + c.field, 0xF0000000);  // before the ROM's start
    const std::vector<WaveProbe> waves = walkedProbes(rom.bytes(), 0x2000);
    ASSERT_EQ(waves.size(), c.waves) << c.what;
    EXPECT_EQ(waves.back().base, bank.waves[c.waves - 1].base) << c.what;
  }
}

TEST(SampleBlockProbe, NoBankFileGivesNoWaves) {
  const Bank bank = buildWaves(kMixedBank);
  std::vector<uint8_t> bytes = placed(bank, 0x20000, 0x2000, 0x8000);
  bytes[0x2001] = 0x32;  // revision "B2"
  EXPECT_TRUE(walkedProbes(bytes, 0x2000).empty());
  EXPECT_TRUE(walkedProbes(bytes, 0x7FFFFFF0).empty());  // past the ROM's end
  EXPECT_TRUE(walkedProbes(bytes, -16).empty());
  EXPECT_TRUE(walkedProbes({}, 0).empty());
}

TEST(SampleBlockProbe, BooksGiveTheirStoredPredictorsToAdpcmWavesOnly) {
  BankFile bank;
  auto add = [&](StructKind kind, RecordData data) {
    StructEntry& e = bank.table.append(static_cast<uint32_t>(bank.table.size() * 0x20));
    e.kind = kind;
    e.data = std::move(data);
    return bank.table.size() - 1;
  };
  ALADPCMBook book;
  book.npredictors = 100;  // a claim; 3 predictors are stored
  book.predictors.assign(3 * kCoefficientsPerPredictor, 0);
  const int32_t bookAt = add(StructKind::AdpcmBook, book);
  auto wave = [&](uint8_t type, int32_t bookIndex) {
    ALWaveTable w;
    w.type = type;
    w.base = 0x10;
    w.len = 0x90;
    w.waveInfo.adpcmWave.book = bookIndex;
    const int32_t entry = add(StructKind::WaveTable, w);
    bank.waves.push_back({entry, {}, 0, 0, 0});
  };
  wave(0, bookAt);      // 3
  wave(1, bookAt);      // raw: its union holds no book
  wave(0, bookAt + 1);  // not a book
  wave(0, 0);           // none
  wave(2, bookAt);      // a type that places no samples
  const std::vector<WaveProbe> waves = probesOf(bank);
  ASSERT_EQ(waves.size(), 5u);
  const int32_t predictors[] = {3, 0, 0, 0, 0};
  for (size_t i = 0; i < waves.size(); ++i) {
    EXPECT_EQ(waves[i].predictors, predictors[i]) << i;
    EXPECT_EQ(waves[i].entry, bookAt + 1 + static_cast<int32_t>(i)) << i;
    EXPECT_EQ(waves[i].type, bank.wave(bank.waves[i]).type) << i;
    EXPECT_EQ(waves[i].base, 0x10) << i;
    EXPECT_EQ(waves[i].len, 0x90) << i;
  }
}

}  // namespace
}  // namespace zaft
