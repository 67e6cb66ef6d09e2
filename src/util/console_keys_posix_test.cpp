// The console key test, driven through the real binary: under a
// pseudo-terminal (a key press stops the scan, no echo, the terminal's mode
// comes back on every way out) and with a pipe on standard input (nothing is
// read, no key is ever seen).
#include "util/console_keys.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(20);

// 32 MiB, mostly a hole of zeros: one bank file near the start, another
// near the end. A scan that runs to the end reports both.
constexpr size_t kRomSize = 32u << 20;
constexpr size_t kNearBank = 0x1000;
constexpr size_t kFarBank = 30u << 20;  // 0x1E00000, at 93.75 %

std::string writeScanRom(const test::TempDir& dir) {
  const std::string path = dir.file("big.z64");
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(kRomSize)), 0);
  for (size_t at : {kNearBank, kFarBank}) {
    test::RomBuilder bank;
    // revision "B1", 1 bank at +0x10 with 5 (null) instruments, 22050 Hz.
    bank.be16(0, 0x4231).be16(2, 1).be32(4, 0x10);
    bank.be16(0x10, 5).be16(0x12, 0).be32(0x14, 22050).be32(0x18, 0);
    EXPECT_EQ(::pwrite(fd, bank.bytes().data(), bank.size(), static_cast<off_t>(at)),
              static_cast<ssize_t>(bank.size()));
  }
  ::close(fd);
  return path;
}

// Where the terminal mode shows: echo and line editing.
struct Mode {
  bool echo;
  bool canonical;
  bool operator==(const Mode&) const = default;
};

Mode modeOf(int fd) {
  struct termios t;
  EXPECT_EQ(::tcgetattr(fd, &t), 0);
  return {(t.c_lflag & ECHO) != 0, (t.c_lflag & ICANON) != 0};
}

