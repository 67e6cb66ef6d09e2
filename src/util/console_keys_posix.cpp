// The console key test: a terminal on standard input is switched to
// no-echo, non-canonical mode with VMIN = VTIME = 0, so a poll with a zero
// timeout tells whether a key is waiting and a read never blocks. O_NONBLOCK
// is deliberately not used: it belongs to the open file description, which
// the shell shares, and would outlive an abnormal end.
//
// Keys are seen only while a ConsoleKeyMode is active. It is not activated
// when standard input is not a terminal (checked once per process), nor when
// this process is not in the terminal's foreground process group: changing
// the mode from a background job would stop it with SIGTTOU. While it is
// active, every signal that ends or stops the process puts the saved mode
// back first (util/signals.h).
#include "util/console_keys.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "util/signals.h"

namespace zaft {

namespace {

// Shared with the signal handlers, hence plain statics.
struct termios savedMode;
struct termios keyMode;
volatile sig_atomic_t modeActive = 0;

bool stdinIsTerminal() {
  static const bool terminal = ::isatty(STDIN_FILENO) == 1;
  return terminal;
}

bool inForeground() { return ::tcgetpgrp(STDIN_FILENO) == ::getpgrp(); }

void setMode(const struct termios& mode) {
  while (::tcsetattr(STDIN_FILENO, TCSANOW, &mode) != 0 && errno == EINTR) {
  }
}

// Async-signal-safe: called from the signal handlers. A stop puts the saved
// mode back and keeps the key mode active, so that it is set again when the
// process continues in the foreground.
void restoreFromSignal() {
  if (modeActive != 0) ::tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
}

void reapplyAfterStop() {
  if (modeActive != 0 && inForeground()) ::tcsetattr(STDIN_FILENO, TCSANOW, &keyMode);
}

}  // namespace

namespace keys {

bool saveMode() {
  if (modeActive != 0 || !stdinIsTerminal() || !inForeground()) return false;
  if (::tcgetattr(STDIN_FILENO, &savedMode) != 0) return false;
  keyMode = savedMode;
  keyMode.c_lflag &= static_cast<tcflag_t>(~(ECHO | ICANON));
  keyMode.c_cc[VMIN] = 0;
  keyMode.c_cc[VTIME] = 0;
  return true;
}

void setActive(bool active) {
  modeActive = active ? 1 : 0;
  setTerminalHooks(active ? restoreFromSignal : nullptr, active ? reapplyAfterStop : nullptr);
}

bool applyKeyMode() { return ::tcsetattr(STDIN_FILENO, TCSANOW, &keyMode) == 0; }

void restoreSavedMode() { setMode(savedMode); }

}  // namespace keys

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
