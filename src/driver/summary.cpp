#include "driver/summary.h"

#include <algorithm>

#include <memory>

#include "export/json_writer.h"
#include "util/fatal.h"

namespace zaft {

namespace {

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The counts of one kind of the summary's lines.
struct Tally {
  size_t all = 0;
  int failed = 0;
  int other = 0;  // bank files: unrecognized; sequence banks: damaged
  int files = 0;  // .wav or .mid files
};

Tally bankFileLines(const std::vector<BankFileResult>& banks, Reporter& report) {
  Tally t;
  t.all = banks.size();
  for (const BankFileResult& d : banks) {
    const std::string tbl = d.job.tbl
                                ? formatText(".tbl 0x%06X", static_cast<unsigned>(d.job.tbl->offset))
                                : std::string("no .tbl (header only)");
    report.errf("  %s  .ctl 0x%06X  %s  %d records  %d .wav files  %s\n", d.folder.c_str(),
                static_cast<unsigned>(d.job.ctlOffset),
                tbl.c_str(), d.outcome.records, d.outcome.wavFiles, d.status.c_str());
    if (startsWith(d.status, "failed")) ++t.failed;
    if (!d.outcome.recognized && startsWith(d.status, "unrecognized")) ++t.other;
    t.files += d.outcome.wavFiles;
  }
  return t;
}

Tally eadSetLines(const std::vector<EadSetResult>& sets, Reporter& report) {
  Tally t;
  t.all = sets.size();
  for (const EadSetResult& d : sets) {
    const std::string tbl =
        d.job.find.sampleTableAt
            ? formatText(".tbl 0x%06X", static_cast<unsigned>(*d.job.find.sampleTableAt))
            : std::string("no .tbl");
    report.errf("  %s  .ctl 0x%06X  %s  %d banks  %d .wav files  %s\n", d.folder.c_str(),
                static_cast<unsigned>(d.job.find.soundDataAt), tbl.c_str(), d.banks, d.wavFiles,
                d.status.c_str());
    if (startsWith(d.status, "failed")) ++t.failed;
    t.files += d.wavFiles;
  }
  return t;
}

Tally sequenceBankLines(const std::vector<SequenceBankResult>& music, Reporter& report) {
  Tally t;
  t.all = music.size();
  for (const SequenceBankResult& m : music) {
    report.errf("  %s  .seq 0x%06X  %zu sequences  %d .mid files  %s\n", m.done.folder.c_str(),
                static_cast<unsigned>(m.done.offset), m.sequences, m.midiFiles,
                m.done.status.c_str());
    if (startsWith(m.done.status, "failed")) ++t.failed;
    if (startsWith(m.done.status, "damaged")) ++t.other;
    t.files += m.midiFiles;
  }
  return t;
}

}  // namespace

std::string bankFileStatus(const BankJob& job, const BankOutcome& outcome) {
  if (!outcome.recognized) return "unrecognized bank file revision";
  if (!outcome.failure.empty()) return "failed: " + oneLine(outcome.failure);
  if (job.tblGuessedAmong > 1) {
    return formatText("ok (sample block guessed among %lld%s)",
                      static_cast<long long>(job.tblGuessedAmong),
                      job.tblGuessCounted ? "" : " or more");
  }
  return "ok";
}

int reportSummary(const std::vector<BankFileResult>& banks,
                  const std::vector<EadSetResult>& eadSets,
                  const std::vector<SequenceBankResult>& music, bool withBankFiles,
                  Reporter& report) {
  report.err("\nSummary:\n");
  const Tally b = bankFileLines(banks, report);
  const Tally e = eadSetLines(eadSets, report);
  const Tally m = sequenceBankLines(music, report);
  if (withBankFiles) {
    report.errf("%zu bank files: %zu ok, %d failed", b.all,
                b.all - static_cast<size_t>(b.failed + b.other), b.failed);
    if (b.other > 0) report.errf(", %d unrecognized", b.other);
    report.errf("; %d .wav files in all\n", b.files);
  }
  if (!eadSets.empty()) {
    report.errf("%zu EAD sets: %zu ok, %d failed; %d .wav files in all\n", e.all,
                e.all - static_cast<size_t>(e.failed), e.failed, e.files);
  }
  if (!music.empty() || !withBankFiles) {
    report.errf("%zu sequence banks: %zu ok, %d failed", m.all,
                m.all - static_cast<size_t>(m.failed + m.other), m.failed);
    if (m.other > 0) report.errf(", %d damaged", m.other);
    report.errf("; %d .mid files in all\n", m.files);
  }
  return b.failed + e.failed + m.failed;
}

bool writeRunIndex(const std::vector<BankFileResult>& banks,
                   const std::vector<EadSetResult>& eadSets,
                   const std::vector<SequenceBankResult>& music, const Settings& s,
                   const RomImage& rom, OutputPlan& plan, OutputTarget& files, Reporter& report) {
  std::vector<JsonIndexEntry> entries;
  for (const BankFileResult& d : banks) {
    JsonIndexEntry& e = entries.emplace_back();
    if (d.job.place) {
      e.block = JsonBlockPlace{blockFormatName(d.job.place->format), d.job.place->offset};
    }
    e.ctlOffset = d.job.ctlOffset;
    if (d.job.tbl) e.tblOffset = d.job.tbl->offset;
    e.folder = d.folder;
    const std::vector<const Exporter*>& written = d.outcome.written;
    const bool documented =
        std::find(written.begin(), written.end(), &jsonExporter()) != written.end();
    e.document = documented ? d.folder + "/" + s.jsonName : std::string();
    e.status = d.status;
    e.records = d.outcome.records;
    e.wavFiles = d.outcome.wavFiles;
  }
  std::vector<JsonEadSetEntry> sets;
  for (const EadSetResult& d : eadSets) {
    JsonEadSetEntry& e = sets.emplace_back();
    if (d.job.place) {
      e.block = JsonBlockPlace{blockFormatName(d.job.place->format), d.job.place->offset};
    }
    e.soundDataOffset = d.job.find.soundDataAt;
    e.sampleTableOffset = d.job.find.sampleTableAt;
    e.folder = d.folder;
    const bool documented = std::find(d.written.begin(), d.written.end(), &eadJsonExporter()) !=
                            d.written.end();
    e.document = documented ? d.folder + "/" + s.jsonName : std::string();
    e.status = d.status;
    e.banks = d.banks;
    e.wavFiles = d.wavFiles;
  }
  std::vector<JsonSequenceBank> sequenceBanks;
  for (const SequenceBankResult& m : music) sequenceBanks.push_back(m.done);
  const PlannedFile index = plan.planIndex(s.outputDir, s.jsonName);
  const std::string failure = writeOutput(
      files, index,
      [&](ByteSink& sink) {
        JsonWriter json(sink);
        writeJsonIndex(jsonRunInfo(rom), entries, sets, sequenceBanks, json);
        return std::string();
      },
      report);
  return failure.empty();
}

}  // namespace zaft
