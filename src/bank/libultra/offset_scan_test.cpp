#include "bank/libultra/offset_scan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using test::RomBuilder;
using Pairs = std::vector<std::pair<int32_t, int32_t>>;

const std::string kOpening =
    ".ctl offset not specified...Guessing possible values for the .ctl file.\n"
    "Press any key to abort.\n";
const std::string kBlanks = "                 ";

// 0xFF is neither the first byte of a bank file nor a plausible frame
// header, so only what a test places can be found.
constexpr uint8_t kFiller = 0xFF;

struct BankFields {
  uint16_t revision = 0x4231;
  uint16_t bankCount = 1;
  uint32_t firstBank = 0x10;
  uint16_t instCount = 5;
  uint32_t sampleRate = 22050;
  uint32_t percussion = 0;
};

void placeBankFile(RomBuilder& rom, size_t pos, const BankFields& f = BankFields()) {
  rom.be16(pos, f.revision).be16(pos + 2, f.bankCount).be32(pos + 4, f.firstBank);
  const size_t bank = pos + f.firstBank;
  rom.be16(bank, f.instCount).be16(bank + 2, 0).be32(bank + 4, f.sampleRate).be32(bank + 8, f.percussion);
}

// 16 frames whose header bytes pass (scale 0..12, predictor 0..3).
void placeFrames(RomBuilder& rom, size_t at) {
  const uint8_t headers[] = {0x00, 0x03, 0x13, 0xC3, 0x21, 0x52};
  for (size_t i = 0; i < 16; ++i) rom.u8(at + 9 * i, headers[i % 6]);
}

struct Scan {
  Pairs candidates;
  std::string out;
  std::string err;
};

Scan runScan(std::vector<uint8_t> bytes, bool verbose = true, bool detect = false) {
  RomImage rom(std::move(bytes));
  if (detect) detectByteOrder(rom);
  CollectingReporter report(verbose);
  const ScanResult result = scanForBankFiles(rom, report);
  EXPECT_FALSE(result.stoppedByKey);
  Scan scan{{}, report.outText(), report.errText()};
  for (const ScanCandidate& c : result.candidates) scan.candidates.emplace_back(c.ctlOffset, c.tblOffset.value_or(-1));
  return scan;
}

std::string found(const char* kind, unsigned offset) {
  char line[64];
  std::snprintf(line, sizeof line, "Found possible %s offset: 0x%06X\n", kind, offset);
  return line;
}

// The record at 0x1000 begins 42 31 00 01 00 00 00 10; at 0x1010 instCount 5,
// sampleRate 22050, percussion 0: the search starts at 0x1028 rounded down,
// 0x1020, and tries 16 positions up to 0x1110; the first that passes counts.
TEST(OffsetScanTest, SampleBlockTrialPositions) {
  BankFields many;  // start 0x1010 + 4 + 4 * 127 + 0x104 = 0x1314, rounded down
  many.instCount = 127;
  many.percussion = 0x104;
  struct Case {
    BankFields fields;
    std::vector<size_t> framesAt;
    int32_t tbl;
  };
  const Case cases[] = {
      {{}, {0x1020}, 0x1020},       {{}, {0x1110}, 0x1110},       {{}, {0x1120}, -1},
      {{}, {0x1028}, -1},           {{}, {0x1040, 0x1060}, 0x1040}, {many, {0x1310}, 0x1310},
      {many, {0x1300}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.framesAt[0]);
    RomBuilder rom(0x2000, kFiller);
    placeBankFile(rom, 0x1000, c.fields);
    for (size_t at : c.framesAt) placeFrames(rom, at);
    const Scan scan = runScan(rom.bytes());
    EXPECT_EQ(scan.out, "Done   0%\rDone  50%\r");
    EXPECT_EQ(scan.err, kOpening + found(".ctl", 0x1000) +
                            (c.tbl >= 0 ? found(".tbl", static_cast<unsigned>(c.tbl)) : "") + kBlanks);
    EXPECT_EQ(scan.candidates, (Pairs{{0x1000, c.tbl}}));
  }
}

