#include "export/libultra/midi_export.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>
#include <unordered_map>

#include "bank/libultra/compact_sequence.h"
#include "export/midi_file.h"
#include "util/endian.h"
#include "util/fatal.h"

namespace zaft {

namespace {

constexpr uint8_t kNoteOffVelocity = 0x40;
// Bounds on what a track's conversion keeps in memory at once; a real song
// stays far below both.
constexpr size_t kMaxSounding = 65536;   // notes waiting for their note-off
constexpr size_t kMaxOpenLoops = 65536;  // loop starts waiting for their end
// A loop start's controllers 102 and 104 (or 105) and its marker are
// written at one tick: 104 takes a delta of 0 and three bytes.
constexpr int64_t kCountControllerBytes = 4;

// Counts the bytes of a track's events.
class SizeOut {
 public:
  void put(uint64_t delta, const uint8_t*, size_t n) { bytes += varLenSize(delta) + static_cast<int64_t>(n); }
  int64_t bytes = 0;
};

// Writes a track's events to a sink, through a buffer.
class SinkOut {
 public:
  explicit SinkOut(ByteSink& sink) : sink_(sink) {}
  void put(uint64_t delta, const uint8_t* b, size_t n) {
    if (used_ + 4 + n > kBuffer) flush();
    uint8_t* p = buffer_ + used_;
    if (delta >= 0x80) {
      delta = std::min(delta, kMaxDelta);
      for (int shift = 21; shift > 0; shift -= 7) {
        if ((delta >> shift) != 0) *p++ = static_cast<uint8_t>(0x80 | (delta >> shift));
      }
    }
    *p++ = static_cast<uint8_t>(delta & 0x7F);
    for (size_t k = 0; k < n; ++k) p[k] = b[k];
    used_ = static_cast<size_t>(p - buffer_) + n;
  }
  void flush() {
    written += static_cast<int64_t>(used_);
    if (used_ > 0) sink_.write(buffer_, used_);
    used_ = 0;
  }
  int64_t written = 0;

 private:
  static constexpr size_t kBuffer = 16 << 10;
  ByteSink& sink_;
  uint8_t buffer_[kBuffer];
  size_t used_ = 0;
};

// Pairs loop ends with loop starts in time linear in the loop events: the
// open starts on a stack (innermost last) and, by the position just after
// them, in lists (latest last). A start closed from inside the stack is
// marked and dropped when it comes to the top, or when the marked ones are
// as many as the open ones.
class LoopPairs {
 public:
  struct Start {
    uint64_t tick = 0;
    int64_t position = 0;
    uint32_t id = 0;  // the how-manieth loop start of the track
    uint8_t number = 0;
    bool closed = false;
  };

  // False when too many are open: that start stays without an end.
  bool open(const SeqEvent& e, uint32_t id) {
    if (stack_.size() - closedInside_ >= kMaxOpenLoops) return false;
    byPosition_[e.loopPosition].push_back(stack_.size());
    stack_.push_back({e.tick, e.loopPosition, id, e.loopNumber, false});
    return true;
  }

  // The start a loop end jumping to `target` closes; false when none is open.
  bool close(int64_t target, Start& closed) {
    if (stack_.empty()) return false;
    size_t k = stack_.size() - 1;
    const auto it = byPosition_.find(target);
    if (it != byPosition_.end()) k = it->second.back();
    std::vector<size_t>& same = it != byPosition_.end() ? it->second : byPosition_[stack_[k].position];
    same.pop_back();  // k is the latest open start at its position
    if (same.empty()) byPosition_.erase(stack_[k].position);
    closed = stack_[k];
    stack_[k].closed = true;
    ++closedInside_;
    while (!stack_.empty() && stack_.back().closed) {
      stack_.pop_back();
      --closedInside_;
    }
    if (closedInside_ > 64 && closedInside_ * 2 > stack_.size()) compact();
    return true;
  }

  // The starts still open, outermost first.
  std::vector<Start> stillOpen() const {
    std::vector<Start> out;
    for (const Start& s : stack_) {
      if (!s.closed) out.push_back(s);
    }
    return out;
  }

 private:
  void compact() {
    std::erase_if(stack_, [](const Start& s) { return s.closed; });
    closedInside_ = 0;
    byPosition_.clear();
    for (size_t k = 0; k < stack_.size(); ++k) byPosition_[stack_[k].position].push_back(k);
  }

