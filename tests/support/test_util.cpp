#include "support/test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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

#ifdef _WIN32

// No memory streams on Windows: a temporary file read back, in the user's
// temporary folder (tmpfile() would make it in the drive's root), deleted
// when it is closed.
MemoryStream::MemoryStream() {
  std::random_device entropy;
  const std::filesystem::path name =
      std::filesystem::temp_directory_path() / ("zaft-stream-" + std::to_string(entropy()));
  file_ = _wfopen(name.c_str(), L"w+bD");
}

MemoryStream::~MemoryStream() {
  if (file_ != nullptr) std::fclose(file_);
}

std::string MemoryStream::text() {
  std::fflush(file_);
  const long end = std::ftell(file_);
  std::string text(static_cast<size_t>(end > 0 ? end : 0), '\0');
  std::rewind(file_);
  const size_t got = std::fread(text.data(), 1, text.size(), file_);
  text.resize(got);
  std::fseek(file_, 0, SEEK_END);
  return text;
}

TempDir::TempDir() {
  std::random_device entropy;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const std::filesystem::path candidate = base / ("zaft-test-" + std::to_string(entropy()));
    if (std::filesystem::create_directory(candidate)) path_ = candidate.generic_string();
  }
  if (path_.empty()) throw std::runtime_error("no temporary folder");
}

#else

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

#endif

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

#ifdef _WIN32

namespace {

// A command-line argument quoted as the C run-time splits it again.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
    } else {
      out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
      backslashes = 0;
    }
    out.push_back(c);
  }
  out.append(2 * backslashes, L'\\');
  return out + L"\"";
}

HANDLE inheritable(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

RunResult runBinary(const std::vector<std::string>& args, const std::string& cwd) {
  TempDir capture;
  const std::wstring outPath = std::filesystem::path(capture.file("stdout")).wstring();
  const std::wstring errPath = std::filesystem::path(capture.file("stderr")).wstring();
  // The binary's path as the build gave it; under Wine a path of the Linux
  // machine that built it lies on drive Z:.
  std::string binary = ZAFT_BINARY;
  if (!binary.empty() && binary[0] == '/') binary = "Z:" + binary;
  const std::wstring program = std::filesystem::path(binary).wstring();
  std::wstring line = quoted(program);
  for (const std::string& a : args) line += L" " + quoted(std::filesystem::path(std::u8string(a.begin(), a.end())).wstring());
  HANDLE in = inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE out = inheritable(outPath, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = inheritable(errPath, GENERIC_WRITE, CREATE_ALWAYS);
  STARTUPINFOW start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = in;
  start.hStdOutput = out;
  start.hStdError = err;
  PROCESS_INFORMATION process = {};
  const std::wstring folder = std::filesystem::path(cwd).wstring();
  const BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      folder.c_str(), &start, &process);
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  if (!started) throw std::runtime_error("cannot start " + binary);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  RunResult result;
  result.status = static_cast<int>(code);
  result.out = readFileText(capture.file("stdout"));
  result.err = readFileText(capture.file("stderr"));
  return result;
}

// No POSIX shell: every command fails, and the tests that need one skip.
RunResult runShell(const std::string&) { return RunResult{}; }

bool haveCommand(const std::string&) { return false; }

bool haveShell() { return false; }

#else

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

bool haveShell() { return true; }

bool haveCommand(const std::string& name) {
  return runShell("command -v " + name + " >/dev/null 2>&1").status == 0;
}

#endif

std::string pythonWithMido() {
  for (const char* python : {"python3", "/usr/bin/python3"}) {
    if (runShell(std::string(python) + " -c 'import mido' >/dev/null 2>&1").status == 0) return python;
  }
  return std::string();
}

std::string rooted(const std::string& path) {
  return path.size() >= 2 && path[1] == ':' ? path.substr(2) : path;
}

size_t heapInUse() {
#ifdef __GLIBC__
  return mallinfo2().uordblks;
#else
  return 0;
#endif
}

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

}  // namespace zaft::test
