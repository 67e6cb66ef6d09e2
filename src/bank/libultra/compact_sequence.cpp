#include "bank/libultra/compact_sequence.h"

#include "util/endian.h"
#include "util/fatal.h"

namespace zaft {

namespace {

constexpr uint8_t kEscape = 0xFE;
constexpr int kMaxVarLenBytes = 4;

// Ends the reading of a track: caught in next(), which keeps what was read.
struct Stop {
  std::string problem;
  int64_t at;
};

}  // namespace

CompactHeader readCompactHeader(const uint8_t* sequence) {
  CompactHeader h;
  for (int t = 0; t < kCompactTracks; ++t) h.tracks[t] = loadBE32(sequence + 4 * t);
  h.division = loadBE32(sequence + 4 * kCompactTracks);
  return h;
}

CompactTrackReader::CompactTrackReader(const uint8_t* sequence, int64_t len, int64_t trackStart)
    : seq_(sequence), len_(len), trackStart_(trackStart), pos_(trackStart) {
  if (trackStart < 0 || trackStart >= len) {
    done_ = true;
    problem_ = "the track starts outside the sequence";
    problemAt_ = trackStart;
  }
}

uint8_t CompactTrackReader::byte() {
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
    if (from < 0) throw Stop{"a back-reference points before the sequence's start", pos_};
    // The copy must end before its own escape: one that reaches into
    // itself would read what it is about to produce.
    if (from + count > pos_) throw Stop{"a back-reference points into itself", pos_};
    pos_ += 4;
    copyPos_ = from;
    copyLeft_ = count;
  }
}

uint8_t CompactTrackReader::raw() {
  if (copyLeft_ > 0) {
    --copyLeft_;
    return seq_[copyPos_++];
  }
  if (pos_ >= len_) throw Stop{"it runs past the sequence's end", pos_};
  return seq_[pos_++];
}

uint32_t CompactTrackReader::varLen() {
  const int64_t at = position();
  uint32_t value = 0;
  for (int i = 0; i < kMaxVarLenBytes; ++i) {
    const uint8_t b = byte();
    value = value << 7 | (b & 0x7F);
    if ((b & 0x80) == 0) return value;
  }
  throw Stop{"a variable-length number is longer than 4 bytes", at};
}

uint8_t CompactTrackReader::dataByte() {
  const int64_t at = position();
  const uint8_t b = byte();
  if (b >= 0x80) throw Stop{formatText("a data byte is 0x%02X, not below 0x80", b), at};
  return b;
}

void CompactTrackReader::stop(std::string problem, int64_t at) {
  done_ = true;
  problem_ = std::move(problem);
  problemAt_ = at;
}

bool CompactTrackReader::next(SeqEvent& e) {
  if (done_) return false;
  try {
    read(e);
    return true;
  } catch (const Stop& s) {
    stop(s.problem, s.at);
    return false;
  }
}

void CompactTrackReader::read(SeqEvent& e) {
  e = SeqEvent();
  e.at = position();
  tick_ += varLen();
  e.tick = tick_;
  const int64_t statusAt = position();
  const uint8_t first = byte();
  if (first == 0xFF) {
    running_ = 0;
    const uint8_t type = byte();
    switch (type) {
      case 0x51:
        e.kind = SeqEvent::Kind::Tempo;
        e.tempo = uint32_t{byte()} << 16;
        e.tempo |= uint32_t{byte()} << 8;
        e.tempo |= byte();
        return;
      case 0x2F:
        e.kind = SeqEvent::Kind::End;
        ended_ = done_ = true;
        return;
      case 0x2E:
        e.kind = SeqEvent::Kind::LoopStart;
        e.loopNumber = byte();
        byte();  // FF
        e.loopPosition = position();
        return;
      case 0x2D: {
        e.kind = SeqEvent::Kind::LoopEnd;
        e.loopCount = raw();
        raw();  // the player's running count
        uint32_t offset = 0;
        for (int i = 0; i < 4; ++i) offset = offset << 8 | raw();
        e.loopPosition = position() - static_cast<int64_t>(offset);
        if (e.loopPosition < trackStart_ || e.loopPosition >= len_) {
          throw Stop{"a loop end jumps back outside the track", e.at};
        }
        return;
      }
      default:
        throw Stop{formatText("an unknown meta event type 0x%02X", type), statusAt};
    }
  }
  if (first >= 0xF0) throw Stop{formatText("an unsupported status byte 0x%02X", first), statusAt};
  e.kind = SeqEvent::Kind::Channel;
  if (first >= 0x80) {
    running_ = first;
    e.status = first;
    e.data[0] = dataByte();
  } else {
    if (running_ == 0) throw Stop{"a data byte without a status", statusAt};
    e.status = running_;
    e.data[0] = first;
  }
  if (e.dataBytes() == 2) e.data[1] = dataByte();
  if ((e.status & 0xF0) == 0x90) e.duration = varLen();
}

CompactTrack readCompactTrack(const uint8_t* sequence, int64_t len, int64_t trackStart,
                              size_t maxEvents) {
  CompactTrack track;
  CompactTrackReader in(sequence, len, trackStart);
  SeqEvent e;
  while (track.events.size() < maxEvents && in.next(e)) track.events.push_back(e);
  track.ended = in.ended();
  track.problem = in.problem();
  track.problemAt = in.problemAt();
  return track;
}

}  // namespace zaft
