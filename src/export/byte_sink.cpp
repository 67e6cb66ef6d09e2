#include "export/byte_sink.h"

#include <algorithm>
#include <cstring>

#include "util/atomic_file.h"
#include "util/fatal.h"

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

BlockSink::BlockSink(size_t capacity)
    : block_(std::make_unique_for_overwrite<uint8_t[]>(capacity)), capacity_(capacity) {}

uint8_t* BlockSink::extend(size_t n) {
  if (used_ + n > capacity_) {
    const size_t capacity = std::max(2 * capacity_, used_ + n);
    std::unique_ptr<uint8_t[]> block = std::make_unique_for_overwrite<uint8_t[]>(capacity);
    if (used_ > 0) std::memcpy(block.get(), block_.get(), used_);
    block_ = std::move(block);
    capacity_ = capacity;
  }
  uint8_t* room = block_.get() + used_;
  used_ += n;
  return room;
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
// A write() of this much or more is not copied into the buffer.
constexpr size_t kDirectWrite = size_t{64} << 10;
thread_local std::vector<std::unique_ptr<uint8_t[]>> spareBuffers;

// One output file, written through a buffer of 2 MiB: a file of up to that
// leaves in one write, a larger one in pieces of about that size.
class FileSink : public ByteSink {
 public:
  FileSink(std::unique_ptr<AtomicFile> file, OutputBudget& budget)
      : file_(std::move(file)), budget_(budget) {
    if (!spareBuffers.empty()) {
      buffer_ = std::move(spareBuffers.back());
      spareBuffers.pop_back();
    } else {
      buffer_ = std::make_unique_for_overwrite<uint8_t[]>(kFileBufferSize);
    }
  }
  ~FileSink() override { spareBuffers.push_back(std::move(buffer_)); }

  uint8_t* extend(size_t n) override {
    budget_.spendBytes(n);
    if (used_ + n > kFileBufferSize) flush();
    uint8_t* room = buffer_.get() + used_;
    used_ += n;
    return room;
  }

  // A large block goes to the file as it stands, after what is buffered.
  void write(const void* data, size_t n) override {
    if (n < kDirectWrite) {
      ByteSink::write(data, n);
      return;
    }
    budget_.spendBytes(n);
    flush();
    if (error_.empty() && !file_->write(static_cast<const uint8_t*>(data), n)) error_ = file_->error();
  }

  bool finish() override {
    flush();
    if (error_.empty() && !file_->commit()) error_ = file_->error();
    return error_.empty();
  }

 private:
  void flush() {
    if (error_.empty() && used_ > 0 && !file_->write(buffer_.get(), used_)) {
      error_ = file_->error();
    }
    used_ = 0;
  }

  std::unique_ptr<AtomicFile> file_;
  OutputBudget& budget_;
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

// "512 MiB", "1.5 GiB", "300 KiB", "12 bytes".
std::string sizeText(int64_t bytes) {
  if (bytes >= (int64_t{1} << 30)) return formatText("%.1f GiB", static_cast<double>(bytes) / (1 << 30));
  if (bytes >= (int64_t{1} << 20)) return formatText("%lld MiB", static_cast<long long>(bytes >> 20));
  if (bytes >= (int64_t{1} << 10)) return formatText("%lld KiB", static_cast<long long>(bytes >> 10));
  return formatText("%lld bytes", static_cast<long long>(bytes));
}

bool listed(const std::vector<std::string>& paths, const std::string& path) {
  return std::find(paths.begin(), paths.end(), path) != paths.end();
}

}  // namespace

OutputBudget OutputBudget::forRom(int64_t romSize) {
  return OutputBudget(std::max(kMinBytes, kBytesPerRomByte * romSize), kMaxEntries, romSize);
}

void OutputBudget::overBytes() {
  exhausted_ = true;
  fatal("Output limit reached: a run may write at most %s for a ROM of %s (64 times its size, "
        "and at least 512 MiB); nothing more is written. /u lifts the limit.\n",
        sizeText(maxBytes_).c_str(), sizeText(romSize_).c_str());
}

void OutputBudget::overEntries() {
  exhausted_ = true;
  fatal("Output limit reached: a run may make at most %lld files and folders; nothing more is "
        "written. /u lifts the limit.\n",
        static_cast<long long>(maxEntries_));
}

std::unique_ptr<ByteSink> FileTarget::open(const std::string& path) {
  budget_.spendEntry();
  auto file = std::make_unique<AtomicFile>();
  if (!file->create(path)) {
    error_ = file->error();
    return nullptr;
  }
  return std::make_unique<FileSink>(std::move(file), budget_);
}

std::unique_ptr<ByteSink> MemoryTarget::open(const std::string& path) {
  if (listed(unopenable, path)) {
    error_ = "Permission denied";
    return nullptr;
  }
  return std::make_unique<MemoryFileSink>(*this, path, listed(failing, path));
}

}  // namespace zaft
