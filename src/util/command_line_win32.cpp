// windows.h first: shellapi.h builds on it.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "util/command_line.h"
#include "util/win32_text.h"

namespace zaft {

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
  if (savedOutputCodePage_ != 0) SetConsoleOutputCP(CP_UTF8);
}

CommandLine::~CommandLine() {
  std::fflush(stdout);
  std::fflush(stderr);
  if (savedOutputCodePage_ != 0) SetConsoleOutputCP(savedOutputCodePage_);
}

}  // namespace zaft
