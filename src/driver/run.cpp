#include "driver/run.h"

#include <filesystem>
#include <memory>

#include "audio/wav_writer.h"
#include "bank/readers.h"
#include "bank/sample_block.h"
#include "bank/struct_table.h"
#include "driver/fatal.h"
#include "driver/options.h"
#include "driver/run_context.h"
#include "header/header_writer.h"
#include "header/json_writer.h"
#include "rom/offset_scan.h"
#include "rom/rom_stream.h"

namespace zaft {

namespace {

constexpr size_t kMaxTemplateLength = 31;
constexpr size_t kMaxHeaderNameLength = 127;

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

void refuseNegativeOffset(const RunSettings& settings, const char* name, int32_t value) {
  if (value < 0) {
    int i = findOption(settings, name);
    fatal("Offset given with /%s must not be negative: %s\n", name,
          settings.argList[static_cast<size_t>(i + 1)].c_str());
  }
}

// Steps 3 to 7 of the run and the checks on what they read.
void readOptions(RunContext& ctx) {
  RunSettings& s = ctx.settings;
  s.tblGiven = optionInt(s, "t", s.tblOffset);
  if (s.tblGiven != 0) refuseNegativeOffset(s, "t", s.tblOffset);
  s.verbose = findOption(s, "q") == 0 ? 1 : 0;

  std::string text;
  if (optionText(s, "n", text) != 0) {
    if (text.size() > kMaxTemplateLength) {
      fatal("The /n template is too long (at most %zu characters): %s\n", kMaxTemplateLength,
            text.c_str());
    }
    std::snprintf(s.nameTemplate, sizeof s.nameTemplate, "%s", text.c_str());
  }
  optionInt(s, "f", s.fieldWidth);
  optionReal(s, "a", s.rateRatio);

  // The output folder may be an absolute path: a value that begins with "/"
  // is taken unless it looks like an option ("/" and one character).
  if (int d = findOption(s, "d"); d != 0 && d < s.argCount - 1) {
    const std::string& value = s.argList[static_cast<size_t>(d + 1)];
    if (value.empty() || value[0] != '/' || value.size() > 2) s.outputDir = value;
  }

  // A path after /o that begins with "/" is read as an option, not as the
  // header's name; say so rather than silently writing CONTROL.H.
  if (int o = findOption(s, "o"); o != 0 && o < s.argCount - 1) {
    const std::string& next = s.argList[static_cast<size_t>(o + 1)];
    if (next.size() > 2 && next[0] == '/') {
      std::fprintf(ctx.err,
                   "Warning: /o takes no value that begins with \"/\" (%s); the header keeps its "
                   "default name\n",
                   next.c_str());
    }
  }

  // The header writer reads /o itself at the end of the run; a name it could
  // not hold is refused now, before anything is written.
  if (optionText(s, "o", text) != 0 && text.size() > kMaxHeaderNameLength) {
    fatal("The /o header name is too long (at most %zu characters): %s\n", kMaxHeaderNameLength,
          text.c_str());
  }
}

// Steps 11 and 12: whether WAV files will be written, and the settings line.
void reportSettings(RunContext& ctx) {
  RunSettings& s = ctx.settings;
  if (s.tblGiven != 0 || s.tblOffset != 0) {
    s.tblGiven = 1;
  } else {
    s.tblGiven = 0;
    std::fprintf(ctx.err, "\n.tbl file offset not specified. .wav files won't be created.\n");
  }
  std::fprintf(ctx.err, "\nRipping from .ctl offset 0x%06X", s.ctlOffset);
  if (s.tblGiven == 1) std::fprintf(ctx.err, ", .tbl offset 0x%06X", s.tblOffset);
  std::fprintf(ctx.err, "\n");
}

// Steps 13 to 16 for the bank file at ctlOffset: the walk (WAV files are
// written as it goes), the header after a successful walk, the count.
// Gives back whether the bank file was read.
// /j: the bank file's JSON document, beside the header. Refuses the ROM's own
// name like every other output. Gives back whether it was written.
bool writeJsonFile(RunContext& ctx) {
  const std::string path = outputPath(ctx.settings, ctx.settings.jsonName);
  if (ctx.rom->isSameFileAs(path)) {
    std::fprintf(ctx.err, "Refusing to write JSON file %s: it is the ROM file\n", path.c_str());
    return false;
  }
  std::string headerName = "CONTROL.H";
  optionText(ctx.settings, "o", headerName);
  if (outputPath(ctx.settings, headerName) == path || wavNameTaken(ctx, ctx.settings.jsonName)) {
    std::fprintf(ctx.err, "Refusing to write JSON file %s: this run wrote another file of that name\n",
                 path.c_str());
    return false;
  }
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    std::fprintf(ctx.err, "Unable to write to JSON file %s\n", path.c_str());
    return false;
  }
  writeJsonDocument(ctx, jsonRunInfo(*ctx.rom), file);
  const bool failed = std::ferror(file) != 0;
  if (std::fclose(file) != 0 || failed) {
    std::fprintf(ctx.err, "Error while writing JSON file %s\n", path.c_str());
    return false;
  }
  return true;
}

std::string shareText(const SampleBlockCheck& check) {
  return formatText("%.2f%%", check.share() * 100.0);
}

// After the walk: does the sample block in use fit the bank? A warning only;
// nothing of the run changes.
void validateAfterWalk(RunContext& ctx) {
  if (ctx.settings.tblGiven != 1) return;
  const SampleBlockCheck check =
      validateSampleBlock(*ctx.rom, collectWaves(ctx), ctx.settings.tblOffset);
  if (check.passes()) return;
  std::fprintf(ctx.err,
               "Warning: the .tbl offset 0x%06X does not fit this bank: %s of its ADPCM frames "
               "are plausible%s\n",
               static_cast<unsigned>(ctx.settings.tblOffset), shareText(check).c_str(),
               check.allInside ? "" : ", and some wave lies outside the ROM");
}

// /g and /x: when no sample block was given with /t and the one in hand (the
// scan's guess, or none) does not fit the bank, search the ROM for the one
// that fits best. Nothing found: no WAV files for this bank file.
void searchWhenGuessFails(RunContext& ctx) {
  RunSettings& s = ctx.settings;
  if (ctx.tblSource == OffsetSource::Given) return;
  const std::vector<WaveProbe> waves = probeBankFile(*ctx.rom, s);
  const bool haveGuess = ctx.tblSource == OffsetSource::Scanned;
  if (haveGuess && validateSampleBlock(*ctx.rom, waves, s.tblOffset).passes()) return;
  if (haveGuess) {
    std::fprintf(ctx.err, "The .tbl offset 0x%06X does not fit the bank file at 0x%06X; searching\n",
                 static_cast<unsigned>(s.tblOffset), static_cast<unsigned>(s.ctlOffset));
  }
  const std::optional<SampleBlockCheck> found = searchSampleBlock(*ctx.rom, waves);
  if (found) {
    s.tblOffset = static_cast<int32_t>(found->offset);
    s.tblGiven = 1;
    ctx.tblSource = OffsetSource::Searched;
    std::fprintf(ctx.err, "Found .tbl offset 0x%06X for the bank file at 0x%06X (%s of its ADPCM frames plausible)\n",
                 static_cast<unsigned>(s.tblOffset), static_cast<unsigned>(s.ctlOffset),
                 shareText(*found).c_str());
  } else {
    s.tblOffset = 0;
    s.tblGiven = 0;
    ctx.tblSource = OffsetSource::None;
    std::fprintf(ctx.err, "No sample block fits the bank file at 0x%06X; no .wav files for it\n",
                 static_cast<unsigned>(s.ctlOffset));
  }
}

bool ripBankFile(RunContext& ctx, bool* jsonWritten = nullptr) {
  enterNullStruct(ctx);
  seekTo(*ctx.rom, ctx.settings.ctlOffset);
  const bool read = readBankFile(ctx) != 0;
  if (read) validateAfterWalk(ctx);
  if (read) writeHeader(ctx);
  if (read && !ctx.settings.jsonName.empty()) {
    const bool written = writeJsonFile(ctx);
    if (jsonWritten != nullptr) *jsonWritten = written;
  }
  if (ctx.counters.wavFiles != 0 && ctx.settings.verbose == 1) {
    std::fprintf(ctx.out, "%d .wav files extracted\n", ctx.counters.wavFiles);
  }
  return read;
}

void makeFolder(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error || !std::filesystem::is_directory(path)) {
    fatal("Unable to create output folder %s: %s\n", path.c_str(),
          error ? error.message().c_str() : "not a folder");
  }
}

