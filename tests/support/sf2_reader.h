// Test support: a SoundFont 2 reader and checker, written from the file
// format alone and sharing nothing with the exporter, so that the exporter's
// output can be judged by an independent party.
//
// A SoundFont 2 file is a RIFF form "sfbk" holding three lists, in order:
//   LIST "INFO": "ifil" (4 bytes: major, minor version, 16 bits each) first,
//     then text chunks ("isng", "INAM" required; "ICMT", "ISFT", ... optional),
//     each zero-terminated and of even size;
//   LIST "sdta": "smpl", the 16-bit sample points (optionally "sm24" after it);
//   LIST "pdta": nine tables of fixed-size little-endian records, in order:
//     phdr 38 bytes: name[20], preset u16, bank u16, bag index u16,
//                    library u32, genre u32, morphology u32
//     pbag  4 bytes: generator index u16, modulator index u16
//     pmod 10 bytes: source u16, destination u16, amount s16,
//                    amount source u16, transform u16
//     pgen  4 bytes: operator u16, amount u16 (two bytes lo, hi for ranges)
//     inst 22 bytes: name[20], bag index u16
//     ibag, imod, igen: as pbag, pmod, pgen
//     shdr 46 bytes: name[20], start u32, end u32, loop start u32,
//                    loop end u32, rate u32, original pitch u8,
//                    pitch correction s8, link u16, type u16
//   Every table ends in a terminal record ("EOP", "EOI", "EOS" for the named
//   ones) whose indices point one past the last record used.
// Every chunk is an id, a u32 size and the data, padded to an even size.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zaft::test {

// Generator operators the checks and the tests name.
inline constexpr uint16_t kSf2GenPan = 17;
inline constexpr uint16_t kSf2GenInstrument = 41;
inline constexpr uint16_t kSf2GenKeyRange = 43;
inline constexpr uint16_t kSf2GenVelRange = 44;
inline constexpr uint16_t kSf2GenInitialAttenuation = 48;
inline constexpr uint16_t kSf2GenSampleId = 53;
inline constexpr uint16_t kSf2GenSampleModes = 54;
inline constexpr uint16_t kSf2GenOverridingRootKey = 58;

// Sample types; ROM samples add 0x8000.
inline constexpr uint16_t kSf2MonoSample = 1;
inline constexpr uint16_t kSf2RightSample = 2;
inline constexpr uint16_t kSf2LeftSample = 4;
inline constexpr uint16_t kSf2LinkedSample = 8;
inline constexpr uint16_t kSf2RomFlag = 0x8000;

// Zero-valued sample points every sample in "smpl" is followed by.
inline constexpr uint32_t kSf2GuardPoints = 46;
// A sample's least points; a loop's least points, and the points it needs
// before its start and after its end.
inline constexpr uint32_t kSf2MinSamplePoints = 48;
inline constexpr uint32_t kSf2MinLoopPoints = 32;
inline constexpr uint32_t kSf2LoopRoom = 8;

struct Sf2Generator {
  uint16_t oper = 0;
  uint16_t amount = 0;  // raw
  int16_t signedAmount() const { return static_cast<int16_t>(amount); }
  uint8_t lo() const { return static_cast<uint8_t>(amount & 0xFF); }  // range: low byte
  uint8_t hi() const { return static_cast<uint8_t>(amount >> 8); }    // range: high byte
  bool operator==(const Sf2Generator&) const = default;
};

struct Sf2Modulator {
  uint16_t src = 0;
  uint16_t dest = 0;
  int16_t amount = 0;
  uint16_t amtSrc = 0;
  uint16_t trans = 0;
  bool operator==(const Sf2Modulator&) const = default;
};

struct Sf2Zone {
  std::vector<Sf2Generator> gens;
  std::vector<Sf2Modulator> mods;
  const Sf2Generator* find(uint16_t oper) const;  // nullptr when absent
  // The zone's own keyRange / velRange, 0..127 when absent.
  int keyLo() const;
  int keyHi() const;
  int velLo() const;
  int velHi() const;
  bool operator==(const Sf2Zone&) const = default;
};

struct Sf2Preset {
  std::string name;
  uint16_t program = 0, bank = 0;
  uint32_t library = 0, genre = 0, morphology = 0;
  std::optional<Sf2Zone> global;  // the first zone, when it has no instrument
  std::vector<Sf2Zone> zones;     // each ends in its instrument generator
};

struct Sf2Instrument {
  std::string name;
  std::optional<Sf2Zone> global;  // the first zone, when it has no sampleID
  std::vector<Sf2Zone> zones;     // each ends in its sampleID generator
};

struct Sf2SampleHeader {
  std::string name;
  uint32_t start = 0, end = 0, loopStart = 0, loopEnd = 0, rate = 0;
  uint8_t originalPitch = 0;
  int8_t pitchCorrection = 0;
  uint16_t link = 0, type = 0;
  bool operator==(const Sf2SampleHeader&) const = default;
};

struct Sf2File {
  // "ifil" (and "iver") as "major.minor", e.g. "2.1"; text chunks ("isng",
  // "INAM", "ICMT", "ISFT", ...) without their terminating zeros.
  std::map<std::string, std::string> info;
  std::vector<int16_t> samples;                // the smpl chunk
  std::vector<Sf2Preset> presets;              // phdr order, terminal excluded
  std::vector<Sf2Instrument> instruments;      // inst order, terminal excluded
  std::vector<Sf2SampleHeader> sampleHeaders;  // shdr order, terminal excluded
};

// Parses the whole file and checks it: the RIFF structure, the INFO, sdta
// and pdta lists, every table's record count, terminal record and indices,
// the generators of every zone (order, amounts within their ranges) and
// every sample header (bounds, loop rules). nullopt with
// `error` saying what was wrong and where (chunk, record, zone) otherwise.
std::optional<Sf2File> readSf2(const std::vector<uint8_t>& bytes, std::string& error);

// The instrument zones that sound for (key, velocity) in preset (bank,
// program), as a synthesizer picks them: every preset zone whose ranges hold
// the pair leads to its instrument, and every instrument zone there whose
// ranges hold the pair sounds. A zone without a keyRange or velRange of its
// own takes its global zone's, as it does for every generator. Gives
// (instrument index, zone index) pairs, in preset zone then instrument zone
// order; empty when no preset has that bank and program.
std::vector<std::pair<int, int>> soundingZones(const Sf2File& f, int bank, int program, int key,
                                               int velocity);

}  // namespace zaft::test