// The zaft binary on a fresh pseudo-terminal that is its controlling
// terminal, so its process group is the terminal's foreground group. The
// test keeps the terminal side open too, to read its mode at any time.
class PtyRun {
 public:
  PtyRun() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    const char* name = ::ptsname(master_);
    if (name == nullptr) return;
    slaveName_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
  }

  ~PtyRun() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
  }

  bool ready() const { return master_ >= 0 && slave_ >= 0; }
  int terminal() const { return slave_; }
  pid_t pid() const { return pid_; }
  const std::string& output() const { return output_; }

  // With `behindShell`, the process is started the way a shell with job
  // control starts a job: in a process group of its own, made the terminal's
  // foreground group, below a session leader that waits for it. Only then
  // does a stop signal stop it (a session leader's own group is orphaned).
  // target() is then the tool's process.
  void start(const std::vector<std::string>& args, const std::string& cwd,
             bool behindShell = false) {
    int pidPipe[2];
    ASSERT_EQ(::pipe(pidPipe), 0);
    pid_ = ::fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      ::setsid();
      int tty = ::open(slaveName_.c_str(), O_RDWR);  // becomes the controlling terminal
      if (tty < 0 || ::chdir(cwd.c_str()) != 0) _exit(127);
      ::dup2(tty, 0);
      ::dup2(tty, 1);
      ::dup2(tty, 2);
      if (tty > 2) ::close(tty);
      ::close(master_);
      ::close(slave_);
      ::close(pidPipe[0]);
      if (behindShell) {
        int go[2];
        if (::pipe(go) != 0) _exit(127);
        const pid_t job = ::fork();
        if (job < 0) _exit(127);
        if (job > 0) {
          ::setpgid(job, job);
          ::tcsetpgrp(0, job);
          if (::write(go[1], "g", 1) != 1 || ::write(pidPipe[1], &job, sizeof job) != sizeof job) {
            _exit(127);
          }
          int status = 0;
          ::waitpid(job, &status, 0);
          _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128);
        }
        ::setpgid(0, 0);
        char byte;
        if (::read(go[0], &byte, 1) != 1) _exit(127);
      }
      ::close(pidPipe[1]);
      test::execBinary(args);
    }
    ::close(pidPipe[1]);
    target_ = pid_;
    if (behindShell) {
      ASSERT_EQ(::read(pidPipe[0], &target_, sizeof target_), static_cast<ssize_t>(sizeof target_));
    }
    ::close(pidPipe[0]);
  }

  pid_t target() const { return target_; }

  void type(const std::string& keys) {
    ASSERT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Reads what the terminal shows until `text` has appeared.
  bool readUntil(const std::string& text) {
    const auto deadline = Clock::now() + kPatience;
    while (output_.find(text) == std::string::npos) {
      if (Clock::now() > deadline) return false;
      if (!readSome(100) && exited_) {
        while (readSome(50)) {
        }
        return output_.find(text) != std::string::npos;
      }
    }
    return true;
  }

  // Reads until the process has ended and its last output has been taken.
  // Returns the wait status, or -1 on timeout.
  int finish() {
    const auto deadline = Clock::now() + kPatience;
    while (!exited_ && Clock::now() < deadline) readSome(50);
    if (!exited_) return -1;
    while (readSome(50)) {
    }
    return status_;
  }

  // Whatever input is still waiting on the terminal (read without waiting).
  std::string pendingInput() {
    struct termios t;
    ::tcgetattr(slave_, &t);
    struct termios raw = t;
    raw.c_lflag &= static_cast<tcflag_t>(~ICANON);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(slave_, TCSANOW, &raw);
    char buffer[64];
    ssize_t n = ::read(slave_, buffer, sizeof buffer);
    ::tcsetattr(slave_, TCSANOW, &t);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
  }

 private:
  // Takes what is there within `waitMs`; notes the process's end.
  bool readSome(int waitMs) {
    struct pollfd p = {master_, POLLIN, 0};
    bool got = false;
    if (::poll(&p, 1, waitMs) > 0 && (p.revents & POLLIN) != 0) {
      char buffer[4096];
      ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n > 0) {
        output_.append(buffer, static_cast<size_t>(n));
        got = true;
      }
    }
    if (!exited_ && pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
    return got;
  }

  int master_ = -1;
  int slave_ = -1;
  std::string slaveName_;
  pid_t pid_ = -1;
  pid_t target_ = -1;
  bool exited_ = false;
  int status_ = 0;
  std::string output_;
};

const Mode kCooked = {true, true};
const Mode kKeyMode = {false, false};
const char* const kFoundNear = "Found possible .ctl offset: 0x001000";
const char* const kFoundFar = "Found possible .ctl offset: 0x1E00000";

class ConsoleKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rom_ = writeScanRom(dir_);
    ASSERT_TRUE(pty_.ready());
    ASSERT_EQ(modeOf(pty_.terminal()), kCooked);
  }
  test::TempDir dir_;
  std::string rom_;
  PtyRun pty_;
};

TEST_F(ConsoleKeysTest, KeyPressEndsTheScanWithTheCandidatesFoundSoFar) {
  pty_.start({rom_}, dir_.path());
  ASSERT_TRUE(pty_.readUntil("Press any key to abort.")) << pty_.output();
  EXPECT_EQ(modeOf(pty_.terminal()), kKeyMode);
  // A terminal holds only so much unread output (here some 20 KB: 2000
  // progress lines, 8 MiB of scan) before the scan has to wait for it to be
  // read, so the key is bound to arrive long before the far bank.
  ASSERT_TRUE(pty_.readUntil(kFoundNear)) << pty_.output();
  const size_t sentAt = pty_.output().size();
  pty_.type("#");
  const int status = pty_.finish();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << pty_.output();
  const std::string& out = pty_.output();
  EXPECT_EQ(out.find(kFoundFar), std::string::npos) << out;
  EXPECT_NE(out.find("Ripping from .ctl offset 0x001000"), std::string::npos) << out;
  EXPECT_EQ(out.find("Done  93%"), std::string::npos);
  EXPECT_EQ(out.find('#', sentAt), std::string::npos) << "the key was echoed";
  EXPECT_EQ(modeOf(pty_.terminal()), kCooked);
  EXPECT_EQ(pty_.pendingInput(), "");
}

