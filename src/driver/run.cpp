#include "driver/run.h"

#include <filesystem>
#include <memory>
#include <optional>

#include "bank/offset_scan.h"
#include "bank/sequence_bank.h"
#include "bank/sample_block.h"
#include "bank/sample_search.h"
#include "bank/walk.h"
#include "driver/options.h"
#include "export/byte_sink.h"
#include "export/header_export.h"
#include "export/json_export.h"
#include "export/midi_export.h"
#include "export/output_plan.h"
#include "export/sf2_export.h"
#include "export/wav_export.h"
#include "rom/rom_image.h"
#include "util/fatal.h"
#include "util/reporter.h"
#include "util/signals.h"

namespace zaft {

namespace {

const char* const kUsageText =
    "ZAFT: N64 sound bank extractor\n"
    "usage:\n"
    "  ZAFT [/c offset] [/t offset] [/q] [/f width] [/o header]\n"
    "       [/n template] [/a ratio] filename\n"
    "  /c offset   Offset of Sound Bank Control Block (.ctl)\n"
    "  /t offset   Offset of Sound Bank Table Block   (.tbl) Default = 0\n"
    "  /q          Quiet operation\n"
    "  /o header   Header filename. Default = CONTROL.H\n"
    "  /f width    Width of generated fields in header file. Default = 10\n"
    "  /n template Struct naming template. Default = %t%2i%2s\n"
    "              %t Struct Name      %b Bank\n"
    "              %i Instrument       %s Sound\n"
    "              %c Struct Id\n"
    "  /a ratio    Sampling rate adjustment. Default = 1.0 (none)\n"
    "  filename    ROM Filename. Any format (byte swapped or not)\n"
    "  /d dir      Output folder, created when missing. Default = current folder\n"
    "  /x          Extract every bank file found, each into a folder CTL_xxxxxx\n"
    "  /l          Add loop points and root key to WAV files (a \"smpl\" chunk)\n"
    "  /j file     Also describe the bank file as a JSON document\n"
    "  /g          Search the ROM for the sample block when the guess does not fit\n"
    "  /s file     Also write the instruments as a SoundFont 2 file\n"
    "  /m          Extract every sequence bank found, each into a folder SEQ_xxxxxx\n"
    "  /u          No limit on what the run writes (default: 64 times the ROM's size, at least\n"
    "              512 MiB, and 100,000 files and folders)\n"
    "  /p threads  Threads that decode WAV files, one of them also writing (1: a single\n"
    "              thread does all). Default = one per core, at most 4\n"
    "\n";

// One bank file to rip: where it is, which sample block it uses, where its
// files go.
struct BankJob {
  int32_t ctlOffset = 0;
  OffsetSource ctlSource = OffsetSource::None;
  bool samples = false;  // WAV files are written, from tblOffset
  int32_t tblOffset = 0;
  OffsetSource tblSource = OffsetSource::None;
  std::string folder;
};

// What became of a bank file.
struct BankOutcome {
  bool recognized = false;
  int32_t records = 0;
  int32_t wavFiles = 0;
  bool jsonWritten = false;
  std::string failure;  // the first output that was not written, and why
};

// A message on one line: line ends inside become "; ", blanks and line ends
// at either end go.
std::string oneLine(std::string text) {
  while (!text.empty() && (text.front() == '\n' || text.front() == ' ')) text.erase(0, 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') {
      line += text[i];
      continue;
    }
    while (i + 1 < text.size() && text[i + 1] == ' ') ++i;
    line += "; ";
  }
  return line;
}

class Run {
 public:
  Run(const Settings& settings, const RomImage& rom, Reporter& report, OutputBudget& budget)
      : s_(settings), rom_(rom), report_(report), budget_(budget), plan_(rom.identity()),
        files_(budget) {}

  int single(const BankJob& job);
  // /x and /m: every bank file of `jobs` and every sequence bank, each into
  // a folder of its own, and the summary.
  int extractAll(const std::vector<BankJob>& jobs, const std::vector<SequenceBank>& sequences,
                 bool withBankFiles);

