#include "audio/render/sequence_reader.h"

#include <cinttypes>
#include <climits>

#include "util/endian.h"
#include "util/fatal.h"

namespace zaft {

namespace {
constexpr uint8_t kMeta = 0xFF;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kMetaEnd = 0x2F;
constexpr uint8_t kMetaLoopStart = 0x2E;
constexpr uint8_t kMetaLoopEnd = 0x2D;
constexpr uint8_t kEscape = 0xFE;
constexpr uint8_t kLoopForEver = 0xFF;

// Program change and channel pressure carry one data byte, the others two.
bool twoDataBytes(uint8_t status) {
  const uint8_t type = status & 0xF0;
  return type != 0xC0 && type != 0xD0;
}
}  // namespace

// ---- compact sequences ----

CompactSeqReader::CompactSeqReader(const uint8_t* sequence, int64_t len) {
  constexpr int64_t kHeader = 0x44;  // 16 track offsets and the division
  if (len < kHeader) {
    fail(formatText("the sequence is %" PRId64 " bytes, shorter than its 68-byte header", len));
    return;
  }
  bytes_.assign(sequence, sequence + len);
  const uint32_t division = loadBE32(bytes_.data() + 64);
  if (division == 0) {
    fail("its division is 0 ticks per quarter note");
    return;
  }
  for (int t = 0; t < 16; ++t) {
    const uint32_t offset = loadBE32(bytes_.data() + 4 * t);
    if (offset == 0) continue;
    validTracks_ |= 1u << t;
    curLoc_[t] = offset;
    evtDeltaTicks_[t] = varLen(t);
  }
  qnpt_ = static_cast<float>(1.0 / static_cast<float>(division));
}

uint8_t CompactSeqReader::at(int64_t pos) {
  if (pos < 0 || pos >= static_cast<int64_t>(bytes_.size())) {
    fail(formatText("a track reads outside the sequence (byte %" PRId64 " of %zu)", pos,
                    bytes_.size()));
    return 0;
  }
  return bytes_[static_cast<size_t>(pos)];
}

uint8_t CompactSeqReader::trackByte(int t) {
  if (curBULen_[t] != 0) {
    --curBULen_[t];
    return at(curBUPtr_[t]++);
  }
  uint8_t b = at(curLoc_[t]++);
  if (b != kEscape) return b;
  const uint8_t next = at(curLoc_[t]++);
  if (next == kEscape) return b;
  // A back-reference: `len` bytes from `distance` bytes before the escape;
  // the length is a byte, so 0 wraps to 256 as the count runs down.
  const int64_t distance = int64_t{next} << 8 | at(curLoc_[t]++);
  curBULen_[t] = at(curLoc_[t]++);
  curBUPtr_[t] = curLoc_[t] - (distance + 4);
  b = at(curBUPtr_[t]++);
  --curBULen_[t];
  return b;
}

uint32_t CompactSeqReader::varLen(int t) {
  uint32_t value = trackByte(t);
  if (value & 0x80) {
    value &= 0x7F;
    uint32_t c = 0;
    do {
      c = trackByte(t);
      value = (value << 7) + (c & 0x7F);
    } while ((c & 0x80) && problem_.empty());
  }
  return value;
}

void CompactSeqReader::trackEvent(int t, PlayerSeqEvent& e) {
  e.track = t;
  e.foreverJump = false;
  const uint8_t status = trackByte(t);
  if (status == kMeta) {
    const uint8_t type = trackByte(t);
    if (type == kMetaTempo) {
      e.type = PlayerSeqEvent::Type::Tempo;
      for (uint8_t& b : e.tempo) b = trackByte(t);
      lastStatus_[t] = 0;
    } else if (type == kMetaEnd) {
      validTracks_ ^= 1u << t;
      e.type = validTracks_ != 0 ? PlayerSeqEvent::Type::TrackEnd : PlayerSeqEvent::Type::SeqEnd;
    } else if (type == kMetaLoopStart) {
      trackByte(t);  // the loop's number and an FF, unused
      trackByte(t);
      lastStatus_[t] = 0;
      e.type = PlayerSeqEvent::Type::LoopStart;
    } else if (type == kMetaLoopEnd) {
      // Read where the track's own position stands, never through the
      // escape; the running count is kept in the sequence's second byte.
      const int64_t pos = curLoc_[t];
      const uint8_t count = at(pos);
      const uint8_t current = at(pos + 1);
      if (!problem_.empty()) return;
      if (current == 0) {
        bytes_[static_cast<size_t>(pos + 1)] = count;  // done: ready for the next time
        curLoc_[t] = pos + 6;
      } else {
        if (current != kLoopForEver) bytes_[static_cast<size_t>(pos + 1)] = current - 1;
        const uint32_t back = uint32_t{at(pos + 2)} << 24 | uint32_t{at(pos + 3)} << 16 |
                              uint32_t{at(pos + 4)} << 8 | at(pos + 5);
        // Pointer arithmetic on the console wraps at 32 bits.
        curLoc_[t] = static_cast<uint32_t>(static_cast<uint32_t>(pos + 6) - back);
        e.foreverJump = current == kLoopForEver;
      }
      lastStatus_[t] = 0;
      e.type = PlayerSeqEvent::Type::LoopEnd;
    } else {
      fail(formatText("an unknown meta event FF %02X in track %d", type, t + 1));
    }
    return;
  }
  e.type = PlayerSeqEvent::Type::Midi;
  if (status & 0x80) {
    e.status = status;
    e.byte1 = trackByte(t);
    lastStatus_[t] = status;
  } else {
    e.status = lastStatus_[t];
    e.byte1 = status;
  }
  e.byte2 = 0;
  e.duration = 0;
  if (twoDataBytes(e.status)) {
    e.byte2 = trackByte(t);
    if ((e.status & 0xF0) == 0x90) e.duration = varLen(t);
  }
}

bool CompactSeqReader::nextDelta(int32_t& ticks) {
  if (!problem_.empty()) return false;
  if (validTracks_ == 0) {
    fail("no track is left to read");
    return false;
  }
  uint32_t first = UINT32_MAX;
  for (int t = 0; t < 16; ++t) {
    if (!((validTracks_ >> t) & 1)) continue;
    if (deltaFlag_) evtDeltaTicks_[t] -= lastDeltaTicks_;
    if (evtDeltaTicks_[t] < first) first = evtDeltaTicks_[t];
  }
  deltaFlag_ = false;
  ticks = static_cast<int32_t>(first);
  return true;
}

bool CompactSeqReader::nextEvent(PlayerSeqEvent& e) {
  if (!problem_.empty()) return false;
  uint32_t first = UINT32_MAX;
  int firstTrack = -1;
  for (int t = 0; t < 16; ++t) {
    if (!((validTracks_ >> t) & 1)) continue;
    if (deltaFlag_) evtDeltaTicks_[t] -= lastDeltaTicks_;
    if (evtDeltaTicks_[t] < first) {
      first = evtDeltaTicks_[t];
      firstTrack = t;
    }
  }
  if (firstTrack < 0) {
    fail("no track is left to read");
    return false;
  }
  trackEvent(firstTrack, e);
  if (!problem_.empty()) return false;
  lastTicks_ += first;
  lastDeltaTicks_ = first;
  if (e.type == PlayerSeqEvent::Type::SeqEnd) {
    // The console reads a delay after the last end of track too; nothing
    // uses it, and it may lie past the sequence's end.
    const std::string kept = problem_;
    evtDeltaTicks_[firstTrack] += varLen(firstTrack);
    problem_ = kept;
  } else if (e.type != PlayerSeqEvent::Type::TrackEnd) {
    evtDeltaTicks_[firstTrack] += varLen(firstTrack);
  }
  deltaFlag_ = true;
  return problem_.empty();
}

// ---- Standard MIDI Files ----

MidiSeqReader::MidiSeqReader(const uint8_t* sequence, int64_t len) : seq_(sequence), len_(len) {
  constexpr int64_t kTrackStart = 22;  // the 14-byte header chunk and the track's 8
  if (len < kTrackStart || loadBE32(sequence) != 0x4D546864 /* MThd */) {
    fail("it is not a MIDI file the console's player reads (no header chunk)");
    return;
  }
  const uint16_t format = loadBE16(sequence + 8);
  const uint16_t tracks = loadBE16(sequence + 10);
  const uint16_t division = loadBE16(sequence + 12);
  if (format != 0 || tracks != 1) {
    fail(formatText("a MIDI file of type %u with %u tracks: the console's player reads type 0 only",
                    format, tracks));
    return;
  }
  if ((division & 0x8000) != 0 || division == 0) {
    fail(formatText("its division 0x%04X is not in ticks per quarter note", division));
    return;
  }
  if (loadBE32(sequence + 14) != 0x4D54726B /* MTrk */) {
    fail("its track chunk does not follow the 14-byte header");
    return;
  }
  qnpt_ = static_cast<float>(1.0 / static_cast<float>(static_cast<int16_t>(division)));
  pos_ = kTrackStart;
}

uint8_t MidiSeqReader::read8() {
  if (pos_ >= len_) {
    fail(formatText("the sequence ends inside an event (byte %" PRId64 ")", len_));
    return 0;
  }
  return seq_[pos_++];
}

int32_t MidiSeqReader::varLen() {
  int32_t value = read8();
  if (value & 0x80) {
    value &= 0x7F;
    int32_t c = 0;
    int bytes = 1;
    do {
      c = read8();
      if (++bytes > 4) {
        fail(formatText("a number longer than 4 bytes at byte %" PRId64, pos_ - bytes));
        return 0;
      }
      value = (value << 7) + (c & 0x7F);
    } while ((c & 0x80) && problem_.empty());
  }
  return value;
}

// Passes over the system-exclusive messages and the meta events other than
// tempo and end of track that come next, keeping their delays.
void MidiSeqReader::skipIgnored() {
  while (problem_.empty() && pos_ < len_) {
    const int64_t start = pos_;
    const int32_t delta = varLen();
    const uint8_t status = read8();
    if (status == kMeta) {
      const uint8_t type = read8();
      if (type == kMetaTempo || type == kMetaEnd) {
        pos_ = start;
        return;
      }
    } else if (status != 0xF0 && status != 0xF7) {
      pos_ = start;
      return;
    }
    const int32_t skip = varLen();
    if (!problem_.empty()) return;
    if (skip > len_ - pos_) {
      fail(formatText("an event at byte %" PRId64 " runs past the sequence's end", start));
      return;
    }
    pos_ += skip;
    carriedTicks_ += delta;
    if (carriedTicks_ > INT32_MAX) {
      fail(formatText("the delays up to byte %" PRId64 " pass 2^31 ticks", pos_));
      return;
    }
  }
}

bool MidiSeqReader::nextDelta(int32_t& ticks) {
  skipIgnored();
  if (!problem_.empty()) return false;
  if (pos_ >= len_) {
    fail("the track ends without an end-of-track event");
    return false;
  }
  const int64_t saved = pos_;
  const int64_t sum = carriedTicks_ + varLen();
  pos_ = saved;
  if (sum > INT32_MAX) {
    fail(formatText("the delays up to byte %" PRId64 " pass 2^31 ticks", pos_));
    return false;
  }
  ticks = static_cast<int32_t>(sum);
  return problem_.empty();
}

bool MidiSeqReader::nextEvent(PlayerSeqEvent& e) {
  skipIgnored();
  if (!problem_.empty()) return false;
  varLen();  // the delay, already waited for
  carriedTicks_ = 0;
  const uint8_t status = read8();
  if (status == kMeta) {
    const uint8_t type = read8();
    read8();  // the length byte, taken as it should be
    if (type == kMetaTempo) {
      e.type = PlayerSeqEvent::Type::Tempo;
      for (uint8_t& b : e.tempo) b = read8();
    } else {
      e.type = PlayerSeqEvent::Type::SeqEnd;
    }
    lastStatus_ = 0;
    return problem_.empty();
  }
  e.type = PlayerSeqEvent::Type::Midi;
  if (status & 0x80) {
    e.status = status;
    e.byte1 = read8();
    lastStatus_ = status;
  } else {
    e.status = lastStatus_;
    e.byte1 = status;
  }
  e.byte2 = twoDataBytes(e.status) ? read8() : 0;
  e.duration = 0;
  return problem_.empty();
}

}  // namespace zaft
