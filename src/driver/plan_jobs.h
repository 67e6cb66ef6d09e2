// What a run rips, settled before anything is written: the offsets given
// are checked against the ROM, the ROM is scanned for bank files and
// sequence banks when the options ask for it, and each bank file becomes a
// job. A run refused here writes nothing.
#pragma once

#include <vector>

#include "bank/libultra/sequence_bank.h"
#include "driver/bank_run.h"
#include "driver/options.h"
#include "rom/rom_image.h"
#include "util/reporter.h"

namespace zaft {

struct JobPlan {
  bool bankFiles = true;  // false for /m alone: the music only
  BankJob single;         // the one bank file of a run without /x and /m
  // /x: every bank file, in ROM order, then those inside compressed blocks
  std::vector<BankJob> all;
  std::vector<SequenceJob> sequences;  // /x and /m, in the same order
  std::vector<EadSetJob> eadSets;      // /x
  std::vector<EadSequenceJob> eadSequences;  // /x and /m
};

// The most bytes the scan decompresses in all to look inside the ROM's
// compressed blocks: a hostile ROM's blocks could expand a thousandfold.
int64_t blockSearchBudget(int64_t romSize);

// Ends the run (FatalError) when a given offset lies past the ROM's end,
// or when nothing is found to rip.
JobPlan planJobs(const Settings& s, const RomImage& rom, Reporter& report);

}  // namespace zaft
