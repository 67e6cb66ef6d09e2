// The walk through a bank file: one reader per record kind. Each pointer
// reader is called with the ROM stream on a pointer field, gives back the
// StructTable index of the record it leads to (0 for a null pointer) and
// leaves the stream just after the pointer's four bytes.
#pragma once

#include <cstdint>

namespace zaft {

struct RunContext;

// Called with the stream at ctlOffset. Gives back the bank file's index (1),
// or 0 when its revision is not "B1".
int32_t readBankFile(RunContext& ctx);
int32_t readBank(RunContext& ctx);
int32_t readInstrument(RunContext& ctx);
int32_t readSound(RunContext& ctx);
int32_t readEnvelope(RunContext& ctx);
int32_t readKeyMap(RunContext& ctx);
int32_t readWaveTable(RunContext& ctx);
int32_t readAdpcmLoop(RunContext& ctx);
int32_t readRawLoop(RunContext& ctx);
int32_t readAdpcmBook(RunContext& ctx);

}  // namespace zaft
