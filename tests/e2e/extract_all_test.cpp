// End-to-end tests of /x (every bank file of a ROM, each into a folder of its
// own) and /d (the output folder).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>

#include "support/bank_builder.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using test::RunResult;

test::BankFileDesign smallDesign(int32_t rate, int waves) {
  test::BankFileDesign design;
  design.envelopes = {{0, 0, 100, 127, 100}};
  design.keyMaps = {{0, 127, 0, 127, 60, 0}};
  design.books = {test::simpleBook(2)};
  test::InstrumentDesign inst;
  for (int w = 0; w < waves; ++w) {
    test::WaveDesign wave;
    wave.type = static_cast<uint8_t>(w % 2);
    // The first wave is long enough for the scan's 16-frame test.
    const int bytes = wave.type == 0 ? 9 * (20 + w) : 2 * (30 + w);
    for (int i = 0; i < bytes; ++i) wave.data.push_back(static_cast<uint8_t>(i * 37 + w));
    if (wave.type == 0) {
      for (size_t f = 0; f < wave.data.size(); f += 9) wave.data[f] &= 0xC1;
      wave.book = 0;
    }
    design.waves.push_back(wave);
    design.sounds.push_back({0, 0, w, 64, 127, 0});
    inst.sounds.push_back(w);
  }
  design.instruments = {inst};
  test::BankDesign bank;
  bank.sampleRate = rate;
  bank.insts = {0};
  design.banks = {bank};
  return design;
}

struct Layout {
  std::vector<uint8_t> rom;
  std::vector<size_t> ctl;  // offsets of the bank files
};

// Three bank files found by the scan, each followed by its sample block;
// the third has a bogus pointer below its first bank.
Layout threeBankRom() {
  test::RomBuilder rom(0x40000, 0xFF);
  rom.put(0, {0x80, 0x37, 0x12, 0x40});
  Layout layout;
  const size_t at[] = {0x10000, 0x18000, 0x20000};
  const int32_t rates[] = {22050, 16000, 32000};
  for (int b = 0; b < 3; ++b) {
    test::BuiltBank built = test::buildBank(smallDesign(rates[b], 3 + b));
    size_t tbl = at[b] + ((built.ctl.size() + 15) / 16) * 16;
    test::placeBank(rom, built, at[b], tbl);
    if (b == 2) rom.be32(at[b] + built.instrumentAt[0] + 16, 0x80000000);
    layout.ctl.push_back(at[b]);
  }
  layout.rom = rom.bytes();
  return layout;
}

std::map<std::string, std::vector<uint8_t>> filesIn(const std::string& folder) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files[entry.path().filename().string()] = test::readFileBytes(entry.path().string());
  }
  return files;
}

TEST(ExtractAll, EveryBankFileIntoItsOwnFolder) {
  test::TempDir dir;
  Layout layout = threeBankRom();
  test::writeFile(dir.file("rom.z64"), layout.rom);
  RunResult r = test::runBinary({"/q", "/x", "/d", "out", "rom.z64"}, dir.path());
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "");
  for (size_t c : layout.ctl) {
    char folder[32];
    std::snprintf(folder, sizeof folder, "out/CTL_%06zX", c);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file(folder))) << folder;
  }
  EXPECT_NE(r.err.find("\nAbnormal termination. Bogus pointer found: Offset 020"), std::string::npos);

  // One summary line per bank file and a total.
  std::regex line(R"(  CTL_([0-9A-F]{6})  \.ctl 0x[0-9A-F]{6}  \.tbl 0x([0-9A-F]{6})  (\d+) records  (\d+) \.wav files  (.*)\n)");
  std::vector<std::smatch> rows;
  for (auto it = std::sregex_iterator(r.err.begin(), r.err.end(), line); it != std::sregex_iterator(); ++it) {
    rows.push_back(*it);
  }
  ASSERT_EQ(rows.size(), 3u) << r.err;
  EXPECT_EQ(rows[0][5], "ok");
  EXPECT_EQ(rows[0][4], "3");
  EXPECT_EQ(rows[1][5], "ok");
  EXPECT_EQ(rows[1][4], "4");
  EXPECT_EQ(rows[2][5].str().rfind("failed: Abnormal termination. Bogus pointer found", 0), 0u);
  EXPECT_NE(r.err.find("3 bank files: 2 ok, 1 failed; "), std::string::npos) << r.err;

  // Each good bank file's folder equals a single run with /c and /t.
  for (int b = 0; b < 2; ++b) {
    test::TempDir single;
    test::writeFile(single.file("rom.z64"), layout.rom);
    RunResult s = test::runBinary({"/q", "/c", "0x" + rows[b][1].str(), "/t", "0x" + rows[b][2].str(),
                                   "rom.z64"}, single.path());
    EXPECT_EQ(s.status, 0);
    auto expected = filesIn(single.path());
    expected.erase("rom.z64");
    EXPECT_TRUE(filesIn(dir.file("out/CTL_" + rows[b][1].str())) == expected) << "bank " << b;
  }
  // The failed bank file's folder holds what was written, every WAV valid.
  for (const auto& [name, bytes] : filesIn(dir.file("out/CTL_020000"))) {
    ASSERT_GE(bytes.size(), 58u) << name;
    EXPECT_EQ(bytes[4] | bytes[5] << 8 | bytes[6] << 16 | bytes[7] << 24, static_cast<int>(bytes.size()) - 8);
  }
}

