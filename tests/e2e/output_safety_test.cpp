// Outputs that cannot be hijacked, half-written or silently lost, end to
// end: what stands at an output's name, outputs that resolve to one file,
// failing writes, interrupted runs, the output budget, files that cannot
// be ROMs, and the messages of offsets and options that rip nothing.
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/bank_builder.h"
#include "support/demo_rom.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

namespace fs = std::filesystem;
using test::RunResult;

// Demo bank file 1: control block and sample block.
const std::vector<std::string> kBank1 = {"/c", "0x0E4A70", "/t", "0x0E5700"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// Names in `folder` that are left-over temporary files.
std::vector<std::string> temporaries(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (name[0] == '.' && name.find(".zaft-") != std::string::npos) found.push_back(name);
  }
  return found;
}

// Every WAV file under `folder` is whole: its RIFF size is its length - 8.
void expectWholeWavFiles(const std::string& folder) {
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (e.path().extension() != ".WAV" || !e.is_regular_file()) continue;
    const std::vector<uint8_t> b = test::readFileBytes(e.path().string());
    ASSERT_GE(b.size(), 58u) << e.path();
    EXPECT_EQ(static_cast<size_t>(b[4] | b[5] << 8 | b[6] << 16 | b[7] << 24), b.size() - 8)
        << e.path();
  }
}

class OutputSafety : public ::testing::Test {
 protected:
  void SetUp() override { test::writeFile(dir_.file("demo.z64"), test::makeDemoRom()); }
  RunResult run(const std::vector<std::string>& args) {
    return test::runBinary(with(args, {"demo.z64"}), dir_.path());
  }
  test::TempDir dir_;
};

TEST_F(OutputSafety, WhatStandsAtAnOutputNameIsReplacedNeverWrittenThrough) {
  fs::create_directory(dir_.file("out"));
  test::writeFile(dir_.file("victim.txt"), {'v'});
  std::error_code noLinks;
  fs::create_symlink("../victim.txt", dir_.file("out/A000000.WAV"), noLinks);
#ifdef _WIN32
  // Wine makes no symbolic links; a plain file stands there instead.
  if (noLinks) test::writeFile(dir_.file("out/A000000.WAV"), {'o'});
  test::writeFile(dir_.file("out/A000001.WAV"), {'o'});
#else
  ASSERT_FALSE(noLinks);
  ASSERT_EQ(::mkfifo(dir_.file("out/A000001.WAV").c_str(), 0644), 0);
#endif
  fs::create_directory(dir_.file("out/A000002.WAV"));
  const RunResult r = run(with({"/q", "/d", "out"}, kBank1));
  // The folder is left as it is and counts as a failure; the wave after it
  // gets the name it would have had.
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Refusing to write .wav file out/A000002.WAV: a folder of that name is in "
                       "the way\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(test::readFileBytes(dir_.file("victim.txt")), std::vector<uint8_t>{'v'});
  for (const char* name : {"A000000.WAV", "A000001.WAV", "A000002_1.WAV", "CONTROL.H"}) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir_.file(std::string("out/") + name))))
        << name;
  }
  EXPECT_TRUE(fs::is_directory(dir_.file("out/A000002.WAV")));
  expectWholeWavFiles(dir_.file("out"));
}

TEST_F(OutputSafety, NoOutputReplacesAnotherOfTheRunHoweverSpelled) {
  struct Case {
    std::vector<std::string> args;
    std::string refusal;
  };
  const Case cases[] = {
      {with({"/o", "./A000100.WAV"}, kBank1),
       "Refusing to write header file out/./A000100.WAV: it would replace the .wav file "
       "out/A000100.WAV of this run\n"},
      {with({"/j", "sub/../A000100.WAV"}, kBank1),
       "Refusing to write JSON file out/sub/../A000100.WAV: it would replace the .wav file "
       "out/A000100.WAV of this run\n"},
      {{"/x", "/o", "../H.H"},
       "Refusing to write header file out/CTL_2A61C0/../H.H: it would replace the header file "
       "out/CTL_0E4A70/../H.H of this run\n"},
      {{"/x", "/j", "CTL_0E4A70/A000100.WAV"},
       "Refusing to write JSON file out/CTL_0E4A70/A000100.WAV: it would replace the .wav file "
       "out/CTL_0E4A70/A000100.WAV of this run\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    fs::remove_all(dir_.file("out"));
    fs::create_directories(dir_.file("out/sub"));
    const std::vector<uint8_t> before = test::makeDemoRom();
    const RunResult r = run(with({"/q", "/d", "out"}, c.args));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.refusal), std::string::npos) << r.err;
    expectWholeWavFiles(dir_.file("out"));
  }
  // Files of an earlier run are replaced, as users expect.
  fs::remove_all(dir_.file("out"));
  ASSERT_EQ(run(with({"/q", "/d", "out", "/j", "b.json"}, kBank1)).status, 0);
  const RunResult again = run(with({"/q", "/d", "out", "/j", "b.json"}, kBank1));
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(temporaries(dir_.file("out")).empty());
}

