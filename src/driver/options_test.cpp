#include "driver/options.h"

#include <gtest/gtest.h>

#include "driver/fatal.h"

namespace zaft {
namespace {

RunSettings settingsFor(std::vector<std::string> args) {
  args.insert(args.begin(), "zaft");
  RunSettings s;
  initRunSettings(s, args);
  return s;
}

TEST(OptionsTest, FindOptionTakesTheFirstExactCaseSensitiveMatch) {
  RunSettings s = settingsFor({"/C", "/cx", "-c", "/c", "1", "/c", "2", "rom"});
  EXPECT_EQ(findOption(s, "c"), 4);
  EXPECT_EQ(findOption(s, "q"), 0);
  EXPECT_EQ(findOption(settingsFor({}), "c"), 0);
  // The last argument is the ROM name and an option at once.
  EXPECT_EQ(findOption(settingsFor({"/q"}), "q"), 1);
}

TEST(OptionsTest, ValueAcceptance) {
  int32_t v = 77;
  // The option as the last argument has no value.
  EXPECT_EQ(optionInt(settingsFor({"rom", "/c"}), "c", v), 0);
  // A value that begins with "/" is not a value, and stays an option itself.
  RunSettings s = settingsFor({"/c", "/q", "rom"});
  EXPECT_EQ(optionInt(s, "c", v), 0);
  EXPECT_EQ(findOption(s, "q"), 2);
  EXPECT_EQ(v, 77);
  // The first occurrence decides, even when only a later one has a value.
  EXPECT_EQ(optionInt(settingsFor({"/c", "/q", "/c", "200", "rom"}), "c", v), 0);
  EXPECT_EQ(v, 77);
  // An empty value is accepted; text is copied whole.
  std::string text = "keep";
  EXPECT_EQ(optionText(settingsFor({"/n", "", "rom"}), "n", text), 1);
  EXPECT_EQ(text, "");
  // The ROM name right after the option is its value.
  EXPECT_EQ(optionInt(settingsFor({"/c", "game.z64"}), "c", v), 1);
  EXPECT_EQ(v, 0);
}

TEST(OptionsTest, IntegerConversions) {
  struct Case { const char* text; int32_t expected; bool stored; };
  const Case cases[] = {
      {"100", 100, true},       {"0x1A2B", 0x1A2B, true}, {"0x1a2b", 0x1A2B, true},
      {"0X1A2B", 0, true},      {"0x", 0, false},         {"0xzz", 0, false},
      {"abc", 0, true},         {"12abc", 12, true},      {" -5", -5, true},
      {"0x10", 16, true},       {"+7", 7, true},          {"0x -1F", -31, true},
      {"2147483647", 2147483647, true}, {"-2147483648", INT32_MIN, true},
      {"0x7FFFFFFF", 0x7FFFFFFF, true},
  };
  for (const Case& c : cases) {
    int32_t v = 999;
    bool stored = false;
    EXPECT_TRUE(parseOptionInt(c.text, v, stored)) << c.text;
    EXPECT_EQ(stored, c.stored) << c.text;
    EXPECT_EQ(v, c.stored ? c.expected : 999) << c.text;
  }
  for (const char* outOfRange : {"2147483648", "-2147483649", "0xFFFFFFFF", "99999999999999999999"}) {
    int32_t v = 0;
    bool stored = true;
    EXPECT_FALSE(parseOptionInt(outOfRange, v, stored)) << outOfRange;
  }
}

TEST(OptionsTest, OutOfRangeValueIsRefusedNamingOptionAndValue) {
  int32_t v = 0;
  try {
    optionInt(settingsFor({"/f", "0x100000000", "rom"}), "f", v);
    FAIL();
  } catch (const FatalError& e) {
    EXPECT_STREQ(e.what(),
                 "Value of /f is out of range (a signed 32-bit number is expected): 0x100000000\n");
  }
}

TEST(OptionsTest, RealConversions) {
  struct Case { const char* text; double expected; };
  const Case cases[] = {{"1.5", 1.5}, {"abc", 0.0}, {"-2e1", -20.0}, {".5", 0.5},
                        {"3x", 3.0},  {"inf", 0.0}, {"nan", 0.0},    {"0x10", 0.0}};
  for (const Case& c : cases) {
    double v = 99.0;
    EXPECT_TRUE(parseOptionReal(c.text, v)) << c.text;
    EXPECT_DOUBLE_EQ(v, c.expected) << c.text;
  }
  double v = 0;
  EXPECT_FALSE(parseOptionReal("1e999", v));
  EXPECT_EQ(optionReal(settingsFor({"/a", "abc", "rom"}), "a", v), 1);
  EXPECT_EQ(v, 0.0);
}

}  // namespace
}  // namespace zaft
