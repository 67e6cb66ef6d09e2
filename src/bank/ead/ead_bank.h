// The EAD driver's sound banks: the sound-data file (every bank's records)
// and the sample-table file (the sample banks their samples lie in), read
// from an image held in memory (a ROM, or a block decompressed from one).
// Also the two small tables the driver keeps beside them: the file header
// every one of its files starts with, and the bank-sets table.
//
// Everything is big-endian. Every count, pointer and length is a claim: it
// is bounded by the image, the file and the bank before it is used, work
// stays linear in the bytes read, and nothing the bytes say can crash the
// reader. What is wrong is listed as a problem (what, where) and the rest
// is still read.
//
// File header (sound-data file type 1, sample-table file type 2, sequence
// file type 3):
//   0  u16  type
//   2  u16  count
//   4  count x {u32 offset, u32 length}, counted from the file's start
// The data follows at the next 16-byte boundary. Banks that share a sample
// bank have the same {offset, length} in the sample-table file, one entry
// per bank of the sound-data file.
//
// Bank (one entry of the sound-data file): a 16-byte header
//   0  u32  instrument count     8  u32  shared (1: another bank uses the same sample bank)
//   4  u32  drum count          12  u32  date, BCD (0x19960319)
// then the body; every pointer below counts from the body's start and 0 is
// null. Body word 0 points to the drum table, then one pointer per
// instrument slot, the whole padded to 16 bytes. The records:
//   instrument (32)  u8 0, u8 normal range low, u8 normal range high,
//                    u8 release rate, u32 envelope, then three sounds (low,
//                    normal, high) of {u32 sample, f32 tuning}
//   drum (16)        u8 release rate, u8 pan, u8 0, u8 0, one sound
//                    {u32 sample, f32 tuning}, u32 envelope
//   drum table       one pointer per drum; drum n is note n of the
//                    percussion channel
//   sample (20)      u32 0, u32 offset in the sample bank, u32 loop,
//                    u32 book, u32 size in bytes (even)
//   book             s32 order, s32 predictor count, then
//                    8 x order x predictors s16 coefficients
//   loop (16 or 48)  u32 start, u32 end, s32 count, u32 0, then 16 s16 of
//                    decoder state when count != 0 (-1: for ever)
//   envelope         {u16 delay, u16 arg} pairs: a delay of 1..0xFFFC ramps
//                    to level arg over that many updates; 0 stops the note,
//                    0xFFFF holds until release, 0xFFFE goes to point arg,
//                    0xFFFD starts over. The list ends at any of those four.
// The game's sound tools write every record at a 16-byte boundary after the
// pointer table; the console loads words, so a record pointer must at least
// be a multiple of 4.
//
// Bank-sets table: a u16 offset per sequence (from the table's start), and
// at each a count byte and that many bank indices, the default bank last.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zaft {

constexpr int kEadSoundDataType = 1;
constexpr int kEadSampleTableType = 2;
constexpr int kEadSequenceType = 3;

constexpr int64_t kEadBankHeaderBytes = 16;
constexpr int64_t kEadInstrumentBytes = 32;
constexpr int64_t kEadDrumBytes = 16;
constexpr int64_t kEadSampleRecordBytes = 20;
constexpr int64_t kEadLoopBytes = 16;         // without the decoder state
constexpr int64_t kEadLoopStateBytes = 32;    // 16 s16
constexpr int64_t kEadBookHeaderBytes = 8;
// What a plausible bank holds: program changes reach 128 slots, and a drum's
// key (its note + 21) must stay a MIDI key.
constexpr uint32_t kEadMaxInstruments = 128;
constexpr uint32_t kEadMaxDrums = 128;
// An envelope is a handful of points in every bank the tools write; one
// that runs on for more than this is not one.
constexpr int kEadMaxEnvelopePoints = 256;
// Problems kept with their text; the rest are only counted.
constexpr int kEadMaxProblems = 1000;
// Tunings the synthesizer can play: from 1/1024 (31.25 Hz at 32000 Hz) to
// 64 times its output rate.
constexpr double kEadMinTuning = 1.0 / 1024;
constexpr double kEadMaxTuning = 64.0;

// Envelope delays that end the list.
constexpr uint16_t kEadEnvelopeStop = 0;
constexpr uint16_t kEadEnvelopeHang = 0xFFFF;
constexpr uint16_t kEadEnvelopeGoto = 0xFFFE;
constexpr uint16_t kEadEnvelopeRestart = 0xFFFD;

struct EadFileEntry {
  uint32_t offset = 0;  // from the file's start
  uint32_t length = 0;
};

struct EadFileTable {
  int64_t at = 0;  // the file's offset in the image
  int type = 0;
  std::vector<EadFileEntry> entries;
};

// The header of the file at `at`: none unless its type is `expectedType`,
// its table lies inside the image and every entry lies inside the image
// too (an entry of length 0 may stand at the image's end).
std::optional<EadFileTable> readEadFileTable(const uint8_t* data, int64_t size, int64_t at,
                                             int expectedType);

