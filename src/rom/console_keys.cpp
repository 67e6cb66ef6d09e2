// PLACEHOLDER until the console key test lands: never sees a key.
#include "rom/console_keys.h"

namespace zaft {

ConsoleKeyMode::ConsoleKeyMode() {}
ConsoleKeyMode::~ConsoleKeyMode() {}
bool consoleKeyWaiting() { return false; }
int consoleReadKey() { return -1; }

}  // namespace zaft
