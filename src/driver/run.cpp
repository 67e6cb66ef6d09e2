#include "driver/run.h"

#include <filesystem>
#include <memory>
#include <optional>

#include "bank/offset_scan.h"
#include "bank/sample_block.h"
#include "bank/sample_search.h"
#include "bank/walk.h"
#include "driver/options.h"
#include "export/byte_sink.h"
#include "export/header_export.h"
#include "export/json_export.h"
#include "export/output_plan.h"
#include "export/wav_export.h"
#include "rom/rom_image.h"
#include "util/fatal.h"
#include "util/reporter.h"

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
};

class Run {
 public:
  Run(const Settings& settings, const RomImage& rom, Reporter& report)
      : s_(settings), rom_(rom), report_(report), plan_(rom.identity()) {}

  int single(const BankJob& job);
  int extractAll(const std::vector<BankJob>& jobs);

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
  void validateAfterWalk(const BankJob& job, const BankFile& bank);
  void writeHeader(const BankFile& bank, const PlannedFile& file);
  bool writeJson(const BankFile& bank, const BankJob& job, const WavResult& wavs,
                 const PlannedFile& file);

  const Settings& s_;
  const RomImage& rom_;
  Reporter& report_;
  OutputPlan plan_;
  FileTarget files_;
};

std::string shareText(const SampleBlockCheck& check) {
  return formatText("%.2f%%", check.share() * 100.0);
}

