// What only Windows has: names in UTF-16 reached from UTF-8 arguments,
// drive letters and backslashes, and names that differ only in case.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/demo_rom.h"
#include "support/test_util.h"
#include "util/paths.h"

namespace zaft {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kBank1 = {"/c", "0x0E4A70", "/t", "0x0E5700"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

void writeUtf8Named(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(fsPath(path), std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string backslashed(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

TEST(Windows, NamesOutsideTheCodePageAndEverySpellingOfAFolder) {
  test::TempDir dir;
  const std::string rom = "d\xC3\xA9mo \xE2\x99\xAA.z64";  // "démo ♪.z64"
  writeUtf8Named(dir.file(rom), test::makeDemoRom());
  struct Case {
    std::string folder;  // as given to /d
    std::string where;   // where the files must be, under the temporary folder
  };
  const Case cases[] = {
      {"sortie_\xC3\xA9\\sous", "sortie_\xC3\xA9/sous"},
      {backslashed(dir.file("abs")), "abs"},
      {dir.file("fwd"), "fwd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    const test::RunResult r = test::runBinary(with({"/q", "/d", c.folder}, with(kBank1, {rom})), dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* name : {"A000000.WAV", "A100000.WAV", "CONTROL.H"}) {
      EXPECT_TRUE(fs::is_regular_file(fsPath(dir.file(c.where + "/" + name)))) << name;
    }
  }
  // Names reach the console as UTF-8.
  const std::string missing = "d\xC3\xA9mo-missing.z64";
  EXPECT_EQ(test::runBinary({"/q", missing}, dir.path()).err, "Unable to open file " + missing);
}

TEST(Windows, NamesThatDifferOnlyInCaseAreOneFile) {
  test::TempDir dir;
  test::writeFile(dir.file("demo.z64"), test::makeDemoRom());
  const test::RunResult r =
      test::runBinary(with({"/q", "/d", "out", "/j", "a000100.wav"}, with(kBank1, {"demo.z64"})), dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Refusing to write JSON file out/a000100.wav: it would replace the .wav file "
                       "out/A000100.WAV of this run\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(test::readFileBytes(dir.file("out/A000100.WAV")).size() % 2, 0u);
}

}  // namespace
}  // namespace zaft
