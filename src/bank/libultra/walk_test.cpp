#include "bank/libultra/walk.h"

#include <gtest/gtest.h>

#include "bank/libultra/bank_lowering.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "support/bank_builder.h"
#include "support/rom_builder.h"
#include "util/fatal.h"

namespace zaft {
namespace {

using test::RomBuilder;

// Record writers: positions are absolute file offsets, 0 is a null pointer.
void putBankFile(RomBuilder& b, size_t at, const std::vector<size_t>& banks) {
  b.be16(at, kBankFileRevision).be16(at + 2, static_cast<uint16_t>(banks.size()));
  for (size_t i = 0; i < banks.size(); ++i) b.ptr(at + 4 + 4 * i, banks[i]);
}

void putBank(RomBuilder& b, size_t at, int32_t sampleRate, size_t percussion,
             const std::vector<size_t>& insts) {
  b.be16(at, static_cast<uint16_t>(insts.size())).be32(at + 4, static_cast<uint32_t>(sampleRate));
  b.ptr(at + 8, percussion);
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

RomBuilder place(const test::BankFileDesign& design) {
  RomBuilder b;
  test::placeBank(b, test::buildBank(design), 0, 0x1000);
  return b;
}

// Every field the walk stored, in file order, as "name=value ..."; lists
// as [a,b].
class FieldDump {
 public:
  template <typename N> void number(const char* name, N value, FieldStyle) {
    add(name, std::to_string(value));
  }
  void reference(const char* name, int32_t index, StructKind) { add(name, std::to_string(index)); }
  template <typename Count>
  void list(const char* name, Count, const std::vector<int32_t>& refs, StructKind) {
    add(name, joined(refs));
  }
  void predictors(const char* name, int32_t, const std::vector<int16_t>& c) {
    add(name, joined(c));
  }
  void skip(size_t) {}
  void beginUnion(const char*) {}
  void endUnion() {}
  std::string text;

 private:
  void add(const char* name, const std::string& value) {
    if (!text.empty()) text += ' ';
    text.append(name).append("=").append(value);
  }
  template <typename T> static std::string joined(const std::vector<T>& values) {
    std::string s = "[";
    for (T v : values) s.append(s.size() > 1 ? "," : "").append(std::to_string(v));
    return s.append("]");
  }
};

// Calls visitFields on whatever record the entry holds.
template <typename V> void visitEntry(const StructEntry& entry, V& visitor) {
  std::visit(
      [&visitor](const auto& record) {
        if constexpr (!std::is_same_v<std::decay_t<decltype(record)>, std::monostate>) {
          visitFields(record, visitor);
        }
      },
      entry.data);
}

// One walk over an image held in memory.
struct Walk {
  Walk(const RomBuilder& b, int32_t ctlOffset, const WalkLimits& limits = {}, bool verbose = true)
      : rom(b.bytes()), report(verbose), bank(walkBankFile(rom, ctlOffset, limits, report)) {}

  std::string names() const {
    std::string all;
    for (int32_t i = 1; i < bank.table.size(); ++i) {
      all.append(i > 1 ? " " : "").append(bank.table[i].name);
    }
    return all;
  }
  std::string fields(int32_t index) const {
    FieldDump dump;
    visitEntry(bank.table[index], dump);
    return dump.text;
  }
  template <typename T> const T& record(int32_t index) const { return bank.table[index].as<T>(); }
  std::string counters() const {
    const BankCounters& c = bank.counters;
    return formatText("%d entries, %d banks, %d instruments, %d sounds, %d reused", c.structCount,
                      c.banks, c.instruments, c.sounds, c.reusedRefs);
  }
  std::vector<std::string> waves() const {
    std::vector<std::string> all;
    for (const WaveRef& w : bank.waves) {
      all.push_back(formatText("%d at %d/%d/%d rate %d sound %d keyMap %d", w.entry, w.at.bank,
                               w.at.inst, w.at.sound, w.outputRate, w.sound, w.keyMap));
    }
    return all;
  }

  RomImage rom;
  CollectingReporter report;
  BankFile bank;
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

constexpr const char* kWorkedExampleOut =
    "Ripping Bank File\n"
    "Ripping 1/1 instruments (SR: 22050, Original: 22050)\r";

TEST(WalkTest, WorkedExample) {
  struct Expected {
    const char* name;
    StructKind kind;
    uint32_t offset;
    const char* fields;
  };
  const Expected table[] = {
      {"NULL", StructKind::BankFile, 0, ""},
      {"File", StructKind::BankFile, 0x1000, "revision=16945 bankCount=1 banks=[2]"},
      {"Bank", StructKind::Bank, 0x1008,
       "instCount=1 flags=0 pad=0 sampleRate=22050 percussion=0 insts=[3]"},
      {"Inst00", StructKind::Instrument, 0x1018,
       "volume=127 pan=64 priority=5 flags=0 tremType=0 tremRate=0 tremDepth=0 tremDelay=0 "
       "vibType=0 vibRate=0 vibDepth=0 vibDelay=0 bendRange=2 soundCount=2 sounds=[4,4]"},
      {"Sound0000", StructKind::Sound, 0x1030,
       "envelope=5 keyMap=6 wavetable=7 samplePan=64 sampleVolume=127 flags=0"},
      {"Envp0000", StructKind::Envelope, 0x1040,
       "attackTime=1000 secondTime=2000 releaseTime=3000 attackVolume=127 decayVolume=100"},
      {"Keym0000", StructKind::KeyMap, 0x1050,
       "velocityMin=1 velocityMax=127 keyMin=2 keyMax=126 keyBase=60 detune=-1"},
      {"Wave0000", StructKind::WaveTable, 0x1058, "base=256 len=144 type=0 flags=0 loop=8 book=9"},
      {"Loop0000", StructKind::AdpcmLoop, 0x1070, "start=16 end=256 count=-1"},
      {"Book0000", StructKind::AdpcmBook, 0x10A0,
       "order=2 npredictors=1 predictors=[-700,-600,-500,-400,-300,-200,-100,0,100,200,300,400,"
       "500,600,700,800]"},
  };
  for (bool verbose : {true, false}) {
    SCOPED_TRACE(verbose);
    Walk w(workedExample(), 0x1000, {}, verbose);
    EXPECT_EQ(w.report.outText(), verbose ? std::string(kWorkedExampleOut) + "\n" : "");
    EXPECT_EQ(w.report.errText(), "");
    EXPECT_TRUE(w.bank.recognized);
    EXPECT_EQ(w.bank.revision, kBankFileRevision);
    EXPECT_EQ(w.bank.stop, "");
    ASSERT_EQ(w.bank.table.size(), 10);
    for (int32_t i = 0; i < 10; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(w.bank.table[i].name, table[i].name);
      EXPECT_EQ(w.bank.table[i].kind, table[i].kind);
      EXPECT_EQ(w.bank.table[i].fileOffset, table[i].offset);
      EXPECT_EQ(w.fields(i), table[i].fields);
    }
    EXPECT_EQ(w.counters(), "10 entries, 1 banks, 1 instruments, 1 sounds, 1 reused");
    EXPECT_EQ(w.waves(), std::vector<std::string>({"7 at 0/0/0 rate 22050 sound 4 keyMap 6"}));
  }
}

TEST(WalkTest, WrongRevisionIsReportedOnStandardOutputAndEntersNothing) {
  struct Case {
    int32_t ctl;
    uint16_t revision;  // as read
    const char* shown;
  };
  const Case cases[] = {
      {0x1000, 0xC1A4, "0xFFFFC1A4"},
      {0x1000, 0x3142, "0x3142"},
      {0x1000, 0x0001, "0x0001"},
      {0x2000, 0x0000, "0x0000"},  // past the end of the file
  };
  for (const Case& c : cases) {
    RomBuilder b = workedExample();
    b.be16(0x1000, c.revision);
    Walk w(b, c.ctl, {}, false);  // quiet: the complaint is not a progress line
    EXPECT_EQ(w.report.outText(), formatText("Unrecognized bank file revision %s. It should be "
                                             "'B1' (0x4231)\n", c.shown));
    EXPECT_EQ(w.report.errText(), "");
    EXPECT_FALSE(w.bank.recognized);
    EXPECT_EQ(w.bank.revision, c.revision);
    EXPECT_EQ(w.counters(), "1 entries, 0 banks, 0 instruments, 0 sounds, 0 reused");
    EXPECT_TRUE(w.bank.waves.empty());
    EXPECT_FALSE(w.bank.stopped());
  }
}

// Records shared by several pointers of the same or of another kind: a loop
// is entered as the kind of the wave that reached it first.
TEST(WalkTest, EachRecordIsEnteredOnceAsTheKindItWasFirstReachedAs) {
  test::BankFileDesign d;
  d.envelopes = {{}};
  d.keyMaps = {{}};
  d.loops = {{5, 50, -1, true}, {7, 70, 2, false}};
  d.books = {test::simpleBook(1)};
  const std::vector<uint8_t> frame(9), raw(8);
  d.waves = {{0, 0, frame, 0, 0}, {0, 0, frame, 0, 0}, {1, 0, raw, 0, -1},
             {1, 0, raw, 1, -1},  {0, 0, frame, 1, 0}};
  d.sounds = {{0, 0, 0}, {0, 0, 1}, {-1, -1, 2}, {-1, -1, 3}, {-1, -1, 4}};
  d.instruments.resize(1);
  d.instruments[0].sounds = {0, 1, 2, 3, 4, 0};
  d.banks.resize(1);
  d.banks[0].insts = {0, 0};
  d.bankList = {0, 0};
  Walk w(place(d), 0);
  EXPECT_EQ(w.names(),
            "File Bank Inst00 Sound0000 Envp0000 Keym0000 Wave0000 Loop0000 Book0000 Sound0001 "
            "Wave0001 Sound0002 Wave0002 Sound0003 Wave0003 Loop0003 Sound0004 Wave0004");
  EXPECT_EQ(w.bank.table[8].kind, StructKind::AdpcmLoop);
  EXPECT_EQ(w.bank.table[16].kind, StructKind::RawLoop);
  EXPECT_EQ(w.record<ALBankFile>(1).banks, std::vector<int32_t>({2, 2}));
  EXPECT_EQ(w.record<ALBank>(2).insts, std::vector<int32_t>({3, 3}));
  EXPECT_EQ(w.record<ALInstrument>(3).sounds, std::vector<int32_t>({4, 10, 12, 14, 17, 4}));
  EXPECT_EQ(w.fields(10), "envelope=5 keyMap=6 wavetable=11 samplePan=64 sampleVolume=127 flags=0");
  // Envelope and key map once more, loops three times, the book twice; one
  // sound, the instrument and the bank once.
  EXPECT_EQ(w.counters(), "19 entries, 1 banks, 1 instruments, 5 sounds, 10 reused");
  // Whichever kind holds a wave's loop, its sample has the loop points.
  std::string loops;
  for (const Sample& sample : instrumentSetOf(w.bank, 1.0).samples) {
    const ALWaveTable& wave = w.bank.table[sample.record].as<ALWaveTable>();
    ASSERT_TRUE(sample.loop.has_value());
    loops += formatText("%d: %d %d..%d x%d%s; ", sample.record, wave.waveInfo.rawWave.loop,
                        sample.loop->start, sample.loop->end, sample.loop->count,
                        sample.hasBook ? " book" : "");
  }
  EXPECT_EQ(loops, "7: 8 5..50 x-1 book; 11: 8 5..50 x-1 book; 13: 8 5..50 x-1; "
                   "15: 16 7..70 x2; 18: 16 7..70 x2 book; ");
  // A bank met again prints nothing.
  EXPECT_EQ(w.report.outText(),
            "Ripping Bank File\n"
            "Ripping 1/2 instruments (SR: 22050, Original: 22050)\r"
            "Ripping 2/2 instruments (SR: 22050, Original: 22050)\r\n");
}

TEST(WalkTest, CyclesAndSelfPointersAreWalkedOnce) {
  RomBuilder b;
  putBankFile(b, 0, {0x10, 0x10});
  putBank(b, 0x10, 22050, 0x10, {0x20});       // its percussion is the bank itself
  putInstrument(b, 0x20, {0x20, 0x10, 0x40});  // itself, its bank, a real sound
  putSound(b, 0x40, 0x40, 0x20, 0x10);         // itself, the instrument, the bank
  Walk w(b, 0, {}, false);
  EXPECT_EQ(w.names(), "File Bank Inst00 Sound0002");
  EXPECT_EQ(w.counters(), "5 entries, 1 banks, 1 instruments, 1 sounds, 7 reused");
  EXPECT_EQ(w.record<ALBankFile>(1).banks, std::vector<int32_t>({2, 2}));
  EXPECT_EQ(w.record<ALBank>(2).percussion, 2);
  EXPECT_EQ(w.record<ALInstrument>(3).sounds, std::vector<int32_t>({3, 2, 4}));
  EXPECT_EQ(w.fields(4), "envelope=4 keyMap=3 wavetable=2 samplePan=64 sampleVolume=127 flags=0");
  // A wave-table pointer that leads to a bank makes no wave.
  EXPECT_TRUE(w.bank.waves.empty());
  EXPECT_FALSE(w.bank.stopped());
}

TEST(WalkTest, NullPointersStoreZeroAndReadNothing) {
  RomBuilder b;
  putBankFile(b, 0, {0, 0x10});
  putBank(b, 0x10, 22050, 0, {0, 0x30});
  putInstrument(b, 0x30, {0, 0x50, 0x60, 0x70});
  putSound(b, 0x50, 0, 0, 0);
  b.u8(0x5C, 1).u8(0x5D, 2).u8(0x5E, 3);
  putSound(b, 0x60, 0, 0, 0x80);
  putSound(b, 0x70, 0, 0, 0xA0);
  putWave(b, 0x80, 0, 0, 0);  // ADPCM, loop and book null
  putWave(b, 0xA0, 1, 0, 0);  // raw, loop null
  Walk w(b, 0);
  EXPECT_EQ(w.names(), "File Bank Inst01 Sound0101 Sound0102 Wave0102 Sound0103 Wave0103");
  EXPECT_EQ(w.record<ALBankFile>(1).banks, std::vector<int32_t>({0, 2}));
  EXPECT_EQ(w.fields(2), "instCount=2 flags=0 pad=0 sampleRate=22050 percussion=0 insts=[0,3]");
  EXPECT_EQ(w.record<ALInstrument>(3).sounds, std::vector<int32_t>({0, 4, 5, 7}));
  EXPECT_EQ(w.fields(4), "envelope=0 keyMap=0 wavetable=0 samplePan=1 sampleVolume=2 flags=3");
  EXPECT_EQ(w.fields(6), "base=256 len=144 type=0 flags=0 loop=0 book=0");
  EXPECT_EQ(w.fields(8), "base=256 len=144 type=1 flags=0 loop=0");
  EXPECT_EQ(w.bank.counters.reusedRefs, 0);
  // A wave without a loop or a book is a wave all the same.
  EXPECT_EQ(w.waves(), std::vector<std::string>({"6 at 1/1/2 rate 22050 sound 5 keyMap 0",
                                                 "8 at 1/1/3 rate 22050 sound 7 keyMap 0"}));
  // A null entry of insts still has its progress line.
  EXPECT_EQ(w.report.outText(),
            "Ripping Bank File\n"
            "Ripping 1/2 instruments (SR: 22050, Original: 22050)\r"
            "Ripping 2/2 instruments (SR: 22050, Original: 22050)\r\n");
}

TEST(WalkTest, ZeroAndNegativeCountsGiveEmptyLists) {
  for (uint16_t bankCount : {0x0000, 0xFFFF}) {
    RomBuilder b;
    b.be16(0, kBankFileRevision).be16(2, bankCount).ptr(4, 0x10);
    Walk w(b, 0);
    EXPECT_EQ(w.fields(1), "revision=16945 bankCount=" +
                               std::to_string(static_cast<int16_t>(bankCount)) + " banks=[]");
    EXPECT_EQ(w.bank.table.size(), 2);
    EXPECT_EQ(w.report.outText(), "Ripping Bank File\n");
  }
  RomBuilder b;
  putBankFile(b, 0, {0x10, 0x30, 0x50});
  putBank(b, 0x10, 8000, 0, {});
  putBank(b, 0x30, 8000, 0x70, {});
  b.be16(0x30, 0xFFFD).ptr(0x3C, 0x90);  // instCount -3; an insts pointer never read
  putBank(b, 0x50, 8000, 0, {0xA0});
  b.put(0x70, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}).be16(0x7C, 0x1234);
  b.be16(0x7E, 0xFFFF).ptr(0x80, 0x90);  // soundCount -1
  putInstrument(b, 0xA0, {});
  putSound(b, 0x90, 0, 0, 0);
  Walk w(b, 0);
  // The empty list of the first bank left the instrument number at 0.
  EXPECT_EQ(w.names(), "File Bank Bank Inst00 Bank Inst00");
  EXPECT_EQ(w.fields(3), "instCount=-3 flags=0 pad=0 sampleRate=8000 percussion=4 insts=[]");
  EXPECT_EQ(w.fields(4),
            "volume=1 pan=2 priority=3 flags=4 tremType=5 tremRate=6 tremDepth=7 tremDelay=8 "
            "vibType=9 vibRate=10 vibDepth=11 vibDelay=12 bendRange=4660 soundCount=-1 sounds=[]");
  EXPECT_EQ(w.record<ALInstrument>(6).soundCount, 0);
  EXPECT_EQ(w.record<ALInstrument>(6).bendRange, 2);
  // A bank without instruments prints no "Ripping" line but still its "\n".
  EXPECT_EQ(w.report.outText(),
            "Ripping Bank File\n\n\n"
            "Ripping 1/1 instruments (SR: 8000, Original: 8000)\r\n");
}

// Names and waves carry the bank, instrument and sound of the first sound
// that reached them; a bank's percussion instrument is walked before its
// instruments with the instrument number left from before.
TEST(WalkTest, RecordsAndWavesCarryThePositionOfTheFirstSoundThatReachedThem) {
  test::BankFileDesign d;
  d.keyMaps = {{}, {}};
  d.waves.assign(5, {1, 0, std::vector<uint8_t>(8), -1, -1});
  d.sounds = {{-1, 1, 0}, {-1, 0, 1}, {-1, -1, 0}, {-1, 0, 2},  // bank 0
              {-1, -1, 4}, {-1, -1, 1}, {-1, 1, 3}};            // bank 1
  d.instruments.resize(4);
  d.instruments[0].sounds = {0};  // bank 0's percussion
  d.instruments[1].sounds = {-1, 1, 2, 3};
  d.instruments[2].sounds = {4};  // bank 1's percussion
  d.instruments[3].sounds = {5, 6};
  d.banks.resize(2);
  d.banks[0] = {0, 0, 8000, 0, {1}};
  d.banks[1] = {0, 0, 22050, 2, {-1, 3}};
  WalkLimits limits;
  limits.nameTemplate = "%t%b_%2i%2s";
  limits.rateRatio = 1.5;
  Walk w(place(d), 0, limits);
  EXPECT_EQ(w.names(),
            "File_ Bank0_ Inst0_00 Sound0_0000 Keym0_0000 Wave0_0000 "
            "Inst0_00 Sound0_0001 Keym0_0001 Wave0_0001 Sound0_0002 Sound0_0003 Wave0_0003 "
            "Bank1_ Inst1_01 Sound1_0100 Wave1_0100 "
            "Inst1_01 Sound1_0100 Sound1_0101 Wave1_0101");
  EXPECT_EQ(w.record<ALBank>(2).percussion, 3);
  EXPECT_EQ(w.record<ALBank>(14).percussion, 15);
  EXPECT_EQ(w.waves(), std::vector<std::string>({
                           "6 at 0/0/0 rate 12000 sound 4 keyMap 5",
                           "10 at 0/0/1 rate 12000 sound 8 keyMap 9",
                           "13 at 0/0/3 rate 12000 sound 12 keyMap 9",
                           "17 at 1/1/0 rate 33075 sound 16 keyMap 0",
                           "21 at 1/1/1 rate 33075 sound 20 keyMap 5",
                       }));
  // The percussion instrument has no progress line of its own.
  EXPECT_EQ(w.report.outText(),
            "Ripping Bank File\n"
            "Ripping 1/1 instruments (SR: 12000, Original: 8000)\r\n"
            "Ripping 1/2 instruments (SR: 33075, Original: 22050)\r"
            "Ripping 2/2 instruments (SR: 33075, Original: 22050)\r\n");
}

TEST(WalkTest, OutputRateIsTruncatedAndClamped) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  const struct {
    int32_t sampleRate;
    double ratio;
    int32_t rate;
  } cases[] = {
      {22050, 1.0, 22050}, {11025, 1.5, 16537}, {22050, 1.1, 24255}, {-8001, 0.5, -4000},
      {kMax, 1.0, kMax},   {kMin, 1.0, kMin},   {44100, 1e9, kMax},  {44100, -1e9, kMin},
      {44100, std::numeric_limits<double>::infinity(), kMax},      {44100, std::nan(""), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(outputRateFor(c.sampleRate, c.ratio), c.rate) << c.sampleRate << " x " << c.ratio;
  }
}

// A walk cut short keeps everything entered until then and the waves
// complete by then.
TEST(WalkTest, AFatalStopKeepsWhatWasWalkedAndTheExactMessage) {
  const char* kAll = "File Bank Inst00 Sound0000 Envp0000 Keym0000 Wave0000 Loop0000";
  const struct {
    size_t at;
    std::vector<uint8_t> bytes;  // written over the worked example
    bool samplesWritten;
    const char* stop;
    const char* names;
    size_t waves;
  } cases[] = {
      {0x1014, {0x80, 0, 0, 0}, false,
       "\nAbnormal termination. Bogus pointer found: Offset 001018 - Ptr 80000000\n", "File Bank",
       0},
      // 0x1000 + 0x7FFFF000 wraps below zero. The wave's book was not reached.
      {0x1068, {0x7F, 0xFF, 0xF0, 0}, false,
       "\nAbnormal termination. Bogus pointer found: Offset 00106C - Ptr 7FFFF000\n", kAll, 0},
      {0x1060, {2}, true, "Unknown wavetable type... Aborting...\n", kAll, 1},
      // Without samples to write, any type but 0 is a raw wave.
      {0x1060, {2}, false, "", kAll, 1},
      {0x1060, {1}, true, "", kAll, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    RomBuilder b = workedExample();
    b.put(c.at, c.bytes);
    WalkLimits limits;
    limits.samplesWritten = c.samplesWritten;
    Walk w(b, 0x1000, limits);
    EXPECT_EQ(w.bank.stop, c.stop);
    EXPECT_EQ(w.names(), c.names);
    EXPECT_EQ(w.bank.waves.size(), c.waves);
    EXPECT_EQ(w.report.outText(),
              std::string(kWorkedExampleOut) + (w.bank.stopped() ? "" : "\n"));
    EXPECT_EQ(w.report.errText(), "");
    if (c.at == 0x1060) {
      EXPECT_EQ(w.bank.table[8].kind, StructKind::RawLoop);
    }
  }
}

TEST(WalkTest, FullTableStopsTheWalkButStillResolvesKnownRecords) {
  // Bank file, bank and instrument leave room for 4092 sounds; the 4093rd
  // pointer leads to a known sound, the 4094th to a new one.
  constexpr size_t kSounds = 4092;
  constexpr size_t kSoundsAt = 0x8000;  // zeros: sounds of three null pointers
  std::vector<size_t> sounds;
  for (size_t k = 0; k < kSounds; ++k) sounds.push_back(kSoundsAt + 4 * k);
  sounds.push_back(kSoundsAt);
  sounds.push_back(kSoundsAt + 4 * kSounds);
  RomBuilder b;
  putBankFile(b, 0, {0x10});
  putBank(b, 0x10, 22050, 0, {0x20});
  putInstrument(b, 0x20, sounds);
  b.resize(kSoundsAt + 4 * kSounds + 16);
  Walk w(b, 0);
  EXPECT_EQ(w.bank.stop, "Ran out of struct space (max 4096)\n");
  EXPECT_EQ(w.bank.table.size(), 4096);
  EXPECT_EQ(w.counters(), "4096 entries, 1 banks, 1 instruments, 4092 sounds, 1 reused");
  EXPECT_EQ(w.record<ALInstrument>(3).sounds[kSounds], 4);
  EXPECT_EQ(w.report.outText(),
            "Ripping Bank File\nRipping 1/1 instruments (SR: 22050, Original: 22050)\r");
}

TEST(WalkTest, BooksHoldOnlyWholePredictorsBeginningInsideTheFileAndAtMostSixteen) {
  const struct {
    int32_t npredictors;  // as written
    size_t fileEnd;       // bytes of the book inside the file
    int32_t readAs;
    int32_t stored;
  } cases[] = {
      {2, 8 + 64 + 2, 2, 2},  // 32 coefficients, whatever the order says
      {0, 8 + 32, 0, 0},
      {-5, 8 + 32, -5, 0},
      {0x7FFFFFFF, 8 + 40, 0x7FFFFFFF, 2},  // the second predictor cut: zeros
      {0x7FFFFFFF, 8, 0x7FFFFFFF, 0},
      {0x7FFFFFFF, 4, 0, 0},  // the count itself is past the end
      {20, 8 + 20 * 32, 20, 16},
  };
  constexpr size_t kBook = 0x80;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fileEnd);
    RomBuilder b;
    putBankFile(b, 0, {0x10});
    putBank(b, 0x10, 22050, 0, {0x20});
    putInstrument(b, 0x20, {0x40});
    putSound(b, 0x40, 0, 0, 0x60);
    putWave(b, 0x60, 0, 0, kBook);
    b.be32(kBook, 5).be32(kBook + 4, static_cast<uint32_t>(c.npredictors));
    const size_t present = c.fileEnd > 8 ? (c.fileEnd - 8) / 2 : 0;
    std::vector<int16_t> expected(static_cast<size_t>(c.stored) * 16, 0);
    for (size_t k = 0; k < present; ++k) {
      b.be16(kBook + 8 + 2 * k, static_cast<uint16_t>(-1 - static_cast<int>(k)));
      if (k < expected.size()) expected[k] = static_cast<int16_t>(-1 - static_cast<int>(k));
    }
    b.resize(kBook + c.fileEnd);
    Walk w(b, 0);
    ASSERT_EQ(w.bank.waves.size(), 1u);
    const ALADPCMBook* book = w.bank.bookOf(w.bank.wave(w.bank.waves[0]));
    ASSERT_NE(book, nullptr);
    EXPECT_EQ(book->npredictors, c.readAs);
    EXPECT_EQ(book->predictors, expected);
  }
}

TEST(WalkTest, ListsHoldOnlyTheEntriesBeginningInsideTheFile) {
  // A chain whose deepest list, of null pointers, is the last thing in the
  // file, its count raised to 32767.
  const struct {
    int depth;  // 0 the bank file's banks, 1 a bank's insts, 2 an instrument's sounds
    size_t arrayAt;
    size_t bytes;  // of the list inside the file
    size_t stored;
  } cases[] = {{0, 0x04, 0, 0}, {0, 0x04, 10, 3}, {1, 0x1C, 5, 2}, {2, 0x30, 4, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arrayAt + c.bytes);
    RomBuilder b;
    putBankFile(b, 0, {c.depth > 0 ? size_t{0x10} : 0});
    if (c.depth > 0) putBank(b, 0x10, 8000, 0, {c.depth > 1 ? size_t{0x20} : 0});
    if (c.depth > 1) putInstrument(b, 0x20, {0});
    b.be16(c.arrayAt - (c.depth == 1 ? 12 : 2), 0x7FFF);
    b.resize(c.arrayAt).resize(c.arrayAt + c.bytes);
    Walk w(b, 0);
    ASSERT_EQ(w.bank.table.size(), 2 + c.depth);
    const StructEntry& owner = w.bank.table[1 + c.depth];
    const std::vector<int32_t>& list = c.depth == 0   ? owner.as<ALBankFile>().banks
                                       : c.depth == 1 ? owner.as<ALBank>().insts
                                                      : owner.as<ALInstrument>().sounds;
    EXPECT_EQ(list, std::vector<int32_t>(c.stored, 0));
    if (c.depth == 1) {
      EXPECT_EQ(w.report.outText(),
                "Ripping Bank File\n"
                "Ripping 1/32767 instruments (SR: 8000, Original: 8000)\r"
                "Ripping 2/32767 instruments (SR: 8000, Original: 8000)\r\n");
    }
  }
}

TEST(WalkTest, TheSlotBudgetBoundsAllListsTogether) {
  RomBuilder b;
  putBankFile(b, 0, {0x10, 0x20});
  putBank(b, 0x10, 8000, 0, {0, 0});
  putBank(b, 0x20, 8000, 0, {0, 0});
  WalkLimits limits;
  limits.listSlotBudget = 3;
  Walk w(b, 0, limits);
  EXPECT_EQ(w.record<ALBankFile>(1).banks, std::vector<int32_t>({2, 3}));
  EXPECT_EQ(w.fields(2), "instCount=2 flags=0 pad=0 sampleRate=8000 percussion=0 insts=[0]");
  EXPECT_EQ(w.fields(3), "instCount=2 flags=0 pad=0 sampleRate=8000 percussion=0 insts=[]");
  EXPECT_EQ(w.report.outText(),
            "Ripping Bank File\n"
            "Ripping 1/2 instruments (SR: 8000, Original: 8000)\r\n\n");
}

// Damaged control blocks: cut at every length, flipped at every byte, and
// thousands damaged at random. Every walk must end, normally or with one of
// the walk's fatal messages, and leave a table whose every pointer names an
// entry, whose lists and books hold no more than their counts and the file
// allow, and whose waves name wave tables and the sounds that reached them.

struct Seed {
  RomBuilder rom;
  int32_t ctlOffset;
};

Seed richBank() {
  test::BankFileDesign d;
  d.envelopes = {{10, 20, 30, 127, 90}, {0, 0, 0, 100, 0}};
  d.keyMaps = {{0, 127, 0, 60, 48, -3}, {0, 127, 61, 127, 72, 5}};
  d.loops = {{0, 64, -1, true}, {16, 32, 2, false}};
  d.books = {test::simpleBook(2), test::simpleBook(1)};
  d.waves = {{0, 0, std::vector<uint8_t>(90, 0x11), 0, 0},
             {1, 0, std::vector<uint8_t>(64, 0x22), 1, -1},
             {0, 0, std::vector<uint8_t>(45, 0x33), -1, 1},
             {2, 0, std::vector<uint8_t>(8, 0x44), -1, -1}};
  d.sounds = {{0, 0, 0}, {1, 1, 1}, {0, 1, 2}, {-1, -1, 3}, {1, 0, 0}};
  d.instruments.resize(4);
  d.instruments[0].sounds = {0, 1};
  d.instruments[1].sounds = {2, -1, 3};
  d.instruments[2].sounds = {4};
  d.banks = {{0, 0, 22050, 2, {0, 1, -1}}, {0, 0, 11025, -1, {3, 0}}};
  d.bankList = {0, 1, 0};
  const test::BuiltBank built = test::buildBank(d);
  RomBuilder rom(0x40, 0xEE);
  test::placeBank(rom, built, 0x40, 0x40 + built.ctl.size());
  return {rom, 0x40};
}

size_t slots(int32_t count) { return count > 0 ? static_cast<size_t>(count) : 0; }

// Visits every record's fields, tracking each field's file position, and
// names the first broken rule; empty when there is none.
class TableCheck {
 public:
  TableCheck(const Walk& walk, const WalkLimits& limits)
      : bank_(walk.bank), romSize_(walk.rom.size()), limits_(limits) {}

