#include "header/header_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "driver/options.h"
#include "driver/run_context.h"
#include "rom/rom_stream.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

#ifndef ZAFT_SOURCE_DIR
#define ZAFT_SOURCE_DIR "."
#endif

namespace zaft {
namespace {

const char* const kBanner =
    "/*\\\n"
    "|*|\n"
    "|*| Banks                   0\n"
    "|*| Instruments             0\n"
    "|*| Sounds                  0\n"
    "|*| Reused References       0\n";

StructEntry& add(RunContext& ctx, uint32_t offset, const char* name, StructKind kind,
                 RecordData data) {
  StructEntry& e = ctx.table.append(offset);
  std::snprintf(e.name, sizeof e.name, "%s", name);
  e.kind = kind;
  e.data = std::move(data);
  ctx.counters.structCount = ctx.table.size();
  return e;
}

// A context with entry 0 and, when asked, a few named targets for references.
RunContext tableWithTargets(int targets = 0) {
  RunContext ctx;
  enterNullStruct(ctx);
  for (int i = 1; i <= targets; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "T%d", i);
    add(ctx, 0x100u * static_cast<uint32_t>(i), name, StructKind::RawLoop, ALRawLoop{});
  }
  return ctx;
}

struct Rendered {
  std::string header;
  std::string out;
  std::string err;
};

Rendered render(RunContext& ctx, const char* headerName = "CONTROL.H") {
  test::MemoryStream file, out, err;
  ctx.out = out.file();
  ctx.err = err.file();
  writeHeaderText(ctx, file.file(), headerName);
  Rendered r{file.text(), out.text(), err.text()};
  ctx.out = stdout;
  ctx.err = stderr;
  return r;
}

// The structure that begins with `opening`, up to and including its "};\n\n".
std::string structOf(const std::string& header, const std::string& opening) {
  size_t begin = header.find(opening);
  if (begin == std::string::npos) return "<missing " + opening + ">";
  size_t end = header.find("};\n\n", begin);
  return end == std::string::npos ? header.substr(begin) : header.substr(begin, end + 4 - begin);
}

void expectSameBytes(const std::string& expected, const std::string& actual) {
  if (expected == actual) return;
  size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  ADD_FAILURE() << "first difference at offset " << at << " (expected " << expected.size()
                << " bytes, got " << actual.size() << ")\nexpected from there: "
                << expected.substr(at, 40) << "\nactual from there:   " << actual.substr(at, 40);
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

RunContext workedExample() {
  RunContext ctx;
  enterNullStruct(ctx);
  add(ctx, 0x0B8A40, "File", StructKind::BankFile, ALBankFile{0x4231, 1, {2}});
  add(ctx, 0x0B8A50, "Bank", StructKind::Bank, ALBank{1, 0, 0, 22050, 0, {3}});
  ALInstrument inst;
  inst.volume = 127;
  inst.pan = 64;
  inst.priority = 5;
  inst.bendRange = 200;
  inst.soundCount = 1;
  inst.sounds = {4};
  add(ctx, 0x0B8A60, "Inst00", StructKind::Instrument, inst);
  add(ctx, 0x0B8A80, "Sound0000", StructKind::Sound, ALSound{5, 6, 7, 64, 127, 0});
  add(ctx, 0x0B8A90, "Envp0000", StructKind::Envelope, ALEnvelope{0, 1000000, 50000, 127, 100});
  add(ctx, 0x0B8AA0, "Keym0000", StructKind::KeyMap, ALKeyMap{0, 127, 0, 127, 60, -5});
  ALWaveTable wave;
  wave.base = 1024;
  wave.len = 4608;
  wave.waveInfo.adpcmWave.loop = 8;
  wave.waveInfo.adpcmWave.book = 9;
  add(ctx, 0x0B8AB0, "Wave0000", StructKind::WaveTable, wave);
  add(ctx, 0x0B8AD0, "Loop0000", StructKind::AdpcmLoop, ALADPCMloop{128, 8000, -1});
  add(ctx, 0x0B8B00, "Book0000", StructKind::AdpcmBook,
      ALADPCMBook{2, 1, {-1234, 2048, 0, -7, 15, 300, -32768, 32767,
                         5, -5, 99, -99, 1000, -1000, 12, -12}});
  ctx.counters = {1, 1, 1, 0, 10, 0};
  return ctx;
}

TEST(HeaderWriterTest, WorkedExampleMatchesGoldenFile) {
  RunContext ctx = workedExample();
  Rendered r = render(ctx);
  expectSameBytes(test::readFileText(ZAFT_SOURCE_DIR "/tests/golden/worked_example_control.h"),
                  r.header);
  EXPECT_TRUE(bracesBalance(r.header));
  std::string progress;
  for (int i = 1; i <= 9; ++i) {
    progress += "Dumping structs (" + std::to_string(i) + " of 9) to CONTROL.H\r";
  }
  EXPECT_EQ(r.out, progress + "\n");
  EXPECT_EQ(r.err, "");
}

TEST(HeaderWriterTest, QuietModeWritesTheSameHeaderAndNothingOnStdout) {
  RunContext ctx = workedExample();
  ctx.settings.verbose = 0;
  Rendered r = render(ctx);
  expectSameBytes(test::readFileText(ZAFT_SOURCE_DIR "/tests/golden/worked_example_control.h"),
                  r.header);
  EXPECT_EQ(r.out, "");
}

TEST(HeaderWriterTest, NumbersKeepTheirFieldsSignedness) {
  RunContext ctx = tableWithTargets();
  ALInstrument inst;
  inst.volume = 200;
  inst.vibDelay = 255;
  inst.bendRange = static_cast<int16_t>(0xFFFF);
  inst.soundCount = -32768;
  add(ctx, 0x10, "I", StructKind::Instrument, inst);
  ALKeyMap keys{255, 128, 0, 1, 2, static_cast<int8_t>(0xFB)};
  add(ctx, 0x20, "K", StructKind::KeyMap, keys);
  add(ctx, 0x30, "E", StructKind::Envelope, ALEnvelope{INT32_MIN, 7, INT32_MAX, 255, 0});
  add(ctx, 0x40, "B", StructKind::Bank, ALBank{0, 200, 255, -1, 0, {}});
  ALWaveTable wave;
  wave.base = -16;
  wave.len = INT32_MAX;
  wave.type = 0;
  wave.flags = 200;
  add(ctx, 0x50, "W", StructKind::WaveTable, wave);
  add(ctx, 0x60, "L", StructKind::RawLoop, ALRawLoop{-1, 0, INT32_MIN});
  std::string h = render(ctx).header;

  std::string i = structOf(h, "ALInstrument I = ");
  EXPECT_NE(i.find("\n         200, // volume\n"), std::string::npos) << i;
  EXPECT_NE(i.find("\n         255, // vibDelay\n"), std::string::npos) << i;
  EXPECT_NE(i.find("\n          -1, // bendRange\n"), std::string::npos) << i;
  EXPECT_NE(i.find("\n      -32768, // soundCount\n"), std::string::npos) << i;
  EXPECT_EQ(structOf(h, "ALKeyMap K = "),
            "ALKeyMap K = { // Offset: 0x000020\n"
            "         255, // velocityMin\n"
            "         128, // velocityMax\n"
            "           0, // keyMin\n"
            "           1, // keyMax\n"
            "           2, // keyBase\n"
            "          -5, // detune\n"
            "};\n\n");
  EXPECT_EQ(structOf(h, "ALEnvelope E = "),
            "ALEnvelope E = { // Offset: 0x000030\n"
            "  -2147483648, // attackTime\n"
            "  2147483647, // releaseTime\n"
            "         255, // attackVolume\n"
            "           0, // decayVolume\n"
            "};\n\n");
  std::string b = structOf(h, "ALBank B = ");
  EXPECT_NE(b.find("         200, // flags\n         255, // pad\n          -1, // sampleRate\n"),
            std::string::npos) << b;
  std::string w = structOf(h, "ALWaveTable W = ");
  EXPECT_NE(w.find("         -16, // base\n  2147483647, // len\n           0, // type\n"
                   "         200, // flags\n"),
            std::string::npos) << w;
  EXPECT_EQ(structOf(h, "ALRawLoop L = "),
            "ALRawLoop L = { // Offset: 0x000060\n"
            "          -1, // start\n"
            "           0, // end\n"
            "  -2147483648, // count\n"
            "};\n\n");
}

TEST(HeaderWriterTest, FieldWidthZeroNegativeAndLongNames) {
  RunContext ctx = tableWithTargets(1);
  add(ctx, 0x10, "Bank", StructKind::Bank, ALBank{1, 0, 0, 22050, 0, {1}});
  // Its keyMap refers to itself, the longest name at hand.
  add(ctx, 0x20, "AVeryLongSoundName", StructKind::Sound, ALSound{1, 3, 0, 64, 127, 0});

  ctx.settings.fieldWidth = 0;
  std::string h = render(ctx).header;
  EXPECT_EQ(structOf(h, "ALBank Bank = "),
            "ALBank Bank = { // Offset: 0x000010\n"
            "  1, // instCount\n"
            "  0, // flags\n"
            "  0, // pad\n"
            "  22050, // sampleRate\n"
            "  NULL, // percussion\n"
            "  { // insts\n"
            "  T1, },\n"
            "};\n\n");

  ctx.settings.fieldWidth = -10;
  h = render(ctx).header;
  EXPECT_EQ(structOf(h, "ALBank Bank = "),
            "ALBank Bank = { // Offset: 0x000010\n"
            "  1         , // instCount\n"
            "  0         , // flags\n"
            "  0         , // pad\n"
            "  22050     , // sampleRate\n"
            "  NULL      , // percussion\n"
            "  { // insts\n"
            "  T1        , },\n"
            "};\n\n");
  EXPECT_NE(h.find("  AVeryLongSoundName, // keyMap\n"), std::string::npos);

  ctx.settings.fieldWidth = 10;
  h = render(ctx).header;
  EXPECT_EQ(structOf(h, "ALSound AVeryLongSoundName = "),
            "ALSound AVeryLongSoundName = { // Offset: 0x000020\n"
            "          T1, // envelope\n"
            "  AVeryLongSoundName, // keyMap\n"
            "        NULL, // wavetable\n"
            "          64, // samplePan\n"
            "         127, // sampleVolume\n"
            "           0, // flags\n"
            "};\n\n");
}

TEST(HeaderWriterTest, AbsurdFieldWidthsAreBoundedWithAWarning) {
  RunContext ctx = tableWithTargets();
  add(ctx, 0x10, "K", StructKind::KeyMap, ALKeyMap{});
  for (int32_t width : {INT32_MIN, INT32_MAX}) {
    ctx.settings.fieldWidth = width;
    Rendered r = render(ctx);
    const std::string blanks(1023, ' ');
    const std::string line =
        width > 0 ? "  " + blanks + "0, // keyMin\n" : "  0" + blanks + ", // keyMin\n";
    EXPECT_NE(r.header.find(line), std::string::npos);
    EXPECT_EQ(r.err, "Header field width " + std::to_string(width) + " is out of range; using " +
                         std::to_string(width > 0 ? 1024 : -1024) + "\n");
  }
}

TEST(HeaderWriterTest, ReferenceListsHoldEightNamesPerLine) {
  RunContext ctx = tableWithTargets(9);
  ALBankFile eight{0x4231, 8, {1, 2, 3, 4, 5, 6, 7, 8}};
  ALBankFile nine{0x4231, 9, {1, 2, 3, 4, 5, 6, 7, 8, 9}};
  add(ctx, 0x1000, "Eight", StructKind::BankFile, eight);
  add(ctx, 0x2000, "Nine", StructKind::BankFile, nine);
  ctx.settings.fieldWidth = 3;
  std::string h = render(ctx).header;
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
}

TEST(HeaderWriterTest, NullAndUnknownReferencesPrintNull) {
  RunContext ctx = tableWithTargets(1);
  ALInstrument inst;
  inst.soundCount = 4;
  inst.sounds = {0, 1, 99, -3};  // 99 and -3 lie outside the table
  add(ctx, 0x10, "I", StructKind::Instrument, inst);
  ALBank shortArray{3, 0, 0, 0, 0, {1}};  // claims three, holds one: the ROM ended
  add(ctx, 0x20, "B", StructKind::Bank, shortArray);
  ctx.settings.fieldWidth = 5;
  std::string h = render(ctx).header;
  EXPECT_NE(h.find("  { // sounds\n   NULL,    T1,  NULL,  NULL, },\n};\n\n"), std::string::npos)
      << h;
  // Only the pointers the record holds are listed.
  EXPECT_NE(h.find(" NULL, // percussion\n  { // insts\n     T1, },\n"), std::string::npos) << h;
}

TEST(HeaderWriterTest, PredictorListsWriteSixteenValuesPerPredictor) {
  RunContext ctx = tableWithTargets();
  ALADPCMBook book{7, 2, std::vector<int16_t>(32)};
  for (int k = 0; k < 32; ++k) book.predictors[static_cast<size_t>(k)] = static_cast<int16_t>(k);
  book.predictors[0] = -32768;
  book.predictors[31] = 32767;
  add(ctx, 0x10, "Bk", StructKind::AdpcmBook, book);
  EXPECT_EQ(structOf(render(ctx).header, "ALADPCMBook Bk = "),
            "ALADPCMBook Bk = { // Offset: 0x000010\n"
            "           7, // order\n"
            "           2, // npredictors\n"
            "  { // Predictors\n"
            "  -32768,    +1,    +2,    +3,    +4,    +5,    +6,    +7, \n"
            "     +8,    +9,   +10,   +11,   +12,   +13,   +14,   +15, \n"
            "    +16,   +17,   +18,   +19,   +20,   +21,   +22,   +23, \n"
            "    +24,   +25,   +26,   +27,   +28,   +29,   +30, +32767, },\n"
            "};\n\n");
}

TEST(HeaderWriterTest, BogusPredictorCountPrintsOnlyTheStoredCoefficients) {
  RunContext ctx = tableWithTargets();
  add(ctx, 0x10, "Bk", StructKind::AdpcmBook,
      ALADPCMBook{2, INT32_MAX, std::vector<int16_t>(16, 1)});
  std::string b = structOf(render(ctx).header, "ALADPCMBook Bk = ");
  EXPECT_EQ(b,
            "ALADPCMBook Bk = { // Offset: 0x000010\n"
            "           2, // order\n"
            "  2147483647, // npredictors\n"
            "  { // Predictors\n"
            "     +1,    +1,    +1,    +1,    +1,    +1,    +1,    +1, \n"
            "     +1,    +1,    +1,    +1,    +1,    +1,    +1,    +1, },\n"
            "};\n\n");
}

TEST(HeaderWriterTest, EmptyListsStayWellFormed) {
  RunContext ctx = tableWithTargets();
  add(ctx, 0x10, "F", StructKind::BankFile, ALBankFile{0x4231, 0, {}});
  add(ctx, 0x20, "B", StructKind::Bank, ALBank{-1, 0, 0, 0, 0, {}});
  ALInstrument inst;
  inst.soundCount = 0;
  add(ctx, 0x30, "I", StructKind::Instrument, inst);
  add(ctx, 0x40, "Bk", StructKind::AdpcmBook, ALADPCMBook{2, -5, {}});
  std::string h = render(ctx).header;
  EXPECT_TRUE(bracesBalance(h)) << h;
  EXPECT_NE(h.find("  { // banks\n  },\n};\n\n"), std::string::npos);
  EXPECT_NE(h.find("  { // insts\n  },\n};\n\n"), std::string::npos);
  EXPECT_NE(h.find("  { // sounds\n  },\n};\n\n"), std::string::npos);
  EXPECT_EQ(structOf(h, "ALADPCMBook Bk = "),
            "ALADPCMBook Bk = { // Offset: 0x000040\n"
            "           2, // order\n"
            "          -5, // npredictors\n"
            "  { // Predictors\n"
            "  },\n"
            "};\n\n");
}

TEST(HeaderWriterTest, WaveTableUnionDependsOnType) {
  RunContext ctx = tableWithTargets(2);
  for (uint8_t type : {1, 7}) {
    ALWaveTable raw;
    raw.type = type;
    raw.waveInfo.rawWave.loop = 1;
    add(ctx, 0x10u + type, type == 1 ? "Raw1" : "Raw7", StructKind::WaveTable, raw);
  }
  ALWaveTable adpcm;
  adpcm.waveInfo.adpcmWave.loop = 2;
  adpcm.waveInfo.adpcmWave.book = 0;
  add(ctx, 0x30, "Ad", StructKind::WaveTable, adpcm);
  std::string h = render(ctx).header;
  const char* rawUnion = "  { // union\n          T1, // waveInfo.rawWave.loop\n},\n};\n\n";
  EXPECT_NE(structOf(h, "ALWaveTable Raw1 = ").find(rawUnion), std::string::npos);
  EXPECT_NE(structOf(h, "ALWaveTable Raw7 = ").find(rawUnion), std::string::npos);
  EXPECT_NE(structOf(h, "ALWaveTable Ad = ")
                .find("  { // union\n          T2, // waveInfo.adpcmWave.loop\n"
                      "        NULL, // waveInfo.adpcmWave.book\n},\n};\n\n"),
            std::string::npos);
}

TEST(HeaderWriterTest, BannerCountsAndUnknownKinds) {
  RunContext ctx = tableWithTargets(2);
  add(ctx, 0x10, "Odd", static_cast<StructKind>(12), std::monostate{});
  ctx.counters.banks = 3;
  ctx.counters.reusedRefs = 12345;
  Rendered r = render(ctx, "out.h");
  EXPECT_EQ(r.header.substr(0, r.header.find("ALRawLoop")),
            "/*\\\n|*|\n"
            "|*| Banks                   3\n"
            "|*| Instruments             0\n"
            "|*| Sounds                  0\n"
            "|*| Reused References   12345\n"
            "|*| Struct Count            3\n"
            "\\*/\n\n");
  EXPECT_EQ(r.header.find("Odd"), std::string::npos);
  EXPECT_EQ(r.out,
            "Dumping structs (1 of 3) to out.h\rDumping structs (2 of 3) to out.h\r"
            "Dumping structs (3 of 3) to out.h\r\n");
}

// writeHeader itself: the name, the file, and the ways it refuses to write.
class WriteHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.out = out.file();
    ctx.err = err.file();
    enterNullStruct(ctx);
    add(ctx, 0x10, "K", StructKind::KeyMap, ALKeyMap{});
  }
  void args(const std::vector<std::string>& list) {
    std::vector<std::string> full{"zaft"};
    full.insert(full.end(), list.begin(), list.end());
    initRunSettings(ctx.settings, full);
  }

