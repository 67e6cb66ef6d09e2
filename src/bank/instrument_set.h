// The instrument model: a bank file's samples and instruments as every
// sound output reads them (the WAV files, the soundfont, the JSON document's
// wave list), whatever driver's bank they came from. A bank reader lowers
// its records into it once, applying its driver's rules there (which sound
// a note picks, how a key map gives a pitch, what an envelope's fields
// mean), so that no output needs them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "util/vadpcm_format.h"

namespace zaft {

// Samples [start, end) played `count` times after the first pass; a
// negative count (-1, or 2147483647 as raw loops often hold) plays for ever.
struct SampleLoop {
  int32_t start = 0;
  int32_t end = 0;
  int32_t count = 0;
};

struct Sample {
  int32_t record = 0;    // the reader's record of it, as outputs name it
  std::string name;      // its display name
  std::string fileName;  // its WAV file's name before clashes are resolved
  SampleCodec codec = SampleCodec::None;
  int32_t base = 0;      // its first byte, from the sample block's start
  int32_t len = 0;       // its bytes as the record claims them (may be <= 0)
  bool hasBook = false;  // a VADPCM sample whose book was found
  VadpcmBook book;       // valid while the walked bank file is
  int32_t bookRecord = 0;  // the book the record names, for messages
  std::optional<SampleLoop> loop;
  int32_t bank = 0;      // the bank of the bank file that first reached it
  int32_t rate = 0;      // the rate that bank plays it at
  int32_t pitchCents = 6000;  // its own pitch (MIDI cents) as that bank plays it
};

// A level (0 to 127) reached `time` microseconds after the point before it.
struct EnvelopePoint {
  int32_t time = 0;
  int32_t level = 127;
};

// From silence through each point in turn on a note-on, the last level held
// until the note ends, then to silence over `releaseTime` microseconds.
struct Envelope {
  std::vector<EnvelopePoint> points;
  int32_t releaseTime = 0;
};

// The notes one sample plays: exactly the (key, velocity) pairs the console
// picks it for.
struct Zone {
  uint8_t keyMin = 0, keyMax = 127;
  uint8_t velocityMin = 0, velocityMax = 127;
  int32_t sample = -1;        // index into samples; -1: nothing to play
  int32_t pitchCents = 6000;  // the sample's own pitch as this zone plays it
  std::optional<Envelope> envelope;
  int32_t pan = 64;           // 0 to 127, 64 the centre, as the console holds it
  int32_t volume = 127;       // 0 to 127
};

struct Instrument {
  int32_t record = 0;
  std::string name;
  int32_t rate = 0;         // the rate its bank plays its samples at
  std::vector<Zone> zones;  // none: every note is silent
  // What a program change sets on the console's channel.
  int32_t volume = 127, pan = 64, priority = 5, bendRange = 200;  // bend range in cents
  uint8_t tremolo[4] = {0, 0, 0, 0};  // type, rate, depth, delay
  uint8_t vibrato[4] = {0, 0, 0, 0};
};

// What a program change on a MIDI channel selects.
struct Preset {
  int32_t bank = 0;     // 128 for a bank's drum kit (its percussion instrument)
  int32_t program = 0;
  int32_t instrument = 0;  // index into instruments
};

struct InstrumentSet {
  std::vector<Sample> samples;
  std::vector<Instrument> instruments;
  std::vector<Preset> presets;  // in the order the bank file lists them
  int32_t leftOut = 0;          // instruments past program 127 or bank 127
};

}  // namespace zaft