TEST_F(ConsoleKeysTest, KeyWaitingBeforeTheScanStopsItAtOnce) {
  // Typed ahead while the terminal still echoes: once it has been echoed it
  // waits in the terminal's input.
  pty_.type("#");
  ASSERT_TRUE(pty_.readUntil("#"));
  pty_.start({"/q", rom_}, dir_.path());
  const int status = pty_.finish();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::string& out = pty_.output();
  EXPECT_EQ(out.find("Found possible"), std::string::npos) << out;
  EXPECT_NE(out.find("Couldn't find .ctl file... Exiting..."), std::string::npos) << out;
  EXPECT_EQ(modeOf(pty_.terminal()), kCooked);
  EXPECT_EQ(pty_.pendingInput(), "");
}

// Every signal whose default action ends the process puts the terminal
// back first, and the process ends as the signal would have ended it.
TEST_F(ConsoleKeysTest, EverySignalThatEndsTheRunRestoresTheMode) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGALRM}) {
    SCOPED_TRACE(signal);
    PtyRun pty;
    ASSERT_TRUE(pty.ready());
    pty.start({rom_}, dir_.path());
    ASSERT_TRUE(pty.readUntil(kFoundNear)) << pty.output();
    EXPECT_EQ(modeOf(pty.terminal()), kKeyMode);
    if (signal == SIGINT) {
      pty.type("\x03");  // Ctrl-C, through the terminal's own signal keys
    } else {
      ::kill(pty.pid(), signal);
    }
    const int status = pty.finish();
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(modeOf(pty.terminal()), kCooked);
  }
}

// A stop gives the terminal back as it was; going on sets the key mode
// again, and a key still stops the scan.
TEST_F(ConsoleKeysTest, AStopRestoresTheModeAndContinuingSetsItAgain) {
  const auto waitFor = [&](const Mode& mode) {
    const auto deadline = Clock::now() + kPatience;
    while (modeOf(pty_.terminal()) != mode && Clock::now() < deadline) {
      ::usleep(2000);
    }
    return modeOf(pty_.terminal()) == mode;
  };
  pty_.start({rom_}, dir_.path(), true);
  ASSERT_TRUE(pty_.readUntil(kFoundNear)) << pty_.output();
  ::kill(pty_.target(), SIGTSTP);
  EXPECT_TRUE(waitFor(kCooked));
  ::kill(pty_.target(), SIGCONT);
  EXPECT_TRUE(waitFor(kKeyMode));
  pty_.type("#");
  const int status = pty_.finish();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << pty_.output();
  EXPECT_EQ(modeOf(pty_.terminal()), kCooked);
}

// Standard input a pipe with a byte waiting: the scan runs to the end and
// the byte is still there afterwards, for the next reader of the pipe.
TEST_F(ConsoleKeysTest, PipeOnStandardInputIsNeverRead) {
  const std::string out = dir_.file("out");
  const test::RunResult r = test::runShell("cd '" + dir_.path() + "' && printf '#' | sh -c '\"" +
                                           ZAFT_BINARY + "\" /q \"" + rom_ + "\" >\"" + out +
                                           "\" 2>&1; s=$?; cat; exit $s'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "#");
  const std::string text = test::readFileText(out);
  EXPECT_NE(text.find(kFoundNear), std::string::npos) << text;
  EXPECT_NE(text.find(kFoundFar), std::string::npos) << text;
}

// In this process, with standard input not a terminal, the key layer is
// inert.
TEST(ConsoleKeysInProcessTest, NothingIsSeenWithoutATerminal) {
  if (::isatty(STDIN_FILENO) == 1) GTEST_SKIP() << "standard input is a terminal";
  ConsoleKeyMode mode;
  EXPECT_FALSE(consoleKeyWaiting());
  EXPECT_EQ(consoleReadKey(), -1);
}

}  // namespace
}  // namespace zaft