  std::vector<Start> stack_;
  size_t closedInside_ = 0;
  std::unordered_map<int64_t, std::vector<size_t>> byPosition_;
};

// A note-off waiting for its tick; of equal ticks, the earlier note's first.
struct NoteOff {
  uint64_t tick;
  uint64_t order;
  uint8_t status;
  uint8_t key;
  bool operator>(const NoteOff& o) const { return tick != o.tick ? tick > o.tick : order > o.order; }
};

// What the first reading of a track gathers beside its size.
struct Gather {
  SequenceInfo* info = nullptr;
  Tempi* tempi = nullptr;
  int track = 0;
  int firstChannel = -1;
  uint32_t channels = 0;    // a bit per channel
  uint64_t programs[2] = {0, 0};  // a bit per program
  std::vector<int16_t> loopCounts;
  std::vector<uint8_t> loopNumbers;
  int64_t limit = INT64_MAX;  // stop reading once the track's bytes pass it
  bool overLimit = false;
};

// One compact track as standard events in file order, through `out`. The
// first reading (`gather` given) pairs the loops and counts each loop
// start's count controller once it knows it has one; a later reading takes
// the pairs from `plan`.
template <class Out>
class TrackConverter {
 public:
  TrackConverter(const uint8_t* sequence, int64_t len, int64_t start, uint8_t channel, Out& out,
                 Gather* gather, const MidiTrackPlan* plan)
      : in_(sequence, len, start), out_(out), gather_(gather), plan_(plan),
        controller_(static_cast<uint8_t>(0xB0 | channel)) {}

  CompactTrackReader run() {
    SeqEvent e;
    while (in_.next(e)) {
      end_ = std::max(end_, e.tick);
      switch (e.kind) {
        case SeqEvent::Kind::Channel: channelEvent(e); break;
        case SeqEvent::Kind::Tempo: tempoEvent(e); break;
        case SeqEvent::Kind::LoopStart: loopStart(e); break;
        case SeqEvent::Kind::LoopEnd: loopEnd(e); break;
        case SeqEvent::Kind::End: break;
      }
      if constexpr (std::is_same_v<Out, SizeOut>) {
        if (gather_ != nullptr && out_.bytes + extra_ > gather_->limit) {
          gather_->overLimit = true;
          break;
        }
      }
    }
    notesOffUntil(UINT64_MAX);
    const uint8_t eot[3] = {0xFF, 0x2F, 0x00};
    write(end_, eot, 3);
    if constexpr (std::is_same_v<Out, SizeOut>) out_.bytes += extra_;
    if (gather_ != nullptr) describeTrack();
    return std::move(in_);
  }

 private:
  void write(uint64_t tick, const uint8_t* b, size_t n) {
    out_.put(tick - last_, b, n);
    last_ = tick;
  }

  // The note-offs due by `tick`, in their order.
  void notesOffUntil(uint64_t tick) {
    while (!sounding_.empty() && sounding_.front().tick <= tick) {
      if (sounding_.size() == 1) {
        const uint8_t b[3] = {sounding_[0].status, sounding_[0].key, kNoteOffVelocity};
        write(sounding_[0].tick, b, 3);
        sounding_.clear();
        break;
      }
      std::pop_heap(sounding_.begin(), sounding_.end(), std::greater<>());
      const NoteOff& off = sounding_.back();
      const uint8_t b[3] = {off.status, off.key, kNoteOffVelocity};
      write(off.tick, b, 3);
      sounding_.pop_back();
    }
  }

  void event(uint64_t tick, std::initializer_list<uint8_t> b) {
    notesOffUntil(tick);
    write(tick, b.begin(), b.size());
  }

  void marker(uint64_t tick, const std::string& text) {
    uint8_t b[32] = {0xFF, 0x06, static_cast<uint8_t>(text.size())};
    std::memcpy(b + 3, text.data(), text.size());
    notesOffUntil(tick);
    write(tick, b, 3 + text.size());
  }

  void channelEvent(const SeqEvent& e) {
    const uint8_t type = e.status & 0xF0;
    if (gather_ != nullptr) {
      if (gather_->firstChannel < 0) gather_->firstChannel = e.status & 0x0F;
      gather_->channels |= 1u << (e.status & 0x0F);
      if (type == 0xC0) gather_->programs[e.data[0] >> 6] |= uint64_t{1} << (e.data[0] & 0x3F);
    }
    if (type == 0x90) {
      notesOffUntil(e.tick);
      if (sounding_.size() >= kMaxSounding) {
        in_.stop("more than 65536 notes sound at once", e.at);
        return;
      }
    }
    if (e.dataBytes() == 2) {
      event(e.tick, {e.status, e.data[0], e.data[1]});
    } else {
      event(e.tick, {e.status, e.data[0]});
    }
    if (type == 0x90) {
      const uint64_t off = e.tick + e.duration;
      sounding_.push_back({off, order_++, static_cast<uint8_t>(0x80 | (e.status & 0x0F)), e.data[0]});
      std::push_heap(sounding_.begin(), sounding_.end(), std::greater<>());
      end_ = std::max(end_, off);
    }
  }

