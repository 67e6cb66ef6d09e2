// Test support: writes an EAD sound set (the sound-data file, the
// sample-table file, the sequence file and the bank-sets table) from a
// description, laid out the way the game's own sound tools lay it out:
//   - each file starts with {u16 type, u16 count, count x {offset, length}},
//     its data at the next 16-byte boundary; the sound-data and
//     sample-table files end with one zero byte and are padded to 64, the
//     sequence file is padded to 64;
//   - a bank body: the pointer table (drum table, one pointer per slot)
//     padded to 16, then per sample in first-use order its record (20
//     bytes), its book and its loop, each padded to 16, then the envelopes
//     (each from a 16-byte boundary), the instruments (32 bytes each), the
//     drums (16 bytes each) and the drum table, each group padded to 16;
//   - a sample bank: its waves at 16-byte boundaries, padded to 2 and then
//     to 16 with "garbage": the byte an earlier entry of the same file holds
//     at the same distance from its start (0 where none does), as the tools'
//     cyclic write buffer leaves it; each sequence is padded to 16 the same
//     way.
// Records are shared the ways real banks share them: slots naming one
// instrument share its record, sounds naming one wave share its sample
// record, and banks naming one sample bank share its waves (each writing a
// record of its own).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "support/bank_builder.h"

namespace zaft::test {

struct EadLoopDesign {
  uint32_t start = 0, end = 0;
  int32_t count = -1;  // -1: for ever
  std::array<int16_t, 16> state{};
};

struct EadWaveDesign {
  std::vector<uint8_t> frames;  // VADPCM frames; the record's size is this, rounded up to even
  BookDesign book;              // order 2
  std::optional<EadLoopDesign> loop;  // none: the tools' unlooped record {0, end, 0, 0}
  std::vector<int16_t> decoded;       // what the frames decode to (for tests)
};

struct EadSampleBankDesign {
  std::vector<EadWaveDesign> waves;
};

struct EadSoundDesign {
  int wave = -1;        // index into its bank's sample bank's waves; -1: no sound
  float tuning = 0.5f;  // 0.5: a 16000 Hz wave at its own pitch
};

// An envelope as stored: {delay, arg} pairs, its end included.
using EadEnvelopeDesign = std::vector<std::pair<uint16_t, uint16_t>>;

struct EadInstrumentDesign {
  uint8_t rangeLow = 0, rangeHigh = 127, releaseRate = 0x10;
  int envelope = 0;  // index into the bank's envelopes
  EadSoundDesign low, normal, high;
};

struct EadDrumDesign {
  uint8_t releaseRate = 0x10, pan = 64;
  int envelope = 0;
  EadSoundDesign sound;
};

struct EadBankDesign {
  int sampleBank = 0;
  uint32_t date = 0x19960319;  // BCD
  std::vector<EadEnvelopeDesign> envelopes;
  std::vector<EadInstrumentDesign> instruments;
  std::vector<int> slots;  // index into instruments per slot; -1: an empty slot
  std::vector<EadDrumDesign> drums;
};

struct EadSetDesign {
  std::vector<EadSampleBankDesign> sampleBanks;
  std::vector<EadBankDesign> banks;
  std::vector<std::vector<uint8_t>> sequences;  // an empty one has length 0
  std::vector<std::vector<uint8_t>> bankSets;   // per sequence, as stored (default bank last)
};

// The four files back to back, each from a 16-byte boundary, and where
// things landed. Offsets are from the start of `bytes` unless said.
struct BuiltEadSet {
  std::vector<uint8_t> bytes;
  int64_t soundData = 0, sampleTable = 0, sequences = 0, bankSets = 0;
  int64_t soundDataLength = 0, sampleTableLength = 0, sequencesLength = 0, bankSetsLength = 0;
  std::vector<int64_t> bankAt;          // each bank's 16-byte header
  std::vector<uint32_t> sampleBankAt;   // from the sample-table file's start
  std::vector<std::vector<uint32_t>> waveAt;  // per sample bank, from its start
};

BuiltEadSet buildEadSet(const EadSetDesign& design);

// A wave of `pcm` encoded with a fitted book of `npredictors` predictors.
EadWaveDesign eadWave(const std::vector<int16_t>& pcm, int npredictors = 2);

// Three banks over two sample banks (banks 0 and 1 share sample bank 0):
//   bank 0: slots {0, empty, 1, 0}: instrument 0 with low, normal and high
//           sounds (normal range 30..50; its low sound the normal's wave at
//           another tuning), instrument 1 a looped wave alone; three drums
//           (pans 64, 20, 100), drum 2 on instrument 1's wave; envelopes
//           ending in hang and in stop.
//   bank 1: one instrument (release rate 0) whose high sound is a wave bank
//           0 also uses, a goto envelope.
//   bank 2: sample bank 1 (one wave of an odd frame count), one instrument,
//           no drums.
// Two sequences (the second empty) with bank sets {1, 0} and {2}.
EadSetDesign defaultEadSet();

}  // namespace zaft::test
