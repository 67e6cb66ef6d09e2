#include "util/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "util/signals.h"

namespace zaft {

namespace {

std::atomic<unsigned> tempCounter{0};

// ".NAME.zaft-PID-N" beside NAME: hidden, and distinct for every file a
// process makes.
std::string tempPathFor(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return folder + "." + name + ".zaft-" + std::to_string(::getpid()) + "-" +
         std::to_string(tempCounter.fetch_add(1));
}

}  // namespace

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
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
    fd_ = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      temp_ = temp;
      return true;
    }
    const int failure = errno;
    releaseTempFile(slot_);
    slot_ = -1;
    if (failure != EEXIST) {
      error_ = std::strerror(failure);
      return false;
    }
  }
  error_ = std::strerror(EEXIST);
  return false;
}

bool AtomicFile::write(const uint8_t* data, size_t size) {
  if (fd_ < 0) return false;
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? std::strerror(errno) : std::strerror(EIO);
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool AtomicFile::commit() {
  if (fd_ < 0) return false;
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) {
    error_ = std::strerror(errno);
    discard();
    return false;
  }
  if (::rename(temp_.c_str(), path_.c_str()) != 0) {
    error_ = std::strerror(errno);
    discard();
    return false;
  }
  temp_.clear();
  releaseTempFile(slot_);
  slot_ = -1;
  return true;
}

bool isFolder(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace zaft
