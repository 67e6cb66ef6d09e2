#include "export/midi_export.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "bank/compact_sequence.h"
#include "util/endian.h"

namespace zaft {

namespace {

constexpr uint8_t kNoteOffVelocity = 0x40;
constexpr uint8_t kLoopStartController = 102;
constexpr uint8_t kLoopEndController = 103;
constexpr uint8_t kLoopCountController = 104;      // counts below 128
constexpr uint8_t kLoopCountHighController = 105;  // count - 128
constexpr uint32_t kDefaultTempo = 500000;         // 120 beats per minute

void putVarLen(std::vector<uint8_t>& out, uint64_t value) {
  value = std::min<uint64_t>(value, 0x0FFFFFFF);  // what four bytes hold
  uint8_t bytes[4];
  int n = 0;
  do {
    bytes[n++] = static_cast<uint8_t>(value & 0x7F);
    value >>= 7;
  } while (value != 0);
  while (n > 1) out.push_back(static_cast<uint8_t>(bytes[--n] | 0x80));
  out.push_back(bytes[0]);
}

void putBE16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void putBE32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

// One event of a standard track, before the delta times: at most a
// marker's bytes, held in place.
struct TimedEvent {
  static constexpr size_t kMaxBytes = 24;
  TimedEvent(uint64_t at, int order, std::initializer_list<uint8_t> b) : tick(at), rank(order) {
    for (uint8_t v : b) bytes[size++] = v;
  }
  uint64_t tick;
  int rank;  // note-offs (0) before everything else (1) at a tick
  uint8_t size = 0;
  uint8_t bytes[kMaxBytes] = {};
};

void marker(std::vector<TimedEvent>& out, uint64_t tick, const std::string& text) {
  TimedEvent& e = out.emplace_back(tick, 1, std::initializer_list<uint8_t>{0xFF, 0x06,
                                                                          static_cast<uint8_t>(text.size())});
  for (char c : text) e.bytes[e.size++] = static_cast<uint8_t>(c);
}

// Seconds at the tempo changes (tick, microseconds per quarter).
double secondsAt(uint64_t ticks, uint32_t division, std::multimap<uint64_t, uint32_t> tempi) {
  if (division == 0) return 0;
  double seconds = 0;
  uint64_t at = 0;
  uint32_t tempo = kDefaultTempo;
  for (const auto& [tick, t] : tempi) {
    if (tick >= ticks) break;
    seconds += static_cast<double>(tick - at) * tempo / division / 1e6;
    at = tick;
    tempo = t;
  }
  return seconds + static_cast<double>(ticks - at) * tempo / division / 1e6;
}

// One compact track as standard events; records what it holds in `info`.
std::vector<TimedEvent> convertTrack(const CompactTrack& track, int index, SequenceInfo& info,
                                     std::multimap<uint64_t, uint32_t>& tempi) {
  const std::vector<SeqEvent>& events = track.events;
  // The track's channel: that of its first channel event.
  int channel = index & 0x0F;
  for (const SeqEvent& e : events) {
    if (e.kind == SeqEvent::Kind::Channel) {
      channel = e.status & 0x0F;
      break;
    }
  }
  // Each loop end to its loop start: the one just before its jump target,
  // else the innermost one still open.
  std::vector<int> countOf(events.size(), -1), numberOf(events.size(), -1);
  std::vector<size_t> open;
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].kind == SeqEvent::Kind::LoopStart) open.push_back(i);
    if (events[i].kind != SeqEvent::Kind::LoopEnd || open.empty()) continue;
    size_t k = open.size() - 1;
    for (size_t j = open.size(); j-- > 0;) {
      if (events[open[j]].loopPosition == events[i].loopPosition) {
        k = j;
        break;
      }
    }
    const size_t start = open[k];
    countOf[start] = events[i].loopCount;
    numberOf[i] = events[start].loopNumber;
    info.loops.push_back({index, events[start].loopNumber, events[i].loopCount, events[start].tick,
                          events[i].tick});
    open.erase(open.begin() + static_cast<std::ptrdiff_t>(k));
  }
  for (size_t start : open) {
    info.loops.push_back({index, events[start].loopNumber, -1, events[start].tick, events[start].tick});
  }

  const uint8_t controller = static_cast<uint8_t>(0xB0 | channel);
  std::vector<TimedEvent> out;
  out.reserve(events.size() * 2 + 1);
  uint64_t end = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    const SeqEvent& e = events[i];
    end = std::max(end, e.tick);
    switch (e.kind) {
      case SeqEvent::Kind::Channel: {
        info.channels.insert(e.status & 0x0F);
        if ((e.status & 0xF0) == 0xC0) info.programs.insert(e.data[0]);
        if (e.dataBytes() == 2) {
          out.emplace_back(e.tick, 1, std::initializer_list<uint8_t>{e.status, e.data[0], e.data[1]});
        } else {
          out.emplace_back(e.tick, 1, std::initializer_list<uint8_t>{e.status, e.data[0]});
        }
        if ((e.status & 0xF0) == 0x90) {
          const uint64_t off = e.tick + e.duration;
          out.emplace_back(off, 0, std::initializer_list<uint8_t>{static_cast<uint8_t>(0x80 | (e.status & 0x0F)),
                                                                  e.data[0], kNoteOffVelocity});
          end = std::max(end, off);
        }
        break;
      }
      case SeqEvent::Kind::Tempo:
        tempi.emplace(e.tick, e.tempo);
        out.emplace_back(e.tick, 1, std::initializer_list<uint8_t>{0xFF, 0x51, 0x03, static_cast<uint8_t>(e.tempo >> 16),
                                                                   static_cast<uint8_t>(e.tempo >> 8),
                                                                   static_cast<uint8_t>(e.tempo)});
        break;
      case SeqEvent::Kind::LoopStart:
        out.emplace_back(e.tick, 1, std::initializer_list<uint8_t>{controller, kLoopStartController,
                                                                   static_cast<uint8_t>(e.loopNumber & 0x7F)});
        if (countOf[i] >= 0) {
          const int count = countOf[i];
          out.emplace_back(e.tick, 1,
                           std::initializer_list<uint8_t>{
                               controller, count < 128 ? kLoopCountController : kLoopCountHighController,
                               static_cast<uint8_t>(count < 128 ? count : count - 128)});
        }
        marker(out, e.tick, "loop start");
        break;
      case SeqEvent::Kind::LoopEnd:
        out.emplace_back(e.tick, 1, std::initializer_list<uint8_t>{controller, kLoopEndController,
                                                                   static_cast<uint8_t>(std::max(numberOf[i], 0) & 0x7F)});
        marker(out, e.tick, e.loopCount == kLoopForEver ? std::string("loop end, for ever")
                                                        : "loop end x " + std::to_string(e.loopCount));
        break;
      case SeqEvent::Kind::End:
        break;
    }
  }
  std::stable_sort(out.begin(), out.end(), [](const TimedEvent& a, const TimedEvent& b) {
    return a.tick != b.tick ? a.tick < b.tick : a.rank < b.rank;
  });
  out.emplace_back(end, 1, std::initializer_list<uint8_t>{0xFF, 0x2F, 0x00});
  info.durationTicks = std::max(info.durationTicks, end);
  return out;
}

