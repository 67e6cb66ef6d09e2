#include "export/byte_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zaft {

void ByteSink::write(const void* data, size_t n) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (n > 0) {
    const size_t piece = std::min(n, kMaxExtend);
    std::memcpy(extend(piece), bytes, piece);
    bytes += piece;
    n -= piece;
  }
}

uint8_t* MemorySink::extend(size_t n) {
  const size_t at = bytes.size();
  bytes.resize(at + n);
  return bytes.data() + at;
}

namespace {

// Output buffers live on from one file to the next: their pages are
// touched once per thread, not once per file.
constexpr size_t kFileBufferSize = 2 * ByteSink::kMaxExtend;
thread_local std::vector<std::unique_ptr<uint8_t[]>> spareBuffers;

// One output file, written through a buffer of 2 MiB: a file of up to that
// leaves in one write, a larger one in pieces of about that size.
class FileSink : public ByteSink {
 public:
  explicit FileSink(int fd) : fd_(fd) {
    if (!spareBuffers.empty()) {
      buffer_ = std::move(spareBuffers.back());
      spareBuffers.pop_back();
    } else {
      buffer_ = std::make_unique_for_overwrite<uint8_t[]>(kFileBufferSize);
    }
  }
  ~FileSink() override {
    if (fd_ >= 0) ::close(fd_);
    spareBuffers.push_back(std::move(buffer_));
  }

  uint8_t* extend(size_t n) override {
    if (used_ + n > kFileBufferSize) flush();
    uint8_t* room = buffer_.get() + used_;
    used_ += n;
    return room;
  }

  bool finish() override {
    flush();
    if (::close(fd_) != 0 && error_.empty()) error_ = std::strerror(errno);
    fd_ = -1;
    return error_.empty();
  }

 private:
  void flush() {
    const uint8_t* p = buffer_.get();
    size_t left = used_;
    while (left > 0 && error_.empty()) {
      const ssize_t n = ::write(fd_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error_ = n < 0 ? std::strerror(errno) : "nothing was written";
        break;
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
    used_ = 0;
  }

  int fd_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t used_ = 0;
};

class MemoryFileSink : public MemorySink {
 public:
  MemoryFileSink(MemoryTarget& target, std::string path, bool fails)
      : target_(target), path_(std::move(path)), fails_(fails) {}
  bool finish() override {
    if (fails_) {
      error_ = "Input/output error";
      return false;
    }
    target_.files[path_] = bytes;
    return true;
  }

 private:
  MemoryTarget& target_;
  std::string path_;
  bool fails_;
};

bool listed(const std::vector<std::string>& paths, const std::string& path) {
  return std::find(paths.begin(), paths.end(), path) != paths.end();
}

}  // namespace

std::unique_ptr<ByteSink> FileTarget::open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  return std::make_unique<FileSink>(fd);
}

std::unique_ptr<ByteSink> MemoryTarget::open(const std::string& path) {
  if (listed(unopenable, path)) return nullptr;
  return std::make_unique<MemoryFileSink>(*this, path, listed(failing, path));
}

}  // namespace zaft
