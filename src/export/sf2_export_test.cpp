// The soundfont read back by the test support's own reader (which knows
// nothing of the writer) on a bank laid out as the console's compilers do:
// the RIFF structure, the presets, exactly the console's sound for every
// (key, velocity), the pitch of every key, the PCM against the WAV files,
// loops, envelopes, levels and the modulators.
#include "export/sf2_export.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>

#include "audio/pitch.h"
#include "bank/walk.h"
#include "export/output_plan.h"
#include "export/wav_export.h"
#include "support/bank_builder.h"
#include "support/rom_builder.h"
#include "support/sf2_reader.h"

namespace zaft {
namespace {

constexpr size_t kCtl = 0x1000;
constexpr size_t kTbl = 0x8000;

std::vector<uint8_t> frames(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data;
  for (int f = 0; f < count; ++f) {
    data.push_back(static_cast<uint8_t>((rng() % 10) << 4));
    for (int k = 0; k < 8; ++k) data.push_back(static_cast<uint8_t>(rng()));
  }
  return data;
}

// Bank 0 at 22050 Hz: a drum kit (two drums, the second sharing the first
// melodic wave), a key split and a velocity split. Bank 1 at 16000 Hz: an
// instrument whose key maps are not sorted (0-10, 60-70, 30-40: the console's
// search never reaches the third), and the key split again.
test::BankFileDesign design() {
  test::BankFileDesign d;
  d.envelopes = {{10000, 200000, 50000, 127, 64}, {0, 0, 0, 100, 0}};
  d.keyMaps = {{0, 127, 0, 59, 48, 30},   {0, 127, 60, 127, 72, -50}, {0, 63, 0, 127, 60, 0},
               {64, 127, 0, 127, 60, 127}, {0, 127, 36, 36, 36, 0},   {0, 127, 38, 38, 38, -128},
               {0, 127, 60, 70, 65, 0},   {0, 127, 0, 10, 5, 0},     {0, 127, 30, 40, 35, 0}};
  d.loops = {{16, 200, -1, true}, {8, 1000, 2147483647, false}, {50, 20, 1, true}};
  d.books = {test::simpleBook(2)};
  std::vector<uint8_t> raw(181);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 37);
  d.waves = {{0, 0, frames(30, 1), 0, 0}, {0, 0, frames(20, 2), 2, 0}, {0, 0, frames(12, 3), -1, 0},
             {0, 0, frames(9, 4), -1, 0},  {0, 0, frames(5, 5), -1, 0},  {1, 0, raw, 1, -1}};
  d.sounds = {{0, 0, 0, 0, 127, 0}, {0, 1, 1, 127, 64, 0}, {1, 2, 2, 64, 127, 0},
              {1, 3, 3, 64, 127, 0}, {0, 4, 4, 64, 127, 0}, {0, 5, 0, 64, 127, 0},
              {0, 6, 5, 64, 127, 0}, {0, 7, 1, 64, 127, 0}, {0, 8, 2, 64, 127, 0}};
  test::InstrumentDesign split, layers, drums, unsorted;
  split.sounds = {0, 1};
  layers.sounds = {2, 3};
  drums.sounds = {4, 5};
  unsorted.sounds = {7, 6, 8};
  unsorted.bendRange = -300;
  d.instruments = {split, layers, drums, unsorted};
  test::BankDesign b0, b1;
  b0.sampleRate = 22050;
  b0.percussion = 2;
  b0.insts = {0, 1};
  b1.sampleRate = 16000;
  b1.insts = {3, 0};
  d.banks = {b0, b1};
  return d;
}

class SoundFontTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RomBuilder image(0x10000);
    test::placeBank(image, test::buildBank(design()), kCtl, kTbl);
    rom_ = std::make_unique<RomImage>(image.bytes());
    NullReporter quiet;
    WalkLimits limits;
    limits.samplesWritten = true;
    bank_ = walkBankFile(*rom_, kCtl, limits, quiet);
    OutputPlan plan{FileIdentity{}};
    waveNames_ = plan.planBankFile("out", bank_, true, "CONTROL.H", "").waves;
    exportWaves(*rom_, bank_, kTbl, waveNames_, WavOptions{}, wavs_, quiet);
    MemorySink sink;
    SoundFontOptions options;
    options.title = "test bank";
    ASSERT_TRUE(writeSoundFont(*rom_, bank_, kTbl, options, sink, report_));
    std::string error;
    std::optional<test::Sf2File> read = test::readSf2(sink.bytes, error);
    ASSERT_TRUE(read.has_value()) << error;
    sf_ = *read;
  }

  // The samples of the WAV file of the wave table at `entry`.
  std::vector<int16_t> wavSamples(int32_t entry) const {
    for (size_t k = 0; k < bank_.waves.size(); ++k) {
      if (bank_.waves[k].entry != entry) continue;
      const std::vector<uint8_t>& file = wavs_.files.at(waveNames_[k].path);
      std::vector<int16_t> out((file.size() - kWavHeaderSize) / 2);
      const uint32_t data = file[54] | file[55] << 8 | file[56] << 16 | file[57] << 24;
      out.resize(data / 2);
      for (size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<int16_t>(file[58 + 2 * i] | file[59 + 2 * i] << 8);
      }
      return out;
    }
    return {};
  }
  std::vector<int16_t> samplesOf(const test::Sf2SampleHeader& h) const {
    return std::vector<int16_t>(sf_.samples.begin() + h.start, sf_.samples.begin() + h.end);
  }
  const ALInstrument& instrument(int bank, int slot) const {
    const ALBank& b = bank_.table[bank_.table[1].as<ALBankFile>().banks[static_cast<size_t>(bank)]].as<ALBank>();
    return bank_.table[slot < 0 ? b.percussion : b.insts[static_cast<size_t>(slot)]].as<ALInstrument>();
  }
  int gen(const test::Sf2Zone& z, uint16_t oper, int fallback = 0) const {
    const test::Sf2Generator* g = z.find(oper);
    return g == nullptr ? fallback : g->signedAmount();
  }

  std::unique_ptr<RomImage> rom_;
  BankFile bank_;
  std::vector<PlannedFile> waveNames_;
  MemoryTarget wavs_;
  CollectingReporter report_;
  test::Sf2File sf_;
};

