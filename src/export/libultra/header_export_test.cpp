#include "export/libultra/header_export.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

// A bank file put together by hand, entry by entry.
struct Table {
  BankFile bank;

  // Named targets T1..Tn for references, entries 1..n.
  explicit Table(int targets = 0) {
    for (int i = 1; i <= targets; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "T%d", i);
      add(0x100u * static_cast<uint32_t>(i), name, StructKind::RawLoop, ALRawLoop{});
    }
  }
  Table& add(uint32_t offset, const char* name, StructKind kind, RecordData data) {
    StructEntry& e = bank.table.append(offset);
    e.name = name;
    e.kind = kind;
    e.data = std::move(data);
    bank.counters.structCount = bank.table.size();
    return *this;
  }
};

struct Rendered {
  std::string header, out, err;
};

Rendered render(const BankFile& bank, int32_t width = 10, const char* name = "CONTROL.H",
                bool verbose = true) {
  MemorySink sink;
  CollectingReporter report(verbose);
  writeHeaderText(bank, width, name, sink, report);
  return {sink.text(), report.outText(), report.errText()};
}

// The structure that begins with `opening`, up to and including its "};\n\n".
std::string structOf(const std::string& header, const std::string& opening) {
  const size_t begin = header.find(opening);
  if (begin == std::string::npos) return "<missing " + opening + ">";
  const size_t end = header.find("};\n\n", begin);
  return end == std::string::npos ? header.substr(begin) : header.substr(begin, end + 4 - begin);
}

void expectSameBytes(const std::string& expected, const std::string& actual) {
  if (expected == actual) return;
  size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  ADD_FAILURE() << "first difference at offset " << at << " (expected " << expected.size()
                << " bytes, got " << actual.size()
                << ")\nexpected from there: " << expected.substr(at, 40)
                << "\nactual from there:   " << actual.substr(at, 40);
}

// Whether the braces outside "//" comments balance, as a C compiler sees them.
bool bracesBalance(const std::string& header) {
  int depth = 0;
  bool comment = false;
  for (size_t k = 0; k < header.size(); ++k) {
    if (header[k] == '\n') comment = false;
    if (comment) continue;
    if (header.compare(k, 2, "//") == 0) comment = true;
    if (header[k] == '{') ++depth;
    if (header[k] == '}' && --depth < 0) return false;
  }
  return depth == 0;
}

BankFile workedExample() {
  Table t;
  t.add(0x0B8A40, "File", StructKind::BankFile, ALBankFile{0x4231, 1, {2}});
  t.add(0x0B8A50, "Bank", StructKind::Bank, ALBank{1, 0, 0, 22050, 0, {3}});
  t.add(0x0B8A60, "Inst00", StructKind::Instrument,
        ALInstrument{127, 64, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 200, 1, {4}});
  t.add(0x0B8A80, "Sound0000", StructKind::Sound, ALSound{5, 6, 7, 64, 127, 0});
  t.add(0x0B8A90, "Envp0000", StructKind::Envelope, ALEnvelope{0, 1000000, 50000, 127, 100});
  t.add(0x0B8AA0, "Keym0000", StructKind::KeyMap, ALKeyMap{0, 127, 0, 127, 60, -5});
  t.add(0x0B8AB0, "Wave0000", StructKind::WaveTable, ALWaveTable{1024, 4608, 0, 0, {{8, 9}}});
  t.add(0x0B8AD0, "Loop0000", StructKind::AdpcmLoop, ALADPCMloop{128, 8000, -1});
  t.add(0x0B8B00, "Book0000", StructKind::AdpcmBook,
        ALADPCMBook{
            2,
            1,
            {-1234, 2048, 0, -7, 15, 300, -32768, 32767, 5, -5, 99, -99, 1000, -1000, 12, -12}});
  t.bank.counters = {1, 1, 1, 0, 10};
  return t.bank;
}

// The same header whether verbose or quiet; only the progress lines differ.
TEST(HeaderExportTest, WorkedExampleMatchesGoldenFile) {
  const std::string golden =
      test::readFileText(ZAFT_SOURCE_DIR "/tests/golden/worked_example_control.h");
  std::string progress;
  for (int i = 1; i <= 9; ++i) {
    progress += "Dumping structs (" + std::to_string(i) + " of 9) to CONTROL.H\r";
  }
  for (bool verbose : {true, false}) {
    const Rendered r = render(workedExample(), 10, "CONTROL.H", verbose);
    expectSameBytes(golden, r.header);
    EXPECT_TRUE(bracesBalance(r.header));
    EXPECT_EQ(r.out, verbose ? progress + "\n" : "");
    EXPECT_EQ(r.err, "");
  }
}