// What only Linux can set up: a file-size limit, a full or read-only disk,
// a signal in the middle of a write.
#ifndef _WIN32

TEST_F(OutputSafety, AFileSizeLimitIsAFailureThatLeavesOnlyWholeFiles) {
  fs::create_directory(dir_.file("out"));
  // 40 KiB (bash counts KiB): the drums fit, the plucked string does not.
  const RunResult r = test::runShell("cd " + dir_.path() + " && bash -c 'ulimit -f 40 && " +
                                     ZAFT_BINARY +
                                     " /q /d out /c 0x0E4A70 /t 0x0E5700 demo.z64 2>err.txt'");
  EXPECT_EQ(r.status, 1);
  const std::string err = test::readFileText(dir_.file("err.txt"));
  EXPECT_NE(err.find("Unable to write .wav output file out/A000000_1.WAV: File too large\n"),
            std::string::npos)
      << err;
  EXPECT_FALSE(test::fileExists(dir_.file("out/A000000_1.WAV")));
  EXPECT_FALSE(test::fileExists(dir_.file("out/CONTROL.H")));
  EXPECT_TRUE(temporaries(dir_.file("out")).empty());
  expectWholeWavFiles(dir_.file("out"));
  // With /x that bank file counts as failed and the summary says why.
  const RunResult all = test::runShell("cd " + dir_.path() + " && bash -c 'ulimit -f 40 && " +
                                       ZAFT_BINARY + " /q /x /d all demo.z64 2>err.txt'");
  EXPECT_EQ(all.status, 1);
  EXPECT_NE(test::readFileText(dir_.file("err.txt"))
                .find("failed: Unable to write .wav output file all/CTL_0E4A70/A000000_1.WAV: "
                      "File too large\n"),
            std::string::npos);
}

// A small tmpfs stands for a full disk and a read-only one; mounting needs
// root.
class SmallDisk : public OutputSafety {
 protected:
  void SetUp() override {
    OutputSafety::SetUp();
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    fs::create_directory(dir_.file("disk"));
    if (::mount("tmpfs", dir_.file("disk").c_str(), "tmpfs", 0, "size=200k") != 0) {
      GTEST_SKIP() << "tmpfs cannot be mounted here";
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) ::umount2(dir_.file("disk").c_str(), MNT_DETACH);
  }
  bool mounted_ = false;
};

TEST_F(SmallDisk, AFullDiskIsAFailureThatLeavesOnlyWholeFiles) {
  const RunResult r = run(with({"/q", "/d", "disk"}, kBank1));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(": No space left on device\n"), std::string::npos) << r.err;
  EXPECT_TRUE(temporaries(dir_.file("disk")).empty());
  expectWholeWavFiles(dir_.file("disk"));
}

TEST_F(SmallDisk, AFolderThatTakesNoFilesIsOneMessageAndAFailure) {
  ASSERT_EQ(::mount(nullptr, dir_.file("disk").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr),
            0);
  const RunResult r = run(with({"/q", "/d", "disk"}, kBank1));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "\nRipping from .ctl offset 0x0E4A70, .tbl offset 0x0E5700\n"
            "Unable to open .wav output file disk/A000000.WAV\n  Read-only file system\n");
}

// A ROM of 64 MiB, mostly a hole, whose one wave is 60 MiB of ADPCM frames:
// its WAV file takes long enough to be caught in the middle.
std::string writeLongWaveRom(const test::TempDir& dir) {
  test::RomBuilder bank;
  bank.be16(0, 0x4231).be16(2, 1).be32(4, 0x10);
  bank.be16(0x10, 1).be32(0x14, 22050).be32(0x18, 0).be32(0x1C, 0x20);
  bank.be16(0x2C, 200).be16(0x2E, 1).be32(0x30, 0x40);
  bank.be32(0x48, 0x60);
  bank.be32(0x60, 0).be32(0x64, 60u << 20).be32(0x70, 0x80);
  bank.be32(0x80, 2).be32(0x84, 1);
  const std::string path = dir.file("long.z64");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::ftruncate(fd, 64 << 20), 0);
  EXPECT_EQ(::pwrite(fd, bank.bytes().data(), bank.size(), 0x1000),
            static_cast<ssize_t>(bank.size()));
  ::close(fd);
  return path;
}

TEST(Interrupted, ASignalLeavesOnlyWholeFiles) {
  test::TempDir dir;
  const std::string rom = writeLongWaveRom(dir);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    SCOPED_TRACE(signal);
    const std::string out = dir.file("out");
    fs::remove_all(out);
    fs::create_directory(out);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(ZAFT_BINARY, ZAFT_BINARY, "/q", "/d", out.c_str(), "/c", "0x1000", "/t",
              "0x100000", rom.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // As soon as the WAV file is being written, the signal.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (temporaries(out).empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ASSERT_FALSE(temporaries(out).empty());
    ::kill(pid, signal);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_TRUE(fs::is_empty(out)) << temporaries(out).size();
  }
}

#endif  // _WIN32