  test::TempDir dir;
  test::MemoryStream out, err;
  RunContext ctx;
};

TEST_F(WriteHeaderTest, WritesControlHOrTheSlashOName) {
  ctx.settings.outputDir = dir.path();
  args({"rom.z64"});
  writeHeader(ctx);
  std::string expected = std::string(kBanner) + "|*| Struct Count            1\n\\*/\n\n";
  EXPECT_EQ(test::readFileText(dir.file("CONTROL.H")).substr(0, expected.size()), expected);
  EXPECT_EQ(out.text(), "Dumping structs (1 of 1) to CONTROL.H\r\n");

  args({"/o", "bank.h", "rom.z64"});
  writeHeader(ctx);
  EXPECT_EQ(test::readFileText(dir.file("bank.h")), test::readFileText(dir.file("CONTROL.H")));
  EXPECT_EQ(err.text(), "");
}

TEST_F(WriteHeaderTest, CannotCreateReportsAndWritesNothing) {
  ctx.settings.outputDir = dir.file("missing");
  args({"rom.z64"});
  writeHeader(ctx);
  EXPECT_EQ(err.text(), "Unable to write to header file " + dir.file("missing") + "/CONTROL.H\n");
  EXPECT_EQ(out.text(), "");
}

TEST_F(WriteHeaderTest, NeverOverwritesTheRom) {
  const std::vector<uint8_t> romBytes = {0x80, 0x37, 0x12, 0x40, 1, 2, 3, 4};
  ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0700), 0);
  test::writeFile(dir.file("game.z64"), romBytes);
  RomStream rom(romBytes, dir.file("game.z64"));
  ctx.rom = &rom;
  ctx.settings.outputDir = dir.path();
  // "/o" right before the ROM's name, spelled another way.
  args({"/o", "sub/../game.z64"});
  writeHeader(ctx);
  EXPECT_EQ(err.text(), "Refusing to write header file " + dir.path() +
                            "/sub/../game.z64: it is the ROM file\n");
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(test::readFileBytes(dir.file("game.z64")), romBytes);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"game.z64"});
}

// The whole tool, with "/o" taking the ROM's own name as its value.
TEST(HeaderWriterRunTest, SlashOBeforeTheRomNameLeavesTheRomIntact) {
  test::TempDir dir;
  std::vector<uint8_t> romBytes(64, 0);
  romBytes[0] = 0x42;  // a bank file "B1" with no bank, at offset 0
  romBytes[1] = 0x31;
  test::writeFile(dir.file("game.bin"), romBytes);
  test::RunResult r = test::runInProcess({"/c", "0", "/o", "game.bin"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("Refusing to write header file game.bin: it is the ROM file\n"),
            std::string::npos) << r.err;
  EXPECT_EQ(test::readFileBytes(dir.file("game.bin")), romBytes);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"game.bin"});
}

}  // namespace
}  // namespace zaft
