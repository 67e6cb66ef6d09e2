#include "driver/plan_jobs.h"

#include <algorithm>

#include "bank/libultra/offset_scan.h"
#include "rom/compressed_block.h"
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
  if (!s.extractAll && job.ctlOffset == 0) fatal("\nCouldn't find .ctl file... Exiting...\n");
  return candidates;
}

std::vector<SequenceJob> sequenceJobs(std::vector<SequenceBank> banks, const Place& place) {
  std::vector<SequenceJob> jobs;
  for (SequenceBank& bank : banks) jobs.push_back({std::move(bank), place});
  return jobs;
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

// A find inside a block, said as the scan says the ROM's.
void reportBlockFinds(const Place& place, const ScanResult& banks,
                      const std::vector<SequenceBank>& sequences, Reporter& report) {
  const std::string where = placeText(place);
  for (const ScanCandidate& c : banks.candidates) {
    report.errf("Found possible .ctl offset: 0x%06X%s\n", static_cast<unsigned>(c.ctlOffset),
                where.c_str());
    if (c.tblOffset) {
      report.errf("Found possible .tbl offset: 0x%06X%s\n", static_cast<unsigned>(*c.tblOffset),
                  where.c_str());
    }
  }
  for (const SequenceBank& b : sequences) {
    report.errf("Found sequence bank at 0x%06X%s with %zu sequences\n",
                static_cast<unsigned>(b.offset), where.c_str(), b.sequences.size());
  }
}

// /x without /c: the EAD sets, /x and /m: the EAD sequence files of an
// image, each reported as found.
bool findEad(const Settings& s, const RomImage& image, const Place& place, Reporter& report,
             JobPlan& plan) {
  const EadFinds finds = findEadFiles(image.data(), image.size());
  const std::string where = placeText(place);
  bool any = false;
  if (s.extractAll && !s.ctlGiven) {
    for (const EadSetFind& set : finds.sets) {
      report.errf("Found EAD sound data at 0x%06X%s with %d banks", static_cast<unsigned>(set.soundDataAt),
                  where.c_str(), set.banks);
      if (set.sampleTableAt) {
        report.errf(", sample table at 0x%06X", static_cast<unsigned>(*set.sampleTableAt));
      }
      report.err("\n");
      plan.eadSets.push_back({set, place});
      any = true;
    }
  }
  for (const EadSequenceFileFind& file : finds.sequenceFiles) {
    report.errf("Found EAD sequence file at 0x%06X%s with %zu sequences",
                static_cast<unsigned>(file.table.at), where.c_str(), file.table.entries.size());
    if (file.bankSetsAt) {
      report.errf(", bank sets at 0x%06X", static_cast<unsigned>(*file.bankSetsAt));
    }
    report.err("\n");
    plan.eadSequences.push_back({file, place});
    any = true;
  }
  if (finds.budgetSpent) {
    report.errf("Note: many places%s look like EAD files; some were not judged\n", where.c_str());
  }
  return any;
}

// /x and /m: what lies inside each compressed block of the ROM, found by
// the same scans. A block is decompressed here to be searched and again
// when it is ripped, so only one is held at a time.
void scanBlocks(const Settings& s, const RomImage& rom, Reporter& report, JobPlan& plan) {
  const int64_t budget = blockSearchBudget(rom.size());
  int64_t spent = 0;
  // Each block costs at least this much of the budget: the work of a block
  // is not only its bytes.
  constexpr int64_t kLeastCost = 4096;
  for (const FoundBlock& found :
       findCompressedBlocks(rom.data(), rom.size(), static_cast<size_t>(budget / kLeastCost) + 1)) {
    const int64_t cost = std::max(found.declaredSize, kLeastCost);
    if (spent + cost > budget) {
      report.errf(
          "Note: compressed blocks from 0x%06X on were not searched: the ROM's blocks hold more "
          "than %lld MiB in all\n",
          static_cast<unsigned>(found.offset), static_cast<long long>(budget >> 20));
      break;
    }
    spent += cost;
    std::optional<Decompressed> d =
        decompressBlock(rom.data() + found.offset, rom.size() - found.offset);
    if (!d || d->bytes.empty()) continue;
    const std::string problem = d->problem;
    const RomImage image(std::move(d->bytes));
    const Place place = found;
    ScanResult banks;
    if (s.extractAll && !s.ctlGiven) banks = findBankFiles(image);
    NullReporter quiet;
    std::vector<SequenceBank> sequences = scanForSequenceBanks(image, quiet);
    CollectingReporter ead;
    const bool anyEad = findEad(s, image, place, ead, plan);
    if (banks.candidates.empty() && sequences.empty() && !anyEad) continue;
    if (!problem.empty()) {
      report.errf("Warning: the %s block at 0x%06X stops short (%s); searched the %lld bytes it "
                  "gives\n",
                  blockFormatName(found.format), static_cast<unsigned>(found.offset),
                  problem.c_str(), static_cast<long long>(image.size()));
    }
    reportBlockFinds(place, banks, sequences, report);
    ead.replay(report);
    // Its bank files take the sample blocks found beside them in the block:
    // one given with /t lies in the ROM.
    for (const ScanCandidate& c : banks.candidates) {
      BankJob& j = plan.all.emplace_back();
      j.ctlOffset = c.ctlOffset;
      j.ctlSource = OffsetSource::Scanned;
      if (c.tblOffset) j.tbl = SampleBlock{*c.tblOffset, OffsetSource::Scanned};
      j.place = place;
    }
    for (SequenceJob& j : sequenceJobs(std::move(sequences), place)) {
      plan.sequences.push_back(std::move(j));
    }
  }
}

}  // namespace

int64_t blockSearchBudget(int64_t romSize) {
  return std::max<int64_t>(int64_t{256} << 20, 16 * romSize);
}

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
  }
  if (s.extractAll || s.extractSequences) {
    plan.sequences = sequenceJobs(scanForSequenceBanks(rom, report), std::nullopt);
  }
  if (s.extractAll) {
    if (s.ctlGiven) candidates = {{s.ctlOffset, std::nullopt}};
    plan.all = jobsFor(candidates, s, job.ctlSource);
  }
  if (s.extractAll || s.extractSequences) {
    findEad(s, rom, std::nullopt, report, plan);
    scanBlocks(s, rom, report, plan);
    const bool music = !plan.sequences.empty() || !plan.eadSequences.empty();
    if (!plan.bankFiles && !music) {
      fatal("No sequence bank found in %s\n", s.romPath.c_str());
    }
    if (plan.bankFiles && plan.all.empty() && plan.eadSets.empty() && !music) {
      fatal("\nCouldn't find .ctl file... Exiting...\n");
    }
  }
  return plan;
}

}  // namespace zaft
