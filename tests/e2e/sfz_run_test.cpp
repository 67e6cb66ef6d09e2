// /z through the whole tool on the demo ROM: one SFZ file per bank folder
// (EAD sets too), every region naming a WAV file the run wrote beside it;
// none without a sample block, and the run says so.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/demo_rom.h"
#include "support/rom_builder.h"
#include "support/sfz_reader.h"
#include "support/test_util.h"

namespace zaft {
namespace {

TEST(SfzRun, OnePerBankFolderOverItsWavFiles) {
  test::TempDir dir;
  test::writeFile(dir.file("demo.z64"), test::makeDemoRom());
  test::RunResult r = test::runInProcess({"/q", "/c", "0x0E4A70", "/z", "bank.sfz", "demo.z64"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("No SFZ file for the bank file at 0x0E4A70: no .tbl offset given or found\n"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(test::fileExists(dir.file("bank.sfz")));
  r = test::runInProcess({"/q", "/x", "/d", "all", "/z", "bank.sfz", "demo.z64"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  int folders = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.file("all"))) {
    const std::string folder = entry.path().filename().string();
    if (folder.rfind("SEQ_", 0) == 0 || !entry.is_directory()) continue;
    ++folders;
    std::string error;
    const auto sfz = test::readSfz(test::readFileText(entry.path().string() + "/bank.sfz"), error);
    ASSERT_TRUE(sfz.has_value()) << folder << ": " << error;
    EXPECT_FALSE(sfz->regions.empty()) << folder;
    for (const test::SfzRegion& region : sfz->regions) {
      EXPECT_TRUE(test::fileExists(entry.path().string() + "/" + region.text("sample")))
          << folder << " " << region.text("sample");
    }
  }
  EXPECT_GE(folders, 3);  // two bank files and the EAD set at least
}

}  // namespace
}  // namespace zaft