// The bank indices of each of `sequenceCount` sequences as stored (the
// default bank last): none unless every offset, count and index lies inside
// the image.
std::optional<std::vector<std::vector<uint8_t>>> readEadBankSets(const uint8_t* data,
                                                                 int64_t size, int64_t at,
                                                                 int sequenceCount);

// What is wrong, and the image offset where it was found.
struct EadProblem {
  int64_t offset = 0;
  std::string what;
};

// Indices below are into the vectors of EadSoundData; -1 is none. Offsets
// are image offsets; pointers are as stored (from their bank body's start).
struct EadSound {
  uint32_t samplePointer = 0;  // 0: no sound
  float tuning = 0;
  int32_t record = -1;         // sample record
};

struct EadInstrument {
  int64_t offset = 0;
  int32_t bank = 0;            // the bank it was first reached from
  uint8_t loaded = 0, rangeLow = 0, rangeHigh = 127, releaseRate = 0;
  uint32_t envelopePointer = 0;
  int32_t envelope = -1;
  EadSound sounds[3];          // low, normal, high
};

struct EadDrum {
  int64_t offset = 0;
  int32_t bank = 0;
  uint8_t releaseRate = 0, pan = 64, loaded = 0, pad = 0;
  EadSound sound;
  uint32_t envelopePointer = 0;
  int32_t envelope = -1;
};

struct EadBook {
  int64_t offset = 0;
  int32_t order = 0, predictors = 0;
  std::vector<int16_t> coefficients;  // 8 x order x predictors when they were read
};

struct EadLoop {
  int64_t offset = 0;
  uint32_t start = 0, end = 0;
  int32_t count = 0;
  uint32_t pad = 0;
  std::optional<std::array<int16_t, 16>> state;  // when count != 0
};

struct EadEnvelopePoint {
  uint16_t delay = 0, arg = 0;
};

struct EadEnvelope {
  int64_t offset = 0;
  std::vector<EadEnvelopePoint> points;  // the ending point included when found
  bool ended = false;
};

struct EadSampleRecord {
  int64_t offset = 0;
  int32_t bank = 0;
  uint32_t zero = 0, sampleOffset = 0, loopPointer = 0, bookPointer = 0, size = 0;
  int32_t loop = -1, book = -1;
  int32_t sample = -1;  // the distinct sample it names, when it lies in its sample bank
};

// A sample bank of the sample-table file: the {offset, length} one or more
// banks name.
struct EadSampleBank {
  uint32_t offset = 0, length = 0;  // from the sample-table file's start
  std::vector<int32_t> banks;
};

// One sample, however many records name it: its bytes are `size` bytes at
// `offset` of its sample bank. Book and loop are its first record's.
struct EadSample {
  int32_t sampleBank = 0;
  uint32_t offset = 0, size = 0;
  int32_t record = 0;  // the first record that named it
  int32_t book = -1, loop = -1;
};

struct EadBank {
  int32_t index = 0;
  int64_t offset = 0;     // its 16-byte header
  int64_t length = 0;     // header and body as the file table claims them
  uint32_t instrumentCount = 0, drumCount = 0, shared = 0, date = 0;
  uint32_t drumTablePointer = 0;
  std::vector<uint32_t> instrumentPointers;  // one per slot read
  std::vector<int32_t> instruments;          // one per slot: instrument, or -1
  std::vector<uint32_t> drumPointers;
  std::vector<int32_t> drums;                // one per drum read: drum, or -1
  int32_t sampleBank = -1;
  int32_t problems = 0;   // problems found inside this bank
  int64_t bodyOffset() const { return offset + kEadBankHeaderBytes; }
};

struct EadSoundData {
  EadFileTable soundData;    // entries empty when its table could not be read
  EadFileTable sampleTable;
  std::vector<EadBank> banks;
  std::vector<EadSampleBank> sampleBanks;
  std::vector<EadInstrument> instruments;
  std::vector<EadDrum> drums;
  std::vector<EadSampleRecord> records;
  std::vector<EadSample> samples;
  std::vector<EadBook> books;
  std::vector<EadLoop> loops;
  std::vector<EadEnvelope> envelopes;
  std::vector<EadProblem> problems;  // the first kEadMaxProblems
  int64_t problemsLeftOut = 0;        // those past them
  int64_t problemCount() const { return static_cast<int64_t>(problems.size()) + problemsLeftOut; }
  // No problem at all: every count in range, every pointer inside its body
  // and aligned, every sample inside its sample bank, every book of order 2
  // with 1 to 16 predictors. A scan can reject random bytes by it.
  bool plausible() const { return problemCount() == 0; }
};

// Reads the sound-data file at `soundDataAt` and the sample-table file at
// `sampleTableAt` of the image.
EadSoundData readEadSoundData(const uint8_t* data, int64_t size, int64_t soundDataAt,
                              int64_t sampleTableAt);

// Whether the bank at `bankAt` (`bankLength` bytes, header included) reads
// without a problem, its samples checked against a sample bank of
// `sampleBankLength` bytes (negative: not checked), and holds at least one
// instrument or drum (zero bytes read as a bank of nothing). Linear in the
// bank's size.
bool plausibleEadBank(const uint8_t* data, int64_t size, int64_t bankAt, int64_t bankLength,
                      int64_t sampleBankLength = -1);

}  // namespace zaft
