#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "util/files.h"

namespace zaft {

PathStatus statusOf(const std::string& path) {
  struct stat info;
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return PathStatus{};
  return PathStatus{
      FileIdentity{true, static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)},
      S_ISDIR(info.st_mode)};
}

namespace os {

Handle createNew(const std::string& path, bool& exists, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  exists = fd < 0 && errno == EEXIST;
  if (fd < 0) error = std::strerror(errno);
  return fd;
}

bool writeAll(Handle file, const uint8_t* data, size_t size, std::string& error) {
  while (size > 0) {
    const ssize_t n = ::write(static_cast<int>(file), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? std::strerror(errno) : std::strerror(EIO);
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool closeFile(Handle file, std::string& error) {
  if (::close(static_cast<int>(file)) == 0) return true;
  error = std::strerror(errno);
  return false;
}

bool replaceFile(const std::string& from, const std::string& to, std::string& error) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  error = std::strerror(errno);
  return false;
}

void removeFile(const std::string& path) { ::unlink(path.c_str()); }

void removeFileNow(const char* path) { ::unlink(path); }

unsigned long processId() { return static_cast<unsigned long>(::getpid()); }

Handle openForReading(const std::string& path, InputInfo& info) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kNoHandle;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return kNoHandle;
  }
  info.regular = S_ISREG(st.st_mode);
  info.folder = S_ISDIR(st.st_mode);
  info.size = info.regular ? static_cast<int64_t>(st.st_size) : 0;
  info.identity = FileIdentity{true, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return fd;
}

int64_t readSome(Handle file, uint8_t* into, size_t size) {
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(file), into, size);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

const uint8_t* mapView(Handle file, size_t size) {
  // A private mapping: no copy, pages come straight from the page cache.
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, static_cast<int>(file), 0);
  return map == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(map);
}

void unmapView(const uint8_t* view, size_t size) {
  ::munmap(const_cast<uint8_t*>(view), size);
}

void closeInput(Handle file) { ::close(static_cast<int>(file)); }

}  // namespace os

}  // namespace zaft
