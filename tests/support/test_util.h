// Test support: console capture, scratch folders and running the tool, in
// process or as the built binary.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zaft::test {

// A FILE* that collects everything written to it.
class MemoryStream {
 public:
  MemoryStream();
  ~MemoryStream();
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;
  FILE* file() { return file_; }
  std::string text();

 private:
  FILE* file_ = nullptr;
  char* buffer_ = nullptr;
  size_t size_ = 0;
};

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Names of the regular files directly inside, sorted.
  std::vector<std::string> list() const;

 private:
  std::string path_;
};

// Changes the working folder for the object's lifetime.
class ScopedChdir {
 public:
  explicit ScopedChdir(const std::string& path);
  ~ScopedChdir();

 private:
  std::string previous_;
};

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// runZaft in this process, with `args` after the tool's name, in folder `cwd`.
RunResult runInProcess(const std::vector<std::string>& args, const std::string& cwd);

// The built zaft binary, with `args`, in folder `cwd`, standard input from
// /dev/null.
RunResult runBinary(const std::vector<std::string>& args, const std::string& cwd);

// Bytes of the heap in use (glibc's count; 0 where it is not kept, so that
// memory bounds are checked on Linux only).
size_t heapInUse();

// `n` bytes from a Mersenne Twister seeded with `seed`.
std::vector<uint8_t> randomBytes(size_t n, uint32_t seed);

#ifndef _WIN32
// In a child process: replaces it with the built zaft binary and `args`
// (after the tool's name); exits with 127 when that fails.
[[noreturn]] void execBinary(const std::vector<std::string>& args);
#endif

// A command through /bin/sh; returns its exit status and standard output.
// On Windows there is none: the status is -1, and a test that needs the
// shell or a Linux tool says so with ZAFT_SKIP_WITHOUT_SHELL().
RunResult runShell(const std::string& command);

#ifdef _WIN32
#define ZAFT_SKIP_WITHOUT_SHELL() GTEST_SKIP() << "needs a POSIX shell and Linux tools"
#else
#define ZAFT_SKIP_WITHOUT_SHELL() static_cast<void>(0)
#endif

// Whether commands can run through a POSIX shell (not on Windows).
bool haveShell();

// `path` spelled from the root of its drive, so that it begins with "/" on
// every platform ("C:/t/x" becomes "/t/x").
std::string rooted(const std::string& path);

// Whether a command of that name is on the PATH.
bool haveCommand(const std::string& name);

// A Python that can import mido: "python3" on the PATH, else the system's
// /usr/bin/python3 (where the python3-mido package puts it); empty when
// neither can.
std::string pythonWithMido();

}  // namespace zaft::test
