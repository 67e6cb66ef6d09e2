// /l: the "smpl" chunk read back by independent readers: libsndfile's
// sndfile-info for the loop and root-key fields, Python's wave module and
// sox for the file as a whole.
#include <gtest/gtest.h>

#include <regex>

#include "support/bank_builder.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using test::RunResult;

bool haveCommand(const std::string& name) {
  return test::runShell("command -v " + name + " >/dev/null 2>&1").status == 0;
}

std::vector<uint8_t> bytesOf(int n, uint8_t seed, bool adpcm) {
  std::vector<uint8_t> data;
  for (int i = 0; i < n; ++i) {
    uint8_t b = static_cast<uint8_t>(i * 29 + seed);
    if (adpcm && i % 9 == 0) b &= 0x51;  // scale <= 5, predictor 0 or 1
    data.push_back(b);
  }
  return data;
}

// Four waves: ADPCM with an endless loop (detune -50), raw with a counted
// loop (detune +30), ADPCM without loop (detune 0), raw without key map
// whose loop reaches past its samples.
std::vector<uint8_t> loopRom() {
  test::BankFileDesign design;
  design.envelopes = {{}};
  design.keyMaps = {{0, 127, 0, 127, 60, -50}, {0, 127, 0, 127, 72, 30}, {0, 127, 0, 127, 48, 0}};
  design.loops = {{16, 100, -1, true}, {8, 50, 3, false}, {10, 1000, 2147483647, false}};
  design.books = {test::simpleBook(2)};
  design.waves = {{0, 0, bytesOf(9 * 20, 1, true), 0, 0},
                {1, 0, bytesOf(128, 2, false), 1, -1},
                {0, 0, bytesOf(9 * 4, 3, true), -1, 0},
                {1, 0, bytesOf(80, 4, false), 2, -1}};
  design.sounds = {{0, 0, 0, 64, 127, 0}, {0, 1, 1, 64, 127, 0}, {0, 2, 2, 64, 127, 0}, {0, -1, 3, 64, 127, 0}};
  test::InstrumentDesign inst;
  inst.sounds = {0, 1, 2, 3};
  design.instruments = {inst};
  test::BankDesign bank;
  bank.sampleRate = 16000;
  bank.insts = {0};
  design.banks = {bank};
  test::RomBuilder rom(0x3000);
  test::placeBank(rom, test::buildBank(design), 0x1000, 0x2000);
  return rom.bytes();
}

struct SamplerFacts {
  std::string note, fraction, period, loops, start, end, count;
};

SamplerFacts readWithLibsndfile(const std::string& path) {
  std::string info = test::runShell("sndfile-info '" + path + "' 2>&1").out;
  SamplerFacts facts;
  std::smatch m;
  if (std::regex_search(info, m, std::regex(R"(Midi Note\s*:\s*(\d+))"))) facts.note = m[1];
  if (std::regex_search(info, m, std::regex(R"(Pitch Fract\.\s*:\s*([0-9.]+))"))) facts.fraction = m[1];
  if (std::regex_search(info, m, std::regex(R"(Period\s*:\s*(\d+) nsec)"))) facts.period = m[1];
  if (std::regex_search(info, m, std::regex(R"(Loop Count\s*:\s*(\d+))"))) facts.loops = m[1];
  if (std::regex_search(info, m, std::regex(R"(Start :\s*(\d+)\s+End :\s*(\d+).*Count :\s*(\d+))"))) {
    facts.start = m[1];
    facts.end = m[2];
    facts.count = m[3];
  }
  return facts;
}

