#include "driver/bank_run.h"

#include <filesystem>
#include <memory>
#include <optional>

#include "bank/libultra/bank_lowering.h"
#include "bank/sample_search.h"
#include "export/exporter.h"
#include "export/libultra/aifc_export.h"
#include "util/fatal.h"
#include "util/paths.h"

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

std::string folderOf(const char* kind, const Place& place, int64_t offset) {
  if (!place) return formatText("%s_%06X", kind, static_cast<unsigned>(offset));
  return formatText("%s_%06X+%06X", kind, static_cast<unsigned>(place->offset),
                    static_cast<unsigned>(offset));
}

std::string placeText(const Place& place) {
  if (!place) return std::string();
  return formatText(" in the %s block at 0x%06X", blockFormatName(place->format),
                    static_cast<unsigned>(place->offset));
}

void Run::enter(const Place& place) {
  if (!place) {
    rom_ = &romFile_;
    return;
  }
  if (block_ == nullptr || blockAt_ != place->offset) {
    block_.reset();
    blockAt_ = -1;
    std::optional<Decompressed> d = decompressBlock(romFile_.data() + place->offset,
                                                    romFile_.size() - place->offset);
    if (!d) fatal("No compressed block at 0x%06X\n", static_cast<unsigned>(place->offset));
    block_ = std::make_unique<RomImage>(std::move(d->bytes));
    blockAt_ = place->offset;
  }
  rom_ = block_.get();
}

void makeFolder(const std::string& path, OutputBudget& budget) {
  std::error_code error;
  const std::filesystem::path folder = fsPath(path);
  if (!std::filesystem::is_directory(folder, error)) budget.spendEntry();
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder, error)) {
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
  const BankFile walked = walkBankFile(*rom_, job.ctlOffset, limits(false), quiet);
  const std::vector<WaveProbe> waves = probesOf(walked);
  const bool haveGuess = job.tbl.has_value();
  if (haveGuess && validateSampleBlock(*rom_, waves, job.tbl->offset).passes()) return;
  if (haveGuess) {
    report_.errf("The .tbl offset 0x%06X does not fit the bank file at 0x%06X; searching\n",
                 static_cast<unsigned>(job.tbl->offset), static_cast<unsigned>(job.ctlOffset));
  }
  const std::optional<SampleBlockCheck> found =
      searchSampleBlock(*rom_, waves, controlExtentOf(walked));
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
  if (job.place) report_.err(placeText(job.place));
  if (job.tbl) report_.errf(", .tbl offset 0x%06X", static_cast<unsigned>(job.tbl->offset));
  report_.err("\n");
}

// After the walk: does the sample block in use fit the bank? A warning only.
// The frames the WAV files' decoding judged are not read again.
void Run::validateAfterWalk(const BankJob& job, const BankFile& bank, const WavResult& wavs) {
  if (!job.tbl) return;
  const SampleBlockCheck check =
      validateSampleBlock(*rom_, probesOf(bank), job.tbl->offset, wavs.frames);
  if (check.passes()) return;
  report_.errf(
      "Warning: the .tbl offset 0x%06X does not fit this bank: %s of its ADPCM frames "
      "are plausible%s\n",
      static_cast<unsigned>(job.tbl->offset), shareText(check).c_str(),
      check.allInside ? "" : ", and some wave lies outside the ROM");
}

// The one-file outputs the settings ask for, in the order they are written:
// the header always, the others when named.
std::vector<Run::Requested> Run::requested() const {
  std::vector<Requested> rows = {{&headerExporter(), s_.headerName},
                                 {&jsonExporter(), s_.jsonName},
                                 {&soundFontExporter(), s_.soundfontName},
                                 {&sfzExporter(), s_.sfzName},
                                 {&instExporter(), s_.instName}};
  std::erase_if(rows, [&](const Requested& r) {
    return r.exporter != &headerExporter() && r.name.empty();
  });
  return rows;
}

