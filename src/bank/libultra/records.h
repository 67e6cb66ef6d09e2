// The ten record kinds of a bank file's control block (.ctl): their
// in-memory forms and, once, the list of their fields.
//
// Each in-memory form keeps its file form's fields in file order and width,
// in host byte order; every pointer becomes the StructTable index of its
// target (0, the NULL entry, for a null pointer). File layouts (big-endian,
// offsets from the record's first byte; pointers are offsets from the
// control block):
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
//                (an ADPCM loop record is 48 bytes in the file: 16 samples of
//                decoder state follow, which are not read)
//   ALADPCMBook  0 order s32, 4 npredictors s32,
//                8 predictors[npredictors * 16] s16
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <variant>
#include <vector>

#include "util/vadpcm_format.h"

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

// A wave table's `type`: 0 VADPCM, 1 raw 16-bit big-endian samples.
constexpr uint8_t kWaveTypeAdpcm = 0;
constexpr uint8_t kWaveTypeRaw = 1;  // the walk takes every type but 0 as raw
constexpr bool isKnownWaveType(uint8_t type) {
  return type == kWaveTypeAdpcm || type == kWaveTypeRaw;
}

// "ALBankFile", "ALBank", ...: the record's type as the header declares it.
const char* recordTypeName(StructKind kind);
// "File", "Bank", "Inst", "Sound", "Wave", "Keym", "Envp", "Loop" (both
// loop kinds), "Book": what the naming template's %t inserts.
const char* recordTag(StructKind kind);

struct ALBankFile {
  static constexpr StructKind kKind = StructKind::BankFile;
  uint16_t revision = 0;
  int16_t bankCount = 0;
  std::vector<int32_t> banks;  // the entries inside the file; later ones are null
};

struct ALBank {
  static constexpr StructKind kKind = StructKind::Bank;
  int16_t instCount = 0;
  uint8_t flags = 0;
  uint8_t pad = 0;
  int32_t sampleRate = 0;
  int32_t percussion = 0;
  std::vector<int32_t> insts;
};

struct ALInstrument {
  static constexpr StructKind kKind = StructKind::Instrument;
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
  static constexpr StructKind kKind = StructKind::Sound;
  int32_t envelope = 0;
  int32_t keyMap = 0;
  int32_t wavetable = 0;
  uint8_t samplePan = 0;
  uint8_t sampleVolume = 0;
  uint8_t flags = 0;
};

struct ALEnvelope {
  static constexpr StructKind kKind = StructKind::Envelope;
  int32_t attackTime = 0;
  int32_t secondTime = 0;  // the decay time; the header does not print it
  int32_t releaseTime = 0;
  uint8_t attackVolume = 0;
  uint8_t decayVolume = 0;
};

struct ALKeyMap {
  static constexpr StructKind kKind = StructKind::KeyMap;
  uint8_t velocityMin = 0;
  uint8_t velocityMax = 0;
  uint8_t keyMin = 0;
  uint8_t keyMax = 0;
  uint8_t keyBase = 0;
  int8_t detune = 0;
};

struct ALWaveTable {
  static constexpr StructKind kKind = StructKind::WaveTable;
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
  static constexpr StructKind kKind = StructKind::RawLoop;
  int32_t start = 0;
  int32_t end = 0;
  int32_t count = 0;
};

struct ALADPCMloop {
  static constexpr StructKind kKind = StructKind::AdpcmLoop;
  int32_t start = 0;
  int32_t end = 0;
  int32_t count = 0;
};

