#include "driver/bank_run.h"

#include <filesystem>
#include <memory>
#include <optional>

#include "bank/bank_lowering.h"
#include "bank/sample_search.h"
#include "export/header_export.h"
#include "export/sf2_export.h"
#include "util/fatal.h"

namespace zaft {

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

namespace {

std::string shareText(const SampleBlockCheck& check) {
  return formatText("%.2f%%", check.share() * 100.0);
}

}  // namespace

void makeFolder(const std::string& path, OutputBudget& budget) {
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) budget.spendEntry();
  std::filesystem::create_directories(path, error);
  if (error || !std::filesystem::is_directory(path)) {
    fatal("Unable to create output folder %s: %s\n", path.c_str(),
          error ? error.message().c_str() : "not a folder");
  }
}

// Several offsets fit equally well: the bytes cannot tell which block is
// the bank's, so the nearest was taken and the user is told to check it.
void Run::reportGuess(BankJob& job, const SampleBlockCheck& found) {
  job.tblGuessedAmong = found.alike;
  job.tblGuessCounted = found.alikeCounted;
  std::string offsets;
  for (const int64_t offset : found.alikeOffsets) {
    offsets += formatText("%s0x%06X", offsets.empty() ? "" : ", ", static_cast<unsigned>(offset));
  }
  const int64_t unlisted = found.alike - static_cast<int64_t>(found.alikeOffsets.size());
  if (unlisted > 0) {
    offsets += formatText(" and %lld%s more", static_cast<long long>(unlisted),
                          found.alikeCounted ? "" : " or");
  }
  report_.errf(
      "Warning: %lld%s offsets fit the bank file at 0x%06X equally well as its sample block "
      "(%s); took 0x%06X, the nearest to its control block: check its samples\n",
      static_cast<long long>(found.alike), found.alikeCounted ? "" : " or more",
      static_cast<unsigned>(job.ctlOffset), offsets.c_str(),
      static_cast<unsigned>(found.offset));
}

// /g and /x: when no sample block was given with /t and the one in hand (the
// scan's guess, or none) does not fit the bank, search the ROM for the one
// that fits best. Nothing found: no WAV files for this bank file.
void Run::searchWhenGuessFails(BankJob& job) {
  if (job.tbl && job.tbl->source == OffsetSource::Given) return;
  NullReporter quiet;
  const BankFile walked = walkBankFile(rom_, job.ctlOffset, limits(false), quiet);
  const std::vector<WaveProbe> waves = probesOf(walked);
  const bool haveGuess = job.tbl.has_value();
  if (haveGuess && validateSampleBlock(rom_, waves, job.tbl->offset).passes()) return;
  if (haveGuess) {
    report_.errf("The .tbl offset 0x%06X does not fit the bank file at 0x%06X; searching\n",
                 static_cast<unsigned>(job.tbl->offset), static_cast<unsigned>(job.ctlOffset));
  }
  const std::optional<SampleBlockCheck> found =
      searchSampleBlock(rom_, waves, controlExtentOf(walked));
  if (found) {
    job.tbl = SampleBlock{static_cast<int32_t>(found->offset), OffsetSource::Searched};
    report_.errf(
        "Found .tbl offset 0x%06X for the bank file at 0x%06X (%s of its ADPCM frames "
        "plausible)\n",
        static_cast<unsigned>(job.tbl->offset), static_cast<unsigned>(job.ctlOffset),
        shareText(*found).c_str());
    if (found->alike > 1) reportGuess(job, *found);
    if (!found->searchedAll) {
      report_.err(
          "Note: many offsets of this ROM fit the bank about as well; the search judged the "
          "likeliest in full and took the best of them\n");
    }
  } else {
    job.tbl.reset();
    report_.errf("No sample block fits the bank file at 0x%06X; no .wav files for it\n",
                 static_cast<unsigned>(job.ctlOffset));
  }
}

// Whether WAV files will be written, and the settings line.
void Run::reportSettings(const BankJob& job) {
  if (!job.tbl) {
    report_.err("\n.tbl file offset not specified. .wav files won't be created.\n");
  }
  report_.errf("\nRipping from .ctl offset 0x%06X", static_cast<unsigned>(job.ctlOffset));
  if (job.tbl) report_.errf(", .tbl offset 0x%06X", static_cast<unsigned>(job.tbl->offset));
  report_.err("\n");
}

// After the walk: does the sample block in use fit the bank? A warning only.
// The frames the WAV files' decoding judged are not read again.
void Run::validateAfterWalk(const BankJob& job, const BankFile& bank, const WavResult& wavs) {
  if (!job.tbl) return;
  const SampleBlockCheck check =
      validateSampleBlock(rom_, probesOf(bank), job.tbl->offset, wavs.frames);
  if (check.passes()) return;
  report_.errf(
      "Warning: the .tbl offset 0x%06X does not fit this bank: %s of its ADPCM frames "
      "are plausible%s\n",
      static_cast<unsigned>(job.tbl->offset), shareText(check).c_str(),
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

std::string Run::writeJson(const BankFile& bank, const InstrumentSet& set, const BankJob& job,
                           const WavResult& wavs, const PlannedFile& file) {
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
  const BankBlocks blocks{job.ctlOffset, job.ctlSource, job.tbl};
  {
    JsonWriter json(*sink);
    writeJsonDocument(bank, set, jsonRunInfo(rom_), blocks, wavs, json);
  }
  if (!sink->finish()) {
    const std::string failure = formatText("Error while writing JSON file %s: %s\n",
                                           file.path.c_str(), sink->error().c_str());
    report_.err(failure);
    return failure;
  }
  return std::string();
}

std::string Run::writeSoundFont(const InstrumentSet& set, const BankJob& job,
                                const PlannedFile& file) {
  if (!job.tbl) {
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
    if (const std::string why =
            zaft::writeSoundFont(rom_, set, job.tbl->offset, options, *sink, report_);
        !why.empty()) {
      failure = formatText("Soundfont file %s not written: %s\n", file.path.c_str(), why.c_str());
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
  const BankFile bank = walkBankFile(rom_, job.ctlOffset, limits(job.tbl.has_value()), report_);
  const InstrumentSet set = instrumentSetOf(bank, s_.rateRatio);
  outcome.records = bank.counters.structCount - 1;
  if (!bank.recognized) return;
  outcome.recognized = true;
  const BankOutputs outputs = plan_.planBankFile(job.folder, set, bank.stopped(), job.tbl.has_value(), s_.headerName,
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
  if (job.tbl) {
    WavOptions options;
    options.samplerChunk = s_.samplerChunk;
    options.threads = s_.threads;
    struct Count {
      BankOutcome& outcome;
      const WavResult& wavs;
      ~Count() { outcome.wavFiles = wavs.files; }
    } count{outcome, wavs};
    exportWaves(rom_, set, job.tbl->offset, outputs.waves, options, files_, report_, wavs);
  }
  if (bank.stopped()) throw FatalError(bank.stop);
  outcome.failure = wavs.failure;
  validateAfterWalk(job, bank, wavs);
  unclaim.done = true;
  const std::string headerFailure = writeHeader(bank, outputs.header);
  if (outcome.failure.empty()) outcome.failure = headerFailure;
  if (!s_.jsonName.empty()) {
    const std::string jsonFailure = writeJson(bank, set, job, wavs, outputs.json);
    outcome.jsonWritten = jsonFailure.empty();
    if (outcome.failure.empty()) outcome.failure = jsonFailure;
  }
  if (!s_.soundfontName.empty()) {
    const std::string failure = writeSoundFont(set, job, outputs.soundfont);
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

}  // namespace zaft
