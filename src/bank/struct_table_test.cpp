#include "bank/struct_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <variant>

#include "driver/fatal.h"
#include "driver/run_context.h"
#include "rom/rom_stream.h"

namespace zaft {
namespace {

class StructNameTest : public ::testing::Test {
 protected:
  std::string name(const char* templ, StructKind kind, const char* tag, int32_t newIndex = 1) {
    std::snprintf(ctx.settings.nameTemplate, sizeof ctx.settings.nameTemplate, "%s", templ);
    char out[32];
    std::memset(out, 'X', sizeof out);
    buildStructName(ctx, kind, tag, newIndex, out);
    EXPECT_LE(std::strlen(out), 31u);
    return out;
  }
  RunContext ctx;
};

TEST_F(StructNameTest, DefaultTemplateNamesEachKind) {
  ctx.walk.curBank = 1;
  ctx.walk.curInst = 3;
  ctx.walk.curSound = 1;
  const char* t = "%t%2i%2s";
  EXPECT_EQ(name(t, StructKind::BankFile, "File"), "File");
  EXPECT_EQ(name(t, StructKind::Bank, "Bank"), "Bank");
  EXPECT_EQ(name(t, StructKind::Instrument, "Inst"), "Inst03");
  EXPECT_EQ(name(t, StructKind::Sound, "Sound"), "Sound0301");
  EXPECT_EQ(name(t, StructKind::WaveTable, "Wave"), "Wave0301");
  EXPECT_EQ(name(t, StructKind::RawLoop, "Loop"), "Loop0301");
  EXPECT_EQ(name(t, StructKind::AdpcmBook, "Book"), "Book0301");
}

TEST_F(StructNameTest, DirectivesHonourWidthsAndKindConditions) {
  ctx.walk.curBank = 2;
  ctx.walk.curInst = 3;
  ctx.walk.curSound = 1;
  EXPECT_EQ(name("%b_%t", StructKind::Bank, "Bank"), "2_Bank");
  EXPECT_EQ(name("%b_%t", StructKind::BankFile, "File"), "_File");
  EXPECT_EQ(name("%2i%2s", StructKind::Sound, "Sound"), "0301Sound");
  EXPECT_EQ(name("%t%3c", StructKind::BankFile, "File", 1), "File000");
  EXPECT_EQ(name("%t%3c", StructKind::Sound, "Sound", 12), "Sound011");
  EXPECT_EQ(name("%i", StructKind::Instrument, "Inst"), "3Inst");
  EXPECT_EQ(name("%3i", StructKind::Instrument, "Inst"), "003Inst");
  ctx.walk.curInst = 12;
  EXPECT_EQ(name("%1i", StructKind::Instrument, "Inst"), "12Inst");
  // The width digits of a directive that produces nothing are consumed.
  EXPECT_EQ(name("%3b%4i%5s-", StructKind::BankFile, "File"), "-File");
  EXPECT_EQ(name("%4i%5s-", StructKind::Bank, "Bank"), "-Bank");
  EXPECT_EQ(name("%5s-", StructKind::Instrument, "Inst"), "-Inst");
  // Digits given to %t are read and dropped; a literal text is copied.
  EXPECT_EQ(name("x%7ty", StructKind::KeyMap, "Keym"), "xKeymy");
}

TEST_F(StructNameTest, UnknownDirectivesAreWrittenBack) {
  EXPECT_EQ(name("%q", StructKind::BankFile, "File"), "%0qFile");
  EXPECT_EQ(name("%%", StructKind::BankFile, "File"), "%0%File");
  EXPECT_EQ(name("%B%t", StructKind::Bank, "Bank"), "%0BBank");
  EXPECT_EQ(name("%2q", StructKind::BankFile, "File"), "%2qFile");
  EXPECT_EQ(name("%05q", StructKind::BankFile, "File"), "%05qFile");
}

TEST_F(StructNameTest, EmptyAndUnfinishedTemplates) {
  EXPECT_EQ(name("", StructKind::BankFile, "File"), "File");
  EXPECT_EQ(name("", StructKind::Envelope, "Envp"), "Envp");
  // A directive cut by the template's end is written back as text; nothing
  // past the template is read.
  EXPECT_EQ(name("ab%", StructKind::Bank, "Bank"), "ab%Bank");
  EXPECT_EQ(name("ab%3", StructKind::Bank, "Bank"), "ab%3Bank");
  EXPECT_EQ(name("%t%", StructKind::Bank, "Bank"), "Bank%");
}

TEST_F(StructNameTest, StopsAfterTwentyFiveCharactersAndAppendsTheTag) {
  // 26 characters written: the walk stops before %t, the tag is appended.
  EXPECT_EQ(name("abcdefghijklmnopqrstuvwxyz%t", StructKind::Bank, "Bank"),
            "abcdefghijklmnopqrstuvwxyzBank");
  // 25 characters are not yet more than 25: %t still comes, then the stop.
  EXPECT_EQ(name("abcdefghijklmnopqrstuvwxy%tZZ", StructKind::Bank, "Bank"),
            "abcdefghijklmnopqrstuvwxyBank");
  // A wide number passes the mark in one step; the name is cut to 31.
  ctx.walk.curInst = 7;
  EXPECT_EQ(name("%30i%t", StructKind::Instrument, "Inst"), std::string(29, '0') + "7I");
  EXPECT_EQ(name("%40i", StructKind::Instrument, "Inst"), std::string(31, '0'));
  EXPECT_EQ(name("abcdefghijklmnopqrstuvwxyz%9c", StructKind::Sound, "Sound", 2),
            "abcdefghijklmnopqrstuvwxyzSound");
}

class StructTableTest : public ::testing::Test {
 protected:
  StructTableTest() : rom(std::vector<uint8_t>(0x100, 0)) {
    ctx.rom = &rom;
    enterNullStruct(ctx);
  }
  EnterResult enterAt(int64_t pos, StructKind kind, const char* tag) {
    seekTo(rom, pos);
    return enterStruct(ctx, kind, tag);
  }
  RunContext ctx;
  RomStream rom;
};

TEST_F(StructTableTest, NullEntryAndNewEntries) {
  EXPECT_EQ(ctx.counters.structCount, 1);
  EXPECT_STREQ(ctx.table[0].name, "NULL");
  EXPECT_EQ(ctx.table[0].fileOffset, 0u);

  EnterResult file = enterAt(0, StructKind::BankFile, "File");
  EXPECT_EQ(file.index, 1);
  EXPECT_TRUE(file.isNew);
  EnterResult bank = enterAt(0x10, StructKind::Bank, "Bank");
  EnterResult inst = enterAt(0x20, StructKind::Instrument, "Inst");
  EnterResult sound = enterAt(0x30, StructKind::Sound, "Sound");
  EnterResult wave = enterAt(0x40, StructKind::WaveTable, "Wave");
  EXPECT_EQ(wave.index, 5);
  EXPECT_EQ(ctx.counters.structCount, 6);
  EXPECT_EQ(ctx.counters.banks, 1);
  EXPECT_EQ(ctx.counters.instruments, 1);
  EXPECT_EQ(ctx.counters.sounds, 1);
  EXPECT_EQ(ctx.counters.reusedRefs, 0);
  EXPECT_EQ(ctx.table[inst.index].kind, StructKind::Instrument);
  EXPECT_EQ(ctx.table[sound.index].fileOffset, 0x30u);
  EXPECT_STREQ(ctx.table[bank.index].name, "Bank");
  EXPECT_TRUE(std::holds_alternative<ALWaveTable>(ctx.table[wave.index].data));
  EXPECT_TRUE(std::holds_alternative<ALBank>(ctx.table[bank.index].data));
}

TEST_F(StructTableTest, FirstEntryAtAnOffsetAnswersWhateverKindIsAsked) {
  EnterResult loop = enterAt(0x40, StructKind::AdpcmLoop, "Loop");
  EnterResult again = enterAt(0x40, StructKind::RawLoop, "Loop");
  EnterResult asSound = enterAt(0x40, StructKind::Sound, "Sound");
  EXPECT_FALSE(again.isNew);
  EXPECT_EQ(again.index, loop.index);
  EXPECT_EQ(asSound.index, loop.index);
  EXPECT_EQ(ctx.table[loop.index].kind, StructKind::AdpcmLoop);
  EXPECT_EQ(ctx.counters.reusedRefs, 2);
  EXPECT_EQ(ctx.counters.sounds, 0);
  EXPECT_EQ(ctx.counters.structCount, 2);
  // Position 0 is an ordinary offset: entry 0 never answers a lookup.
  EnterResult atZero = enterAt(0, StructKind::BankFile, "File");
  EXPECT_TRUE(atZero.isNew);
  EXPECT_EQ(atZero.index, 2);
}

TEST_F(StructTableTest, FullTableOnlyStopsForANewRecord) {
  for (int64_t pos = 1; pos < StructTable::kCapacity; ++pos) {
    ASSERT_TRUE(enterAt(pos, StructKind::Envelope, "Envp").isNew);
  }
  EXPECT_EQ(ctx.counters.structCount, 4096);
  EnterResult known = enterAt(100, StructKind::Envelope, "Envp");
  EXPECT_FALSE(known.isNew);
  EXPECT_EQ(known.index, 100);
  try {
    enterAt(5000, StructKind::Envelope, "Envp");
    FAIL() << "a new record in a full table must stop the run";
  } catch (const FatalError& error) {
    EXPECT_STREQ(error.what(), "Ran out of struct space (max 4096)\n");
  }
  EXPECT_EQ(ctx.counters.structCount, 4096);
  EXPECT_EQ(ctx.table.size(), 4096);
}

}  // namespace
}  // namespace zaft