  std::string run() {
    const StructTable& table = bank_.table;
    if (table.size() != bank_.counters.structCount) return "structCount is not the table size";
    if (!stopIsKnown()) return "unexpected stop: " + bank_.stop;
    for (index_ = 1; index_ < table.size() && problem_.empty(); ++index_) {
      const StructEntry& e = table[index_];
      if (e.name.size() > 31) fail("name", "longer than 31 characters");
      at_ = e.fileOffset;
      visitEntry(e, *this);
    }
    if (listSlots_ > limits_.listSlotBudget) return "lists past the slot budget";
    int32_t previous = 0;
    for (const WaveRef& w : bank_.waves) {
      const ALSound* sound = table.recordAt<ALSound>(w.sound);
      if (w.entry <= previous || !table.recordAt<ALWaveTable>(w.entry) || !sound ||
          sound->keyMap != w.keyMap) {
        return formatText("wave %d does not name a new wave table and its sound", w.entry);
      }
      previous = w.entry;
    }
    return problem_;
  }

  template <typename N> void number(const char*, N, FieldStyle) { at_ += sizeof(N); }
  void skip(size_t bytes) { at_ += static_cast<int64_t>(bytes); }
  void beginUnion(const char*) {}
  void endUnion() {}
  void reference(const char* name, int32_t index, StructKind) {
    valid(name, index);
    at_ += 4;
  }
  template <typename Count>
  void list(const char* name, Count count, const std::vector<int32_t>& refs, StructKind) {
    listSlots_ += static_cast<int64_t>(refs.size());
    if (refs.size() > slots(count)) fail(name, "more entries than its count");
    if (!refs.empty() && at_ + 4 * static_cast<int64_t>(refs.size() - 1) >= romSize_) {
      fail(name, "an entry past the end of the file");
    }
    for (int32_t index : refs) valid(name, index);
  }
  void predictors(const char* name, int32_t count, const std::vector<int16_t>& coefficients) {
    const size_t stored = coefficients.size() / kCoefficientsPerPredictor;
    if (coefficients.size() % kCoefficientsPerPredictor != 0) fail(name, "a partial predictor");
    if (stored > std::min<size_t>(slots(count), kMaxIndexedPredictors)) fail(name, "too many");
    if (stored > 0 && at_ + 32 * static_cast<int64_t>(stored - 1) >= romSize_) {
      fail(name, "a predictor past the end of the file");
    }
  }