  void tempoEvent(const SeqEvent& e) {
    if (gather_ != nullptr) gather_->tempi->add(e.tick, e.tempo);
    event(e.tick, {0xFF, 0x51, 0x03, static_cast<uint8_t>(e.tempo >> 16), static_cast<uint8_t>(e.tempo >> 8),
                   static_cast<uint8_t>(e.tempo)});
  }

  void loopStart(const SeqEvent& e) {
    const uint32_t id = loopStarts_++;
    event(e.tick, {controller_, kLoopStartController, static_cast<uint8_t>(e.loopNumber & 0x7F)});
    if (gather_ != nullptr) {
      gather_->loopCounts.push_back(-1);
      loops_.open(e, id);
    } else if (plan_->loopCounts[id] >= 0) {
      const int count = plan_->loopCounts[id];
      event(e.tick, {controller_, count < 128 ? kLoopCountController : kLoopCountHighController,
                     static_cast<uint8_t>(count < 128 ? count : count - 128)});
    }
    marker(e.tick, "loop start");
  }

  void loopEnd(const SeqEvent& e) {
    const uint32_t id = loopEnds_++;
    uint8_t number = 0;
    if (gather_ != nullptr) {
      LoopPairs::Start s;
      if (loops_.close(e.loopPosition, s)) {
        number = s.number;
        gather_->loopCounts[s.id] = e.loopCount;
        extra_ += kCountControllerBytes;
        if (gather_->info->loops.size() < kMaxListedLoops) {
          gather_->info->loops.push_back({gather_->track, s.number, e.loopCount, s.tick, e.tick});
        }
      }
      gather_->loopNumbers.push_back(number);
    } else {
      number = plan_->loopNumbers[id];
    }
    event(e.tick, {controller_, kLoopEndController, static_cast<uint8_t>(number & 0x7F)});
    marker(e.tick, loopEndMarker(e.loopCount));
  }

  // The first reading's findings into the sequence's description.
  void describeTrack() {
    SequenceInfo& info = *gather_->info;
    for (int c = 0; c < 16; ++c) {
      if ((gather_->channels >> c & 1) != 0) info.channels.insert(c);
    }
    for (int p = 0; p < 128; ++p) {
      if ((gather_->programs[p >> 6] >> (p & 0x3F) & 1) != 0) info.programs.insert(p);
    }
    info.durationTicks = std::max(info.durationTicks, end_);
    for (const LoopPairs::Start& s : loops_.stillOpen()) {
      if (info.loops.size() < kMaxListedLoops) {
        info.loops.push_back({gather_->track, s.number, -1, s.tick, s.tick});
      }
    }
  }

