// The console key test on Windows: when standard input is a console, line
// input and echo are switched off (processed input stays, so Ctrl-C is still
// a control event) and the console's input queue is peeked without waiting.
// Events that are not key presses (focus, mouse, window size, key releases)
// are taken off the queue as they are met. The saved mode is put back on
// destruction and by the control handler (util/signals.h).
#include <windows.h>

#include "util/console_keys.h"
#include "util/signals.h"

namespace zaft {

namespace {

// Shared with the control handler's thread.
DWORD savedMode = 0;
volatile LONG modeActive = 0;

HANDLE input() { return GetStdHandle(STD_INPUT_HANDLE); }

void restoreFromHandler() {
  if (modeActive != 0) SetConsoleMode(input(), savedMode);
}

bool isKeyPress(const INPUT_RECORD& event) {
  return event.EventType == KEY_EVENT && event.Event.KeyEvent.bKeyDown;
}

// The first waiting event when it is a key press; other events before it
// are dropped.
bool keyAtFront(INPUT_RECORD& event) {
  for (;;) {
    DWORD count = 0;
    if (!PeekConsoleInputW(input(), &event, 1, &count) || count == 0) return false;
    if (isKeyPress(event)) return true;
    ReadConsoleInputW(input(), &event, 1, &count);
  }
}

}  // namespace

namespace keys {

bool saveMode() { return modeActive == 0 && GetConsoleMode(input(), &savedMode); }

void setActive(bool active) {
  modeActive = active ? 1 : 0;
  setTerminalHooks(active ? restoreFromHandler : nullptr, nullptr);
}

bool applyKeyMode() {
  return SetConsoleMode(input(), savedMode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
}

void restoreSavedMode() { SetConsoleMode(input(), savedMode); }

}  // namespace keys

bool consoleKeyWaiting() {
  INPUT_RECORD event;
  return modeActive != 0 && keyAtFront(event);
}

int consoleReadKey() {
  INPUT_RECORD event;
  if (modeActive == 0 || !keyAtFront(event)) return -1;
  DWORD count = 0;
  ReadConsoleInputW(input(), &event, 1, &count);
  const wchar_t c = event.Event.KeyEvent.uChar.UnicodeChar;
  return c != 0 ? (c < 0x80 ? static_cast<int>(c) : '?') : event.Event.KeyEvent.wVirtualKeyCode & 0xFF;
}

}  // namespace zaft
