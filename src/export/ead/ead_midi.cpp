#include "export/ead/ead_midi.h"

#include <algorithm>
#include <queue>
#include <set>

#include "bank/ead/ead_sequence.h"
#include "export/midi_file.h"
#include "util/endian.h"

namespace zaft {

namespace {

constexpr uint8_t kNoteOffVelocity = 0x40;
constexpr uint32_t kMaxTempoField = 0xFFFFFF;  // µs per quarter note in three bytes
constexpr uint32_t kMicrosPerMinute = 60000000;

// Where a thing goes among the events of one tick: note-offs first, then
// in the order the console made them, a loop's end before a loop's start
// before an event.
uint64_t place(uint32_t tick, size_t event, int kind) {
  return uint64_t{tick} << 32 | (event + 1) << 2 | static_cast<uint64_t>(kind);
}
constexpr int kLoopEnd = 1, kLoopStart = 2, kEvent = 3;

struct Mark {
  uint32_t tick = 0;
  size_t event = 0;  // events made before it
  int number = 0;  // in the track
  int count = 0;   // 0: for ever
  bool controllers = true;
  bool marker = true;
};

// One track's bytes, events given in time order.
class TrackWriter {
 public:
  explicit TrackWriter(uint8_t channel) : channel_(channel) {}

  void event(uint32_t tick, size_t k, std::initializer_list<uint8_t> b) {
    flushUntil(place(tick, k, kEvent));
    put(tick, b.begin(), b.size());
  }
  void meta(uint32_t tick, size_t k, uint8_t type, const std::string& text) {
    flushUntil(place(tick, k, kEvent));
    metaNow(tick, type, text);
  }
  void note(uint32_t tick, size_t k, uint8_t key, uint8_t velocity, uint32_t duration) {
    event(tick, k, {static_cast<uint8_t>(0x90 | channel_), key, velocity});
    offs_.push({tick + duration, order_++, key});
    end_ = std::max(end_, tick + duration);
  }
  void setLoops(std::vector<Mark> starts, std::vector<Mark> ends) {
    const auto byTick = [](const Mark& a, const Mark& b) { return a.tick != b.tick ? a.tick < b.tick : a.event < b.event; };
    std::stable_sort(starts.begin(), starts.end(), byTick);
    std::stable_sort(ends.begin(), ends.end(), byTick);
    starts_ = std::move(starts);
    ends_ = std::move(ends);
  }
  std::vector<uint8_t> finish() {
    flushUntil(UINT64_MAX);
    const uint8_t eot[3] = {0xFF, 0x2F, 0x00};
    put(end_, eot, 3);
    return std::move(bytes_);
  }

 private:
  struct Off {
    uint32_t tick;
    uint64_t order;
    uint8_t key;
    bool operator>(const Off& o) const { return tick != o.tick ? tick > o.tick : order > o.order; }
  };

  void put(uint32_t tick, const uint8_t* b, size_t n) {
    appendVarLen(bytes_, tick - last_);
    bytes_.insert(bytes_.end(), b, b + n);
    last_ = tick;
    end_ = std::max(end_, tick);
  }
  void metaNow(uint32_t tick, uint8_t type, const std::string& text) {
    appendVarLen(bytes_, tick - last_);
    bytes_.insert(bytes_.end(), {0xFF, type});
    appendVarLen(bytes_, text.size());
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    last_ = tick;
    end_ = std::max(end_, tick);
  }
  // Writes the note-offs and loop marks that come before an event of `rank` at `tick`.
  void flushUntil(uint64_t until) {
    for (;;) {
      const uint64_t off = offs_.empty() ? UINT64_MAX : uint64_t{offs_.top().tick} << 32;
      const uint64_t end = nextEnd_ < ends_.size() ? place(ends_[nextEnd_].tick, ends_[nextEnd_].event, kLoopEnd)
                                                   : UINT64_MAX;
      const uint64_t start = nextStart_ < starts_.size()
                                 ? place(starts_[nextStart_].tick, starts_[nextStart_].event, kLoopStart)
                                 : UINT64_MAX;
      const uint64_t first = std::min({off, end, start});
      if (first == UINT64_MAX || first >= until) return;
      const uint32_t at = static_cast<uint32_t>(first >> 32);
      if (first == off) {
        const uint8_t b[3] = {static_cast<uint8_t>(0x80 | channel_), offs_.top().key, kNoteOffVelocity};
        offs_.pop();
        put(at, b, 3);
      } else if (first == end) {
        const Mark m = ends_[nextEnd_++];
        if (m.controllers) {
          const uint8_t b[3] = {static_cast<uint8_t>(0xB0 | channel_), kLoopEndController,
                                static_cast<uint8_t>(m.number & 0x7F)};
          put(at, b, 3);
        }
        if (m.marker) metaNow(at, 0x06, loopEndMarker(m.count == 0 ? -1 : m.count));
      } else {
        const Mark m = starts_[nextStart_++];
        if (m.controllers) {
          const uint8_t cc = static_cast<uint8_t>(0xB0 | channel_);
          const uint8_t a[3] = {cc, kLoopStartController, static_cast<uint8_t>(m.number & 0x7F)};
          put(at, a, 3);
          // For ever is 255; counts of 255 and 256 read the same.
          const int count = m.count == 0 ? 255 : std::min(m.count, 255);
          const uint8_t b[3] = {cc, count < 128 ? kLoopCountController : kLoopCountHighController,
                                static_cast<uint8_t>(count < 128 ? count : count - 128)};
          put(at, b, 3);
        }
        if (m.marker) metaNow(at, 0x06, "loop start");
      }
    }
  }

