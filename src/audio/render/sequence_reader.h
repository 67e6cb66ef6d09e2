// Sequences read event by event exactly as the console's sequence readers
// deliver them to its players, every byte bounded by the sequence.
//
// A compact sequence (see bank/libultra/compact_sequence.h for its layout)
// is read track by track through the FE escape, with a back-reference's
// length kept in a byte (a length of 0 copies 256 bytes), the loop end's six
// bytes read where the track's own position stands, and the loop's running
// count written back into the sequence's bytes as the console does: the
// reader keeps its own copy. The next event is the one of the track whose
// delay runs out first (the lowest track on a tie).
//
// A Standard MIDI File is read as the console reads one: type 0, one track,
// the track's bytes from offset 22. Tempo and end of track are its only meta
// events; other meta events and system-exclusive messages are passed over,
// their delays added to the next event's.
//
// Reading past the sequence's bytes, a back-reference before its start and
// an unknown compact meta event stop the reading: `problem()` says why.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zaft {

struct PlayerSeqEvent {
  enum class Type { Midi, Tempo, TrackEnd, SeqEnd, LoopStart, LoopEnd };
  Type type = Type::Midi;
  uint8_t status = 0;  // Midi
  uint8_t byte1 = 0;
  uint8_t byte2 = 0;
  uint32_t duration = 0;  // a compact note-on's length in ticks
  uint8_t tempo[3] = {0, 0, 0};  // Tempo: microseconds per quarter note, big-endian
  // LoopEnd: the loop runs for ever and jumped back.
  bool foreverJump = false;
  int track = 0;
};

class SeqReader {
 public:
  virtual ~SeqReader() = default;
  // Quarter notes per tick as the console stores it: (float)(1.0 / division).
  float qnpt() const { return qnpt_; }
  // The ticks until the next event; false when none is left.
  virtual bool nextDelta(int32_t& ticks) = 0;
  // The next event; false when reading stopped (problem() says why).
  virtual bool nextEvent(PlayerSeqEvent& e) = 0;
  const std::string& problem() const { return problem_; }

 protected:
  void fail(std::string why) {
    if (problem_.empty()) problem_ = std::move(why);
  }
  float qnpt_ = 0;
  std::string problem_;
};

class CompactSeqReader : public SeqReader {
 public:
  // A copy of the `len` bytes is kept (loop counts are written into it).
  CompactSeqReader(const uint8_t* sequence, int64_t len);
  bool nextDelta(int32_t& ticks) override;
  bool nextEvent(PlayerSeqEvent& e) override;

 private:
  uint8_t at(int64_t pos);
  uint8_t trackByte(int t);
  uint32_t varLen(int t);
  void trackEvent(int t, PlayerSeqEvent& e);

  std::vector<uint8_t> bytes_;
  uint32_t validTracks_ = 0;
  uint32_t lastTicks_ = 0;
  uint32_t lastDeltaTicks_ = 0;
  bool deltaFlag_ = true;
  int64_t curLoc_[16] = {};
  int64_t curBUPtr_[16] = {};
  uint8_t curBULen_[16] = {};
  uint8_t lastStatus_[16] = {};
  uint32_t evtDeltaTicks_[16] = {};
};

class MidiSeqReader : public SeqReader {
 public:
  MidiSeqReader(const uint8_t* sequence, int64_t len);
  bool nextDelta(int32_t& ticks) override;
  bool nextEvent(PlayerSeqEvent& e) override;

 private:
  uint8_t read8();
  int32_t varLen();
  void skipIgnored();

  const uint8_t* seq_;
  int64_t len_;
  int64_t pos_ = 0;
  uint8_t lastStatus_ = 0;
  int64_t carriedTicks_ = 0;  // delays of the events passed over
};

}  // namespace zaft