// /x: every bank file of the ROM, each into a folder of its own, with its own
// table, counters and walk state. One bank file's failure ends that bank file
// only. Gives the exit status.
int ripAllBankFiles(RunContext& ctx, bool ctlGiven) {
  const RunSettings& s = ctx.settings;
  std::vector<ScanCandidate> jobs;
  if (ctlGiven) {
    jobs.push_back({s.ctlOffset, -1});
  } else {
    jobs = ctx.scanCandidates;
  }
  const bool tblGiven = s.tblGiven != 0;
  struct Outcome {
    ScanCandidate job;
    int32_t records = 0;
    int32_t wavFiles = 0;
    std::string failure;
    std::string folder;
    bool jsonWritten = false;
  };
  std::vector<Outcome> outcomes;
  for (const ScanCandidate& job : jobs) {
    RunContext bank;
    bank.settings = s;
    bank.rom = ctx.rom;
    bank.out = ctx.out;
    bank.err = ctx.err;
    bank.settings.ctlOffset = job.ctlOffset;
    bank.settings.tblGiven = tblGiven ? 1 : 0;
    if (!tblGiven) bank.settings.tblOffset = job.tblOffset >= 0 ? job.tblOffset : 0;
    if (!tblGiven && job.tblOffset >= 0) bank.settings.tblGiven = 1;
    bank.settings.outputDir =
        outputPath(s, formatText("CTL_%06X", static_cast<unsigned>(job.ctlOffset)));

    Outcome outcome;
    outcome.job = {job.ctlOffset, bank.settings.tblGiven != 0 ? bank.settings.tblOffset : -1};
    outcome.folder = formatText("CTL_%06X", static_cast<unsigned>(job.ctlOffset));
    bank.ctlSource = ctx.ctlSource;
    bank.tblSource = tblGiven ? OffsetSource::Given
                              : (job.tblOffset >= 0 ? OffsetSource::Scanned : OffsetSource::None);
    try {
      makeFolder(bank.settings.outputDir);
      searchWhenGuessFails(bank);
      outcome.job.tblOffset = bank.settings.tblGiven != 0 ? bank.settings.tblOffset : -1;
      reportSettings(bank);
      if (!ripBankFile(bank, &outcome.jsonWritten)) outcome.failure = "unrecognized bank file revision";
    } catch (const std::exception& error) {
      std::fflush(bank.out);
      const bool fatalMessage = dynamic_cast<const FatalError*>(&error) != nullptr;
      if (fatalMessage) {
        std::fputs(error.what(), bank.err);
      } else {
        std::fprintf(bank.err, "\nAbnormal termination: %s\n", error.what());
      }
      std::string reason = error.what();
      while (!reason.empty() && (reason.front() == '\n' || reason.front() == ' ')) reason.erase(0, 1);
      while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
      outcome.failure = "failed: " + reason;
    }
    outcome.records = bank.counters.structCount > 0 ? bank.counters.structCount - 1 : 0;
    outcome.wavFiles = bank.counters.wavFiles;
    outcomes.push_back(outcome);
  }

  int failed = 0;
  int wavFiles = 0;
  std::fprintf(ctx.err, "\nSummary:\n");
  for (const Outcome& o : outcomes) {
    std::string tbl = o.job.tblOffset >= 0
                          ? formatText(".tbl 0x%06X", static_cast<unsigned>(o.job.tblOffset))
                          : std::string("no .tbl (header only)");
    std::fprintf(ctx.err, "  CTL_%06X  .ctl 0x%06X  %s  %d records  %d .wav files  %s\n",
                 static_cast<unsigned>(o.job.ctlOffset), static_cast<unsigned>(o.job.ctlOffset),
                 tbl.c_str(), o.records, o.wavFiles,
                 o.failure.empty() ? "ok" : o.failure.c_str());
    if (!o.failure.empty()) ++failed;
    wavFiles += o.wavFiles;
  }
  std::fprintf(ctx.err, "%zu bank files: %zu ok, %d failed; %d .wav files in all\n",
               outcomes.size(), outcomes.size() - static_cast<size_t>(failed), failed, wavFiles);

  if (!s.jsonName.empty()) {
    // The index of the bank files' documents, in the output folder.
    std::vector<JsonIndexEntry> entries;
    for (const Outcome& o : outcomes) {
      JsonIndexEntry e;
      e.ctlOffset = o.job.ctlOffset;
      e.tblOffset = o.job.tblOffset;
      e.folder = o.folder;
      e.document = o.jsonWritten ? o.folder + "/" + s.jsonName : std::string();
      e.status = o.failure.empty() ? "ok" : o.failure;
      e.records = o.records;
      e.wavFiles = o.wavFiles;
      entries.push_back(e);
    }
    const std::string path = outputPath(s, s.jsonName);
    FILE* file = ctx.rom->isSameFileAs(path) ? nullptr : std::fopen(path.c_str(), "w");
    if (file == nullptr) {
      std::fprintf(ctx.err, "Unable to write to JSON file %s\n", path.c_str());
      return 1;
    }
    writeJsonIndex(jsonRunInfo(*ctx.rom), entries, file);
    const bool bad = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || bad) {
      std::fprintf(ctx.err, "Error while writing JSON file %s\n", path.c_str());
      return 1;
    }
  }
  return failed == 0 ? 0 : 1;
}

