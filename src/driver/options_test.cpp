#include "driver/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "util/fatal.h"
#include "util/reporter.h"

namespace zaft {
namespace {

using Args = std::vector<std::string>;

// The tool's name first, as the command line hands it over.
Args argsOf(Args args) {
  args.insert(args.begin(), "zaft");
  return args;
}

// The FatalError message of `f`, or "" when it returns.
template <typename F> std::string refusal(F f) {
  try {
    f();
  } catch (const FatalError& e) {
    return e.what();
  }
  return "";
}

TEST(Options, FindOptionTakesTheFirstExactCaseSensitiveMatch) {
  const Args args = argsOf({"/C", "/cx", "-c", "c", "/c", "1", "/c", "2", "rom"});
  EXPECT_EQ(findOption(args, "c"), 5);
  EXPECT_EQ(findOption(args, "q"), 0);
  EXPECT_EQ(findOption(argsOf({}), "c"), 0);
  EXPECT_EQ(findOption(Args{"/c"}, "c"), 0);  // the tool's own name is no option
  // The last argument is the ROM name and an option at once.
  EXPECT_EQ(findOption(argsOf({"/q"}), "q"), 1);
}

TEST(Options, ValueAcceptance) {
  int32_t v = 77;
  // The option as the last argument has no value.
  EXPECT_EQ(optionInt(argsOf({"rom", "/c"}), "c", v), 0);
  // A value that begins with "/" is not a value, and stays an option itself.
  const Args slash = argsOf({"/c", "/q", "rom"});
  EXPECT_EQ(optionInt(slash, "c", v), 0);
  EXPECT_EQ(findOption(slash, "q"), 2);
  // The first occurrence decides, even when only a later one has a value.
  EXPECT_EQ(optionInt(argsOf({"/c", "/q", "/c", "200", "rom"}), "c", v), 0);
  EXPECT_EQ(v, 77);
  // An empty value is accepted; text is copied whole.
  std::string text = "keep";
  EXPECT_EQ(optionText(argsOf({"/n", "", "rom"}), "n", text), 1);
  EXPECT_EQ(text, "");
  EXPECT_EQ(optionText(argsOf({"/x", "/n", "a b%c", "rom"}), "n", text), 2);
  EXPECT_EQ(text, "a b%c");
  // The ROM name right after the option is its value.
  EXPECT_EQ(optionInt(argsOf({"/c", "game.z64"}), "c", v), 1);
  EXPECT_EQ(v, 0);
}

TEST(Options, IntegerConversions) {
  struct Case { const char* text; int32_t expected; bool stored; };
  const Case cases[] = {
      {"100", 100, true},       {"0x1A2B", 0x1A2B, true}, {"0x1a2b", 0x1A2B, true},
      {"0X1A2B", 0, true},      {"0x", 0, false},         {"0xzz", 0, false},
      {"abc", 0, true},         {"12abc", 12, true},      {" -5", -5, true},
      {"0x10", 16, true},       {"+7", 7, true},          {"0x -1F", -31, true},
      {"", 0, true},            {"2147483647", 2147483647, true},
      {"-2147483648", INT32_MIN, true},                   {"0x7FFFFFFF", 0x7FFFFFFF, true},
      {"-0x10", 0, true},  // only "0x" at the very start is hexadecimal
  };
  for (const Case& c : cases) {
    int32_t v = 999;
    bool stored = false;
    EXPECT_TRUE(parseOptionInt(c.text, v, stored)) << c.text;
    EXPECT_EQ(stored, c.stored) << c.text;
    EXPECT_EQ(v, c.stored ? c.expected : 999) << c.text;
  }
  for (const char* outOfRange :
       {"2147483648", "-2147483649", "0xFFFFFFFF", "99999999999999999999",
        "18446744073709551616", "0x10000000000000001"}) {
    int32_t v = 0;
    bool stored = true;
    EXPECT_FALSE(parseOptionInt(outOfRange, v, stored)) << outOfRange;
  }
}

TEST(Options, RealConversions) {
  struct Case { const char* text; double expected; };
  const Case cases[] = {{"1.5", 1.5}, {"abc", 0.0}, {"-2e1", -20.0}, {".5", 0.5}, {"3x", 3.0},
                        {"inf", 0.0}, {"nan", 0.0}, {"0x10", 0.0},   {" +4", 4.0}, {".", 0.0}};
  for (const Case& c : cases) {
    double v = 99.0;
    EXPECT_TRUE(parseOptionReal(c.text, v)) << c.text;
    EXPECT_DOUBLE_EQ(v, c.expected) << c.text;
  }
  double v = 0;
  EXPECT_FALSE(parseOptionReal("1e999", v));
  EXPECT_EQ(optionReal(argsOf({"/a", "abc", "rom"}), "a", v), 1);
  EXPECT_EQ(v, 0.0);
}

TEST(Options, Defaults) {
  CollectingReporter report;
  const Settings s = parseOptions(argsOf({"rom.z64"}), report);
  EXPECT_EQ(s.romPath, "rom.z64");
  EXPECT_FALSE(s.ctlGiven || s.tbl.has_value() || s.extractAll || s.samplerChunk || s.searchSampleBlock);
  EXPECT_TRUE(s.verbose);
  EXPECT_EQ(s.fieldWidth, 10);
  EXPECT_EQ(s.nameTemplate, "%t%2i%2s");
  EXPECT_EQ(s.rateRatio, 1.0);
  EXPECT_EQ(s.headerName, "CONTROL.H");
  EXPECT_EQ(s.outputDir + s.jsonName, "");
  // One thread per core, at most 4.
  EXPECT_EQ(s.threads, std::clamp<int>(static_cast<int>(std::thread::hardware_concurrency()), 1, 4));
}

// The ROM name and every setting that differs from its default.
std::string describe(const Settings& s) {
  const Settings d;
  std::string text = "rom=" + s.romPath;
  auto add = [&](bool differs, const std::string& item) {
    if (differs) text += " " + item;
  };
  add(s.ctlGiven || s.ctlOffset != 0, formatText("c=%d:%d", s.ctlGiven, s.ctlOffset));
  add(s.tbl.has_value(), s.tbl ? formatText("t=1:%d", s.tbl->offset) : "");
  add(!s.verbose, "q");
  add(s.fieldWidth != d.fieldWidth, formatText("f=%d", s.fieldWidth));
  add(s.nameTemplate != d.nameTemplate, "n=" + s.nameTemplate);
  add(s.rateRatio != d.rateRatio, formatText("a=%g", s.rateRatio));
  add(s.headerName != d.headerName, "o=" + s.headerName);
  add(!s.outputDir.empty(), "d=" + s.outputDir);
  add(s.extractAll, "x");
  add(s.samplerChunk, "l");
  add(!s.jsonName.empty(), "j=" + s.jsonName);
  add(s.searchSampleBlock, "g");
  add(s.unlimitedOutput, "u");
  CollectingReporter quiet;
  add(s.threads != parseOptions({"zaft", "rom"}, quiet).threads, formatText("p=%d", s.threads));
  return text;
}

TEST(Options, SettingsFromTheCommandLine) {
  struct Case { Args args; std::string settings; std::string warning = ""; };
  const Case cases[] = {
      {{"/c", "0x10", "/t", "32", "/q", "/f", "7", "/n", "%c", "/a", "0.5", "/o", "H.H", "/d",
        "out", "/x", "/l", "/j", "b.json", "/g", "rom"},
       "rom=rom c=1:16 t=1:32 q f=7 n=%c a=0.5 o=H.H d=out x l j=b.json g"},
      // "0x" stores nothing but counts; a value that is no number reads as 0.
      {{"/c", "0x", "rom"}, "rom=rom c=1:0"},
      {{"/t", "abc", "rom"}, "rom=rom t=1:0"},
      {{"/n", "", "/a", "inf", "/f", "-3", "rom"}, "rom=rom f=-3 n= a=0"},
      // The ROM name right after /d is its value.
      {{"/d", "rom"}, "rom=rom d=rom"},
      // A last argument that is also an option: it is the ROM name too.
      {{"/q"}, "rom=/q q"},
      {{"rom", "/d"}, "rom=/d"},
      // Only the first occurrence counts; unknown options and strays are ignored.
      {{"/c", "16", "/c", "32", "/Q", "stray", "/y", "rom"}, "rom=rom c=1:16"},
      // The output folder may be absolute, unless it looks like an option:
      // then the files go into the current folder, with a word.
      {{"/d", "/tmp/out", "rom"}, "rom=rom d=/tmp/out"},
      {{"/d", "/x", "rom"}, "rom=rom x",
       "Warning: /d takes no value \"/x\" (it reads as an option); the files go into the "
       "current folder\n"},
      {{"/d", "/", "rom"}, "rom=rom",
       "Warning: /d takes no value \"/\" (it reads as an option); the files go into the current "
       "folder\n"},
      {{"/u", "rom"}, "rom=rom u"},
      {{"/p", "5", "rom"}, "rom=rom p=5"},
      // /s and /j with nothing to name their file: said, not silently dropped.
      {{"/s", "", "rom"}, "rom=rom",
       "Warning: /s has no usable value (\"\" is no file name); no soundfont is written\n"},
      {{"/s", "/l", "rom"}, "rom=rom l",
       "Warning: /s has no usable value (\"/l\" reads as an option); no soundfont is written\n"},
      {{"/j", "/x", "rom"}, "rom=rom x",
       "Warning: /j has no usable value (\"/x\" reads as an option); no JSON document is "
       "written\n"},
  };
  for (const Case& c : cases) {
    CollectingReporter report;
    EXPECT_EQ(describe(parseOptions(argsOf(c.args), report)), c.settings);
    EXPECT_EQ(report.errText(), c.warning);
  }
}

TEST(Options, HeaderNameThatLooksLikeAnOptionIsWarnedAbout) {
  struct Case { Args args; std::string header; std::string warning; };
  const Case cases[] = {
      {{"/o", "/abs/H.H", "rom"}, "CONTROL.H",
       "Warning: /o takes no value that begins with \"/\" (/abs/H.H); the header keeps its "
       "default name\n"},
      {{"/o", "/q", "rom"}, "CONTROL.H", ""},
      {{"/o", "rom"}, "rom", ""},
  };
  for (const Case& c : cases) {
    CollectingReporter report;
    EXPECT_EQ(parseOptions(argsOf(c.args), report).headerName, c.header) << c.args[1];
    EXPECT_EQ(report.errText(), c.warning);
    EXPECT_EQ(report.outText(), "");
  }
}

// An absolute document path after /j must not leave the run without its
// document and without a word: it is either taken, or warned about as /o's is.
TEST(Options, JsonPathThatBeginsWithASlashIsNotDroppedSilently) {
  CollectingReporter report;
  const Settings s = parseOptions(argsOf({"/j", "/abs/doc.json", "rom"}), report);
  EXPECT_TRUE(s.jsonName == "/abs/doc.json" ||
              report.errText().find("(/abs/doc.json)") != std::string::npos)
      << "jsonName \"" << s.jsonName << "\", messages \"" << report.errText() << "\"";
}

TEST(Options, UnsafeValuesAreRefused) {
  struct Case { Args args; std::string message; };
  const Case cases[] = {
      {{"/c", "-16", "rom"}, "Offset given with /c must not be negative: -16\n"},
      {{"/t", "0x-10", "rom"}, "Offset given with /t must not be negative: 0x-10\n"},
      // /t is looked at first.
      {{"/c", "-2", "/t", "-1", "rom"}, "Offset given with /t must not be negative: -1\n"},
      {{"/c", "4294967296", "rom"},
       "Value of /c is out of range (a signed 32-bit number is expected): 4294967296\n"},
      {{"/f", "0x100000000", "rom"},
       "Value of /f is out of range (a signed 32-bit number is expected): 0x100000000\n"},
      {{"/a", "1e999", "rom"}, "Value of /a is out of range: 1e999\n"},
      {{"/n", std::string(32, 'x'), "rom"},
       std::string("The /n template is too long (at most 31 characters): ") + std::string(32, 'x') +
           "\n"},
      {{"/o", std::string(128, 'h'), "rom"},
       std::string("The /o header name is too long (at most 127 characters): ") +
           std::string(128, 'h') + "\n"},
      {{"/p", "0", "rom"}, "Value of /p must be between 1 and 64: 0\n"},
      {{"/p", "abc", "rom"}, "Value of /p must be between 1 and 64: abc\n"},
      {{"/p", "65", "rom"}, "Value of /p must be between 1 and 64: 65\n"},
      // The limits themselves are accepted.
      {{"/n", std::string(31, 'x'), "/o", std::string(127, 'h'), "/c", "0", "/t", "0", "/p",
        "64", "rom"},
       ""},
  };
  for (const Case& c : cases) {
    CollectingReporter report;
    EXPECT_EQ(refusal([&] { parseOptions(argsOf(c.args), report); }), c.message);
  }
}

}  // namespace
}  // namespace zaft
