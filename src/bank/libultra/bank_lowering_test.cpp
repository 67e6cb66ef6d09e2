// The libultra bank lowered into the instrument model: every (key,
// velocity) lands in the zone of exactly the sound the console's binary
// search picks, with that sound's sample, pitch, envelope, pan and volume.
#include "bank/libultra/bank_lowering.h"

#include <gtest/gtest.h>

#include "bank/libultra/walk.h"
#include "support/bank_builder.h"
#include "support/rom_builder.h"

namespace zaft {
namespace {

// One bank: a key split, a velocity split with an envelope, an instrument
// whose key maps are not sorted (0-10, 60-70, 30-40: the search never
// reaches the third), and one without sounds.
test::BankFileDesign design() {
  test::BankFileDesign d;
  d.envelopes = {{10000, 200000, 50000, 127, 64}};
  d.keyMaps = {{0, 127, 0, 59, 48, 30}, {0, 127, 60, 127, 72, -50}, {0, 63, 0, 127, 60, 0},
               {64, 127, 0, 127, 60, 127}, {0, 127, 60, 70, 65, 0}, {0, 127, 0, 10, 5, 0},
               {0, 127, 30, 40, 35, 0}};
  d.books = {test::simpleBook(2)};
  for (int w = 0; w < 3; ++w) d.waves.push_back({0, 0, std::vector<uint8_t>(90, 0x11), -1, 0});
  d.sounds = {{-1, 0, 0, 0, 127, 0}, {-1, 1, 1, 200, 64, 0}, {0, 2, 2, 64, 100, 0},
              {0, 3, 0, 64, 127, 0},  {-1, 4, 1, 64, 127, 0}, {-1, 5, 2, 64, 127, 0},
              {-1, 6, 0, 64, 127, 0}};
  test::InstrumentDesign split, layers, unsorted, silent;
  split.sounds = {0, 1};
  layers.sounds = {2, 3};
  unsorted.sounds = {5, 4, 6};
  d.instruments = {split, layers, unsorted, silent};
  test::BankDesign bank;
  bank.insts = {0, 1, 2, 3};
  d.banks = {bank};
  return d;
}

TEST(BankLowering, ZonesAreTheConsolesChoiceOfSound) {
  test::RomBuilder image(0x4000);
  test::placeBank(image, test::buildBank(design()), 0x1000, 0x3000);
  const RomImage rom(image.bytes());
  NullReporter quiet;
  const BankFile bank = walkBankFile(rom, 0x1000, WalkLimits(), quiet);
  const InstrumentSet set = instrumentSetOf(bank, 1.0);
  ASSERT_EQ(set.presets.size(), 4u);
  const ALBank& alBank = bank.table[bank.table[1].as<ALBankFile>().banks[0]].as<ALBank>();
  for (const Preset& preset : set.presets) {
    const Instrument& inst = set.instruments[static_cast<size_t>(preset.instrument)];
    const ALInstrument& record = bank.table[alBank.insts[static_cast<size_t>(preset.program)]]
                                     .as<ALInstrument>();
    for (int key = 0; key < 128; ++key) {
      for (int vel = 0; vel < 128; ++vel) {
        std::vector<const Zone*> holding;
        for (const Zone& z : inst.zones) {
          if (z.keyMin <= key && key <= z.keyMax && z.velocityMin <= vel && vel <= z.velocityMax) {
            holding.push_back(&z);
          }
        }
        const int console = consoleSoundFor(bank.table, record, key, vel);
        ASSERT_EQ(holding.size(), console < 0 ? 0u : 1u) << inst.name << " " << key << " " << vel;
        if (console < 0) continue;
        const ALSound& sound = bank.table[record.sounds[static_cast<size_t>(console)]].as<ALSound>();
        const ALKeyMap& km = bank.table[sound.keyMap].as<ALKeyMap>();
        const Zone& z = *holding[0];
        ASSERT_EQ(set.samples[static_cast<size_t>(z.sample)].record, sound.wavetable);
        ASSERT_EQ(z.pitchCents, km.keyBase * 100 - km.detune);
        ASSERT_EQ(z.pan, std::min<int>(sound.samplePan, 127));
        ASSERT_EQ(z.volume, sound.sampleVolume);
        ASSERT_EQ(z.envelope.has_value(), sound.envelope != 0);
      }
    }
  }
  // The unsorted instrument: key 35 lies in its third sound's range, but the
  // search turns away from it; the silent one has no zones.
  const ALInstrument& unsorted = bank.table[alBank.insts[2]].as<ALInstrument>();
  EXPECT_EQ(consoleSoundFor(bank.table, unsorted, 35, 100), -1);
  EXPECT_EQ(consoleSoundFor(bank.table, unsorted, 65, 100), 1);
  EXPECT_TRUE(set.instruments[static_cast<size_t>(set.presets[3].instrument)].zones.empty());
  // A key map's pitch: keyBase 60 with detune +30 sounds at 59.70; middle C
  // without a key map.
  const ALKeyMap worked{0, 127, 0, 127, 60, 30};
  EXPECT_EQ(pitchCentsOf(&worked), 5970);
  EXPECT_EQ(pitchCentsOf(nullptr), 6000);
  const Envelope& env = *set.instruments[1].zones[0].envelope;
  ASSERT_EQ(env.points.size(), 2u);
  EXPECT_EQ(std::make_tuple(env.points[0].time, env.points[0].level, env.points[1].time,
                            env.points[1].level, env.releaseTime),
            std::make_tuple(10000, 127, 200000, 64, 50000));
}

}  // namespace
}  // namespace zaft
