#include "bank/ead/ead_sequence.h"

#include <algorithm>
#include <memory>
#include <unordered_set>

#include "util/fatal.h"

namespace zaft {

namespace {

// A value of the sequence script after arithmetic, wrapped to 32 bits as the
// console's registers wrap it (repeated subtractions never end in a fault).
int32_t wrapped(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

// The player's short-note tables until the sequence names its own: the
// velocity (0 to 127) and the gate (of 256) of short notes set from a
// table by index.
constexpr uint8_t kDefaultShortVelocities[16] = {12, 25, 38, 51, 57, 64, 71, 76, 83, 89, 96, 102, 109, 115, 121, 127};
constexpr uint8_t kDefaultShortGates[16] = {229, 203, 177, 151, 139, 126, 113, 100, 87, 74, 61, 48, 36, 23, 10, 0};
constexpr int kStackLevels = 4;       // the player's call and loop stack
constexpr int kIoPorts = 8;           // a channel's ports to the game
constexpr uint32_t kAddressable = 0x10000;  // script addresses are 16 bits
constexpr uint32_t kFastestTempo = 14360;   // the player's cap: one tick per audio update
constexpr size_t kMaxNotices = 256;   // listed; more are summed up in one

struct Frame {
  uint32_t pc = 0;         // where a return or a loop's next pass goes
  bool loop = false;
  int count = 0;           // passes
  int number = 0;          // the loop's mark number
  uint32_t startTick = 0;
  int64_t at = 0;
  size_t starts = 0;  // children the script had started by the loop's start
  size_t events = 0;  // events made by the loop's start
  uint32_t activation = 0;  // a call's: the caller's
};

// Where a script first ran each command (of the addressable part) in its
// current call, for telling a jump back to where it already was: each call
// is an activation of its own, so a routine called twice with a branch in
// it is not taken for a loop.
struct Visit {
  uint32_t activation = 0;
  uint32_t tick = 0;
  uint32_t starts = 0;  // children the script had started by then
  uint32_t events = 0;  // events made by then
};

struct Script {
  bool active = false;
  uint32_t pc = 0;
  uint32_t next = 0;  // the tick it runs next
  Frame stack[kStackLevels];
  int depth = 0;
  uint32_t activation = 0;
  std::unique_ptr<Visit[]> visits;
  std::vector<int> started;  // children started by this instance, in order
};

struct Layer {
  Script script;
  int transposition = 0;
  uint8_t velocity = 0;
  uint8_t gate = 0x80;
  uint16_t length = 0;         // the last note's length
  uint16_t shortLength = 0;    // the short notes' default length
  int64_t note = -1;           // its sounding note's event
};

struct Channel {
  Script script;
  bool allocated = false, enabled = false, finished = false;
  bool largeNotes = false;
  enum class Plays { Nothing, Instrument, Drums, Wave } plays = Plays::Nothing;
  int transposition = 0;
  int8_t value = 0;
  int8_t io[kIoPorts] = {-1, -1, -1, -1, -1, -1, -1, -1};
  uint32_t dynTable = 0;
  bool hasDynTable = false;
  Layer layers[kEadLayers];
};

class Player {
 public:
  Player(const uint8_t* seq, int64_t len) : data_(seq, seq + len), len_(len) {}

  EadSequence run() {
    startScript(seq_, 0, 0);
    while (!halted_) {
      uint32_t t = UINT32_MAX;
      if (seq_.active) t = seq_.next;
      for (const Channel& c : channels_) {
        if (!c.enabled) continue;
        if (c.script.active) t = std::min(t, c.script.next);
        for (const Layer& l : c.layers) {
          if (l.script.active) t = std::min(t, l.script.next);
        }
      }
      if (t == UINT32_MAX) break;
      if (t >= kMaxEadTicks) {
        problem(-1, 0, formatText("the sequence passes %u ticks", kMaxEadTicks));
        break;
      }
      now_ = t;
      current_ = -1;
      if (seq_.active && seq_.next == t) runSequence();
      for (int c = 0; c < kEadChannels && !halted_; ++c) {
        current_ = c;
        Channel& ch = channels_[c];
        if (!ch.enabled) continue;
        if (ch.script.active && ch.script.next == t) runChannel(c);
        for (int l = 0; l < kEadLayers && !halted_ && ch.enabled; ++l) {
          if (ch.layers[l].script.active && ch.layers[l].script.next == t) runLayer(c, l);
        }
      }
    }
    // Whatever still sounds ends where the reading stopped.
    for (int c = 0; c < kEadChannels; ++c) {
      for (Layer& l : channels_[c].layers) cutNote(l, UINT32_MAX);
    }
    if (notices_ > kMaxNotices) {
      out_.notices.push_back({-1, firstUnlisted_, formatText("%zu more constructs followed down their default path",
                                                             notices_ - kMaxNotices)});
    }
    for (const EadEvent& e : out_.events) {
      out_.endTick = std::max(out_.endTick, e.tick + (e.kind == EadEvent::Kind::Note ? e.duration : 0));
    }
    for (const EadSequenceLoop& l : out_.loops) out_.endTick = std::max(out_.endTick, l.endTick);
    return std::move(out_);
  }

 private:
  // --- reading the script's bytes ---

  // False (and the script ended with a problem) when `n` bytes are not there.
  bool has(Script& s, int channel, uint32_t n) {
    if (static_cast<int64_t>(s.pc) + n <= len_) return true;
    problem(channel, s.pc, "a command runs past the sequence's end");
    s.active = false;
    return false;
  }
  uint8_t u8(Script& s) { return data_[s.pc++]; }
  uint16_t u16(Script& s) {
    const uint16_t v = static_cast<uint16_t>(data_[s.pc] << 8 | data_[s.pc + 1]);
    s.pc += 2;
    return v;
  }
  // A length: one byte, or two when the first has its top bit (15 bits).
  bool var(Script& s, int channel, uint16_t& v) {
    if (!has(s, channel, 1)) return false;
    v = u8(s);
    if ((v & 0x80) == 0) return true;
    if (!has(s, channel, 1)) return false;
    v = static_cast<uint16_t>((v << 8 & 0x7F00) | u8(s));
    return true;
  }

  // --- what is found ---

  void problem(int channel, int64_t at, std::string what) { out_.problems.push_back({channel, at, std::move(what)}); }

  void notice(int channel, int64_t at, const char* what) {
    if (!noticed_.insert(at).second) return;
    if (++notices_ <= kMaxNotices) {
      out_.notices.push_back({channel, at, what});
    } else if (notices_ == kMaxNotices + 1) {
      firstUnlisted_ = at;
    }
  }

  bool emit(EadEvent e) {
    if (out_.events.size() >= kMaxEadEvents) {
      if (!halted_) problem(-1, 0, formatText("the sequence makes more than %zu events", kMaxEadEvents));
      halted_ = true;
      return false;
    }
    e.tick = now_;
    out_.events.push_back(e);
    return true;
  }
  void emitChannel(int c, EadEvent::Kind kind, uint8_t a) {
    EadEvent e;
    e.kind = kind;
    e.channel = static_cast<int8_t>(c);
    e.a = static_cast<uint8_t>(std::min<int>(a, 127));
    emit(e);
  }

  // --- scripts ---

  void startScript(Script& s, uint32_t pc, uint32_t next) {
    s.active = true;
    s.pc = pc;
    s.next = next;
    s.depth = 0;
    s.started.clear();
    s.activation = ++activations_;
  }

  // Records where the script is; true when it had been there before.
  bool been(Script& s, uint32_t pc, Visit& first) {
    if (pc >= kAddressable || pc >= len_) return false;
    if (!s.visits) s.visits = std::make_unique<Visit[]>(std::min<int64_t>(len_, kAddressable));
    Visit& v = s.visits[pc];
    if (v.activation == s.activation) {
      first = v;
      return true;
    }
    v = {s.activation, now_, static_cast<uint32_t>(s.started.size()), static_cast<uint32_t>(out_.events.size())};
    return false;
  }

  // One step's bookkeeping; false when the script must stop.
  bool step(Script& s, int channel, uint32_t& stepsNow) {
    if (++steps_ > kMaxEadSteps) {
      problem(channel, s.pc, formatText("the sequence runs more than %llu commands",
                                        static_cast<unsigned long long>(kMaxEadSteps)));
      halted_ = true;
      return false;
    }
    if (++stepsNow > kMaxEadStepsPerTick) {
      problem(channel, s.pc, formatText("a script runs more than %u commands without waiting", kMaxEadStepsPerTick));
      s.active = false;
      return false;
    }
    Visit ignored;
    been(s, s.pc, ignored);
    return s.pc < len_ || has(s, channel, 1);
  }

  // A return: to the caller, in its activation (from a loop frame, to the
  // loop's body, as the player does).
  void ret(Script& s) {
    const Frame& f = s.stack[--s.depth];
    s.pc = f.pc;
    s.activation = f.activation;
  }

  int& loopNumber(int channel) { return loopNumbers_[channel + 1]; }

  // The control commands every level shares. `cmd` was read at `at`.
  // Returns false when it is none of them.
  enum class Flow { NotMine, Go, Stop };
  Flow control(Script& s, int channel, uint8_t cmd, int64_t at, int32_t value, bool branches) {
    switch (cmd) {
      case 0xFC: {  // call
        if (!has(s, channel, 2)) return Flow::Stop;
        const uint16_t to = u16(s);
        if (s.depth >= kStackLevels) return overflow(s, channel, at);
        s.stack[s.depth++] = {s.pc, false, 0, 0, 0, at, 0, 0, s.activation};
        s.activation = ++activations_;
        s.pc = to;
        return Flow::Go;
      }
      case 0xF8: {  // loop
        if (!has(s, channel, 1)) return Flow::Stop;
        const int count = u8(s);
        if (s.depth >= kStackLevels) return overflow(s, channel, at);
        s.stack[s.depth++] = {s.pc, true, count == 0 ? 256 : count, loopNumber(channel)++, now_, at, s.started.size(), out_.events.size(), s.activation};
        return Flow::Go;
      }
      case 0xF7: {  // loop end: the body is walked once
        if (s.depth == 0) {
          problem(channel, at, "a loop end with no loop open");
          s.active = false;
          return Flow::Stop;
        }
        const Frame f = s.stack[--s.depth];
        if (f.loop) {
          if (f.count >= 255) notice(channel, f.at, "a loop of 255 passes or more, whose count controller reads as for ever");
          EadSequenceLoop l{channel, f.number, f.count, f.startTick, now_, f.at, f.events, out_.events.size(), false};
          l.startsChannels = channel < 0 && s.started.size() > f.starts;
          out_.loops.push_back(l);
        }
        return Flow::Go;
      }
      case 0xFB: case 0xFA: case 0xF9: case 0xF5: {  // jump, and branches on the script's variable
        if (cmd != 0xFB && !branches) return Flow::NotMine;
        if (!has(s, channel, 2)) return Flow::Stop;
        const uint16_t to = u16(s);
        if (cmd != 0xFB) {
          notice(channel, at, "a conditional branch");
          if ((cmd == 0xFA && value != 0) || (cmd == 0xF9 && value >= 0) || (cmd == 0xF5 && value < 0)) {
            return Flow::Go;
          }
        }
        Visit first;
        if (been(s, to, first)) {
          endless(s, channel, at, first);
          return Flow::Stop;
        }
        s.pc = to;
        return Flow::Go;
      }
      default: return Flow::NotMine;
    }
  }

  Flow overflow(Script& s, int channel, int64_t at) {
    problem(channel, at, "calls and loops nest deeper than 4 levels");
    s.active = false;
    return Flow::Stop;
  }

  // A jump back to where the script already was: the console loops for ever.
  void endless(Script& s, int channel, int64_t at, const Visit& first) {
    EadSequenceLoop l{channel, loopNumber(channel)++, 0, first.tick, now_, at, first.events, out_.events.size(), false};
    const std::vector<int> children(s.started.begin() + std::min<size_t>(first.starts, s.started.size()),
                                    s.started.end());
    l.startsChannels = channel < 0 && !children.empty();
    out_.loops.push_back(l);
    s.active = false;
    // What the looped part started, the console starts afresh: it ends here.
    for (int child : children) {
      if (channel < 0) {
        stopChannelAt(child);
      } else {
        Layer& layer = channels_[channel].layers[child];
        cutNote(layer, now_);
        layer.script.active = false;
      }
    }
  }

  void stopChannelAt(int c) {
    Channel& ch = channels_[c];
    ch.script.active = false;
    for (Layer& l : ch.layers) {
      cutNote(l, now_);
      l.script.active = false;
    }
  }

  void cutNote(Layer& l, uint32_t tick) {
    if (l.note < 0) return;
    EadEvent& e = out_.events[static_cast<size_t>(l.note)];
    if (tick < e.tick + e.duration) e.duration = tick - e.tick;
    l.note = -1;
  }

  // --- the sequence script ---

  void initChannel(int c) {
    Channel& ch = channels_[c];
    disableChannel(c);
    ch.allocated = true;
    ch.finished = false;
    ch.largeNotes = false;
    ch.plays = Channel::Plays::Nothing;
    ch.transposition = 0;
    std::fill(std::begin(ch.io), std::end(ch.io), int8_t{-1});
    ch.hasDynTable = false;
    // The console's state of a fresh channel, which MIDI's defaults are not.
    emitChannel(c, EadEvent::Kind::Bank, 0);
    emitChannel(c, EadEvent::Kind::Volume, 127);
    emitChannel(c, EadEvent::Kind::Pan, 64);
    emitChannel(c, EadEvent::Kind::Reverb, 0);
  }

  void disableChannel(int c) {
    Channel& ch = channels_[c];
    for (int l = 0; l < kEadLayers; ++l) freeLayer(ch.layers[l]);
    ch.script.active = false;
    ch.enabled = false;
    ch.finished = true;
  }

  void freeLayer(Layer& l) {
    cutNote(l, now_);
    l.script.active = false;
  }

  void enableChannel(int c, uint32_t pc) {
    Channel& ch = channels_[c];
    if (!ch.allocated) return;  // the console's placeholder channel: nothing happens
    for (Layer& l : ch.layers) freeLayer(l);
    ch.enabled = true;
    ch.finished = false;
    // A channel already passed at this tick runs at the next.
    startScript(ch.script, pc, c < current_ ? now_ + 1 : now_);
    out_.channelStarted[c] = true;
  }

  void runSequence() {
    Script& s = seq_;
    uint32_t stepsNow = 0;
    while (s.active && !halted_) {
      if (!step(s, -1, stepsNow)) return;
      const int64_t at = s.pc;
      const uint8_t cmd = u8(s);
      if (cmd == 0xFF) {
        if (s.depth == 0) {
          for (int c = 0; c < kEadChannels; ++c) {
            if (channels_[c].allocated) disableChannel(c);
            channels_[c].allocated = false;
          }
          s.active = false;
          return;
        }
        ret(s);
        continue;
      }
      if (cmd == 0xFD || cmd == 0xFE) {
        uint16_t wait = 1;
        if (cmd == 0xFD && !var(s, -1, wait)) return;
        s.next = now_ + std::max<uint16_t>(wait, 1);
        return;
      }
      if (cmd >= 0xC0) {
        const Flow f = control(s, -1, cmd, at, seqValue_, true);
        if (f == Flow::Stop) return;
        if (f == Flow::Go) continue;
        sequenceCommand(s, cmd, at);
        continue;
      }
      const int low = cmd & 0x0F;
      switch (cmd & 0xF0) {
        case 0x00:  // whether a channel has finished
          if (channels_[low].allocated) seqValue_ = channels_[low].finished ? 1 : 0;
          break;
        case 0x50: case 0x70: case 0x80:  // the game's variation of the song
          notice(-1, at, "the game's sequence variation");
          if (cmd >> 4 == 5) seqValue_ = wrapped(int64_t{seqValue_} - variation_);
          if (cmd >> 4 == 7) variation_ = seqValue_;
          if (cmd >> 4 == 8) seqValue_ = variation_;
          break;
        case 0x90: {
          if (!has(s, -1, 2)) return;
          const uint16_t to = u16(s);
          s.started.push_back(low);
          enableChannel(low, to);
          break;
        }
        default: break;
      }
    }
  }

  void sequenceCommand(Script& s, uint8_t cmd, int64_t at) {
    const auto operand = [&](uint32_t n) { return has(s, -1, n); };
    switch (cmd) {
      case 0xF2: case 0xD5: case 0xD3: case 0xD0:  // voices, muting: no sound of their own
        if (operand(1)) u8(s);
        break;
      case 0xDF: case 0xDE:
        if (!operand(1)) return;
        if (cmd == 0xDF) transposition_ = 0;
        // A signed byte on the console: repeated steps wrap.
        transposition_ = static_cast<int8_t>(transposition_ + static_cast<int8_t>(u8(s)));
        break;
      case 0xDD: case 0xDC: {
        if (!operand(1)) return;
        const uint8_t v = u8(s);
        // As the player keeps it: 16 bits, capped at its fastest, 1 when
        // it reads as not positive (so a tempo taken below 0 wraps to the cap).
        uint16_t tempo = cmd == 0xDD ? v : static_cast<uint16_t>(tempo_ + static_cast<int8_t>(v));
        if (tempo > kFastestTempo) tempo = kFastestTempo;
        if (static_cast<int16_t>(tempo) <= 0) tempo = 1;
        tempo_ = tempo;
        EadEvent e;
        e.kind = EadEvent::Kind::Tempo;
        e.channel = -1;
        e.value = tempo_;
        emit(e);
        break;
      }
      case 0xDB: case 0xDA: {
        if (!operand(1)) return;
        const uint8_t v = u8(s);
        volume_ = cmd == 0xDB ? v : std::clamp(volume_ + static_cast<int8_t>(v), 0, 127);
        EadEvent e;
        e.kind = EadEvent::Kind::MasterVolume;
        e.channel = -1;
        e.a = static_cast<uint8_t>(std::min(volume_, 127));
        emit(e);
        break;
      }
      case 0xD7: case 0xD6: {
        if (!operand(2)) return;
        const uint16_t bits = u16(s);
        for (int c = 0; c < kEadChannels; ++c) {
          if ((bits >> c & 1) == 0) continue;
          if (cmd == 0xD7) {
            initChannel(c);
          } else if (channels_[c].allocated) {
            disableChannel(c);
            channels_[c].allocated = false;
          }
        }
        break;
      }
      case 0xD4:
        notice(-1, at, "muting by the game");
        break;
      case 0xD2: case 0xD1: {
        if (!operand(2)) return;
        const uint16_t table = u16(s);
        (cmd == 0xD2 ? velocityTable_ : gateTable_) = table;
        break;
      }
      case 0xCC: case 0xC9: case 0xC8: {
        if (!operand(1)) return;
        const uint8_t v = u8(s);
        seqValue_ = cmd == 0xCC ? v : cmd == 0xC9 ? (seqValue_ & v) : wrapped(int64_t{seqValue_} - v);
        break;
      }
      default: break;  // the player does nothing else at 0xC0 and above
    }
  }

  // --- a channel script ---

  void runChannel(int c) {
    Channel& ch = channels_[c];
    Script& s = ch.script;
    uint32_t stepsNow = 0;
    while (s.active && !halted_) {
      if (!step(s, c, stepsNow)) return;
      const int64_t at = s.pc;
      const uint8_t cmd = u8(s);
      if (cmd == 0xFF) {
        if (s.depth == 0) {
          disableChannel(c);
          return;
        }
        ret(s);
        continue;
      }
      if (cmd == 0xFD || cmd == 0xFE) {
        uint16_t wait = 1;
        if (cmd == 0xFD && !var(s, c, wait)) return;
        s.next = now_ + std::max<uint16_t>(wait, 1);
        return;
      }
      if (cmd == 0xF3) {  // hang: the script stops, its layers play on
        s.active = false;
        return;
      }
      if (cmd > 0xC0) {
        if (cmd == 0xF6) {  // break out of a loop, without jumping
          if (s.depth > 0) --s.depth;
          continue;
        }
        const Flow f = control(s, c, cmd, at, ch.value, true);
        if (f == Flow::Stop) return;
        if (f == Flow::Go) continue;
        if (!channelCommand(c, cmd, at)) return;
        continue;
      }
      if (!channelLowCommand(c, cmd, at)) return;
    }
  }

  // A u16 of the dynamic table at entry `index`; false when none.
  bool dynEntry(int c, int index, uint16_t& out, int64_t at) {
    const Channel& ch = channels_[c];
    const int64_t p = static_cast<int64_t>(ch.dynTable) + 2 * int64_t{index};
    if (!ch.hasDynTable || index < 0 || p + 2 > len_) {
      problem(c, at, "a dynamic table entry outside the sequence");
      return false;
    }
    out = static_cast<uint16_t>(data_[p] << 8 | data_[p + 1]);
    return true;
  }

  bool channelCommand(int c, uint8_t cmd, int64_t at) {
    Channel& ch = channels_[c];
    Script& s = ch.script;
    const auto operand = [&](uint32_t n) { return has(s, c, n); };
    switch (cmd) {
      case 0xF2: case 0xD6: case 0xCA: case 0xD0: case 0xD1:  // voices and housekeeping
        if (!operand(1)) return false;
        u8(s);
        return true;
      case 0xC2:
        if (!operand(2)) return false;
        notice(c, at, "a dynamic table");
        ch.dynTable = u16(s);
        ch.hasDynTable = true;
        return true;
      case 0xC5: case 0xE4: {
        notice(c, at, cmd == 0xC5 ? "a dynamic table" : "a call through a dynamic table");
        if (ch.value == -1) return true;
        uint16_t to = 0;
        if (!dynEntry(c, ch.value, to, at)) {
          s.active = false;
          return false;
        }
        if (cmd == 0xC5) {
          ch.dynTable = to;
          return true;
        }
        if (s.depth >= kStackLevels) {
          overflow(s, c, at);
          return false;
        }
        s.stack[s.depth++] = {s.pc, false, 0, 0, 0, at, 0, 0, s.activation};
        s.activation = ++activations_;
        s.pc = to;
        return true;
      }
      case 0xC1: {
        if (!operand(1)) return false;
        const uint8_t id = u8(s);
        if (id >= 0x80) {
          notice(c, at, "a synthetic wave instead of an instrument");
          ch.plays = Channel::Plays::Wave;
        } else if (id == 0x7F) {
          ch.plays = Channel::Plays::Drums;
          emitChannel(c, EadEvent::Kind::Drums, 0);
        } else {
          ch.plays = Channel::Plays::Instrument;
          emitChannel(c, EadEvent::Kind::Program, id);
        }
        return true;
      }
      case 0xC3: case 0xC4:
        ch.largeNotes = cmd == 0xC4;
        return true;
      case 0xDF: case 0xE0: case 0xDD: case 0xD4: {
        if (!operand(1)) return false;
        const uint8_t v = u8(s);
        const EadEvent::Kind kind = cmd == 0xDF   ? EadEvent::Kind::Volume
                                    : cmd == 0xE0 ? EadEvent::Kind::Expression
                                    : cmd == 0xDD ? EadEvent::Kind::Pan
                                                  : EadEvent::Kind::Reverb;
        // The volume scale and pan count 128 as 1.0 and the right side.
        emitChannel(c, kind, cmd == 0xE0 || cmd == 0xDD ? static_cast<uint8_t>(std::min(v, uint8_t{127})) : v);
        return true;
      }
      case 0xDE:
        if (!operand(2)) return false;
        u16(s);
        notice(c, at, "a frequency scale (pitch bend)");
        return true;
      case 0xD3:
        if (!operand(1)) return false;
        u8(s);
        notice(c, at, "a pitch bend");
        return true;
      case 0xDC:
        if (!operand(1)) return false;
        u8(s);
        notice(c, at, "a mix of the channel's and the layers' pan");
        return true;
      case 0xDB:
        if (!operand(1)) return false;
        ch.transposition = static_cast<int8_t>(u8(s));
        return true;
      case 0xDA:
        if (!operand(2)) return false;
        u16(s);
        notice(c, at, "an envelope of the channel's own");
        return true;
      case 0xD9: case 0xD2:
        if (!operand(1)) return false;
        u8(s);
        notice(c, at, "an envelope of the channel's own");
        return true;
      case 0xD8: case 0xD7: case 0xE3:
        if (!operand(1)) return false;
        u8(s);
        notice(c, at, "vibrato");
        return true;
      case 0xE2: case 0xE1:
        if (!operand(3)) return false;
        s.pc += 3;
        notice(c, at, "vibrato");
        return true;
      case 0xC6: {
        if (!operand(1)) return false;
        EadEvent e;
        e.kind = EadEvent::Kind::Bank;
        e.channel = static_cast<int8_t>(c);
        e.a = u8(s);
        e.value = static_cast<uint32_t>(at);
        emit(e);
        return true;
      }
      case 0xC7: {  // writes into the sequence itself
        if (!operand(3)) return false;
        const uint8_t add = u8(s);
        const uint16_t to = u16(s);
        notice(c, at, "a write into the sequence");
        if (to < len_) data_[to] = static_cast<uint8_t>(static_cast<uint8_t>(ch.value) + add);
        return true;
      }
      case 0xC8: case 0xC9: case 0xCC: {
        if (!operand(1)) return false;
        const int8_t v = static_cast<int8_t>(u8(s));
        ch.value = cmd == 0xC8 ? static_cast<int8_t>(ch.value - v) : cmd == 0xCC ? v : static_cast<int8_t>(ch.value & v);
        return true;
      }
      case 0xCB: {
        if (!operand(2)) return false;
        const int64_t from = int64_t{u16(s)} + ch.value;
        notice(c, at, "a read of the sequence's bytes");
        ch.value = from >= 0 && from < len_ ? static_cast<int8_t>(data_[from]) : 0;
        return true;
      }
      default: return true;  // the player does nothing else above 0xC0
    }
  }

  bool channelLowCommand(int c, uint8_t cmd, int64_t at) {
    Channel& ch = channels_[c];
    Script& s = ch.script;
    const int low = cmd & 0x0F;
    const auto operand = [&](uint32_t n) { return has(s, c, n); };
    const auto port = [&](Channel& owner, int p) -> int8_t* { return p < kIoPorts ? &owner.io[p] : nullptr; };
    switch (cmd & 0xF0) {
      case 0x00:  // whether a layer has finished
        if (low < kEadLayers) ch.value = ch.layers[low].script.active ? 0 : 1;
        return true;
      case 0x70:
        notice(c, at, "a write to the game's I/O port");
        if (int8_t* p = port(ch, low)) *p = ch.value;
        return true;
      case 0x80: case 0x50: {
        notice(c, at, "a read of the game's I/O port");
        const int8_t v = port(ch, low) ? *port(ch, low) : int8_t{-1};
        if (cmd >> 4 == 8) {
          ch.value = v;
          if (low < 4) ch.io[low] = -1;
        } else {
          ch.value = static_cast<int8_t>(ch.value - v);
        }
        return true;
      }
      case 0x30: case 0x40: {
        if (!operand(1)) return false;
        const int p = u8(s);
        notice(c, at, cmd >> 4 == 3 ? "a write to the game's I/O port" : "a read of the game's I/O port");
        int8_t* io = channels_[low].allocated ? port(channels_[low], p) : nullptr;
        if (cmd >> 4 == 3) {
          if (io != nullptr) *io = ch.value;
        } else {
          ch.value = io != nullptr ? *io : int8_t{-1};
        }
        return true;
      }
      case 0x90: case 0xB0: {
        uint16_t to = 0;
        if (cmd >> 4 == 9) {
          if (!operand(2)) return false;
          to = u16(s);
        } else {
          notice(c, at, "a layer started through a dynamic table");
          if (ch.value == -1) return true;
          if (!dynEntry(c, ch.value, to, at)) {
            s.active = false;
            return false;
          }
        }
        if (low >= kEadLayers) {
          problem(c, at, formatText("layer %d of a channel that has 4", low));
          s.active = false;
          return false;
        }
        Layer& l = ch.layers[low];
        freeLayer(l);
        startScript(l.script, to, now_);
        l.transposition = 0;
        l.velocity = 0;
        l.gate = 0x80;
        s.started.push_back(low);
        return true;
      }
      case 0xA0:
        if (low < kEadLayers) freeLayer(ch.layers[low]);
        return true;
      case 0x10: {
        if (!operand(2)) return false;
        const uint16_t to = u16(s);
        enableChannel(low, to);
        return true;
      }
      case 0x20:
        if (channels_[low].allocated) disableChannel(low);
        return true;
      default: return true;  // note priority, and nothing
    }
  }

  // --- a layer script ---

  uint8_t tableByte(uint32_t table, const uint8_t* fallback, int index, int c, int64_t at, bool& ok) {
    if (table == UINT32_MAX) return fallback[index];
    if (table + index >= len_) {
      problem(c, at, "a short-note table runs past the sequence's end");
      ok = false;
      return 0;
    }
    return data_[table + index];
  }

  void runLayer(int c, int li) {
    Channel& ch = channels_[c];
    Layer& l = ch.layers[li];
    Script& s = l.script;
    uint32_t stepsNow = 0;
    cutNote(l, now_);
    while (s.active && !halted_) {
      if (!step(s, c, stepsNow)) return;
      const int64_t at = s.pc;
      const uint8_t cmd = u8(s);
      if (cmd <= 0xC0) {
        playOrWait(c, l, cmd, at);
        return;
      }
      if (cmd == 0xFF) {
        if (s.depth == 0) {
          s.active = false;
          return;
        }
        ret(s);
        continue;
      }
      const Flow f = control(s, c, cmd, at, 0, false);
      if (f == Flow::Stop) return;
      if (f == Flow::Go) continue;
      const auto operand = [&](uint32_t n) { return has(s, c, n); };
      switch (cmd) {
        case 0xC1:
          if (!operand(1)) return;
          l.velocity = u8(s);
          break;
        case 0xCA:
          if (!operand(1)) return;
          u8(s);
          notice(c, at, "a layer's own pan");
          break;
        case 0xC2:
          if (!operand(1)) return;
          l.transposition = static_cast<int8_t>(u8(s));
          break;
        case 0xC9:
          if (!operand(1)) return;
          l.gate = u8(s);
          break;
        case 0xC4:
          notice(c, at, "legato notes");
          break;
        case 0xC3:
          if (!var(s, c, l.shortLength)) return;
          break;
        case 0xC6: {
          if (!operand(1)) return;
          const uint8_t id = u8(s);
          notice(c, at, "a layer's own instrument (written as a program change of its channel)");
          if (id < 0x7F) emitChannel(c, EadEvent::Kind::Program, id);
          break;
        }
        case 0xC7: {
          if (!operand(2)) return;
          const uint8_t mode = u8(s);
          u8(s);
          notice(c, at, "portamento");
          if ((mode & 0x80) != 0) {
            if (!operand(1)) return;
            u8(s);
          } else {
            uint16_t ignored;
            if (!var(s, c, ignored)) return;
          }
          break;
        }
        case 0xC8: break;
        default: {
          bool ok = true;
          if ((cmd & 0xF0) == 0xD0) {
            l.velocity = tableByte(velocityTable_, kDefaultShortVelocities, cmd & 0x0F, c, at, ok);
          } else if ((cmd & 0xF0) == 0xE0) {
            l.gate = tableByte(gateTable_, kDefaultShortGates, cmd & 0x0F, c, at, ok);
          }
          if (!ok) {
            s.active = false;
            return;
          }
          break;
        }
      }
    }
  }

  // A note or a rest at `cmd`, the layer's last command of this tick.
  void playOrWait(int c, Layer& l, uint8_t cmd, int64_t at) {
    Channel& ch = channels_[c];
    Script& s = l.script;
    uint16_t length = 0;
    if (cmd == 0xC0) {
      if (!var(s, c, length)) return;
      s.next = now_ + std::max<uint16_t>(length, 1);
      return;
    }
    uint8_t velocity = l.velocity;
    const int kind = cmd >> 6;
    if (ch.largeNotes) {
      if (kind == 2) {
        length = l.length;
      } else if (!var(s, c, length)) {
        return;
      }
      if (!has(s, c, kind == 1 ? 1 : 2)) return;
      velocity = u8(s);
      l.gate = kind == 1 ? 0 : u8(s);
      if (kind != 2) l.length = length;
    } else if (kind == 0) {
      if (!var(s, c, length)) return;
      l.length = length;
    } else {
      length = kind == 1 ? l.shortLength : l.length;
    }
    const uint32_t ticks = std::max<uint16_t>(length, 1);
    s.next = now_ + ticks;
    if (ch.plays == Channel::Plays::Nothing) return;  // no instrument: silent
    int semitone = (cmd & 0x3F) + ch.transposition + l.transposition;
    if (ch.plays != Channel::Plays::Drums) semitone += transposition_;
    semitone &= 0xFF;
    if (ch.plays != Channel::Plays::Drums && semitone >= 0x80) return;  // the console plays nothing
    const int key = semitone + kEadKeyOffset;
    if (key > 127) {
      notice(c, at, "a note above MIDI key 127");
      return;
    }
    if (velocity == 0) {
      notice(c, at, "a note of velocity 0 (silent)");
      return;
    }
    EadEvent e;
    e.kind = EadEvent::Kind::Note;
    e.channel = static_cast<int8_t>(c);
    e.a = static_cast<uint8_t>(key);
    e.b = std::min<uint8_t>(velocity, 127);
    e.duration = ticks - l.gate * uint32_t{length} / 256;
    if (emit(e)) l.note = static_cast<int64_t>(out_.events.size()) - 1;
  }

  std::vector<uint8_t> data_;  // a copy: a script may write into it
  int64_t len_;
  EadSequence out_;
  Script seq_;
  Channel channels_[kEadChannels];
  uint32_t now_ = 0;
  int current_ = -1;  // the channel being run, -1 while the sequence script runs
  uint64_t steps_ = 0;
  uint32_t activations_ = 0;
  bool halted_ = false;
  int32_t seqValue_ = 0;
  int32_t variation_ = -1;
  int transposition_ = 0;
  uint32_t tempo_ = kEadDefaultTempo;
  int volume_ = 127;
  uint32_t velocityTable_ = UINT32_MAX, gateTable_ = UINT32_MAX;  // UINT32_MAX: the player's own
  int loopNumbers_[kEadChannels + 1] = {};
  std::unordered_set<int64_t> noticed_;
  size_t notices_ = 0;
  int64_t firstUnlisted_ = 0;
};

}  // namespace

EadSequence readEadSequence(const uint8_t* seq, int64_t len) {
  if (len <= 0) {
    EadSequence out;
    out.problems.push_back({-1, 0, "the sequence is empty"});
    return out;
  }
  return Player(seq, len).run();
}

}  // namespace zaft
