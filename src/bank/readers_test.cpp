#include "bank/readers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "bank/records.h"
#include "bank/struct_table.h"
#include "driver/fatal.h"
#include "driver/run_context.h"
#include "rom/rom_stream.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using test::RomBuilder;

// Record writers: positions are absolute file offsets, 0 is a null pointer.
void putBankFile(RomBuilder& b, size_t at, const std::vector<size_t>& banks,
                 uint16_t revision = kBankFileRevision) {
  b.be16(at, revision).be16(at + 2, static_cast<uint16_t>(banks.size()));
  for (size_t i = 0; i < banks.size(); ++i) b.ptr(at + 4 + 4 * i, banks[i]);
}

void putBank(RomBuilder& b, size_t at, int32_t sampleRate, size_t percussion,
             const std::vector<size_t>& insts) {
  b.be16(at, static_cast<uint16_t>(insts.size())).u8(at + 2, 0).u8(at + 3, 0);
  b.be32(at + 4, static_cast<uint32_t>(sampleRate)).ptr(at + 8, percussion);
  for (size_t i = 0; i < insts.size(); ++i) b.ptr(at + 12 + 4 * i, insts[i]);
}

void putInstrument(RomBuilder& b, size_t at, const std::vector<size_t>& sounds) {
  b.put(at, {0x7F, 0x40, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  b.be16(at + 12, 2).be16(at + 14, static_cast<uint16_t>(sounds.size()));
  for (size_t i = 0; i < sounds.size(); ++i) b.ptr(at + 16 + 4 * i, sounds[i]);
}

void putSound(RomBuilder& b, size_t at, size_t envelope, size_t keyMap, size_t wave) {
  b.ptr(at, envelope).ptr(at + 4, keyMap).ptr(at + 8, wave);
  b.u8(at + 12, 0x40).u8(at + 13, 0x7F).u8(at + 14, 0);
}

void putWave(RomBuilder& b, size_t at, uint8_t type, size_t loop, size_t book) {
  b.be32(at, 0x100).be32(at + 4, 0x90).u8(at + 8, type).u8(at + 9, 0).be16(at + 10, 0);
  b.ptr(at + 12, loop).ptr(at + 16, book);
}

// One run of the walk over an image held in memory.
class Walk {
 public:
  Walk(const RomBuilder& b, int32_t ctlOffset) : rom(b.bytes()) {
    ctx.rom = &rom;
    ctx.out = out.file();
    ctx.err = err.file();
    ctx.settings.ctlOffset = ctlOffset;
    ctx.settings.tblGiven = 0;
    enterNullStruct(ctx);
  }
  int32_t run() {
    seekTo(rom, ctx.settings.ctlOffset);
    return readBankFile(ctx);
  }
  const StructEntry& entry(int32_t index) const { return ctx.table[index]; }
  template <typename T> const T& record(int32_t index) const { return ctx.table[index].as<T>(); }
  std::string names() const {
    std::string all;
    for (int32_t i = 1; i < ctx.table.size(); ++i) all += std::string(ctx.table[i].name) + " ";
    return all;
  }

  RomStream rom;
  RunContext ctx;
  test::MemoryStream out;
  test::MemoryStream err;
};

// The bank file of the worked example in the tool's documentation: one bank,
// one instrument with two pointers to one sound, whose records are all new.
RomBuilder workedExample() {
  RomBuilder b;
  b.ctlBase = 0x1000;
  putBankFile(b, 0x1000, {0x1008});
  putBank(b, 0x1008, 22050, 0, {0x1018});
  putInstrument(b, 0x1018, {0x1030, 0x1030});
  putSound(b, 0x1030, 0x1040, 0x1050, 0x1058);
  b.be32(0x1040, 1000).be32(0x1044, 2000).be32(0x1048, 3000).u8(0x104C, 127).u8(0x104D, 100);
  b.put(0x1050, {1, 127, 2, 126, 60, 0xFF});
  putWave(b, 0x1058, 0, 0x1070, 0x10A0);
  b.be32(0x1070, 16).be32(0x1074, 0x100).be32(0x1078, 0xFFFFFFFF);
  b.be32(0x10A0, 2).be32(0x10A4, 1);
  for (int i = 0; i < 16; ++i) b.be16(0x10A8 + 2 * i, static_cast<uint16_t>(i * 100 - 700));
  return b;
}

struct Expected {
  const char* name;
  StructKind kind;
  uint32_t offset;
};

TEST(BankWalkTest, WorkedExample) {
  Walk w(workedExample(), 0x1000);
  EXPECT_EQ(w.run(), 1);
  EXPECT_EQ(w.out.text(),
            "Ripping Bank File\n"
            "Ripping 1/1 instruments (SR: 22050, Original: 22050)\r"
            "\n");
  EXPECT_EQ(w.err.text(), "");

  const Expected table[] = {
      {"NULL", StructKind::BankFile, 0},          {"File", StructKind::BankFile, 0x1000},
      {"Bank", StructKind::Bank, 0x1008},         {"Inst00", StructKind::Instrument, 0x1018},
      {"Sound0000", StructKind::Sound, 0x1030},   {"Envp0000", StructKind::Envelope, 0x1040},
      {"Keym0000", StructKind::KeyMap, 0x1050},   {"Wave0000", StructKind::WaveTable, 0x1058},
      {"Loop0000", StructKind::AdpcmLoop, 0x1070}, {"Book0000", StructKind::AdpcmBook, 0x10A0},
  };
  ASSERT_EQ(w.ctx.table.size(), 10);
  for (int32_t i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(w.entry(i).name, table[i].name);
    EXPECT_EQ(w.entry(i).kind, table[i].kind);
    EXPECT_EQ(w.entry(i).fileOffset, table[i].offset);
  }
  const RunCounters& c = w.ctx.counters;
  EXPECT_EQ(c.structCount, 10);
  EXPECT_EQ(c.banks, 1);
  EXPECT_EQ(c.instruments, 1);
  EXPECT_EQ(c.sounds, 1);
  EXPECT_EQ(c.reusedRefs, 1);

  const ALBankFile& file = w.record<ALBankFile>(1);
  EXPECT_EQ(file.revision, 0x4231);
  EXPECT_EQ(file.bankCount, 1);
  EXPECT_EQ(file.banks, std::vector<int32_t>({2}));
  const ALBank& bank = w.record<ALBank>(2);
  EXPECT_EQ(bank.instCount, 1);
  EXPECT_EQ(bank.sampleRate, 22050);
  EXPECT_EQ(bank.percussion, 0);
  EXPECT_EQ(bank.insts, std::vector<int32_t>({3}));
  const ALInstrument& inst = w.record<ALInstrument>(3);
  EXPECT_EQ(inst.volume, 127);
  EXPECT_EQ(inst.pan, 64);
  EXPECT_EQ(inst.priority, 5);
  EXPECT_EQ(inst.bendRange, 2);
  EXPECT_EQ(inst.soundCount, 2);
  EXPECT_EQ(inst.sounds, std::vector<int32_t>({4, 4}));
  const ALSound& sound = w.record<ALSound>(4);
  EXPECT_EQ(sound.envelope, 5);
  EXPECT_EQ(sound.keyMap, 6);
  EXPECT_EQ(sound.wavetable, 7);
  EXPECT_EQ(sound.samplePan, 0x40);
  EXPECT_EQ(sound.sampleVolume, 0x7F);
  const ALEnvelope& env = w.record<ALEnvelope>(5);
  EXPECT_EQ(env.attackTime, 1000);
  EXPECT_EQ(env.secondTime, 2000);
  EXPECT_EQ(env.releaseTime, 3000);
  EXPECT_EQ(env.attackVolume, 127);
  EXPECT_EQ(env.decayVolume, 100);
  const ALKeyMap& keyMap = w.record<ALKeyMap>(6);
  EXPECT_EQ(keyMap.velocityMax, 127);
  EXPECT_EQ(keyMap.keyMax, 126);
  EXPECT_EQ(keyMap.keyBase, 60);
  EXPECT_EQ(keyMap.detune, -1);
  const ALWaveTable& wave = w.record<ALWaveTable>(7);
  EXPECT_EQ(wave.base, 0x100);
  EXPECT_EQ(wave.len, 0x90);
  EXPECT_EQ(wave.type, 0);
  EXPECT_EQ(wave.waveInfo.adpcmWave.loop, 8);
  EXPECT_EQ(wave.waveInfo.adpcmWave.book, 9);
  const ALADPCMloop& loop = w.record<ALADPCMloop>(8);
  EXPECT_EQ(loop.start, 16);
  EXPECT_EQ(loop.end, 0x100);
  EXPECT_EQ(loop.count, -1);
  const ALADPCMBook& book = w.record<ALADPCMBook>(9);
  EXPECT_EQ(book.order, 2);
  EXPECT_EQ(book.npredictors, 1);
  ASSERT_EQ(book.storedPredictors(), 1);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(book.predictor(0)[i], i * 100 - 700);

  EXPECT_EQ(w.ctx.walk.curBank, 1);
  EXPECT_EQ(w.ctx.walk.curInst, 1);
  EXPECT_EQ(w.ctx.walk.curSound, 2);
  EXPECT_EQ(w.ctx.walk.outputRate, 22050);
  EXPECT_EQ(w.ctx.walk.soundEntry, 0);
  // No pointer led to the bank file: the stream is after its last pointer.
  EXPECT_EQ(tellPos(w.rom), 0x1008);
}

TEST(BankWalkTest, QuietRunPrintsNoProgressButWalksTheSame) {
  Walk w(workedExample(), 0x1000);
  w.ctx.settings.verbose = 0;
  EXPECT_EQ(w.run(), 1);
  EXPECT_EQ(w.out.text(), "");
  EXPECT_EQ(w.ctx.counters.structCount, 10);
}

TEST(BankWalkTest, WrongRevisionIsRefusedWithItsValueWidened) {
  struct Case {
    uint16_t revision;
    const char* text;
  };
  const Case cases[] = {
      {0xC1A4, "Unrecognized bank file revision 0xFFFFC1A4. It should be 'B1' (0x4231)\n"},
      {0x3142, "Unrecognized bank file revision 0x3142. It should be 'B1' (0x4231)\n"},
      {0x0001, "Unrecognized bank file revision 0x0001. It should be 'B1' (0x4231)\n"},
  };
  for (const Case& c : cases) {
    RomBuilder b = workedExample();
    b.be16(0x1000, c.revision);
    Walk w(b, 0x1000);
    w.ctx.settings.verbose = 0;  // the complaint is not a progress line
    EXPECT_EQ(w.run(), 0);
    EXPECT_EQ(w.out.text(), c.text);
    EXPECT_EQ(w.ctx.counters.structCount, 1);
  }
}

TEST(BankWalkTest, EveryReaderRestoresThePointerAndReusesItsRecord) {
  using Reader = int32_t (*)(RunContext&);
  const Reader readers[] = {readBank,     readInstrument, readSound,     readEnvelope,
                            readKeyMap,   readWaveTable,  readAdpcmLoop, readRawLoop,
                            readAdpcmBook};
  for (Reader reader : readers) {
    RomBuilder b(0x200);
    b.ctlBase = 0x100;
    b.ptr(0x100, 0x140).ptr(0x104, 0x140).ptr(0x108, 0);
    Walk w(b, 0x100);
    w.ctx.settings.verbose = 0;
    seekTo(w.rom, 0x100);
    EXPECT_EQ(reader(w.ctx), 1);
    EXPECT_EQ(tellPos(w.rom), 0x104);
    EXPECT_EQ(reader(w.ctx), 1);
    EXPECT_EQ(tellPos(w.rom), 0x108);
    EXPECT_EQ(reader(w.ctx), 0);
    EXPECT_EQ(tellPos(w.rom), 0x10C);
    EXPECT_EQ(w.ctx.counters.structCount, 2);
    EXPECT_EQ(w.ctx.counters.reusedRefs, 1);
    EXPECT_EQ(w.entry(1).fileOffset, 0x140u);
  }
}

TEST(BankWalkTest, BogusPointerStopsTheRun) {
  RomBuilder b = workedExample();
  b.rawPtr(0x1014, 0x80000000);
  Walk w(b, 0x1000);
  try {
    w.run();
    FAIL() << "a negative target must stop the run";
  } catch (const FatalError& error) {
    EXPECT_STREQ(error.what(),
                 "\nAbnormal termination. Bogus pointer found: Offset 001018 - Ptr 80000000\n");
  }
}

TEST(BankWalkTest, PercussionKeepsTheInstrumentNumberLeftFromBefore) {
  RomBuilder b;
  b.ctlBase = 0x200;
  putBankFile(b, 0x200, {0x210, 0x230});
  putBank(b, 0x210, 8000, 0x260, {0x280, 0x2A0});
  putBank(b, 0x230, 8000, 0x2C0, {0x2E0});
  putInstrument(b, 0x260, {0x300});
  putInstrument(b, 0x280, {});
  putInstrument(b, 0x2A0, {});
  putInstrument(b, 0x2C0, {0x310});
  putInstrument(b, 0x2E0, {});
  putSound(b, 0x300, 0, 0, 0);
  putSound(b, 0x310, 0, 0, 0);
  Walk w(b, 0x200);
  std::snprintf(w.ctx.settings.nameTemplate, sizeof w.ctx.settings.nameTemplate,
                "%%t%%b_%%2i%%2s");
  EXPECT_EQ(w.run(), 1);
  EXPECT_EQ(w.names(),
            "File_ Bank0_ Inst0_00 Sound0_0000 Inst0_00 Inst0_01 "
            "Bank1_ Inst1_02 Sound1_0200 Inst1_00 ");
  EXPECT_EQ(w.record<ALBank>(2).percussion, 3);
  EXPECT_EQ(w.record<ALBank>(7).percussion, 8);
  // The percussion instrument has no progress line of its own.
  EXPECT_EQ(w.out.text(),
            "Ripping Bank File\n"
            "Ripping 1/2 instruments (SR: 8000, Original: 8000)\r"
            "Ripping 2/2 instruments (SR: 8000, Original: 8000)\r\n"
            "Ripping 1/1 instruments (SR: 8000, Original: 8000)\r\n");
}

TEST(BankWalkTest, CyclesAndSelfPointersAreWalkedOnce) {
  RomBuilder b;
  b.ctlBase = 0x100;
  putBankFile(b, 0x100, {0x110, 0x110});
  putBank(b, 0x110, 22050, 0x110, {0x120});  // its percussion is the bank itself
  // The instrument's sounds: itself, its bank, then a real sound.
  putInstrument(b, 0x120, {0x120, 0x110, 0x140});
  putSound(b, 0x140, 0x140, 0x120, 0x110);  // itself, the instrument, the bank
  Walk w(b, 0x100);
  w.ctx.settings.verbose = 0;
  EXPECT_EQ(w.run(), 1);
  EXPECT_EQ(w.ctx.counters.structCount, 5);
  EXPECT_EQ(w.ctx.counters.reusedRefs, 7);
  EXPECT_EQ(w.record<ALBankFile>(1).banks, std::vector<int32_t>({2, 2}));
  EXPECT_EQ(w.record<ALBank>(2).percussion, 2);
  EXPECT_EQ(w.record<ALInstrument>(3).sounds, std::vector<int32_t>({3, 2, 4}));
  const ALSound& sound = w.record<ALSound>(4);
  EXPECT_EQ(sound.envelope, 4);
  EXPECT_EQ(sound.keyMap, 3);
  EXPECT_EQ(sound.wavetable, 2);
  EXPECT_EQ(w.ctx.counters.banks, 1);
  EXPECT_EQ(w.ctx.counters.instruments, 1);
  EXPECT_EQ(w.ctx.counters.sounds, 1);
}

TEST(BankWalkTest, NullPointersStoreZeroAndReadNothing) {
  RomBuilder b;
  b.ctlBase = 0x100;
  putBankFile(b, 0x100, {0, 0x110});
  putBank(b, 0x110, 22050, 0, {0, 0x130});
  putInstrument(b, 0x130, {0, 0x150, 0x160, 0x170});
  putSound(b, 0x150, 0, 0, 0);
  b.u8(0x15C, 1).u8(0x15D, 2).u8(0x15E, 3);
  putSound(b, 0x160, 0, 0, 0x180);
  putSound(b, 0x170, 0, 0, 0x1A0);
  putWave(b, 0x180, 0, 0, 0);  // ADPCM, loop and book null
  putWave(b, 0x1A0, 1, 0, 0);  // raw, loop null
  Walk w(b, 0x100);
  EXPECT_EQ(w.run(), 1);
  EXPECT_EQ(w.names(), "File Bank Inst01 Sound0101 Sound0102 Wave0102 Sound0103 Wave0103 ");
  EXPECT_EQ(w.record<ALBankFile>(1).banks, std::vector<int32_t>({0, 2}));
  EXPECT_EQ(w.record<ALBank>(2).percussion, 0);
  EXPECT_EQ(w.record<ALBank>(2).insts, std::vector<int32_t>({0, 3}));
  EXPECT_EQ(w.record<ALInstrument>(3).sounds, std::vector<int32_t>({0, 4, 5, 7}));
  const ALSound& empty = w.record<ALSound>(4);
  EXPECT_EQ(empty.envelope | empty.keyMap | empty.wavetable, 0);
  EXPECT_EQ(empty.samplePan, 1);
  EXPECT_EQ(empty.sampleVolume, 2);
  EXPECT_EQ(empty.flags, 3);
  EXPECT_EQ(w.record<ALWaveTable>(6).waveInfo.adpcmWave.loop, 0);
  EXPECT_EQ(w.record<ALWaveTable>(6).waveInfo.adpcmWave.book, 0);
  EXPECT_EQ(w.record<ALWaveTable>(8).waveInfo.rawWave.loop, 0);
  // A null entry of insts still has its progress line.
  EXPECT_EQ(w.out.text(),
            "Ripping Bank File\n"
            "Ripping 1/2 instruments (SR: 22050, Original: 22050)\r"
            "Ripping 2/2 instruments (SR: 22050, Original: 22050)\r\n");
}

TEST(BankWalkTest, ZeroAndNegativeCountsGiveEmptyArrays) {
  {
    RomBuilder b;
    b.ctlBase = 0x100;
    b.be16(0x100, kBankFileRevision).be16(0x102, 0).ptr(0x104, 0x110);
    Walk w(b, 0x100);
    EXPECT_EQ(w.run(), 1);
    EXPECT_EQ(w.ctx.counters.structCount, 2);
    EXPECT_EQ(w.out.text(), "Ripping Bank File\n");
    EXPECT_EQ(tellPos(w.rom), 0x104);
  }
  {
    RomBuilder b;
    b.ctlBase = 0x100;
    b.be16(0x100, kBankFileRevision).be16(0x102, 0xFFFF).ptr(0x104, 0x110);
    Walk w(b, 0x100);
    EXPECT_EQ(w.run(), 1);
    EXPECT_EQ(w.record<ALBankFile>(1).bankCount, -1);
    EXPECT_TRUE(w.record<ALBankFile>(1).banks.empty());
    EXPECT_EQ(w.ctx.counters.structCount, 2);
  }
  RomBuilder b;
  b.ctlBase = 0x100;
  putBankFile(b, 0x100, {0x110, 0x130, 0x150});
  putBank(b, 0x110, 8000, 0, {});
  putBank(b, 0x130, 8000, 0x170, {});
  b.be16(0x130, 0xFFFD).ptr(0x13C, 0x190);  // instCount -3, an insts pointer not read
  putBank(b, 0x150, 8000, 0, {0x1A0});
  b.put(0x170, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}).be16(0x17C, 0x1234);
  b.be16(0x17E, 0xFFFF).ptr(0x180, 0x190);  // soundCount -1
  putInstrument(b, 0x1A0, {});
  putSound(b, 0x190, 0, 0, 0);
  Walk w(b, 0x100);
  EXPECT_EQ(w.run(), 1);
  // The empty loop of the first bank left curInst at 0.
  EXPECT_EQ(w.names(), "File Bank Bank Inst00 Bank Inst00 ");
  EXPECT_TRUE(w.record<ALBank>(2).insts.empty());
  EXPECT_EQ(w.record<ALBank>(3).instCount, -3);
  EXPECT_TRUE(w.record<ALBank>(3).insts.empty());
  const ALInstrument& perc = w.record<ALInstrument>(4);
  EXPECT_EQ(perc.soundCount, -1);
  EXPECT_TRUE(perc.sounds.empty());
  EXPECT_EQ(perc.bendRange, 0x1234);
  EXPECT_EQ(perc.volume, 1);
  EXPECT_EQ(perc.tremType, 5);
  EXPECT_EQ(perc.vibDelay, 12);
  EXPECT_EQ(w.record<ALInstrument>(6).soundCount, 0);
  EXPECT_EQ(w.ctx.walk.curSound, 0);
  // A bank without instruments prints no "Ripping" line but still its "\n".
  EXPECT_EQ(w.out.text(),
            "Ripping Bank File\n\n\n"
            "Ripping 1/1 instruments (SR: 8000, Original: 8000)\r\n");
}

TEST(BankWalkTest, SharedRecordsAreEnteredOnceAcrossKinds) {
  for (bool adpcmFirst : {true, false}) {
    RomBuilder b;
    b.ctlBase = 0x100;
    putBankFile(b, 0x100, {0x110});
    putBank(b, 0x110, 22050, 0, {0x120});
    putInstrument(b, 0x120, {0x140, 0x150, 0x160});
    putSound(b, 0x140, 0x1C0, 0, 0x170);
    putSound(b, 0x150, 0x1C0, 0, 0x190);
    putSound(b, 0x160, 0, 0, 0x170);  // the first sound's wave again
    putWave(b, 0x170, adpcmFirst ? 0 : 1, 0x1B0, 0);
    putWave(b, 0x190, adpcmFirst ? 1 : 0, 0x1B0, 0);
    b.be32(0x1B0, 1).be32(0x1B4, 2).be32(0x1B8, 3);
    Walk w(b, 0x100);
    w.ctx.settings.verbose = 0;
    EXPECT_EQ(w.run(), 1);
    EXPECT_EQ(w.names(), "File Bank Inst00 Sound0000 Envp0000 Wave0000 Loop0000 Sound0001 "
                         "Wave0001 Sound0002 ");
    const int32_t loop = 7;
    EXPECT_EQ(w.entry(loop).kind, adpcmFirst ? StructKind::AdpcmLoop : StructKind::RawLoop);
    EXPECT_EQ(w.record<ALWaveTable>(6).waveInfo.rawWave.loop, loop);
    EXPECT_EQ(w.record<ALWaveTable>(9).waveInfo.rawWave.loop, loop);
    EXPECT_EQ(w.record<ALSound>(8).envelope, 5);
    EXPECT_EQ(w.record<ALSound>(10).wavetable, 6);
    // Envelope, loop and wave table once more each.
    EXPECT_EQ(w.ctx.counters.reusedRefs, 3);
    EXPECT_EQ(w.ctx.counters.sounds, 3);
  }
}

TEST(BankWalkTest, OutputRateIsTruncatedAndClamped) {
  struct Case {
    int32_t sampleRate;
    double ratio;
    int32_t rate;
  };
  const Case cases[] = {
      {22050, 1.0, 22050},
      {11025, 1.5, 16537},
      {22050, 1.1, 24255},
      {-8001, 0.5, -4000},
      {44100, 1e9, std::numeric_limits<int32_t>::max()},
      {44100, -1e9, std::numeric_limits<int32_t>::min()},
      {44100, std::numeric_limits<double>::infinity(), std::numeric_limits<int32_t>::max()},
      {44100, std::nan(""), 0},
  };
  for (const Case& c : cases) {
    RomBuilder b;
    b.ctlBase = 0x100;
    putBankFile(b, 0x100, {0x110});
    putBank(b, 0x110, c.sampleRate, 0, {0});
    Walk w(b, 0x100);
    w.ctx.settings.rateRatio = c.ratio;
    w.run();
    EXPECT_EQ(w.ctx.walk.outputRate, c.rate) << c.sampleRate << " x " << c.ratio;
    EXPECT_EQ(w.out.text(), "Ripping Bank File\n" +
                                formatText("Ripping 1/1 instruments (SR: %d, Original: %d)\r\n",
                                           c.rate, c.sampleRate));
  }
  // A bank met again sets no rate and prints nothing.
  RomBuilder b;
  b.ctlBase = 0x100;
  putBankFile(b, 0x100, {0x110, 0x120, 0x110});
  putBank(b, 0x110, 11025, 0, {});
  putBank(b, 0x120, 32000, 0, {});
  Walk w(b, 0x100);
  w.run();
  EXPECT_EQ(w.ctx.walk.outputRate, 32000);
  EXPECT_EQ(w.out.text(), "Ripping Bank File\n\n\n");
}

// A book read directly through a pointer at 0x100 leading to `bookAt`.
class BookTest : public ::testing::Test {
 protected:
  const ALADPCMBook& read(RomBuilder& b, size_t bookAt) {
    b.ctlBase = 0x100;
    b.ptr(0x100, bookAt);
    walk = std::make_unique<Walk>(b, 0x100);
    seekTo(walk->rom, 0x100);
    EXPECT_EQ(readAdpcmBook(walk->ctx), 1);
    EXPECT_EQ(tellPos(walk->rom), 0x104);
    return walk->record<ALADPCMBook>(1);
  }
  std::unique_ptr<Walk> walk;
};

TEST_F(BookTest, ReadsSixteenCoefficientsPerPredictorWhateverTheOrder) {
  RomBuilder b;
  b.be32(0x120, 5).be32(0x124, 2);
  for (int i = 0; i < 32; ++i) b.be16(0x128 + 2 * i, static_cast<uint16_t>(-i));
  b.be16(0x168, 0x7777);  // just past the book
  const ALADPCMBook& book = read(b, 0x120);
  EXPECT_EQ(book.order, 5);
  ASSERT_EQ(book.predictors.size(), 32u);
  EXPECT_EQ(book.predictor(1)[15], -31);
  EXPECT_EQ(book.predictor(2), nullptr);
}

TEST_F(BookTest, ZeroOrNegativeCountReadsNoCoefficient) {
  for (uint32_t count : {0u, 0xFFFFFFFBu}) {
    RomBuilder b;
    b.be32(0x120, 2).be32(0x124, count).be16(0x128, 0x1234);
    const ALADPCMBook& book = read(b, 0x120);
    EXPECT_EQ(book.npredictors, static_cast<int32_t>(count));
    EXPECT_TRUE(book.predictors.empty());
  }
}

TEST_F(BookTest, HugeCountStoresOnlyWhatTheFileHolds) {
  // 40 bytes of coefficients before the end: one whole predictor and one
  // cut after four coefficients, completed with zeros.
  RomBuilder b;
  b.be32(0x120, 2).be32(0x124, 0x7FFFFFFF);
  for (int i = 0; i < 20; ++i) b.be16(0x128 + 2 * i, static_cast<uint16_t>(i + 1));
  ASSERT_EQ(b.size(), 0x150u);
  const ALADPCMBook& book = read(b, 0x120);
  EXPECT_EQ(book.npredictors, 0x7FFFFFFF);
  ASSERT_EQ(book.storedPredictors(), 2);
  EXPECT_EQ(book.predictor(0)[0], 1);
  EXPECT_EQ(book.predictor(1)[3], 20);
  EXPECT_EQ(book.predictor(1)[4], 0);
  EXPECT_EQ(book.predictor(1)[15], 0);
}

TEST_F(BookTest, BookAtOrPastTheEndStoresNothing) {
  for (size_t end : {0x128u, 0x124u, 0x110u}) {
    RomBuilder b;
    b.be32(0x120, 2).be32(0x124, 0x7FFFFFFF).truncate(end);
    b.resize(std::max<size_t>(b.size(), 0x104));
    const ALADPCMBook& book = read(b, 0x120);
    EXPECT_TRUE(book.predictors.empty()) << end;
  }
}

}  // namespace
}  // namespace zaft
