// Test support: compact sequences and sequence banks made from a list of
// events, the way the console's sequence tools make them: durations on the
// note-ons and no note-offs, running status, tempo and loop events without
// length bytes, and back-references wherever six bytes or more of a track
// repeat (never across an FE byte or a loop event, whose positions the loop
// ends count on); with `acrossTracks`, into earlier tracks' bytes too, as the
// console's own sequence compressor writes them.
#pragma once

#include <cstdint>
#include <vector>

namespace zaft::test {

struct SongEvent {
  enum class Kind { Note, Channel, Tempo, LoopStart, LoopEnd };
  Kind kind = Kind::Channel;
  uint32_t tick = 0;     // absolute
  uint8_t status = 0;    // Note: 0x9n; Channel: any 0x8n-0xEn but 0x9n
  uint8_t data1 = 0, data2 = 0;
  uint32_t duration = 0;  // Note
  uint32_t tempo = 0;     // Tempo: microseconds per quarter note
  uint8_t loop = 0;       // LoopStart, LoopEnd: the loop's number
  uint8_t count = 0;      // LoopEnd: the count (0xFF for ever)
};

using SongTrack = std::vector<SongEvent>;  // in tick order; ends `endTick` after the start

struct CompactSong {
  std::vector<SongTrack> tracks;  // up to 16; an empty one is unused
  uint32_t division = 96;
  uint32_t endTick = 0;     // the end-of-track events' tick (0: the last event's)
  bool backReferences = true;
  bool acrossTracks = false;
};

struct CompactBytes {
  std::vector<uint8_t> bytes;
  int backReferences = 0;  // how many the tracks hold
  int intoEarlierTracks = 0;  // of those, how many copy bytes of an earlier track
};

CompactBytes compactSequence(const CompactSong& song);

// A sequence bank ("S1") of the sequences, each aligned to 8 bytes.
std::vector<uint8_t> sequenceBank(const std::vector<std::vector<uint8_t>>& sequences);

}  // namespace zaft::test
