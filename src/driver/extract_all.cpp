#include "driver/bank_run.h"
#include "driver/summary.h"

#include <algorithm>
#include <memory>

#include "export/ead/ead_midi.h"
#include "export/libultra/midi_export.h"
#include "util/fatal.h"
#include "util/ordered_pool.h"

namespace zaft {

void Run::writeSequence(const MidiSequence& midi, const PlannedFile& name, JsonSequenceBank& done,
                        int& files, int& damaged) {
  JsonSequenceEntry& info = done.sequences.emplace_back();
  info.info = midi.info;
  info.warnings = static_cast<int>(midi.problems.size() + midi.notices.size());
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
  for (const SequenceProblem& p : midi.notices) {
    report_.errf("Warning: %s: %s at byte 0x%X of the sequence\n", name.path.c_str(),
                 p.what.c_str(), static_cast<unsigned>(p.at));
  }
  if (name.refused()) {
    report_.err(name.refusal);
    if (done.status == "ok") done.status = "failed: " + oneLine(name.refusal);
    return;
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

namespace {

std::string damagedStatus(const JsonSequenceBank& done, int damaged) {
  if (damaged > 0 && done.status == "ok") {
    return formatText("damaged: %d .mid files do not read as MIDI", damaged);
  }
  return done.status;
}

}  // namespace

// One sequence bank into its folder: a MIDI file per sequence, "%03d.mid"
// by its index.
void Run::ripSequenceBank(const SequenceBank& bank, JsonSequenceBank& done, int& files) {
  const std::string folder = OutputPlan::pathIn(s_.outputDir, done.folder);
  makeFolder(folder, budget_);
  const std::vector<PlannedFile> names = plan_.planSequences(folder, bank.sequences.size());
  int damaged = 0;
  // With /r, each sequence's render is measured ahead on the helper threads
  // while the ones before it are written.
  std::optional<OrderedPool<RenderResult>> measured;
  if (render_) {
    const int helpers = bank.sequences.size() > 1 ? std::max(s_.threads, 1) - 1 : 0;
    measured.emplace(bank.sequences.size(), helpers, static_cast<size_t>(std::max(helpers, 1)),
                     [&](size_t k) {
                       const SequenceEntry& e = bank.sequences[k];
                       return measureRender(bank.bytesOf(*rom_, e), e.len, e.standard, std::nullopt);
                     });
  }
  for (size_t k = 0; k < bank.sequences.size(); ++k) {
    const SequenceEntry& entry = bank.sequences[k];
    const uint8_t* bytes = bank.bytesOf(*rom_, entry);
    // A compact sequence is read no further than the output limit allows.
    const MidiSequence midi = entry.standard ? standardMidi(bytes, entry.len)
                                             : compactToMidi(bytes, entry.len, budget_.bytesLeft());
    writeSequence(midi, names[k], done, files, damaged);
    if (measured) {
      renderSequence(folder, k, bytes, entry.len, entry.standard, measured->take(k), rendered_);
    }
  }
  done.status = damagedStatus(done, damaged);
}

// An EAD sequence file into its folder: a MIDI file per sequence, named as
// a sequence bank's; an empty entry gives an empty track list.
void Run::ripEadSequences(const EadSequenceJob& job, JsonSequenceBank& done, int& files) {
  const std::string folder = OutputPlan::pathIn(s_.outputDir, done.folder);
  makeFolder(folder, budget_);
  const EadFileTable& table = job.find.table;
  const std::vector<PlannedFile> names = plan_.planSequences(folder, table.entries.size());
  int damaged = 0;
  for (size_t k = 0; k < table.entries.size(); ++k) {
    const EadFileEntry& e = table.entries[k];
    std::string banks;
    std::vector<int> set;
    if (k < job.find.bankSets.size() && job.find.soundDataAt) {
      const std::string where = folderOf("EAD", job.place, *job.find.soundDataAt);
      for (const uint8_t b : job.find.bankSets[k]) {
        banks += formatText("%s%d", banks.empty() ? "" : ", ", b);
        set.push_back(b);
      }
      if (!set.empty()) banks = formatText("banks of %s: %s (the last is the default)", where.c_str(), banks.c_str());
    }
    const MidiSequence midi = eadSequenceToMidi(rom_->data() + table.at + e.offset, e.length, banks,
                                                budget_.bytesLeft(), set);
    writeSequence(midi, names[k], done, files, damaged);
  }
  done.status = damagedStatus(done, damaged);
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
                    const std::vector<EadSetJob>& eadSets,
                    const std::vector<EadSequenceJob>& eadSequences, bool withBankFiles) {
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
  if (s_.render && !budget_.exhausted()) {
    statusOf(report_, [&] {
      prepareRender(banks);
      return std::string();
    });
    if (render_ && !eadSequences.empty()) {
      report_.err("Note: /r renders the SDK library's sequences; EAD sequence files are not rendered\n");
    }
  }
  std::vector<EadSetResult> sets;
  for (const EadSetJob& given : eadSets) {
    if (budget_.exhausted()) break;
    EadSetResult& d = sets.emplace_back();
    d.job = given;
    d.folder = folderOf("EAD", given.place, given.find.soundDataAt);
    d.banks = given.find.banks;
    d.status = statusOf(report_, [&] {
      enter(given.place);
      ripEadSet(d);
      return d.status;
    });
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
  for (const EadSequenceJob& job : eadSequences) {
    if (budget_.exhausted()) break;
    SequenceBankResult& m = music.emplace_back();
    m.sequences = job.find.table.entries.size();
    m.done.offset = job.find.table.at;
    m.done.folder = folderOf("SEQ", job.place, job.find.table.at);
    m.done.driver = "ead";
    if (job.place) m.done.block = JsonBlockPlace{blockFormatName(job.place->format), job.place->offset};
    m.done.status = "ok";
    m.done.status = statusOf(report_, [&] {
      enter(job.place);
      ripEadSequences(job, m.done, m.midiFiles);
      return m.done.status;
    });
  }
  const int failed = reportSummary(banks, sets, music, withBankFiles, report_);
  if (render_) report_.errf("%d .wav files rendered\n", rendered_);
  if (!s_.jsonName.empty() &&
      !writeRunIndex(banks, sets, music, s_, romFile_, plan_, files_, report_)) {
    return 1;
  }
  return failed == 0 && !budget_.exhausted() ? 0 : 1;
}

}  // namespace zaft
