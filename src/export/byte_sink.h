// Where an output's bytes go: a file, or memory (tests). Writers append
// through extend() (room straight in the sink's buffer, so samples are
// decoded where they are written) or write(); finish() ends the output and
// says whether every byte arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <climits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zaft {

class ByteSink {
 public:
  // The most a single extend() may ask for.
  static constexpr size_t kMaxExtend = size_t{1} << 20;

  virtual ~ByteSink() = default;
  ByteSink() = default;
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;

  // Room for `n` (at most kMaxExtend) more bytes at the end of the output;
  // the caller fills all of them before the next call.
  virtual uint8_t* extend(size_t n) = 0;
  // Appends `n` bytes, through extend() unless the sink has a better way.
  virtual void write(const void* data, size_t n);
  void write(std::string_view text) { write(text.data(), text.size()); }
  // Ends the output. False when it could not be written whole; error() then
  // says why.
  virtual bool finish() = 0;
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

// What a run may write in all: bytes, and files and folders made. A small
// ROM could otherwise fill the disk (thousands of bank-file look-alikes,
// waves that claim the whole ROM many times over). Reaching a limit ends the
// run with a FatalError that says which and how to lift it (/u).
class OutputBudget {
 public:
  static constexpr int64_t kMinBytes = int64_t{512} << 20;
  static constexpr int64_t kBytesPerRomByte = 64;
  static constexpr int64_t kMaxEntries = 100000;

  // No limits.
  OutputBudget() = default;
  OutputBudget(int64_t maxBytes, int64_t maxEntries, int64_t romSize)
      : maxBytes_(maxBytes), maxEntries_(maxEntries), romSize_(romSize) {}
  // max(512 MiB, 64 x the ROM's size) bytes and 100,000 files and folders.
  static OutputBudget forRom(int64_t romSize);

  void spendBytes(size_t n) {
    bytes_ += static_cast<int64_t>(n);
    if (bytes_ > maxBytes_) overBytes();
  }
  // Refuses, as spendBytes() would, an output of `n` bytes that would pass
  // the limit, before any of it is written.
  void require(int64_t n) {
    if (n > maxBytes_ - bytes_) overBytes();
  }
  int64_t bytesLeft() const { return maxBytes_ - bytes_; }
  void spendEntry() {
    if (++entries_ > maxEntries_) overEntries();
  }
  bool exhausted() const { return exhausted_; }
  int64_t bytes() const { return bytes_; }
  int64_t entries() const { return entries_; }

 private:
  [[noreturn]] void overBytes();
  [[noreturn]] void overEntries();

  int64_t maxBytes_ = INT64_MAX;
  int64_t maxEntries_ = INT64_MAX;
  int64_t romSize_ = 0;
  int64_t bytes_ = 0;
  int64_t entries_ = 0;
  bool exhausted_ = false;
};

// Opens outputs by path.
class OutputTarget {
 public:
  virtual ~OutputTarget() = default;
  // nullptr when the output cannot be created; error() then says why.
  virtual std::unique_ptr<ByteSink> open(const std::string& path) = 0;
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

// The file system: each output a new temporary file renamed onto its name
// when complete (util/atomic_file.h), within the run's budget.
class FileTarget : public OutputTarget {
 public:
  explicit FileTarget(OutputBudget& budget) : budget_(budget) {}
  std::unique_ptr<ByteSink> open(const std::string& path) override;

 private:
  OutputBudget& budget_;
};

// Keeps every finished output in memory, by path; for tests.
class MemoryTarget : public OutputTarget {
 public:
  std::unique_ptr<ByteSink> open(const std::string& path) override;
  std::map<std::string, std::vector<uint8_t>> files;
  // Paths that open() refuses, and paths whose writing fails.
  std::vector<std::string> unopenable, failing;
};

// A sink into one block of memory, grown when full; nothing in it is
// filled twice.
class BlockSink : public ByteSink {
 public:
  explicit BlockSink(size_t capacity = 0);
  // Writes into `block` of `capacity` bytes (one a sink gave back).
  BlockSink(std::unique_ptr<uint8_t[]> block, size_t capacity)
      : block_(std::move(block)), capacity_(capacity) {}
  uint8_t* extend(size_t n) override;
  bool finish() override { return true; }
  const uint8_t* data() const { return block_.get(); }
  size_t size() const { return used_; }
  size_t capacity() const { return capacity_; }
  // Gives the block up, for another sink to reuse.
  std::unique_ptr<uint8_t[]> release() {
    used_ = capacity_ = 0;
    return std::move(block_);
  }

 private:
  std::unique_ptr<uint8_t[]> block_;
  size_t capacity_ = 0;
  size_t used_ = 0;
};

// A sink that keeps its bytes.
class MemorySink : public ByteSink {
 public:
  uint8_t* extend(size_t n) override;
  bool finish() override { return true; }
  std::vector<uint8_t> bytes;
  std::string text() const { return std::string(bytes.begin(), bytes.end()); }
};

}  // namespace zaft
