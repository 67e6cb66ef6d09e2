#include "rom/offset_scan.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/fatal.h"
#include "driver/run_context.h"
#include "rom/rom_stream.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using test::RomBuilder;

const char* const kOpening =
    ".ctl offset not specified...Guessing possible values for the .ctl file.\n"
    "Press any key to abort.\n";
const char* const kBlanks = "                 ";
const char* const kNotFound = "\nCouldn't find .ctl file... Exiting...\n";

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
void placeFrames(RomBuilder& rom, size_t at, int count = 16) {
  const uint8_t headers[] = {0x00, 0x03, 0x13, 0xC3, 0x21, 0x52};
  for (int i = 0; i < count; ++i) rom.u8(at + 9 * static_cast<size_t>(i), headers[i % 6]);
}

struct Scan {
  bool notFound = false;
  std::string fatalMessage;
  std::string out;
  std::string err;
  int32_t ctlOffset = 0;
  int32_t tblOffset = 0;
  std::vector<ScanCandidate> candidates;
};

Scan runScan(std::vector<uint8_t> bytes, const std::function<void(RunSettings&)>& setup = nullptr,
             bool detect = false) {
  RomStream rom(std::move(bytes));
  if (detect) detectByteOrder(rom);
  auto ctx = std::make_unique<RunContext>();
  test::MemoryStream out, err;
  ctx->out = out.file();
  ctx->err = err.file();
  ctx->rom = &rom;
  if (setup) setup(ctx->settings);
  Scan scan;
  try {
    guessOffsets(*ctx);
  } catch (const FatalError& e) {
    scan.notFound = true;
    scan.fatalMessage = e.what();
  }
  scan.out = out.text();
  scan.err = err.text();
  scan.ctlOffset = ctx->settings.ctlOffset;
  scan.tblOffset = ctx->settings.tblOffset;
  scan.candidates = ctx->scanCandidates;
  return scan;
}

std::string found(const char* kind, unsigned offset) {
  return formatText("Found possible %s offset: 0x%06X\n", kind, offset);
}

std::vector<std::pair<int32_t, int32_t>> pairs(const std::vector<ScanCandidate>& candidates) {
  std::vector<std::pair<int32_t, int32_t>> result;
  for (const ScanCandidate& c : candidates) result.emplace_back(c.ctlOffset, c.tblOffset);
  return result;
}

// The record at 0x1000 begins 42 31 00 01 00 00 00 10; at 0x1010 instCount 5,
// sampleRate 22050, percussion 0: the search starts at 0x1028 rounded down,
// 0x1020, and tries 16 positions up to 0x1110.
TEST(OffsetScanTest, WorkedExampleTextAndTrialPositions) {
  struct Case {
    size_t framesAt;
    int32_t expectTbl;
  };
  const Case cases[] = {{0x1020, 0x1020}, {0x1110, 0x1110}, {0x1120, -1}, {0x1028, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.framesAt);
    RomBuilder rom(0x2000, kFiller);
    placeBankFile(rom, 0x1000);
    placeFrames(rom, c.framesAt);
    Scan scan = runScan(rom.bytes());
    ASSERT_FALSE(scan.notFound);
    EXPECT_EQ(scan.out, "Done   0%\rDone  50%\r");
    std::string err = std::string(kOpening) + found(".ctl", 0x1000);
    if (c.expectTbl >= 0) err += found(".tbl", static_cast<unsigned>(c.expectTbl));
    EXPECT_EQ(scan.err, err + kBlanks);
    EXPECT_EQ(scan.ctlOffset, 0x1000);
    EXPECT_EQ(scan.tblOffset, c.expectTbl >= 0 ? c.expectTbl : 0);
    EXPECT_EQ(pairs(scan.candidates), (std::vector<std::pair<int32_t, int32_t>>{{0x1000, c.expectTbl}}));
  }
}

TEST(OffsetScanTest, OnlyTheFirstPassingTrialPositionIsReported) {
  RomBuilder rom(0x2000, kFiller);
  placeBankFile(rom, 0x1000);
  placeFrames(rom, 0x1040);
  placeFrames(rom, 0x1060);
  Scan scan = runScan(rom.bytes());
  EXPECT_EQ(scan.err, std::string(kOpening) + found(".ctl", 0x1000) + found(".tbl", 0x1040) + kBlanks);
}

