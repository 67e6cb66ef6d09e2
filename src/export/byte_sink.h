// Where an output's bytes go: a file, or memory (tests). Writers append
// through extend() (room straight in the sink's buffer, so samples are
// decoded where they are written) or write(); finish() ends the output and
// says whether every byte arrived.
#pragma once

#include <cstddef>
#include <cstdint>
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
  void write(const void* data, size_t n);
  void write(std::string_view text) { write(text.data(), text.size()); }
  // Ends the output. False when it could not be written whole; error() then
  // says why.
  virtual bool finish() = 0;
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

// Opens outputs by path.
class OutputTarget {
 public:
  virtual ~OutputTarget() = default;
  // nullptr when the output cannot be created.
  virtual std::unique_ptr<ByteSink> open(const std::string& path) = 0;
};

// The file system.
class FileTarget : public OutputTarget {
 public:
  std::unique_ptr<ByteSink> open(const std::string& path) override;
};

// Keeps every finished output in memory, by path; for tests.
class MemoryTarget : public OutputTarget {
 public:
  std::unique_ptr<ByteSink> open(const std::string& path) override;
  std::map<std::string, std::vector<uint8_t>> files;
  // Paths that open() refuses, and paths whose writing fails.
  std::vector<std::string> unopenable, failing;
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
