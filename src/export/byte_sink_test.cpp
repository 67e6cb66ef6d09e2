// Files on disk: written whole through a temporary file and a rename, or
// not at all; within the run's budget.
#include "export/byte_sink.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/rom_builder.h"
#include "support/test_util.h"
#include "util/fatal.h"

namespace zaft {
namespace {

TEST(OutputBudget, TheLimitsFollowTheRomSize) {
  struct Case { int64_t rom, bytes; };
  const Case cases[] = {{0, 512 << 20}, {1 << 20, 512 << 20}, {8 << 20, 512 << 20},
                        {64 << 20, int64_t{4} << 30}};
  for (const Case& c : cases) {
    OutputBudget budget = OutputBudget::forRom(c.rom);
    budget.spendBytes(static_cast<size_t>(c.bytes));
    EXPECT_THROW(budget.spendBytes(1), FatalError) << c.rom;
    EXPECT_TRUE(budget.exhausted());
  }
  OutputBudget entries = OutputBudget::forRom(0);
  for (int k = 0; k < 100000; ++k) entries.spendEntry();
  try {
    entries.spendEntry();
    ADD_FAILURE() << "no limit";
  } catch (const FatalError& e) {
    EXPECT_STREQ(e.what(), "Output limit reached: a run may make at most 100000 files and "
                           "folders; nothing more is written. /u lifts the limit.\n");
  }
}

// A file appears under its name only once it is whole; one that could not
// be finished, or went past the budget, leaves nothing behind.
TEST(FileTarget, FilesAppearWholeOrNotAtAll) {
  test::TempDir dir;
  OutputBudget budget(100, 10, 1 << 20);
  FileTarget files(budget);
  {
    std::unique_ptr<ByteSink> sink = files.open(dir.file("a.bin"));
    ASSERT_NE(sink, nullptr);
    sink->write("hello", 5);
    EXPECT_FALSE(test::fileExists(dir.file("a.bin")));
    EXPECT_TRUE(sink->finish());
  }
  EXPECT_EQ(test::readFileText(dir.file("a.bin")), "hello");
  {
    std::unique_ptr<ByteSink> sink = files.open(dir.file("b.bin"));
    sink->write("unfinished", 10);
  }
  try {
    std::unique_ptr<ByteSink> sink = files.open(dir.file("c.bin"));
    sink->write(std::string(100, 'x'));
    ADD_FAILURE() << "past the budget";
  } catch (const FatalError& e) {
    EXPECT_STREQ(e.what(), "Output limit reached: a run may write at most 100 bytes for a ROM of "
                           "1 MiB (64 times its size, and at least 512 MiB); nothing more is "
                           "written. /u lifts the limit.\n");
  }
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(e.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"a.bin"});
  EXPECT_EQ(files.open(dir.file("missing/d.bin")), nullptr);
  EXPECT_EQ(files.error(), "No such file or directory");
}

}  // namespace
}  // namespace zaft
