#include "bank/readers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "audio/wav_writer.h"
#include "bank/records.h"
#include "bank/struct_table.h"
#include "driver/run_context.h"
#include "rom/rom_stream.h"

namespace zaft {

namespace {

// One followed pointer. The stream goes back just after the pointer's four
// bytes when the reader leaves, whichever way it leaves.
class FollowedPointer {
 public:
  explicit FollowedPointer(RunContext& ctx) {
    followPointer(pointer_, *ctx.rom, ctx.settings.ctlOffset);
  }
  ~FollowedPointer() { restorePointer(pointer_); }
  FollowedPointer(const FollowedPointer&) = delete;
  FollowedPointer& operator=(const FollowedPointer&) = delete;

  bool isNull() const { return pointer_.offset == 0; }

 private:
  CtlPointer pointer_;
};

template <typename T>
T& recordAt(RunContext& ctx, int32_t index) {
  return ctx.table[index].as<T>();
}

// Array slots for a count read from the ROM: none for zero or less.
// Slots for a pointer array of `count` entries starting at `arrayAt`: only
// the entries that begin inside the file are stored. Those past its end read
// as null pointers and need no storage, so a bogus count never makes the
// walk (or the header and JSON written from it) grow past what the ROM holds.
// Overlapping arrays could still claim the file many times over, so a run
// stores at most RunContext::kListSlotBudget pointers in all (real banks hold
// a few thousand); the walk follows only the pointers it stores.
size_t slotsFor(RunContext& ctx, int32_t count, int64_t arrayAt) {
  const int64_t romSize = ctx.rom->size();
  if (count <= 0 || arrayAt < 0 || arrayAt >= romSize) return 0;
  const int64_t inFile = (romSize - arrayAt + 3) / 4;
  const int64_t slots = std::min<int64_t>({count, inFile, ctx.listSlotsLeft});
  ctx.listSlotsLeft -= slots;
  return static_cast<size_t>(slots);
}

template <typename Slots>
void storeSlot(Slots& slots, int32_t at, int32_t value) {
  if (static_cast<size_t>(at) < slots.size()) slots[static_cast<size_t>(at)] = value;
}

int16_t readS16(RomStream& rom) { return static_cast<int16_t>(readBE16(rom)); }
int32_t readS32(RomStream& rom) { return static_cast<int32_t>(readBE32(rom)); }

// sampleRate × rateRatio in double precision, truncated toward zero.
int32_t outputRateFor(int32_t sampleRate, double rateRatio) {
  const double rate = static_cast<double>(sampleRate) * rateRatio;
  // Truncation toward zero; a product outside the 32-bit range (a huge /a
  // ratio) is clamped to it, and a ratio that makes no number gives 0.
  if (std::isnan(rate)) return 0;
  if (rate >= 2147483648.0) return std::numeric_limits<int32_t>::max();
  if (rate <= -2147483649.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(rate);
}

}  // namespace

int32_t readBankFile(RunContext& ctx) {
  RomStream& rom = *ctx.rom;
  const int16_t revision = readS16(rom);
  if (static_cast<uint16_t>(revision) != kBankFileRevision) {
    // The revision is printed as a signed 16-bit number widened to 32 bits,
    // so 0xC1A4 shows as 0xFFFFC1A4.
    std::fprintf(ctx.out, "Unrecognized bank file revision 0x%04X. It should be 'B1' (0x4231)\n",
                 static_cast<unsigned>(static_cast<int32_t>(revision)));
    return 0;
  }
  if (ctx.settings.verbose != 0) std::fprintf(ctx.out, "Ripping Bank File\n");
  const int16_t bankCount = readS16(rom);
  seekBy(rom, -4);

  const EnterResult entered = enterStruct(ctx, StructKind::BankFile, "File");
  if (!entered.isNew) return entered.index;
  const int32_t index = entered.index;
  {
    ALBankFile& file = recordAt<ALBankFile>(ctx, index);
    file.revision = readBE16(rom);
    file.bankCount = readS16(rom);
    file.banks.assign(slotsFor(ctx, bankCount, tellPos(rom)), 0);
  }
  int32_t bank = 0;
  // Pointers past the end of the file are null: only the stored ones lead
  // anywhere.
  const int32_t banksStored = static_cast<int32_t>(recordAt<ALBankFile>(ctx, index).banks.size());
  for (; bank < banksStored; ++bank) {
    ctx.walk.curBank = static_cast<int16_t>(bank);
    const int32_t bankIndex = readBank(ctx);
    storeSlot(recordAt<ALBankFile>(ctx, index).banks, bank, bankIndex);
  }
  ctx.walk.curBank = static_cast<int16_t>(std::max<int32_t>(bankCount, 0));
  // No pointer led here, so the stream is left after the last bank pointer.
  seekTo(rom, static_cast<int64_t>(ctx.settings.ctlOffset) + 4 + 4 * int64_t{ctx.walk.curBank});
  return index;
}

int32_t readBank(RunContext& ctx) {
  RomStream& rom = *ctx.rom;
  FollowedPointer pointer(ctx);
  if (pointer.isNull()) return 0;
  const int16_t instCount = readS16(rom);
  seekBy(rom, -2);

  const EnterResult entered = enterStruct(ctx, StructKind::Bank, "Bank");
  if (!entered.isNew) return entered.index;
  const int32_t index = entered.index;
  int32_t sampleRate = 0;
  {
    ALBank& bank = recordAt<ALBank>(ctx, index);
    bank.instCount = readS16(rom);
    bank.flags = readByte(rom);
    bank.pad = readByte(rom);
    bank.sampleRate = readS32(rom);
    bank.insts.assign(slotsFor(ctx, instCount, tellPos(rom) + 4), 0);
    sampleRate = bank.sampleRate;
  }
  ctx.walk.outputRate = outputRateFor(sampleRate, ctx.settings.rateRatio);

  // The percussion instrument comes first and keeps the curInst left from
  // before: 0 in the first bank, else the instCount of the last bank whose
  // instruments were walked.
  const int32_t percussion = readInstrument(ctx);
  recordAt<ALBank>(ctx, index).percussion = percussion;

  const bool verbose = ctx.settings.verbose != 0;
  int32_t inst = 0;
  const int32_t instsStored = static_cast<int32_t>(recordAt<ALBank>(ctx, index).insts.size());
  for (; inst < instsStored; ++inst) {
    ctx.walk.curInst = static_cast<int16_t>(inst);
    // Printed before the pointer is followed, so a null entry has its line.
    if (verbose) {
      std::fprintf(ctx.out, "Ripping %d/%d instruments (SR: %d, Original: %d)\r", inst + 1,
                   static_cast<int>(instCount), ctx.walk.outputRate, sampleRate);
    }
    const int32_t instIndex = readInstrument(ctx);
    storeSlot(recordAt<ALBank>(ctx, index).insts, inst, instIndex);
  }
  ctx.walk.curInst = static_cast<int16_t>(std::max<int32_t>(instCount, 0));
  if (verbose) std::fprintf(ctx.out, "\n");
  return index;
}

int32_t readInstrument(RunContext& ctx) {
  RomStream& rom = *ctx.rom;
  FollowedPointer pointer(ctx);
  if (pointer.isNull()) return 0;
  seekBy(rom, 14);
  const int16_t soundCount = readS16(rom);
  seekBy(rom, -16);

  const EnterResult entered = enterStruct(ctx, StructKind::Instrument, "Inst");
  if (!entered.isNew) return entered.index;
  const int32_t index = entered.index;
  {
    ALInstrument& inst = recordAt<ALInstrument>(ctx, index);
    inst.volume = readByte(rom);
    inst.pan = readByte(rom);
    inst.priority = readByte(rom);
    inst.flags = readByte(rom);
    inst.tremType = readByte(rom);
    inst.tremRate = readByte(rom);
    inst.tremDepth = readByte(rom);
    inst.tremDelay = readByte(rom);
    inst.vibType = readByte(rom);
    inst.vibRate = readByte(rom);
    inst.vibDepth = readByte(rom);
    inst.vibDelay = readByte(rom);
    inst.bendRange = readS16(rom);
    inst.soundCount = readS16(rom);
    inst.sounds.assign(slotsFor(ctx, soundCount, tellPos(rom)), 0);
  }
  int32_t sound = 0;
  const int32_t soundsStored = static_cast<int32_t>(recordAt<ALInstrument>(ctx, index).sounds.size());
  for (; sound < soundsStored; ++sound) {
    ctx.walk.curSound = static_cast<int16_t>(sound);
    const int32_t soundIndex = readSound(ctx);
    storeSlot(recordAt<ALInstrument>(ctx, index).sounds, sound, soundIndex);
  }
  ctx.walk.curSound = static_cast<int16_t>(std::max<int32_t>(soundCount, 0));
  return index;
}

int32_t readSound(RunContext& ctx) {
  RomStream& rom = *ctx.rom;
  FollowedPointer pointer(ctx);
  if (pointer.isNull()) return 0;

  const EnterResult entered = enterStruct(ctx, StructKind::Sound, "Sound");
  if (!entered.isNew) return entered.index;
  const int32_t index = entered.index;

  // While this sound's fields are read, the WAV writer finds its key map
  // through soundEntry.
  struct SoundEntryScope {
    WalkState& walk;
    int32_t previous;
    ~SoundEntryScope() { walk.soundEntry = previous; }
  } scope{ctx.walk, ctx.walk.soundEntry};
  ctx.walk.soundEntry = index;

  const int32_t envelope = readEnvelope(ctx);
  recordAt<ALSound>(ctx, index).envelope = envelope;
  const int32_t keyMap = readKeyMap(ctx);
  recordAt<ALSound>(ctx, index).keyMap = keyMap;
  const int32_t wavetable = readWaveTable(ctx);
  ALSound& sound = recordAt<ALSound>(ctx, index);
  sound.wavetable = wavetable;
  sound.samplePan = readByte(rom);
  sound.sampleVolume = readByte(rom);
  sound.flags = readByte(rom);
  return index;
}

int32_t readEnvelope(RunContext& ctx) {
  RomStream& rom = *ctx.rom;
  FollowedPointer pointer(ctx);
  if (pointer.isNull()) return 0;

  const EnterResult entered = enterStruct(ctx, StructKind::Envelope, "Envp");
  if (!entered.isNew) return entered.index;
  ALEnvelope& envelope = recordAt<ALEnvelope>(ctx, entered.index);
  envelope.attackTime = readS32(rom);
  envelope.secondTime = readS32(rom);
  envelope.releaseTime = readS32(rom);
  envelope.attackVolume = readByte(rom);
  envelope.decayVolume = readByte(rom);
  return entered.index;
}

int32_t readKeyMap(RunContext& ctx) {
  RomStream& rom = *ctx.rom;
  FollowedPointer pointer(ctx);
  if (pointer.isNull()) return 0;

  const EnterResult entered = enterStruct(ctx, StructKind::KeyMap, "Keym");
  if (!entered.isNew) return entered.index;
  ALKeyMap& keyMap = recordAt<ALKeyMap>(ctx, entered.index);
  keyMap.velocityMin = readByte(rom);
  keyMap.velocityMax = readByte(rom);
  keyMap.keyMin = readByte(rom);
  keyMap.keyMax = readByte(rom);
  keyMap.keyBase = readByte(rom);
  keyMap.detune = static_cast<int8_t>(readByte(rom));
  return entered.index;
}

int32_t readWaveTable(RunContext& ctx) {
  RomStream& rom = *ctx.rom;
  FollowedPointer pointer(ctx);
  if (pointer.isNull()) return 0;

  const EnterResult entered = enterStruct(ctx, StructKind::WaveTable, "Wave");
  if (!entered.isNew) return entered.index;
  const int32_t index = entered.index;
  uint8_t type = 0;
  {
    ALWaveTable& wave = recordAt<ALWaveTable>(ctx, index);
    wave.base = readS32(rom);
    wave.len = readS32(rom);
    wave.type = readByte(rom);
    wave.flags = readByte(rom);
    type = wave.type;
  }
  seekBy(rom, 2);  // two bytes with no field of their own
  if (type == 0) {
    const int32_t loop = readAdpcmLoop(ctx);
    recordAt<ALWaveTable>(ctx, index).waveInfo.adpcmWave.loop = loop;
    const int32_t book = readAdpcmBook(ctx);
    recordAt<ALWaveTable>(ctx, index).waveInfo.adpcmWave.book = book;
  } else {
    // Every type other than 0 is raw: a raw loop and no book pointer.
    const int32_t loop = readRawLoop(ctx);
    recordAt<ALWaveTable>(ctx, index).waveInfo.rawWave.loop = loop;
  }
  // The samples are written while curBank/curInst/curSound still name the
  // sound that led here; the writer may move the stream, the pointer puts
  // it back.
  ctx.walk.waveEntry = index;
  writeWaveFile(ctx, recordAt<ALWaveTable>(ctx, index));
  ctx.walk.waveEntry = 0;
  return index;
}

namespace {

// Both loop kinds hold the same three fields; only the kind differs.
template <typename Loop>
int32_t readLoop(RunContext& ctx, StructKind kind) {
  RomStream& rom = *ctx.rom;
  FollowedPointer pointer(ctx);
  if (pointer.isNull()) return 0;

  const EnterResult entered = enterStruct(ctx, kind, "Loop");
  if (!entered.isNew) return entered.index;
  Loop& loop = recordAt<Loop>(ctx, entered.index);
  loop.start = readS32(rom);
  loop.end = readS32(rom);
  loop.count = readS32(rom);
  return entered.index;
}

}  // namespace

int32_t readAdpcmLoop(RunContext& ctx) { return readLoop<ALADPCMloop>(ctx, StructKind::AdpcmLoop); }

int32_t readRawLoop(RunContext& ctx) { return readLoop<ALRawLoop>(ctx, StructKind::RawLoop); }

namespace {

// A frame header's 4-bit index reaches 16 predictors; no decoder or check
// ever reads more, so no more are stored, whatever the book claims.
constexpr int64_t kMaxStoredPredictors = 16;

// How many of a book's claimed predictors are stored: those that begin inside
// the file when its coefficients start at `coefficientsAt`, at most 16.
int32_t storablePredictors(int32_t npredictors, int64_t coefficientsAt, int64_t romSize) {
  // 16 coefficients of 2 bytes each.
  constexpr int64_t kPredictorBytes = kCoefficientsPerPredictor * 2;
  if (npredictors <= 0 || coefficientsAt < 0 || coefficientsAt >= romSize) return 0;
  const int64_t beginning = (romSize - coefficientsAt + kPredictorBytes - 1) / kPredictorBytes;
  return static_cast<int32_t>(std::min<int64_t>({npredictors, beginning, kMaxStoredPredictors}));
}

}  // namespace

int32_t readAdpcmBook(RunContext& ctx) {
  RomStream& rom = *ctx.rom;
  FollowedPointer pointer(ctx);
  if (pointer.isNull()) return 0;
  seekBy(rom, 4);
  const int32_t npredictors = readS32(rom);
  seekBy(rom, -8);

  const EnterResult entered = enterStruct(ctx, StructKind::AdpcmBook, "Book");
  if (!entered.isNew) return entered.index;
  ALADPCMBook& book = recordAt<ALADPCMBook>(ctx, entered.index);
  book.order = readS32(rom);
  book.npredictors = readS32(rom);
  // npredictors is a claim: only the predictors that begin inside the file
  // are stored (one cut by the end of the file reads its missing
  // coefficients as 0); the rest read as 0 without storage of their own.
  const int32_t stored = storablePredictors(npredictors, tellPos(rom), rom.size());
  book.predictors.resize(static_cast<size_t>(stored) * kCoefficientsPerPredictor);
  for (int16_t& coefficient : book.predictors) coefficient = readS16(rom);
  return entered.index;
}

}  // namespace zaft
