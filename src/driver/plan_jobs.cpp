#include "driver/plan_jobs.h"

#include "bank/libultra/offset_scan.h"
#include "util/fatal.h"

namespace zaft {

namespace {

// An offset past the end would rip nothing and read as a wrong revision or
// as silence.
void refuseOffsetsPastTheEnd(const Settings& s, const RomImage& rom) {
  if (s.ctlGiven && s.ctlOffset >= rom.size()) {
    fatal("The .ctl offset 0x%06X lies past the end of the ROM file %s (%lld bytes)\n",
          static_cast<unsigned>(s.ctlOffset), s.romPath.c_str(),
          static_cast<long long>(rom.size()));
  }
  if (s.tbl && s.tbl->offset >= rom.size()) {
    fatal("The .tbl offset 0x%06X lies past the end of the ROM file %s (%lld bytes)\n",
          static_cast<unsigned>(s.tbl->offset), s.romPath.c_str(),
          static_cast<long long>(rom.size()));
  }
}

// The scan's candidates when no /c is given. The single job keeps the first
// candidate other than 0, and the first sample block other than 0 found for
// any candidate, unless /t gave one.
std::vector<ScanCandidate> scanBankFiles(const Settings& s, const RomImage& rom, Reporter& report,
                                         JobPlan& plan) {
  std::vector<ScanCandidate> candidates = scanForBankFiles(rom, report).candidates;
  BankJob& job = plan.single;
  bool atZero = false;
  for (const ScanCandidate& c : candidates) {
    if (job.ctlOffset == 0) job.ctlOffset = c.ctlOffset;
    if (!job.tbl && c.tblOffset.value_or(0) > 0) {
      job.tbl = SampleBlock{*c.tblOffset, OffsetSource::Scanned};
    }
    atZero = atZero || c.ctlOffset == 0;
  }
  // A raw .ctl dump starts with its bank file: /x rips it, a single run
  // only keeps a candidate other than 0, and says how to take this one.
  if (atZero && !s.extractAll) {
    report.err("\nA bank file may start at offset 0 (a raw .ctl dump?): rip it with /c 0");
  }
  if (s.extractAll) plan.sequences = scanForSequenceBanks(rom, report);
  if (job.ctlOffset == 0 &&
      (!s.extractAll || (candidates.empty() && plan.sequences.empty()))) {
    fatal("\nCouldn't find .ctl file... Exiting...\n");
  }
  return candidates;
}

// /x: a job per candidate (the one /c gives, when it does), each with the
// sample block /t gives or else the one found for it.
std::vector<BankJob> jobsFor(const std::vector<ScanCandidate>& candidates, const Settings& s,
                             OffsetSource ctlSource) {
  std::vector<BankJob> jobs;
  for (const ScanCandidate& c : candidates) {
    BankJob j;
    j.ctlOffset = c.ctlOffset;
    j.ctlSource = ctlSource;
    j.tbl = s.tbl;
    if (!j.tbl && c.tblOffset) j.tbl = SampleBlock{*c.tblOffset, OffsetSource::Scanned};
    jobs.push_back(j);
  }
  return jobs;
}

}  // namespace

JobPlan planJobs(const Settings& s, const RomImage& rom, Reporter& report) {
  refuseOffsetsPastTheEnd(s, rom);
  JobPlan plan;
  BankJob& job = plan.single;
  job.ctlOffset = s.ctlOffset;
  job.ctlSource = s.ctlGiven ? OffsetSource::Given : OffsetSource::Scanned;
  job.tbl = s.tbl;
  job.folder = s.outputDir;
  plan.bankFiles = !s.extractSequences || s.extractAll;
  std::vector<ScanCandidate> candidates;
  if (!s.ctlGiven && plan.bankFiles) {
    candidates = scanBankFiles(s, rom, report, plan);
  } else if (s.extractAll || s.extractSequences) {
    plan.sequences = scanForSequenceBanks(rom, report);
    if (!plan.bankFiles && plan.sequences.empty()) {
      fatal("No sequence bank found in %s\n", s.romPath.c_str());
    }
  }
  if (s.extractAll) {
    if (s.ctlGiven) candidates = {{s.ctlOffset, std::nullopt}};
    plan.all = jobsFor(candidates, s, job.ctlSource);
  }
  return plan;
}

}  // namespace zaft