TEST(OffsetScanTest, EachLimitOfBothStages) {
  struct Case {
    const char* name;
    std::function<void(BankFields&)> change;
    bool candidate;
  };
  const std::vector<Case> cases = {
      {"as given", [](BankFields&) {}, true},
      {"bankCount 0", [](BankFields& f) { f.bankCount = 0; }, true},
      {"bankCount 3", [](BankFields& f) { f.bankCount = 3; }, true},
      {"bankCount 4", [](BankFields& f) { f.bankCount = 4; }, false},
      {"bankCount -1", [](BankFields& f) { f.bankCount = 0xFFFF; }, false},
      {"bankCount 256", [](BankFields& f) { f.bankCount = 0x0100; }, false},
      {"revision B2", [](BankFields& f) { f.revision = 0x4232; }, false},
      {"revision 1B", [](BankFields& f) { f.revision = 0x3142; }, false},
      {"F 65532", [](BankFields& f) { f.firstBank = 0xFFFC; }, true},
      {"F 65536", [](BankFields& f) { f.firstBank = 0x10000; }, false},
      {"F 0x01000010", [](BankFields& f) { f.firstBank = 0x01000010; }, false},
      {"F not a multiple of 4", [](BankFields& f) { f.firstBank = 0x12; }, false},
      {"F 0 (the record as its own bank)", [](BankFields& f) { f.firstBank = 0; }, false},
      {"instCount 0", [](BankFields& f) { f.instCount = 0; }, true},
      {"instCount 127", [](BankFields& f) { f.instCount = 127; }, true},
      {"instCount 128", [](BankFields& f) { f.instCount = 128; }, true},
      {"instCount 129", [](BankFields& f) { f.instCount = 129; }, false},
      {"instCount -1", [](BankFields& f) { f.instCount = 0xFFFF; }, false},
      {"sampleRate 0", [](BankFields& f) { f.sampleRate = 0; }, true},
      {"sampleRate odd", [](BankFields& f) { f.sampleRate = 22051; }, false},
      {"sampleRate odd, large", [](BankFields& f) { f.sampleRate = 0x80000001; }, false},
      {"percussion 65532", [](BankFields& f) { f.percussion = 0xFFFC; }, true},
      {"percussion 65536", [](BankFields& f) { f.percussion = 0x10000; }, false},
      {"percussion not a multiple of 4", [](BankFields& f) { f.percussion = 0x102; }, false},
      {"percussion negative", [](BankFields& f) { f.percussion = 0xFFFFFFFC; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BankFields f;
    c.change(f);
    RomBuilder rom(0x12000, kFiller);
    if (f.firstBank == 0 || 0x1000 + f.firstBank + 12 > rom.size()) {
      rom.be16(0x1000, f.revision).be16(0x1002, f.bankCount).be32(0x1004, f.firstBank);
    } else {
      placeBankFile(rom, 0x1000, f);
    }
    const Scan scan = runScan(rom.bytes());
    EXPECT_EQ(scan.candidates, (c.candidate ? Pairs{{0x1000, -1}} : Pairs{}));
    EXPECT_EQ(scan.err, kOpening + (c.candidate ? found(".ctl", 0x1000) : "") + kBlanks);
  }
}

// Only 16-byte boundaries are examined, and the bank's 12 bytes of fields
// must lie inside the file: pos + F equal to the file size (which would read
// nothing but zeros, a plausible bank) is not a candidate.
TEST(OffsetScanTest, RecordOffTheGridOrBankPastTheEndIsNoCandidate) {
  RomBuilder offGrid(0x2000, kFiller);
  placeBankFile(offGrid, 0x1008);
  EXPECT_EQ(runScan(offGrid.bytes()).candidates, Pairs{});
  // A file of 0x1100 zero bytes, the record at 0x1000.
  for (uint32_t firstBank : {0xF4u, 0xF8u, 0xFCu, 0x100u, 0x104u}) {
    RomBuilder rom(0x1100, 0x00);
    rom.be16(0x1000, 0x4231).be16(0x1002, 1).be32(0x1004, firstBank);
    EXPECT_EQ(runScan(rom.bytes()).candidates.size(), firstBank == 0xF4 ? 1u : 0u) << firstBank;
  }
}

// Every length of a small ROM, cut anywhere: no read beyond the image, the
// candidate only once its bank fields are whole, the sample block only once
// its 144 bytes of frames are, and missing bytes never judged as zeros.
TEST(OffsetScanTest, EveryTruncation) {
  RomBuilder full(0x1100, kFiller);
  placeBankFile(full, 0x1000);
  placeFrames(full, 0x1020);
  for (size_t size = 0; size <= full.size(); ++size) {
    RomBuilder rom = full;
    rom.truncate(size);
    const Pairs expected = size < 0x1010 + 12   ? Pairs{}
                           : size < 0x1020 + 144 ? Pairs{{0x1000, -1}}
                                                 : Pairs{{0x1000, 0x1020}};
    ASSERT_EQ(runScan(rom.bytes()).candidates, expected) << size;
  }
}

TEST(OffsetScanTest, CandidatesInRomOrderEachWithTheFirstSampleBlockAfterIt) {
  struct Case {
    std::vector<size_t> banks, frames;
    Pairs candidates;
  };
  const Case cases[] = {
      {{0x1000, 0x2000}, {0x2020}, {{0x1000, -1}, {0x2000, 0x2020}}},
      {{0x1000, 0x2000}, {0x1020, 0x2020}, {{0x1000, 0x1020}, {0x2000, 0x2020}}},
      {{0}, {0x20}, {{0, 0x20}}},  // a candidate at offset 0 is reported like any other
  };
  for (const Case& c : cases) {
    RomBuilder rom(0x3000, kFiller);
    for (size_t at : c.banks) placeBankFile(rom, at);
    for (size_t at : c.frames) placeFrames(rom, at);
    const Scan scan = runScan(rom.bytes());
    std::string err = kOpening;
    for (const auto& [ctl, tbl] : c.candidates) {
      err += found(".ctl", static_cast<unsigned>(ctl));
      if (tbl >= 0) err += found(".tbl", static_cast<unsigned>(tbl));
    }
    EXPECT_EQ(scan.err, err + kBlanks);
    EXPECT_EQ(scan.candidates, c.candidates);
  }
}

// A progress line every 4096 bytes on standard output while verbose, its
// figure 100 * pos / size in 64 bits (at 21 MiB of 32, 100 * pos is beyond
// 32 bits and the line shows 65), never 100; findings on standard error
// whatever /q says.
TEST(OffsetScanTest, ProgressOnStandardOutputOnlyWhileVerbose) {
  RomBuilder rom(0x201C, kFiller);  // not a multiple of 16 or 4096
  placeBankFile(rom, 0x2000);       // the bank's fields end at the file's end
  const Scan loud = runScan(rom.bytes());
  EXPECT_EQ(loud.out, "Done   0%\rDone  49%\rDone  99%\r");
  EXPECT_EQ(loud.err, kOpening + found(".ctl", 0x2000) + kBlanks);
  const Scan quiet = runScan(rom.bytes(), false);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, loud.err);
  EXPECT_EQ(runScan({}).out, "");
  EXPECT_EQ(runScan({}).err, kOpening + kBlanks);

  const size_t size = 32u << 20;
  const std::string out = runScan(std::vector<uint8_t>(size, 0)).out;
  std::vector<std::string> lines;
  size_t begin = 0;
  for (size_t end; (end = out.find('\r', begin)) != std::string::npos; begin = end + 1) {
    lines.push_back(out.substr(begin, end - begin + 1));
  }
  EXPECT_EQ(begin, out.size());
  ASSERT_EQ(lines.size(), size / 4096);
  EXPECT_EQ(lines.front(), "Done   0%\r");
  EXPECT_EQ(lines[(21u << 20) / 4096], "Done  65%\r");
  EXPECT_EQ(lines.back(), "Done  99%\r");
  EXPECT_EQ(out.find("100"), std::string::npos);
}

// After detectByteOrder a byte-swapped or word-reversed dump yields exactly
// the candidates of its console-order form (an instCount of 5 is seen as 5,
// not as 0x0500).
TEST(OffsetScanTest, EveryDumpLayoutYieldsTheSameCandidates) {
  RomBuilder rom(0x6000, kFiller);
  rom.put(0, {0x80, 0x37, 0x12, 0x40});
  placeBankFile(rom, 0x1000);
  BankFields second;
  second.instCount = 3;
  second.percussion = 0x40;
  second.firstBank = 0x20;
  placeBankFile(rom, 0x3010, second);
  placeFrames(rom, 0x1020);
  placeFrames(rom, 0x3080);  // start 0x3030 + 4 + 12 + 0x40 = 0x3080

  const Scan z64 = runScan(rom.bytes(), true, true);
  EXPECT_EQ(z64.candidates, (Pairs{{0x1000, 0x1020}, {0x3010, 0x3080}}));
  for (const auto& dump : {test::toV64(rom.bytes()), test::toN64(rom.bytes())}) {
    const Scan other = runScan(dump, true, true);
    EXPECT_EQ(other.err, z64.err);
    EXPECT_EQ(other.out, z64.out);
    EXPECT_EQ(other.candidates, z64.candidates);
  }
}

// What a run without /c keeps of the scan: the first control block other
// than offset 0, and the first sample block found for any candidate (even
// for one at 0) unless /t gave one.
TEST(OffsetScanChoice, TheRunKeepsTheFirstCandidates) {
  BankFields empty;  // instCount 0: the walk has nothing to rip
  empty.instCount = 0;
  struct Case {
    std::vector<size_t> banks, frames;
    std::vector<std::string> options;
    std::string settings;  // "" for no control block
  };
  const Case cases[] = {
      {{0x1000, 0x2000}, {0x2020}, {}, "\nRipping from .ctl offset 0x001000, .tbl offset 0x002020\n"},
      {{0x1000, 0x2000}, {0x1020, 0x2020}, {}, "\nRipping from .ctl offset 0x001000, .tbl offset 0x001020\n"},
      {{0x1000}, {0x1020}, {"/t", "0x500"}, "\nRipping from .ctl offset 0x001000, .tbl offset 0x000500\n"},
      {{0x1000}, {0x1020}, {"/t", "0"}, "\nRipping from .ctl offset 0x001000, .tbl offset 0x000000\n"},
      {{0, 0x1800}, {0x20}, {}, "\nRipping from .ctl offset 0x001800, .tbl offset 0x000020\n"},
      {{0}, {0x20}, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    test::TempDir dir;
    RomBuilder rom(0x3000, kFiller);
    for (size_t at : c.banks) placeBankFile(rom, at, empty);
    for (size_t at : c.frames) placeFrames(rom, at);
    rom.save(dir.file("rom.bin"));
    std::vector<std::string> args = c.options;
    args.push_back("rom.bin");
    const test::RunResult r = test::runInProcess(args, dir.path());
    const std::string scanned = runScan(rom.bytes()).err;
    // A candidate at 0 is not kept; the run says how to rip it.
    const std::string hint =
        c.banks[0] == 0 ? "\nA bank file may start at offset 0 (a raw .ctl dump?): rip it with /c 0"
                        : "";
    if (c.settings.empty()) {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, scanned + hint + "\nCouldn't find .ctl file... Exiting...\n");
    } else {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err.substr(0, scanned.size() + hint.size() + c.settings.size()),
                scanned + hint + c.settings);
    }
  }
}

}  // namespace
}  // namespace zaft
