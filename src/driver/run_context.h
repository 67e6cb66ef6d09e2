// The state of one run: the settings read from the command line, the
// counters, the struct table, the walk indices and the console streams.
// The run driver owns one RunContext and hands it to every subsystem by
// reference, so each unit can be driven alone in a test.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bank/struct_table.h"

namespace zaft {

class RomStream;

struct RunSettings {
  int32_t argCount = 0;
  std::vector<std::string> argList;  // entry 0 is the tool's own name
  int32_t ctlOffset = 0;
  int32_t tblOffset = 0;
  // Until the settings line: the argument index of /t (0 when absent);
  // from then on 1 when WAV files are written, else 0.
  int32_t tblGiven = 0;
  int32_t verbose = 1;
  int32_t fieldWidth = 10;
  char nameTemplate[32] = "%t%2i%2s";  // at most 31 characters
  double rateRatio = 1.0;
  // /l: every WAV file also carries a "smpl" chunk (loop and root key).
  bool samplerChunk = false;
  // /j: the JSON document's name (empty: none), inside the output folder.
  std::string jsonName;
  // Folder every output file goes to; empty for the current directory.
  std::string outputDir;
};

struct RunCounters {
  int32_t banks = 0;
  int32_t instruments = 0;
  int32_t sounds = 0;
  int32_t reusedRefs = 0;
  int32_t structCount = 0;
  int32_t wavFiles = 0;
};

// Where the walk stands; names the records and the WAV files.
struct WalkState {
  int16_t curBank = 0;
  int16_t curInst = 0;
  int16_t curSound = 0;
  int32_t outputRate = 0;
  // StructTable index of the sound whose fields are being read (0 outside
  // a sound): the WAV writer finds the key map of the sound that named a
  // wave through it.
  int32_t soundEntry = 0;
  // StructTable index of the wave table handed to the WAV writer (0 outside).
  int32_t waveEntry = 0;
};

// How a block offset was obtained.
enum class OffsetSource { None, Given, Scanned, Searched };

// What became of one wave table's samples.
struct WaveOutcome {
  std::string file;     // the WAV file's name as written (after any renaming)
  int64_t samples = 0;  // samples in its data chunk
  int32_t rate = 0;     // its sample rate
  std::string skipped;  // why no file was written; empty when one was
};

// One control-block candidate of the scan, with the sample block found for
// it (tblOffset -1 when none was).
struct ScanCandidate {
  int32_t ctlOffset = 0;
  int32_t tblOffset = -1;
};

struct RunContext {
  RunSettings settings;
  RunCounters counters;
  StructTable table;
  WalkState walk;
  RomStream* rom = nullptr;
  FILE* out = stdout;  // progress lines and the final count
  FILE* err = stderr;  // settings, findings, warnings and fatal messages

  // Pointer-array slots the walk may still store (see the readers): real
  // banks hold a few thousand; hostile ones are bounded by this.
  static constexpr int64_t kListSlotBudget = int64_t{1} << 20;
  int64_t listSlotsLeft = kListSlotBudget;

  std::vector<ScanCandidate> scanCandidates;
  OffsetSource ctlSource = OffsetSource::None;
  OffsetSource tblSource = OffsetSource::None;
  // By wave table entry index, filled by the WAV writer.
  std::map<int32_t, WaveOutcome> waveOutcomes;
  // WAV file names written so far in this run, so that a later wave never
  // replaces an earlier one.
  std::vector<std::string> wavNames;
};

// `name` inside the output folder (unchanged when there is none, or when
// `name` is absolute).
std::string outputPath(const RunSettings& settings, const std::string& name);

}  // namespace zaft
