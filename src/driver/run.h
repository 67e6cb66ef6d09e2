// The run driver: reads the options, opens the ROM, finds or takes the block
// offsets, and rips one bank file (or, with /x, every one) through the
// walk, the exporters and the output plan. Gives the process exit status.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zaft {

// `args` as the operating system hands them over, entry 0 being the tool's
// own name. Console output goes to `out` and `err`.
int runZaft(const std::vector<std::string>& args, FILE* out, FILE* err);

// The usage text, title line first, ending with an empty line.
void printUsageText(FILE* stream);

}  // namespace zaft
