// End-to-end tests: the built zaft binary on generated ROMs. Exit status,
// standard output and error, the header and every WAV file are checked; the
// WAV files are opened with Python's own `wave` module and compared with an
// independent decoder of the wave's stored bytes (tests/e2e/wavcheck.py).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>

#include "support/bank_builder.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using test::BankFileDesign;
using test::RunResult;

constexpr size_t kCtl = 0x1000;
constexpr size_t kTbl = 0x4000;
constexpr size_t kRomSize = 0x10000;

// A book whose predictor 1 is an order-2 resonator (a1 = 1.6, a2 = -0.8):
// rows are the predictor's impulse responses in 11-bit fixed point.
test::BookDesign resonatorBook(int32_t npredictors) {
  test::BookDesign book = test::simpleBook(npredictors);
  const double a1 = 1.6, a2 = -0.8;
  for (int32_t p = 1; p < npredictors; ++p) {
    double row0[8], row1[8];
    double prev2 = 1, prev1 = 0;  // response to the second-to-last sample
    double q2 = 0, q1 = 1;        // response to the last sample
    for (int i = 0; i < 8; ++i) {
      double y = a1 * prev1 + a2 * prev2;
      row0[i] = y;
      prev2 = prev1;
      prev1 = y;
      double z = a1 * q1 + a2 * q2;
      row1[i] = z;
      q2 = q1;
      q1 = z;
    }
    for (int i = 0; i < 8; ++i) {
      book.predictors[static_cast<size_t>(p) * 16 + i] = static_cast<int16_t>(row0[i] * 2048 / (p + 1));
      book.predictors[static_cast<size_t>(p) * 16 + 8 + i] = static_cast<int16_t>(row1[i] * 2048 / (p + 1));
    }
  }
  return book;
}

std::vector<uint8_t> adpcmFrames(int frames, int npredictors, uint32_t seed, bool padByte) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data;
  for (int f = 0; f < frames; ++f) {
    int scale = static_cast<int>(rng() % 13);
    data.push_back(static_cast<uint8_t>(scale << 4 | static_cast<int>(rng() % npredictors)));
    for (int k = 0; k < 8; ++k) data.push_back(static_cast<uint8_t>(rng()));
  }
  if (padByte) data.push_back(0);
  return data;
}

std::vector<uint8_t> rawSamples(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data;
  for (int i = 0; i < count; ++i) {
    int16_t v = static_cast<int16_t>(8000 * std::sin(i * 0.2) + static_cast<int>(rng() % 64));
    data.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    data.push_back(static_cast<uint8_t>(v));
  }
  return data;
}

// Two banks at 22050 and 16000 Hz; a percussion instrument; ADPCM and raw
// waves; a wave table, envelopes and key maps shared between sounds; an
// instrument shared by both banks; a sound with three null pointers.
BankFileDesign demoDesign() {
  BankFileDesign design;
  design.envelopes = {{0, 1000000, 50000, 127, 100}, {10, 20, 30, 90, 80}};
  design.keyMaps = {{0, 127, 0, 127, 60, -5}, {10, 100, 36, 72, 48, 30}};
  design.loops = {{0, 200, -1, true}, {8, 90, 2147483647, false}};
  design.books = {resonatorBook(2), resonatorBook(4)};
  design.waves = {
      {0, 0, adpcmFrames(40, 2, 1, false), 0, 0},   // W0: shared by two sounds
      {1, 0, rawSamples(100, 2), 1, -1},            // W1: raw with a raw loop
      {0, 0, adpcmFrames(25, 4, 3, true), -1, 1},   // W2: len % 9 == 1
      {0, 0, adpcmFrames(12, 4, 4, false), -1, 1},  // W3: percussion
      {1, 0, rawSamples(64, 5), -1, -1},            // W4: in the second bank
  };
  design.sounds = {
      {0, 0, 0, 64, 127, 0},     // S0
      {0, 0, 1, 32, 100, 0},     // S1
      {0, 1, 0, 96, 90, 1},      // S2: W0 again
      {1, 1, 2, 10, 20, 0},      // S3
      {0, 0, 3, 64, 127, 0},     // S4: the drum
      {-1, -1, -1, 0, 0, 0},     // S5: all null
      {1, 0, 4, 64, 64, 0},      // S6
  };
  test::InstrumentDesign i0, i1, perc, i2, i3;
  i0.sounds = {0, 1};
  i1.sounds = {2, 3};
  perc.sounds = {4};
  i2.sounds = {5, 3};
  i3.sounds = {6};
  design.instruments = {i0, i1, perc, i2, i3};
  test::BankDesign b0, b1;
  b0.sampleRate = 22050;
  b0.percussion = 2;
  b0.insts = {0, 1};
  b1.sampleRate = 16000;
  b1.insts = {3, 0, 4};
  design.banks = {b0, b1};
  return design;
}

