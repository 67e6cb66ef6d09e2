// The C header exporter: a walked bank file as one header text that
// declares every record as an initialised structure, references by name.
#pragma once

#include <cstdint>
#include <string>

#include "bank/libultra/bank_file.h"
#include "export/byte_sink.h"
#include "util/reporter.h"

namespace zaft {

constexpr const char* kDefaultHeaderName = "CONTROL.H";

// Writes the banner and every entry's structure into `sink` with value
// columns `fieldWidth` wide (/f), printing the progress lines, which name
// `headerName`, while the reporter is verbose.
void writeHeaderText(const BankFile& bank, int32_t fieldWidth, const std::string& headerName,
                     ByteSink& sink, Reporter& report);

}  // namespace zaft
