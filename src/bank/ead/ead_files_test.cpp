#include "bank/ead/ead_files.h"

#include <gtest/gtest.h>

#include "support/demo_rom.h"
#include "support/ead_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

TEST(EadFiles, FindsEachFileOfASetInFiller) {
  const test::BuiltEadSet built = test::buildEadSet(test::defaultEadSet());
  std::vector<uint8_t> image = test::randomBytes(0x40000, 5);
  const int64_t at = 0x12340;
  std::copy(built.bytes.begin(), built.bytes.end(), image.begin() + at);
  const EadFinds finds = findEadFiles(image.data(), static_cast<int64_t>(image.size()));
  ASSERT_EQ(finds.sets.size(), 1u);
  EXPECT_EQ(finds.sets[0].soundDataAt, at + built.soundData);
  EXPECT_EQ(finds.sets[0].banks, 3);
  EXPECT_EQ(finds.sets[0].sampleTableAt, at + built.sampleTable);
  ASSERT_EQ(finds.sequenceFiles.size(), 1u);
  const EadSequenceFileFind& file = finds.sequenceFiles[0];
  EXPECT_EQ(file.table.at, at + built.sequences);
  EXPECT_EQ(file.table.entries.size(), 2u);
  EXPECT_EQ(file.bankSetsAt, at + built.bankSets);
  EXPECT_EQ(file.soundDataAt, at + built.soundData);
  EXPECT_EQ(file.bankSets, (std::vector<std::vector<uint8_t>>{{1, 0}, {2}}));
  EXPECT_FALSE(finds.budgetSpent);
}

// A sound-data file whose sample table is missing is still found (its
// records, without samples); a sample table of another count is not taken.
TEST(EadFiles, SampleTableMustFitTheBanks) {
  test::EadSetDesign design = test::defaultEadSet();
  const test::BuiltEadSet built = test::buildEadSet(design);
  std::vector<uint8_t> image(built.bytes.begin(), built.bytes.begin() + built.sampleTable);
  image.resize(image.size() + 0x100, 0xEE);
  const EadFinds finds = findEadFiles(image.data(), static_cast<int64_t>(image.size()));
  ASSERT_EQ(finds.sets.size(), 1u);
  EXPECT_FALSE(finds.sets[0].sampleTableAt.has_value());
}

// No EAD file where there is none: random bytes of several seeds, and the
// demo ROM's part before its EAD set: its libultra bank files, sample
// blocks and sequence bank.
TEST(EadFiles, NothingInRandomBytesOrLibultraRoms) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    const std::vector<uint8_t> noise = test::randomBytes(4 << 20, seed);
    const EadFinds finds = findEadFiles(noise.data(), static_cast<int64_t>(noise.size()));
    EXPECT_TRUE(finds.sets.empty() && finds.sequenceFiles.empty()) << seed;
  }
  const test::DemoRom demo = test::buildDemoRom();
  const EadFinds finds = findEadFiles(demo.bytes.data(), static_cast<int64_t>(demo.eadSetAt));
  EXPECT_TRUE(finds.sets.empty() && finds.sequenceFiles.empty());
}

// The same header repeated at every boundary, each claiming the rest of the
// image as one bank of nothing: none is taken, and the scan's work stays
// bounded and it says so.
TEST(EadFiles, RepeatedHeadersStayBounded) {
  std::vector<uint8_t> image(1 << 20, 0);
  for (size_t at = 0; at < image.size(); at += 16) {
    image[at + 1] = 1;  // type 1, one entry
    image[at + 3] = 1;
    const uint32_t length = static_cast<uint32_t>(image.size() - at - 16);
    image[at + 4] = 0, image[at + 5] = 0, image[at + 6] = 0, image[at + 7] = 16;
    image[at + 8] = static_cast<uint8_t>(length >> 24);
    image[at + 9] = static_cast<uint8_t>(length >> 16);
    image[at + 10] = static_cast<uint8_t>(length >> 8);
    image[at + 11] = static_cast<uint8_t>(length);
  }
  const EadFinds finds = findEadFiles(image.data(), static_cast<int64_t>(image.size()));
  EXPECT_TRUE(finds.sets.empty());
  EXPECT_TRUE(finds.budgetSpent);
}

}  // namespace
}  // namespace zaft
