#include "driver/run.h"

#include <filesystem>
#include <optional>

#include "driver/bank_run.h"
#include "driver/options.h"
#include "driver/plan_jobs.h"
#include "rom/rom_image.h"
#include "util/fatal.h"
#include "util/reporter.h"
#include "util/signals.h"
#include "util/paths.h"

namespace zaft {

namespace {

// The usage text up to the ROM's file name is fixed; the lines of the later
// options come from the option table.
const char* const kFixedUsage =
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
    "  filename    ROM Filename. Any format (byte swapped or not)\n";

const std::string& usageText() {
  static const std::string text = kFixedUsage + optionUsageLines() + "\n";
  return text;
}

bool isHelpRequest(const std::string& arg) {
  return arg == "-h" || arg == "--help" || arg == "/?";
}

// Help and version, unless a file of that name is there to be ripped: the
// exit status when the arguments asked for one of them.
std::optional<int> helpOrVersion(const std::vector<std::string>& args, FILE* out) {
  std::error_code noSuchFile;
  if (args.size() != 2 || std::filesystem::exists(fsPath(args[1]), noSuchFile)) return std::nullopt;
  if (isHelpRequest(args[1])) {
    printUsageText(out);
    return 0;
  }
  if (args[1] == "--version") {
    std::fprintf(out, "ZAFT %s\n", ZAFT_VERSION);
    return 0;
  }
  return std::nullopt;
}

// The whole run the command line asks for; gives the exit status.
int runCommandLine(const std::vector<std::string>& args, FILE* out, Reporter& report) {
  if (args.size() < 2) {
    report.err(usageText());
    return 1;
  }
  if (const std::optional<int> status = helpOrVersion(args, out)) return *status;
  const Settings s = parseOptions(args, report);
  report.setVerbose(s.verbose);

  std::unique_ptr<RomImage> rom = openRom(s.romPath);
  if (!rom) fatal("Unable to open file %s", s.romPath.c_str());
  detectByteOrder(*rom);
  const JobPlan plan = planJobs(s, *rom, report);
  OutputBudget budget = s.unlimitedOutput ? OutputBudget() : OutputBudget::forRom(rom->size());
  // Made only once the offsets are settled: a run refused before writes nothing.
  if (!s.outputDir.empty()) makeFolder(s.outputDir, budget);

  Run run(s, *rom, report, budget);
  if (!s.extractAll && !s.extractSequences) {
    if (s.render) report.err("Note: /r renders the sequences that /m and /x write; this run writes none\n");
    return run.single(plan.single);
  }
  return run.extractAll(plan.all, plan.sequences, plan.eadSets, plan.eadSequences, plan.bankFiles);
}

}  // namespace

void printUsageText(FILE* stream) { std::fputs(usageText().c_str(), stream); }

int runZaft(const std::vector<std::string>& args, FILE* out, FILE* err) {
  const SignalScope signals;
  ConsoleReporter report(out, err);
  try {
    const int status = runCommandLine(args, out, report);
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