TEST_F(OutputSafety, TheOutputBudgetEndsTheRunAndSaysHowToLiftIt) {
  // 1 MiB of ROM whose bank file has 200 waves over the same 768 KiB of
  // frames: 2.7 MB of WAV each, past the 512 MiB a 1 MiB ROM may write.
  test::BankFileDesign design;
  design.books = {test::simpleBook(1)};
  test::InstrumentDesign inst;
  for (int w = 0; w < 200; ++w) {
    design.sounds.push_back({-1, -1, 0, 64, 127, 0});
    inst.sounds.push_back(w);
  }
  design.waves = {{0, 0, std::vector<uint8_t>(768 << 10, 0x10), -1, 0}};
  test::BuiltBank built = test::buildBank(design);
  // The 200 sounds share one wave table; give each its own copy pointing
  // at the same samples.
  design.waves.assign(200, design.waves[0]);
  for (int w = 0; w < 200; ++w) design.sounds[static_cast<size_t>(w)].wave = w;
  design.instruments = {inst};
  design.banks = {test::BankDesign{}};
  design.banks[0].insts = {0};
  built = test::buildBank(design);
  test::RomBuilder rom(1 << 20);
  rom.put(0x100, built.ctl);
  // Every wave's base into one shared 768 KiB block at 0x40000.
  for (uint32_t at : built.waveAt) rom.be32(0x100 + at, 0);
  rom.put(0x40000, std::vector<uint8_t>(768 << 10, 0x10));
  test::writeFile(dir_.file("many.z64"), rom.bytes());
  RunResult r = test::runBinary({"/q", "/d", "out", "/c", "0x100", "/t", "0x40000", "many.z64"},
                                dir_.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Output limit reached: a run may write at most 512 MiB for a ROM of 1 MiB "
                       "(64 times its size, and at least 512 MiB); nothing more is written. /u "
                       "lifts the limit.\n"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(temporaries(dir_.file("out")).empty());
  expectWholeWavFiles(dir_.file("out"));
  uintmax_t written = 0;
  for (const auto& e : fs::directory_iterator(dir_.file("out"))) written += e.file_size();
  EXPECT_LE(written, uintmax_t{512} << 20);
}

TEST_F(OutputSafety, MessagesForWhatWouldRipNothing) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;  // a part of standard error
  };
  const Case cases[] = {
      {{"/c", "0x400000"}, 1,
       "The .ctl offset 0x400000 lies past the end of the ROM file demo.z64 (4194304 bytes)\n"},
      {{"/c", "0x0E4A70", "/t", "0x500000"}, 1,
       "The .tbl offset 0x500000 lies past the end of the ROM file demo.z64 (4194304 bytes)\n"},
      {with({"/a", "abc"}, kBank1), 0,
       "Warning: bank 0 has an output rate of 0 Hz; its .wav files get the rate 0, which players "
       "refuse (see /a)\n"},
      {with({"/a", "-1"}, kBank1), 0,
       "Warning: bank 1 has an output rate of -16000 Hz; its .wav files get the rate 0, which "
       "players refuse (see /a)\n"},
      {with({"/d", "/"}, kBank1), 0,
       "Warning: /d takes no value \"/\" (it reads as an option); the files go into the current "
       "folder\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const RunResult r = run(with({"/q"}, c.args));
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  // Once per bank: bank file 1 has two banks, each warned once.
  const RunResult r = run(with({"/q", "/a", "0"}, kBank1));
  size_t warnings = 0;
  for (size_t at = r.err.find("Warning: bank "); at != std::string::npos;
       at = r.err.find("Warning: bank ", at + 1)) {
    ++warnings;
  }
  EXPECT_EQ(warnings, 2u) << r.err;
}

TEST(RawBankDump, ABankFileAtOffsetZero) {
  test::TempDir dir;
  // A .ctl dump with its .tbl after it: the bank file at offset 0.
  test::BankFileDesign design;
  design.books = {test::simpleBook(1)};
  design.waves = {{0, 0, std::vector<uint8_t>(900, 0x10), -1, 0}};
  design.sounds = {{-1, -1, 0, 64, 127, 0}};
  test::InstrumentDesign inst;
  inst.sounds = {0};
  design.instruments = {inst};
  design.banks = {test::BankDesign{}};
  design.banks[0].insts = {0};
  test::RomBuilder rom(0x2000);
  test::placeBank(rom, test::buildBank(design), 0, 0x1000);
  test::writeFile(dir.file("bank.ctl"), rom.bytes());
  // A single run keeps no candidate at 0, and says how to take it.
  RunResult r = test::runBinary({"/q", "bank.ctl"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Found possible .ctl offset: 0x000000\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("                 \nA bank file may start at offset 0 (a raw .ctl dump?): "
                       "rip it with /c 0\nCouldn't find .ctl file... Exiting...\n"),
            std::string::npos)
      << r.err;
  // /x rips it.
  r = test::runBinary({"/q", "/x", "bank.ctl"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(test::fileExists(dir.file("CTL_000000/CONTROL.H")));
  EXPECT_TRUE(test::fileExists(dir.file("CTL_000000/A000000.WAV")));
}

}  // namespace
}  // namespace zaft
