#include "support/compact_encoder.h"

#include <algorithm>
#include <map>

namespace zaft::test {

namespace {

constexpr uint8_t kEscape = 0xFE;
constexpr size_t kMinReference = 6;
constexpr size_t kMaxReference = 255;
constexpr size_t kMaxDistance = 0xFFFF;

void varLen(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t b[4];
  int n = 0;
  do {
    b[n++] = static_cast<uint8_t>(v & 0x7F);
    v >>= 7;
  } while (v != 0 && n < 4);
  while (n > 1) out.push_back(static_cast<uint8_t>(b[--n] | 0x80));
  out.push_back(b[0]);
}

void be32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

// A track's bytes before compression, in pieces: plain bytes that may be
// referenced or replaced by a reference, and loop events written as they
// stand.
struct Piece {
  std::vector<uint8_t> bytes;
  bool loopEvent = false;
  const SongEvent* event = nullptr;
};

std::vector<Piece> pieces(const SongTrack& track, uint32_t endTick) {
  std::vector<Piece> out(1);
  uint32_t at = 0;
  uint8_t running = 0;
  for (const SongEvent& e : track) {
    std::vector<uint8_t>& b = out.back().bytes;
    varLen(b, e.tick - at);
    at = e.tick;
    switch (e.kind) {
      case SongEvent::Kind::Note:
      case SongEvent::Kind::Channel: {
        if (e.status != running) b.push_back(e.status);
        running = e.status;
        b.push_back(e.data1);
        const uint8_t type = e.status & 0xF0;
        if (type != 0xC0 && type != 0xD0) b.push_back(e.data2);
        if (e.kind == SongEvent::Kind::Note) varLen(b, e.duration);
        break;
      }
      case SongEvent::Kind::Tempo:
        running = 0;
        b.insert(b.end(), {0xFF, 0x51, static_cast<uint8_t>(e.tempo >> 16),
                           static_cast<uint8_t>(e.tempo >> 8), static_cast<uint8_t>(e.tempo)});
        break;
      case SongEvent::Kind::LoopStart:
      case SongEvent::Kind::LoopEnd:
        running = 0;
        out.push_back({{}, true, &e});
        out.push_back({});
        break;
    }
  }
  varLen(out.back().bytes, std::max(endTick, at) - at);
  out.back().bytes.insert(out.back().bytes.end(), {0xFF, 0x2F});
  return out;
}

class TrackWriter {
 public:
  // Matches are looked for from `from` on; `blocked` marks the stored
  // bytes no reference may copy, kept across the tracks.
  TrackWriter(std::vector<uint8_t>& out, bool references, size_t from, std::vector<bool>& blocked)
      : out_(out), references_(references), start_(from), trackStart_(out.size()), blocked_(blocked) {}

  void plain(const std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < bytes.size();) {
      size_t length = 0, from = 0;
      if (references_) findMatch(bytes, i, length, from);
      if (length >= kMinReference) {
        const size_t distance = out_.size() - from;
        out_.insert(out_.end(), {kEscape, static_cast<uint8_t>(distance >> 8),
                                 static_cast<uint8_t>(distance), static_cast<uint8_t>(length)});
        mark(4);
        ++count_;
        if (from < trackStart_) ++earlier_;
        i += length;
        continue;
      }
      emitEscaped(bytes[i]);
      ++i;
    }
  }

  void loopStart(uint8_t number) {
    for (uint8_t b : {uint8_t{0xFF}, uint8_t{0x2E}}) emitEscaped(b, true);
    emitEscaped(number, true);
    emitEscaped(0xFF, true);
    after_[number] = out_.size();
  }

  void loopEnd(uint8_t number, uint8_t count) {
    emitEscaped(0xFF, true);
    emitEscaped(0x2D, true);
    const size_t end = out_.size() + 6;
    const uint32_t offset = static_cast<uint32_t>(end - after_[number]);
    out_.insert(out_.end(), {count, count, static_cast<uint8_t>(offset >> 24),
                             static_cast<uint8_t>(offset >> 16), static_cast<uint8_t>(offset >> 8),
                             static_cast<uint8_t>(offset)});
    mark(6);
  }