TEST(OffsetScanTest, SampleBlockSearchStartsPastInstrumentsAndPercussion) {
  // start = 0x1010 + 4 + 4 * 127 + 0x104 = 0x1314, rounded down to 0x1310.
  RomBuilder rom(0x3000, kFiller);
  BankFields f;
  f.instCount = 127;
  f.percussion = 0x104;
  placeBankFile(rom, 0x1000, f);
  placeFrames(rom, 0x1310);
  EXPECT_EQ(runScan(rom.bytes()).tblOffset, 0x1310);

  RomBuilder early(0x3000, kFiller);
  placeBankFile(early, 0x1000, f);
  placeFrames(early, 0x1300);
  EXPECT_EQ(runScan(early.bytes()).tblOffset, 0);
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
      {"instCount 128", [](BankFields& f) { f.instCount = 128; }, false},
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
      rom.be16(0x1000, f.revision).be16(0x1002, f.bankCount).be32(0x1004, 0);
    } else {
      placeBankFile(rom, 0x1000, f);
    }
    Scan scan = runScan(rom.bytes());
    EXPECT_EQ(scan.notFound, !c.candidate);
    EXPECT_EQ(scan.ctlOffset, c.candidate ? 0x1000 : 0);
    EXPECT_EQ(scan.candidates.size(), c.candidate ? 1u : 0u);
    EXPECT_EQ(scan.err.find("Found possible .ctl offset: 0x001000\n") != std::string::npos, c.candidate);
  }
}

TEST(OffsetScanTest, BankFileOffTheSixteenByteGridIsNeverFound) {
  RomBuilder rom(0x2000, kFiller);
  placeBankFile(rom, 0x1008);
  EXPECT_TRUE(runScan(rom.bytes()).notFound);
}

// The bank's 12 bytes of fields must lie inside the file: pos + F equal to
// the file size (which would read nothing but zeros, a plausible bank) is
// not a candidate.
TEST(OffsetScanTest, BankFieldsMustLieInsideTheFile) {
  struct Case {
    uint32_t firstBank;
    bool candidate;
  };
  // File of 0x1100 bytes, record at 0x1000.
  const Case cases[] = {{0xF4, true}, {0xF8, false}, {0xFC, false}, {0x100, false}, {0x104, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.firstBank);
    RomBuilder rom(0x1100, 0x00);
    rom.be16(0x1000, 0x4231).be16(0x1002, 1).be32(0x1004, c.firstBank);
    Scan scan = runScan(rom.bytes());
    EXPECT_EQ(scan.notFound, !c.candidate);
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
    SCOPED_TRACE(size);
    RomBuilder rom = full;
    rom.truncate(size);
    Scan scan = runScan(rom.bytes());
    const bool candidate = size >= 0x1010 + 12;
    const bool samples = size >= 0x1020 + 144;
    ASSERT_EQ(scan.notFound, !candidate);
    EXPECT_EQ(scan.tblOffset, samples ? 0x1020 : 0);
    if (candidate) {
      EXPECT_EQ(scan.candidates.at(0).tblOffset, samples ? 0x1020 : -1);
    }
  }
}

TEST(OffsetScanTest, LengthNotAMultipleOfSixteenOr4096) {
  // 0x201C bytes: three progress lines; the bank's fields end exactly at the
  // end of the file.
  RomBuilder rom(0x201C, kFiller);
  BankFields f;
  f.firstBank = 0x10;
  placeBankFile(rom, 0x2000, f);
  Scan scan = runScan(rom.bytes());
  EXPECT_EQ(scan.out, "Done   0%\rDone  49%\rDone  99%\r");
  EXPECT_EQ(scan.err, std::string(kOpening) + found(".ctl", 0x2000) + kBlanks);
  EXPECT_EQ(scan.ctlOffset, 0x2000);
}

TEST(OffsetScanTest, EmptyFile) {
  Scan scan = runScan({});
  EXPECT_TRUE(scan.notFound);
  EXPECT_EQ(scan.fatalMessage, kNotFound);
  EXPECT_EQ(scan.out, "");
  EXPECT_EQ(scan.err, std::string(kOpening) + kBlanks);
}

TEST(OffsetScanTest, CandidateAtOffsetZeroIsReportedButCannotBeKept) {
  RomBuilder alone(0x1000, kFiller);
  placeBankFile(alone, 0);
  placeFrames(alone, 0x20);
  Scan scan = runScan(alone.bytes());
  EXPECT_TRUE(scan.notFound);
  EXPECT_EQ(scan.fatalMessage, kNotFound);
  EXPECT_EQ(scan.err,
            std::string(kOpening) + found(".ctl", 0) + found(".tbl", 0x20) + kBlanks);
  // The sample block found for it is kept all the same, as the run would
  // have gone on with it had a later control block turned up.
  EXPECT_EQ(scan.tblOffset, 0x20);
  EXPECT_EQ(pairs(scan.candidates), (std::vector<std::pair<int32_t, int32_t>>{{0, 0x20}}));

  RomBuilder later(0x2000, kFiller);
  placeBankFile(later, 0);
  placeBankFile(later, 0x1800);
  Scan second = runScan(later.bytes());
  EXPECT_FALSE(second.notFound);
  EXPECT_EQ(second.ctlOffset, 0x1800);
  EXPECT_EQ(second.err, std::string(kOpening) + found(".ctl", 0) + found(".ctl", 0x1800) + kBlanks);
}

