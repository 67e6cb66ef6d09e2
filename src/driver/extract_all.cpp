#include "driver/bank_run.h"

#include <algorithm>
#include <memory>

#include "export/midi_export.h"
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
    const uint8_t* bytes = bank.bytesOf(rom_, entry);
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
    std::unique_ptr<ByteSink> sink = files_.open(name.path);
    if (!sink) {
      fatal("Unable to write to MIDI file %s\n  %s\n", name.path.c_str(), files_.error().c_str());
    }
    writeMidi(midi, *sink);
    if (!sink->finish()) {
      fatal("Error while writing MIDI file %s: %s\n", name.path.c_str(), sink->error().c_str());
    }
    info.file = done.folder + "/" + name.name;
    ++files;
    if (midi.info.standard && !midi.problems.empty()) ++damaged;
  }
  if (damaged > 0 && done.status == "ok") {
    done.status = formatText("damaged: %d .mid files do not read as MIDI", damaged);
  }
}

// /x: every bank file, each into a folder of its own. One bank file's
// failure ends that bank file only. A bank file whose revision is not "B1"
// is no failure (as in a single run): its line says so.
int Run::extractAll(const std::vector<BankJob>& jobs, const std::vector<SequenceBank>& sequences,
                    bool withBankFiles) {
  struct Done {
    BankJob job;
    BankOutcome outcome;
    std::string status;  // "ok", or what went wrong
    std::string folder;
  };
  std::vector<Done> done;
  for (const BankJob& given : jobs) {
    Done d;
    d.job = given;
    d.folder = formatText("CTL_%06X", static_cast<unsigned>(given.ctlOffset));
    d.job.folder = OutputPlan::pathIn(s_.outputDir, d.folder);
    try {
      makeFolder(d.job.folder, budget_);
      searchWhenGuessFails(d.job);
      reportSettings(d.job);
      rip(d.job, d.outcome);
      d.status = !d.outcome.recognized      ? "unrecognized bank file revision"
                 : !d.outcome.failure.empty() ? "failed: " + oneLine(d.outcome.failure)
                 : d.job.tblGuessedAmong > 1
                     ? formatText("ok (sample block guessed among %lld%s)",
                                  static_cast<long long>(d.job.tblGuessedAmong),
                                  d.job.tblGuessCounted ? "" : " or more")
                     : "ok";
    } catch (const std::exception& error) {
      if (dynamic_cast<const FatalError*>(&error) != nullptr) {
        report_.err(error.what());
      } else {
        report_.errf("\nAbnormal termination: %s\n", error.what());
      }
      d.status = "failed: " + oneLine(error.what());
    }
    done.push_back(std::move(d));
    // The output limit ends the whole run, not only this bank file.
    if (budget_.exhausted()) break;
  }
  std::vector<JsonSequenceBank> music;
  std::vector<int> midiFiles;
  for (const SequenceBank& bank : sequences) {
    if (budget_.exhausted()) break;
    JsonSequenceBank& m = music.emplace_back();
    int& files = midiFiles.emplace_back(0);
    m.offset = bank.offset;
    m.folder = formatText("SEQ_%06X", static_cast<unsigned>(bank.offset));
    m.status = "ok";
    try {
      ripSequenceBank(bank, m, files);
    } catch (const std::exception& error) {
      if (dynamic_cast<const FatalError*>(&error) != nullptr) {
        report_.err(error.what());
      } else {
        report_.errf("\nAbnormal termination: %s\n", error.what());
      }
      m.status = "failed: " + oneLine(error.what());
    }
  }

  int failed = 0, unrecognized = 0, wavFiles = 0;
  report_.err("\nSummary:\n");
  for (const Done& d : done) {
    const std::string tbl = d.job.tbl
                                ? formatText(".tbl 0x%06X", static_cast<unsigned>(d.job.tbl->offset))
                                : std::string("no .tbl (header only)");
    report_.errf("  CTL_%06X  .ctl 0x%06X  %s  %d records  %d .wav files  %s\n",
                 static_cast<unsigned>(d.job.ctlOffset), static_cast<unsigned>(d.job.ctlOffset),
                 tbl.c_str(), d.outcome.records, d.outcome.wavFiles, d.status.c_str());
    if (d.status.rfind("failed", 0) == 0) ++failed;
    if (!d.outcome.recognized && d.status.rfind("unrecognized", 0) == 0) ++unrecognized;
    wavFiles += d.outcome.wavFiles;
  }
  const size_t ok = done.size() - static_cast<size_t>(failed + unrecognized);
  int musicFailed = 0, musicDamaged = 0, midiTotal = 0;
  for (size_t k = 0; k < music.size(); ++k) {
    report_.errf("  %s  .seq 0x%06X  %zu sequences  %d .mid files  %s\n", music[k].folder.c_str(),
                 static_cast<unsigned>(music[k].offset), sequences[k].sequences.size(), midiFiles[k],
                 music[k].status.c_str());
    if (music[k].status.rfind("failed", 0) == 0) ++musicFailed;
    if (music[k].status.rfind("damaged", 0) == 0) ++musicDamaged;
    midiTotal += midiFiles[k];
  }
  if (withBankFiles) {
    report_.errf("%zu bank files: %zu ok, %d failed", done.size(), ok, failed);
    if (unrecognized > 0) report_.errf(", %d unrecognized", unrecognized);
    report_.errf("; %d .wav files in all\n", wavFiles);
  }
  if (!music.empty() || !withBankFiles) {
    report_.errf("%zu sequence banks: %zu ok, %d failed", music.size(),
                 music.size() - static_cast<size_t>(musicFailed + musicDamaged), musicFailed);
    if (musicDamaged > 0) report_.errf(", %d damaged", musicDamaged);
    report_.errf("; %d .mid files in all\n", midiTotal);
  }
  failed += musicFailed;

  if (!s_.jsonName.empty()) {
    // The index of the bank files' documents, in the output folder.
    std::vector<JsonIndexEntry> entries;
    for (const Done& d : done) {
      JsonIndexEntry e;
      e.ctlOffset = d.job.ctlOffset;
      if (d.job.tbl) e.tblOffset = d.job.tbl->offset;
      e.folder = d.folder;
      const std::vector<const Exporter*>& written = d.outcome.written;
      const bool documented =
          std::find(written.begin(), written.end(), &jsonExporter()) != written.end();
      e.document = documented ? d.folder + "/" + s_.jsonName : std::string();
      e.status = d.status;
      e.records = d.outcome.records;
      e.wavFiles = d.outcome.wavFiles;
      entries.push_back(e);
    }
    const PlannedFile index = plan_.planIndex(s_.outputDir, s_.jsonName);
    if (index.refused()) {
      report_.err(index.refusal);
      return 1;
    }
    std::unique_ptr<ByteSink> sink = files_.open(index.path);
    if (!sink) {
      report_.errf("Unable to write to JSON file %s\n  %s\n", index.path.c_str(),
                   files_.error().c_str());
      return 1;
    }
    {
      JsonWriter json(*sink);
      writeJsonIndex(jsonRunInfo(rom_), entries, music, json);
    }
    if (!sink->finish()) {
      report_.errf("Error while writing JSON file %s: %s\n", index.path.c_str(),
                   sink->error().c_str());
      return 1;
    }
  }
  return failed == 0 && !budget_.exhausted() ? 0 : 1;
}

}  // namespace zaft
