// Sequence banks ("S1"): the songs of a game beside its instrument banks,
// and the scan that finds them. Big-endian:
//
//   0  revision  u16, 0x5331 ("S1")
//   2  seqCount  s16
//   4  seqArray  seqCount entries { u32 offset; s32 len; }, offsets from
//                the bank's start (the compiler aligns them to 8 bytes)
//
// Each sequence is a Standard MIDI File ("MThd") or a compact sequence
// (bank/compact_sequence.h).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "rom/rom_image.h"
#include "util/reporter.h"

namespace zaft {

constexpr uint16_t kSequenceBankRevision = 0x5331;  // "S1"
constexpr int kMaxSequences = 1024;

struct SequenceEntry {
  uint32_t offset = 0;  // from the bank's start
  int32_t len = 0;
  bool standard = false;  // a Standard MIDI File; else compact
};

struct SequenceBank {
  int64_t offset = 0;  // in the ROM
  std::vector<SequenceEntry> sequences;
  int64_t end = 0;  // one past the last byte it covers (its table, its sequences)

  const uint8_t* bytesOf(const RomImage& rom, const SequenceEntry& e) const {
    return rom.data() + offset + e.offset;
  }
};

// The sequence bank at `at` when it is one: revision "S1", 1 to 1024
// sequences, each inside the ROM with a positive length, and each plausible:
// a Standard MIDI File header, or a compact header whose used track offsets
// lie between 0x44 and its length, whose division is 1 to 0x7FFF and whose
// first track's first events read.
std::optional<SequenceBank> readSequenceBank(const RomImage& rom, int64_t at);

// Every sequence bank of the ROM, at even offsets; of overlapping ones the
// one with the most sequences. Each is reported on the error stream.
std::vector<SequenceBank> scanForSequenceBanks(const RomImage& rom, Reporter& report);

}  // namespace zaft
