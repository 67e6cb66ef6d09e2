// The run as the command line shows it: usage, help and version, the
// settings line, exit statuses and fatal messages. Runs in process with
// captured console streams, in a scratch folder.
#include "driver/run.h"

#include <gtest/gtest.h>

#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using test::RunResult;

const std::string kNoTbl = "\n.tbl file offset not specified. .wav files won't be created.\n";
const std::string kWrongRevision =
    "Unrecognized bank file revision 0x4130. It should be 'B1' (0x4231)\n";
// Outside the bank file at 0x10 the revision reads as 0.
const std::string kZeroRevision =
    "Unrecognized bank file revision 0x0000. It should be 'B1' (0x4231)\n";
const std::string kScanFindsNothing =
    ".ctl offset not specified...Guessing possible values for the .ctl file.\n"
    "Press any key to abort.\n"
    "                 \n"
    "Couldn't find .ctl file... Exiting...\n";

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
    "  /s file     Also write the instruments as a SoundFont 2 file\n"
    "  /z file     Also write the instruments as an SFZ file over the WAV files\n"
    "  /i file     Also write the bank file as the instrument compiler's source, with an AIFC\n"
    "              file per wave beside it\n"
    "  /m          Extract every sequence bank found, each into a folder SEQ_xxxxxx\n"
    "  /u          No limit on what the run writes (default: 64 times the ROM's size, at least\n"
    "              512 MiB, and 100,000 files and folders)\n"
    "  /p threads  Threads that decode WAV files, one of them also writing (1: a single\n"
    "              thread does all). Default = one per core, at most 4\n"
    "  /r settings Also render each sequence as the console plays it, to NNN.wav beside\n"
    "              NNN.mid: \"default\", or settings such as bank=OFFSET:N,rate=HZ,fx=echo\n"
    "              (bank, rate, fx, voices, loops, seconds, stems: see the README)\n"
    "\n";

class Run : public ::testing::Test {
 protected:
  void SetUp() override {
    // rom.bin: a bank file at 0x10 whose revision is wrong, so the walk reads
    // nothing. bogus.bin: a "B1" bank file at 0x10 whose one bank pointer
    // leads before the file.
    test::RomBuilder wrong(0x2000);
    wrong.be16(0x10, 0x4130);
    wrong.save(dir.file("rom.bin"));
    test::RomBuilder bogus(0x40);
    bogus.be16(0x10, 0x4231).be16(0x12, 1).be32(0x14, 0x80000000);
    bogus.save(dir.file("bogus.bin"));
    test::writeFile(dir.file("empty.bin"), {});
  }
  RunResult run(const std::vector<std::string>& args) {
    return test::runInProcess(args, dir.path());
  }
  test::TempDir dir;
};

