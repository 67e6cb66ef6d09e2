// The soundfont read back by the test support's own reader (which knows
// nothing of the writer) on a bank laid out as the console's compilers do:
// the RIFF structure, the presets, exactly the console's sound for every
// (key, velocity), the pitch of every key, the PCM against the WAV files,
// loops, envelopes, levels and the modulators.
#include "export/sf2_export.h"

#include "bank/libultra/bank_lowering.h"
#include "export/sample_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "audio/pitch.h"
#include "audio/samples.h"
#include "bank/libultra/walk.h"
#include "export/sf2_file.h"
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
// search never reaches the third), the key split again, and an instrument
// without sounds.
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
  test::InstrumentDesign split, layers, drums, unsorted, silent;
  split.sounds = {0, 1};
  layers.sounds = {2, 3};
  drums.sounds = {4, 5};
  unsorted.sounds = {7, 6, 8};
  unsorted.bendRange = -300;
  d.instruments = {split, layers, drums, unsorted, silent};
  test::BankDesign b0, b1;
  b0.sampleRate = 22050;
  b0.percussion = 2;
  b0.insts = {0, 1};
  b1.sampleRate = 16000;
  b1.insts = {3, 0, 4};
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
    set_ = instrumentSetOf(bank_, 1.0);
    OutputPlan plan{FileIdentity{}};
    waveNames_ = plan.planBankFile("out", set_, false, true, {{"header file", "CONTROL.H", false}}).waves;
    exportWaves(*rom_, set_, kTbl, waveNames_, WavOptions{}, wavs_, quiet);
    MemorySink sink;
    SoundFontOptions options;
    options.title = "test bank";
    ASSERT_EQ(writeSoundFont(*rom_, set_, kTbl, options, sink, report_), "");
    std::string error;
    std::optional<test::Sf2File> read = test::readSf2(sink.bytes, error);
    ASSERT_TRUE(read.has_value()) << error;
    sf_ = *read;
  }

  // The samples of the WAV file of the wave table at `entry`.
  std::vector<int16_t> wavSamples(int32_t entry) const {
    for (size_t k = 0; k < set_.samples.size(); ++k) {
      if (set_.samples[k].record != entry) continue;
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
  int gen(const test::Sf2Zone& z, uint16_t oper, int fallback = 0) const {
    const test::Sf2Generator* g = z.find(oper);
    return g == nullptr ? fallback : g->signedAmount();
  }

  std::unique_ptr<RomImage> rom_;
  BankFile bank_;
  InstrumentSet set_;
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
  // The instrument without sounds has its preset too, which plays nothing
  // (every note checked below): no player puts another in its place.
  const std::vector<std::pair<int, int>> expected = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {1, 2}, {128, 0}};
  EXPECT_EQ(presets, expected);
  EXPECT_EQ(sf_.presets[0].name, "Inst00");
  // Names as the header has them, made unique in preset order: the key split
  // again in bank 1, and bank 0's drum kit, numbered like its first instrument.
  EXPECT_EQ(sf_.presets[2].name, "Inst00~2");
  EXPECT_EQ(sf_.presets[3].name, "Inst00~3");
  EXPECT_EQ(sf_.presets[5].name, "Inst00~4");
  EXPECT_TRUE(sf_.instruments[static_cast<size_t>(sf_.presets[4].zones[0].gens[0].amount)].zones.empty());
  EXPECT_EQ(sf_.info.at("ifil"), "2.1");
  EXPECT_EQ(sf_.info.at("INAM"), "test bank");
  EXPECT_NE(sf_.info.at("ICMT").find("000:000 Inst00: volume 127, pan 64, priority 5, bend range "
                                     "200 cents"),
            std::string::npos);
  EXPECT_EQ(report_.errText(), "");
}

// The model's zone for (key, velocity) in `inst`, or nullptr: at most one
// holds it (the lowering's own test checks it against the console).
const Zone* zoneFor(const zaft::Instrument& inst, int key, int vel) {
  for (const Zone& z : inst.zones) {
    if (z.keyMin <= key && key <= z.keyMax && z.velocityMin <= vel && vel <= z.velocityMax) return &z;
  }
  return nullptr;
}

