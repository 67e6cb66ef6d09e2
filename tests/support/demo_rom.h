// Test support: the demo ROM. A 4 MiB cartridge-like image made entirely by
// this project's code: the console's first bytes 80 37 12 40 and a header
// titled "ZAFT DEMO", filler that looks like code and data, and two bank
// files of synthesized instruments, each followed by its sample block.
//
// Bank file 1 (two banks):
//   bank 0, 22050 Hz: a drum kit as the percussion instrument (kick, snare,
//     closed and open hi-hat; the two hats share one wave table), plucked
//     strings in three key ranges sharing one envelope, a plucked bass;
//   bank 1, 16000 Hz: a pad with an endless ADPCM loop (count -1) and an
//     organ stored as raw 16-bit samples with a raw loop (count 2147483647),
//     the two sharing one key map.
// Bank file 2: one bank at 32000 Hz whose only instrument is its percussion
//   (instCount 0): a bell and a zap.
// A sequence bank of three pieces for bank file 1's first bank.
// An EAD set (sound data, sample table, a song and its bank sets), and a
// Yaz0 block holding a copy of it.
// Every ADPCM wave has its own book (2 or 4 predictors) fitted to it.
//
// The offset scan finds exactly the two bank files: no other 16-byte
// boundary of the image starts like one. Each sample block sits at the first
// of the scan's trial positions that passes its frame test, so a run without
// offsets rips bank file 1 with the right sample block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/bank_builder.h"
#include "support/ead_builder.h"

namespace zaft::test {

constexpr size_t kDemoRomSize = 4 * 1024 * 1024;

struct DemoWave {
  std::string what;      // "kick drum", "plucked string C3", ...
  // "%c%01d%03d%02d.WAV" from the bank, instrument and sound numbers of the
  // first sound that reaches the wave in the walk.
  std::string name;
  // The file a run writes: `name`, or, when an earlier wave of the same
  // bank file already took that name, `name` with "_1", "_2", ... before
  // ".WAV".
  std::string fileName;
  uint8_t type = 0;        // 0 ADPCM, 1 raw
  int32_t sampleRate = 0;  // of the bank that first reaches the wave
  uint32_t base = 0;       // in the sample block
  uint32_t len = 0;
  BookDesign book;                  // ADPCM only
  std::vector<int16_t> source;    // the synthesized sound
  std::vector<int16_t> expected;  // the samples a correct rip writes
  int32_t loopStart = 0, loopEnd = 0, loopCount = 0;  // all 0 without a loop
};

struct DemoBankFile {
  size_t ctlOffset = 0;
  size_t tblOffset = 0;
  BuiltBank built;                  // the control and sample blocks as placed
  std::vector<int32_t> sampleRates;  // per bank, in the bank file's order
  std::vector<DemoWave> waves;       // in the order a run writes them
};

// The demo's music: a sequence bank of short pieces for bank file 1's
// first bank (strings, bass and its drum kit), compacted by the test
// support's encoder, with back-references and loops, and a Standard MIDI
// File beside them.
struct DemoSong {
  std::string what;
  bool standard = false;
};

struct DemoRom {
  std::vector<uint8_t> bytes;
  std::vector<DemoBankFile> bankFiles;
  size_t sequenceBankAt = 0;
  std::vector<DemoSong> songs;  // in the bank's order: 000.mid, 001.mid, ...
  // The EAD driver's files (test::defaultEadSet()'s banks, with a song for
  // bank 0: strings and drums, a counted loop), laid back to back at
  // eadSetAt, and the same bytes again as a Yaz0 block at eadBlockAt.
  size_t eadSetAt = 0, eadBlockAt = 0;
  BuiltEadSet ead;
};

// Deterministic: every call gives the same bytes.
DemoRom buildDemoRom();
std::vector<uint8_t> makeDemoRom();

}  // namespace zaft::test
