// The SoundFont 2 file itself, apart from what a bank puts in it: presets,
// instruments with their zones of generators, sample headers, and the RIFF
// layout they are written in.
//
// File layout (little-endian): RIFF "sfbk" { LIST "INFO" { ifil isng INAM
// ISFT ICMT }, LIST "sdta" { smpl }, LIST "pdta" { phdr pbag pmod pgen inst
// ibag imod igen shdr } }; every list of records ends in a terminal record.
// Every instrument zone carries the same three modulators: velocity as
// linear amplitude in place of the default curve, and the default pitch
// wheel replaced by one of the zone's bend range in cents.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "export/byte_sink.h"

namespace zaft::sf2 {

// Generator operators.
enum Gen : uint16_t {
  kPan = 17,
  kAttackVolEnv = 34,
  kDecayVolEnv = 36,
  kSustainVolEnv = 37,
  kReleaseVolEnv = 38,
  kInstrument = 41,
  kKeyRange = 43,
  kVelRange = 44,
  kInitialAttenuation = 48,
  kCoarseTune = 51,
  kFineTune = 52,
  kSampleId = 53,
  kSampleModes = 54,
  kOverridingRootKey = 58,
  kInitialPitch = 59,  // a modulator destination only
};

constexpr int kTrailingZeros = 46;  // sample points after each sample
constexpr size_t kNameBytes = 20;   // 19 characters and a terminating zero

struct GenValue {
  uint16_t oper;
  uint16_t amount;
};

// A generator's amount held to the range the format gives it (pan -500 to
// 500, coarse tune -120 to 120, ...), as the 16 bits written. Ranges and
// indices (keyRange, velRange, instrument, sampleID) have bounds of their
// own and pass as they are.
GenValue heldGenerator(Gen oper, int32_t amount);

struct Zone {
  std::vector<GenValue> gens;  // keyRange first, sampleID last
  int16_t bendRange = 0;       // cents
};

struct Instrument {
  std::string name;
  std::vector<Zone> zones;
};

struct Preset {
  std::string name;
  uint16_t program = 0;
  uint16_t bank = 0;
  int instrument = 0;
};

// A sample header; positions in sample points from the smpl chunk's start.
struct SampleHeader {
  std::string name;
  uint32_t start = 0, end = 0;
  uint32_t loopStart = 0, loopEnd = 0;
  int32_t rate = 0;
  uint8_t rootKey = 60;
};

struct Contents {
  std::string title;     // INAM, at most 255 characters kept
  std::string software;  // ISFT
  std::string comment;   // ICMT
  std::vector<Preset> presets;
  std::vector<Instrument> instruments;
  std::vector<SampleHeader> samples;
  uint64_t points = 0;   // sample points in the smpl chunk
};

// Why the contents cannot be written, or "" when they can. The file is one
// RIFF file, its size a 32-bit count (4 GiB), and every table is reached by
// 16-bit indices: at most 65535 presets, instruments, instrument zones,
// generators and modulators, sample headers.
std::string unwritable(const Contents& contents);
// Writes the file; `writePoints` writes the smpl chunk's 2 * points bytes
// where they go.
void write(const Contents& contents, ByteSink& sink,
           const std::function<void(ByteSink&)>& writePoints);

// Names of at most 19 characters, unique in their list: "Inst00", "Inst00~2".
// A name already taken gets the first free "~n" suffix, its base cut to
// make room. Names are never given back, so every "base~n" below the next
// number tried for a base is taken: each take costs a few look-ups, not one
// per earlier name alike.
class UniqueNames {
 public:
  std::string take(const std::string& wanted);

 private:
  std::set<std::string> taken_;
  std::map<std::string, uint64_t> nextSuffix_;  // base -> the next n to try
};

}  // namespace zaft::sf2