 private:
  WalkLimits limits(bool samples) const {
    WalkLimits l;
    l.nameTemplate = s_.nameTemplate;
    l.rateRatio = s_.rateRatio;
    l.samplesWritten = samples;
    return l;
  }
  void searchWhenGuessFails(BankJob& job);
  void reportSettings(const BankJob& job);
  void rip(const BankJob& job, BankOutcome& outcome);
  void validateAfterWalk(const BankJob& job, const BankFile& bank, const WavResult& wavs);
  // Both give back why the output was not written; empty when it was.
  std::string writeHeader(const BankFile& bank, const PlannedFile& file);
  std::string writeJson(const BankFile& bank, const BankJob& job, const WavResult& wavs,
                        const PlannedFile& file);
  std::string writeSoundFont(const BankFile& bank, const BankJob& job, const PlannedFile& file);
  void ripSequenceBank(const SequenceBank& bank, JsonSequenceBank& done, int& files);

  const Settings& s_;
  const RomImage& rom_;
  Reporter& report_;
  OutputBudget& budget_;
  OutputPlan plan_;
  FileTarget files_;
};

std::string shareText(const SampleBlockCheck& check) {
  return formatText("%.2f%%", check.share() * 100.0);
}

void makeFolder(const std::string& path, OutputBudget& budget) {
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) budget.spendEntry();
  std::filesystem::create_directories(path, error);
  if (error || !std::filesystem::is_directory(path)) {
    fatal("Unable to create output folder %s: %s\n", path.c_str(),
          error ? error.message().c_str() : "not a folder");
  }
}

// /g and /x: when no sample block was given with /t and the one in hand (the
// scan's guess, or none) does not fit the bank, search the ROM for the one
// that fits best. Nothing found: no WAV files for this bank file.
void Run::searchWhenGuessFails(BankJob& job) {
  if (job.tblSource == OffsetSource::Given) return;
  NullReporter quiet;
  const std::vector<WaveProbe> waves =
      probesOf(walkBankFile(rom_, job.ctlOffset, limits(false), quiet));
  const bool haveGuess = job.tblSource == OffsetSource::Scanned;
  if (haveGuess && validateSampleBlock(rom_, waves, job.tblOffset).passes()) return;
  if (haveGuess) {
    report_.errf("The .tbl offset 0x%06X does not fit the bank file at 0x%06X; searching\n",
                 static_cast<unsigned>(job.tblOffset), static_cast<unsigned>(job.ctlOffset));
  }
  const std::optional<SampleBlockCheck> found = searchSampleBlock(rom_, waves);
  if (found) {
    job.tblOffset = static_cast<int32_t>(found->offset);
    job.samples = true;
    job.tblSource = OffsetSource::Searched;
    report_.errf(
        "Found .tbl offset 0x%06X for the bank file at 0x%06X (%s of its ADPCM frames "
        "plausible)\n",
        static_cast<unsigned>(job.tblOffset), static_cast<unsigned>(job.ctlOffset),
        shareText(*found).c_str());
    if (!found->searchedAll) {
      report_.err(
          "Note: many offsets of this ROM fit the bank about as well; the search judged the "
          "likeliest in full and took the best of them\n");
    }
  } else {
    job.tblOffset = 0;
    job.samples = false;
    job.tblSource = OffsetSource::None;
    report_.errf("No sample block fits the bank file at 0x%06X; no .wav files for it\n",
                 static_cast<unsigned>(job.ctlOffset));
  }
}

// Whether WAV files will be written, and the settings line.
void Run::reportSettings(const BankJob& job) {
  if (!job.samples) {
    report_.err("\n.tbl file offset not specified. .wav files won't be created.\n");
  }
  report_.errf("\nRipping from .ctl offset 0x%06X", static_cast<unsigned>(job.ctlOffset));
  if (job.samples) report_.errf(", .tbl offset 0x%06X", static_cast<unsigned>(job.tblOffset));
  report_.err("\n");
}

