// The .inst source and its AIFC files: compiled again by the test support's
// compiler, they give a bank file that walks to the same records and rips
// to the same WAV files.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bank/libultra/walk.h"
#include "support/bank_builder.h"
#include "support/demo_rom.h"
#include "support/inst_compiler.h"
#include "support/inst_reader.h"
#include "support/rom_builder.h"
#include "support/test_util.h"
#include "util/fatal.h"
#include "util/reporter.h"

namespace zaft {
namespace {

// Every field of every record, pointers as table indices; a wave table's
// base (an offset) left out. The ADPCM loops' decoder state, which the walk
// does not keep, is added from the ROM.
struct Fields {
  std::vector<std::string> out;
  std::string prefix;
  template <typename T>
  void number(const char* name, const T& v, FieldStyle) {
    if (std::string(name) != "base") out.push_back(prefix + name + "=" + std::to_string(v));
  }
  void skip(int) {}
  void reference(const char* name, int32_t v, StructKind) {
    out.push_back(prefix + name + "->" + std::to_string(v));
  }
  template <typename C>
  void list(const char* name, const C&, const std::vector<int32_t>& v, StructKind) {
    for (const int32_t x : v) out.push_back(prefix + name + "->" + std::to_string(x));
  }
  void beginUnion(const char* member) { out.push_back(prefix + member); }
  void endUnion() {}
  template <typename C>
  void predictors(const char* name, const C&, const std::vector<int16_t>& v) {
    for (const int16_t x : v) out.push_back(prefix + name + "=" + std::to_string(x));
  }
};

std::vector<std::string> fieldsOf(const RomImage& rom, int32_t ctlOffset) {
  NullReporter quiet;
  const BankFile bank = walkBankFile(rom, ctlOffset, WalkLimits{}, quiet);
  Fields f;
  f.out.push_back(bank.stop);
  for (int32_t k = 1; k < bank.table.size(); ++k) {
    const StructEntry& e = bank.table[k];
    f.prefix = std::to_string(k) + " " + recordTypeName(e.kind) + " ";
    visitRecord(e.data, [&](const auto& r) { visitFields(r, f); });
    if (e.kind == StructKind::AdpcmLoop) {
      for (int s = 0; s < 32; ++s) f.out.push_back(f.prefix + std::to_string(rom.data()[e.fileOffset + 12 + s]));
    }
  }
  return f.out;
}

struct Ripped {
  test::RunResult run;
  std::map<std::string, std::vector<uint8_t>> files;  // by name
};

Ripped rip(const test::TempDir& dir, const std::string& rom, size_t ctl, size_t tbl,
           const std::string& out, bool inst) {
  std::vector<std::string> args = {"/c", formatText("0x%zX", ctl), "/t", formatText("0x%zX", tbl),
                                   "/d", out};
  if (inst) args.insert(args.end(), {"/i", "BANK.inst"});
  args.push_back(rom);
  Ripped r;
  r.run = test::runInProcess(args, dir.path());
  for (const auto& entry : std::filesystem::directory_iterator(dir.file(out))) {
    r.files[entry.path().filename().string()] = test::readFileBytes(entry.path().string());
  }
  return r;
}

// Rips bank file `ctl` of `rom` with /i, compiles the source again, rips the
// compiled bank file and compares; that one, ripped and compiled once more,
// gives the same bytes.
void roundTrip(const std::vector<uint8_t>& rom, size_t ctl, size_t tbl, const std::string& what) {
  SCOPED_TRACE(what);
  test::TempDir dir;
  test::writeFile(dir.file("rom.bin"), rom);
  const Ripped first = rip(dir, "rom.bin", ctl, tbl, "first", true);
  ASSERT_EQ(first.run.status, 0) << first.run.err;
  ASSERT_EQ(first.files.count("BANK.inst"), 1u);
  const std::string text(first.files.at("BANK.inst").begin(), first.files.at("BANK.inst").end());
  const test::InstSource source = test::parseInst(text);
  ASSERT_EQ(source.error, "") << text;
  std::map<std::string, test::AifcFile> aifc;
  for (const auto& [name, bytes] : first.files) {
    if (name.size() < 5 || name.substr(name.size() - 5) != ".aifc") continue;
    aifc[name] = test::readAifc(bytes);
    EXPECT_EQ(aifc[name].error, "") << name;
    EXPECT_EQ(aifc[name].channels, 1);
    EXPECT_EQ(aifc[name].sampleSize, 16);
    if (aifc[name].form == "AIFF" && aifc[name].loop) {
      ASSERT_TRUE(aifc[name].markerLoop) << name;
      EXPECT_EQ(aifc[name].markerLoop->start, aifc[name].loop->start);
      EXPECT_EQ(aifc[name].markerLoop->end, aifc[name].loop->end);
    }
  }
  const test::CompiledBank built = test::compileInst(source, aifc);
  ASSERT_EQ(built.error, "");
  // The compiled blocks at the same places in a ROM of their own.
  const size_t newCtl = 0x1000, newTbl = (newCtl + built.ctl.size() + 15) / 16 * 16;
  test::RomBuilder again(newTbl + built.tbl.size() + 16);
  std::copy(built.ctl.begin(), built.ctl.end(), again.bytes().begin() + newCtl);
  std::copy(built.tbl.begin(), built.tbl.end(), again.bytes().begin() + newTbl);
  again.save(dir.file("again.bin"));
  EXPECT_EQ(fieldsOf(RomImage(std::vector<uint8_t>(rom)), static_cast<int32_t>(ctl)),
            fieldsOf(RomImage(std::vector<uint8_t>(again.bytes())), static_cast<int32_t>(newCtl)));
  const Ripped second = rip(dir, "again.bin", newCtl, newTbl, "second", true);
  ASSERT_EQ(second.run.status, 0) << second.run.err;
  size_t waves = 0;
  for (const auto& [name, bytes] : first.files) {
    if (name.size() < 4 || name.substr(name.size() - 4) != ".WAV") continue;
    ++waves;
    ASSERT_EQ(second.files.count(name), 1u) << name;
    EXPECT_TRUE(second.files.at(name) == bytes) << name;
  }
  EXPECT_EQ(waves, aifc.size());
  // A bank file the compiler made comes back byte for byte.
  const std::vector<uint8_t>& again2 = second.files.at("BANK.inst");
  std::map<std::string, test::AifcFile> aifc2;
  for (const auto& [name, bytes] : second.files) {
    if (aifc.count(name) != 0) aifc2[name] = test::readAifc(bytes);
  }
  const test::CompiledBank rebuilt =
      test::compileInst(test::parseInst(std::string(again2.begin(), again2.end())), aifc2);
  EXPECT_TRUE(rebuilt.ctl == built.ctl);
  EXPECT_TRUE(rebuilt.tbl == built.tbl);
  EXPECT_GT(waves, 0u);
}

// ADPCM frames a book of `predictors` can decode.
std::vector<uint8_t> frames(int count, int predictors, uint32_t seed) {
  std::vector<uint8_t> bytes = test::randomBytes(static_cast<size_t>(count) * 9, seed);
  for (int f = 0; f < count; ++f) {
    uint8_t& header = bytes[static_cast<size_t>(f) * 9];
    header = static_cast<uint8_t>(((header >> 4) % 12) << 4 | (header % predictors));
  }
  return bytes;
}

// Velocity splits, shared records, loops (an ADPCM one with decoder state,
// a raw one with a count), a raw wave, an 8-predictor book, percussion.
test::BankFileDesign supportBank() {
  test::BankFileDesign d;
  d.envelopes = {{1000, 200000, 50000, 127, 90}, {0, 0, 300000, 100, 100}};
  d.keyMaps = {{0, 63, 0, 127, 60, -5}, {64, 127, 0, 127, 62, 7}, {0, 127, 35, 40, 36, 0}};
  d.loops = {{16, 64, -1, true}, {10, 40, 5, false}};
  d.books = {test::simpleBook(8), test::simpleBook(2)};
  d.books[0].predictors[3] = -1234;
  d.waves = {{0, 0, frames(10, 8, 1), 0, 0}, {0, 0, frames(5, 2, 2), -1, 1}};
  test::WaveDesign raw;
  raw.type = 1;
  raw.data = test::randomBytes(100, 3);
  raw.loop = 1;
  d.waves.push_back(raw);
  d.sounds = {{0, 0, 0, 10, 100, 0}, {1, 1, 1, 120, 90, 0}, {0, 2, 2, 64, 127, 0}};
  test::InstrumentDesign strings;
  strings.sounds = {0, 1};
  strings.bendRange = 1200;
  test::InstrumentDesign organ;
  organ.volume = 100;
  organ.pan = 20;
  for (int k = 0; k < 8; ++k) organ.modulation[k] = static_cast<uint8_t>(k + 1);
  organ.sounds = {2, 0};
  test::InstrumentDesign drums;
  drums.sounds = {2};
  d.instruments = {strings, organ, drums};
  d.banks = {{0, 0, 22050, 2, {0, 1}}, {0, 0, 16000, -1, {1}}};
  return d;
}

std::vector<uint8_t> romWith(const test::BankFileDesign& design, size_t ctl, size_t tbl,
                             size_t size) {
  test::RomBuilder rom(size);
  test::placeBank(rom, test::buildBank(design), ctl, tbl);
  return rom.bytes();
}

TEST(InstSource, CompilesBackToTheSameBankFile) {
  const test::DemoRom demo = test::buildDemoRom();
  for (size_t k = 0; k < demo.bankFiles.size(); ++k) {
    roundTrip(demo.bytes, demo.bankFiles[k].ctlOffset, demo.bankFiles[k].tblOffset,
              formatText("demo bank file %zu", k + 1));
  }
  roundTrip(romWith(supportBank(), 0x100, 0x2000, 0x4000), 0x100, 0x2000, "support bank");
}

// What a compiler cannot be told is said, naming the source file: a gap in
// the instrument numbers, a sound without envelope or key map (nothing is
// made up for them), a null sound pointer, and a wave cut by the end of the
// ROM.
TEST(InstSource, WarnsOfWhatItCannotSay) {
  test::BankFileDesign d = supportBank();
  d.banks = {{0, 0, 22050, -1, {0, -1, 1, -1}}};
  d.sounds[1].envelope = -1;
  d.sounds[1].keyMap = -1;
  d.instruments[0].sounds = {0, -1, 1};
  std::vector<uint8_t> rom = romWith(d, 0x100, 0x2000, 0x4000);
  const uint32_t rawBase = test::buildBank(d).waveBase[2];
  rom.resize(0x2000 + rawBase + 30);
  test::TempDir dir;
  test::writeFile(dir.file("rom.bin"), rom);
  const Ripped r = rip(dir, "rom.bin", 0x100, 0x2000, "out", true);
  // The source's and the AIFC files' warnings, in the order they come.
  std::string warnings;
  for (size_t at = 0; at < r.run.err.size();) {
    const size_t end = r.run.err.find('\n', at) + 1;
    const std::string line = r.run.err.substr(at, end - at);
    if (line.rfind("Warning: BANK.inst", 0) == 0 || line.find(".aifc") != std::string::npos) {
      warnings += line;
    }
    at = end;
  }
  EXPECT_EQ(warnings,
            "Warning: out/@000200.aifc holds 30 of the 100 bytes of its wave: the rest lies past "
            "the end of the ROM\n"
            "Warning: BANK.inst: instrument Inst00 names no sound at 1 of its 3; it is left out\n"
            "Warning: BANK.inst: sound Sound0002 has no key map; it is written without one\n"
            "Warning: BANK.inst: sound Sound0002 has no envelope; it is written without one\n"
            "Warning: BANK.inst: bank Bank has 2 empty instrument numbers among its 4; it is "
            "written with the numbers that exist, and compiling it needs an instrument compiler "
            "that takes gaps\n");
  const std::string text(r.files.at("BANK.inst").begin(), r.files.at("BANK.inst").end());
  EXPECT_NE(text.find("    instrument [2] = "), std::string::npos) << text;
  EXPECT_NE(text.find("    detune = 251;  // -5\n"), std::string::npos) << text;
  EXPECT_EQ(test::readAifc(r.files.at("@000200.aifc")).sound.size(), 30u);
}

}  // namespace
}  // namespace zaft
