// PLACEHOLDER until the bank walk lands: reads the revision only.
#include "bank/readers.h"

#include "driver/run_context.h"
#include "rom/rom_stream.h"

namespace zaft {

int32_t readBankFile(RunContext& ctx) {
  (void)readBE16(*ctx.rom);
  return 0;
}

}  // namespace zaft
