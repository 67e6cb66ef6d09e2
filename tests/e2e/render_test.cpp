// End to end: /r renders every sequence of a sequence bank as the console
// plays it, beside its MIDI file; the same bytes on every run and for every
// number of threads; stems per channel; settings it does not take refused.
#include <gtest/gtest.h>

#include "support/demo_rom.h"
#include "support/rom_builder.h"
#include "support/test_util.h"
#include "util/fatal.h"

namespace zaft {
namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

TEST(Render, EverySequenceBesideItsMidiFile) {
  const test::DemoRom demo = test::buildDemoRom();
  test::TempDir dir;
  test::writeFile(dir.file("demo.z64"), demo.bytes);
  const std::string seq = formatText("SEQ_%06X/", static_cast<unsigned>(demo.sequenceBankAt));
  const test::RunResult a = test::runInProcess({"/q", "/m", "/r", "default", "/p", "1", "/d", "a", "demo.z64"}, dir.path());
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_NE(a.err.find(formatText("Rendering with bank 0 of the bank file at 0x%06X (.tbl 0x%06X) at 22050 Hz\n",
                                  static_cast<unsigned>(demo.bankFiles[0].ctlOffset),
                                  static_cast<unsigned>(demo.bankFiles[0].tblOffset))),
            std::string::npos)
      << a.err;
  EXPECT_NE(a.err.find("3 .wav files rendered\n"), std::string::npos);
  const test::RunResult b = test::runInProcess(
      {"/q", "/m", "/r", "fx=echo,stems=1,loops=1", "/p", "4", "/d", "b", "demo.z64"}, dir.path());
  ASSERT_EQ(b.status, 0) << b.err;
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    const std::vector<uint8_t> wav = test::readFileBytes(dir.file("a/" + seq + formatText("%03d.wav", k)));
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(le32(wav, 24), 22050u);         // the bank's rate
    EXPECT_EQ(wav[22], 2);                    // stereo
    EXPECT_EQ(le32(wav, 40), wav.size() - 44);
    // The same run again gives the same bytes.
    const test::RunResult again = test::runInProcess(
        {"/q", "/m", "/r", "default", "/p", "3", "/d", "c", "demo.z64"}, dir.path());
    EXPECT_EQ(test::readFileBytes(dir.file("c/" + seq + formatText("%03d.wav", k))), wav);
    // One pass of the endless loop (the first piece's) is a shorter render;
    // the effect bus is silent while no controller 91 sends to it.
    EXPECT_EQ(test::readFileBytes(dir.file("b/" + seq + formatText("%03d.wav", k))) == wav, k != 0);
  }
  EXPECT_TRUE(test::fileExists(dir.file("b/" + seq + "000_ch01.wav")));
  EXPECT_TRUE(test::fileExists(dir.file("b/" + seq + "000_ch10.wav")));
  EXPECT_FALSE(test::fileExists(dir.file("b/" + seq + "000_ch05.wav")));
}

TEST(Render, SettingsItDoesNotTakeAreRefused) {
  const struct {
    const char* value;
    const char* message;
  } cases[] = {
      {"fx=hall", "Invalid /r setting \"fx=hall\": one of none, smallroom, bigroom, chorus, flange, echo is wanted\n"},
      {"rate=44100,voices=0", "Invalid /r setting \"voices=0\": a whole number from 1 to 64 is wanted\n"},
      {"bank=0x12:200", "Invalid /r setting \"bank=0x12:200\": a whole number from 0 to 127 is wanted\n"},
      {"loop=2", "Invalid /r setting \"loop=2\": unknown key (bank, rate, fx, voices, loops, seconds, stems)\n"},
      {"seconds=-1", "Invalid /r setting \"seconds=-1\": seconds from above 0 to 86400 are wanted\n"},
      {"rate=12k", "Invalid /r setting \"rate=12k\": not a number\n"},
  };
  test::TempDir dir;
  test::writeFile(dir.file("rom.z64"), std::vector<uint8_t>(4096, 0));
  for (const auto& c : cases) {
    const test::RunResult r = test::runInProcess({"/m", "/r", c.value, "rom.z64"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message) << c.value;
  }
}

}  // namespace
}  // namespace zaft
