// PLACEHOLDER until the header writer lands.
#include "header/header_writer.h"

namespace zaft {

void writeHeader(RunContext&) {}
void writeHeaderText(const RunContext&, FILE*, const char*) {}

}  // namespace zaft