std::vector<uint8_t> demoRom(test::BuiltBank* builtOut = nullptr) {
  test::BuiltBank built = test::buildBank(demoDesign());
  test::RomBuilder rom(kRomSize, 0xFF);
  rom.put(0, {0x80, 0x37, 0x12, 0x40});
  test::placeBank(rom, built, kCtl, kTbl);
  if (builtOut != nullptr) *builtOut = built;
  return rom.bytes();
}

std::string hex(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = from; i < from + count; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

// The expectations file for wavcheck.py: file name → wave index and rate.
std::string expectations(const test::TempDir& dir, const std::map<std::string, std::pair<int, int>>& files) {
  BankFileDesign design = demoDesign();
  test::BuiltBank built = test::buildBank(design);
  std::ostringstream json;
  json << "[";
  bool first = true;
  for (const auto& [name, info] : files) {
    const test::WaveDesign& w = design.waves[static_cast<size_t>(info.first)];
    json << (first ? "" : ",") << "{\"file\":\"" << dir.file(name) << "\",\"rate\":" << info.second
         << ",\"type\":" << static_cast<int>(w.type) << ",\"data\":\""
         << hex(w.data, 0, w.data.size()) << "\"";
    if (w.type == 0) {
      json << ",\"book\":[";
      const test::BookDesign& book = design.books[static_cast<size_t>(w.book)];
      for (size_t i = 0; i < book.predictors.size(); ++i) json << (i ? "," : "") << book.predictors[i];
      json << "]";
    }
    json << "}";
    first = false;
  }
  json << "]";
  return json.str();
}

const std::map<std::string, std::pair<int, int>> kDemoWavs = {
    {"A000000.WAV", {3, 22050}},    // the percussion's drum, named as instrument 0
    {"A000000_1.WAV", {0, 22050}},  // instrument 0's first sound: the same name
    {"@000001.WAV", {1, 22050}},
    {"A000101.WAV", {2, 22050}},
    {"@100200.WAV", {4, 16000}},
};

void checkWavs(const test::TempDir& dir, const std::map<std::string, std::pair<int, int>>& files,
               const std::string& folder = "") {
  std::map<std::string, std::pair<int, int>> placed;
  for (const auto& [name, info] : files) placed[folder + name] = info;
  test::writeFile(dir.file("expect.json"), {});
  std::string json = expectations(dir, placed);
  test::writeFile(dir.file("expect.json"), std::vector<uint8_t>(json.begin(), json.end()));
  if (!test::haveShell()) return;  // the WAV files' reader is Python's
  RunResult check = test::runShell("python3 " ZAFT_SOURCE_DIR "/tests/e2e/wavcheck.py " +
                                   dir.file("expect.json") + " 2>&1");
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(check.out, "ok " + std::to_string(files.size()) + "\n");
}

std::string progressLines(int structs, const std::string& header) {
  std::string out;
  for (int i = 1; i <= structs; ++i) {
    out += "Dumping structs (" + std::to_string(i) + " of " + std::to_string(structs) + ") to " +
           header + "\r";
  }
  return out + "\n";
}

constexpr int kDemoStructs = 28;
const std::string kWalkOutput =
    "Ripping Bank File\n"
    "Ripping 1/2 instruments (SR: 22050, Original: 22050)\r"
    "Ripping 2/2 instruments (SR: 22050, Original: 22050)\r\n"
    "Ripping 1/3 instruments (SR: 16000, Original: 16000)\r"
    "Ripping 2/3 instruments (SR: 16000, Original: 16000)\r"
    "Ripping 3/3 instruments (SR: 16000, Original: 16000)\r\n";
const std::string kCollision =
    "Warning: A000000.WAV was already written in this run; this wave is written as A000000_1.WAV\n";

class EndToEnd : public ::testing::Test {
 protected:
  RunResult zaft(const std::vector<std::string>& args) { return test::runBinary(args, dir.path()); }
  void saveRom(const std::vector<uint8_t>& bytes, const std::string& name = "rom.z64") {
    test::writeFile(dir.file(name), bytes);
  }
  test::TempDir dir;
};

TEST_F(EndToEnd, RipsEveryWaveAndTheHeader) {
  saveRom(demoRom());
  RunResult r = zaft({"/c", "0x1000", "/t", "0x4000", "rom.z64"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "\nRipping from .ctl offset 0x001000, .tbl offset 0x004000\n" + kCollision);
  EXPECT_EQ(r.out, kWalkOutput + progressLines(kDemoStructs, "CONTROL.H") + "5 .wav files extracted\n");
  std::vector<std::string> expected{"@000001.WAV", "@100200.WAV", "A000000.WAV", "A000000_1.WAV",
                                    "A000101.WAV", "CONTROL.H",   "rom.z64"};
  EXPECT_EQ(dir.list(), expected);
  checkWavs(dir, kDemoWavs);

  std::string header = test::readFileText(dir.file("CONTROL.H"));
  EXPECT_EQ(header.rfind("/*\\\n|*|\n|*| Banks                   2\n"
                         "|*| Instruments             5\n|*| Sounds                  7\n", 0), 0u)
      << header.substr(0, 200);
  EXPECT_NE(header.find("|*| Struct Count           28\n"), std::string::npos);
  EXPECT_NE(header.find("ALBankFile File = { // Offset: 0x001000\n  'B1', // revision\n"), std::string::npos);
  // The shared instrument and wave are declared once and referred to by name.
  // Bank 1 names its first instrument after its own index, then refers to
  // bank 0's instrument 0 (declared once) and to its third instrument.
  EXPECT_NE(header.find("  { // insts\n      Inst00,     Inst00,     Inst02, },\n"), std::string::npos)
      << header;
  size_t shared = header.find("ALSound Sound0100");
  ASSERT_NE(shared, std::string::npos);
  EXPECT_NE(header.find("    Wave0000, // wavetable", shared), std::string::npos);
}

TEST_F(EndToEnd, EveryByteOrderRipsIdentically) {
  const std::vector<uint8_t> z64 = demoRom();
  std::map<std::string, std::vector<uint8_t>> reference;
  std::string referenceOut;
  for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::vector<uint8_t>>>{
           {"rom.z64", z64}, {"rom.v64", test::toV64(z64)}, {"rom.n64", test::toN64(z64)}}) {
    test::TempDir out;
    test::writeFile(out.file(name), bytes);
    RunResult r = test::runBinary({"/c", "0x1000", "/t", "0x4000", name}, out.path());
    EXPECT_EQ(r.status, 0);
    std::map<std::string, std::vector<uint8_t>> files;
    for (const std::string& f : out.list()) {
      if (f != name) files[f] = test::readFileBytes(out.file(f));
    }
    if (reference.empty()) {
      reference = files;
      referenceOut = r.out;
      EXPECT_EQ(files.size(), 6u);
    } else {
      EXPECT_EQ(r.out, referenceOut) << name;
      EXPECT_TRUE(files == reference) << name << " differs from the .z64 rip";
    }
  }
}

TEST_F(EndToEnd, TheScanFindsTheBankWithoutOffsets) {
  // The scan looks for the sample block a little after the bank's
  // instrument list; here the caller gives it, the scan finds the bank.
  saveRom(demoRom());
  RunResult r = zaft({"/q", "/t", "0x4000", "rom.z64"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Found possible .ctl offset: 0x001000\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\nRipping from .ctl offset 0x001000, .tbl offset 0x004000\n"), std::string::npos);
  checkWavs(dir, kDemoWavs);
}

TEST_F(EndToEnd, OptionsShapeTheOutput) {
  saveRom(demoRom());
  // /q: nothing on standard output. /o: the header's name. /f and /n: its text.
  RunResult r = zaft({"/q", "/o", "BANK.H", "/f", "4", "/n", "%c_%t", "/c", "0x1000", "/t", "0x4000", "rom.z64"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  std::string header = test::readFileText(dir.file("BANK.H"));
  EXPECT_FALSE(test::fileExists(dir.file("CONTROL.H")));
  EXPECT_NE(header.find("ALBankFile 0_File = { // Offset: 0x001000\n  'B1', // revision\n     2, // bankCount\n  { // banks\n  1_Bank, 22_Bank, },\n"),
            std::string::npos) << header.substr(0, 400);
  EXPECT_NE(header.find("ALBank 1_Bank = {"), std::string::npos);

  // /a: every WAV of a bank at the bank's rate times the ratio, truncated.
  test::TempDir other;
  test::writeFile(other.file("rom.z64"), demoRom());
  r = test::runBinary({"/a", "1.5", "/c", "0x1000", "/t", "0x4000", "rom.z64"}, other.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Ripping 1/2 instruments (SR: 33075, Original: 22050)\r"), std::string::npos);
  std::map<std::string, std::pair<int, int>> scaled = kDemoWavs;
  for (auto& [name, info] : scaled) info.second = info.second == 22050 ? 33075 : 24000;
  checkWavs(other, scaled);

  // Without /t no WAV file is written.
  test::TempDir none;
  test::writeFile(none.file("rom.z64"), demoRom());
  r = test::runBinary({"/c", "0x1000", "rom.z64"}, none.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(none.list(), (std::vector<std::string>{"CONTROL.H", "rom.z64"}));
  EXPECT_EQ(r.out.find(".wav files extracted"), std::string::npos);
}

TEST_F(EndToEnd, BadInputsEndCleanly) {
  test::BuiltBank built;
  std::vector<uint8_t> good = demoRom(&built);

  {  // A bogus pointer: the first bank pointer's target is negative.
    test::TempDir d;
    std::vector<uint8_t> rom = good;
    rom[kCtl + 4] = 0x80;
    rom[kCtl + 5] = rom[kCtl + 6] = rom[kCtl + 7] = 0;
    test::writeFile(d.file("rom.z64"), rom);
    RunResult r = test::runBinary({"/c", "0x1000", "/t", "0x4000", "rom.z64"}, d.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\nRipping from .ctl offset 0x001000, .tbl offset 0x004000\n"
                     "\nAbnormal termination. Bogus pointer found: Offset 001008 - Ptr 80000000\n");
    EXPECT_FALSE(test::fileExists(d.file("CONTROL.H")));
  }
  {  // A wrong revision: the complaint on standard output, no header, status 0.
    test::TempDir d;
    std::vector<uint8_t> rom = good;
    rom[kCtl] = 0xC1;
    rom[kCtl + 1] = 0xA4;
    test::writeFile(d.file("rom.z64"), rom);
    RunResult r = test::runBinary({"/c", "0x1000", "/t", "0x4000", "rom.z64"}, d.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Unrecognized bank file revision 0xFFFFC1A4. It should be 'B1' (0x4231)\n");
    EXPECT_EQ(d.list(), std::vector<std::string>{"rom.z64"});
  }
  {  // An unknown wave type ends the run; the files written stay valid.
    test::TempDir d;
    std::vector<uint8_t> rom = good;
    rom[kCtl + built.waveAt[2] + 8] = 2;
    test::writeFile(d.file("rom.z64"), rom);
    RunResult r = test::runBinary({"/c", "0x1000", "/t", "0x4000", "rom.z64"}, d.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(r.err.size() - 38), "Unknown wavetable type... Aborting...\n")
        << r.err;
    EXPECT_FALSE(test::fileExists(d.file("CONTROL.H")));
    std::map<std::string, std::pair<int, int>> written(kDemoWavs.begin(), kDemoWavs.end());
    written.erase("A000101.WAV");
    written.erase("@100200.WAV");
    checkWavs(d, written);
    std::vector<uint8_t> aborted = test::readFileBytes(d.file("@000101.WAV"));
    ASSERT_EQ(aborted.size(), 58u);
    EXPECT_EQ(aborted[4], 50);   // RIFF size of an empty data chunk
    EXPECT_EQ(aborted[54], 0);   // data size
  }
  {  // A missing ROM.
    RunResult r = zaft({"/c", "0", "nothere.z64"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Unable to open file nothere.z64");
  }
  {  // A full struct table: an instrument with 4200 distinct sounds.
    test::TempDir d;
    test::RomBuilder rom(0x100);
    rom.ctlBase = 0x100;
    rom.be16(0x100, 0x4231).be16(0x102, 1).ptr(0x104, 0x110);
    rom.be16(0x110, 1).be32(0x114, 22050).be32(0x118, 0).ptr(0x11C, 0x120);
    rom.be16(0x120 + 12, 0).be16(0x120 + 14, 4200);
    const size_t sounds = 0x120 + 16 + 4 * 4200;
    for (size_t k = 0; k < 4200; ++k) rom.ptr(0x130 + 4 * k, sounds + 16 * k);
    rom.resize(sounds + 16 * 4200);
    test::writeFile(d.file("rom.z64"), rom.bytes());
    RunResult r = test::runBinary({"/q", "/c", "0x100", "rom.z64"}, d.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(r.err.size() - 35), "Ran out of struct space (max 4096)\n");
    EXPECT_FALSE(test::fileExists(d.file("CONTROL.H")));
  }
}

}  // namespace
}  // namespace zaft
