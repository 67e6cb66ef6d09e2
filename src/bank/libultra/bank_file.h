// A walked bank file as data: every record in its struct table, the
// banner's counters, and each wave table as the first sound that reached it
// says. Exporters work from this alone; the walk opens no file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bank/libultra/struct_table.h"

namespace zaft {

// One wave table, in the order the walk met them.
struct WaveRef {
  int32_t entry = 0;       // the ALWaveTable's StructTable index
  WalkIndices at;          // bank, instrument and sound of the first sound that reached it
  int32_t outputRate = 0;  // that bank's sampleRate times the rate ratio
  int32_t sound = 0;       // that sound's index (its samplePan, sampleVolume)
  int32_t keyMap = 0;      // that sound's key map index, 0 for none
};

struct BankFile {
  int32_t ctlOffset = 0;
  // The revision was "B1". When it is not, nothing was entered.
  bool recognized = false;
  uint16_t revision = 0;
  StructTable table;
  BankCounters counters;
  // Every wave table whose loop and book the walk got past.
  std::vector<WaveRef> waves;
  // The fatal message that ended the walk early (a bogus pointer, a full
  // table, an unknown wave type while samples are written); empty when the
  // walk finished. What was walked until then is kept.
  std::string stop;

  bool stopped() const { return !stop.empty(); }
  const ALWaveTable& wave(const WaveRef& ref) const { return table[ref.entry].as<ALWaveTable>(); }

  // The ADPCM wave's book, or nullptr.
  const ALADPCMBook* bookOf(const ALWaveTable& wave) const {
    if (wave.type != kWaveTypeAdpcm) return nullptr;
    return table.recordAt<ALADPCMBook>(wave.waveInfo.adpcmWave.book);
  }
};

}  // namespace zaft
