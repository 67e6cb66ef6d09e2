#include "support/test_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "driver/run.h"
#include "support/rom_builder.h"

#ifndef ZAFT_BINARY
#define ZAFT_BINARY "zaft"
#endif

namespace zaft::test {

MemoryStream::MemoryStream() { file_ = open_memstream(&buffer_, &size_); }

MemoryStream::~MemoryStream() {
  if (file_ != nullptr) std::fclose(file_);
  std::free(buffer_);
}

std::string MemoryStream::text() {
  std::fflush(file_);
  return std::string(buffer_, size_);
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/zaft-test-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = name.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::list() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

ScopedChdir::ScopedChdir(const std::string& path) {
  previous_ = std::filesystem::current_path().string();
  std::filesystem::current_path(path);
}

ScopedChdir::~ScopedChdir() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

RunResult runInProcess(const std::vector<std::string>& args, const std::string& cwd) {
  ScopedChdir here(cwd);
  MemoryStream out;
  MemoryStream err;
  std::vector<std::string> full{"zaft"};
  full.insert(full.end(), args.begin(), args.end());
  RunResult result;
  result.status = runZaft(full, out.file(), err.file());
  result.out = out.text();
  result.err = err.text();
  return result;
}

void execBinary(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string binary = ZAFT_BINARY;
  argv.push_back(binary.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(binary.c_str(), argv.data());
  _exit(127);
}

RunResult runBinary(const std::vector<std::string>& args, const std::string& cwd) {
  TempDir capture;
  const std::string outPath = capture.file("stdout");
  const std::string errPath = capture.file("stderr");
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) _exit(127);
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    execBinary(args);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  RunResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readFileText(outPath);
  result.err = readFileText(errPath);
  return result;
}

RunResult runShell(const std::string& command) {
  RunResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool haveCommand(const std::string& name) {
  return runShell("command -v " + name + " >/dev/null 2>&1").status == 0;
}

std::string pythonWithMido() {
  for (const char* python : {"python3", "/usr/bin/python3"}) {
    if (runShell(std::string(python) + " -c 'import mido' >/dev/null 2>&1").status == 0) return python;
  }
  return std::string();
}

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

}  // namespace zaft::test
