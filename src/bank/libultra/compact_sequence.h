// Compact sequences, the console's own MIDI form, as a sequence bank holds
// them (big-endian):
//
//   0     16 u32 track offsets from the sequence's start (0: track unused)
//   64    u32 division, ticks per quarter note
//   0x44  the tracks: MIDI channel events, each naming its own channel
//
// Every byte of a track is read through one escape: FE FE is a literal FE;
// FE hi lo len (hi != FE) reads the `len` bytes that start hi << 8 | lo
// bytes before the FE next (copied bytes are not escaped again), then goes
// on after the four escape bytes. The player only subtracts the distance,
// so a copy may come from anywhere in the sequence's bytes, an earlier
// track's included (the console's own sequence compressor writes such). An event is a variable-length delta time
// and a status byte or running status (channel events only; every meta
// event clears it):
//   9n key vel dur   note on, with its duration (variable length): no note-offs
//   Cn p, Dn p       program change, channel pressure: one data byte
//   other 8n-En      two data bytes
//   FF 51 t t t      tempo, microseconds per quarter note (no length byte)
//   FF 2F            end of track
//   FF 2E n FF       loop start, loop number n
//   FF 2D c k o o o o  loop end: count c (FF: for ever), the player's count
//                    k, and an offset read as it stands (not through the
//                    escape): the loop jumps back to (the position after
//                    these 6 bytes) - offset, just after its loop start.
// Positions are the track's own bytes as stored, within the sequence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zaft {

constexpr int kCompactTracks = 16;
constexpr int64_t kCompactHeaderBytes = 0x44;  // 16 offsets and the division
constexpr uint8_t kLoopForEver = 0xFF;

struct SeqEvent {
  enum class Kind { Channel, Tempo, LoopStart, LoopEnd, End };
  Kind kind = Kind::Channel;
  uint64_t tick = 0;
  int64_t at = 0;  // the event's first byte, from the sequence's start
  // Channel: the status and its one or two data bytes; a note-on's duration.
  uint8_t status = 0;
  uint8_t data[2] = {0, 0};
  uint32_t duration = 0;
  uint32_t tempo = 0;       // Tempo: microseconds per quarter note
  uint8_t loopNumber = 0;   // LoopStart
  uint8_t loopCount = 0;    // LoopEnd
  // LoopStart: the position just after it; LoopEnd: where it jumps back to.
  int64_t loopPosition = 0;

  // Of a channel event: 1 or 2.
  int dataBytes() const {
    const uint8_t type = status & 0xF0;
    return type == 0xC0 || type == 0xD0 ? 1 : 2;
  }
};

// Reads one track event by event, up to its end or to the first thing that
// cannot be read. Never reads outside the sequence's `len` bytes and never
// follows a loop back: the work is bounded by the bytes (a back-reference
// copies at most 255 bytes for its 4).
class CompactTrackReader {
 public:
  CompactTrackReader(const uint8_t* sequence, int64_t len, int64_t trackStart);
  // The next event; false at the track's end (after its end-of-track event)
  // and when reading stopped.
  bool next(SeqEvent& e);
  bool ended() const { return ended_; }     // its end-of-track event was read
  const std::string& problem() const { return problem_; }  // why reading stopped early
  int64_t problemAt() const { return problemAt_; }  // the byte it stopped at
  // Stops the reading for a reason of the caller's.
  void stop(std::string problem, int64_t at);

 private:
  uint8_t byte();     // through the escape
  uint8_t raw();      // as it stands
  uint32_t varLen();
  uint8_t dataByte();
  int64_t position() const { return copyLeft_ > 0 ? copyPos_ : pos_; }
  void read(SeqEvent& e);

  const uint8_t* seq_;
  int64_t len_;
  int64_t trackStart_;
  int64_t pos_;
  int64_t copyPos_ = 0;
  int64_t copyLeft_ = 0;
  uint64_t tick_ = 0;
  uint8_t running_ = 0;
  bool done_ = false;
  bool ended_ = false;
  std::string problem_;
  int64_t problemAt_ = 0;
};

// One track as events, in order.
struct CompactTrack {
  std::vector<SeqEvent> events;
  bool ended = false;    // its end-of-track event was read
  std::string problem;   // why reading stopped before the end; empty when it did not
  int64_t problemAt = 0;  // the byte it stopped at, from the sequence's start
};

// The track that starts at `trackStart` of the `len` bytes of a sequence,
// at most `maxEvents` events.
CompactTrack readCompactTrack(const uint8_t* sequence, int64_t len, int64_t trackStart,
                              size_t maxEvents = SIZE_MAX);

// The header of a compact sequence: track offsets and division.
struct CompactHeader {
  uint32_t tracks[kCompactTracks] = {};
  uint32_t division = 0;
};
CompactHeader readCompactHeader(const uint8_t* sequence);

}  // namespace zaft