TEST(OffsetScanTest, TwoCandidates) {
  // The first has no sample block: the second's becomes tblOffset.
  RomBuilder rom(0x3000, kFiller);
  placeBankFile(rom, 0x1000);
  placeBankFile(rom, 0x2000);
  placeFrames(rom, 0x2020);
  Scan scan = runScan(rom.bytes());
  EXPECT_EQ(scan.err, std::string(kOpening) + found(".ctl", 0x1000) + found(".ctl", 0x2000) +
                          found(".tbl", 0x2020) + kBlanks);
  EXPECT_EQ(scan.ctlOffset, 0x1000);
  EXPECT_EQ(scan.tblOffset, 0x2020);
  EXPECT_EQ(pairs(scan.candidates),
            (std::vector<std::pair<int32_t, int32_t>>{{0x1000, -1}, {0x2000, 0x2020}}));

  // Both have one: the first's stands, the second's is only reported.
  placeFrames(rom, 0x1020);
  scan = runScan(rom.bytes());
  EXPECT_EQ(scan.err, std::string(kOpening) + found(".ctl", 0x1000) + found(".tbl", 0x1020) +
                          found(".ctl", 0x2000) + found(".tbl", 0x2020) + kBlanks);
  EXPECT_EQ(scan.ctlOffset, 0x1000);
  EXPECT_EQ(scan.tblOffset, 0x1020);
  EXPECT_EQ(pairs(scan.candidates),
            (std::vector<std::pair<int32_t, int32_t>>{{0x1000, 0x1020}, {0x2000, 0x2020}}));
}

TEST(OffsetScanTest, GivenSampleBlockOffsetIsKept) {
  RomBuilder rom(0x2000, kFiller);
  placeBankFile(rom, 0x1000);
  placeFrames(rom, 0x1020);
  // /t 0x500, and /t 0: the index of /t is set either way.
  for (int32_t given : {0x500, 0}) {
    SCOPED_TRACE(given);
    Scan scan = runScan(rom.bytes(), [given](RunSettings& s) {
      s.tblGiven = 3;
      s.tblOffset = given;
    });
    EXPECT_EQ(scan.err, std::string(kOpening) + found(".ctl", 0x1000) + found(".tbl", 0x1020) + kBlanks);
    EXPECT_EQ(scan.tblOffset, given);
    EXPECT_EQ(scan.ctlOffset, 0x1000);
    EXPECT_EQ(pairs(scan.candidates), (std::vector<std::pair<int32_t, int32_t>>{{0x1000, 0x1020}}));
  }
}

TEST(OffsetScanTest, QuietScanWritesNoProgressButEverythingElse) {
  RomBuilder rom(0x2000, kFiller);
  placeBankFile(rom, 0x1000);
  placeFrames(rom, 0x1020);
  Scan loud = runScan(rom.bytes());
  Scan quiet = runScan(rom.bytes(), [](RunSettings& s) { s.verbose = 0; });
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, loud.err);

  Scan none = runScan(std::vector<uint8_t>(0x100, kFiller), [](RunSettings& s) { s.verbose = 0; });
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, std::string(kOpening) + kBlanks);
  EXPECT_EQ(none.fatalMessage, kNotFound);
}

// 32 MiB: 8192 progress lines; at 21 MiB 100 × pos is beyond 32 bits and the
// line shows 65; the last shows 99, never 100.
TEST(OffsetScanTest, ProgressPercentagesOfA32MiBFile) {
  const size_t size = 32u << 20;
  Scan scan = runScan(std::vector<uint8_t>(size, 0));
  EXPECT_TRUE(scan.notFound);
  std::vector<std::string> lines;
  size_t begin = 0;
  for (size_t end; (end = scan.out.find('\r', begin)) != std::string::npos; begin = end + 1) {
    lines.push_back(scan.out.substr(begin, end - begin + 1));
  }
  EXPECT_EQ(begin, scan.out.size());
  ASSERT_EQ(lines.size(), size / 4096);
  EXPECT_EQ(lines.front(), "Done   0%\r");
  EXPECT_EQ(lines[(21u << 20) / 4096], "Done  65%\r");
  EXPECT_EQ(lines.back(), "Done  99%\r");
  EXPECT_EQ(scan.out.find("100"), std::string::npos);
}

// The stream delivers the console's byte order for every dump layout, so a
// byte-swapped or word-reversed dump yields exactly the candidates of its
// console-order form (an instCount of 5 is seen as 5, not as 0x0500).
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

  Scan z64 = runScan(rom.bytes(), nullptr, true);
  ASSERT_FALSE(z64.notFound);
  EXPECT_EQ(pairs(z64.candidates),
            (std::vector<std::pair<int32_t, int32_t>>{{0x1000, 0x1020}, {0x3010, 0x3080}}));
  for (const auto& dump : {test::toV64(rom.bytes()), test::toN64(rom.bytes())}) {
    Scan other = runScan(dump, nullptr, true);
    EXPECT_EQ(other.err, z64.err);
    EXPECT_EQ(other.out, z64.out);
    EXPECT_EQ(other.ctlOffset, z64.ctlOffset);
    EXPECT_EQ(other.tblOffset, z64.tblOffset);
    EXPECT_EQ(pairs(other.candidates), pairs(z64.candidates));
  }
}

}  // namespace
}  // namespace zaft
