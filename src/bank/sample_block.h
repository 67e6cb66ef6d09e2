// Checking and finding the sample table block that belongs to a bank.
//
// A walked bank says what its samples must look like. Every ADPCM wave table
// starts its 9-byte frames at tblOffset + base, one frame per started 9 bytes
// of `len`, and a real encoder only ever writes frame headers whose scale
// (bits 7-4) is at most 12 and whose predictor index (bits 3-0) is below the
// number of predictors of that wave's book. Every wave table, ADPCM or raw,
// lies inside the ROM. Data at a wrong offset breaks these rules for most
// frames: a random header byte passes for a book of P predictors with the
// chance 13/16 * P/16.
//
// Zero bytes are the exception: a header byte 0x00 (scale 0, predictor 0) is
// plausible for every book, so zero padding passes as well as real samples
// do. Such "blank" frames (every byte of the frame that lies inside the wave
// is 0) decode to silence wherever they are and prove nothing; an offset is
// only taken when a good part of its frames carry sound.
//
// What is judged:
//   - wave tables of type 0 (ADPCM) and 1 (raw) with len > 0 must lie inside
//     the ROM; other types have no samples the writer would place, and a
//     len of 0 or less has no bytes;
//   - frames are judged for ADPCM wave tables with len > 0 whose book holds
//     at least one predictor. A wave without a book (or with an empty one)
//     has nothing to judge its frames by: it only has to lie inside the ROM.
//     A len % 9 == 1 wave's last frame holds one byte of the wave, the pad
//     byte its encoder writes: it is plausible when that byte is 0x00 (and
//     blank, as the frame holds nothing else of the wave). This is what
//     keeps a bank of one long wave from fitting as well 8 frames (72
//     bytes) earlier or later.
//   - a frame whose header byte lies outside the ROM is implausible.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace zaft {

class RomStream;
struct RunContext;
struct RunSettings;

// What validation needs of one wave table of a walked bank.
struct WaveProbe {
  int32_t base = 0;
  int32_t len = 0;
  uint8_t type = 0;        // 0 ADPCM, 1 raw; other types place no samples
  int32_t predictors = 0;  // stored predictors of its book (0: no book, or not ADPCM)
  int32_t entry = 0;       // its StructTable index in the walk it came from
};

// Every wave table entry of a walked RunContext's struct table, in entry order.
std::vector<WaveProbe> collectWaves(const RunContext& walked);

// Walks the bank file at settings.ctlOffset in a private RunContext, with WAV
// output off and every console message discarded, and gives back its waves.
// A fatal condition stops that walk only: the waves read before it are given
// back, except a wave table whose loop or book the walk could not reach (the
// real walk stops before writing it). A bank file with the wrong revision
// gives no waves, and so does a negative ctlOffset. The ROM's read position
// is left as it was.
std::vector<WaveProbe> probeBankFile(RomStream& rom, const RunSettings& settings);

// How a bank's waves fit the ROM with the sample block at `offset`.
struct SampleBlockCheck {
  int64_t offset = 0;
  int64_t frames = 0;           // ADPCM frames judged, over all waves
  int64_t plausibleFrames = 0;  // header scale <= 12 and predictor index < the book's predictors
  int64_t blankFrames = 0;      // plausible frames whose bytes inside the wave are all 0
  bool allInside = true;        // every ADPCM and raw wave with len > 0 lies inside the ROM

  // plausibleFrames / frames (1.0 when frames == 0).
  double share() const;
  // Plausible frames that carry sound.
  int64_t soundFrames() const { return plausibleFrames - blankFrames; }
  // Every wave inside, at least 99 % of the frames plausible, and, when any
  // frame is judged, at least a quarter of them (and at least one) plausible
  // frames that carry sound: an offset whose waves land mostly on zero
  // padding, with a few frames on other bytes, would otherwise pass by
  // chance. A bank with no frames to judge (no ADPCM wave with a book)
  // passes when its waves lie inside; a bank with no waves passes.
  bool passes() const;
};

// Judges the waves with the sample block at `tblOffset`. Waves with the same
// place, length and book size are read once and counted as often as they
// occur. Reads only inside the ROM; frames outside it are counted without
// being read.
SampleBlockCheck validateSampleBlock(const RomStream& rom, const std::vector<WaveProbe>& waves,
                                     int64_t tblOffset);

// Whether `a` is a better sample block offset than `b` (both passing):
//   1. the higher share (fewer implausible frames: every inside offset judges
//      the same frames);
//   2. then more frames that carry sound: zero padding is plausible but
//      blank, real samples are not;
//   3. then an offset on an 8-byte boundary, as real sample blocks begin;
//   4. then the lower offset.
bool betterSampleBlock(const SampleBlockCheck& a, const SampleBlockCheck& b);

// Searches every even offset o >= 0 (up to 0x7FFFFFFF) at which every wave
// lies inside the ROM for the one that passes and ranks best by
// betterSampleBlock; nullopt when none passes, or when the bank has no frames
// to judge (raw waves alone place no constraint worth a guess).
//
// Fast: an offset is validated in full only after a quick test. The quick
// test asks for
//   - the first 64 frames of the most selective wave (the fewest predictors
//     over the most frames) plausible, tested for 64 offsets at once;
//   - enough non-zero bytes between the first and the last judged frame for
//     a quarter of the frames to carry sound: zero padding and sparse data
//     fail at once, and tell how far to skip;
//   - the first and the last 16 frames of every wave plausible (a pad frame
//     0x00), the waves taken spread over the block.
// Survivors are validated in batches, those with the most non-zero headers
// first, and a validation gives up as soon as the offset can neither pass
// nor beat the best one so far; no survivor is left out, so the result is
// the same as validating every offset. An offset whose first or last frames
// hold an implausible header is not found even if 99 % of all its frames
// are plausible: real encoders never write one. Memory: one bit per ROM
// byte, and at most 16 MiB of survivors at a time.
std::optional<SampleBlockCheck> searchSampleBlock(const RomStream& rom,
                                                  const std::vector<WaveProbe>& waves);

}  // namespace zaft
