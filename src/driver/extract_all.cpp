#include "driver/bank_run.h"
#include "driver/summary.h"

#include <algorithm>
#include <memory>

#include "export/libultra/midi_export.h"
#include "util/fatal.h"

namespace zaft {

// One sequence bank into its folder: a MIDI file per sequence, "%03d.mid"
// by its index. A file that cannot be written ends the sequence bank.
void Run::ripSequenceBank(const SequenceBank& bank, JsonSequenceBank& done, int& files) {
  const std::string folder = OutputPlan::pathIn(s_.outputDir, done.folder);
  makeFolder(folder, budget_);
  const std::vector<PlannedFile> names = plan_.planSequences(folder, bank.sequences.size());
  int damaged = 0;
  for (size_t k = 0; k < bank.sequences.size(); ++k) {
    const SequenceEntry& entry = bank.sequences[k];
    const PlannedFile& name = names[k];
    const uint8_t* bytes = bank.bytesOf(*rom_, entry);
    // A compact sequence is read no further than the output limit allows.
    const MidiSequence midi = entry.standard ? standardMidi(bytes, entry.len)
                                             : compactToMidi(bytes, entry.len, budget_.bytesLeft());
    JsonSequenceEntry& info = done.sequences.emplace_back();
    info.info = midi.info;
    info.warnings = static_cast<int>(midi.problems.size());
    for (const SequenceProblem& p : midi.problems) {
      if (p.track < 0) {
        report_.errf("Warning: %s: not a readable MIDI file: %s at byte 0x%X of the sequence; written as it "
                     "stands\n",
                     name.path.c_str(), p.what.c_str(), static_cast<unsigned>(p.at));
      } else {
        report_.errf("Warning: %s: track %d: %s at byte 0x%X of the sequence; the track ends there\n",
                     name.path.c_str(), p.track, p.what.c_str(), static_cast<unsigned>(p.at));
      }
    }
    if (name.refused()) {
      report_.err(name.refusal);
      if (done.status == "ok") done.status = "failed: " + oneLine(name.refusal);
      continue;
    }
    budget_.require(midi.fileBytes);
    // A file that cannot be written ends the sequence bank: its message is
    // the failure's.
    NullReporter quiet;
    const std::string failure = writeOutput(
        files_, name, [&](ByteSink& sink) { writeMidi(midi, sink); return std::string(); }, quiet);
    if (!failure.empty()) throw FatalError(failure);
    info.file = done.folder + "/" + name.name;
    ++files;
    if (midi.info.standard && !midi.problems.empty()) ++damaged;
  }
  if (damaged > 0 && done.status == "ok") {
    done.status = formatText("damaged: %d .mid files do not read as MIDI", damaged);
  }
}

namespace {

// Runs one step of /x or /m (a bank file, a sequence bank) and gives its
// status: the step's own, or "failed: " and why when it threw, said there.
template <class Step>
std::string statusOf(Reporter& report, Step step) {
  try {
    return step();
  } catch (const std::exception& error) {
    if (dynamic_cast<const FatalError*>(&error) != nullptr) {
      report.err(error.what());
    } else {
      report.errf("\nAbnormal termination: %s\n", error.what());
    }
    return "failed: " + oneLine(error.what());
  }
}

}  // namespace

// /x: every bank file, each into a folder of its own. One bank file's
// failure ends that bank file only. A bank file whose revision is not "B1"
// is no failure (as in a single run): its line says so.
int Run::extractAll(const std::vector<BankJob>& jobs, const std::vector<SequenceJob>& sequences,
                    bool withBankFiles) {
  std::vector<BankFileResult> banks;
  for (const BankJob& given : jobs) {
    BankFileResult& d = banks.emplace_back();
    d.job = given;
    d.folder = folderOf("CTL", given.place, given.ctlOffset);
    d.job.folder = OutputPlan::pathIn(s_.outputDir, d.folder);
    d.status = statusOf(report_, [&] {
      enter(given.place);
      makeFolder(d.job.folder, budget_);
      searchWhenGuessFails(d.job);
      reportSettings(d.job);
      rip(d.job, d.outcome);
      return bankFileStatus(d.job, d.outcome);
    });
    // The output limit ends the whole run, not only this bank file.
    if (budget_.exhausted()) break;
  }
  std::vector<SequenceBankResult> music;
  for (const SequenceJob& job : sequences) {
    if (budget_.exhausted()) break;
    SequenceBankResult& m = music.emplace_back();
    m.sequences = job.bank.sequences.size();
    m.done.offset = job.bank.offset;
    m.done.folder = folderOf("SEQ", job.place, job.bank.offset);
    if (job.place) m.done.block = JsonBlockPlace{blockFormatName(job.place->format), job.place->offset};
    m.done.status = "ok";
    m.done.status = statusOf(report_, [&] {
      enter(job.place);
      ripSequenceBank(job.bank, m.done, m.midiFiles);
      return m.done.status;
    });
  }
  const int failed = reportSummary(banks, music, withBankFiles, report_);
  if (!s_.jsonName.empty() &&
      !writeRunIndex(banks, music, s_, romFile_, plan_, files_, report_)) {
    return 1;
  }
  return failed == 0 && !budget_.exhausted() ? 0 : 1;
}

}  // namespace zaft
