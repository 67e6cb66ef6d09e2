// The EAD driver's files found by their structure, anywhere in an image:
// the sound-data file (its banks), the sample-table file its samples lie
// in, the sequence file and the bank-sets table beside it.
//
// Every file starts with the same header: a type (1 sound data, 2 sample
// table, 3 sequences), a count and that many {offset, length} entries,
// the data at the next 16-byte boundary. The scan looks at every 16-byte
// boundary for one whose entries lie inside the image, 16-aligned and in
// order, the first data right after the table; a sound-data file must also
// have every bank read without a problem. A sound-data file takes the
// sample-table file of as many entries nearest after it (else before it)
// under which every bank's samples lie inside their sample banks; a
// sequence file takes the bank-sets table nearest after it whose every
// bank index names a bank of a sound-data file found.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "bank/ead/ead_bank.h"

namespace zaft {

struct EadSetFind {
  int64_t soundDataAt = 0;
  int banks = 0;
  std::optional<int64_t> sampleTableAt;  // none: no WAV files, no soundfont
};

struct EadSequenceFileFind {
  EadFileTable table;
  std::optional<int64_t> bankSetsAt;
  std::vector<std::vector<uint8_t>> bankSets;  // per sequence, the default bank last
  std::optional<int64_t> soundDataAt;          // the set its bank indices name
};

struct EadFinds {
  std::vector<EadSetFind> sets;                   // in image order
  std::vector<EadSequenceFileFind> sequenceFiles;  // in image order
  bool budgetSpent = false;  // some candidates were not judged (a hostile image)
};

EadFinds findEadFiles(const uint8_t* data, int64_t size);

}  // namespace zaft
