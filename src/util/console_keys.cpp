#include "util/console_keys.h"

namespace zaft {

ConsoleKeyMode::ConsoleKeyMode() {
  if (!keys::saveMode()) return;
  // Handlers first, so that a signal arriving right after the mode changes
  // already finds them in place.
  signals_ = std::make_unique<SignalScope>();
  keys::setActive(true);
  if (!keys::applyKeyMode()) {
    keys::setActive(false);
    signals_.reset();
    return;
  }
  active_ = true;
}

ConsoleKeyMode::~ConsoleKeyMode() {
  if (!active_) return;
  // The mode before the hooks: a signal in between merely restores the mode
  // a second time.
  keys::restoreSavedMode();
  keys::setActive(false);
}

}  // namespace zaft
