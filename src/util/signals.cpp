// The temporary files and terminal hooks that the platform's signal handlers
// use, and the scope that installs them.
#include "util/signals.h"

#include <atomic>
#include <cstring>

#include "util/files.h"

namespace zaft {

namespace {

// Shared with the handlers, hence plain statics.
int scopes = 0;

constexpr int kTempSlots = 16;
constexpr size_t kMaxPath = 4096;
char tempPaths[kTempSlots][kMaxPath];
std::atomic<int> tempUsed[kTempSlots];

std::atomic<void (*)()> restoreTerminal{nullptr};
std::atomic<void (*)()> reapplyTerminal{nullptr};

}  // namespace

void removeTempFilesNow() {
  for (int i = 0; i < kTempSlots; ++i) {
    if (tempUsed[i].load() == 1) os::removeFileNow(tempPaths[i]);
  }
}

void restoreTerminalNow() {
  if (void (*restore)() = restoreTerminal.load()) restore();
}

void reapplyTerminalNow() {
  if (void (*reapply)() = reapplyTerminal.load()) reapply();
}

SignalScope::SignalScope() {
  if (scopes++ == 0) installSignalHandlers();
}

SignalScope::~SignalScope() {
  if (--scopes == 0) uninstallSignalHandlers();
}

int registerTempFile(const std::string& path) {
  if (path.size() >= kMaxPath) return -1;
  for (int i = 0; i < kTempSlots; ++i) {
    int expected = 0;
    // 2 while the path is being copied: a handler skips the slot.
    if (tempUsed[i].compare_exchange_strong(expected, 2)) {
      std::memcpy(tempPaths[i], path.c_str(), path.size() + 1);
      tempUsed[i].store(1);
      return i;
    }
  }
  return -1;
}

void releaseTempFile(int slot) {
  if (slot >= 0 && slot < kTempSlots) tempUsed[slot].store(0);
}

void setTerminalHooks(void (*restore)(), void (*reapply)()) {
  restoreTerminal.store(restore);
  reapplyTerminal.store(reapply);
}

}  // namespace zaft
