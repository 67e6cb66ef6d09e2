#include "bank/compact_sequence.h"

#include "util/endian.h"
#include "util/fatal.h"

namespace zaft {

namespace {

constexpr uint8_t kEscape = 0xFE;
constexpr int kMaxVarLenBytes = 4;

// Ends the reading of a track: caught where it began, which keeps what was
// read.
struct Stop {
  std::string problem;
  int64_t at;
};

// The track's bytes through the escape.
class TrackBytes {
 public:
  TrackBytes(const uint8_t* sequence, int64_t len, int64_t start)
      : seq_(sequence), len_(len), start_(start), pos_(start) {}

  // Where the next byte comes from: inside a copy, the copied byte's place.
  int64_t position() const { return copyLeft_ > 0 ? copyPos_ : pos_; }

  uint8_t next() {
    for (;;) {
      if (copyLeft_ > 0) {
        --copyLeft_;
        return seq_[copyPos_++];
      }
      if (pos_ >= len_) throw Stop{"it runs past the sequence's end", pos_};
      const uint8_t b = seq_[pos_];
      if (b != kEscape) {
        ++pos_;
        return b;
      }
      if (pos_ + 1 < len_ && seq_[pos_ + 1] == kEscape) {
        pos_ += 2;
        return kEscape;
      }
      if (pos_ + 4 > len_) throw Stop{"a back-reference runs past the sequence's end", pos_};
      const int64_t distance = int64_t{seq_[pos_ + 1]} << 8 | seq_[pos_ + 2];
      const int64_t count = seq_[pos_ + 3];
      const int64_t from = pos_ - distance;
      if (from < start_) throw Stop{"a back-reference points before the track's start", pos_};
      // The copy must end before its own escape: one that reaches into
      // itself would read what it is about to produce.
      if (from + count > pos_) throw Stop{"a back-reference points into itself", pos_};
      pos_ += 4;
      copyPos_ = from;
      copyLeft_ = count;
    }
  }

  // Bytes read as they stand, not through the escape.
  uint8_t raw() {
    if (copyLeft_ > 0) {
      --copyLeft_;
      return seq_[copyPos_++];
    }
    if (pos_ >= len_) throw Stop{"it runs past the sequence's end", pos_};
    return seq_[pos_++];
  }

  uint32_t varLen() {
    const int64_t at = position();
    uint32_t value = 0;
    for (int i = 0; i < kMaxVarLenBytes; ++i) {
      const uint8_t b = next();
      value = value << 7 | (b & 0x7F);
      if ((b & 0x80) == 0) return value;
    }
    throw Stop{"a variable-length number is longer than 4 bytes", at};
  }

  uint8_t dataByte() {
    const int64_t at = position();
    const uint8_t b = next();
    if (b >= 0x80) throw Stop{formatText("a data byte is 0x%02X, not below 0x80", b), at};
    return b;
  }

 private:
  const uint8_t* seq_;
  const int64_t len_;
  const int64_t start_;
  int64_t pos_;
  int64_t copyPos_ = 0;
  int64_t copyLeft_ = 0;
};

}  // namespace

int SeqEvent::dataBytes() const {
  const uint8_t type = status & 0xF0;
  return type == 0xC0 || type == 0xD0 ? 1 : 2;
}

CompactHeader readCompactHeader(const uint8_t* sequence) {
  CompactHeader h;
  for (int t = 0; t < kCompactTracks; ++t) h.tracks[t] = loadBE32(sequence + 4 * t);
  h.division = loadBE32(sequence + 4 * kCompactTracks);
  return h;
}

CompactTrack readCompactTrack(const uint8_t* sequence, int64_t len, int64_t trackStart,
                              size_t maxEvents) {
  CompactTrack track;
  if (trackStart < 0 || trackStart >= len) {
    track.problem = "the track starts outside the sequence";
    track.problemAt = trackStart;
    return track;
  }
  TrackBytes in(sequence, len, trackStart);
  uint64_t tick = 0;
  uint8_t running = 0;
  try {
    while (track.events.size() < maxEvents) {
      SeqEvent e;
      e.at = in.position();
      tick += in.varLen();
      e.tick = tick;
      const int64_t statusAt = in.position();
      uint8_t first = in.next();
      if (first == 0xFF) {
        running = 0;
        const uint8_t type = in.next();
        switch (type) {
          case 0x51:
            e.kind = SeqEvent::Kind::Tempo;
            e.tempo = uint32_t{in.next()} << 16;
            e.tempo |= uint32_t{in.next()} << 8;
            e.tempo |= in.next();
            break;
          case 0x2F:
            e.kind = SeqEvent::Kind::End;
            track.events.push_back(e);
            track.ended = true;
            return track;
          case 0x2E:
            e.kind = SeqEvent::Kind::LoopStart;
            e.loopNumber = in.next();
            in.next();  // FF
            e.loopPosition = in.position();
            break;
          case 0x2D: {
            e.kind = SeqEvent::Kind::LoopEnd;
            e.loopCount = in.raw();
            in.raw();  // the player's running count
            uint32_t offset = 0;
            for (int i = 0; i < 4; ++i) offset = offset << 8 | in.raw();
            e.loopPosition = in.position() - static_cast<int64_t>(offset);
            if (e.loopPosition < trackStart || e.loopPosition >= len) {
              throw Stop{"a loop end jumps back outside the track", e.at};
            }
            break;
          }
          default:
            throw Stop{formatText("an unknown meta event type 0x%02X", type), statusAt};
        }
        track.events.push_back(e);
        continue;
      }
      if (first >= 0xF0) throw Stop{formatText("an unsupported status byte 0x%02X", first), statusAt};
      e.kind = SeqEvent::Kind::Channel;
      if (first >= 0x80) {
        running = first;
        e.status = first;
        e.data[0] = in.dataByte();
      } else {
        if (running == 0) throw Stop{"a data byte without a status", statusAt};
        e.status = running;
        e.data[0] = first;
      }
      if (e.dataBytes() == 2) e.data[1] = in.dataByte();
      if ((e.status & 0xF0) == 0x90) e.duration = in.varLen();
      track.events.push_back(e);
    }
  } catch (const Stop& stop) {
    track.problem = stop.problem;
    track.problemAt = stop.at;
  }
  return track;
}

}  // namespace zaft