TEST(HeaderExportTest, NumbersKeepTheirFieldsSignedness) {
  Table t;
  t.add(0x10, "I", StructKind::Instrument,
        ALInstrument{
            200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, static_cast<int16_t>(0xFFFF), -32768, {}});
  t.add(0x20, "K", StructKind::KeyMap, ALKeyMap{255, 128, 0, 1, 2, static_cast<int8_t>(0xFB)});
  t.add(0x30, "E", StructKind::Envelope, ALEnvelope{INT32_MIN, 7, INT32_MAX, 255, 0});
  t.add(0x40, "B", StructKind::Bank, ALBank{0, 200, 255, -1, 0, {}});
  t.add(0x50, "W", StructKind::WaveTable, ALWaveTable{-16, INT32_MAX, 0, 200, {{0, 0}}});
  t.add(0x60, "L", StructKind::RawLoop, ALRawLoop{-1, 0, INT32_MIN});
  const std::string h = render(t.bank).header;

  const std::string i = structOf(h, "ALInstrument I = ");
  for (const char* line : {"\n         200, // volume\n", "\n         255, // vibDelay\n",
                           "\n          -1, // bendRange\n", "\n      -32768, // soundCount\n"}) {
    EXPECT_NE(i.find(line), std::string::npos) << line << i;
  }
  EXPECT_EQ(structOf(h, "ALKeyMap K = "),
            "ALKeyMap K = { // Offset: 0x000020\n"
            "         255, // velocityMin\n"
            "         128, // velocityMax\n"
            "           0, // keyMin\n"
            "           1, // keyMax\n"
            "           2, // keyBase\n"
            "          -5, // detune\n"
            "};\n\n");
  // secondTime is not in the header.
  EXPECT_EQ(structOf(h, "ALEnvelope E = "),
            "ALEnvelope E = { // Offset: 0x000030\n"
            "  -2147483648, // attackTime\n"
            "  2147483647, // releaseTime\n"
            "         255, // attackVolume\n"
            "           0, // decayVolume\n"
            "};\n\n");
  EXPECT_NE(
      structOf(h, "ALBank B = ")
          .find("         200, // flags\n         255, // pad\n          -1, // sampleRate\n"),
      std::string::npos);
  EXPECT_NE(structOf(h, "ALWaveTable W = ")
                .find("         -16, // base\n  2147483647, // len\n           0, // type\n"
                      "         200, // flags\n"),
            std::string::npos);
  EXPECT_EQ(structOf(h, "ALRawLoop L = "),
            "ALRawLoop L = { // Offset: 0x000060\n"
            "          -1, // start\n"
            "           0, // end\n"
            "  -2147483648, // count\n"
            "};\n\n");
}

// Blanks on the left up to the width, on the right for a negative width,
// none for 0; a longer name is written whole.
TEST(HeaderExportTest, FieldWidthZeroNegativeAndLongNames) {
  Table t(1);
  t.add(0x10, "Bank", StructKind::Bank, ALBank{1, 0, 0, 22050, 0, {1}});
  // Its keyMap refers to itself, the longest name at hand.
  t.add(0x20, "AVeryLongSoundName", StructKind::Sound, ALSound{1, 3, 0, 64, 127, 0});

  EXPECT_EQ(structOf(render(t.bank, 0).header, "ALBank Bank = "),
            "ALBank Bank = { // Offset: 0x000010\n"
            "  1, // instCount\n"
            "  0, // flags\n"
            "  0, // pad\n"
            "  22050, // sampleRate\n"
            "  NULL, // percussion\n"
            "  { // insts\n"
            "  T1, },\n"
            "};\n\n");
  const std::string left = render(t.bank, -10).header;
  EXPECT_EQ(structOf(left, "ALBank Bank = "),
            "ALBank Bank = { // Offset: 0x000010\n"
            "  1         , // instCount\n"
            "  0         , // flags\n"
            "  0         , // pad\n"
            "  22050     , // sampleRate\n"
            "  NULL      , // percussion\n"
            "  { // insts\n"
            "  T1        , },\n"
            "};\n\n");
  EXPECT_NE(left.find("  AVeryLongSoundName, // keyMap\n"), std::string::npos);
  EXPECT_EQ(structOf(render(t.bank, 10).header, "ALSound AVeryLongSoundName = "),
            "ALSound AVeryLongSoundName = { // Offset: 0x000020\n"
            "          T1, // envelope\n"
            "  AVeryLongSoundName, // keyMap\n"
            "        NULL, // wavetable\n"
            "          64, // samplePan\n"
            "         127, // sampleVolume\n"
            "           0, // flags\n"
            "};\n\n");
}