 private:
  bool stopIsKnown() const {
    const std::string& s = bank_.stop;
    return s.empty() || s == "Ran out of struct space (max 4096)\n" ||
           (limits_.samplesWritten && s == "Unknown wavetable type... Aborting...\n") ||
           s.rfind("\nAbnormal termination. Bogus pointer found: Offset ", 0) == 0;
  }
  void valid(const char* name, int32_t index) {
    if (index < 0 || index >= bank_.table.size()) fail(name, "names no entry");
  }
  void fail(const char* field, const char* what) {
    if (problem_.empty()) problem_ = formatText("entry %d, %s: %s", index_, field, what);
  }

  const BankFile& bank_;
  const int64_t romSize_;
  const WalkLimits& limits_;
  int32_t index_ = 0;
  int64_t at_ = 0;
  int64_t listSlots_ = 0;
  std::string problem_;
};

std::string check(const Walk& w, const WalkLimits& limits) {
  if (!w.report.errText().empty()) return "standard error: " + w.report.errText();
  return TableCheck(w, limits).run();
}

TEST(WalkFuzzTest, EveryTruncationAndEveryByteFlipWalksSafely) {
  for (const Seed& seed : {richBank(), Seed{workedExample(), 0x1000}}) {
    for (size_t at = static_cast<size_t>(seed.ctlOffset); at < seed.rom.size(); ++at) {
      for (bool cut : {true, false}) {
        RomBuilder damaged = seed.rom;
        Walk w(cut ? damaged.truncate(at) : damaged.flip(at, 0xFF), seed.ctlOffset, {}, cut);
        ASSERT_EQ(check(w, {}), "") << (cut ? "cut at " : "flipped at ") << at;
      }
    }
  }
}

// Random damage: noise behind a valid revision, or flipped bytes, wild
// values on 4-byte fields and a cut, each of them or not.
class Mutator {
 public:
  explicit Mutator(uint32_t seed) : rng_(seed) {}