  const uint8_t channel_;
  std::vector<uint8_t> bytes_;
  uint32_t last_ = 0, end_ = 0;
  uint64_t order_ = 0;
  std::priority_queue<Off, std::vector<Off>, std::greater<>> offs_;
  std::vector<Mark> starts_, ends_;
  size_t nextStart_ = 0, nextEnd_ = 0;
};

// Loop marks of one track, numbered in order of their starts.
void loopMarks(const std::vector<const EadSequenceLoop*>& loops, bool controllers, bool markers, TrackWriter& w) {
  std::vector<size_t> order(loops.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return loops[a]->startTick < loops[b]->startTick; });
  std::vector<Mark> starts, ends;
  for (size_t n = 0; n < order.size(); ++n) {
    const EadSequenceLoop& l = *loops[order[n]];
    const bool cc = controllers && (l.channel >= 0 || l.startsChannels);
    starts.push_back({l.startTick, l.startEvent, static_cast<int>(n), l.count, cc, markers});
  }
  // Ends in the order the loops closed (inner loops first).
  std::vector<int> numberOf(loops.size());
  for (size_t n = 0; n < order.size(); ++n) numberOf[order[n]] = static_cast<int>(n);
  for (size_t k = 0; k < loops.size(); ++k) {
    const EadSequenceLoop& l = *loops[k];
    const bool cc = controllers && (l.channel >= 0 || l.startsChannels);
    ends.push_back({l.endTick, l.endEvent, numberOf[k], l.count, cc, markers});
  }
  w.setLoops(std::move(starts), std::move(ends));
}

uint32_t tempoField(uint32_t bpm) { return std::min(kMicrosPerMinute / std::max<uint32_t>(bpm, 1), kMaxTempoField); }

}  // namespace

