// windows.h first: shellapi.h builds on it.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "util/command_line.h"
#include "util/win32_text.h"

namespace zaft {

namespace {

// The console's output code page is the console's, not the process's: what
// is set here outlives the process unless it is put back, also when Ctrl-C
// or closing the window ends the run (then the next handler, and in the end
// the system's, still acts).
volatile UINT codePageToRestore = 0;

BOOL WINAPI restoreCodePage(DWORD) {
  if (codePageToRestore != 0) SetConsoleOutputCP(codePageToRestore);
  return FALSE;
}

}  // namespace

CommandLine::CommandLine(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr) {
    for (int i = 0; i < count; ++i) args_.push_back(win32::narrow(wide[i]));
    LocalFree(wide);
  } else {
    args_.assign(argv, argv + argc);
  }
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  savedOutputCodePage_ = GetConsoleOutputCP();
  if (savedOutputCodePage_ != 0 && savedOutputCodePage_ != CP_UTF8) {
    codePageToRestore = savedOutputCodePage_;
    SetConsoleCtrlHandler(restoreCodePage, TRUE);
    SetConsoleOutputCP(CP_UTF8);
  } else {
    savedOutputCodePage_ = 0;
  }
}

CommandLine::~CommandLine() {
  std::fflush(stdout);
  std::fflush(stderr);
  if (savedOutputCodePage_ != 0) {
    SetConsoleOutputCP(savedOutputCodePage_);
    SetConsoleCtrlHandler(restoreCodePage, FALSE);
    codePageToRestore = 0;
  }
}

}  // namespace zaft
