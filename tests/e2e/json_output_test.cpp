// /j end to end: the document of a single run and the index of an /x run,
// loaded with Python's json module.
#include <gtest/gtest.h>

#include "support/demo_rom.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using test::RunResult;

RunResult python(const std::string& script) {
  return test::runShell("python3 -c '" + script + "' 2>&1");
}

TEST(JsonOutput, SingleRunDocumentDescribesTheWavFiles) {
  ZAFT_SKIP_WITHOUT_SHELL();
  test::TempDir dir;
  test::writeFile(dir.file("demo.z64"), test::makeDemoRom());
  RunResult r = test::runBinary({"/q", "/j", "bank.json", "/d", "out", "/c", "0x0E4A70", "demo.z64"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  // No sample block: every wave table says why it has no file.
  RunResult check = python(
      "import json; d = json.load(open(\"" + dir.file("out/bank.json") + "\"));"
      "w = [s for s in d[\"structs\"] if s[\"kind\"] == \"ALWaveTable\"];"
      "print(d[\"controlBlock\"], d[\"sampleBlock\"], len(w), all(x[\"wav\"][\"file\"] is None for x in w))");
  EXPECT_EQ(check.out, "{'offset': 936560, 'source': 'given'} None 9 True\n");

  r = test::runBinary({"/q", "/j", "bank.json", "/d", "scan", "demo.z64"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  check = python(
      "import json; d = json.load(open(\"" + dir.file("scan/bank.json") + "\"));"
      "w = [s[\"wav\"] for s in d[\"structs\"] if s[\"kind\"] == \"ALWaveTable\"];"
      "print(d[\"controlBlock\"][\"source\"], d[\"sampleBlock\"][\"source\"], d[\"rom\"][\"byteOrder\"]);"
      "print(sorted(x[\"file\"] for x in w));"
      "import wave; print(all(wave.open(\"" + dir.file("scan/") + "\" + x[\"file\"]).getnframes() == x[\"samples\"] for x in w))");
  EXPECT_EQ(check.out,
            "scanned scanned asStored\n"
            "['@100100.WAV', 'A000000.WAV', 'A000000_1.WAV', 'A000001.WAV', 'A000001_1.WAV', "
            "'A000002.WAV', 'A000002_1.WAV', 'A000100.WAV', 'A100000.WAV']\n"
            "True\n");
}

TEST(JsonOutput, ExtractAllWritesAnIndexAndADocumentPerBankFile) {
  ZAFT_SKIP_WITHOUT_SHELL();
  test::TempDir dir;
  test::writeFile(dir.file("demo.z64"), test::makeDemoRom());
  RunResult r = test::runBinary({"/q", "/x", "/j", "all.json", "/d", "out", "demo.z64"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  RunResult check = python(
      "import json; i = json.load(open(\"" + dir.file("out/all.json") + "\"));"
      "print(i[\"format\"], [(b[\"folder\"], b[\"document\"], b[\"status\"], b[\"wavFiles\"]) for b in i[\"bankFiles\"]]);"
      "print([json.load(open(\"" + dir.file("out/") + "\" + b[\"document\"]))[\"counters\"][\"wavFiles\"] for b in i[\"bankFiles\"]])");
  EXPECT_EQ(check.out,
            "zaft-index [('CTL_0E4A70', 'CTL_0E4A70/all.json', 'ok', 9), ('CTL_2A61C0', 'CTL_2A61C0/all.json', 'ok', 2)]\n"
            "[9, 2]\n");
}

TEST(JsonOutput, NeverWritesOverTheRom) {
  test::TempDir dir;
  const std::vector<uint8_t> rom = test::makeDemoRom();
  test::writeFile(dir.file("demo.z64"), rom);
  RunResult r = test::runBinary({"/q", "/j", "demo.z64", "/c", "0x0E4A70", "demo.z64"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Refusing to write JSON file demo.z64: it is the ROM file\n"), std::string::npos) << r.err;
  EXPECT_TRUE(test::readFileBytes(dir.file("demo.z64")) == rom);
}

}  // namespace
}  // namespace zaft
