// The console key test used to stop the scan. Only when standard input is a
// terminal is anything read from it; otherwise no key is ever seen.
#pragma once

namespace zaft {

// Puts a terminal on standard input into no-echo, non-blocking mode for its
// lifetime and restores the saved mode on every way out (destruction, and
// SIGINT / SIGTERM, which restore and then end the process as usual).
// Does nothing when standard input is not a terminal.
class ConsoleKeyMode {
 public:
  ConsoleKeyMode();
  ~ConsoleKeyMode();
  ConsoleKeyMode(const ConsoleKeyMode&) = delete;
  ConsoleKeyMode& operator=(const ConsoleKeyMode&) = delete;

 private:
  bool active_ = false;
};

// Tells at once whether a key press is waiting (false when standard input is
// not a terminal).
bool consoleKeyWaiting();
// Takes one waiting key press without echo; -1 when there is none.
int consoleReadKey();

}  // namespace zaft
