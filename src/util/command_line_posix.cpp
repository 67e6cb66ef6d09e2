#include "util/command_line.h"

namespace zaft {

CommandLine::CommandLine(int argc, char** argv) : args_(argv, argv + argc) {}

CommandLine::~CommandLine() = default;

}  // namespace zaft