// After the walk: does the sample block in use fit the bank? A warning only.
// The frames the WAV files' decoding judged are not read again.
void Run::validateAfterWalk(const BankJob& job, const BankFile& bank, const WavResult& wavs) {
  if (!job.samples) return;
  std::vector<KnownFrames> known(wavs.frames.size());
  for (size_t k = 0; k < known.size(); ++k) {
    known[k] = {wavs.frames[k].whole, wavs.frames[k].plausible, wavs.frames[k].blank};
  }
  const SampleBlockCheck check = validateSampleBlock(rom_, probesOf(bank), job.tblOffset, known);
  if (check.passes()) return;
  report_.errf(
      "Warning: the .tbl offset 0x%06X does not fit this bank: %s of its ADPCM frames "
      "are plausible%s\n",
      static_cast<unsigned>(job.tblOffset), shareText(check).c_str(),
      check.allInside ? "" : ", and some wave lies outside the ROM");
}

std::string Run::writeHeader(const BankFile& bank, const PlannedFile& file) {
  std::string failure;
  if (file.refused()) {
    failure = file.refusal;
  } else if (std::unique_ptr<ByteSink> sink = files_.open(file.path); !sink) {
    failure = formatText("Unable to write to header file %s\n  %s\n", file.path.c_str(),
                         files_.error().c_str());
  } else {
    writeHeaderText(bank, s_.fieldWidth, file.name, *sink, report_);
    if (!sink->finish()) {
      failure = formatText("Error while writing header file %s: %s\n", file.path.c_str(),
                           sink->error().c_str());
    }
  }
  if (!failure.empty()) report_.err(failure);
  return failure;
}

std::string Run::writeJson(const BankFile& bank, const BankJob& job, const WavResult& wavs,
                           const PlannedFile& file) {
  if (file.refused()) {
    report_.err(file.refusal);
    return file.refusal;
  }
  std::unique_ptr<ByteSink> sink = files_.open(file.path);
  if (!sink) {
    const std::string failure = formatText("Unable to write to JSON file %s\n  %s\n",
                                           file.path.c_str(), files_.error().c_str());
    report_.err(failure);
    return failure;
  }
  const BankBlocks blocks{job.ctlOffset, job.ctlSource, job.samples, job.tblOffset,
                          job.tblSource};
  {
    JsonWriter json(*sink);
    writeJsonDocument(bank, jsonRunInfo(rom_), blocks, wavs, json);
  }
  if (!sink->finish()) {
    const std::string failure = formatText("Error while writing JSON file %s: %s\n",
                                           file.path.c_str(), sink->error().c_str());
    report_.err(failure);
    return failure;
  }
  return std::string();
}

std::string Run::writeSoundFont(const BankFile& bank, const BankJob& job,
                                const PlannedFile& file) {
  if (!job.samples) {
    // Not a failure: the bank file has no samples to play, as it has no WAV files.
    report_.errf("No soundfont for the bank file at 0x%06X: no .tbl offset given or found\n",
                 static_cast<unsigned>(job.ctlOffset));
    return std::string();
  }
  std::string failure;
  if (file.refused()) {
    failure = file.refusal;
  } else if (std::unique_ptr<ByteSink> sink = files_.open(file.path); !sink) {
    failure = formatText("Unable to write to soundfont file %s\n  %s\n", file.path.c_str(),
                         files_.error().c_str());
  } else {
    SoundFontOptions options;
    options.title = formatText("ZAFT: bank file at 0x%06X of %s", static_cast<unsigned>(job.ctlOffset),
                               rom_.path().c_str());
    options.rateRatio = s_.rateRatio;
    if (!zaft::writeSoundFont(rom_, bank, job.tblOffset, options, *sink, report_)) {
      failure = formatText("Soundfont file %s not written\n", file.path.c_str());
    } else if (!sink->finish()) {
      failure = formatText("Error while writing soundfont file %s: %s\n", file.path.c_str(),
                           sink->error().c_str());
    }
  }
  if (!failure.empty()) report_.err(failure);
  return failure;
}