std::vector<uint8_t> trackChunk(const std::vector<TimedEvent>& events) {
  std::vector<uint8_t> body;
  uint64_t at = 0;
  for (const TimedEvent& e : events) {
    putVarLen(body, e.tick - at);
    at = e.tick;
    body.insert(body.end(), e.bytes, e.bytes + e.size);
  }
  std::vector<uint8_t> chunk = {'M', 'T', 'r', 'k'};
  putBE32(chunk, static_cast<uint32_t>(body.size()));
  chunk.insert(chunk.end(), body.begin(), body.end());
  return chunk;
}

// Reading a standard file for its description, never past its bytes.
class StandardReader {
 public:
  StandardReader(const uint8_t* data, int64_t len) : data_(data), len_(len) {}
  bool has(int64_t n) const { return pos_ + n <= len_; }
  uint8_t byte() {
    if (!has(1)) {
      pos_ = len_;
      return 0;
    }
    return data_[pos_++];
  }
  uint32_t varLen() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const uint8_t b = byte();
      value = value << 7 | (b & 0x7F);
      if ((b & 0x80) == 0) break;
    }
    return value;
  }
  int64_t pos_ = 0;
  const uint8_t* data_;
  int64_t len_;
};

}  // namespace

MidiSequence compactToMidi(const uint8_t* sequence, int64_t len) {
  MidiSequence out;
  out.info.length = len;
  if (len < kCompactHeaderBytes) {
    out.problems.push_back({0, 0, "the sequence is shorter than its header"});
    return out;
  }
  const CompactHeader header = readCompactHeader(sequence);
  out.info.division = header.division;
  std::multimap<uint64_t, uint32_t> tempi;
  std::vector<std::vector<uint8_t>> chunks;
  for (int t = 0; t < kCompactTracks; ++t) {
    if (header.tracks[t] == 0) continue;
    const CompactTrack track = readCompactTrack(sequence, len, header.tracks[t]);
    if (!track.problem.empty()) out.problems.push_back({t, track.problemAt, track.problem});
    chunks.push_back(trackChunk(convertTrack(track, t, out.info, tempi)));
  }
  out.info.tracks = static_cast<int>(chunks.size());
  out.info.durationSeconds = secondsAt(out.info.durationTicks, header.division, tempi);
  std::vector<uint8_t>& file = out.file;
  file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
  putBE16(file, static_cast<uint16_t>(chunks.size()));
  putBE16(file, static_cast<uint16_t>(std::min<uint32_t>(header.division, 0x7FFF)));
  for (const std::vector<uint8_t>& c : chunks) file.insert(file.end(), c.begin(), c.end());
  return out;
}