  int references() const { return count_; }
  int intoEarlierTracks() const { return earlier_; }

 private:
  void emitEscaped(uint8_t b, bool fixed = false) {
    out_.push_back(b);
    if (b == kEscape) out_.push_back(kEscape);
    mark(b == kEscape ? 2 : 1, fixed || b == kEscape);
  }
  void mark(size_t n, bool blocked = true) {
    while (blocked_.size() < out_.size() - n) blocked_.push_back(false);
    for (size_t k = 0; k < n; ++k) blocked_.push_back(blocked);
  }
  bool free(size_t at) const { return at < blocked_.size() && !blocked_[at]; }

  // The longest earlier run of the track's stored bytes equal to bytes[i..]
  // that holds no escape or loop event, none itself an FE.
  void findMatch(const std::vector<uint8_t>& bytes, size_t i, size_t& length, size_t& from) const {
    const size_t here = out_.size();
    for (size_t j = std::max(start_, here > kMaxDistance ? here - kMaxDistance : 0); j < here; ++j) {
      size_t n = 0;
      while (n < kMaxReference && i + n < bytes.size() && j + n < here && free(j + n) &&
             out_[j + n] == bytes[i + n] && bytes[i + n] != kEscape) {
        ++n;
      }
      const size_t distance = here - j;
      if (n > length && (distance >> 8) != kEscape) {
        length = n;
        from = j;
      }
    }
  }

  std::vector<uint8_t>& out_;
  bool references_;
  size_t start_;
  size_t trackStart_;
  std::vector<bool>& blocked_;
  std::map<uint8_t, size_t> after_;
  int count_ = 0;
  int earlier_ = 0;
};

}  // namespace

CompactBytes compactSequence(const CompactSong& song) {
  CompactBytes result;
  std::vector<uint8_t>& out = result.bytes;
  out.assign(0x44, 0);
  for (int s = 24, k = 0; s >= 0; s -= 8, ++k) out[0x40 + static_cast<size_t>(k)] = static_cast<uint8_t>(song.division >> s);
  std::vector<bool> blocked(out.size(), true);  // the header
  for (size_t t = 0; t < song.tracks.size() && t < 16; ++t) {
    if (song.tracks[t].empty()) continue;
    const uint32_t at = static_cast<uint32_t>(out.size());
    for (int s = 24, k = 0; s >= 0; s -= 8, ++k) out[4 * t + static_cast<size_t>(k)] = static_cast<uint8_t>(at >> s);
    TrackWriter w(out, song.backReferences, song.acrossTracks ? 0 : at, blocked);
    for (const Piece& p : pieces(song.tracks[t], song.endTick)) {
      if (!p.loopEvent) {
        w.plain(p.bytes);
      } else if (p.event->kind == SongEvent::Kind::LoopStart) {
        w.loopStart(p.event->loop);
      } else {
        w.loopEnd(p.event->loop, p.event->count);
      }
    }
    result.backReferences += w.references();
    result.intoEarlierTracks += w.intoEarlierTracks();
  }
  return result;
}

std::vector<uint8_t> sequenceBank(const std::vector<std::vector<uint8_t>>& sequences) {
  std::vector<uint8_t> out = {'S', '1', static_cast<uint8_t>(sequences.size() >> 8),
                              static_cast<uint8_t>(sequences.size())};
  size_t at = (4 + 8 * sequences.size() + 7) / 8 * 8;
  std::vector<uint8_t> body;
  for (const std::vector<uint8_t>& s : sequences) {
    be32(out, static_cast<uint32_t>(at + body.size()));
    be32(out, static_cast<uint32_t>(s.size()));
    body.insert(body.end(), s.begin(), s.end());
    while (body.size() % 8 != 0) body.push_back(0);
  }
  out.resize(at, 0);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace zaft::test
