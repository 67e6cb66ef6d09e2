// What happens to a run that a signal ends or stops (on Windows: Ctrl-C,
// Ctrl-Break, and closing the console, logging off or shutting down). While a SignalScope
// lives, every asynchronous signal whose default action ends the process
// (and that is still at its default action: a signal the process was started
// to ignore, or one a host program handles, is left alone) first removes the
// temporary files being written and puts the terminal back, then ends the
// process exactly as it would have. SIGTSTP puts the terminal back before
// the process stops, and the key mode is set again when it continues.
// SIGXFSZ is ignored, so that a file-size limit shows as a failed write
// ("File too large") instead of killing the process. On Windows the
// console's control handler removes the temporary files and restores the
// console mode, then lets the event end the process as it would have.
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

// For the platform's handlers (async-signal-safe): remove every registered
// temporary file; put the terminal back; set the key mode again.
void removeTempFilesNow();
void restoreTerminalNow();
void reapplyTerminalNow();
// The platform's side of the first SignalScope made and the last one gone.
void installSignalHandlers();
void uninstallSignalHandlers();

}  // namespace zaft
