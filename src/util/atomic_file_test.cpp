#include "util/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/rom_builder.h"
#include "support/test_util.h"
#include "util/signals.h"

namespace zaft {
namespace {

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  return names;
}

TEST(AtomicFile, ReplacesWholeOrLeavesNothing) {
  test::TempDir dir;
  const std::string path = dir.file("A.WAV");
  test::writeFile(path, {'o', 'l', 'd'});
  const uint8_t bytes[] = {'n', 'e', 'w', '!'};
  {
    AtomicFile file;
    ASSERT_TRUE(file.create(path)) << file.error();
    ASSERT_TRUE(file.write(bytes, sizeof bytes));
    // Not yet committed: the old file is still whole under its name.
    EXPECT_EQ(test::readFileText(path), "old");
    ASSERT_TRUE(file.commit()) << file.error();
  }
  EXPECT_EQ(test::readFileText(path), "new!");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"A.WAV"});
  // Dropped before commit: the temporary file goes, the old one stays.
  {
    AtomicFile file;
    ASSERT_TRUE(file.create(path));
    ASSERT_TRUE(file.write(bytes, 2));
  }
  EXPECT_EQ(test::readFileText(path), "new!");
  EXPECT_EQ(namesIn(dir.path()).size(), 1u);
  // A folder that is not there: the reason in the same words everywhere.
  AtomicFile missing;
  EXPECT_FALSE(missing.create(dir.file("no/A.WAV")));
  EXPECT_EQ(missing.error(), "No such file or directory");
}

// What a signal (on Windows, a console control event) does while a file is
// being written: the temporary file is removed though it is still open.
TEST(AtomicFile, TheInterruptCleanUpRemovesAnOpenTemporaryFile) {
  test::TempDir dir;
  AtomicFile file;
  ASSERT_TRUE(file.create(dir.file("A.WAV")));
  const uint8_t byte = 1;
  ASSERT_TRUE(file.write(&byte, 1));
  ASSERT_EQ(namesIn(dir.path()).size(), 1u);
  removeTempFilesNow();
  // Gone: nothing is left to put under the name.
  EXPECT_FALSE(file.commit());
  EXPECT_TRUE(namesIn(dir.path()).empty());
}

}  // namespace
}  // namespace zaft
