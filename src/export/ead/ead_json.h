// The JSON description of an EAD sound set: every record the reader read
// (the two file tables, the banks, instruments, drums, sample records,
// samples, books, loops and envelopes), each with its image offset, the
// WAV file each sample becomes, and every problem found.
//
//   {"format": "zaft-ead", "formatVersion": 1, "rom": {...},
//    "soundData": {"offset", "entries": [{"offset", "length"}]},
//    "sampleTable": {...}, "sampleBanks": [...], "banks": [...],
//    "instruments": [...], "drums": [...], "sampleRecords": [...],
//    "samples": [...], "books": [...], "loops": [...], "envelopes": [...],
//    "plausible": true, "problems": [{"offset", "what"}]}
//
// A record refers to another by its index in that other's array (null:
// none). Pointers are written as stored (from their bank body's start)
// beside the index they lead to.
#pragma once

#include "bank/ead/ead_bank.h"
#include "bank/instrument_set.h"
#include "export/json_writer.h"
#include "export/libultra/json_export.h"

namespace zaft {

// The whole document; `set` is instrumentSetOf(sounds).
void writeEadJsonDocument(const EadSoundData& sounds, const InstrumentSet& set,
                          const JsonRunInfo& info, JsonWriter& json);

}  // namespace zaft