struct ALADPCMBook {
  static constexpr StructKind kKind = StructKind::AdpcmBook;
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

// The sample's own pitch in MIDI cents (note number x 100) as the console
// plays it through a key map: key k plays the sample at
// 2^(((k - keyBase) * 100 + detune) / 1200) times its rate, so it sounds at
// its own pitch for k = keyBase - detune / 100, keyBase * 100 - detune cents.
// keyBase 60 with detune +30 is 5970: MIDI note 59 and 0.70 of a semitone.
// Without a key map, 6000 (middle C).
constexpr int32_t pitchCentsOf(const ALKeyMap* keyMap) {
  return keyMap == nullptr ? 6000 : int32_t{keyMap->keyBase} * 100 - keyMap->detune;
}

using RecordData = std::variant<std::monostate, ALBankFile, ALBank, ALInstrument, ALSound,
                                ALWaveTable, ALKeyMap, ALEnvelope, ALRawLoop, ALADPCMloop,
                                ALADPCMBook>;

// Each record type sits at its kind's number + 1 in the variant.
template <size_t... I>
constexpr bool kindsInVariantOrder(std::index_sequence<I...>) {
  return ((static_cast<size_t>(std::variant_alternative_t<I + 1, RecordData>::kKind) == I) && ...);
}
static_assert(kindsInVariantOrder(std::make_index_sequence<std::variant_size_v<RecordData> - 1>()));

// An empty record of the kind.
RecordData emptyRecord(StructKind kind);

// Calls f(record) with the record as its own type; false, without a call,
// for an entry that holds none.
template <typename Data, typename F>
bool visitRecord(Data& data, F&& f) {
  return std::visit(
      [&](auto& record) {
        if constexpr (std::is_same_v<std::decay_t<decltype(record)>, std::monostate>) {
          return false;
        } else {
          f(record);
          return true;
        }
      },
      data);
}

// How a number is shown where the formats differ.
enum class FieldStyle {
  Plain,
  Characters,   // the revision: two characters in the header
  NotInHeader,  // secondTime: in the file and the JSON document only
};

// The fields of each record kind, in file order, listed once. The readers,
// the header and the JSON document all go through them. visitFields(r, v)
// calls on the visitor, field by field:
//   v.number(name, field, style)      a number of the field's own width
//   v.skip(bytes)                     bytes of the file that hold no field
//   v.reference(name, field, kind)    a pointer to a record of `kind`
//   v.list(name, count, field, kind)  `count` such pointers; the count is
//                                     the field visited just before
//   v.beginUnion(member), v.endUnion()  the wave table's waveInfo, whose
//                                     member ("adpcmWave" or "rawWave")
//                                     `type` selects
//   v.predictors(name, count, field)  `count` predictors of 16 coefficients
// `r` may be const (writers) or not (the readers).
template <typename R, typename V>
  requires std::same_as<std::remove_const_t<R>, ALBankFile>
void visitFields(R& r, V& v) {
  v.number("revision", r.revision, FieldStyle::Characters);
  v.number("bankCount", r.bankCount, FieldStyle::Plain);
  v.list("banks", r.bankCount, r.banks, StructKind::Bank);
}

template <typename R, typename V>
  requires std::same_as<std::remove_const_t<R>, ALBank>
void visitFields(R& r, V& v) {
  v.number("instCount", r.instCount, FieldStyle::Plain);
  v.number("flags", r.flags, FieldStyle::Plain);
  v.number("pad", r.pad, FieldStyle::Plain);
  v.number("sampleRate", r.sampleRate, FieldStyle::Plain);
  v.reference("percussion", r.percussion, StructKind::Instrument);
  v.list("insts", r.instCount, r.insts, StructKind::Instrument);
}

template <typename R, typename V>
  requires std::same_as<std::remove_const_t<R>, ALInstrument>
void visitFields(R& r, V& v) {
  v.number("volume", r.volume, FieldStyle::Plain);
  v.number("pan", r.pan, FieldStyle::Plain);
  v.number("priority", r.priority, FieldStyle::Plain);
  v.number("flags", r.flags, FieldStyle::Plain);
  v.number("tremType", r.tremType, FieldStyle::Plain);
  v.number("tremRate", r.tremRate, FieldStyle::Plain);
  v.number("tremDepth", r.tremDepth, FieldStyle::Plain);
  v.number("tremDelay", r.tremDelay, FieldStyle::Plain);
  v.number("vibType", r.vibType, FieldStyle::Plain);
  v.number("vibRate", r.vibRate, FieldStyle::Plain);
  v.number("vibDepth", r.vibDepth, FieldStyle::Plain);
  v.number("vibDelay", r.vibDelay, FieldStyle::Plain);
  v.number("bendRange", r.bendRange, FieldStyle::Plain);
  v.number("soundCount", r.soundCount, FieldStyle::Plain);
  v.list("sounds", r.soundCount, r.sounds, StructKind::Sound);
}

template <typename R, typename V>
  requires std::same_as<std::remove_const_t<R>, ALSound>
void visitFields(R& r, V& v) {
  v.reference("envelope", r.envelope, StructKind::Envelope);
  v.reference("keyMap", r.keyMap, StructKind::KeyMap);
  v.reference("wavetable", r.wavetable, StructKind::WaveTable);
  v.number("samplePan", r.samplePan, FieldStyle::Plain);
  v.number("sampleVolume", r.sampleVolume, FieldStyle::Plain);
  v.number("flags", r.flags, FieldStyle::Plain);
}

template <typename R, typename V>
  requires std::same_as<std::remove_const_t<R>, ALEnvelope>
void visitFields(R& r, V& v) {
  v.number("attackTime", r.attackTime, FieldStyle::Plain);
  v.number("secondTime", r.secondTime, FieldStyle::NotInHeader);
  v.number("releaseTime", r.releaseTime, FieldStyle::Plain);
  v.number("attackVolume", r.attackVolume, FieldStyle::Plain);
  v.number("decayVolume", r.decayVolume, FieldStyle::Plain);
}

template <typename R, typename V>
  requires std::same_as<std::remove_const_t<R>, ALKeyMap>
void visitFields(R& r, V& v) {
  v.number("velocityMin", r.velocityMin, FieldStyle::Plain);
  v.number("velocityMax", r.velocityMax, FieldStyle::Plain);
  v.number("keyMin", r.keyMin, FieldStyle::Plain);
  v.number("keyMax", r.keyMax, FieldStyle::Plain);
  v.number("keyBase", r.keyBase, FieldStyle::Plain);
  v.number("detune", r.detune, FieldStyle::Plain);
}

// Type 0 is ADPCM (a loop and a book), every other type raw (a loop alone).
template <typename R, typename V>
  requires std::same_as<std::remove_const_t<R>, ALWaveTable>
void visitFields(R& r, V& v) {
  v.number("base", r.base, FieldStyle::Plain);
  v.number("len", r.len, FieldStyle::Plain);
  v.number("type", r.type, FieldStyle::Plain);
  v.number("flags", r.flags, FieldStyle::Plain);
  v.skip(2);
  if (r.type == kWaveTypeAdpcm) {
    v.beginUnion("adpcmWave");
    v.reference("loop", r.waveInfo.adpcmWave.loop, StructKind::AdpcmLoop);
    v.reference("book", r.waveInfo.adpcmWave.book, StructKind::AdpcmBook);
  } else {
    v.beginUnion("rawWave");
    v.reference("loop", r.waveInfo.rawWave.loop, StructKind::RawLoop);
  }
  v.endUnion();
}

template <typename R, typename V>
  requires std::same_as<std::remove_const_t<R>, ALRawLoop> ||
           std::same_as<std::remove_const_t<R>, ALADPCMloop>
void visitFields(R& r, V& v) {
  v.number("start", r.start, FieldStyle::Plain);
  v.number("end", r.end, FieldStyle::Plain);
  v.number("count", r.count, FieldStyle::Plain);
}

template <typename R, typename V>
  requires std::same_as<std::remove_const_t<R>, ALADPCMBook>
void visitFields(R& r, V& v) {
  v.number("order", r.order, FieldStyle::Plain);
  v.number("npredictors", r.npredictors, FieldStyle::Plain);
  v.predictors("predictors", r.npredictors, r.predictors);
}

}  // namespace zaft