void makeFolder(const std::string& path) {
  std::error_code error;
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
void Run::validateAfterWalk(const BankJob& job, const BankFile& bank) {
  if (!job.samples) return;
  const SampleBlockCheck check = validateSampleBlock(rom_, probesOf(bank), job.tblOffset);
  if (check.passes()) return;
  report_.errf(
      "Warning: the .tbl offset 0x%06X does not fit this bank: %s of its ADPCM frames "
      "are plausible%s\n",
      static_cast<unsigned>(job.tblOffset), shareText(check).c_str(),
      check.allInside ? "" : ", and some wave lies outside the ROM");
}

void Run::writeHeader(const BankFile& bank, const PlannedFile& file) {
  if (file.refused()) {
    report_.err(file.refusal);
    return;
  }
  std::unique_ptr<ByteSink> sink = files_.open(file.path);
  if (!sink) {
    report_.errf("Unable to write to header file %s\n", file.path.c_str());
    return;
  }
  writeHeaderText(bank, s_.fieldWidth, file.name, *sink, report_);
  // A full disk would otherwise leave a cut header behind in silence.
  if (!sink->finish()) report_.errf("Error while writing header file %s\n", file.path.c_str());
}

bool Run::writeJson(const BankFile& bank, const BankJob& job, const WavResult& wavs,
                    const PlannedFile& file) {
  if (file.refused()) {
    report_.err(file.refusal);
    return false;
  }
  std::unique_ptr<ByteSink> sink = files_.open(file.path);
  if (!sink) {
    report_.errf("Unable to write to JSON file %s\n", file.path.c_str());
    return false;
  }
  const BankBlocks blocks{job.ctlOffset, job.ctlSource, job.samples, job.tblOffset,
                          job.tblSource};
  {
    JsonWriter json(*sink);
    writeJsonDocument(bank, jsonRunInfo(rom_), blocks, wavs, json);
  }
  if (!sink->finish()) {
    report_.errf("Error while writing JSON file %s\n", file.path.c_str());
    return false;
  }
  return true;
}

// The one path of a bank file: the walk, its WAV files, the fatal stop that
// ended the walk (after the waves finished before it), the header and the
// JSON document after a successful walk, the count.
void Run::rip(const BankJob& job, BankOutcome& outcome) {
  const BankFile bank = walkBankFile(rom_, job.ctlOffset, limits(job.samples), report_);
  outcome.records = bank.counters.structCount - 1;
  if (!bank.recognized) return;
  outcome.recognized = true;
  const BankOutputs outputs =
      plan_.planBankFile(job.folder, bank, job.samples, s_.headerName, s_.jsonName);
  WavResult wavs;
  if (job.samples) {
    WavOptions options;
    options.samplerChunk = s_.samplerChunk;
    wavs = exportWaves(rom_, bank, job.tblOffset, outputs.waves, options, files_, report_);
  }
  outcome.wavFiles = wavs.files;
  if (bank.stopped()) throw FatalError(bank.stop);
  validateAfterWalk(job, bank);
  writeHeader(bank, outputs.header);
  if (!s_.jsonName.empty()) outcome.jsonWritten = writeJson(bank, job, wavs, outputs.json);
  if (wavs.files != 0) report_.progressf("%d .wav files extracted\n", wavs.files);
}

int Run::single(const BankJob& given) {
  BankJob job = given;
  if (s_.searchSampleBlock) searchWhenGuessFails(job);
  reportSettings(job);
  BankOutcome outcome;
  rip(job, outcome);
  return 0;
}

// Trims blanks and line ends from both ends of a message.
std::string trimmed(std::string text) {
  while (!text.empty() && (text.front() == '\n' || text.front() == ' ')) text.erase(0, 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// /x: every bank file, each into a folder of its own. One bank file's
// failure ends that bank file only. A bank file whose revision is not "B1"
// is no failure (as in a single run): its line says so.
int Run::extractAll(const std::vector<BankJob>& jobs) {
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
      makeFolder(d.job.folder);
      searchWhenGuessFails(d.job);
      reportSettings(d.job);
      rip(d.job, d.outcome);
      d.status = d.outcome.recognized ? "ok" : "unrecognized bank file revision";
    } catch (const std::exception& error) {
      if (dynamic_cast<const FatalError*>(&error) != nullptr) {
        report_.err(error.what());
      } else {
        report_.errf("\nAbnormal termination: %s\n", error.what());
      }
      d.status = "failed: " + trimmed(error.what());
    }
    done.push_back(std::move(d));
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
  report_.errf("%zu bank files: %zu ok, %d failed", done.size(), ok, failed);
  if (unrecognized > 0) report_.errf(", %d unrecognized", unrecognized);
  report_.errf("; %d .wav files in all\n", wavFiles);

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
    std::unique_ptr<ByteSink> sink = index.refused() ? nullptr : files_.open(index.path);
    if (!sink) {
      report_.errf("Unable to write to JSON file %s\n", index.path.c_str());
      return 1;
    }
    {
      JsonWriter json(*sink);
      writeJsonIndex(jsonRunInfo(rom_), entries, json);
    }
    if (!sink->finish()) {
      report_.errf("Error while writing JSON file %s\n", index.path.c_str());
      return 1;
    }
  }
  return failed == 0 ? 0 : 1;
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

  BankJob job;
  job.ctlOffset = s.ctlOffset;
  job.ctlSource = s.ctlGiven ? OffsetSource::Given : OffsetSource::Scanned;
  job.tblOffset = s.tblOffset;
  std::vector<ScanCandidate> candidates;
  if (!s.ctlGiven) {
    candidates = scanForBankFiles(*rom, report).candidates;
    // The first candidate other than 0 is kept; so is the first sample block
    // found for any candidate, unless /t gave one (a block found at 0 stands
    // until a later one replaces it).
    for (const ScanCandidate& c : candidates) {
      if (job.ctlOffset == 0) job.ctlOffset = c.ctlOffset;
      if (!s.tblGiven && job.tblOffset == 0 && c.tblOffset >= 0) job.tblOffset = c.tblOffset;
    }
    if (job.ctlOffset == 0) fatal("\nCouldn't find .ctl file... Exiting...\n");
  }
  job.tblSource = s.tblGiven ? OffsetSource::Given
                             : (job.tblOffset != 0 ? OffsetSource::Scanned : OffsetSource::None);
  job.samples = s.tblGiven || job.tblOffset != 0;
  job.folder = s.outputDir;
  // Made only once the offsets are settled: a run refused before writes nothing.
  if (!s.outputDir.empty()) makeFolder(s.outputDir);

  Run run(s, *rom, report);
  if (!s.extractAll) return run.single(job);

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
  return run.extractAll(jobs);
}

}  // namespace

void printUsageText(FILE* stream) { std::fputs(kUsageText, stream); }

int runZaft(const std::vector<std::string>& args, FILE* out, FILE* err) {
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
