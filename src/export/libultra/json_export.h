// The JSON exporter: a walked bank file as one machine-readable document
// (the same facts as the C header, for tools that should not parse C, plus
// the ROM, the offsets and which WAV file each wave table became), and the
// index of the documents of an /x run. docs/json.md is the schema.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bank/libultra/bank_file.h"
#include "bank/instrument_set.h"
#include "bank/sample_block.h"
#include "export/json_writer.h"
#include "export/libultra/midi_export.h"
#include "export/wav_export.h"
#include "rom/rom_image.h"

namespace zaft {

// How a block offset was obtained.
// What a document says about the ROM.
struct JsonRunInfo {
  std::string romFile;  // the ROM's name as the user gave it
  int64_t romSize = 0;
  ByteOrder byteOrder = ByteOrder::AsStored;
};

JsonRunInfo jsonRunInfo(const RomImage& rom);

// The token a document writes for a byte order: "asStored", "swapped16" or
// "reversed32".
const char* jsonByteOrder(ByteOrder order);

// The blocks a bank file was ripped from.
struct BankBlocks {
  int32_t ctlOffset = 0;
  OffsetSource ctlSource = OffsetSource::None;
  std::optional<SampleBlock> tbl;  // the sample block in use
};

// The whole document for one walked bank file and what its WAV files became.
void writeJsonDocument(const BankFile& bank, const InstrumentSet& set, const JsonRunInfo& info,
                       const BankBlocks& blocks, const WavResult& wavs, JsonWriter& json);

// A compressed block a find lies in: its offsets count from the block's start.
struct JsonBlockPlace {
  std::string format;  // "MIO0", "Yay0", "Yaz0"
  int64_t offset = 0;  // the block's, in the ROM
};

// One bank file of an /x run.
struct JsonIndexEntry {
  int32_t ctlOffset = 0;
  std::optional<int32_t> tblOffset;  // none: no sample block, no WAV files
  std::string folder;      // the bank file's folder, as named in the output folder
  std::string document;    // its document, relative to the index; empty when none was written
  std::string status;      // "ok", or what went wrong
  int32_t records = 0;     // structures, as the header's Struct Count
  int32_t wavFiles = 0;
  std::optional<JsonBlockPlace> block;  // none: in the ROM itself
};

// One sequence bank of the run, with what each of its sequences holds.
struct JsonSequenceEntry {
  std::string file;  // its MIDI file, relative to the index; empty when none was written
  SequenceInfo info;
  int warnings = 0;
};
struct JsonSequenceBank {
  int64_t offset = 0;
  std::string folder;
  std::string status;  // "ok", or what went wrong
  std::vector<JsonSequenceEntry> sequences;
  std::optional<JsonBlockPlace> block;  // none: in the ROM itself
  std::string driver = "libultra";  // "libultra" (a sequence bank) or "ead" (a sequence file)
};

// One EAD set of an /x run.
struct JsonEadSetEntry {
  int64_t soundDataOffset = 0;
  std::optional<int64_t> sampleTableOffset;  // none: no WAV files
  std::string folder;
  std::string document;  // relative to the index; empty when none was written
  std::string status;
  int32_t banks = 0;
  int32_t wavFiles = 0;
  std::optional<JsonBlockPlace> block;
};

// The index of an /x or /m run: the ROM, one element per bank file and one
// per sequence bank, in the order given.
void writeJsonIndex(const JsonRunInfo& info, const std::vector<JsonIndexEntry>& banks,
                    const std::vector<JsonEadSetEntry>& eadSets,
                    const std::vector<JsonSequenceBank>& sequenceBanks, JsonWriter& json);

}  // namespace zaft
