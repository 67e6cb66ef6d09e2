#include "bank/libultra/struct_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace zaft {
namespace {

struct NameCase {
  const char* templ;
  StructKind kind;
  WalkIndices at;  // bank, instrument, sound
  int32_t newIndex;
  std::string expected;
};

// Each name is built into a buffer full of 'X', so a missing terminator or
// a byte written past the name shows.
void expectNames(const std::vector<NameCase>& cases) {
  for (const NameCase& c : cases) {
    char name[32];
    std::memset(name, 'X', sizeof name);
    buildStructName(c.templ, c.kind, recordTag(c.kind), c.newIndex, c.at, name);
    const size_t length = strnlen(name, sizeof name);
    ASSERT_LT(length, sizeof name) << "unterminated: \"" << c.templ << '"';
    EXPECT_EQ(std::string(name, length), c.expected) << '"' << c.templ << '"';
  }
}

TEST(NamingTest, DirectivesHonourWidthsAndTheKindsTheyApplyTo) {
  const WalkIndices at{2, 3, 1};
  expectNames({
      {"%b_%t", StructKind::Bank, at, 2, "2_Bank"},
      {"%b_%t", StructKind::BankFile, at, 1, "_File"},
      {"%2i%2s", StructKind::Sound, at, 4, "0301Sound"},
      {"%t%3c", StructKind::BankFile, at, 1, "File000"},
      {"%t%3c", StructKind::Sound, at, 12, "Sound011"},
      {"%i", StructKind::Instrument, at, 3, "3Inst"},
      {"%3i", StructKind::Instrument, at, 3, "003Inst"},
      {"%1i", StructKind::Instrument, {2, 12, 1}, 3, "12Inst"},
      // The width digits of a directive that produces nothing are consumed.
      {"%3b%4i%5s-", StructKind::BankFile, at, 1, "-File"},
      {"%4i%5s-", StructKind::Bank, at, 2, "-Bank"},
      {"%5s-", StructKind::Instrument, at, 3, "-Inst"},
      // Digits given to %t are read and dropped; literal text is copied.
      {"x%7ty", StructKind::KeyMap, at, 6, "xKeymy"},
  });
}

TEST(NamingTest, UnknownAndUnfinishedDirectivesAreWrittenBack) {
  const WalkIndices at{};
  expectNames({
      {"%q", StructKind::BankFile, at, 1, "%0qFile"},
      {"%%", StructKind::BankFile, at, 1, "%0%File"},
      {"%B%t", StructKind::Bank, at, 2, "%0BBank"},
      {"%2q", StructKind::BankFile, at, 1, "%2qFile"},
      {"%05q", StructKind::BankFile, at, 1, "%05qFile"},
      {"", StructKind::BankFile, at, 1, "File"},
      {"", StructKind::Envelope, at, 5, "Envp"},
      // Cut by the template's end: nothing past the template is read.
      {"ab%", StructKind::Bank, at, 2, "ab%Bank"},
      {"ab%3", StructKind::Bank, at, 2, "ab%3Bank"},
      {"%t%", StructKind::Bank, at, 2, "Bank%"},
  });
}

TEST(NamingTest, StopsPastTwentyFiveCharactersAndStaysWithinThirtyOne) {
  const WalkIndices at{0, 7, 0};
  expectNames({
      // 26 characters written: the walk stops before %t, the tag is appended.
      {"abcdefghijklmnopqrstuvwxyz%t", StructKind::Bank, at, 2, "abcdefghijklmnopqrstuvwxyzBank"},
      // 25 are not yet more than 25: %t still comes, then the stop.
      {"abcdefghijklmnopqrstuvwxy%tZZ", StructKind::Bank, at, 2, "abcdefghijklmnopqrstuvwxyBank"},
      {"abcdefghijklmnopqrstuvwxyz%9c", StructKind::Sound, at, 2,
       "abcdefghijklmnopqrstuvwxyzSound"},
      // A wide number passes the mark in one step; the name is cut at 31.
      {"%30i%t", StructKind::Instrument, at, 3, std::string(29, '0') + "7I"},
      {"%40i", StructKind::Instrument, at, 3, std::string(31, '0')},
      {"%99999999999i", StructKind::Instrument, at, 3, std::string(31, '0')},
  });
}

EnterResult enter(StructTable& table, BankCounters& counters, StructKind kind, uint32_t offset,
                  const WalkIndices& at = {}) {
  return enterStruct(table, counters, kind, offset, "%t%2i%2s", at);
}

TEST(StructTableTest, NullEntryFirstThenOneEntryPerNewOffset) {
  StructTable table;
  BankCounters counters;
  ASSERT_EQ(table.size(), 1);
  EXPECT_EQ(table[0].name, "NULL");
  EXPECT_EQ(table[0].fileOffset, 0u);

  // Named from the default template, as instrument 3, sound 1 would name them.
  const char* names[] = {"File",     "Bank",     "Inst03",   "Sound0301", "Wave0301",
                         "Keym0301", "Envp0301", "Loop0301", "Loop0301",  "Book0301"};
  for (int32_t k = 0; k < 10; ++k) {
    const StructKind kind = static_cast<StructKind>(k);
    const EnterResult r = enter(table, counters, kind, 0x10 * (k + 1u), {1, 3, 1});
    EXPECT_EQ(r.index, k + 1);
    EXPECT_TRUE(r.isNew);
    EXPECT_FALSE(r.full);
    const StructEntry& e = table[r.index];
    EXPECT_EQ(e.name, names[k]);
    EXPECT_EQ(e.kind, kind);
    EXPECT_EQ(e.fileOffset, 0x10u * (k + 1));
    // The record variant lists the kinds in their numeric order.
    EXPECT_EQ(e.data.index(), static_cast<size_t>(k) + 1) << names[k];
  }
  EXPECT_EQ(counters.structCount, 11);
  EXPECT_EQ(counters.banks, 1);
  EXPECT_EQ(counters.instruments, 1);
  EXPECT_EQ(counters.sounds, 1);
  EXPECT_EQ(counters.reusedRefs, 0);

  // recordAt answers only for an entry of the asked kind inside the table.
  EXPECT_NE(table.recordAt<ALBank>(2), nullptr);
  EXPECT_EQ(table.recordAt<ALSound>(2), nullptr);
  for (int32_t outside : {-1, 0, 11}) EXPECT_EQ(table.recordAt<ALBankFile>(outside), nullptr);
}

TEST(StructTableTest, FirstEntryAtAnOffsetAnswersWhateverKindIsAsked) {
  StructTable table;
  BankCounters counters;
  const EnterResult loop = enter(table, counters, StructKind::AdpcmLoop, 0x40);
  const EnterResult asRaw = enter(table, counters, StructKind::RawLoop, 0x40);
  const EnterResult asSound = enter(table, counters, StructKind::Sound, 0x40);
  EXPECT_FALSE(asRaw.isNew);
  EXPECT_EQ(asRaw.index, loop.index);
  EXPECT_EQ(asSound.index, loop.index);
  EXPECT_EQ(table[loop.index].kind, StructKind::AdpcmLoop);
  EXPECT_EQ(counters.reusedRefs, 2);
  EXPECT_EQ(counters.sounds, 0);
  EXPECT_EQ(counters.structCount, 2);
  // Offset 0 is an ordinary offset: entry 0 never answers a lookup.
  const EnterResult atZero = enter(table, counters, StructKind::BankFile, 0);
  EXPECT_TRUE(atZero.isNew);
  EXPECT_EQ(atZero.index, 2);
}

TEST(StructTableTest, FullTableOnlyRefusesANewRecord) {
  StructTable table;
  BankCounters counters;
  for (uint32_t offset = 1; offset < StructTable::kCapacity; ++offset) {
    ASSERT_TRUE(enter(table, counters, StructKind::Envelope, offset).isNew);
  }
  EXPECT_EQ(counters.structCount, 4096);
  const EnterResult known = enter(table, counters, StructKind::Envelope, 100);
  EXPECT_FALSE(known.isNew);
  EXPECT_FALSE(known.full);
  EXPECT_EQ(known.index, 100);
  const EnterResult refused = enter(table, counters, StructKind::Sound, 5000);
  EXPECT_TRUE(refused.full);
  EXPECT_FALSE(refused.isNew);
  EXPECT_EQ(refused.index, 0);
  EXPECT_EQ(table.size(), 4096);
  EXPECT_EQ(counters.structCount, 4096);
  EXPECT_EQ(counters.sounds, 0);
  EXPECT_EQ(counters.reusedRefs, 1);
}

}  // namespace
}  // namespace zaft