TEST_F(SoundFontTest, PresetsAreTheProgramsAndTheDrumKits) {
  std::set<std::string> names;
  std::vector<std::pair<int, int>> presets;
  for (const test::Sf2Preset& p : sf_.presets) {
    presets.push_back({p.bank, p.program});
    EXPECT_TRUE(names.insert(p.name).second) << p.name;
    EXPECT_EQ(p.zones.size(), 1u);
  }
  const std::vector<std::pair<int, int>> expected = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {128, 0}};
  EXPECT_EQ(presets, expected);
  EXPECT_EQ(sf_.presets[0].name, "Inst00");
  // Names as the header has them, made unique in preset order: the key split
  // again in bank 1, and bank 0's drum kit, numbered like its first instrument.
  EXPECT_EQ(sf_.presets[2].name, "Inst00~2");
  EXPECT_EQ(sf_.presets[3].name, "Inst00~3");
  EXPECT_EQ(sf_.presets[4].name, "Inst00~4");
  EXPECT_EQ(sf_.info.at("ifil"), "2.1");
  EXPECT_EQ(sf_.info.at("INAM"), "test bank");
  EXPECT_NE(sf_.info.at("ICMT").find("000:000 Inst00: volume 127, pan 64, priority 5, bend range "
                                     "200 cents"),
            std::string::npos);
  EXPECT_EQ(report_.errText(), "");
}

// For every preset and every (key, velocity): exactly the zone of the sound
// the console's binary search picks, or silence; that zone plays the sound's
// wave (the PCM of its WAV file) at its bank's rate and the console's pitch.
TEST_F(SoundFontTest, EveryNotePlaysTheConsolesSoundAtItsPitch) {
  const int rates[] = {22050, 16000};
  std::set<std::pair<int, int>> checkedPcm;
  for (const test::Sf2Preset& p : sf_.presets) {
    const bool drums = p.bank == 128;
    const int bankIndex = drums ? p.program : p.bank;
    const ALInstrument& inst = instrument(bankIndex, drums ? -1 : p.program);
    for (int key = 0; key < 128; ++key) {
      for (int vel = 0; vel < 128; ++vel) {
        const auto sounding = test::soundingZones(sf_, p.bank, p.program, key, vel);
        const int console = consoleSoundFor(bank_.table, inst, key, vel);
        ASSERT_EQ(sounding.size(), console < 0 ? 0u : 1u) << p.name << " " << key << " " << vel;
        if (console < 0) continue;
        const test::Sf2Zone& zone = sf_.instruments[static_cast<size_t>(sounding[0].first)]
                                        .zones[static_cast<size_t>(sounding[0].second)];
        const ALSound& sound = bank_.table[inst.sounds[static_cast<size_t>(console)]].as<ALSound>();
        const ALKeyMap& km = bank_.table[sound.keyMap].as<ALKeyMap>();
        const int sample = gen(zone, test::kSf2GenSampleId);
        const test::Sf2SampleHeader& h = sf_.sampleHeaders[static_cast<size_t>(sample)];
        EXPECT_EQ(h.rate, static_cast<uint32_t>(rates[bankIndex]));
        const double cents = (key - gen(zone, test::kSf2GenOverridingRootKey, h.originalPitch) +
                              gen(zone, 51)) * 100.0 + gen(zone, 52);
        ASSERT_NEAR(std::exp2(cents / 1200.0), consolePlaybackRatio(km, key), 1e-9) << key;
        if (checkedPcm.insert({sample, sound.wavetable}).second) {
          EXPECT_EQ(samplesOf(h), wavSamples(sound.wavetable)) << h.name;
        }
      }
    }
  }
  // The unsorted instrument: key 35 lies in its third sound's range, but the
  // search turns away from it, so the console plays nothing.
  EXPECT_TRUE(test::soundingZones(sf_, 1, 0, 35, 100).empty());
  EXPECT_EQ(consoleSoundFor(bank_.table, instrument(1, 0), 35, 100), -1);
  EXPECT_EQ(consoleSoundFor(bank_.table, instrument(1, 0), 65, 100), 1);
}

