// A walked libultra bank file lowered into the instrument model: the
// library's rules applied once, beside the records they read.
//   - Samples: one per wave table the walk finished, in walk order, each as
//     the first sound that reached it plays it (its bank's rate, its key
//     map's pitch, keyBase * 100 - detune cents).
//   - Instruments: one per instrument record and bank rate that some preset
//     selects; preset bank b, program i is instrument i of bank b, preset
//     bank 128, program b bank b's percussion instrument.
//   - Zones: the console plays exactly one sound per note, found by a binary
//     search over the instrument's sounds (consoleSoundFor); each sound's
//     zones are the (key, velocity) rectangles that search picks it for, so
//     overlapping or badly sorted key maps sound as on the console.
#pragma once

#include <string>

#include "bank/libultra/bank_file.h"
#include "bank/instrument_set.h"

namespace zaft {

InstrumentSet instrumentSetOf(const BankFile& bank, double rateRatio);

// The index in `inst.sounds` of the sound the console plays for (key,
// velocity), or -1 when the note is silent. A null sound, or one without a
// key map, matches nothing and sends the search on upwards.
int consoleSoundFor(const StructTable& table, const ALInstrument& inst, int key, int velocity);

// "A" (VADPCM) or "@" (raw), then bank (1 digit), instrument (3) and sound
// (2) of the sound that first reached the wave: A000501.WAV.
std::string waveFileName(uint8_t type, const WalkIndices& at);

}  // namespace zaft
