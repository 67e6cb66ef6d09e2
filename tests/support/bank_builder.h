// Test support: builds a whole bank file (control block and sample table
// block) from a description, laid out the way the console's bank compilers
// lay records out: the bank file at the block's start, then children before
// parents (envelopes, key maps, loops, books, wave tables, sounds,
// instruments, banks), each record aligned and padded to 8 bytes, wave data
// at 8-aligned offsets of the sample block. Records are shared by index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/rom_builder.h"

namespace zaft::test {

struct EnvelopeDesign {
  int32_t attackTime = 0;
  int32_t secondTime = 0;
  int32_t releaseTime = 0;
  uint8_t attackVolume = 127;
  uint8_t decayVolume = 100;
};

struct KeyMapDesign {
  uint8_t velocityMin = 0;
  uint8_t velocityMax = 127;
  uint8_t keyMin = 0;
  uint8_t keyMax = 127;
  uint8_t keyBase = 60;
  int8_t detune = 0;
};

struct LoopDesign {
  int32_t start = 0;
  int32_t end = 0;
  int32_t count = 0;
  bool adpcm = true;  // an ADPCM loop record is 48 bytes (with decoder state)
};

struct BookDesign {
  int32_t order = 2;
  int32_t npredictors = 0;
  std::vector<int16_t> predictors;  // npredictors * 16
};

struct WaveDesign {
  uint8_t type = 0;  // 0 ADPCM, 1 raw
  uint8_t flags = 0;
  std::vector<uint8_t> data;  // as stored in the sample block; len = size
  int loop = -1;              // index into loops, -1 for none
  int book = -1;              // index into books (ADPCM), -1 for none
};

struct SoundDesign {
  int envelope = -1;
  int keyMap = -1;
  int wave = -1;
  uint8_t samplePan = 64;
  uint8_t sampleVolume = 127;
  uint8_t flags = 0;
};

struct InstrumentDesign {
  uint8_t volume = 127;
  uint8_t pan = 64;
  uint8_t priority = 5;
  uint8_t flags = 0;
  uint8_t modulation[8] = {0, 0, 0, 0, 0, 0, 0, 0};  // trem*, vib*
  int16_t bendRange = 200;
  std::vector<int> sounds;  // indices into sounds, -1 for a null pointer
};

struct BankDesign {
  uint8_t flags = 0;
  uint8_t pad = 0;
  int32_t sampleRate = 22050;
  int percussion = -1;     // index into instruments
  std::vector<int> insts;  // indices into instruments, -1 for a null pointer
};

struct BankFileDesign {
  std::vector<EnvelopeDesign> envelopes;
  std::vector<KeyMapDesign> keyMaps;
  std::vector<LoopDesign> loops;
  std::vector<BookDesign> books;
  std::vector<WaveDesign> waves;
  std::vector<SoundDesign> sounds;
  std::vector<InstrumentDesign> instruments;
  std::vector<BankDesign> banks;
  std::vector<int> bankList;  // the bank file's `banks`; empty: every bank in order
};

// Where each record landed, as offsets from the start of its block.
struct BuiltBank {
  std::vector<uint8_t> ctl;
  std::vector<uint8_t> tbl;
  std::vector<uint32_t> envelopeAt, keyMapAt, loopAt, bookAt, waveAt, soundAt, instrumentAt,
      bankAt;
  std::vector<uint32_t> waveBase;  // each wave's `base` in the sample block
};

BuiltBank buildBank(const BankFileDesign& design);

// Copies the blocks into the ROM at the given offsets.
void placeBank(RomBuilder& rom, const BuiltBank& bank, size_t ctlOffset, size_t tblOffset);

// A book of `npredictors` simple predictors (row 1 all 2048: each sample is
// the previous one plus the residual), and frames for it.
BookDesign simpleBook(int32_t npredictors);

}  // namespace zaft::test
