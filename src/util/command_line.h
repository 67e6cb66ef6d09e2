// The command line as UTF-8 text, and the standard streams as the tool
// writes them. On Windows the arguments are read from the wide-character
// command line (the narrow one loses every name outside the code page), the
// streams write "\n" as it is, as on Linux, and the console shows UTF-8 while
// the object lives.
#pragma once

#include <string>
#include <vector>

namespace zaft {

class CommandLine {
 public:
  CommandLine(int argc, char** argv);
  ~CommandLine();
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  const std::vector<std::string>& args() const { return args_; }

 private:
  std::vector<std::string> args_;
#ifdef _WIN32
  unsigned savedOutputCodePage_ = 0;
#endif
};

}  // namespace zaft
