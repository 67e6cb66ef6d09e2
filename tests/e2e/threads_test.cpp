// Decoding beside writing changes nothing: a run with helper threads writes
// the same files, byte for byte, and prints the same messages as a run on
// one thread, for every kind of output, with warnings, and when a failing
// write stops it.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "support/demo_rom.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// Every file under `folder`, by its path inside it.
std::map<std::string, std::vector<uint8_t>> tree(const std::string& folder) {
  std::map<std::string, std::vector<uint8_t>> files;
  if (!fs::exists(folder)) return files;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (e.is_regular_file()) {
      files[fs::relative(e.path(), folder).string()] = test::readFileBytes(e.path().string());
    }
  }
  return files;
}

TEST(Threads, AThreadedRunIsTheSequentialRun) {
  const std::vector<uint8_t> demo = test::makeDemoRom();
  struct Case {
    std::string options;
    int status;
    int maxFileKiB;  // the shell's file size limit
  };
  const Case cases[] = {
      {"/x /l /s bank.sf2 /j bank.json /d out", 0, 100000},
      {"/m /d out", 0, 100000},
      {"/c 0x0E4A70 /t 0x0E5700 /l /a 0 /d out", 0, 100000},  // the rate warning
      {"/c 0x0E4A70 /t 0x3FFF00 /l /d out", 0, 100000},       // waves outside the ROM
      {"/x /d out", 1, 40},  // a write fails: the waves before it, then the message
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    std::map<std::string, std::vector<uint8_t>> first;
    std::string firstOut, firstErr;
    for (const char* threads : {"1", "3"}) {
      test::TempDir dir;
      test::writeFile(dir.file("demo.z64"), demo);
      test::RunResult r;
      if (test::haveShell()) {
        r = test::runShell("cd " + dir.path() + " && bash -c 'ulimit -f " + std::to_string(c.maxFileKiB) +
                           " && " + ZAFT_BINARY + " /p " + threads + " " + c.options +
                           " demo.z64 >out.txt 2>err.txt'");
        r.out = test::readFileText(dir.file("out.txt"));
        r.err = test::readFileText(dir.file("err.txt"));
      } else if (c.maxFileKiB < 100000) {
        continue;  // the file-size limit is set by the shell
      } else {
        r = test::runBinary(words("/p " + std::string(threads) + " " + c.options + " demo.z64"), dir.path());
      }
      EXPECT_EQ(r.status, c.status);
      const std::string& out = r.out;
      const std::string& err = r.err;
      const auto files = tree(dir.file("out"));
      if (threads[0] == '1') {
        EXPECT_FALSE(files.empty());
        first = files;
        firstOut = out;
        firstErr = err;
      } else {
        EXPECT_EQ(out, firstOut);
        EXPECT_EQ(err, firstErr);
        EXPECT_TRUE(files == first);
      }
    }
  }
}

}  // namespace
}  // namespace zaft
