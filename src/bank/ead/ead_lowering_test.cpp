#include "bank/ead/ead_lowering.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/ead_builder.h"

namespace zaft {
namespace {

struct Lowered {
  test::BuiltEadSet built;
  EadSoundData sounds;
  InstrumentSet set;
};

const Lowered& lowered() {
  static const Lowered l = [] {
    Lowered out;
    out.built = test::buildEadSet(test::defaultEadSet());
    out.sounds = readEadSoundData(out.built.bytes.data(), static_cast<int64_t>(out.built.bytes.size()),
                                  out.built.soundData, out.built.sampleTable);
    out.set = instrumentSetOf(out.sounds);
    return out;
  }();
  return l;
}

// The frequency a zone plays `key` at in a soundfont: the instrument's rate
// moved by the key's distance from the zone's root pitch.
double soundfontHz(const Instrument& inst, const Zone& z, int key) {
  return inst.rate * std::pow(2.0, (100.0 * key - z.pitchCents) / 1200.0);
}

// One sample per wave, named and rated by the sound that reached it first.
TEST(EadLoweringTest, SamplesAreNamedAndRatedByTheirFirstSound) {
  const Lowered& l = lowered();
  struct Expected {
    const char* file;
    int32_t rate;
    int sampleBank, wave;
    bool looped;
  };
  const Expected expected[] = {
      {"B00I000L.WAV", 19200, 0, 0, false}, {"B00I000H.WAV", 16000, 0, 2, false},
      {"B00I002N.WAV", 16000, 0, 3, true},  {"B00D000.WAV", 16000, 0, 4, false},
      {"B00D001.WAV", 16000, 0, 5, false},  {"B01I000N.WAV", 16000, 0, 1, false},
      {"B02I000N.WAV", 16000, 1, 0, false},
  };
  ASSERT_EQ(l.set.samples.size(), std::size(expected));
  for (size_t k = 0; k < std::size(expected); ++k) {
    const Expected& e = expected[k];
    const Sample& s = l.set.samples[k];
    SCOPED_TRACE(e.file);
    EXPECT_EQ(s.fileName, e.file);
    EXPECT_EQ(s.rate, e.rate);
    EXPECT_EQ(s.pitchCents, 6000);
    EXPECT_EQ(s.codec, SampleCodec::Vadpcm);
    EXPECT_EQ(s.base, static_cast<int32_t>(l.built.sampleBankAt[static_cast<size_t>(e.sampleBank)] +
                                           l.built.waveAt[static_cast<size_t>(e.sampleBank)][static_cast<size_t>(e.wave)]));
    EXPECT_TRUE(s.hasBook);
    EXPECT_EQ(s.loop.has_value(), e.looped);
  }
  EXPECT_EQ(l.set.samples[2].loop->count, -1);
  EXPECT_EQ(l.set.samples[5].book.predictors, 4);
}

// Zones by key range, each playing the console's pitch on every key:
// tuning x 32000 x 2^((key - 60) / 12) for an instrument, tuning x 32000 on
// its own key for a drum. Keys 0 to 20 (below semitone 0) play the low
// sound, or nothing.
TEST(EadLoweringTest, ZonesPlayTheConsolesPitch) {
  const Lowered& l = lowered();
  struct Expected {
    int instrument;
    uint8_t keyMin, keyMax;
    int32_t sample;
    double tuning;  // 0: a drum at its tuning alone
    int pan;
  };
  const Expected expected[] = {
      {0, 0, 50, 0, 0.6, 64},    {0, 51, 71, 0, 0.5, 64},  {0, 72, 127, 1, 0.5, 64},
      {1, 21, 127, 2, 0.5, 64},  {2, 21, 21, 3, 0, 64},    {2, 22, 22, 4, 0, 20},
      {2, 23, 23, 2, 0, 100},    {3, 21, 81, 5, 0.5, 64},  {3, 82, 127, 2, 0.5, 64},
      {4, 21, 127, 6, 0.5, 64},
  };
  const double drumTunings[] = {0.5, 0.5, 1.0};
  std::vector<size_t> zoneOf(l.set.instruments.size(), 0);
  for (const Expected& e : expected) {
    const Instrument& inst = l.set.instruments[static_cast<size_t>(e.instrument)];
    ASSERT_LT(zoneOf[static_cast<size_t>(e.instrument)], inst.zones.size());
    const Zone& z = inst.zones[zoneOf[static_cast<size_t>(e.instrument)]++];
    SCOPED_TRACE(testing::Message() << inst.name << " keys " << int{e.keyMin});
    EXPECT_EQ(z.keyMin, e.keyMin);
    EXPECT_EQ(z.keyMax, e.keyMax);
    EXPECT_EQ(z.sample, e.sample);
    EXPECT_EQ(z.pan, e.pan);
    for (int key = e.keyMin; key <= e.keyMax; key += 7) {
      const double console = e.tuning > 0 ? e.tuning * 32000 * std::pow(2.0, (key - 60) / 12.0)
                                          : drumTunings[key - 21] * 32000;
      EXPECT_NEAR(soundfontHz(inst, z, key) / console, 1.0, 0.0006) << "key " << key;  // 1 cent
    }
  }
  for (size_t i = 0; i < zoneOf.size(); ++i) EXPECT_EQ(zoneOf[i], l.set.instruments[i].zones.size());
  EXPECT_EQ(l.set.leftOut, 0);
}

// Program changes reach slots; the drum kit sits at bank 128.
TEST(EadLoweringTest, PresetsFollowSlotsAndBanks) {
  const std::vector<std::tuple<int, int, int>> expected = {
      {0, 0, 0}, {0, 2, 1}, {0, 3, 0}, {128, 0, 2}, {1, 0, 3}, {2, 0, 4}};
  std::vector<std::tuple<int, int, int>> got;
  for (const Preset& p : lowered().set.presets) got.emplace_back(p.bank, p.program, p.instrument);
  EXPECT_EQ(got, expected);
}

// Envelope points in microseconds and model levels, the release from the
// release rate (0: the channel's 0x20); stop ends at silence, goto holds.
TEST(EadLoweringTest, EnvelopesFollowThePlayersUpdates) {
  const Lowered& l = lowered();
  const auto points = [&](int instrument, int zone) {
    std::vector<std::pair<int32_t, int32_t>> out;
    const Envelope& e = *l.set.instruments[static_cast<size_t>(instrument)].zones[static_cast<size_t>(zone)].envelope;
    for (const EnvelopePoint& p : e.points) out.emplace_back(p.time, p.level);
    out.emplace_back(-1, e.releaseTime);
    return out;
  };
  using P = std::vector<std::pair<int32_t, int32_t>>;
  EXPECT_EQ(points(0, 0), (P{{16667, 126}, {250000, 68}, {-1, 177772}}));
  EXPECT_EQ(points(2, 0), (P{{4167, 127}, {125000, 0}, {0, 0}, {-1, 88886}}));
  EXPECT_EQ(points(3, 0), (P{{33333, 121}, {83333, 30}, {83333, 121}, {-1, 177772}}));
  EXPECT_EQ(eadEnvelopeLevel(0x8000), 0);  // a negative level is silence
  EXPECT_EQ(eadReleaseMicros(255), 22309);
  EXPECT_EQ(eadDelayMicros(0xFFFC), 273050000);
}

// Drums past key 127 and banks past 127 are left out and counted; their
// samples stay.
TEST(EadLoweringTest, WhatNoPresetReachesIsCounted) {
  test::EadSetDesign d = test::defaultEadSet();
  d.banks[0].drums.resize(110, d.banks[0].drums[0]);  // drums 107..109 pass key 127
  d.banks[0].drums.back().sound = {2, 0.25f};
  const test::BuiltEadSet b = test::buildEadSet(d);
  const EadSoundData sounds =
      readEadSoundData(b.bytes.data(), static_cast<int64_t>(b.bytes.size()), b.soundData, b.sampleTable);
  const InstrumentSet set = instrumentSetOf(sounds);
  EXPECT_EQ(set.leftOut, 3);
  EXPECT_EQ(set.instruments[2].zones.size(), 107u);
  EXPECT_EQ(set.samples.size(), 7u);
}

}  // namespace
}  // namespace zaft