  CompactTrackReader in_;
  Out& out_;
  Gather* gather_;
  const MidiTrackPlan* plan_;
  const uint8_t controller_;
  std::vector<NoteOff> sounding_;  // a heap, the next note-off on top
  uint64_t last_ = 0, order_ = 0, end_ = 0;
  int64_t extra_ = 0;  // count controllers found for starts already written (first reading)
  LoopPairs loops_;
  uint32_t loopStarts_ = 0, loopEnds_ = 0;
};

template <class Out>
CompactTrackReader convertTrack(const uint8_t* sequence, int64_t len, int64_t start, uint8_t channel,
                                Out& out, Gather* gather, const MidiTrackPlan* plan) {
  return TrackConverter<Out>(sequence, len, start, channel, out, gather, plan).run();
}

void putBE32(uint8_t* out, uint32_t v) {
  for (int k = 0; k < 4; ++k) out[k] = static_cast<uint8_t>(v >> (24 - 8 * k));
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

// One track chunk's events, for the description.
void describeStandardTrack(StandardReader in, int track, SequenceInfo& info, Tempi& tempi) {
  uint64_t tick = 0;
  uint8_t running = 0;
  std::map<int, uint64_t> openLoops;  // number -> start tick
  // The listed loops of this track still waiting for their loop end, by number.
  std::map<int, std::vector<size_t>> waiting;
  int lastNumber = 0;
  while (in.has(1)) {
    tick += in.varLen();
    uint8_t status = in.byte();
    if (status == 0xFF) {
      const uint8_t type = in.byte();
      const uint32_t n = in.varLen();
      if (type == 0x51 && n == 3 && in.has(3)) {
        tempi.add(tick, uint32_t{in.data_[in.pos_]} << 16 | uint32_t{in.data_[in.pos_ + 1]} << 8 |
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
    if (type != 0xB0) continue;
    if (first == kLoopStartController) {
      openLoops[second] = tick;
      lastNumber = second;
    }
    if ((first == kLoopCountController || first == kLoopCountHighController) && info.loops.size() < kMaxListedLoops) {
      waiting[lastNumber].push_back(info.loops.size());
      info.loops.push_back({track, lastNumber, first == kLoopCountController ? second : second + 128,
                            openLoops[lastNumber], openLoops[lastNumber]});
    }
    if (first == kLoopEndController) {
      const auto it = waiting.find(second);
      if (it == waiting.end()) continue;
      for (size_t k : it->second) info.loops[k].endTick = tick;
      waiting.erase(it);
    }
  }
  info.durationTicks = std::max(info.durationTicks, tick);
}

}  // namespace

namespace {

// A track read for the first time: its size, channel and loop pairs, and
// what it adds to the description. Gives its problem, if any.
SequenceProblem readTrack(const uint8_t* sequence, int64_t len, int64_t maxFileBytes, int track,
                          Tempi& tempi, MidiSequence& out, int& firstChannel) {
  MidiTrackPlan& plan = out.tracks.back();
  Gather gather;
  gather.info = &out.info;
  gather.tempi = &tempi;
  gather.track = track;
  gather.limit = maxFileBytes - out.fileBytes - kChunkHeaderBytes;
  SizeOut size;
  const CompactTrackReader in = convertTrack(sequence, len, plan.start, 0, size, &gather, nullptr);
  plan.bytes = size.bytes;
  plan.channel = static_cast<uint8_t>(gather.firstChannel >= 0 ? gather.firstChannel : track);
  firstChannel = gather.firstChannel;
  plan.loopCounts = std::move(gather.loopCounts);
  plan.loopNumbers = std::move(gather.loopNumbers);
  out.overLimit = gather.overLimit;
  return {track, in.problemAt(), in.problem()};
}

// A track whose bytes an earlier track already read: the same bytes read
// the same, only the track's number differs. Gives its problem, if any.
SequenceProblem repeatTrack(int track, const std::vector<int>& firstChannels, MidiSequence& out) {
  MidiTrackPlan& plan = out.tracks.back();
  const MidiTrackPlan& first = out.tracks[plan.reading];
  plan.bytes = first.bytes;
  plan.channel = firstChannels[plan.reading] >= 0 ? first.channel : static_cast<uint8_t>(track);
  SequenceProblem problem{track, 0, ""};
  for (const SequenceProblem& p : out.problems) {
    if (p.track == first.index) {
      problem.what = p.what;
      problem.at = p.at;
    }
  }
  const size_t listed = out.info.loops.size();
  for (size_t k = 0; k < listed && out.info.loops.size() < kMaxListedLoops; ++k) {
    if (out.info.loops[k].track != first.index) continue;
    SequenceLoop l = out.info.loops[k];
    l.track = track;
    out.info.loops.push_back(l);
  }
  return problem;
}

}  // namespace

MidiSequence compactToMidi(const uint8_t* sequence, int64_t len, int64_t maxFileBytes) {
  MidiSequence out;
  out.sequence = sequence;
  out.length = len;
  out.info.length = len;
  if (len < kCompactHeaderBytes) {
    out.problems.push_back({0, 0, "the sequence is shorter than its header"});
    out.fileBytes = kMidiHeaderBytes;
    return out;
  }
  const CompactHeader header = readCompactHeader(sequence);
  out.info.division = header.division;
  Tempi tempi;
  std::vector<int> firstChannels;  // per track: its first channel event's channel, -1 when none
  out.fileBytes = kMidiHeaderBytes;
  for (int t = 0; t < kCompactTracks && !out.overLimit; ++t) {
    if (header.tracks[t] == 0) continue;
    MidiTrackPlan& plan = out.tracks.emplace_back();
    firstChannels.push_back(-1);
    plan.index = t;
    plan.start = header.tracks[t];
    plan.reading = out.tracks.size() - 1;
    for (size_t k = 0; k + 1 < out.tracks.size(); ++k) {
      if (out.tracks[k].start == plan.start) {
        plan.reading = k;
        break;
      }
    }
    SequenceProblem problem = plan.reading + 1 == out.tracks.size()
                                  ? readTrack(sequence, len, maxFileBytes, t, tempi, out, firstChannels.back())
                                  : repeatTrack(t, firstChannels, out);
    if (!problem.what.empty()) out.problems.push_back(std::move(problem));
    out.fileBytes += kChunkHeaderBytes + plan.bytes;
    if (out.fileBytes > maxFileBytes) out.overLimit = true;
  }
  out.info.tracks = static_cast<int>(out.tracks.size());
  out.info.durationSeconds = tempi.secondsAt(out.info.durationTicks, header.division);
  return out;
}

MidiSequence standardMidi(const uint8_t* sequence, int64_t len) {
  MidiSequence out;
  out.sequence = sequence;
  out.length = len;
  out.fileBytes = len;
  SequenceInfo& info = out.info;
  info.standard = true;
  info.length = len;
  if (len < kMidiHeaderBytes) {
    out.problems.push_back({-1, 0, "the header chunk is cut short"});
    return out;
  }
  info.division = loadBE16(sequence + 12);
  const uint32_t headerBytes = loadBE32(sequence + 4);
  const int declared = loadBE16(sequence + 10);
  // The first thing that does not hold is the file's problem.
  const auto problem = [&](int64_t at, std::string what) {
    if (out.problems.empty()) out.problems.push_back({-1, at, std::move(what)});
  };
  if (headerBytes < 6) {
    problem(4, formatText("the header chunk's length is %u, not 6", headerBytes));
  } else if (headerBytes > len - kChunkHeaderBytes) {
    problem(4, "the header chunk runs past the sequence's end");
  }
  Tempi tempi;
  int64_t at = kChunkHeaderBytes + std::min<int64_t>(headerBytes, len);
  int track = 0;
  while (at + kChunkHeaderBytes <= len) {
    const int64_t size = loadBE32(sequence + at + 4);
    const bool isTrack = std::memcmp(sequence + at, "MTrk", 4) == 0;
    if (size > len - at - kChunkHeaderBytes) {
      problem(at, isTrack ? formatText("track chunk %d runs past the sequence's end", track)
                          : std::string("a chunk runs past the sequence's end"));
    }
    const int64_t bodyEnd = std::min(len, at + kChunkHeaderBytes + size);
    if (isTrack) {
      describeStandardTrack(StandardReader(sequence + at + kChunkHeaderBytes, bodyEnd - at - kChunkHeaderBytes),
                            track, info, tempi);
      ++track;
    }
    at = bodyEnd;
  }
  if (track < declared) problem(at, formatText("the header names %d tracks, the file holds %d", declared, track));
  info.tracks = track;
  info.durationSeconds = (info.division & 0x8000) != 0 ? 0 : tempi.secondsAt(info.durationTicks, info.division);
  return out;
}

void writeMidi(const MidiSequence& midi, ByteSink& sink) {
  if (!midi.built.empty()) {
    sink.write(midi.built.data(), midi.built.size());
    return;
  }
  if (midi.info.standard) {
    sink.write(midi.sequence, static_cast<size_t>(midi.length));
    return;
  }
  uint8_t head[kMidiHeaderBytes] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
  head[10] = static_cast<uint8_t>(midi.tracks.size() >> 8);
  head[11] = static_cast<uint8_t>(midi.tracks.size());
  const uint32_t division = std::min<uint32_t>(midi.info.division, 0x7FFF);
  head[12] = static_cast<uint8_t>(division >> 8);
  head[13] = static_cast<uint8_t>(division);
  sink.write(head, sizeof head);
  for (const MidiTrackPlan& plan : midi.tracks) {
    uint8_t chunk[kChunkHeaderBytes] = {'M', 'T', 'r', 'k'};
    putBE32(chunk + 4, static_cast<uint32_t>(plan.bytes));
    sink.write(chunk, sizeof chunk);
    SinkOut out(sink);
    convertTrack(midi.sequence, midi.length, plan.start, plan.channel, out, nullptr, &midi.tracks[plan.reading]);
    out.flush();
    // Both readings take the same course; a difference would be a broken file.
    if (out.written != plan.bytes) throw std::logic_error("a MIDI track's size changed between its readings");
  }
}

}  // namespace zaft
