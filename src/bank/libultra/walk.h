// The walk through a bank file: depth-first, in field order, from the bank
// file at the control-block offset (each bank's percussion instrument before
// its instruments, each sound's envelope, key map and wave table, each wave
// table's loop and book). Every record is entered into the struct table
// once, by the file offset of its first byte, before its fields are read; a
// record met again is not read again and counts as a reused reference.
#pragma once

#include <cstdint>
#include <string>

#include "bank/libultra/bank_file.h"
#include "rom/rom_image.h"
#include "util/reporter.h"

namespace zaft {

struct WalkLimits {
  std::string nameTemplate = "%t%2i%2s";  // at most 31 characters
  double rateRatio = 1.0;
  // Pointer-array slots a walk may store in all: real banks hold a few
  // thousand; overlapping hostile arrays could claim the file many times over.
  int64_t listSlotBudget = int64_t{1} << 20;
  // Samples are written from this walk: a wave table of a type other than 0
  // and 1 then ends it (its samples cannot be written).
  bool samplesWritten = false;
};

// Walks the bank file at `ctlOffset`. The reporter gets the progress lines
// ("Ripping Bank File", one line per instrument) and the revision complaint.
BankFile walkBankFile(const RomImage& rom, int32_t ctlOffset, const WalkLimits& limits,
                      Reporter& report);

// sampleRate x rateRatio in double precision, truncated toward zero; a
// product outside the 32-bit range is clamped to it, no number gives 0.
int32_t outputRateFor(int32_t sampleRate, double rateRatio);

}  // namespace zaft