// A wrong revision is no failure, as in a single run: status 0, and the
// summary says what the bank file was.
TEST(ExtractAll, WithCOnlyThatBankAndAWrongRevisionIsNoFailure) {
  test::TempDir dir;
  Layout layout = threeBankRom();
  layout.rom[0x18000] = 'C';
  test::writeFile(dir.file("rom.z64"), layout.rom);
  RunResult r = test::runBinary({"/q", "/x", "/c", "0x18000", "/d", "deep/er/out", "rom.z64"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Unrecognized bank file revision 0x4331. It should be 'B1' (0x4231)\n");
  EXPECT_NE(r.err.find("  CTL_018000  .ctl 0x018000  no .tbl (header only)  0 records  0 .wav files  "
                       "unrecognized bank file revision\n"
                       "1 bank files: 0 ok, 0 failed, 1 unrecognized; 0 .wav files in all\n"),
            std::string::npos) << r.err;
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("deep/er/out/CTL_018000")));

  r = test::runBinary({"/q", "/x", "/c", "0x10000", "/t", "0x10100", "rom.z64"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("1 bank files: 1 ok, 0 failed; 3 .wav files in all\n"), std::string::npos) << r.err;
  EXPECT_TRUE(test::fileExists(dir.file("CTL_010000/CONTROL.H")));
}

// Shapes of the SDK's own banks: a General MIDI bank of all 128 programs,
// and a one-wave bank whose few frames fit elsewhere in the ROM as well.
TEST(ExtractAll, AFullGeneralMidiBankAndAGuessedSampleBlock) {
  test::TempDir dir;
  test::BankFileDesign gm = smallDesign(22050, 1);
  gm.banks[0].insts.assign(128, 0);
  test::RomBuilder rom(0x40000, 0xFF);
  const test::BuiltBank gmBank = test::buildBank(gm);
  test::placeBank(rom, gmBank, 0x10000, 0x10000 + (gmBank.ctl.size() + 15) / 16 * 16);
  // The small bank's block lies past where the scan's guess looks, and its
  // frames are copied, as another bank's could be, far before it.
  const test::BuiltBank small = test::buildBank(smallDesign(16000, 1));
  test::placeBank(rom, small, 0x20000, 0x20800);
  rom.put(0x8000, small.tbl);
  test::writeFile(dir.file("rom.z64"), rom.bytes());
  RunResult r = test::runBinary({"/q", "/x", "rom.z64"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  // Any run of plausible frames fits (the copy, and bytes of the first
  // bank's control block): the nearest is taken, and the user told.
  EXPECT_TRUE(std::regex_search(
      r.err, std::regex(R"(\nWarning: (\d+) offsets fit the bank file at 0x020000 equally well as )"
                        R"(its sample block \(0x008000, 0x0[^)]*\); took 0x020800, the nearest to )"
                        R"(its control block: check its samples\n)")))
      << r.err;
  EXPECT_TRUE(std::regex_search(
      r.err, std::regex(R"(\n  CTL_010000  \.ctl 0x010000  \.tbl 0x0102C0  8 records  1 \.wav files  ok\n)"
                        R"(  CTL_020000  \.ctl 0x020000  \.tbl 0x020800  8 records  1 \.wav files  )"
                        R"(ok \(sample block guessed among \d+\)\n2 bank files: 2 ok, 0 failed; )")))
      << r.err;
}

TEST(OutputFolder, HoldsEveryFileAndPlacesTheHeaderName) {
  test::TempDir dir;
  Layout layout = threeBankRom();
  test::writeFile(dir.file("rom.z64"), layout.rom);
  const std::vector<std::string> bank{"/q", "/c", "0x10000", "/t", "0x10100"};
  // A nested missing folder is created; /o is relative to it.
  std::vector<std::string> args = bank;
  args.insert(args.end(), {"/d", "a/b/c", "/o", "sub.h", "rom.z64"});
  RunResult r = test::runBinary(args, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(test::fileExists(dir.file("a/b/c/sub.h")));
  EXPECT_EQ(filesIn(dir.file("a/b/c")).size(), 4u);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"rom.z64"});
  // An absolute output folder is taken; an /o value that begins with "/" is
  // not a value, so the header keeps its default name there.
  args = bank;
  args.insert(args.end(), {"/d", dir.file("abs"), "/o", test::rooted(dir.file("abs.h")), "rom.z64"});
  r = test::runBinary(args, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(test::fileExists(dir.file("abs/CONTROL.H")));
  EXPECT_FALSE(test::fileExists(dir.file("abs.h")));
  // "/d" followed by what looks like an option has no value.
  args = bank;
  args.insert(args.end(), {"/d", "/x", "rom.z64"});
  r = test::runBinary(args, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(test::fileExists(dir.file("CTL_010000/CONTROL.H")));
}

}  // namespace
}  // namespace zaft