TEST(HeaderExportTest, AbsurdFieldWidthsAreBoundedWithAWarning) {
  Table t;
  t.add(0x10, "K", StructKind::KeyMap, ALKeyMap{});
  const std::string blanks(1023, ' ');
  for (int32_t width : {INT32_MIN, INT32_MAX}) {
    const Rendered r = render(t.bank, width);
    const std::string line =
        width > 0 ? "  " + blanks + "0, // keyMin\n" : "  0" + blanks + ", // keyMin\n";
    EXPECT_NE(r.header.find(line), std::string::npos);
    EXPECT_EQ(r.err, "Header field width " + std::to_string(width) + " is out of range; using " +
                         (width > 0 ? "1024" : "-1024") + "\n");
  }
}

// Eight names per line; a null pointer, and an index outside the table, is
// NULL; only the pointers the record holds are listed (a count that claims
// more, where the ROM ended, lists those).
TEST(HeaderExportTest, ReferenceLists) {
  Table t(9);
  t.add(0x1000, "Eight", StructKind::BankFile, ALBankFile{0x4231, 8, {1, 2, 3, 4, 5, 6, 7, 8}});
  t.add(0x2000, "Nine", StructKind::BankFile, ALBankFile{0x4231, 9, {1, 2, 3, 4, 5, 6, 7, 8, 9}});
  t.add(0x3000, "I", StructKind::Instrument,
        ALInstrument{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, {0, 1, 99, -3}});
  t.add(0x4000, "B", StructKind::Bank, ALBank{3, 0, 0, 0, 0, {1}});
  const std::string h = render(t.bank, 3).header;
  EXPECT_EQ(structOf(h, "ALBankFile Eight = "),
            "ALBankFile Eight = { // Offset: 0x001000\n"
            "  'B1', // revision\n"
            "    8, // bankCount\n"
            "  { // banks\n"
            "   T1,  T2,  T3,  T4,  T5,  T6,  T7,  T8, },\n"
            "};\n\n");
  EXPECT_EQ(structOf(h, "ALBankFile Nine = "),
            "ALBankFile Nine = { // Offset: 0x002000\n"
            "  'B1', // revision\n"
            "    9, // bankCount\n"
            "  { // banks\n"
            "   T1,  T2,  T3,  T4,  T5,  T6,  T7,  T8, \n"
            "   T9, },\n"
            "};\n\n");
  EXPECT_NE(h.find("  { // sounds\n  NULL,  T1, NULL, NULL, },\n};\n\n"), std::string::npos) << h;
  EXPECT_NE(h.find("NULL, // percussion\n  { // insts\n   T1, },\n"), std::string::npos) << h;
}

// Sixteen coefficients per predictor, eight per line, signed; never more
// than the book holds, whatever npredictors claims; an empty list stays
// well formed.
TEST(HeaderExportTest, PredictorLists) {
  ALADPCMBook two{7, 2, std::vector<int16_t>(32)};
  for (int k = 0; k < 32; ++k) two.predictors[static_cast<size_t>(k)] = static_cast<int16_t>(k);
  two.predictors[0] = -32768;
  two.predictors[31] = 32767;
  const struct {
    ALADPCMBook book;
    const char* expected;
  } cases[] = {
      {two,
       "           7, // order\n"
       "           2, // npredictors\n"
       "  { // Predictors\n"
       "  -32768,    +1,    +2,    +3,    +4,    +5,    +6,    +7, \n"
       "     +8,    +9,   +10,   +11,   +12,   +13,   +14,   +15, \n"
       "    +16,   +17,   +18,   +19,   +20,   +21,   +22,   +23, \n"
       "    +24,   +25,   +26,   +27,   +28,   +29,   +30, +32767, },\n"},
      {{2, INT32_MAX, std::vector<int16_t>(16, 1)},
       "           2, // order\n"
       "  2147483647, // npredictors\n"
       "  { // Predictors\n"
       "     +1,    +1,    +1,    +1,    +1,    +1,    +1,    +1, \n"
       "     +1,    +1,    +1,    +1,    +1,    +1,    +1,    +1, },\n"},
      {{2, -5, std::vector<int16_t>(16, 1)},
       "           2, // order\n"
       "          -5, // npredictors\n"
       "  { // Predictors\n"
       "  },\n"},
  };
  for (const auto& c : cases) {
    Table t;
    t.add(0x10, "Bk", StructKind::AdpcmBook, c.book);
    EXPECT_EQ(structOf(render(t.bank).header, "ALADPCMBook Bk = "),
              std::string("ALADPCMBook Bk = { // Offset: 0x000010\n") + c.expected + "};\n\n");
  }
}

