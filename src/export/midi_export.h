// The music: each sequence of a sequence bank as a Standard MIDI File.
//
// A Standard MIDI File sequence is written as it stands, byte for byte. A
// compact sequence becomes a format-1 file with the same division: one
// track per used compact track, in track order, nothing invented. Each
// note-on with its duration becomes a note-on and a note-off (velocity 64)
// `duration` ticks later (overlapping notes keep one note-off each; at equal
// ticks note-offs come first); tempo and end-of-track get their length
// bytes; no running status. Loops are written as the console's sequence
// tools write them: at the loop start controller 102 with the loop number
// and, at the same tick, 104 with the count (below 128) or 105 with count -
// 128 (an endless loop, 255, is 105 = 127); at the loop end controller 103
// with the number; all on the track's channel, with a Marker ("loop start",
// "loop end x N", "loop end, for ever") for editors. Nothing is unrolled.
//
// A track that cannot be read to its end (past the sequence's length, an
// unknown meta event, a loop end jumping outside the track, a number longer
// than 4 bytes, a back-reference before the track or into itself) ends
// there, every note it started closed: the file stays valid.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace zaft {

struct SequenceLoop {
  int track = 0;
  int number = 0;
  int count = -1;  // -1 when no loop end was found for it
  uint64_t startTick = 0;
  uint64_t endTick = 0;  // the start's when it has no end
};

// What a sequence holds, for the index.
struct SequenceInfo {
  bool standard = false;
  int64_t length = 0;
  int tracks = 0;
  uint32_t division = 0;  // ticks per quarter note (a standard file's raw field)
  uint64_t durationTicks = 0;
  double durationSeconds = 0;  // at the sequence's tempi (120 bpm until the first)
  std::set<int> programs;
  std::set<int> channels;  // 0 to 15
  std::vector<SequenceLoop> loops;
};

struct SequenceProblem {
  int track = 0;
  int64_t at = 0;  // byte of the sequence
  std::string what;
};

struct MidiSequence {
  std::vector<uint8_t> file;
  SequenceInfo info;
  std::vector<SequenceProblem> problems;
};

// A compact sequence of `len` bytes as a Standard MIDI File.
MidiSequence compactToMidi(const uint8_t* sequence, int64_t len);

// A Standard MIDI File as it stands, and what it holds (read as far as it
// reads: a damaged file is still copied whole).
MidiSequence standardMidi(const uint8_t* sequence, int64_t len);

}  // namespace zaft
