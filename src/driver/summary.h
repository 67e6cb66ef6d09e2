// The end of /x and /m: a line per bank file and sequence bank, the totals,
// and the JSON index of the bank files' documents.
#pragma once

#include <string>
#include <vector>

#include "driver/bank_run.h"
#include "driver/options.h"
#include "export/byte_sink.h"
#include "export/libultra/json_export.h"
#include "export/output_plan.h"
#include "rom/rom_image.h"
#include "util/reporter.h"

namespace zaft {

// What became of one bank file of the run.
struct BankFileResult {
  BankJob job;
  BankOutcome outcome;
  std::string status;  // "ok", or what went wrong
  std::string folder;  // as named in the output folder
};

// What became of one sequence bank of the run.
struct SequenceBankResult {
  JsonSequenceBank done;
  size_t sequences = 0;  // in the bank, written or not
  int midiFiles = 0;
};

// A ripped bank file's status: "ok" (saying when its sample block was a
// guess among several), or why not.
std::string bankFileStatus(const BankJob& job, const BankOutcome& outcome);

// Reports the summary; gives how many bank files and sequence banks failed.
int reportSummary(const std::vector<BankFileResult>& banks,
                  const std::vector<EadSetResult>& eadSets,
                  const std::vector<SequenceBankResult>& music, bool withBankFiles,
                  Reporter& report);

// With /j: the index of the bank files' documents and the sequence banks,
// in the output folder. False when it could not be written (said).
bool writeRunIndex(const std::vector<BankFileResult>& banks,
                   const std::vector<EadSetResult>& eadSets,
                   const std::vector<SequenceBankResult>& music, const Settings& s,
                   const RomImage& rom, OutputPlan& plan, OutputTarget& files, Reporter& report);

}  // namespace zaft