TEST_F(Run, UsageHelpAndVersion) {
  struct Case { std::vector<std::string> args; int status; std::string out, err; };
  const Case cases[] = {
      {{}, 1, "", kUsage},
      {{"-h"}, 0, kUsage, ""},
      {{"--help"}, 0, kUsage, ""},
      {{"/?"}, 0, kUsage, ""},
      {{"--version"}, 0, std::string("ZAFT ") + ZAFT_VERSION + "\n", ""},
  };
  for (const Case& c : cases) {
    const RunResult r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
  // A file of that name is a ROM to rip, not a request for help.
  test::writeFile(dir.file("-h"), {});
  const RunResult r = run({"-h"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kScanFindsNothing);
}

TEST_F(Run, SettingsLineShowsTheOffsets) {
  const std::string ctlOnly = kNoTbl + "\nRipping from .ctl offset ";
  const std::string both = "\nRipping from .ctl offset 0x000010, .tbl offset ";
  struct Case { std::vector<std::string> args; std::string err, out; };
  const Case cases[] = {
      {{"/c", "0x10", "rom.bin"}, ctlOnly + "0x000010\n", kWrongRevision},
      {{"/c", "0x1A2B", "rom.bin"}, ctlOnly + "0x001A2B\n", kZeroRevision},
      {{"/c", "0X1A2B", "rom.bin"}, ctlOnly + "0x000000\n", kZeroRevision},
      {{"/c", "0x", "rom.bin"}, ctlOnly + "0x000000\n", kZeroRevision},
      {{"/c", "16", "/t", "0", "rom.bin"}, both + "0x000000\n", kWrongRevision},
      {{"/t", "0x1234", "/c", "16", "rom.bin"}, both + "0x001234\n", kWrongRevision},
      {{"/Q", "stray", "/y", "/c", "16", "rom.bin"}, ctlOnly + "0x000010\n", kWrongRevision},
  };
  for (const Case& c : cases) {
    const RunResult r = run(c.args);
    EXPECT_EQ(r.status, 0) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, c.out) << c.err;
  }
}

TEST_F(Run, StatusesAndFatalMessages) {
  const std::string bogus =
      "\nAbnormal termination. Bogus pointer found: Offset 000018 - Ptr 80000000\n";
  struct Case { std::vector<std::string> args; int status; std::string out, err; };
  const Case cases[] = {
      // The missing-file message has no line feed.
      {{"/c", "0", "missing.z64"}, 1, "", "Unable to open file missing.z64"},
      // A last argument that is also an option: quiet, and the ROM name is "/q".
      {{"/q"}, 1, "", "Unable to open file /q"},
      {{"/c", "-16", "rom.bin"}, 1, "", "Offset given with /c must not be negative: -16\n"},
      // A wrong revision ends the run normally, alone or under /x.
      {{"/q", "/c", "16", "/t", "0", "rom.bin"}, 0, kWrongRevision,
       "\nRipping from .ctl offset 0x000010, .tbl offset 0x000000\n"},
      {{"/x", "/c", "16", "/t", "0", "rom.bin"}, 0, kWrongRevision,
       "\nRipping from .ctl offset 0x000010, .tbl offset 0x000000\n"
       "\nSummary:\n"
       "  CTL_000010  .ctl 0x000010  .tbl 0x000000  0 records  0 .wav files  unrecognized bank "
       "file revision\n"
       "1 bank files: 0 ok, 0 failed, 1 unrecognized; 0 .wav files in all\n"},
      // The walk's fatal stop.
      {{"/c", "16", "bogus.bin"}, 1, "Ripping Bank File\n",
       kNoTbl + "\nRipping from .ctl offset 0x000010\n" + bogus},
      {{"/q", "/x", "/c", "16", "/t", "0", "bogus.bin"}, 1, "",
       "\nRipping from .ctl offset 0x000010, .tbl offset 0x000000\n" + bogus +
           "\nSummary:\n"
           "  CTL_000010  .ctl 0x000010  .tbl 0x000000  1 records  0 .wav files  failed: Abnormal "
           "termination. Bogus pointer found: Offset 000018 - Ptr 80000000\n"
           "1 bank files: 0 ok, 1 failed; 0 .wav files in all\n"},
      // Without /c the scan runs, and finds nothing in an empty file; /q
      // leaves its messages on standard error as they are.
      {{"empty.bin"}, 1, "", kScanFindsNothing},
      {{"/c", "/q", "empty.bin"}, 1, "", kScanFindsNothing},
      // "/c" followed by the ROM name reads the name as 0: no scan, and 0
      // lies past the end of an empty file. Offsets past the end rip nothing.
      {{"/c", "empty.bin"}, 1, "",
       "The .ctl offset 0x000000 lies past the end of the ROM file empty.bin (0 bytes)\n"},
      {{"/c", "0x2000", "rom.bin"}, 1, "",
       "The .ctl offset 0x002000 lies past the end of the ROM file rom.bin (8192 bytes)\n"},
      {{"/c", "16", "/t", "0x2000", "rom.bin"}, 1, "",
       "The .tbl offset 0x002000 lies past the end of the ROM file rom.bin (8192 bytes)\n"},
      {{"/d", "plain/sub", "/c", "16", "rom.bin"}, 1, "",
       "Unable to create output folder plain/sub: Not a directory\n"},
  };
  test::writeFile(dir.file("plain"), {1});
  for (const Case& c : cases) {
    const RunResult r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.err;
    EXPECT_EQ(r.out, c.out) << c.err;
    EXPECT_EQ(r.err, c.err);
  }
  // No run above wrote a header, nor made the folder it could not.
  EXPECT_FALSE(test::fileExists(dir.file("CONTROL.H")));
  EXPECT_FALSE(test::fileExists(dir.file("CTL_000010/CONTROL.H")));
  EXPECT_FALSE(test::fileExists(dir.file("plain/sub")));
}

}  // namespace
}  // namespace zaft