MidiSequence eadSequenceToMidi(const uint8_t* seq, int64_t len, const std::string& bankText, int64_t maxFileBytes,
                               const std::vector<int>& bankSet) {
  MidiSequence out;
  out.sequence = seq;
  out.length = len;
  out.info.length = len;
  out.info.division = kEadTicksPerQuarter;
  const EadSequence song = readEadSequence(seq, len);
  for (const EadNotice& p : song.problems) out.problems.push_back({p.channel, p.at, p.what});
  for (const EadNotice& n : song.notices) out.notices.push_back({n.channel, n.at, n.what});

  bool plays[kEadChannels] = {};
  for (const EadEvent& e : song.events) {
    if (e.kind == EadEvent::Kind::Note) plays[e.channel] = true;
  }
  std::vector<const EadSequenceLoop*> sequenceLoops;
  for (const EadSequenceLoop& l : song.loops) {
    if (l.channel < 0) sequenceLoops.push_back(&l);
  }

  std::vector<uint8_t>& file = out.built;
  file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 0, 0, kEadTicksPerQuarter};
  int tracks = 0;
  const auto addTrack = [&](std::vector<uint8_t> body) {
    uint8_t chunk[kChunkHeaderBytes] = {'M', 'T', 'r', 'k'};
    storeBE32(chunk + 4, static_cast<uint32_t>(body.size()));
    file.insert(file.end(), chunk, chunk + kChunkHeaderBytes);
    file.insert(file.end(), body.begin(), body.end());
    ++tracks;
    if (static_cast<int64_t>(file.size()) > maxFileBytes) out.overLimit = true;
  };

  // The first track: banks, tempo, the sequence's volume and loops.
  Tempi tempi;
  {
    TrackWriter w(0);
    loopMarks(sequenceLoops, false, true, w);
    if (!bankText.empty()) w.meta(0, 0, 0x01, bankText);
    for (size_t k = 0; k < song.events.size(); ++k) {
      const EadEvent& e = song.events[k];
      if (e.kind == EadEvent::Kind::Tempo) {
        const uint32_t t = tempoField(e.value);
        tempi.add(e.tick, t);
        w.event(e.tick, k, {0xFF, 0x51, 0x03, static_cast<uint8_t>(t >> 16), static_cast<uint8_t>(t >> 8),
                         static_cast<uint8_t>(t)});
      } else if (e.kind == EadEvent::Kind::MasterVolume) {
        const uint32_t v = e.a * 16383u / 127;
        w.event(e.tick, k, {0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, static_cast<uint8_t>(v & 0x7F),
                         static_cast<uint8_t>(v >> 7), 0xF7});
      }
    }
    addTrack(w.finish());
  }

  for (int c = 0; c < kEadChannels && !out.overLimit; ++c) {
    if (!plays[c]) continue;
    out.info.channels.insert(c);
    const uint8_t status = static_cast<uint8_t>(c);
    TrackWriter w(status);
    std::vector<const EadSequenceLoop*> loops;
    for (const EadSequenceLoop& l : song.loops) {
      if (l.channel == c || (l.channel < 0 && l.startsChannels)) loops.push_back(&l);
    }
    loopMarks(loops, true, true, w);
    for (const EadSequenceLoop* l : loops) {
      if (out.info.loops.size() < kMaxListedLoops) {
        out.info.loops.push_back({c, 0, l->count == 0 ? 255 : l->count, l->startTick, l->endTick});
      }
    }
    std::set<uint32_t> farBanks;  // noted once each
    size_t k = 0;
    const auto cc = [&](uint32_t tick, uint8_t controller, uint8_t value) {
      w.event(tick, k, {static_cast<uint8_t>(0xB0 | status), controller, value});
    };
    for (k = 0; k < song.events.size(); ++k) {
      const EadEvent& e = song.events[k];
      if (e.channel != c) continue;
      switch (e.kind) {
        case EadEvent::Kind::Note: w.note(e.tick, k, e.a, e.b, e.duration); break;
        case EadEvent::Kind::Program:
          out.info.programs.insert(e.a);
          w.event(e.tick, k, {static_cast<uint8_t>(0xC0 | status), e.a});
          break;
        case EadEvent::Kind::Drums: w.meta(e.tick, k, 0x01, "drums"); break;
        case EadEvent::Kind::Bank: {
          if (bankSet.empty()) {
            cc(e.tick, 0, e.a);
            break;
          }
          const int64_t place = static_cast<int64_t>(bankSet.size()) - 1 - e.a;
          if (place < 0) {
            if (!farBanks.insert(e.value).second) break;
            out.notices.push_back({c, e.value, "a bank past the sequence's set (left out)"});
            break;
          }
          cc(e.tick, 0, static_cast<uint8_t>(std::clamp(bankSet[static_cast<size_t>(place)], 0, 127)));
          break;
        }
        case EadEvent::Kind::Volume: cc(e.tick, 7, e.a); break;
        case EadEvent::Kind::Expression: cc(e.tick, 11, e.a); break;
        case EadEvent::Kind::Pan: cc(e.tick, 10, e.a); break;
        case EadEvent::Kind::Reverb: cc(e.tick, 91, e.a); break;
        case EadEvent::Kind::Tempo:
        case EadEvent::Kind::MasterVolume: break;
      }
    }
    addTrack(w.finish());
  }

  file[10] = static_cast<uint8_t>(tracks >> 8);
  file[11] = static_cast<uint8_t>(tracks);
  out.fileBytes = static_cast<int64_t>(file.size());
  if (out.overLimit) std::vector<uint8_t>().swap(file);
  out.info.tracks = tracks;
  out.info.durationTicks = song.endTick;
  out.info.durationSeconds = tempi.secondsAt(song.endTick, kEadTicksPerQuarter);
  return out;
}

}  // namespace zaft
