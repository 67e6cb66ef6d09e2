#include "export/ead/ead_json.h"

#include <gtest/gtest.h>

#include "bank/ead/ead_lowering.h"
#include "support/ead_builder.h"
#include "support/rom_builder.h"

namespace zaft {
namespace {

// One sample bank of two short waves (one looped), one bank of an
// instrument with a low and a normal sound, an empty slot and one drum.
test::EadSetDesign smallSet() {
  test::EadSetDesign d;
  test::EadWaveDesign plain;
  plain.book = test::simpleBook(1);
  plain.frames = {0x10, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0,
                  0x20, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  test::EadWaveDesign looped = plain;
  looped.loop = test::EadLoopDesign{4, 32, -1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
  d.sampleBanks.push_back({{plain, looped}});
  test::EadBankDesign bank;
  bank.envelopes = {{{2, 32767}, {0xFFFF, 0}}};
  test::EadInstrumentDesign inst;
  inst.rangeLow = 36;
  inst.low = {0, 0.75f};
  inst.normal = {1, 0.5f};
  bank.instruments = {inst};
  bank.slots = {0, -1};
  bank.drums = {{0x40, 32, 0, {0, 1.0f}}};
  d.banks.push_back(bank);
  return d;
}

// The whole document, byte for byte.
TEST(EadJsonTest, DescribesEveryRecord) {
  const test::BuiltEadSet b = test::buildEadSet(smallSet());
  const EadSoundData sounds =
      readEadSoundData(b.bytes.data(), static_cast<int64_t>(b.bytes.size()), b.soundData, b.sampleTable);
  ASSERT_TRUE(sounds.plausible());
  const InstrumentSet set = instrumentSetOf(sounds);
  std::string text;
  {
    JsonWriter json(text);
    writeEadJsonDocument(sounds, set, {"game.z64", 8388608, ByteOrder::AsStored}, json);
  }
  EXPECT_EQ(test::readFileText(ZAFT_SOURCE_DIR "/tests/golden/ead_small.json"), text);
}

// Problems and unreadable records are written too, never a bogus value.
TEST(EadJsonTest, DescribesProblems) {
  test::BuiltEadSet b = test::buildEadSet(smallSet());
  b.bytes[static_cast<size_t>(b.bankAt[0] + 16 + 4 + 3)] ^= 0xFF;  // slot 0's pointer
  const EadSoundData sounds =
      readEadSoundData(b.bytes.data(), static_cast<int64_t>(b.bytes.size()), b.soundData, b.sampleTable);
  std::string text;
  {
    JsonWriter json(text);
    writeEadJsonDocument(sounds, instrumentSetOf(sounds), {"game.z64", 1, ByteOrder::AsStored}, json);
  }
  EXPECT_NE(text.find("\"plausible\": false"), std::string::npos);
  EXPECT_NE(text.find("\"instruments\": [null, null]"), std::string::npos);
  EXPECT_NE(text.find("bank 0: instrument slot 0: pointer 0x1FF is not a multiple of 4"), std::string::npos);
}

}  // namespace
}  // namespace zaft
