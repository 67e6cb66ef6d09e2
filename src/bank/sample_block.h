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

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "bank/libultra/bank_file.h"
#include "util/vadpcm_format.h"
#include "rom/rom_image.h"

namespace zaft {

// Where an offset came from: given on the command line, guessed by the
// offset scan, or found by the sample-block search.
enum class OffsetSource { None, Given, Scanned, Searched };

// A sample table block in use: an offset like any other, 0 included. "No
// sample block" is an empty std::optional<SampleBlock>.
struct SampleBlock {
  int32_t offset = 0;
  OffsetSource source = OffsetSource::Given;
};

// What validation needs of one wave table of a walked bank.
struct WaveProbe {
  int32_t base = 0;
  int32_t len = 0;
  uint8_t type = 0;        // 0 ADPCM, 1 raw; other types place no samples
  int32_t predictors = 0;  // stored predictors of its book (0: no book, or not ADPCM)
  int32_t entry = 0;       // its StructTable index in the walk it came from
};

// Every wave of a walked bank file, in walk order.
std::vector<WaveProbe> probesOf(const BankFile& bank);

// How a bank's waves fit the ROM with the sample block at `offset`.
struct SampleBlockCheck {
  int64_t offset = 0;
  int64_t frames = 0;           // ADPCM frames judged, over all waves
  int64_t plausibleFrames = 0;  // header scale <= 12 and predictor index < the book's predictors
  int64_t blankFrames = 0;      // plausible frames whose bytes inside the wave are all 0
  bool allInside = true;        // every ADPCM and raw wave with len > 0 lies inside the ROM
  // For a search's result: false when the search's work limit left offsets
  // that looked about as good unjudged (see sample_search.h).
  bool searchedAll = true;
  // For a search: bytes between the block's waves and the bank's control
  // block (0 when they touch or overlap).
  int64_t distance = 0;
  // For a search's result: the passing offsets exactly as good as this one,
  // itself included, and the lowest few of the others. More than one means
  // the bytes alone cannot tell which is the bank's: the nearest was taken.
  int64_t alike = 1;
  bool alikeCounted = true;  // false: `alike` or more
  std::vector<int64_t> alikeOffsets{};

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
SampleBlockCheck validateSampleBlock(const RomImage& rom, const std::vector<WaveProbe>& waves,
                                     int64_t tblOffset);

// The same check, taking `known[k]` for waves[k] when it holds what a
// reading of the frames (the decoder's) found of all its frames that begin
// inside the ROM, instead of reading them again.
SampleBlockCheck validateSampleBlock(const RomImage& rom, const std::vector<WaveProbe>& waves,
                                     int64_t tblOffset,
                                     const std::vector<std::optional<FrameTally>>& known);

// Whether `a` is a better sample block offset than `b` (both passing):
//   1. the higher share (fewer implausible frames: every inside offset judges
//      the same frames);
//   2. then more frames that carry sound: zero padding is plausible but
//      blank, real samples are not;
//   3. then an offset on an 8-byte boundary, as real sample blocks begin;
//   4. then the smaller distance to the control block: a bank's sample
//      block is built beside it, before or after;
//   5. then the lower offset.
bool betterSampleBlock(const SampleBlockCheck& a, const SampleBlockCheck& b);
// Whether neither is better than the other by 1 to 3: what the frames say
// of them is the same.
bool equallyGoodSampleBlocks(const SampleBlockCheck& a, const SampleBlockCheck& b);

// The frame judge that validation and the search share.
namespace judge {

constexpr int64_t kFrameBytes = static_cast<int64_t>(kAdpcmFrameBytes);


inline int64_t ceilDiv(int64_t n, int64_t d) { return (n + d - 1) / d; }

// One ADPCM wave whose frames are judged, with the number of wave tables
// that share its place, length and book size.
struct JudgedWave {
  int64_t base = 0;
  int64_t len = 0;
  int64_t frames = 0;
  int32_t predictors = 0;  // capped at 16
  int64_t count = 1;
};

// The waves of a bank as validation sees them.
struct Layout {
  std::vector<JudgedWave> judged;
  int64_t judgedFrames = 0;  // over all wave tables
  bool anyPlaced = false;    // an ADPCM or raw wave with len > 0
  int64_t minBase = 0;       // over the placed waves
  int64_t maxEnd = 0;        // largest base + len over the placed waves

  explicit Layout(const std::vector<WaveProbe>& waves);

  bool insideAt(int64_t offset, int64_t romSize) const {
    return !anyPlaced || (offset + minBase >= 0 && offset + maxEnd <= romSize);
  }
};


// When a verification may give up: beyond these the offset either fails or
// cannot beat the best offset found so far. Only an implausible or a blank
// frame brings an offset closer to giving up, so only those are checked.
struct GiveUp {
  int64_t totalFrames = 0;
  int64_t maxImplausible = std::numeric_limits<int64_t>::max();
  int64_t maxLost = std::numeric_limits<int64_t>::max();  // implausible + blank
  // The best so far: an offset with more implausible frames cannot beat it,
  // one with as many only by carrying sound in at least as many frames.
  bool haveBest = false;
  int64_t bestImplausible = 0;
  int64_t bestSound = 0;

  bool now(const FrameTally& c) const {
    const int64_t implausible = c.implausible();
    const int64_t lost = implausible + c.blank;
    if (implausible > maxImplausible || lost > maxLost) return true;
    return haveBest && implausible >= bestImplausible && totalFrames - lost < bestSound;
  }
};


// Frames judged are counted as FrameTally, wave tables as often as they
// occur. The pad frame of a len % 9 == 1 wave (padFrameOf) holds one byte of
// the wave, the encoder's 0x00; anything else there means the frames are
// misplaced.
inline int64_t padFrame(const JudgedWave& w) { return padFrameOf(w.len); }

// Adds one wave's frames with the sample block at `offset` to `c`. Frames
// whose header lies outside the ROM are implausible and not read. The frames
// are read from both ends towards the middle: an offset a whole number of
// frames away from the right one shows itself at the wave's ends (frames of
// other data at one end, zero padding at the other). False as soon as
// `giveUp` (when given) says so.
bool judgeWave(const uint8_t* data, int64_t size, const JudgedWave& w, int64_t offset,
               const GiveUp* giveUp, FrameTally& c);
// The same reading at most `framesLeft` frames (counted down): a judgement
// that runs out of them ends early, its unread frames counted plausible.
enum class JudgeEnd { Complete, GaveUp, OutOfFrames };
JudgeEnd judgeWave(const uint8_t* data, int64_t size, const JudgedWave& w, int64_t offset,
                   const GiveUp* giveUp, int64_t& framesLeft, FrameTally& c);
// Judges the waves in the given order; false as soon as `giveUp` (when
// given) says so.
bool judgeAll(const uint8_t* data, int64_t size, const std::vector<const JudgedWave*>& order,
              int64_t offset, const GiveUp* giveUp, FrameTally& total);
JudgeEnd judgeAll(const uint8_t* data, int64_t size, const std::vector<const JudgedWave*>& order,
                  int64_t offset, const GiveUp* giveUp, int64_t& framesLeft, FrameTally& total);

// Offsets are clamped to +-2^62, far outside any ROM, so that no sum with a
// base, a len or a frame offset can overflow.
int64_t clampOffset(int64_t offset);
inline bool onEightByteBoundary(int64_t offset) { return offset % 8 == 0; }

}  // namespace judge

}  // namespace zaft
