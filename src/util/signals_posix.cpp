// Signals on Linux: the handlers that clean up before a signal ends or
// stops the process.
#include "util/signals.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace zaft {

namespace {

// Every signal whose default action ends the process and that arrives from
// outside; faults (SIGSEGV, SIGBUS, ...) are left to the run-time.
constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGUSR1, SIGUSR2, SIGPIPE,
                                  SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,
                                  SIGPWR,  SIGSTKFLT};
constexpr int kEndingCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

// Shared with the handlers, hence plain statics.
struct sigaction savedEnding[kEndingCount];
bool taken[kEndingCount];
struct sigaction savedStop, savedFileSize;
bool stopTaken = false;

extern "C" void onEndingSignal(int signal) {
  const int savedErrno = errno;
  removeTempFilesNow();
  restoreTerminalNow();
  for (int i = 0; i < kEndingCount; ++i) {
    if (kEndingSignals[i] == signal) ::sigaction(signal, &savedEnding[i], nullptr);
  }
  // Still blocked while this handler runs: delivered with the default action
  // as soon as it returns.
  ::raise(signal);
  errno = savedErrno;
}

extern "C" void onStop(int) {
  const int savedErrno = errno;
  restoreTerminalNow();
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  struct sigaction mine;
  ::sigaction(SIGTSTP, &dfl, &mine);
  sigset_t tstp;
  sigemptyset(&tstp);
  sigaddset(&tstp, SIGTSTP);
  ::sigprocmask(SIG_UNBLOCK, &tstp, nullptr);
  ::raise(SIGTSTP);  // stops here; goes on when continued
  ::sigprocmask(SIG_BLOCK, &tstp, nullptr);
  ::sigaction(SIGTSTP, &mine, nullptr);
  reapplyTerminalNow();
  errno = savedErrno;
}

}  // namespace

void installSignalHandlers() {
  for (int i = 0; i < kEndingCount; ++i) {
    taken[i] = false;
    if (::sigaction(kEndingSignals[i], nullptr, &savedEnding[i]) != 0) continue;
    if ((savedEnding[i].sa_flags & SA_SIGINFO) != 0 || savedEnding[i].sa_handler != SIG_DFL) continue;
    struct sigaction action = {};
    action.sa_handler = onEndingSignal;
    sigemptyset(&action.sa_mask);
    taken[i] = ::sigaction(kEndingSignals[i], &action, nullptr) == 0;
  }
  stopTaken = false;
  if (::sigaction(SIGTSTP, nullptr, &savedStop) == 0 && (savedStop.sa_flags & SA_SIGINFO) == 0 &&
      savedStop.sa_handler == SIG_DFL) {
    struct sigaction action = {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    stopTaken = ::sigaction(SIGTSTP, &action, nullptr) == 0;
  }
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, &savedFileSize);
}

void uninstallSignalHandlers() {
  for (int i = 0; i < kEndingCount; ++i) {
    if (taken[i]) ::sigaction(kEndingSignals[i], &savedEnding[i], nullptr);
    taken[i] = false;
  }
  if (stopTaken) ::sigaction(SIGTSTP, &savedStop, nullptr);
  stopTaken = false;
  ::sigaction(SIGXFSZ, &savedFileSize, nullptr);
}

}  // namespace zaft
