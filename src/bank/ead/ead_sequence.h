// One sequence of the EAD driver (the Super Mario 64 layout) played the way
// the console plays it, tick by tick, into timed events per channel.
//
// The byte code has three levels, each a script with calls, counted loops
// and jumps: the sequence script (tempo, volume, which channels run), up to
// 16 channel scripts (instrument, bank, volume, pan, reverb, transposition,
// which layers run) and up to 4 layer scripts per channel (notes, rests,
// transposition). Every tick the console runs the sequence script, then
// channels 0 to 15, each its own script and then its layers 0 to 3; a
// script runs until it waits. 48 ticks make a quarter note.
//
// Timing, as the console has it:
//   - A wait of n ticks (n = 0 waits one tick, as the console does).
//   - A note takes `length` ticks of its layer (at least one); it sounds
//     for length - (gate × length / 256) of them, gate being the note's
//     duration byte (0: the whole length). A layer restarted, freed or
//     stopped cuts its sounding note there.
//   - Notes: large notes carry velocity and gate; short notes take the
//     layer's velocity and gate (set directly or from the sequence's
//     tables) and the layer's last or default length.
//   - A note's semitone is the command's low 6 bits plus the layer's, the
//     channel's and (not for drums) the sequence's transpositions, as a
//     byte: 128 and above is silent. Its MIDI key is the semitone + 21
//     (semitone 39, a sample at its own pitch, is middle C); a key past 127
//     is left out and noted.
//
// What is followed, and how:
//   - Calls and counted loops share one stack of 4 levels, as the player's;
//     a fifth level, a loop end or return with nothing open, and a read past
//     the sequence's end end that script with a problem.
//   - A counted loop is walked once: its start and end become loop marks
//     with the count (1 to 256; the console's 0 is 256). Every pass of a
//     body takes the same ticks, so the events are those of the console with
//     each loop played once, and a player that honours the marks plays what
//     the console plays.
//   - A jump back to where the script already was is the song's endless
//     loop: marked (start where the script first was at the target, end at
//     the jump) and the script stops there. When the looped part started
//     channels (the sequence script) or layers (a channel script), those are
//     stopped at the loop's end too, since the console starts them afresh.
//   - What has no MIDI form (a conditional branch on a game variable, the
//     game's I/O ports, dynamic tables, writing into the sequence, pitch
//     bend, portamento, vibrato, a synthetic wave instead of an instrument,
//     ...) is followed down the path the console takes with its defaults
//     (I/O ports read as -1, their initial value; the script's variable
//     starts at 0) and noted once per construct, at its first byte.
//
// Bounds: at most kMaxEadEvents events, kMaxEadSteps commands, ticks below
// kMaxEadTicks and kMaxEadStepsPerTick commands of one script at one tick;
// reaching one ends the reading (or that script) with a problem. The work
// is the commands executed, never the ticks waited.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zaft {

constexpr int kEadTicksPerQuarter = 48;
constexpr int kEadChannels = 16;
constexpr int kEadLayers = 4;
// MIDI key of EAD semitone 0: semitone 39 plays at its tuning, MIDI 60.
constexpr int kEadKeyOffset = 21;
constexpr size_t kMaxEadEvents = size_t{2} << 20;
constexpr uint64_t kMaxEadSteps = uint64_t{1} << 24;
constexpr uint32_t kMaxEadStepsPerTick = 1 << 16;
constexpr uint32_t kMaxEadTicks = uint32_t{1} << 28;
// The console's default tempo, beats (quarter notes) per minute.
constexpr uint32_t kEadDefaultTempo = 120;

struct EadEvent {
  enum class Kind : uint8_t {
    Note,         // a: key, b: velocity (1..127), duration: ticks
    Program,      // a: instrument slot
    Drums,        // the channel now plays its bank's drums (instrument 0x7F)
    Bank,         // a: bank of the sequence's set, counted from the set's end (0: the default); value: its byte
    Volume,       // a: channel volume
    Expression,   // a: channel volume scale (127 = 1.0)
    Pan,          // a: 0 left, 64 centre, 127 right
    Reverb,       // a: effects send
    Tempo,        // value: beats per minute (sequence)
    MasterVolume  // a: sequence volume (127 = 1.0) (sequence)
  };
  uint32_t tick = 0;
  uint32_t duration = 0;  // Note
  uint32_t value = 0;     // Tempo
  Kind kind = Kind::Note;
  int8_t channel = 0;  // -1: the sequence
  uint8_t a = 0, b = 0;
};

struct EadSequenceLoop {
  int channel = -1;  // -1: the sequence script's
  int number = 0;    // per channel (and for the sequence), in order of their starts
  int count = 0;     // passes, 1 to 256; 0: for ever
  uint32_t startTick = 0, endTick = 0;
  int64_t at = 0;  // the loop start's byte (an endless loop's: its jump's)
  // Events made before the loop started and before it ended: at one tick,
  // the loop's marks sit between those before and those after.
  size_t startEvent = 0, endEvent = 0;
  // The sequence script's loops: whether its looped part started channels
  // (then it is the song's loop, on every channel).
  bool startsChannels = false;
};

struct EadNotice {
  int channel = -1;  // -1: the sequence script
  int64_t at = 0;    // byte of the sequence
  std::string what;
};

struct EadSequence {
  std::vector<EadEvent> events;  // in tick order
  std::vector<EadSequenceLoop> loops;    // in the order they close
  std::vector<EadNotice> problems;  // what ended a script or the reading
  std::vector<EadNotice> notices;   // constructs followed down their default path
  uint32_t endTick = 0;             // the last note's end, or the last event's tick
  bool channelStarted[kEadChannels] = {};
};

// Plays the `len` bytes of `seq` (the script starts at byte 0).
EadSequence readEadSequence(const uint8_t* seq, int64_t len);

}  // namespace zaft
