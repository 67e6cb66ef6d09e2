#include "driver/run.h"

#include <filesystem>

#include "bank/offset_scan.h"
#include "bank/sequence_bank.h"
#include "driver/bank_run.h"
#include "driver/options.h"
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
  if (s.tbl && s.tbl->offset >= rom->size()) {
    fatal("The .tbl offset 0x%06X lies past the end of the ROM file %s (%lld bytes)\n",
          static_cast<unsigned>(s.tbl->offset), s.romPath.c_str(),
          static_cast<long long>(rom->size()));
  }
  OutputBudget budget = s.unlimitedOutput ? OutputBudget() : OutputBudget::forRom(rom->size());

  BankJob job;
  job.ctlOffset = s.ctlOffset;
  job.ctlSource = s.ctlGiven ? OffsetSource::Given : OffsetSource::Scanned;
  job.tbl = s.tbl;
  // /m alone: the music only.
  const bool bankFiles = !s.extractSequences || s.extractAll;
  std::vector<ScanCandidate> candidates;
  std::vector<SequenceBank> sequences;
  if (!s.ctlGiven && bankFiles) {
    candidates = scanForBankFiles(*rom, report).candidates;
    // The first candidate other than 0 is kept; so is the first sample block
    // other than 0 found for any candidate, unless /t gave one.
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
  job.folder = s.outputDir;
  // Made only once the offsets are settled: a run refused before writes nothing.
  if (!s.outputDir.empty()) makeFolder(s.outputDir, budget);

  Run run(s, *rom, report, budget);
  if (!s.extractAll && !s.extractSequences) return run.single(job);
  if (!bankFiles) return run.extractAll({}, sequences, false);

  std::vector<BankJob> jobs;
  if (s.ctlGiven) candidates = {{s.ctlOffset, std::nullopt}};
  for (const ScanCandidate& c : candidates) {
    BankJob j;
    j.ctlOffset = c.ctlOffset;
    j.ctlSource = job.ctlSource;
    j.tbl = s.tbl;
    if (!j.tbl && c.tblOffset) j.tbl = SampleBlock{*c.tblOffset, OffsetSource::Scanned};
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
