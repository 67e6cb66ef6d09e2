// What every MIDI file ZAFT writes shares: variable-length numbers, the
// loop controllers and markers as the console's sequence tools write them,
// and a sequence's tempo changes for its length in seconds.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zaft {

// Loops: at the loop start controller 102 with the loop's number and, at
// the same tick, 104 with the count (below 128) or 105 with count - 128
// (an endless loop, 255, is 105 = 127); at the loop end 103 with the number.
constexpr uint8_t kLoopStartController = 102;
constexpr uint8_t kLoopEndController = 103;
constexpr uint8_t kLoopCountController = 104;      // counts below 128
constexpr uint8_t kLoopCountHighController = 105;  // count - 128
constexpr uint32_t kDefaultTempo = 500000;         // 120 beats per minute, in µs per quarter note
constexpr uint64_t kMaxDelta = 0x0FFFFFFF;         // what four variable-length bytes hold
constexpr int64_t kMidiHeaderBytes = 14;           // "MThd", 6, format, tracks, division
constexpr int64_t kChunkHeaderBytes = 8;           // type and length

// Bytes of `value` (capped at kMaxDelta) as a variable-length number; inline,
// since sizing a compact track calls it for every event.
inline int varLenSize(uint64_t value) {
  value = value < kMaxDelta ? value : kMaxDelta;
  int n = 1;
  while (value >= 0x80) {
    value >>= 7;
    ++n;
  }
  return n;
}
// Appends `value`, capped at kMaxDelta, as a variable-length number.
void appendVarLen(std::vector<uint8_t>& out, uint64_t value);

// The marker text of a loop's end; `count` 255 (or below 0) is for ever.
std::string loopEndMarker(int count);

// The tempo changes of a sequence, for its duration in seconds.
class Tempi {
 public:
  void add(uint64_t tick, uint32_t tempo);
  // Seconds of `ticks` ticks at `division` ticks per quarter note, 120 beats
  // per minute until the first change.
  double secondsAt(uint64_t ticks, uint32_t division);

 private:
  std::vector<std::pair<uint64_t, uint32_t>> changes_;
};

}  // namespace zaft