// A wave played at two rates has two headers over the same PCM; loops as
// the smpl chunk has them (clipped to the samples; none for start >= end).
TEST_F(SoundFontTest, SamplesAndLoops) {
  std::map<std::pair<uint32_t, uint32_t>, std::set<uint32_t>> ratesOf;
  for (const test::Sf2SampleHeader& h : sf_.sampleHeaders) ratesOf[{h.start, h.end}].insert(h.rate);
  EXPECT_EQ(ratesOf.size(), 6u);  // every wave's PCM once
  size_t twoRates = 0;
  for (const auto& [range, rates] : ratesOf) twoRates += rates.size() == 2;
  EXPECT_EQ(twoRates, 2u);  // the key split's two waves, in both banks
  struct Case {
    uint32_t length;  // samples
    bool looped;
    uint32_t loopStart, loopEnd;
  };
  // The first waves: 30 frames with an endless loop 16..200; raw 181 bytes
  // (90 whole samples) with a loop clipped to 8..90; 20 frames whose loop
  // has start > end.
  const Case cases[] = {{480, true, 16, 200}, {90, true, 8, 90}, {320, false, 0, 320}};
  for (const Case& c : cases) {
    bool found = false;
    for (const test::Sf2Instrument& inst : sf_.instruments) {
      for (const test::Sf2Zone& z : inst.zones) {
        const test::Sf2SampleHeader& h = sf_.sampleHeaders[static_cast<size_t>(gen(z, test::kSf2GenSampleId))];
        if (h.end - h.start != c.length) continue;
        found = true;
        EXPECT_EQ(gen(z, test::kSf2GenSampleModes), c.looped ? 1 : 0) << c.length;
        EXPECT_EQ(h.loopStart - h.start, c.loopStart) << c.length;
        EXPECT_EQ(h.loopEnd - h.start, c.loopEnd) << c.length;
      }
    }
    EXPECT_TRUE(found) << c.length;
  }
}

// Envelope in timecents and centibels, level and pan from the sound,
// velocity as linear amplitude and the instrument's own bend range.
TEST_F(SoundFontTest, EnvelopeLevelPanAndModulators) {
  struct Case {
    int bank, program, key, vel;
    int attenuation, pan, attack, decay, sustain, release;
    int16_t bend;
  };
  const Case cases[] = {
      // Envelope 0: 10 ms, 200 ms, 50 ms, levels 127 and 64; pan 0, level 127.
      {0, 0, 40, 100, 0, -500, -7973, -2786, 60, -5186, 200},
      // Level 64, pan 127.
      {0, 0, 80, 100, 60, 492, -7973, -2786, 60, -5186, 200},
      // Envelope 1: no times, attack level 100, decay level 0.
      {0, 1, 60, 10, 21, 0, -12000, -12000, 1440, -12000, 200},
      {1, 0, 5, 100, 0, 0, -7973, -2786, 60, -5186, -300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bank) + ":" + std::to_string(c.program) + " key " + std::to_string(c.key));
    const auto sounding = test::soundingZones(sf_, c.bank, c.program, c.key, c.vel);
    ASSERT_EQ(sounding.size(), 1u);
    const test::Sf2Zone& z = sf_.instruments[static_cast<size_t>(sounding[0].first)]
                                 .zones[static_cast<size_t>(sounding[0].second)];
    EXPECT_EQ(gen(z, test::kSf2GenInitialAttenuation), c.attenuation);
    EXPECT_EQ(gen(z, test::kSf2GenPan), c.pan);
    EXPECT_EQ(gen(z, 34), c.attack);
    EXPECT_EQ(gen(z, 36), c.decay);
    EXPECT_EQ(gen(z, 37), c.sustain);
    EXPECT_EQ(gen(z, 38), c.release);
    const std::vector<test::Sf2Modulator> mods = {{0x0502, 48, 480, 0, 0},
                                                  {0x020E, 59, 0, 0x0010, 0},
                                                  {0x020E, 59, c.bend, 0, 0}};
    EXPECT_EQ(z.mods, mods);
  }
}

}  // namespace
}  // namespace zaft