  RomBuilder mutate(const Seed& seed) {
    static const uint32_t kWild[] = {0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x0000FFFF,
                                     0x00007FFF, 0xFFFF8000, 0x00100000, 0xFFFFFFF0};
    RomBuilder out = seed.rom;
    std::vector<uint8_t>& bytes = out.bytes();
    const size_t ctl = static_cast<size_t>(seed.ctlOffset);
    const size_t block = bytes.size() - ctl;
    if (below(5) == 0) {
      bytes.assign(ctl + 4 + below(400), 0);
      // Mostly small values, so counts and pointers land inside the block.
      for (size_t i = ctl; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(below(3) == 0 ? rng_() : below(8) * 4);
      }
      return out.be16(ctl, kBankFileRevision);
    }
    for (uint32_t k = below(9); k > 0; --k) bytes[ctl + below(block)] ^= 1 + below(255);
    for (uint32_t k = below(4); k > 0; --k) {
      out.be32(ctl + (below(block) & ~size_t{3}), below(2) ? kWild[below(8)] : below(block + 64));
    }
    if (below(2) == 0) out.truncate(ctl + below(block));
    return out;
  }

 private:
  uint32_t below(size_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }
  std::mt19937 rng_;
};

TEST(WalkFuzzTest, RandomDamageNeverBreaksTheTable) {
  const Seed seeds[] = {richBank(), {workedExample(), 0x1000}};
  const char* templates[] = {"%t%2i%2s", "", "%99c%t%", "%b%i%s%c%q%%%3"};
  Mutator mutator(20261208);
  int finished = 0;
  int bogus = 0;
  for (int iteration = 0; iteration < 4000; ++iteration) {
    const Seed& seed = seeds[iteration % 2];
    WalkLimits limits;
    limits.nameTemplate = templates[iteration % 4];
    limits.rateRatio = iteration % 7 == 0 ? std::nan("") : 1.0 + (iteration % 5) * 1e9;
    limits.samplesWritten = iteration % 6 == 5;
    if (iteration % 11 == 0) limits.listSlotBudget = 5;
    Walk w(mutator.mutate(seed), seed.ctlOffset, limits, iteration % 3 == 0);
    ASSERT_EQ(check(w, limits), "") << "iteration " << iteration;
    if (!w.bank.stopped()) ++finished;
    if (w.bank.stop.rfind("\nAbnormal", 0) == 0) ++bogus;
  }
  // Both outcomes must occur, or the mutations test too little.
  EXPECT_GT(finished, 1000);
  EXPECT_GT(bogus, 10);
}

}  // namespace
}  // namespace zaft