// The one path of a bank file: the walk, its WAV files, the fatal stop that
// ended the walk (after the waves finished before it), the header and the
// JSON document after a successful walk, the count.
void Run::rip(const BankJob& job, BankOutcome& outcome) {
  const BankFile bank = walkBankFile(rom_, job.ctlOffset, limits(job.samples), report_);
  outcome.records = bank.counters.structCount - 1;
  if (!bank.recognized) return;
  outcome.recognized = true;
  const BankOutputs outputs = plan_.planBankFile(job.folder, bank, job.samples, s_.headerName,
                                                s_.jsonName, s_.soundfontName);
  // A name this bank file claimed but did not write is free for later ones.
  struct Unclaim {
    OutputPlan& plan;
    const BankOutputs& outputs;
    bool done = false;
    ~Unclaim() {
      if (done) return;
      plan.release(outputs.header);
      plan.release(outputs.json);
      plan.release(outputs.soundfont);
    }
  } unclaim{plan_, outputs};
  WavResult wavs;
  if (job.samples) {
    WavOptions options;
    options.samplerChunk = s_.samplerChunk;
    options.threads = s_.threads;
    struct Count {
      BankOutcome& outcome;
      const WavResult& wavs;
      ~Count() { outcome.wavFiles = wavs.files; }
    } count{outcome, wavs};
    exportWaves(rom_, bank, job.tblOffset, outputs.waves, options, files_, report_, wavs);
  }
  if (bank.stopped()) throw FatalError(bank.stop);
  outcome.failure = wavs.failure;
  validateAfterWalk(job, bank, wavs);
  unclaim.done = true;
  const std::string headerFailure = writeHeader(bank, outputs.header);
  if (outcome.failure.empty()) outcome.failure = headerFailure;
  if (!s_.jsonName.empty()) {
    const std::string jsonFailure = writeJson(bank, job, wavs, outputs.json);
    outcome.jsonWritten = jsonFailure.empty();
    if (outcome.failure.empty()) outcome.failure = jsonFailure;
  }
  if (!s_.soundfontName.empty()) {
    const std::string failure = writeSoundFont(bank, job, outputs.soundfont);
    if (outcome.failure.empty()) outcome.failure = failure;
  }
  if (wavs.files != 0) report_.progressf("%d .wav files extracted\n", wavs.files);
}

int Run::single(const BankJob& given) {
  BankJob job = given;
  if (s_.searchSampleBlock) searchWhenGuessFails(job);
  reportSettings(job);
  BankOutcome outcome;
  rip(job, outcome);
  return outcome.failure.empty() ? 0 : 1;
}

