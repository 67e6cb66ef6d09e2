// The C header writer: the finished struct table as one header text that
// declares every record as an initialised structure, references by name.
#pragma once

#include <cstdio>

namespace zaft {

struct RunContext;

// Settles the header name (/o, default "CONTROL.H"), creates the file in the
// output folder and writes it, with the progress lines while verbose.
void writeHeader(RunContext& ctx);

// Writes the banner and every entry's structure to `file`, printing the
// progress lines with `headerName` while verbose.
void writeHeaderText(const RunContext& ctx, FILE* file, const char* headerName);

}  // namespace zaft
