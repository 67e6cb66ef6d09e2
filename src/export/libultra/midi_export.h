// The music: each sequence of a sequence bank as a Standard MIDI File.
//
// A Standard MIDI File sequence is written as it stands, byte for byte. A
// compact sequence becomes a format-1 file with the same division: one
// track per used compact track, in track order, nothing invented. Each
// note-on with its duration becomes a note-on and a note-off (velocity 64)
// `duration` ticks later (overlapping notes keep one note-off each; at equal
// ticks the note-offs of earlier notes come first, and a note of duration 0
// has its note-off right after its note-on); tempo and end-of-track get
// their length bytes; no running status. Loops are written as the console's sequence
// tools write them: at the loop start controller 102 with the loop number
// and, at the same tick, 104 with the count (below 128) or 105 with count -
// 128 (an endless loop, 255, is 105 = 127); at the loop end controller 103
// with the number; all on the track's channel, with a Marker ("loop start",
// "loop end x N", "loop end, for ever") for editors. Nothing is unrolled.
// A loop end pairs with the latest open loop start just before its jump
// target, else with the innermost open one; past 65,536 open loops a loop
// start stays without an end.
//
// A track that cannot be read to its end (past the sequence's length, an
// unknown meta event, a loop end jumping outside the track, a number longer
// than 4 bytes, a back-reference before the sequence or into itself, more
// than 65,536 notes sounding at once) ends there, every note it started
// closed: the file stays valid.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "export/byte_sink.h"

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
  int track = 0;  // -1: the file's structure
  int64_t at = 0;  // byte of the sequence
  std::string what;
};

// The most loops a sequence's description lists (its MIDI file keeps them
// all): real songs have a few, a hostile one millions.
constexpr size_t kMaxListedLoops = 1024;

// One used compact track as it is written.
struct MidiTrackPlan {
  int index = 0;        // 0 to 15
  int64_t start = 0;    // from the sequence's start
  size_t reading = 0;   // the plan of the first track that starts there: its reading is this one's
  uint8_t channel = 0;  // of its loop controllers
  int64_t bytes = 0;    // of its chunk's body
  // In the first reading of a start: per loop start, the count of the loop
  // it starts (-1: no loop end found for it); per loop end, the number of
  // the loop it ends.
  std::vector<int16_t> loopCounts;
  std::vector<uint8_t> loopNumbers;
};

// A sequence as a MIDI file, read once for what it holds and what its file
// will take; writeMidi() writes the file, reading the sequence again, so
// memory stays small however much the file holds. The sequence's bytes must
// outlive it.
struct MidiSequence {
  const uint8_t* sequence = nullptr;
  int64_t length = 0;
  SequenceInfo info;
  std::vector<SequenceProblem> problems;
  int64_t fileBytes = 0;    // the MIDI file's size
  bool overLimit = false;   // the file would pass the limit given: reading stopped there
  std::vector<MidiTrackPlan> tracks;  // a compact sequence's
  // A file built whole in memory (an EAD sequence's), written as it stands.
  std::vector<uint8_t> built;
  // Warnings that end nothing: constructs followed down their default path.
  std::vector<SequenceProblem> notices;
};

// A compact sequence of `len` bytes as a Standard MIDI File, read no
// further than a file of `maxFileBytes` takes.
MidiSequence compactToMidi(const uint8_t* sequence, int64_t len, int64_t maxFileBytes = INT64_MAX);

// A Standard MIDI File as it stands, and what it holds (read as far as it
// reads). Its chunks are checked: a header chunk of 6 bytes or more, and
// every chunk and every track the header names within the file; what does
// not hold is a problem (track -1), and the file is still copied whole.
MidiSequence standardMidi(const uint8_t* sequence, int64_t len);

// The MIDI file, fileBytes bytes (a sequence over its limit is not written).
void writeMidi(const MidiSequence& midi, ByteSink& sink);

}  // namespace zaft