MidiSequence standardMidi(const uint8_t* sequence, int64_t len) {
  MidiSequence out;
  out.file.assign(sequence, sequence + len);
  SequenceInfo& info = out.info;
  info.standard = true;
  info.length = len;
  if (len < 14) return out;
  info.division = loadBE16(sequence + 12);
  std::multimap<uint64_t, uint32_t> tempi;
  int64_t at = 8 + static_cast<int64_t>(loadBE32(sequence + 4));
  int track = 0;
  while (at + 8 <= len) {
    const int64_t size = loadBE32(sequence + at + 4);
    const int64_t bodyEnd = std::min(len, at + 8 + size);
    if (std::memcmp(sequence + at, "MTrk", 4) == 0) {
      StandardReader in(sequence + at + 8, bodyEnd - at - 8);
      uint64_t tick = 0;
      uint8_t running = 0;
      std::map<int, uint64_t> openLoops;  // number -> start tick
      int lastNumber = 0;
      while (in.has(1)) {
        tick += in.varLen();
        uint8_t status = in.byte();
        if (status == 0xFF) {
          const uint8_t type = in.byte();
          const uint32_t n = in.varLen();
          if (type == 0x51 && n == 3 && in.has(3)) {
            tempi.emplace(tick, uint32_t{in.data_[in.pos_]} << 16 | uint32_t{in.data_[in.pos_ + 1]} << 8 |
                                    in.data_[in.pos_ + 2]);
          }
          in.pos_ += n;
          running = 0;
          continue;
        }
        if (status == 0xF0 || status == 0xF7) {
          in.pos_ += in.varLen();
          continue;
        }
        uint8_t first;
        if (status < 0x80) {
          if (running == 0) break;
          first = status;
          status = running;
        } else {
          running = status;
          first = in.byte();
        }
        const uint8_t type = status & 0xF0;
        const uint8_t second = type == 0xC0 || type == 0xD0 ? 0 : in.byte();
        info.channels.insert(status & 0x0F);
        if (type == 0xC0) info.programs.insert(first);
        if (type == 0xB0 && first == kLoopStartController) {
          openLoops[second] = tick;
          lastNumber = second;
        }
        if (type == 0xB0 && (first == kLoopCountController || first == kLoopCountHighController)) {
          info.loops.push_back({track, lastNumber, first == kLoopCountController ? second : second + 128,
                                openLoops[lastNumber], openLoops[lastNumber]});
        }
        if (type == 0xB0 && first == kLoopEndController) {
          for (SequenceLoop& l : info.loops) {
            if (l.track == track && l.number == second && l.endTick == l.startTick) l.endTick = tick;
          }
        }
      }
      info.durationTicks = std::max(info.durationTicks, tick);
      ++track;
    }
    at = bodyEnd;
  }
  info.tracks = track;
  info.durationSeconds = (info.division & 0x8000) != 0 ? 0 : secondsAt(info.durationTicks, info.division, tempi);
  return out;
}

}  // namespace zaft
