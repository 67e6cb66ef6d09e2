// The soundfont through a real synthesizer: fluidsynth renders a note of a
// looped instrument with a known detune. Its fundamental lies within 5
// cents of the console's pitch, the note sounds on past the sample's end
// (the loop works), and fluidsynth has nothing to say about the file.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "support/bank_builder.h"
#include "support/demo_rom.h"
#include "support/sf2_reader.h"
#include "support/rom_builder.h"
#include "support/test_util.h"
#include "support/vadpcm_encoder.h"

namespace zaft {
namespace {

constexpr int kRate = 22050;
constexpr int kPeriod = 50;  // 441 Hz at 22050 Hz: whole cycles loop seamlessly
constexpr int kKeyBase = 60;
constexpr int kDetune = 30;
constexpr int kKey = 69;
constexpr int kRenderRate = 44100;

// One bank of two instruments: a sine of 0.3 s, looped over its last 0.1 s
// (whole cycles), through a key map with keyBase 60 and detune +30, an
// envelope that holds the level until the note ends; and one without sounds.
std::vector<uint8_t> sineRom() {
  std::vector<int16_t> pcm(static_cast<size_t>(kRate * 3 / 10));
  for (size_t i = 0; i < pcm.size(); ++i) {
    pcm[i] = static_cast<int16_t>(std::lround(20000 * std::sin(2 * std::numbers::pi * static_cast<double>(i) / kPeriod)));
  }
  test::BankFileDesign design;
  design.books = {test::deriveBook(pcm, 2)};
  const test::AdpcmEncoding encoded = test::encodeAdpcm(pcm, design.books[0]);
  const int32_t loopEnd = static_cast<int32_t>(pcm.size() / kPeriod * kPeriod);
  design.loops = {{loopEnd - 40 * kPeriod, loopEnd, -1, true}};
  design.waves = {{0, 0, encoded.frames, 0, 0}};
  design.envelopes = {{1000, 1000, 20000, 127, 127}};
  design.keyMaps = {{0, 127, 0, 127, kKeyBase, kDetune}};
  design.sounds = {{0, 0, 0, 64, 127, 0}};
  test::InstrumentDesign inst;
  inst.sounds = {0};
  design.instruments = {inst, test::InstrumentDesign{}};
  design.banks = {test::BankDesign{}};
  design.banks[0].sampleRate = kRate;
  design.banks[0].insts = {0, 1};
  test::RomBuilder rom(0x20000);
  test::placeBank(rom, test::buildBank(design), 0x1000, 0x4000);
  return rom.bytes();
}

void be32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

// A format-0 MIDI file: `program` on channel 0, then one note of `ticks`
// at 480 ticks per quarter note (120 bpm: 1 s is 960 ticks).
std::vector<uint8_t> oneNote(int key, int ticks, uint8_t program = 0) {
  const std::vector<uint8_t> events = {
      0x00, 0xC0, program,                   // program change
      0x00, 0x90, static_cast<uint8_t>(key), 100,  // note on
      static_cast<uint8_t>(0x80 | (ticks >> 7)), static_cast<uint8_t>(ticks & 0x7F), 0x80,
      static_cast<uint8_t>(key), 64,  // note off after `ticks`
      0x00, 0xFF, 0x2F, 0x00};
  std::vector<uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0,
                              'M', 'T', 'r', 'k'};
  be32(out, static_cast<uint32_t>(events.size()));
  out.insert(out.end(), events.begin(), events.end());
  return out;
}

// The left channel of a 16-bit stereo WAV file.
std::vector<double> leftChannel(const std::vector<uint8_t>& wav) {
  std::vector<double> left;
  for (size_t at = 12; at + 8 <= wav.size();) {
    const uint32_t size = wav[at + 4] | wav[at + 5] << 8 | wav[at + 6] << 16 |
                          static_cast<uint32_t>(wav[at + 7]) << 24;
    if (std::string(wav.begin() + static_cast<long>(at), wav.begin() + static_cast<long>(at) + 4) == "data") {
      for (size_t i = at + 8; i + 4 <= std::min<size_t>(wav.size(), at + 8 + size); i += 4) {
        left.push_back(static_cast<int16_t>(wav[i] | wav[i + 1] << 8));
      }
      break;
    }
    at += 8 + size + size % 2;
  }
  return left;
}

// The frequency of rising zero crossings between two times.
double frequency(const std::vector<double>& s, double from, double to) {
  double first = -1, last = -1;
  int crossings = 0;
  for (size_t i = static_cast<size_t>(from * kRenderRate); i + 1 < s.size() && i < to * kRenderRate; ++i) {
    if (s[i] < 0 && s[i + 1] >= 0) {
      const double t = static_cast<double>(i) + s[i] / (s[i] - s[i + 1]);
      if (first < 0) first = t;
      last = t;
      ++crossings;
    }
  }
  return crossings > 1 ? (crossings - 1) * kRenderRate / (last - first) : 0;
}

double rms(const std::vector<double>& s, double from, double to) {
  double sum = 0;
  size_t n = 0;
  for (size_t i = static_cast<size_t>(from * kRenderRate); i < s.size() && i < to * kRenderRate; ++i, ++n) {
    sum += s[i] * s[i];
  }
  return n == 0 ? 0 : std::sqrt(sum / static_cast<double>(n));
}

// fluidsynth renders `midi` with the soundfont of sineRom(); it has nothing
// to say about the file. It looks for a drum kit (bank 128, program 0) for
// channel 10 at start; this bank has none, and that line is about the MIDI
// channels, not the file. The left channel of what it rendered.
std::vector<double> render(const std::vector<uint8_t>& midi) {
  test::TempDir dir;
  test::writeFile(dir.file("rom.z64"), sineRom());
  const test::RunResult r =
      test::runBinary({"/q", "/c", "0x1000", "/t", "0x4000", "/s", "bank.sf2", "rom.z64"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  test::writeFile(dir.file("note.mid"), midi);
  const test::RunResult synth = test::runShell(
      "cd " + dir.path() + " && fluidsynth -ni -F out.wav -r 44100 bank.sf2 note.mid 2>&1");
  EXPECT_EQ(synth.status, 0) << synth.out;
  std::istringstream lines(synth.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("No preset found on channel 9") != std::string::npos) continue;
    for (const char* word : {"warning", "error", "Warning", "Error", "invalid", "substituted"}) {
      EXPECT_EQ(line.find(word), std::string::npos) << line;
    }
  }
  return leftChannel(test::readFileBytes(dir.file("out.wav")));
}

bool haveFluidsynth() { return test::runShell("command -v fluidsynth >/dev/null 2>&1").status == 0; }

TEST(SoundFontRender, FluidsynthPlaysTheConsolesPitchAndLoops) {
  if (!haveFluidsynth()) GTEST_SKIP() << "fluidsynth is not installed";
  const std::vector<double> left = render(oneNote(kKey, 960));
  ASSERT_GT(left.size(), static_cast<size_t>(kRenderRate));
  // The console: key 69 plays the sample at 2^(((69 - 60) * 100 + 30) / 1200).
  const double console = kRate / double{kPeriod} * std::exp2(((kKey - kKeyBase) * 100.0 + kDetune) / 1200.0);
  const double rendered = frequency(left, 0.05, 0.9);
  EXPECT_NEAR(1200 * std::log2(rendered / console), 0.0, 5.0) << rendered << " Hz against " << console;
  // The sample lasts 0.3 s at its rate, 0.16 s at this pitch: the note holds
  // its level long after.
  EXPECT_GT(rms(left, 0.7, 0.9), 0.5 * rms(left, 0.05, 0.15));
}

// An instrument without sounds is silent, as on the console: its preset is
// there, so fluidsynth puts no other instrument in its place.
TEST(SoundFontRender, AnInstrumentWithoutSoundsIsSilent) {
  if (!haveFluidsynth()) GTEST_SKIP() << "fluidsynth is not installed";
  const std::vector<double> left = render(oneNote(kKey, 960, 1));
  ASSERT_GT(left.size(), static_cast<size_t>(kRenderRate));
  EXPECT_LT(rms(left, 0, 1), 2.0);  // fluidsynth's dither at most
}

// More instrument generators than a SoundFont 2 file can index (128
// instruments sharing 128 one-key sounds: 16,384 zones): refused with the
// reason and the file named, no file, status 1.
TEST(SoundFontRun, RefusesAFileTheFormatCannotIndex) {
  test::BankFileDesign d;
  d.waves = {{1, 0, std::vector<uint8_t>(128, 1), -1, -1}};
  test::InstrumentDesign inst;
  for (int k = 0; k < 128; ++k) {
    d.keyMaps.push_back({0, 127, static_cast<uint8_t>(k), static_cast<uint8_t>(k), 60, 0});
    d.sounds.push_back({-1, k, 0, 64, 127, 0});
    inst.sounds.push_back(k);
  }
  d.instruments.assign(128, inst);
  d.banks = {test::BankDesign{}, test::BankDesign{}};
  for (int i = 0; i < 128; ++i) d.banks[static_cast<size_t>(i / 64)].insts.push_back(i);
  test::RomBuilder rom(0x40000);
  test::placeBank(rom, test::buildBank(d), 0x1000, 0x30000);
  test::TempDir dir;
  test::writeFile(dir.file("rom.z64"), rom.bytes());
  const test::RunResult r =
      test::runBinary({"/q", "/c", "0x1000", "/t", "0x30000", "/s", "bank.sf2", "rom.z64"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Soundfont file bank.sf2 not written: it would hold 180224 instrument "
                       "generators, and a SoundFont 2 file holds at most 65535\n"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(test::fileExists(dir.file("bank.sf2")));
}

// Without a sample block there is nothing to play: no soundfont, and the
// run says so; with /x every bank file gets its own.
TEST(SoundFontRun, OnePerBankFileAndNoneWithoutSamples) {
  test::TempDir dir;
  test::writeFile(dir.file("demo.z64"), test::makeDemoRom());
  test::RunResult r = test::runBinary({"/q", "/c", "0x0E4A70", "/s", "bank.sf2", "demo.z64"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("No soundfont for the bank file at 0x0E4A70: no .tbl offset given or found\n"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(test::fileExists(dir.file("bank.sf2")));
  r = test::runBinary({"/q", "/x", "/d", "all", "/s", "bank.sf2", "demo.z64"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* folder : {"all/CTL_0E4A70/", "all/CTL_2A61C0/"}) {
    std::string error;
    EXPECT_TRUE(test::readSf2(test::readFileBytes(dir.file(std::string(folder) + "bank.sf2")), error))
        << folder << error;
  }
}

}  // namespace
}  // namespace zaft
