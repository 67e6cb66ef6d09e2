// A libultra wave table's samples and pitch as the codec and the sound
// outputs take them: where the bytes lie, how they are coded, which book
// decodes them, and the pitch a key map gives.
#pragma once

#include <cstdint>

#include "audio/pitch.h"
#include "audio/samples.h"
#include "bank/bank_file.h"

namespace zaft {

// Type 0 is VADPCM, 1 raw 16-bit; other types place no samples.
inline SampleSource sampleSourceOf(const BankFile& bank, const ALWaveTable& wave,
                                   int64_t tblOffset) {
  SampleSource source;
  source.codec = wave.type == kWaveTypeAdpcm ? SampleCodec::Vadpcm
                 : wave.type == kWaveTypeRaw ? SampleCodec::Raw16
                                             : SampleCodec::None;
  source.start = tblOffset + wave.base;
  source.len = wave.len;
  if (const ALADPCMBook* book = bank.bookOf(wave)) {
    source.hasBook = true;
    source.book.predictors = book->predictors.empty() ? 0 : book->storedPredictors();
    source.book.coefficients = book->predictors.empty() ? nullptr : book->predictors.data();
  }
  return source;
}

inline SampleLayout layoutSamples(const RomImage& rom, const BankFile& bank,
                                  const ALWaveTable& wave, int64_t tblOffset) {
  return layoutSamples(rom, sampleSourceOf(bank, wave, tblOffset));
}

// The pitch the key map at table index `keyMap` gives (middle C for none).
inline SamplePitch pitchOfKeyMap(const BankFile& bank, int32_t keyMap) {
  return SamplePitch{pitchCentsOf(bank.table.recordAt<ALKeyMap>(keyMap))};
}

}  // namespace zaft