// Each one-file output of the bank file through the one seam; an output
// that needs samples, without a sample block, is said and is no failure
// (the bank file has no samples to play, as it has no WAV files).
void Run::writeOutputs(const BankData& data, const std::vector<Requested>& rows,
                       const BankOutputs& outputs, BankOutcome& outcome) {
  for (size_t k = 0; k < rows.size(); ++k) {
    const Exporter& exporter = *rows[k].exporter;
    if (exporter.needsSamples && !data.tbl) {
      report_.errf("No %s for the bank file at 0x%06X: no .tbl offset given or found\n",
                   exporter.noun, static_cast<unsigned>(data.ctlOffset));
      continue;
    }
    const PlannedFile& file = outputs.files[k];
    const std::string failure = writeOutput(
        files_, file,
        [&](ByteSink& sink) { return exporter.write(data, file.name, sink, report_); }, report_);
    if (failure.empty()) outcome.written.push_back(&exporter);
    if (outcome.failure.empty()) outcome.failure = failure;
  }
}

// The one path of a bank file: the walk, its WAV files, the fatal stop that
// ended the walk (after the waves finished before it), the other outputs
// after a successful walk, the count.
void Run::rip(const BankJob& job, BankOutcome& outcome) {
  const BankFile bank = walkBankFile(*rom_, job.ctlOffset, limits(job.tbl.has_value()), report_);
  const InstrumentSet set = instrumentSetOf(bank, s_.rateRatio);
  outcome.records = bank.counters.structCount - 1;
  if (!bank.recognized) return;
  outcome.recognized = true;
  const std::vector<Requested> rows = requested();
  std::vector<OutputRequest> requests;
  for (const Requested& r : rows) {
    requests.push_back({r.exporter->what, r.name, r.exporter->needsSamples});
  }
  const BankOutputs outputs =
      plan_.planBankFile(job.folder, set, bank.stopped(), job.tbl.has_value(), requests);
  // A name this bank file claimed but did not write is free for later ones.
  struct Unclaim {
    OutputPlan& plan;
    const BankOutputs& outputs;
    bool done = false;
    ~Unclaim() {
      if (done) return;
      for (const PlannedFile& file : outputs.files) plan.release(file);
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
    exportWaves(*rom_, set, job.tbl->offset, outputs.waves, options, files_, report_, wavs);
  }
  if (bank.stopped()) throw FatalError(bank.stop);
  outcome.failure = wavs.failure;
  validateAfterWalk(job, bank, wavs);
  unclaim.done = true;
  std::map<int32_t, std::string> waveFiles;
  for (size_t k = 0; k < rows.size(); ++k) {
    if (rows[k].exporter == &instExporter() && job.tbl && !outputs.files[k].refused() &&
        !outputs.files[k].name.empty()) {
      writeWaveSources(job, bank, outputs.waves, waveFiles, outcome);
    }
  }
  const BankData data{*rom_, romFile_, &bank, nullptr, set, job.ctlOffset, job.ctlSource, job.tbl,
                      wavs, s_.fieldWidth, job.folder, &waveFiles};
  writeOutputs(data, rows, outputs, outcome);
  if (wavs.files != 0) report_.progressf("%d .wav files extracted\n", wavs.files);
}

// The .inst source's AIFC files, one per wave table, beside it.
// Each is named as its WAV file is, with ".aifc" for ".WAV".
void Run::writeWaveSources(const BankJob& job, const BankFile& bank,
                           const std::vector<PlannedFile>& wavNames,
                           std::map<int32_t, std::string>& waveFiles, BankOutcome& outcome) {
  std::vector<std::string> names;
  for (const PlannedFile& wav : wavNames) names.push_back(aifcNameFor(wav.name));
  const std::vector<PlannedFile> files = plan_.planCompanions(job.folder, names, "AIFC file");
  for (size_t k = 0; k < files.size() && k < bank.waves.size(); ++k) {
    const PlannedFile& file = files[k];
    const WaveRef& ref = bank.waves[k];
    waveFiles[ref.entry] = file.name;
    if (!file.notice.empty() && !file.refused()) report_.err(file.notice);
    const std::string failure = writeOutput(
        files_, file,
        [&](ByteSink& sink) {
          const std::vector<uint8_t> bytes =
              aifcBytes(*rom_, bank, ref, job.tbl->offset, file.path, report_);
          for (size_t at = 0; at < bytes.size(); at += ByteSink::kMaxExtend) {
            sink.write(bytes.data() + at, std::min(ByteSink::kMaxExtend, bytes.size() - at));
          }
          return std::string();
        },
        report_);
    if (outcome.failure.empty()) outcome.failure = failure;
  }
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