TEST(SamplerChunk, LoopAndRootKeyReadBackByLibsndfile) {
  if (!haveCommand("sndfile-info")) GTEST_SKIP() << "sndfile-info (sndfile-programs) is not installed";
  test::TempDir dir;
  test::writeFile(dir.file("rom.z64"), loopRom());
  RunResult r = test::runBinary({"/q", "/l", "/c", "0x1000", "/t", "0x2000", "rom.z64"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "\nRipping from .ctl offset 0x001000, .tbl offset 0x002000\n"
            "Warning: @000003.WAV: loop 10..999 reaches past its 40 samples; clipped to 10..39\n");

  SamplerFacts f = readWithLibsndfile(dir.file("A000000.WAV"));
  EXPECT_EQ(f.note, "60");  // keyBase 60, detune -50: the sample sounds 60.50
  // sndfile-info prints 0x80000000 divided by the fraction field.
  EXPECT_EQ(f.fraction, "1.000000");  // the field is 0x80000000: half a semitone
  EXPECT_EQ(f.period, "62500");
  EXPECT_EQ(f.loops, "1");
  EXPECT_EQ(f.start, "16");
  EXPECT_EQ(f.end, "99");
  EXPECT_EQ(f.count, "0");  // endless

  f = readWithLibsndfile(dir.file("@000001.WAV"));
  // keyBase 72, detune +30: the console plays it at its own rate for key
  // 71.70, so that is the sample's pitch.
  EXPECT_EQ(f.note, "71");
  EXPECT_EQ(f.fraction, "0.714286");  // the field is 3006477107: 0.70 of a semitone
  std::vector<uint8_t> bytes = test::readFileBytes(dir.file("@000001.WAV"));
  const size_t smpl = bytes.size() - 68;  // one loop: 8 + 36 + 24 bytes
  ASSERT_EQ(std::string(bytes.begin() + static_cast<long>(smpl), bytes.begin() + static_cast<long>(smpl) + 4), "smpl");
  EXPECT_EQ(bytes[smpl + 24] | bytes[smpl + 25] << 8 | bytes[smpl + 26] << 16 | static_cast<uint32_t>(bytes[smpl + 27]) << 24,
            3006477107u);
  EXPECT_EQ(f.start, "8");
  EXPECT_EQ(f.end, "49");
  EXPECT_EQ(f.count, "3");

  f = readWithLibsndfile(dir.file("A000002.WAV"));
  EXPECT_EQ(f.note, "48");
  EXPECT_EQ(f.fraction, "0");
  EXPECT_EQ(f.loops, "0");

  f = readWithLibsndfile(dir.file("@000003.WAV"));
  EXPECT_EQ(f.note, "60");  // no key map
  EXPECT_EQ(f.start, "10");
  EXPECT_EQ(f.end, "39");
  EXPECT_EQ(f.count, "0");
}

TEST(SamplerChunk, OtherReadersStillReadTheFilesAndWithoutLNothingChanges) {
  test::TempDir plain, looped;
  for (const test::TempDir* d : {&plain, &looped}) test::writeFile(d->file("rom.z64"), loopRom());
  ASSERT_EQ(test::runBinary({"/q", "/c", "0x1000", "/t", "0x2000", "rom.z64"}, plain.path()).status, 0);
  ASSERT_EQ(test::runBinary({"/q", "/l", "/c", "0x1000", "/t", "0x2000", "rom.z64"}, looped.path()).status, 0);
  for (const char* name : {"A000000.WAV", "@000001.WAV", "A000002.WAV", "@000003.WAV"}) {
    std::vector<uint8_t> a = test::readFileBytes(plain.file(name));
    std::vector<uint8_t> b = test::readFileBytes(looped.file(name));
    // Without /l: the 58-byte header and the data, nothing after it.
    const uint32_t data = a[54] | a[55] << 8 | a[56] << 16 | a[57] << 24;
    EXPECT_EQ(a.size(), 58u + data) << name;
    // With /l: the same bytes but the RIFF size, then the chunk.
    ASSERT_GT(b.size(), a.size()) << name;
    EXPECT_TRUE(std::equal(a.begin() + 8, a.end(), b.begin() + 8)) << name;
    EXPECT_EQ(std::string(b.begin() + static_cast<long>(a.size()), b.begin() + static_cast<long>(a.size()) + 4), "smpl");
    const uint32_t riff = b[4] | b[5] << 8 | b[6] << 16 | b[7] << 24;
    EXPECT_EQ(riff, b.size() - 8) << name;

    if (!test::haveShell()) continue;  // the other readers are Linux programs
    std::string py = "python3 -c \"import wave; w = wave.open('" + looped.file(name) +
                     "'); print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes())\"";
    RunResult r = test::runShell(py);
    EXPECT_EQ(r.out, "1 2 16000 " + std::to_string(data / 2) + "\n") << name;
    if (haveCommand("sox")) {
      r = test::runShell("sox '" + looped.file(name) + "' -n stat 2>&1");
      EXPECT_EQ(r.status, 0) << name << r.out;
      EXPECT_NE(r.out.find("Samples read:"), std::string::npos) << r.out;
    }
  }
}

}  // namespace
}  // namespace zaft
