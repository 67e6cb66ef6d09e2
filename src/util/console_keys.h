// The console key test used to stop the scan. Only when standard input is a
// terminal is anything read from it; otherwise no key is ever seen.
#pragma once

#include <memory>

#include "util/signals.h"

namespace zaft {

// Puts a terminal on standard input into no-echo, non-blocking mode for its
// lifetime and restores the saved mode on every way out: destruction, every
// signal that ends the process, and a stop (SIGTSTP; the key mode is set
// again when the process continues). Does nothing when standard input is
// not a terminal.
class ConsoleKeyMode {
 public:
  ConsoleKeyMode();
  ~ConsoleKeyMode();
  ConsoleKeyMode(const ConsoleKeyMode&) = delete;
  ConsoleKeyMode& operator=(const ConsoleKeyMode&) = delete;

 private:
  bool active_ = false;
  std::unique_ptr<SignalScope> signals_;
};

// The platform's side of ConsoleKeyMode: whether a console or terminal is
// there to switch (saving its mode when it is); marking the key mode active
// or not, with the signal handlers' hooks; setting the key mode; putting the
// saved mode back.
namespace keys {
bool saveMode();
void setActive(bool active);
bool applyKeyMode();
void restoreSavedMode();
}  // namespace keys

// Tells at once whether a key press is waiting (false when standard input is
// not a terminal).
bool consoleKeyWaiting();
// Takes one waiting key press without echo; -1 when there is none.
int consoleReadKey();

}  // namespace zaft
