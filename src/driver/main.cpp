#include "driver/run.h"
#include "util/command_line.h"

int main(int argc, char** argv) {
  const zaft::CommandLine commandLine(argc, argv);
  return zaft::runZaft(commandLine.args(), stdout, stderr);
}
