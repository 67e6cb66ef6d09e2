// The run sequence as the command line shows it: settings line, usage text,
// refusals and exit status. Runs in process with captured console streams.
#include "driver/run.h"

#include <gtest/gtest.h>

#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using test::RunResult;

const char* const kNoTbl = "\n.tbl file offset not specified. .wav files won't be created.\n";

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A bank file whose revision is wrong: the walk reads nothing.
    test::RomBuilder rom(0x40);
    rom.be16(0x10, 0x4130);
    rom.save(dir.file("rom.bin"));
  }
  RunResult run(const std::vector<std::string>& args) { return test::runInProcess(args, dir.path()); }
  test::TempDir dir;
};

const char* const kUsage =
            "ZAFT: N64 sound bank extractor\n"
            "usage:\n"
            "  ZAFT [/c offset] [/t offset] [/q] [/f width] [/o header]\n"
            "       [/n template] [/a ratio] filename\n"
            "  /c offset   Offset of Sound Bank Control Block (.ctl)\n"
            "  /t offset   Offset of Sound Bank Table Block   (.tbl) Default = 0\n"
            "  /q          Quiet operation\n"
            "  /o header   Header filename. Default = CONTROL.H\n"
            "  /f width    Width of generated fields in header file. Default = 10\n"
            "  /n template Struct naming template. Default = %t%2i%2s\n"
            "              %t Struct Name      %b Bank\n"
            "              %i Instrument       %s Sound\n"
            "              %c Struct Id\n"
            "  /a ratio    Sampling rate adjustment. Default = 1.0 (none)\n"
            "  filename    ROM Filename. Any format (byte swapped or not)\n"
            "  /d dir      Output folder, created when missing. Default = current folder\n"
            "  /x          Extract every bank file found, each into a folder CTL_xxxxxx\n"
            "  /l          Add loop points and root key to WAV files (a \"smpl\" chunk)\n"
            "  /j file     Also describe the bank file as a JSON document\n"
            "  /g          Search the ROM for the sample block when the guess does not fit\n"
            "\n";

TEST_F(RunTest, NoArgumentPrintsUsageAndFails) {
  RunResult r = run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kUsage);
}

TEST_F(RunTest, HelpAndVersion) {
  for (const char* help : {"-h", "--help", "/?"}) {
    RunResult r = run({help});
    EXPECT_EQ(r.status, 0) << help;
    EXPECT_EQ(r.out, kUsage) << help;
    EXPECT_EQ(r.err, "") << help;
  }
  RunResult r = run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("ZAFT ") + ZAFT_VERSION + "\n");
  // A file of that name is a ROM to rip, not a request for help.
  test::writeFile(dir.file("-h"), {});
  r = run({"-h"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Couldn't find .ctl file"), std::string::npos);
}

TEST_F(RunTest, OutputFolderThatCannotBeMade) {
  test::writeFile(dir.file("plain"), {1});
  RunResult r = run({"/d", "plain/sub", "/c", "16", "rom.bin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Unable to create output folder plain/sub: ", 0), 0u) << r.err;
  EXPECT_FALSE(test::fileExists(dir.file("plain/sub")));
}

TEST_F(RunTest, MissingRomFileHasNoLineFeed) {
  RunResult r = run({"/c", "0", "missing.z64"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Unable to open file missing.z64");
  // A last argument that is also an option: quiet, and the ROM name is "/q".
  r = run({"/q"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Unable to open file /q");
}

TEST_F(RunTest, SettingsLineShowsTheOffsets) {
  struct Case { std::vector<std::string> args; std::string err; };
  const std::string rom = "rom.bin";
  const Case cases[] = {
      {{"/c", "0x10", rom}, std::string(kNoTbl) + "\nRipping from .ctl offset 0x000010\n"},
      {{"/c", "0x1A2B", rom}, std::string(kNoTbl) + "\nRipping from .ctl offset 0x001A2B\n"},
      {{"/c", "0X1A2B", rom}, std::string(kNoTbl) + "\nRipping from .ctl offset 0x000000\n"},
      {{"/c", "0x", rom}, std::string(kNoTbl) + "\nRipping from .ctl offset 0x000000\n"},
      {{"/c", "16", "/t", "0", rom}, "\nRipping from .ctl offset 0x000010, .tbl offset 0x000000\n"},
      {{"/t", "0x123456", "/c", "16", rom},
       "\nRipping from .ctl offset 0x000010, .tbl offset 0x123456\n"},
      // Only the first /c counts; the second is never looked at.
      {{"/c", "16", "/c", "32", rom}, std::string(kNoTbl) + "\nRipping from .ctl offset 0x000010\n"},
      // Unknown options and stray arguments are ignored.
      {{"/Q", "stray", "/z", "/c", "16", rom},
       std::string(kNoTbl) + "\nRipping from .ctl offset 0x000010\n"},
  };
  for (const Case& c : cases) {
    RunResult r = run(c.args);
    EXPECT_EQ(r.status, 0) << c.err;
    EXPECT_EQ(r.err, c.err);
  }
}

TEST_F(RunTest, WrongRevisionEndsNormallyWithoutHeader) {
  RunResult r = run({"/c", "16", "/t", "0", "rom.bin"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Unrecognized bank file revision 0x4130. It should be 'B1' (0x4231)\n");
  EXPECT_FALSE(test::fileExists(dir.file("CONTROL.H")));
}

TEST_F(RunTest, WithoutCTheScanRuns) {
  test::writeFile(dir.file("empty.bin"), {});
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"empty.bin"}, {"/c", "empty.bin"}, {"/c", "/q", "empty.bin"}}) {
    RunResult r = run(args);
    if (args.size() == 2) {
      // "/c" followed by the ROM name reads the name as decimal 0: no scan.
      EXPECT_EQ(r.status, 0);
      continue;
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              ".ctl offset not specified...Guessing possible values for the .ctl file.\n"
              "Press any key to abort.\n"
              "                 "
              "\nCouldn't find .ctl file... Exiting...\n");
  }
}

TEST_F(RunTest, UnsafeValuesAreRefused) {
  struct Case { std::vector<std::string> args; std::string err; };
  const Case cases[] = {
      {{"/c", "-16", "rom.bin"}, "Offset given with /c must not be negative: -16\n"},
      {{"/t", "0x-10", "/c", "0", "rom.bin"}, "Offset given with /t must not be negative: 0x-10\n"},
      {{"/c", "4294967296", "rom.bin"},
       "Value of /c is out of range (a signed 32-bit number is expected): 4294967296\n"},
      {{"/a", "1e999", "/c", "0", "rom.bin"}, "Value of /a is out of range: 1e999\n"},
      {{"/n", std::string(32, 'x'), "/c", "0", "rom.bin"},
       "The /n template is too long (at most 31 characters): " + std::string(32, 'x') + "\n"},
      {{"/o", std::string(128, 'h'), "/c", "0", "rom.bin"},
       "The /o header name is too long (at most 127 characters): " + std::string(128, 'h') + "\n"},
  };
  for (const Case& c : cases) {
    RunResult r = run(c.args);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
  // The limits themselves are accepted.
  EXPECT_EQ(run({"/n", std::string(31, 'x'), "/o", std::string(127, 'h'), "/c", "16", "rom.bin"}).status, 0);
}

}  // namespace
}  // namespace zaft
