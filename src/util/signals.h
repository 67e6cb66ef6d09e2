// What happens to a run that a signal ends or stops. While a SignalScope
// lives, every asynchronous signal whose default action ends the process
// (and that is still at its default action: a signal the process was started
// to ignore, or one a host program handles, is left alone) first removes the
// temporary files being written and puts the terminal back, then ends the
// process exactly as it would have. SIGTSTP puts the terminal back before
// the process stops, and the key mode is set again when it continues.
// SIGXFSZ is ignored, so that a file-size limit shows as a failed write
// ("File too large") instead of killing the process.
#pragma once

#include <string>

namespace zaft {

class SignalScope {
 public:
  SignalScope();
  ~SignalScope();
  SignalScope(const SignalScope&) = delete;
  SignalScope& operator=(const SignalScope&) = delete;
};

// A temporary file that a signal must remove. register gives a slot (-1 when
// all are taken, which only loses the clean-up on a signal).
int registerTempFile(const std::string& path);
void releaseTempFile(int slot);

// Set by the console key mode: how a signal handler puts the terminal back,
// and sets the key mode again after a stop. Both must be
// async-signal-safe; null when no key mode is active.
void setTerminalHooks(void (*restore)(), void (*reapply)());

}  // namespace zaft
