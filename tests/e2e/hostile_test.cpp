// Hostile and unlucky inputs, end to end: the tool ends cleanly, never grows
// past what the ROM can justify, and never replaces a file it wrote or the
// ROM itself.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/bank_builder.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using test::RunResult;

// A bank file at 0 whose one bank lists `instruments` instruments, packed
// 4 bytes apart so that each one's sound array overlaps the next ones, each
// claiming 32767 sounds and a book-laden wave.
std::vector<uint8_t> overlappingRom(int instruments) {
  test::RomBuilder rom;
  rom.be16(0, 0x4231).be16(2, 1).be32(4, 0x10);
  rom.be16(0x10, static_cast<uint16_t>(instruments)).be32(0x14, 22050).be32(0x18, 0);
  const size_t at = 0x1C + 4 * static_cast<size_t>(instruments);
  for (int i = 0; i < instruments; ++i) rom.be32(0x1C + 4 * static_cast<size_t>(i), static_cast<uint32_t>(at + 4 * i));
  for (int i = 0; i < instruments + 8; ++i) rom.be32(at + 4 * static_cast<size_t>(i), 0x7FFF7FFF);
  rom.resize(at + 4 * static_cast<size_t>(instruments) + 0x4000);
  return rom.bytes();
}

TEST(Hostile, OverlappingHugeCountsStayBounded) {
  test::TempDir dir;
  for (int instruments : {1000, 3000}) {
    test::writeFile(dir.file("rom.bin"), overlappingRom(instruments));
    RunResult r = test::runBinary({"/q", "/c", "0", "rom.bin"}, dir.path());
    EXPECT_TRUE(r.status == 0 || r.status == 1) << r.err;
    // Whatever the outcome, the header holds no more than the stored
    // pointers: about a million names at the most.
    if (test::fileExists(dir.file("CONTROL.H"))) {
      EXPECT_LT(std::filesystem::file_size(dir.file("CONTROL.H")), 32u << 20);
    }
  }
}

// A compressed-block header at every 16 bytes: the blocks are searched up to
// the budget, the rest said in a note, and the run ends in well under a
// second's work per MiB.
TEST(Hostile, CompressedBlockHeadersEverywhere) {
  test::RomBuilder rom(4 << 20);
  for (size_t at = 0; at + 16 <= (4u << 20); at += 16) {
    rom.put(at, {'Y', 'a', 'z', '0', 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0});
  }
  test::TempDir dir;
  test::writeFile(dir.file("rom.bin"), rom.bytes());
  const RunResult r = test::runBinary({"/q", "/x", "/d", "out", "rom.bin"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Note: compressed blocks from 0x100000 on were not searched: the ROM's "
                       "blocks hold more than 256 MiB in all\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Couldn't find .ctl file"), std::string::npos);
}

TEST(Hostile, BooksNeverStoreMoreThanSixteenPredictors) {
  // Sixty books claiming 0x7FFFFFFF predictors each in a 64 KiB ROM.
  test::BankFileDesign design;
  test::InstrumentDesign inst;
  for (int b = 0; b < 60; ++b) {
    design.books.push_back(test::simpleBook(1));
    design.books.back().npredictors = 0x7FFFFFFF;
    design.waves.push_back({0, 0, std::vector<uint8_t>(9, 0), -1, b});
    design.sounds.push_back({-1, -1, b, 0, 0, 0});
    inst.sounds.push_back(b);
  }
  design.instruments = {inst};
  test::BankDesign bank;
  bank.insts = {0};
  design.banks = {bank};
  test::RomBuilder rom(0x10000);
  test::placeBank(rom, test::buildBank(design), 0x100, 0x8000);
  test::TempDir dir;
  test::writeFile(dir.file("rom.bin"), rom.bytes());
  RunResult r = test::runBinary({"/q", "/c", "0x100", "rom.bin"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  // 60 books of at most 256 values, about 7 characters each.
  EXPECT_LT(std::filesystem::file_size(dir.file("CONTROL.H")), 200000u);
}

TEST(Hostile, UnreadableNamesAndEndlessInputEndCleanly) {
  test::TempDir dir;
  const std::string longName(300, 'a');
  RunResult r = test::runBinary({longName}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Unable to open file " + longName);
  r = test::runBinary({"/q", "/c", "0", "/dev/zero"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ROM file /dev/zero is too large (at most 134217728 bytes are supported)\n");
}

TEST(Hostile, ARefusedRunCreatesNoFolder) {
  test::TempDir dir;
  test::writeFile(dir.file("rom.bin"), std::vector<uint8_t>(64, 0));
  RunResult r = test::runBinary({"/d", "newdir", "/c", "-5", "rom.bin"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(test::fileExists(dir.file("newdir")));
}

// One ADPCM wave at bank 0, instrument 0, sound 0, and a raw one at sound 1.
std::vector<uint8_t> twoWaveRom() {
  test::BankFileDesign design;
  design.books = {test::simpleBook(1)};
  design.waves = {{0, 0, std::vector<uint8_t>(18, 0x10), -1, 0}, {1, 0, {1, 2, 3, 4}, -1, -1}};
  design.sounds = {{-1, -1, 0, 0, 0, 0}, {-1, -1, 1, 0, 0, 0}};
  test::InstrumentDesign inst;
  inst.sounds = {0, 1};
  design.instruments = {inst};
  test::BankDesign bank;
  bank.insts = {0};
  design.banks = {bank};
  test::RomBuilder rom(0x1000);
  test::placeBank(rom, test::buildBank(design), 0x100, 0x800);
  return rom.bytes();
}

TEST(Hostile, NoOutputReplacesAnotherOrTheRom) {
  test::TempDir dir;
  const std::vector<uint8_t> image = twoWaveRom();
  // The ROM is named like the first WAV file: the wave goes beside it.
  test::writeFile(dir.file("A000000.WAV"), image);
  RunResult r = test::runBinary({"/q", "/c", "0x100", "/t", "0x800", "/o", "@000001.WAV",
                                 "/j", "@000001.WAV", "A000000.WAV"}, dir.path());
  // A refused output is a failure: status 1.
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(test::readFileBytes(dir.file("A000000.WAV")) == image);
  EXPECT_EQ(r.err,
            "\nRipping from .ctl offset 0x000100, .tbl offset 0x000800\n"
            "Warning: A000000.WAV is the ROM file itself; this wave is written as A000000_1.WAV\n"
            "Refusing to write header file @000001.WAV: it would replace the .wav file "
            "@000001.WAV of this run\n"
            "Refusing to write JSON file @000001.WAV: it would replace the .wav file @000001.WAV "
            "of this run\n");
  EXPECT_EQ(test::readFileBytes(dir.file("A000000_1.WAV")).size(), 58u + 64u);
  EXPECT_EQ(test::readFileBytes(dir.file("@000001.WAV")).size(), 58u + 4u);
  // An /o value that begins with "/" is no value; the user is told.
  r = test::runBinary({"/q", "/o", test::rooted(dir.file("abs.h")), "/c", "0x100", "A000000.WAV"},
                      dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.rfind("Warning: /o takes no value that begins with \"/\" (" +
                            test::rooted(dir.file("abs.h")) +
                            "); the header keeps its default name\n", 0), 0u) << r.err;
  EXPECT_TRUE(test::fileExists(dir.file("CONTROL.H")));
}

}  // namespace
}  // namespace zaft