bool isHelpRequest(const std::string& arg) {
  return arg == "-h" || arg == "--help" || arg == "/?";
}

int runSequence(RunContext& ctx, const std::vector<std::string>& args) {
  RunSettings& s = ctx.settings;
  initRunSettings(s, args);
  if (s.argCount < 2) {
    printUsageText(ctx.err);
    return 1;
  }
  // Help and version, unless a file of that name is there to be ripped.
  std::error_code noSuchFile;
  if (s.argCount == 2 && !std::filesystem::exists(s.argList[1], noSuchFile)) {
    if (isHelpRequest(s.argList[1])) {
      printUsageText(ctx.out);
      return 0;
    }
    if (s.argList[1] == "--version") {
      std::fprintf(ctx.out, "ZAFT %s\n", ZAFT_VERSION);
      return 0;
    }
  }
  readOptions(ctx);
  const bool extractAll = findOption(s, "x") != 0;
  s.samplerChunk = findOption(s, "l") != 0;
  optionText(s, "j", s.jsonName);

  const std::string& romName = s.argList[static_cast<size_t>(s.argCount - 1)];
  std::unique_ptr<RomStream> rom = openRom(romName);
  if (!rom) fatal("Unable to open file %s", romName.c_str());
  ctx.rom = rom.get();
  detectByteOrder(*rom);

  const bool ctlGiven = optionInt(s, "c", s.ctlOffset) != 0;
  const bool tblOptionGiven = s.tblGiven != 0;
  if (!ctlGiven) {
    guessOffsets(ctx);
  } else {
    refuseNegativeOffset(s, "c", s.ctlOffset);
  }
  // Made only once the offsets are settled: a run refused before writes nothing.
  if (!s.outputDir.empty()) makeFolder(s.outputDir);
  ctx.ctlSource = ctlGiven ? OffsetSource::Given : OffsetSource::Scanned;
  ctx.tblSource = tblOptionGiven ? OffsetSource::Given
                                 : (s.tblOffset != 0 ? OffsetSource::Scanned : OffsetSource::None);
  if (extractAll) return ripAllBankFiles(ctx, ctlGiven);

  if (findOption(s, "g") != 0) searchWhenGuessFails(ctx);
  reportSettings(ctx);
  ripBankFile(ctx);
  ctx.rom = nullptr;
  return 0;
}

}  // namespace

std::string outputPath(const RunSettings& settings, const std::string& name) {
  if (settings.outputDir.empty() || (!name.empty() && name[0] == '/')) return name;
  std::string path = settings.outputDir;
  if (path.back() != '/') path += '/';
  return path + name;
}

void printUsageText(FILE* stream) { std::fputs(kUsageText, stream); }

int runZaft(const std::vector<std::string>& args, FILE* out, FILE* err) {
  RunContext ctx;
  ctx.out = out;
  ctx.err = err;
  try {
    return runSequence(ctx, args);
  } catch (const FatalError& error) {
    std::fflush(out);
    std::fputs(error.what(), err);
    std::fflush(err);
    return 1;
  } catch (const std::exception& error) {
    // Out of memory or a failure of the platform: reported, never a crash.
    std::fflush(out);
    std::fprintf(err, "\nAbnormal termination: %s\n", error.what());
    std::fflush(err);
    return 1;
  }
}

}  // namespace zaft
