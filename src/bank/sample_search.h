// Finding the sample table block that belongs to a bank: every even offset
// of the ROM judged as the bank's sample block, the best passing one kept.
#pragma once

#include <optional>
#include <vector>

#include "bank/sample_block.h"
#include "rom/rom_image.h"

namespace zaft {

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
// Survivors are judged on a sample of their frames first and in full after,
// and a judgement gives up as soon as the offset can neither pass nor beat
// the best one so far. The work is bounded by the ROM's size: the result is
// that of validating every offset, unless so many offsets fit about equally
// well (a ROM of look-alike bytes) that the bound cuts the search short;
// the result then says so (searchedAll false). An offset whose first or
// last frames hold an implausible header is not found even if 99 % of all
// its frames are plausible: real encoders never write one. Memory: one bit
// per ROM byte.
//
// Of offsets the frames judge alike (betterSampleBlock's first three
// rules), the one whose waves lie nearest the bank's control block
// [control.from, control.to) wins; the result counts them (`alike`, with
// the lowest few in `alikeOffsets`), so that a caller can say the block was
// a guess. Without a control block given, the lowest offset wins. Past 100
// alike offsets only a nearer one is looked for, and the count says "or
// more": a bank of one frame fits nearly everywhere.
struct ControlExtent {
  int64_t from = 0;
  int64_t to = 0;
};
std::optional<SampleBlockCheck> searchSampleBlock(const RomImage& rom,
                                                  const std::vector<WaveProbe>& waves,
                                                  ControlExtent control = {});
// The control block as the walk reached it: from the bank file's offset to
// the first byte of its last record.
ControlExtent controlExtentOf(const BankFile& bank);

}  // namespace zaft
