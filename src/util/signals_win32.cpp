// Console control events on Windows. Ctrl-C, Ctrl-Break, closing the console
// window, logging off and shutting down reach the process as a call on a
// thread of its own; the handler removes the temporary files being written
// and puts the console mode back, then returns FALSE so that the next
// handler (in the end the system's, which ends the process) acts as it would
// have.
#include <windows.h>

#include "util/signals.h"

namespace zaft {

namespace {

BOOL WINAPI onControlEvent(DWORD) {
  removeTempFilesNow();
  restoreTerminalNow();
  return FALSE;
}

}  // namespace

void installSignalHandlers() { SetConsoleCtrlHandler(onControlEvent, TRUE); }

void uninstallSignalHandlers() { SetConsoleCtrlHandler(onControlEvent, FALSE); }

}  // namespace zaft
