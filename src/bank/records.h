// In-memory forms of the ten record kinds of a bank file, shared by the
// readers, the WAV writer and the header writer.
//
// Each keeps its file form's fields in file order and width, in host byte
// order; every pointer becomes the StructTable index of its target (0, the
// NULL entry, for a null pointer). File layouts (big-endian, offsets from
// the record's first byte; pointers are offsets from the control block):
//
//   ALBankFile   0 revision u16 ("B1" = 0x4231), 2 bankCount s16,
//                4 banks[bankCount] ptr
//   ALBank       0 instCount s16, 2 flags u8, 3 pad u8, 4 sampleRate s32,
//                8 percussion ptr, 12 insts[instCount] ptr
//   ALInstrument 0..11 volume pan priority flags tremType tremRate tremDepth
//                tremDelay vibType vibRate vibDepth vibDelay (u8 each),
//                12 bendRange s16, 14 soundCount s16, 16 sounds[soundCount] ptr
//   ALSound      0 envelope ptr, 4 keyMap ptr, 8 wavetable ptr,
//                12 samplePan u8, 13 sampleVolume u8, 14 flags u8
//   ALEnvelope   0 attackTime s32, 4 secondTime s32, 8 releaseTime s32,
//                12 attackVolume u8, 13 decayVolume u8
//   ALKeyMap     0 velocityMin 1 velocityMax 2 keyMin 3 keyMax 4 keyBase (u8),
//                5 detune s8
//   ALWaveTable  0 base s32, 4 len s32, 8 type u8 (0 ADPCM, else raw),
//                9 flags u8, 10 two bytes unused, 12 loop ptr,
//                16 book ptr (ADPCM only; a raw wave table has no such field)
//   ALRawLoop / ALADPCMloop  0 start s32, 4 end s32, 8 count s32
//                (an ADPCM loop record is 48 bytes in the file; only these
//                three fields are read)
//   ALADPCMBook  0 order s32, 4 npredictors s32,
//                8 predictors[npredictors * 16] s16
#pragma once

#include <cstddef>
#include <cstdint>
#include <variant>
#include <vector>

namespace zaft {

enum class StructKind : int32_t {
  BankFile = 0,
  Bank = 1,
  Instrument = 2,
  Sound = 3,
  WaveTable = 4,
  KeyMap = 5,
  Envelope = 6,
  RawLoop = 7,
  AdpcmLoop = 8,
  AdpcmBook = 9,
};

constexpr uint16_t kBankFileRevision = 0x4231;  // "B1"
constexpr int kCoefficientsPerPredictor = 16;  // two rows of eight

struct ALBankFile {
  uint16_t revision = 0;
  int16_t bankCount = 0;
  std::vector<int32_t> banks;  // the entries inside the file; later ones are null
};

struct ALBank {
  int16_t instCount = 0;
  uint8_t flags = 0;
  uint8_t pad = 0;
  int32_t sampleRate = 0;
  int32_t percussion = 0;
  std::vector<int32_t> insts;
};

struct ALInstrument {
  uint8_t volume = 0;
  uint8_t pan = 0;
  uint8_t priority = 0;
  uint8_t flags = 0;
  uint8_t tremType = 0;
  uint8_t tremRate = 0;
  uint8_t tremDepth = 0;
  uint8_t tremDelay = 0;
  uint8_t vibType = 0;
  uint8_t vibRate = 0;
  uint8_t vibDepth = 0;
  uint8_t vibDelay = 0;
  int16_t bendRange = 0;
  int16_t soundCount = 0;
  std::vector<int32_t> sounds;
};

struct ALSound {
  int32_t envelope = 0;
  int32_t keyMap = 0;
  int32_t wavetable = 0;
  uint8_t samplePan = 0;
  uint8_t sampleVolume = 0;
  uint8_t flags = 0;
};

struct ALEnvelope {
  int32_t attackTime = 0;
  int32_t secondTime = 0;
  int32_t releaseTime = 0;
  uint8_t attackVolume = 0;
  uint8_t decayVolume = 0;
};

struct ALKeyMap {
  uint8_t velocityMin = 0;
  uint8_t velocityMax = 0;
  uint8_t keyMin = 0;
  uint8_t keyMax = 0;
  uint8_t keyBase = 0;
  int8_t detune = 0;
};

struct ALWaveTable {
  int32_t base = 0;
  int32_t len = 0;
  uint8_t type = 0;
  uint8_t flags = 0;
  // Told apart by `type`; `loop` is the common first member of both.
  union {
    struct {
      int32_t loop;
      int32_t book;
    } adpcmWave;
    struct {
      int32_t loop;
    } rawWave;
  } waveInfo = {{0, 0}};
};

struct ALRawLoop {
  int32_t start = 0;
  int32_t end = 0;
  int32_t count = 0;
};

struct ALADPCMloop {
  int32_t start = 0;
  int32_t end = 0;
  int32_t count = 0;
};

struct ALADPCMBook {
  int32_t order = 0;
  int32_t npredictors = 0;  // as read from the ROM
  // The coefficients the ROM actually holds. `npredictors` is a claim: only
  // whole predictors that begin inside the file are stored (a predictor cut
  // by the end of the file is completed with zeros), and at most 16 (all a
  // frame's 4-bit index can reach), so a bogus count never makes the tool
  // allocate, or print, more than that. Coefficients beyond this array read
  // as 0.
  std::vector<int16_t> predictors;

  int32_t storedPredictors() const {
    return static_cast<int32_t>(predictors.size() / kCoefficientsPerPredictor);
  }
  // The 16 coefficients of predictor p, or nullptr when the book has none.
  const int16_t* predictor(int32_t p) const {
    if (p < 0 || p >= storedPredictors()) return nullptr;
    return predictors.data() + static_cast<size_t>(p) * kCoefficientsPerPredictor;
  }
};

using RecordData = std::variant<std::monostate, ALBankFile, ALBank, ALInstrument, ALSound,
                                ALWaveTable, ALKeyMap, ALEnvelope, ALRawLoop, ALADPCMloop,
                                ALADPCMBook>;

}  // namespace zaft
