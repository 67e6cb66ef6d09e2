// The console key test: a terminal on standard input is switched to
// no-echo, non-canonical mode with VMIN = VTIME = 0, so a poll with a zero
// timeout tells whether a key is waiting and a read never blocks. O_NONBLOCK
// is deliberately not used: it belongs to the open file description, which
// the shell shares, and would outlive an abnormal end.
//
// Keys are seen only while a ConsoleKeyMode is active. It is not activated
// when standard input is not a terminal (checked once per process), nor when
// this process is not in the terminal's foreground process group: changing
// the mode from a background job would stop it with SIGTTOU.
#include "util/console_keys.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace zaft {

namespace {

// The signals on which the saved mode is put back before the process ends.
constexpr int kRestoreSignals[] = {SIGINT, SIGTERM};
constexpr int kSignalCount = sizeof kRestoreSignals / sizeof kRestoreSignals[0];

// Shared with the signal handler, hence plain statics.
struct termios savedMode;
struct sigaction savedActions[kSignalCount];
volatile sig_atomic_t modeActive = 0;

bool stdinIsTerminal() {
  static const bool terminal = ::isatty(STDIN_FILENO) == 1;
  return terminal;
}

bool inForeground() { return ::tcgetpgrp(STDIN_FILENO) == ::getpgrp(); }

void restoreMode() {
  while (::tcsetattr(STDIN_FILENO, TCSANOW, &savedMode) != 0 && errno == EINTR) {
  }
}

// Puts the terminal back, reinstates the action the signal had before (the
// default one, normally) and raises the signal again with it, so the process
// ends exactly as it would have without us. Only async-signal-safe calls.
extern "C" void restoreAndReraise(int signal) {
  const int savedErrno = errno;
  if (modeActive != 0) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
    modeActive = 0;
  }
  for (int i = 0; i < kSignalCount; ++i) {
    if (kRestoreSignals[i] == signal) ::sigaction(signal, &savedActions[i], nullptr);
  }
  // Still blocked while this handler runs: delivered with the reinstated
  // action as soon as it returns.
  ::raise(signal);
  errno = savedErrno;
}

}  // namespace

ConsoleKeyMode::ConsoleKeyMode() {
  if (modeActive != 0 || !stdinIsTerminal() || !inForeground()) return;
  if (::tcgetattr(STDIN_FILENO, &savedMode) != 0) return;

  // Handlers first, so that a signal arriving right after the mode changes
  // already finds them in place.
  modeActive = 1;
  for (int i = 0; i < kSignalCount; ++i) {
    struct sigaction previous;
    ::sigaction(kRestoreSignals[i], nullptr, &previous);
    savedActions[i] = previous;
    // A signal the process was started to ignore (nohup, a background job
    // of a non-interactive shell) stays ignored.
    if (previous.sa_handler == SIG_IGN) continue;
    struct sigaction action = {};
    action.sa_handler = restoreAndReraise;
    sigemptyset(&action.sa_mask);
    ::sigaction(kRestoreSignals[i], &action, nullptr);
  }

  struct termios keyMode = savedMode;
  keyMode.c_lflag &= static_cast<tcflag_t>(~(ECHO | ICANON));
  keyMode.c_cc[VMIN] = 0;
  keyMode.c_cc[VTIME] = 0;
  if (::tcsetattr(STDIN_FILENO, TCSANOW, &keyMode) != 0) {
    modeActive = 0;
    for (int i = 0; i < kSignalCount; ++i) ::sigaction(kRestoreSignals[i], &savedActions[i], nullptr);
    return;
  }
  active_ = true;
}

ConsoleKeyMode::~ConsoleKeyMode() {
  if (!active_) return;
  // The mode before the handlers: a signal in between is still caught and
  // merely restores the mode a second time.
  if (modeActive != 0) restoreMode();
  modeActive = 0;
  for (int i = 0; i < kSignalCount; ++i) ::sigaction(kRestoreSignals[i], &savedActions[i], nullptr);
}

bool consoleKeyWaiting() {
  if (modeActive == 0) return false;
  struct pollfd input = {STDIN_FILENO, POLLIN, 0};
  return ::poll(&input, 1, 0) > 0 && (input.revents & POLLIN) != 0;
}

int consoleReadKey() {
  if (modeActive == 0) return -1;
  // One key press may arrive as several bytes (an arrow key's escape
  // sequence); they come in together and are taken together, so nothing of
  // it is left as input.
  unsigned char keys[32];
  ssize_t got = ::read(STDIN_FILENO, keys, sizeof keys);
  return got > 0 ? keys[0] : -1;
}

}  // namespace zaft
