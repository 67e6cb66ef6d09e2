// End to end: bank files and sequence banks inside compressed blocks are
// found by /x and /m and ripped exactly as their uncompressed copies are.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/demo_rom.h"
#include "support/lz_encoder.h"
#include "support/rom_builder.h"
#include "support/test_util.h"
#include "util/fatal.h"

namespace zaft {
namespace {

namespace fs = std::filesystem;

// The demo's first bank file with its sample block in a Yaz0 block, and its
// sequence bank in a MIO0 block, in filler.
struct BlockRom {
  std::vector<uint8_t> rom;
  test::DemoRom demo;
};

BlockRom blockRom() {
  BlockRom r;
  r.demo = test::buildDemoRom();
  const test::DemoBankFile& first = r.demo.bankFiles[0];
  const auto slice = [&](size_t from, size_t to) {
    return std::vector<uint8_t>(r.demo.bytes.begin() + from, r.demo.bytes.begin() + to);
  };
  const std::vector<uint8_t> bank =
      slice(first.ctlOffset, first.tblOffset + first.built.tbl.size());
  const std::vector<uint8_t> music = slice(r.demo.sequenceBankAt, r.demo.sequenceBankAt + 0x2000);
  r.rom = test::randomBytes(0x100000, 11);
  const std::vector<uint8_t> a = test::compressBlock(BlockFormat::Yaz0, bank);
  const std::vector<uint8_t> b = test::compressBlock(BlockFormat::Mio0, music);
  std::copy(a.begin(), a.end(), r.rom.begin() + 0x10000);
  std::copy(b.begin(), b.end(), r.rom.begin() + 0x80000);
  return r;
}

TEST(CompressedBlocks, FoundAndRippedAsTheirUncompressedCopies) {
  const BlockRom r = blockRom();
  test::TempDir dir;
  test::writeFile(dir.file("blocks.z64"), r.rom);
  test::writeFile(dir.file("demo.z64"), r.demo.bytes);
  const test::RunResult blocks =
      test::runInProcess({"/x", "/l", "/j", "index.json", "/d", "b", "blocks.z64"}, dir.path());
  const test::RunResult plain = test::runInProcess({"/x", "/l", "/d", "p", "demo.z64"}, dir.path());
  ASSERT_EQ(blocks.status, 0) << blocks.err;
  const unsigned ctl = static_cast<unsigned>(r.demo.bankFiles[0].tblOffset -
                                             r.demo.bankFiles[0].ctlOffset);
  EXPECT_NE(blocks.err.find(formatText("Found possible .ctl offset: 0x000000 in the Yaz0 block at "
                                       "0x010000\nFound possible .tbl offset: 0x%06X in the Yaz0 "
                                       "block at 0x010000\n",
                                       ctl)),
            std::string::npos)
      << blocks.err;
  EXPECT_NE(blocks.err.find("Found sequence bank at 0x000000 in the MIO0 block at 0x080000 with 3 "
                            "sequences\n"),
            std::string::npos);
  EXPECT_NE(blocks.err.find("\n  CTL_010000+000000  .ctl 0x000000  "), std::string::npos);
  const std::string bankFolder = dir.file("b/CTL_010000+000000");
  const std::string plainFolder =
      dir.file(formatText("p/CTL_%06X", static_cast<unsigned>(r.demo.bankFiles[0].ctlOffset)));
  ASSERT_TRUE(fs::is_directory(bankFolder));
  for (const test::DemoWave& w : r.demo.bankFiles[0].waves) {
    EXPECT_EQ(test::readFileBytes(bankFolder + "/" + w.fileName),
              test::readFileBytes(plainFolder + "/" + w.fileName))
        << w.fileName;
  }
  const std::string seqFolder = dir.file("b/SEQ_080000+000000");
  const std::string plainSeq =
      dir.file(formatText("p/SEQ_%06X", static_cast<unsigned>(r.demo.sequenceBankAt)));
  for (const char* song : {"000.mid", "001.mid", "002.mid"}) {
    EXPECT_EQ(test::readFileBytes(seqFolder + "/" + song), test::readFileBytes(plainSeq + "/" + song));
  }
  const std::string index = test::readFileText(dir.file("b/index.json"));
  EXPECT_NE(index.find("\"compressedBlock\": {\n        \"format\": \"Yaz0\",\n        \"offset\": 65536\n      },\n      \"ctlOffset\": 0,"),
            std::string::npos)
      << index;
}

}  // namespace
}  // namespace zaft
