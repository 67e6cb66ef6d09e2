// PLACEHOLDER until the scan lands: finds nothing.
#include "rom/offset_scan.h"

#include <cstdio>

#include "driver/fatal.h"
#include "driver/run_context.h"

namespace zaft {

void guessOffsets(RunContext& ctx) {
  std::fprintf(ctx.err, ".ctl offset not specified...Guessing possible values for the .ctl file.\n");
  std::fprintf(ctx.err, "Press any key to abort.\n");
  std::fprintf(ctx.err, "                 ");
  fatal("\nCouldn't find .ctl file... Exiting...\n");
}

}  // namespace zaft
