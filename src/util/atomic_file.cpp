#include "util/atomic_file.h"

#include <atomic>

#include "util/paths.h"
#include "util/signals.h"

namespace zaft {

namespace {

std::atomic<unsigned> tempCounter{0};

// ".NAME.zaft-PID-N" beside NAME: hidden, and distinct for every file a
// process makes.
std::string tempPathFor(const std::string& path) {
  const size_t slash = lastSeparator(path);
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return folder + "." + name + ".zaft-" + std::to_string(os::processId()) + "-" +
         std::to_string(tempCounter.fetch_add(1));
}

}  // namespace

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::discard() {
  std::string ignored;
  if (file_ != os::kNoHandle) os::closeFile(file_, ignored);
  file_ = os::kNoHandle;
  if (!temp_.empty()) os::removeFile(temp_);
  temp_.clear();
  releaseTempFile(slot_);
  slot_ = -1;
}

bool AtomicFile::create(const std::string& path) {
  discard();
  path_ = path;
  error_.clear();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = tempPathFor(path);
    // Registered before it exists, so that no signal can leave it behind.
    slot_ = registerTempFile(temp);
    bool exists = false;
    file_ = os::createNew(temp, exists, error_);
    if (file_ != os::kNoHandle) {
      temp_ = temp;
      error_.clear();
      return true;
    }
    releaseTempFile(slot_);
    slot_ = -1;
    if (!exists) return false;
  }
  return false;
}

bool AtomicFile::write(const uint8_t* data, size_t size) {
  return file_ != os::kNoHandle && os::writeAll(file_, data, size, error_);
}

bool AtomicFile::commit() {
  if (file_ == os::kNoHandle) return false;
  const bool closed = os::closeFile(file_, error_);
  file_ = os::kNoHandle;
  if (!closed || !os::replaceFile(temp_, path_, error_)) {
    discard();
    return false;
  }
  temp_.clear();
  releaseTempFile(slot_);
  slot_ = -1;
  return true;
}

}  // namespace zaft
