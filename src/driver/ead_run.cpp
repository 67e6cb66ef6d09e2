// One EAD set ripped whole: its records read, lowered into the instrument
// model, and written as every libultra bank file's are (WAV files through
// the output plan, the JSON document, the soundfont), into its folder.
#include "driver/bank_run.h"

#include "bank/ead/ead_lowering.h"
#include "export/exporter.h"
#include "util/fatal.h"

namespace zaft {

void Run::ripEadSet(EadSetResult& done) {
  const EadSetFind& find = done.job.find;
  const std::string folder = OutputPlan::pathIn(s_.outputDir, done.folder);
  makeFolder(folder, budget_);
  report_.errf("\nRipping EAD sound data at 0x%06X%s", static_cast<unsigned>(find.soundDataAt),
               placeText(done.job.place).c_str());
  if (find.sampleTableAt) {
    report_.errf(", sample table at 0x%06X", static_cast<unsigned>(*find.sampleTableAt));
  }
  report_.err("\n");
  if (!find.sampleTableAt) {
    report_.err("No sample table fits it: no .wav files and no soundfont for it\n");
  }
  const EadSoundData sounds =
      readEadSoundData(rom_->data(), rom_->size(), find.soundDataAt, find.sampleTableAt.value_or(-1));
  for (const EadProblem& p : sounds.problems) {
    if (p.offset < 0) continue;  // the sample table not found: said above
    report_.errf("Warning: EAD sound data at 0x%06X: %s at 0x%06X\n",
                 static_cast<unsigned>(find.soundDataAt), p.what.c_str(),
                 static_cast<unsigned>(p.offset));
  }
  const InstrumentSet set = instrumentSetOf(sounds);
  std::vector<Requested> rows = {{&eadJsonExporter(), s_.jsonName},
                                 {&soundFontExporter(), s_.soundfontName},
                                 {&sfzExporter(), s_.sfzName}};
  std::erase_if(rows, [](const Requested& r) { return r.name.empty(); });
  std::vector<OutputRequest> requests;
  for (const Requested& r : rows) {
    requests.push_back({r.exporter->what, r.name, r.exporter->needsSamples});
  }
  const bool withWaves = find.sampleTableAt.has_value();
  const BankOutputs outputs = plan_.planBankFile(folder, set, false, withWaves, requests);
  WavResult wavs;
  if (withWaves) {
    WavOptions options;
    options.samplerChunk = s_.samplerChunk;
    options.threads = s_.threads;
    exportWaves(*rom_, set, *find.sampleTableAt, outputs.waves, options, files_, report_, wavs);
    done.wavFiles = wavs.files;
  }
  std::optional<SampleBlock> tbl;
  if (withWaves) tbl = SampleBlock{static_cast<int32_t>(*find.sampleTableAt), OffsetSource::Scanned};
  const BankData data{*rom_, romFile_, nullptr, &sounds, set,
                      static_cast<int32_t>(find.soundDataAt), OffsetSource::Scanned, tbl, wavs,
                      s_.fieldWidth, folder};
  BankOutcome outcome;
  outcome.failure = wavs.failure;
  writeOutputs(data, rows, outputs, outcome);
  done.written = outcome.written;
  if (wavs.files != 0) report_.progressf("%d .wav files extracted\n", wavs.files);
  done.status = outcome.failure.empty() ? "ok" : "failed: " + oneLine(outcome.failure);
}

}  // namespace zaft
