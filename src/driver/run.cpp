#include "driver/run.h"

#include <memory>

#include "audio/wav_writer.h"
#include "bank/readers.h"
#include "bank/struct_table.h"
#include "driver/fatal.h"
#include "driver/options.h"
#include "driver/run_context.h"
#include "header/header_writer.h"
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

  // The header writer reads /o itself at the end of the run; a name it could
  // not hold is refused now, before anything is written.
  if (optionText(s, "o", text) != 0 && text.size() > kMaxHeaderNameLength) {
    fatal("The /o header name is too long (at most %zu characters): %s\n", kMaxHeaderNameLength,
          text.c_str());
  }
}

int runSequence(RunContext& ctx, const std::vector<std::string>& args) {
  RunSettings& s = ctx.settings;
  initRunSettings(s, args);
  if (s.argCount < 2) {
    printUsageText(ctx.err);
    return 1;
  }
  readOptions(ctx);

  const std::string& romName = s.argList[static_cast<size_t>(s.argCount - 1)];
  std::unique_ptr<RomStream> rom = openRom(romName);
  if (!rom) fatal("Unable to open file %s", romName.c_str());
  ctx.rom = rom.get();
  detectByteOrder(*rom);

  if (optionInt(s, "c", s.ctlOffset) == 0) {
    guessOffsets(ctx);
  } else {
    refuseNegativeOffset(s, "c", s.ctlOffset);
  }

  if (s.tblGiven != 0 || s.tblOffset != 0) {
    s.tblGiven = 1;
  } else {
    s.tblGiven = 0;
    std::fprintf(ctx.err, "\n.tbl file offset not specified. .wav files won't be created.\n");
  }
  std::fprintf(ctx.err, "\nRipping from .ctl offset 0x%06X", s.ctlOffset);
  if (s.tblGiven == 1) std::fprintf(ctx.err, ", .tbl offset 0x%06X", s.tblOffset);
  std::fprintf(ctx.err, "\n");

  enterNullStruct(ctx);
  seekTo(*rom, s.ctlOffset);
  if (readBankFile(ctx) != 0) writeHeader(ctx);

  if (ctx.counters.wavFiles != 0 && s.verbose == 1) {
    std::fprintf(ctx.out, "%d .wav files extracted\n", ctx.counters.wavFiles);
  }
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
  }
}

}  // namespace zaft
