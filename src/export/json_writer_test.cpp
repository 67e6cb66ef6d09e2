#include "export/json_writer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using Layout = JsonWriter::Layout;

std::string escaped(std::string_view text) {
  std::string out;
  appendJsonString(out, text);
  return out;
}

TEST(JsonWriterTest, EscapesQuotesBackslashesAndControlCharacters) {
  const char* const cases[][2] = {
      {"plain text /", R"("plain text /")"},
      {"say \"hi\" \\ bye", R"("say \"hi\" \\ bye")"},
      {"\n\t\r\b\f", R"("\n\t\r\b\f")"},
      {"", R"("")"},
  };
  for (const auto& c : cases) EXPECT_EQ(escaped(c[0]), c[1]);
  EXPECT_EQ(escaped(std::string("a\0b\x01\x1F\x7F", 6)), R"("a\u0000b\u0001\u001f\u007f")");
}

TEST(JsonWriterTest, CopiesValidUtf8AndEscapesEveryOtherHighByte) {
  const char* const cases[][2] = {
      {"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"\xFF\x80\xFE", R"("\u00ff\u0080\u00fe")"},
      // Overlong forms, a surrogate, a code point past U+10FFFF, leads F5..FF.
      {"\xC0\x80", R"("\u00c0\u0080")"},
      {"\xC1\xBF", R"("\u00c1\u00bf")"},
      {"\xE0\x9F\x80", R"("\u00e0\u009f\u0080")"},
      {"\xF0\x8F\xBF\xBF", R"("\u00f0\u008f\u00bf\u00bf")"},
      {"\xED\xA0\x80", R"("\u00ed\u00a0\u0080")"},
      {"\xF4\x90\x80\x80", R"("\u00f4\u0090\u0080\u0080")"},
      {"\xF5\x80\x80\x80", R"("\u00f5\u0080\u0080\u0080")"},
      // The limits that are valid.
      {"\xED\x9F\xBF\xF4\x8F\xBF\xBF\xC2\x80", "\"\xED\x9F\xBF\xF4\x8F\xBF\xBF\xC2\x80\""},
      // Cut short, by the end or by an ASCII byte.
      {"a\xE2\x82", R"("a\u00e2\u0082")"},
      {"\xE2\x82\x41\xF0\x9F\x98", R"("\u00e2\u0082A\u00f0\u009f\u0098")"},
      // Line and paragraph separators: valid, but not raw in JavaScript source.
      {"\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xAA", "\"\\u2028\\u2029\xE2\x80\xAA\""},
  };
  for (const auto& c : cases) EXPECT_EQ(escaped(c[0]), c[1]);
}

// Every single byte and a few thousand random byte strings, loaded back by
// Python's strict UTF-8 and JSON readers, give what the rule says: valid
// UTF-8 as UTF-8, every other byte as the Latin-1 character of its value.
TEST(JsonWriterTest, PythonReadsEveryByteStringBackAsDocumented) {
  ZAFT_SKIP_WITHOUT_SHELL();
  std::vector<std::string> samples;
  for (int b = 0; b < 256; ++b) samples.emplace_back(1, static_cast<char>(b));
  std::mt19937 rng(11);
  const char pool[] = {'\x00', '\x1F', '"',    '\\',   'A',    '\x7F', '\x80', '\xBF',
                       '\xC2', '\xDF', '\xE0', '\xA0', '\xED', '\x9F', '\xEF', '\xF0',
                       '\x90', '\xF4', '\x8F', '\xF5', '\xFF', '\xE2', '\xA8'};
  for (int n = 0; n < 3000; ++n) {
    std::string s;
    for (int k = static_cast<int>(rng() % 9); k > 0; --k) {
      s += rng() % 3 == 0 ? static_cast<char>(rng()) : pool[rng() % sizeof pool];
    }
    samples.push_back(s);
  }
  std::string doc, hexes;
  {
    JsonWriter json(doc);
    json.beginArray();
    for (const std::string& s : samples) {
      json.string(s);
      hexes += 'x';
      for (char c : s) {
        hexes += "0123456789abcdef"[static_cast<uint8_t>(c) >> 4];
        hexes += "0123456789abcdef"[static_cast<uint8_t>(c) & 15];
      }
      hexes += '\n';
    }
    json.endArray();
    json.finish();
  }
  // Python reads the two texts from files.
  test::TempDir dir;
  test::writeFile(dir.file("doc.json"), std::vector<uint8_t>(doc.begin(), doc.end()));
  test::writeFile(dir.file("hex.txt"), std::vector<uint8_t>(hexes.begin(), hexes.end()));
  const std::string script =
      "import json, sys\n"
      "def decode(b):\n"
      "    s = b.decode(\"utf-8\", \"surrogateescape\")\n"
      "    return \"\".join(chr(ord(c) - 0xDC00) if 0xDC80 <= ord(c) <= 0xDCFF else c for c in s)\n"
      "doc = json.load(open(sys.argv[1], encoding=\"utf-8\"))\n"
      "hexes = [h[1:] for h in open(sys.argv[2]).read().split()]\n"
      "bad = [h for h, v in zip(hexes, doc) if decode(bytes.fromhex(h)) != v]\n"
      "print(len(doc), len(hexes), bad[:5])\n";
  const test::RunResult r = test::runShell("python3 -c '" + script + "' " + dir.file("doc.json") +
                                           " " + dir.file("hex.txt") + " 2>&1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::to_string(samples.size()) + " " + std::to_string(samples.size()) + " []\n");
}

TEST(JsonWriterTest, NumbersKeepTheirSignAtTheLimits) {
  std::string text;
  JsonWriter json(text);
  json.beginArray(Layout::Inline);
  for (int64_t v : {int64_t{INT32_MIN}, int64_t{INT32_MAX}, int64_t{-1}, int64_t{0},
                    int64_t{UINT32_MAX}, int64_t{INT64_MIN}, int64_t{INT64_MAX}}) {
    json.number(v);
  }
  json.endArray();
  json.finish();
  EXPECT_EQ(text,
            "[-2147483648, 2147483647, -1, 0, 4294967295, -9223372036854775808, "
            "9223372036854775807]\n");
}

// Commas, two blanks per level in a Block container, one line for an Inline
// one and everything inside it, empty containers on one line.
TEST(JsonWriterTest, CommasIndentationAndEmptyContainers) {
  std::string text;
  JsonWriter json(text);
  json.beginObject();
  json.key("a").number(1);
  json.key("empty").beginObject().endObject();
  json.key("list").beginArray(Layout::Inline).number(1).string("x").null();
  json.beginObject(Layout::Block).key("k").boolean(true).key("f").boolean(false).endObject();
  json.beginArray().endArray().endArray();
  json.key("block").beginArray().number(2).beginArray().endArray();
  json.beginObject().key("deep").beginArray().number(3).endArray().endObject().endArray();
  json.key("esc\"aped").null();
  json.endObject();
  json.finish();
  EXPECT_EQ(text,
            "{\n"
            "  \"a\": 1,\n"
            "  \"empty\": {},\n"
            "  \"list\": [1, \"x\", null, {\"k\": true, \"f\": false}, []],\n"
            "  \"block\": [\n"
            "    2,\n"
            "    [],\n"
            "    {\n"
            "      \"deep\": [\n"
            "        3\n"
            "      ]\n"
            "    }\n"
            "  ],\n"
            "  \"esc\\\"aped\": null\n"
            "}\n");
}

// The sink writer buffers; what reaches the sink is the same bytes, also
// past the buffer's size and when the writer goes without finish().
TEST(JsonWriterTest, SinkOutputMatchesTextOutput) {
  const auto build = [](JsonWriter& json, bool finish) {
    json.beginArray();
    for (int i = 0; i < 30000; ++i) json.number(i * 7919 - 100000);
    json.endArray();
    if (finish) json.finish();
  };
  std::string text;
  {
    JsonWriter json(text);
    build(json, true);
  }
  ASSERT_GT(text.size(), 64u * 1024u);
  MemorySink finished, unfinished;
  {
    JsonWriter json(finished);
    build(json, true);
  }
  {
    JsonWriter json(unfinished);
    build(json, false);
  }
  EXPECT_EQ(finished.text(), text);
  EXPECT_EQ(unfinished.text() + "\n", text);
}

}  // namespace
}  // namespace zaft
