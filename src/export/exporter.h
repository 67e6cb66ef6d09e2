// One seam for every output: how an output is opened, written, finished and
// reported (writeOutput), and the table of a bank file's one-file outputs.
// A new output is an exporter file and one row of bankExporters(); the
// output plan names it and refuses what must not be written, the driver
// runs every row the settings ask for through writeOutput.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bank/ead/ead_bank.h"
#include "bank/libultra/bank_file.h"
#include "bank/instrument_set.h"
#include "bank/sample_block.h"
#include "export/byte_sink.h"
#include "export/output_plan.h"
#include "export/wav_export.h"
#include "rom/rom_image.h"
#include "util/reporter.h"

namespace zaft {

// Writes `file` through `target`: refused as the plan said, or opened,
// written by `write` (which gives back why it wrote nothing, empty when it
// wrote), and finished whole. Every failure is reported naming the file and
// the reason, and given back; empty when the file was written.
std::string writeOutput(OutputTarget& target, const PlannedFile& file,
                        const std::function<std::string(ByteSink&)>& write, Reporter& report);

// What a bank file's outputs are written from.
struct BankData {
  const RomImage& rom;       // the image its offsets count in: the ROM, or a block's bytes
  const RomImage& romFile;   // the ROM the user gave
  const BankFile* bank;      // the libultra records (the header, the record dump), if its driver's
  const EadSoundData* ead;   // the EAD driver's records, if its driver's
  const InstrumentSet& set;  // the instrument model: every sound output
  int32_t ctlOffset = 0;
  OffsetSource ctlSource = OffsetSource::None;
  std::optional<SampleBlock> tbl;
  const WavResult& wavs;
  int32_t fieldWidth = 10;  // /f, for the header
  std::string folder;       // where its WAV files went (empty: the current folder)
  // The .inst source's wave files by wave table record, as written.
  const std::map<int32_t, std::string>* waveFiles = nullptr;
};

// One kind of output of a bank file, written to one file.
struct Exporter {
  const char* what;    // how messages and the plan call its file: "header file"
  const char* noun;    // how a sentence names it: "header"
  bool needsSamples;   // written only from a sample block
  // Writes the output named `name`; gives back why nothing was written.
  std::string (*write)(const BankData& data, const std::string& name, ByteSink& sink,
                       Reporter& report);
};

// The one-file outputs of a bank file, in the order they are written.
const Exporter& headerExporter();
const Exporter& jsonExporter();
const Exporter& soundFontExporter();
const Exporter& sfzExporter();
// The instrument compiler's source; its AIFC files are written before it.
const Exporter& instExporter();
// An EAD set's JSON document.
const Exporter& eadJsonExporter();

}  // namespace zaft
