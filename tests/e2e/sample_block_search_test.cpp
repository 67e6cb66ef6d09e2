// Finding the sample block that belongs to a bank, end to end: a block far
// from its control block, a guess that lands in the control block's zero
// padding, a block missing from the ROM, and a guess that is right.
#include <gtest/gtest.h>

#include <random>

#include "support/bank_builder.h"
#include "support/demo_rom.h"
#include "support/rom_builder.h"
#include "support/synth.h"
#include "support/test_util.h"
#include "support/vadpcm_encoder.h"

namespace zaft {
namespace {

using test::RunResult;

constexpr size_t kCtl = 0x10000;
constexpr int kRate = 22050;

struct RealBank {
  test::BuiltBank built;
  std::vector<std::vector<int16_t>> decoded;  // what each ADPCM wave decodes to
};

// Four encoded instruments, one with a pad byte (len % 9 == 1), books of 2
// and 4 predictors, laid out like a bank compiler's output.
RealBank realBank() {
  RealBank bank;
  test::BankFileDesign design;
  design.envelopes = {{0, 0, 50000, 127, 100}};
  design.keyMaps = {{0, 127, 0, 127, 60, 0}};
  const std::vector<std::vector<int16_t>> sources = {
      test::pluckedString(kRate, 220.0, 0.4, 1), test::pluckedBass(kRate, 55.0, 0.4, 2),
      test::snareDrum(kRate, 3), test::hiHat(kRate, 4)};
  test::InstrumentDesign inst;
  for (size_t w = 0; w < sources.size(); ++w) {
    test::BookDesign book = test::deriveBook(sources[w], w % 2 == 0 ? 4 : 2);
    test::AdpcmEncoding encoded = test::encodeAdpcm(sources[w], book);
    test::WaveDesign wave;
    wave.data = encoded.frames;
    if (w == 1) wave.data.push_back(0);
    wave.book = static_cast<int>(w);
    design.books.push_back(book);
    design.waves.push_back(wave);
    design.sounds.push_back({0, 0, static_cast<int>(w), 64, 127, 0});
    inst.sounds.push_back(static_cast<int>(w));
    bank.decoded.push_back(encoded.decoded);
  }
  design.instruments = {inst};
  test::BankDesign b;
  b.sampleRate = kRate;
  b.insts = {0};
  design.banks = {b};
  bank.built = test::buildBank(design);
  return bank;
}

// A 2 MiB image of random filler with the control block at kCtl, followed
// by `zeros` bytes of zero padding, and the sample block at `tbl` (0: none).
std::vector<uint8_t> romWith(const RealBank& bank, size_t zeros, size_t tbl) {
  std::mt19937 rng(11);
  test::RomBuilder rom(2 << 20);
  for (uint8_t& b : rom.bytes()) b = static_cast<uint8_t>(rng());
  rom.put(0, {0x80, 0x37, 0x12, 0x40});
  rom.put(kCtl, bank.built.ctl);
  rom.put(kCtl + bank.built.ctl.size(), std::vector<uint8_t>(zeros, 0));
  if (tbl != 0) rom.put(tbl, bank.built.tbl);
  return rom.bytes();
}

std::vector<int16_t> wavSamples(const std::string& path) {
  std::vector<uint8_t> bytes = test::readFileBytes(path);
  std::vector<int16_t> samples;
  for (size_t i = 58; i + 1 < bytes.size(); i += 2) {
    samples.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
  }
  return samples;
}

void expectWavsMatch(const RealBank& bank, const std::string& folder) {
  const char* names[] = {"A000000.WAV", "A000001.WAV", "A000002.WAV", "A000003.WAV"};
  for (size_t w = 0; w < 4; ++w) {
    std::vector<int16_t> got = wavSamples(folder + "/" + names[w]);
    std::vector<int16_t> want = bank.decoded[w];
    if (w == 1) want.resize(want.size() + 16, 0);  // the pad byte's frame decodes silence
    EXPECT_TRUE(got == want) << names[w] << ": " << got.size() << " samples, expected " << want.size();
  }
}

TEST(SampleBlockEndToEnd, FindsABlockFarFromItsControlBlock) {
  const RealBank bank = realBank();
  test::TempDir dir;
  test::writeFile(dir.file("rom.z64"), romWith(bank, 0, 0x123458));
  // The scan finds the bank but no sample block; /g searches.
  RunResult r = test::runBinary({"/q", "/g", "/d", "out", "rom.z64"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Found .tbl offset 0x123458 for the bank file at 0x010000 (100.00% of its "
                       "ADPCM frames plausible)\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\nRipping from .ctl offset 0x010000, .tbl offset 0x123458\n"), std::string::npos);
  expectWavsMatch(bank, dir.file("out"));
  // /x searches too, and the bank file's folder holds the same files.
  r = test::runBinary({"/q", "/x", "/d", "all", "rom.z64"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  expectWavsMatch(bank, dir.file("all/CTL_010000"));
  EXPECT_NE(r.err.find(".tbl 0x123458  17 records  4 .wav files  ok\n"), std::string::npos) << r.err;
}

TEST(SampleBlockEndToEnd, AGuessInTheZeroPaddingIsCaughtAndCorrected) {
  const RealBank bank = realBank();
  test::TempDir dir;
  test::writeFile(dir.file("rom.z64"), romWith(bank, 0x800, 0x40000));
  // Without /g the guess is used, and the warning says it does not fit.
  RunResult r = test::runBinary({"/q", "/d", "plain", "rom.z64"}, dir.path());
  ASSERT_EQ(r.status, 0);
  const size_t found = r.err.find("Found possible .tbl offset: 0x");
  ASSERT_NE(found, std::string::npos) << r.err;
  const std::string guess = r.err.substr(found + 30, 6);
  EXPECT_NE(r.err.find("Warning: the .tbl offset 0x" + guess + " does not fit this bank: "), std::string::npos)
      << r.err;
  // With /g the search replaces it.
  r = test::runBinary({"/q", "/g", "/d", "fixed", "rom.z64"}, dir.path());
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("The .tbl offset 0x" + guess + " does not fit the bank file at 0x010000; searching\n"
                       "Found .tbl offset 0x040000"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Warning"), std::string::npos) << r.err;
  expectWavsMatch(bank, dir.file("fixed"));
}

TEST(SampleBlockEndToEnd, AMissingBlockLeavesTheHeaderOnly) {
  const RealBank bank = realBank();
  test::TempDir dir;
  test::writeFile(dir.file("rom.z64"), romWith(bank, 0, 0));
  RunResult r = test::runBinary({"/q", "/x", "/d", "out", "rom.z64"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("No sample block fits the bank file at 0x010000; no .wav files for it\n"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("  CTL_010000  .ctl 0x010000  no .tbl (header only)  17 records  0 .wav files  ok\n"),
            std::string::npos) << r.err;
  EXPECT_TRUE(test::fileExists(dir.file("out/CTL_010000/CONTROL.H")));
  EXPECT_FALSE(test::fileExists(dir.file("out/CTL_010000/A000000.WAV")));
}

TEST(SampleBlockEndToEnd, ARightGuessNeedsNoSearch) {
  // The demo ROM is laid out like a bank compiler's output and its sample
  // blocks stand where the scan looks: no search, no warning.
  test::TempDir dir;
  test::writeFile(dir.file("demo.z64"), test::makeDemoRom());
  RunResult r = test::runBinary({"/q", "/x", "/d", "out", "demo.z64"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find("does not fit"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Found .tbl offset"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("2 bank files: 2 ok, 0 failed; 11 .wav files in all\n"), std::string::npos);
}

}  // namespace
}  // namespace zaft