// An empty list still ends its opening line, so that the "//" comment does
// not swallow the closing brace.
TEST(HeaderExportTest, EmptyListsStayWellFormed) {
  Table t;
  t.add(0x10, "F", StructKind::BankFile, ALBankFile{0x4231, 0, {}});
  t.add(0x20, "B", StructKind::Bank, ALBank{-1, 0, 0, 0, 0, {}});
  t.add(0x30, "I", StructKind::Instrument, ALInstrument{});
  const std::string h = render(t.bank).header;
  EXPECT_TRUE(bracesBalance(h)) << h;
  for (const char* list : {"banks", "insts", "sounds"}) {
    EXPECT_NE(h.find(std::string("  { // ") + list + "\n  },\n};\n\n"), std::string::npos) << list;
  }
}

TEST(HeaderExportTest, WaveTableUnionDependsOnType) {
  Table t(2);
  t.add(0x11, "Raw1", StructKind::WaveTable, ALWaveTable{0, 0, 1, 0, {{1, 0}}});
  t.add(0x17, "Raw7", StructKind::WaveTable, ALWaveTable{0, 0, 7, 0, {{1, 0}}});
  t.add(0x30, "Ad", StructKind::WaveTable, ALWaveTable{0, 0, 0, 0, {{2, 0}}});
  const std::string h = render(t.bank).header;
  const char* rawUnion = "  { // union\n          T1, // waveInfo.rawWave.loop\n},\n};\n\n";
  EXPECT_NE(structOf(h, "ALWaveTable Raw1 = ").find(rawUnion), std::string::npos);
  EXPECT_NE(structOf(h, "ALWaveTable Raw7 = ").find(rawUnion), std::string::npos);
  EXPECT_NE(structOf(h, "ALWaveTable Ad = ")
                .find("  { // union\n          T2, // waveInfo.adpcmWave.loop\n"
                      "        NULL, // waveInfo.adpcmWave.book\n},\n};\n\n"),
            std::string::npos);
}

// The banner's counters; an entry of an unknown kind has no structure; a
// count past the table's end still counts in the progress lines.
TEST(HeaderExportTest, BannerCountsAndUnknownKinds) {
  Table t(2);
  t.add(0x10, "Odd", static_cast<StructKind>(12), std::monostate{});
  t.bank.counters.banks = 3;
  t.bank.counters.reusedRefs = 12345;
  t.bank.counters.structCount = t.bank.table.size() + 1;
  const Rendered r = render(t.bank, 10, "out.h");
  EXPECT_EQ(r.header.substr(0, r.header.find("ALRawLoop")),
            "/*\\\n|*|\n"
            "|*| Banks                   3\n"
            "|*| Instruments             0\n"
            "|*| Sounds                  0\n"
            "|*| Reused References   12345\n"
            "|*| Struct Count            4\n"
            "\\*/\n\n");
  EXPECT_EQ(r.header.find("Odd"), std::string::npos);
  EXPECT_NE(r.header.find("ALRawLoop T2 = "), std::string::npos);
  EXPECT_EQ(r.out,
            "Dumping structs (1 of 4) to out.h\rDumping structs (2 of 4) to out.h\r"
            "Dumping structs (3 of 4) to out.h\rDumping structs (4 of 4) to out.h\r\n");
}

// The whole tool: a header named like the ROM ("/o" just before the ROM's
// name takes it as its value) is refused, one that cannot be created is
// reported with the reason; either is a failure (status 1) and nothing else
// is touched. The default name and /o are in the end-to-end tests.
TEST(HeaderExportRun, RefusedOrUnwritableHeader) {
  test::TempDir dir;
  std::vector<uint8_t> romBytes(64, 0);
  romBytes[0] = 0x42;  // a bank file "B1" with no bank, at offset 0
  romBytes[1] = 0x31;
  test::writeFile(dir.file("game.bin"), romBytes);
  const char* const cases[][2] = {
      {"game.bin", "Refusing to write header file game.bin: it is the ROM file\n"},
      {"missing/bank.h",
       "Unable to write to header file missing/bank.h\n  No such file or directory\n"},
  };
  for (const auto& c : cases) {
    const test::RunResult r = test::runInProcess({"/c", "0", "/o", c[0], "game.bin"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("\n.tbl file offset not specified. .wav files won't be created.\n"
                                 "\nRipping from .ctl offset 0x000000\n") +
                         c[1]);
    EXPECT_EQ(r.out.find("Dumping"), std::string::npos) << r.out;
    EXPECT_EQ(test::readFileBytes(dir.file("game.bin")), romBytes);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"game.bin"});
  }
}

}  // namespace
}  // namespace zaft