// For every preset and every (key, velocity): exactly the zone the model
// (the console's choice) has, or silence; that zone plays its sample (the
// PCM of its WAV file) at its bank's rate and the console's pitch.
TEST_F(SoundFontTest, EveryNotePlaysTheConsolesSoundAtItsPitch) {
  std::set<std::pair<int, int>> checkedPcm;
  ASSERT_EQ(sf_.presets.size(), set_.presets.size());
  for (const Preset& preset : set_.presets) {
    const zaft::Instrument& inst = set_.instruments[static_cast<size_t>(preset.instrument)];
    for (int key = 0; key < 128; ++key) {
      for (int vel = 0; vel < 128; ++vel) {
        const auto sounding = test::soundingZones(sf_, preset.bank, preset.program, key, vel);
        const Zone* model = zoneFor(inst, key, vel);
        ASSERT_EQ(sounding.size(), model == nullptr ? 0u : 1u) << inst.name << " " << key << " " << vel;
        if (model == nullptr) continue;
        const test::Sf2Zone& zone = sf_.instruments[static_cast<size_t>(sounding[0].first)]
                                        .zones[static_cast<size_t>(sounding[0].second)];
        const int sample = gen(zone, test::kSf2GenSampleId);
        const test::Sf2SampleHeader& h = sf_.sampleHeaders[static_cast<size_t>(sample)];
        EXPECT_EQ(h.rate, static_cast<uint32_t>(inst.rate));
        const double cents = (key - gen(zone, test::kSf2GenOverridingRootKey, h.originalPitch) +
                              gen(zone, 51)) * 100.0 + gen(zone, 52);
        ASSERT_NEAR(std::exp2(cents / 1200.0), playbackRatio(SamplePitch{model->pitchCents}, key),
                    1e-9) << key;
        if (checkedPcm.insert({sample, model->sample}).second) {
          // These waves' loops end at their last point or keep the rules:
          // their points start the sample (LoopsKeepTheRulesAndSoundTheSame).
          const std::vector<int16_t> wav = wavSamples(set_.samples[model->sample].record);
          std::vector<int16_t> points = samplesOf(h);
          points.resize(std::min(points.size(), wav.size()));
          EXPECT_EQ(points, wav) << h.name;
        }
      }
    }
  }
  // The unsorted instrument: key 35 lies in its third sound's range, but the
  // console's search turns away from it, so nothing plays.
  EXPECT_TRUE(test::soundingZones(sf_, 1, 0, 35, 100).empty());
  EXPECT_EQ(test::soundingZones(sf_, 1, 0, 65, 100).size(), 1u);
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
  // (90 whole samples) with a loop clipped to 8..90, and 8 points of its
  // continuation after it; 20 frames whose loop has start > end, with loop
  // points that keep the rules though nothing plays them.
  const Case cases[] = {{480, true, 16, 200}, {98, true, 8, 90}, {320, false, 8, 312}};
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

// The soundfont of a bank file built from `design`, read back.
struct Written {
  std::unique_ptr<RomImage> rom;
  BankFile bank;
  test::Sf2File sf;
};
Written soundFontOf(const test::BankFileDesign& design) {
  test::RomBuilder image(0x10000);
  test::placeBank(image, test::buildBank(design), kCtl, kTbl);
  Written w;
  w.rom = std::make_unique<RomImage>(image.bytes());
  NullReporter quiet;
  WalkLimits limits;
  limits.samplesWritten = true;
  w.bank = walkBankFile(*w.rom, kCtl, limits, quiet);
  MemorySink sink;
  EXPECT_EQ(writeSoundFont(*w.rom, instrumentSetOf(w.bank, 1.0), kTbl, SoundFontOptions{}, sink, quiet),
            "");
  std::string error;
  std::optional<test::Sf2File> read = test::readSf2(sink.bytes, error);
  EXPECT_TRUE(read.has_value()) << error;
  if (read) w.sf = *read;
  return w;
}

// Names alike get the first free suffix, their base cut to make room; many
// names alike, or alike but for their last characters, cost a few look-ups
// each (16,384 of them took 27 s when each tried every suffix before).
TEST(SoundFontNames, TheFirstFreeSuffixInLinearTime) {
  sf2::UniqueNames names;
  const std::vector<std::pair<std::string, std::string>> takes = {
      {"Inst00", "Inst00"},      {"Inst00", "Inst00~2"},    {"Inst00~3", "Inst00~3"},
      {"Inst00", "Inst00~4"},    {"ABCDEFGHIJKLMNOPQRSTU", "ABCDEFGHIJKLMNOPQRS"},
      {"ABCDEFGHIJKLMNOPQRSXY", "ABCDEFGHIJKLMNOPQ~2"}};
  for (const auto& [wanted, given] : takes) EXPECT_EQ(names.take(wanted), given);
  for (int n = 5; n < 10; ++n) names.take("Inst00");
  EXPECT_EQ(names.take("Inst00"), "Inst00~10");
  for (int n = 3; n < 10; ++n) names.take("ABCDEFGHIJKLMNOPQRS");
  EXPECT_EQ(names.take("ABCDEFGHIJKLMNOPQRS"), "ABCDEFGHIJKLMNOP~10");

  const auto start = std::chrono::steady_clock::now();
  sf2::UniqueNames alike, prefixed;
  std::set<std::string> given;
  for (int n = 0; n < 16384; ++n) {
    given.insert(alike.take("Inst"));
    // 19 characters, the last two different: all cut to one base.
    const std::string wanted = "PPPPPPPPPPPPPPPPP" + std::string{static_cast<char>('A' + n % 64), static_cast<char>('A' + n / 64 % 64)};
    given.insert(prefixed.take(wanted));
    given.insert(prefixed.take(wanted));
  }
  EXPECT_EQ(given.size(), 3u * 16384);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// Every generator within its range (the reader checks that of every file):
// the sound's pan held as the console holds pan to 0..127, and a pitch past
// the root key's reach carried by coarse and then fine tune.
TEST(SoundFontGenerators, HeldToTheirRangesAsTheConsoleHoldsThem) {
  struct Case {
    uint8_t samplePan, keyBase;
    int8_t detune;
    int pan;  // the zone's, in 0.1 %
  };
  const Case cases[] = {{0, 60, 0, -500},   {127, 60, 0, 492}, {128, 60, 0, 492}, {255, 60, 0, 492},
                        {64, 247, 0, 0},    {64, 248, 50, 0},  {64, 255, -128, 0}, {64, 0, 127, 0}};
  test::BankFileDesign d;
  d.waves = {{1, 0, std::vector<uint8_t>(200, 1), -1, -1}};
  test::InstrumentDesign inst;
  const int count = static_cast<int>(std::size(cases));
  for (int i = 0; i < count; ++i) {
    const uint8_t key = static_cast<uint8_t>(10 * i + 50);
    d.keyMaps.push_back({0, 127, key, key, cases[i].keyBase, cases[i].detune});
    d.sounds.push_back({-1, i, 0, cases[i].samplePan, 127, 0});
    inst.sounds.push_back(i);
  }
  d.instruments = {inst};
  d.banks = {test::BankDesign{}};
  d.banks[0].insts = {0};
  const Written w = soundFontOf(d);
  for (int i = 0; i < count; ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::to_string(c.samplePan) + " " + std::to_string(c.keyBase) + " " + std::to_string(c.detune));
    const int key = 10 * i + 50;
    const auto sounding = test::soundingZones(w.sf, 0, 0, key, 100);
    ASSERT_EQ(sounding.size(), 1u);
    const test::Sf2Zone& z = w.sf.instruments[0].zones[static_cast<size_t>(sounding[0].second)];
    const auto amount = [&](uint16_t oper) { return z.find(oper) ? z.find(oper)->signedAmount() : 0; };
    EXPECT_EQ(amount(test::kSf2GenPan), c.pan);
    // Exact while the pitch lies within 12099 cents below root key 127.
    const int console = (key - c.keyBase) * 100 + c.detune;
    const int played = (key - amount(test::kSf2GenOverridingRootKey) + amount(51)) * 100 + amount(52);
    EXPECT_EQ(played, std::max(console, key * 100 - 12700 - 12099));
  }
}

// More records of a kind than 16-bit indices reach, or more than 4 GiB: no
// file, and the reason.
TEST(SoundFontFile, RefusesWhatTheFormatCannotCount) {
  using Grow = std::function<void(sf2::Contents&, size_t)>;
  const auto zones = [](sf2::Contents& c, size_t n) {
    c.instruments.resize(1);
    c.instruments[0].zones.resize(n);
  };
  const std::vector<std::tuple<std::string, size_t, Grow>> cases = {
      {"65536 presets", 65535, [](sf2::Contents& c, size_t n) { c.presets.resize(n); }},
      {"65536 instruments", 65535, [](sf2::Contents& c, size_t n) { c.instruments.resize(n); }},
      {"65538 instrument modulators", 21845, zones},  // 3 a zone: the zones' limit
      {"65536 instrument generators", 65535,
       [](sf2::Contents& c, size_t n) {
         c.instruments.resize(1);
         c.instruments[0].zones.resize(1);
         c.instruments[0].zones[0].gens.resize(n, {sf2::kPan, 0});
       }},
      {"65536 sample headers", 65535, [](sf2::Contents& c, size_t n) { c.samples.resize(n); }},
  };
  for (const auto& [what, most, grow] : cases) {
    SCOPED_TRACE(what);
    sf2::Contents fits, over;
    grow(fits, most);
    grow(over, most + 1);
    EXPECT_EQ(sf2::unwritable(fits), "");
    EXPECT_EQ(sf2::unwritable(over), "it would hold " + what + ", and a SoundFont 2 file holds at most 65535");
  }
  sf2::Contents huge;
  huge.points = uint64_t{1} << 31;  // 4 GiB of sample points
  EXPECT_EQ(sf2::unwritable(huge),
            "it would take 4294967624 bytes, and a SoundFont 2 file, one RIFF file, takes at most 4 GiB");
}

// Loops as the format wants them, every sample heard as the console plays
// its wave: its points up to the loop's end, then the loop for ever. A loop
// with too little room moves onto a later repetition of itself, followed by
// 8 points of its continuation; short samples end in zeros.
TEST(SoundFontLoops, KeepTheRulesAndSoundTheSame) {
  struct Case {
    bool adpcm;
    int points, loopStart, loopEnd, loopCount;
    uint32_t length, sfLoopStart, sfLoopEnd;  // as written
  };
  const Case cases[] = {
      {false, 200, 16, 120, -1, 200, 16, 120},  // room enough: as it was
      {false, 90, 8, 1000, -1, 98, 8, 90},      // ends at the sample's end (clipped)
      {false, 100, 0, 100, -1, 116, 8, 108},    // the whole sample, from its first point
      {false, 100, 3, 10, -1, 51, 8, 43},       // 7 points, repeated 5 times
      {false, 1, 0, 1, -1, 48, 8, 40},          // one point, 32 times
      {false, 60, 20, 50, 2, 88, 20, 80},       // 30 points, twice; the rest never reached
      {false, 1, 0, 0, 0, 48, 8, 40},           // no loop: zeros to 48 points
      {false, 100, 10, 60, 0, 100, 8, 92},      // count 0: no loop
      {true, 80, 3, 37, -1, 50, 8, 42},         // its end within a frame
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.points) + " points, loop " + std::to_string(c.loopStart) + ".." +
                 std::to_string(c.loopEnd));
    test::BankFileDesign d;
    d.books = {test::simpleBook(2)};
    d.loops = {{c.loopStart, c.loopEnd, c.loopCount, c.adpcm}};
    std::vector<uint8_t> raw;
    for (int i = 0; i < c.points; ++i) raw.push_back(static_cast<uint8_t>(i)), raw.push_back(static_cast<uint8_t>(7 * i + 1));
    d.waves = {c.adpcm ? test::WaveDesign{0, 0, frames(c.points / 16, 9), 0, 0} : test::WaveDesign{1, 0, raw, 0, -1}};
    d.keyMaps = {{0, 127, 0, 127, 60, 0}};
    d.sounds = {{-1, 0, 0, 64, 127, 0}};
    d.instruments = {test::InstrumentDesign{}};
    d.instruments[0].sounds = {0};
    d.banks = {test::BankDesign{}};
    d.banks[0].insts = {0};
    const Written w = soundFontOf(d);
    ASSERT_EQ(w.sf.sampleHeaders.size(), 1u);
    const test::Sf2SampleHeader& h = w.sf.sampleHeaders[0];
    EXPECT_EQ(h.end - h.start, c.length);
    EXPECT_EQ(h.loopStart - h.start, c.sfLoopStart);
    EXPECT_EQ(h.loopEnd - h.start, c.sfLoopEnd);
    const bool looped = c.loopCount != 0 && c.loopStart < c.loopEnd;
    const test::Sf2Zone& zone = w.sf.instruments[0].zones[0];
    EXPECT_EQ(zone.find(test::kSf2GenSampleModes) != nullptr, looped);
    // The first 1000 points a voice plays, silence after an unlooped end.
    const auto played = [](const std::vector<int16_t>& points, size_t from, size_t end, bool loop,
                           size_t loopStart, size_t loopEnd) {
      std::vector<int16_t> out;
      for (size_t i = from; out.size() < 1000; ++i) {
        if (loop && i == loopEnd) i = loopStart;
        out.push_back(i < end ? points[i] : 0);
      }
      return out;
    };
    const Sample wave = instrumentSetOf(w.bank, 1.0).samples[0];
    const std::vector<int16_t> console =
        decodeSamples(*w.rom, layoutSamples(*w.rom, sampleSourceOf(wave, kTbl)));
    ASSERT_EQ(console.size(), static_cast<size_t>(c.points));
    const size_t consoleEnd = std::min<size_t>(static_cast<size_t>(c.loopEnd), console.size());
    EXPECT_EQ(played(w.sf.samples, h.start, h.end, looped, h.loopStart, h.loopEnd),
              played(console, 0, console.size(), looped, static_cast<size_t>(c.loopStart), consoleEnd));
  }
}

}  // namespace
}  // namespace zaft