// One sequence bank into its folder: a MIDI file per sequence, "%03d.mid"
// by its index. A file that cannot be written ends the sequence bank.
void Run::ripSequenceBank(const SequenceBank& bank, JsonSequenceBank& done, int& files) {
  const std::string folder = OutputPlan::pathIn(s_.outputDir, done.folder);
  makeFolder(folder, budget_);
  const std::vector<PlannedFile> names = plan_.planSequences(folder, bank.sequences.size());
  for (size_t k = 0; k < bank.sequences.size(); ++k) {
    const SequenceEntry& entry = bank.sequences[k];
    const PlannedFile& name = names[k];
    const uint8_t* bytes = bank.bytesOf(rom_, entry);
    const MidiSequence midi =
        entry.standard ? standardMidi(bytes, entry.len) : compactToMidi(bytes, entry.len);
    JsonSequenceEntry& info = done.sequences.emplace_back();
    info.info = midi.info;
    info.warnings = static_cast<int>(midi.problems.size());
    for (const SequenceProblem& p : midi.problems) {
      report_.errf("Warning: %s: track %d: %s at byte 0x%X of the sequence; the track ends there\n",
                   name.path.c_str(), p.track, p.what.c_str(), static_cast<unsigned>(p.at));
    }
    if (name.refused()) {
      report_.err(name.refusal);
      if (done.status == "ok") done.status = "failed: " + oneLine(name.refusal);
      continue;
    }
    std::unique_ptr<ByteSink> sink = files_.open(name.path);
    if (!sink) {
      fatal("Unable to write to MIDI file %s\n  %s\n", name.path.c_str(), files_.error().c_str());
    }
    sink->write(midi.file.data(), midi.file.size());
    if (!sink->finish()) {
      fatal("Error while writing MIDI file %s: %s\n", name.path.c_str(), sink->error().c_str());
    }
    info.file = done.folder + "/" + name.name;
    ++files;
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
                 : d.outcome.failure.empty() ? "ok"
                                             : "failed: " + oneLine(d.outcome.failure);
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
    const std::string tbl = d.job.samples
                                ? formatText(".tbl 0x%06X", static_cast<unsigned>(d.job.tblOffset))
                                : std::string("no .tbl (header only)");
    report_.errf("  CTL_%06X  .ctl 0x%06X  %s  %d records  %d .wav files  %s\n",
                 static_cast<unsigned>(d.job.ctlOffset), static_cast<unsigned>(d.job.ctlOffset),
                 tbl.c_str(), d.outcome.records, d.outcome.wavFiles, d.status.c_str());
    if (d.status.rfind("failed", 0) == 0) ++failed;
    if (!d.outcome.recognized && d.status.rfind("unrecognized", 0) == 0) ++unrecognized;
    wavFiles += d.outcome.wavFiles;
  }
  const size_t ok = done.size() - static_cast<size_t>(failed + unrecognized);
  int musicFailed = 0, midiTotal = 0;
  for (size_t k = 0; k < music.size(); ++k) {
    report_.errf("  %s  .seq 0x%06X  %zu sequences  %d .mid files  %s\n", music[k].folder.c_str(),
                 static_cast<unsigned>(music[k].offset), sequences[k].sequences.size(), midiFiles[k],
                 music[k].status.c_str());
    if (music[k].status != "ok") ++musicFailed;
    midiTotal += midiFiles[k];
  }
  if (withBankFiles) {
    report_.errf("%zu bank files: %zu ok, %d failed", done.size(), ok, failed);
    if (unrecognized > 0) report_.errf(", %d unrecognized", unrecognized);
    report_.errf("; %d .wav files in all\n", wavFiles);
  }
  if (!music.empty() || !withBankFiles) {
    report_.errf("%zu sequence banks: %zu ok, %d failed; %d .mid files in all\n", music.size(),
                 music.size() - static_cast<size_t>(musicFailed), musicFailed, midiTotal);
  }
  failed += musicFailed;

  if (!s_.jsonName.empty()) {
    // The index of the bank files' documents, in the output folder.
    std::vector<JsonIndexEntry> entries;
    for (const Done& d : done) {
      JsonIndexEntry e;
      e.ctlOffset = d.job.ctlOffset;
      e.tblOffset = d.job.samples ? d.job.tblOffset : -1;
      e.folder = d.folder;
      e.document = d.outcome.jsonWritten ? d.folder + "/" + s_.jsonName : std::string();
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

bool isHelpRequest(const std::string& arg) {
  return arg == "-h" || arg == "--help" || arg == "/?";
}

int runSequence(const std::vector<std::string>& args, FILE* out, Reporter& report) {
  if (args.size() < 2) {
    report.err(kUsageText);
    return 1;
  }
  // Help and version, unless a file of that name is there to be ripped.
  std::error_code noSuchFile;
  if (args.size() == 2 && !std::filesystem::exists(args[1], noSuchFile)) {
    if (isHelpRequest(args[1])) {
      printUsageText(out);
      return 0;
    }
    if (args[1] == "--version") {
      std::fprintf(out, "ZAFT %s\n", ZAFT_VERSION);
      return 0;
    }
  }
  const Settings s = parseOptions(args, report);
  report.setVerbose(s.verbose);

  std::unique_ptr<RomImage> rom = openRom(s.romPath);
  if (!rom) fatal("Unable to open file %s", s.romPath.c_str());
  detectByteOrder(*rom);
  // An offset past the end would rip nothing and read as a wrong revision or
  // as silence.
  if (s.ctlGiven && s.ctlOffset >= rom->size()) {
    fatal("The .ctl offset 0x%06X lies past the end of the ROM file %s (%lld bytes)\n",
          static_cast<unsigned>(s.ctlOffset), s.romPath.c_str(),
          static_cast<long long>(rom->size()));
  }
  if (s.tblGiven && s.tblOffset >= rom->size()) {
    fatal("The .tbl offset 0x%06X lies past the end of the ROM file %s (%lld bytes)\n",
          static_cast<unsigned>(s.tblOffset), s.romPath.c_str(),
          static_cast<long long>(rom->size()));
  }
  OutputBudget budget = s.unlimitedOutput ? OutputBudget() : OutputBudget::forRom(rom->size());

  BankJob job;
  job.ctlOffset = s.ctlOffset;
  job.ctlSource = s.ctlGiven ? OffsetSource::Given : OffsetSource::Scanned;
  job.tblOffset = s.tblOffset;
  // /m alone: the music only.
  const bool bankFiles = !s.extractSequences || s.extractAll;
  std::vector<ScanCandidate> candidates;
  std::vector<SequenceBank> sequences;
  if (!s.ctlGiven && bankFiles) {
    candidates = scanForBankFiles(*rom, report).candidates;
    // The first candidate other than 0 is kept; so is the first sample block
    // found for any candidate, unless /t gave one (a block found at 0 stands
    // until a later one replaces it).
    bool atZero = false;
    for (const ScanCandidate& c : candidates) {
      if (job.ctlOffset == 0) job.ctlOffset = c.ctlOffset;
      if (!s.tblGiven && job.tblOffset == 0 && c.tblOffset >= 0) job.tblOffset = c.tblOffset;
      atZero = atZero || c.ctlOffset == 0;
    }
    // A raw .ctl dump starts with its bank file: /x rips it, a single run
    // only keeps a candidate other than 0, and says how to take this one.
    if (atZero && !s.extractAll) {
      report.err("\nA bank file may start at offset 0 (a raw .ctl dump?): rip it with /c 0");
    }
    if (s.extractAll) sequences = scanForSequenceBanks(*rom, report);
    if (job.ctlOffset == 0 && (!s.extractAll || (candidates.empty() && sequences.empty()))) {
      fatal("\nCouldn't find .ctl file... Exiting...\n");
    }
  } else if (s.extractAll || s.extractSequences) {
    sequences = scanForSequenceBanks(*rom, report);
    if (!bankFiles && sequences.empty()) {
      fatal("No sequence bank found in %s\n", s.romPath.c_str());
    }
  }
  job.tblSource = s.tblGiven ? OffsetSource::Given
                             : (job.tblOffset != 0 ? OffsetSource::Scanned : OffsetSource::None);
  job.samples = s.tblGiven || job.tblOffset != 0;
  job.folder = s.outputDir;
  // Made only once the offsets are settled: a run refused before writes nothing.
  if (!s.outputDir.empty()) makeFolder(s.outputDir, budget);

  Run run(s, *rom, report, budget);
  if (!s.extractAll && !s.extractSequences) return run.single(job);
  if (!bankFiles) return run.extractAll({}, sequences, false);

  std::vector<BankJob> jobs;
  if (s.ctlGiven) candidates = {{s.ctlOffset, -1}};
  for (const ScanCandidate& c : candidates) {
    BankJob j;
    j.ctlOffset = c.ctlOffset;
    j.ctlSource = job.ctlSource;
    if (s.tblGiven) {
      j.samples = true;
      j.tblOffset = s.tblOffset;
      j.tblSource = OffsetSource::Given;
    } else if (c.tblOffset >= 0) {
      j.samples = true;
      j.tblOffset = c.tblOffset;
      j.tblSource = OffsetSource::Scanned;
    }
    jobs.push_back(j);
  }
  return run.extractAll(jobs, sequences, true);
}

}  // namespace

void printUsageText(FILE* stream) { std::fputs(kUsageText, stream); }

int runZaft(const std::vector<std::string>& args, FILE* out, FILE* err) {
  const SignalScope signals;
  ConsoleReporter report(out, err);
  try {
    const int status = runSequence(args, out, report);
    report.flush();
    return status;
  } catch (const FatalError& error) {
    report.err(error.what());
    std::fflush(err);
    return 1;
  } catch (const std::exception& error) {
    // Out of memory or a failure of the platform: reported, never a crash.
    report.errf("\nAbnormal termination: %s\n", error.what());
    std::fflush(err);
    return 1;
  }
}

}  // namespace zaft
