#include "header/json_writer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bank/readers.h"
#include "driver/run_context.h"
#include "rom/rom_stream.h"
#include "support/bank_builder.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

#ifndef ZAFT_SOURCE_DIR
#define ZAFT_SOURCE_DIR "."
#endif

namespace zaft {
namespace {

using Layout = JsonWriter::Layout;

std::string escaped(std::string_view text) {
  std::string out;
  appendJsonString(out, text);
  return out;
}

std::string hexOf(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (char c : bytes) {
    out += digits[static_cast<uint8_t>(c) >> 4];
    out += digits[static_cast<uint8_t>(c) & 15];
  }
  return out;
}

// Python's reading of bytes under the documented rule: valid UTF-8 decodes as
// UTF-8, every other byte as the Latin-1 character of its value.
const char* const kPythonDecode =
    "def decode(b):\n"
    "    s = b.decode('utf-8', 'surrogateescape')\n"
    "    return ''.join(chr(ord(c) - 0xDC00) if 0xDC80 <= ord(c) <= 0xDCFF else c for c in s)\n";

// Runs `script` with python3 on the given arguments; gives its output.
test::RunResult runPython(const test::TempDir& dir, const std::string& script,
                          const std::string& args) {
  test::writeFile(dir.file("check.py"), std::vector<uint8_t>(script.begin(), script.end()));
  return test::runShell("python3 " + dir.file("check.py") + " " + args + " 2>&1");
}

void save(const std::string& path, const std::string& text) {
  test::writeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

TEST(JsonWriterTest, EscapesQuotesBackslashesAndControlCharacters) {
  EXPECT_EQ(escaped("plain text /"), R"("plain text /")");
  EXPECT_EQ(escaped("say \"hi\" \\ bye"), R"("say \"hi\" \\ bye")");
  EXPECT_EQ(escaped("\n\t\r\b\f"), R"("\n\t\r\b\f")");
  EXPECT_EQ(escaped(std::string("a\0b\x01\x1F\x7F", 6)), R"("a\u0000b\u0001\u001f\u007f")");
  EXPECT_EQ(escaped(""), R"("")");
}

TEST(JsonWriterTest, CopiesValidUtf8AndEscapesEveryOtherHighByte) {
  EXPECT_EQ(escaped("\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), "\"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"");
  EXPECT_EQ(escaped("\xFF\x80\xFE"), R"("\u00ff\u0080\u00fe")");
  // Overlong forms, a surrogate, a code point past U+10FFFF, leads F5..FF.
  EXPECT_EQ(escaped("\xC0\x80"), R"("\u00c0\u0080")");
  EXPECT_EQ(escaped("\xC1\xBF"), R"("\u00c1\u00bf")");
  EXPECT_EQ(escaped("\xE0\x9F\x80"), R"("\u00e0\u009f\u0080")");
  EXPECT_EQ(escaped("\xF0\x8F\xBF\xBF"), R"("\u00f0\u008f\u00bf\u00bf")");
  EXPECT_EQ(escaped("\xED\xA0\x80"), R"("\u00ed\u00a0\u0080")");
  EXPECT_EQ(escaped("\xF4\x90\x80\x80"), R"("\u00f4\u0090\u0080\u0080")");
  EXPECT_EQ(escaped("\xF5\x80\x80\x80"), R"("\u00f5\u0080\u0080\u0080")");
  // The limits that are valid.
  EXPECT_EQ(escaped("\xED\x9F\xBF\xF4\x8F\xBF\xBF\xC2\x80"), "\"\xED\x9F\xBF\xF4\x8F\xBF\xBF\xC2\x80\"");
  // Cut short, by the end or by an ASCII byte.
  EXPECT_EQ(escaped("a\xE2\x82"), R"("a\u00e2\u0082")");
  EXPECT_EQ(escaped("\xE2\x82\x41\xF0\x9F\x98"), R"("\u00e2\u0082A\u00f0\u009f\u0098")");
  // Line and paragraph separators: valid, but not raw in JavaScript source.
  EXPECT_EQ(escaped("\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xAA"), "\"\\u2028\\u2029\xE2\x80\xAA\"");
}

// Every single byte and a few thousand random byte strings, loaded back by
// Python's strict UTF-8 and JSON readers, give what the rule says.
TEST(JsonWriterTest, PythonReadsEveryByteStringBackAsDocumented) {
  std::vector<std::string> samples;
  for (int b = 0; b < 256; ++b) samples.emplace_back(1, static_cast<char>(b));
  std::mt19937 rng(11);
  const char pool[] = {'\x00', '\x1F', '"', '\\', 'A', '\x7F', '\x80', '\xBF', '\xC2', '\xDF',
                       '\xE0', '\xA0', '\xED', '\x9F', '\xEF', '\xF0', '\x90', '\xF4', '\x8F',
                       '\xF5', '\xFF', '\xE2', '\xA8'};
  for (int n = 0; n < 3000; ++n) {
    std::string s;
    const int length = static_cast<int>(rng() % 9);
    for (int k = 0; k < length; ++k) {
      s += rng() % 3 == 0 ? static_cast<char>(rng()) : pool[rng() % sizeof pool];
    }
    samples.push_back(s);
  }
  std::string doc;
  std::string hexes;
  {
    JsonWriter json(doc);
    json.beginArray();
    for (const std::string& s : samples) {
      json.string(s);
      hexes += 'x';
      hexes += hexOf(s);
      hexes += '\n';
    }
    json.endArray();
    json.finish();
  }
  test::TempDir dir;
  save(dir.file("doc.json"), doc);
  save(dir.file("hex.txt"), hexes);
  const std::string script = std::string("import json, sys\n") + kPythonDecode +
                             "doc = json.load(open(sys.argv[1], encoding='utf-8'))\n"
                             "hexes = [h[1:] for h in open(sys.argv[2]).read().split()]\n"
                             "bad = [h for h, v in zip(hexes, doc) if decode(bytes.fromhex(h)) != v]\n"
                             "print(len(doc), len(hexes), bad[:5])\n";
  test::RunResult r = runPython(dir, script, dir.file("doc.json") + " " + dir.file("hex.txt"));
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

// The FILE* writer buffers; what reaches the file is the same bytes, also
// past the buffer's size and when the writer goes without finish().
TEST(JsonWriterTest, FileOutputMatchesTextOutput) {
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
  test::MemoryStream file;
  {
    JsonWriter json(file.file());
    build(json, true);
  }
  EXPECT_GT(text.size(), 64u * 1024u);
  EXPECT_EQ(file.text(), text);

  test::MemoryStream unfinished;
  {
    JsonWriter json(unfinished.file());
    build(json, false);
  }
  EXPECT_EQ(unfinished.text() + "\n", text);
}

// ---------------------------------------------------------------------------
// Documents

constexpr size_t kCtl = 0x1000;
constexpr size_t kTbl = 0x4000;
constexpr size_t kRomSize = 0x8000;

// One bank, one instrument, two sounds sharing an envelope and a key map:
// an ADPCM wave (loop and one-predictor book) and a raw wave (raw loop).
// Every record kind appears once or twice.
test::BankFileSpec smallBank() {
  test::BankFileSpec design;
  design.envelopes = {{0, 1000000, 50000, 127, 100}};
  design.keyMaps = {{0, 127, 0, 127, 60, -5}};
  design.loops = {{0, 64, -1, true}, {8, 24, 2, false}};
  test::BookSpec book = test::simpleBook(1);
  book.predictors[0] = -32768;
  book.predictors[7] = 32767;
  design.books = {book};
  std::vector<uint8_t> frames;
  for (int f = 0; f < 4; ++f) {
    frames.push_back(0x20);
    for (int k = 0; k < 8; ++k) frames.push_back(static_cast<uint8_t>(0x12 * (k + f)));
  }
  std::vector<uint8_t> raw;
  for (int i = 0; i < 32; ++i) {
    const int16_t v = static_cast<int16_t>((i - 16) * 1000);
    raw.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    raw.push_back(static_cast<uint8_t>(v));
  }
  design.waves = {{0, 0, frames, 0, 0}, {1, 0, raw, 1, -1}};
  design.sounds = {{0, 0, 0, 64, 127, 0}, {0, 0, 1, 32, 200, 1}};
  test::InstrumentSpec inst;
  inst.sounds = {0, 1};
  inst.bendRange = -2;
  design.instruments = {inst};
  test::BankSpec bank;
  bank.insts = {0};
  design.banks = {bank};
  return design;
}

// A RunContext walked over a generated ROM, its console captured.
struct Walk {
  test::MemoryStream out, err;
  RomStream rom;
  RunContext ctx;

  static std::vector<uint8_t> romWith(const test::BankFileSpec& design) {
    test::RomBuilder builder(kRomSize);
    test::placeBank(builder, test::buildBank(design), kCtl, kTbl);
    return builder.bytes();
  }

  explicit Walk(const test::BankFileSpec& design, const char* nameTemplate = nullptr,
                const std::string& wavFolder = std::string())
      : rom(romWith(design), "example.z64") {
    ctx.rom = &rom;
    ctx.out = out.file();
    ctx.err = err.file();
    ctx.settings.ctlOffset = kCtl;
    ctx.ctlSource = OffsetSource::Given;
    if (!wavFolder.empty()) {
      ctx.settings.tblOffset = kTbl;
      ctx.settings.tblGiven = 1;
      ctx.tblSource = OffsetSource::Given;
      ctx.settings.outputDir = wavFolder;
    }
    if (nameTemplate != nullptr) {
      std::snprintf(ctx.settings.nameTemplate, sizeof ctx.settings.nameTemplate, "%s",
                    nameTemplate);
    }
    enterNullStruct(ctx);
    seekTo(rom, static_cast<int64_t>(kCtl));
    readBankFile(ctx);
  }

  JsonRunInfo info() const { return jsonRunInfo(rom); }

  std::string document() {
    std::string text;
    JsonWriter json(text);
    writeJsonDocument(ctx, info(), json);
    return text;
  }
};

// Checks a document against its struct table from the outside: every entry
// in order, names (hex file: the entry names' bytes), kinds, and every
// reference leading to an entry of the kind the field names.
const char* const kGraphCheck =
    "import json, sys\n"
    "doc = json.load(open(sys.argv[1], encoding='utf-8'))\n"
    "names = [bytes.fromhex(h[1:]) for h in open(sys.argv[2]).read().split()]\n"
    "structs = doc['structs']\n"
    "errors = []\n"
    "if doc['counters']['structCount'] != len(structs): errors.append('count')\n"
    "targets = {'banks': 'ALBank', 'insts': 'ALInstrument', 'percussion': 'ALInstrument',\n"
    "           'sounds': 'ALSound', 'envelope': 'ALEnvelope', 'keyMap': 'ALKeyMap',\n"
    "           'wavetable': 'ALWaveTable', 'adpcmWave.loop': 'ALADPCMloop',\n"
    "           'adpcmWave.book': 'ALADPCMBook', 'rawWave.loop': 'ALRawLoop'}\n"
    "def refs(kind, fields):\n"
    "    for k, v in fields.items():\n"
    "        if k == 'waveInfo':\n"
    "            for union, members in v.items():\n"
    "                for m, i in members.items(): yield union + '.' + m, i\n"
    "        elif k in targets:\n"
    "            for i in (v if isinstance(v, list) else [v]): yield k, i\n"
    "for n, s in enumerate(structs, 1):\n"
    "    if s['index'] != n: errors.append('index %d' % n)\n"
    "    if s['name'] != decode(names[n - 1]): errors.append('name %d' % n)\n"
    "    for field, i in refs(s['kind'], s['fields']):\n"
    "        if i is not None and structs[i - 1]['kind'] != targets[field]:\n"
    "            errors.append('%d %s -> %s' % (n, field, i))\n"
    "print(len(structs), errors)\n";

TEST(JsonDocumentTest, WalkedBankLoadsInPythonWithItsRecordGraph) {
  // Names with a quote, a backslash, a control character and bytes that are
  // no UTF-8.
  Walk walk(smallBank(), "%t\"\\\x01\xFF\xE9%c");
  ASSERT_EQ(walk.ctx.counters.structCount, 13);
  test::TempDir dir;
  save(dir.file("doc.json"), walk.document());
  std::string names;
  for (int32_t i = 1; i < walk.ctx.table.size(); ++i) {
    names += 'x';
    names += hexOf(walk.ctx.table[i].name);
    names += '\n';
  }
  save(dir.file("names.txt"), names);
  test::RunResult r = runPython(dir, std::string(kPythonDecode) + kGraphCheck,
                                dir.file("doc.json") + " " + dir.file("names.txt"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "12 []\n");
}

// The start of the document, the order of the entries and every field of a
// few of them, byte for byte.
TEST(JsonDocumentTest, TopAndFieldsAsWritten) {
  Walk walk(smallBank());
  const std::string doc = walk.document();
  EXPECT_EQ(doc.substr(0, doc.find("\"structs\"")),
            "{\n"
            "  \"format\": \"zaft-bank\",\n"
            "  \"formatVersion\": 1,\n"
            "  \"rom\": {\n"
            "    \"file\": \"example.z64\",\n"
            "    \"size\": 32768,\n"
            "    \"byteOrder\": \"asStored\"\n"
            "  },\n"
            "  \"controlBlock\": {\"offset\": 4096, \"source\": \"given\"},\n"
            "  \"sampleBlock\": null,\n"
            "  \"counters\": {\n"
            "    \"banks\": 1,\n"
            "    \"instruments\": 1,\n"
            "    \"sounds\": 2,\n"
            "    \"reusedRefs\": 2,\n"
            "    \"structCount\": 12,\n"
            "    \"wavFiles\": 0\n"
            "  },\n"
            "  ");
  const std::string kinds[] = {"ALBankFile", "ALBank",      "ALInstrument", "ALSound",
                               "ALEnvelope", "ALKeyMap",    "ALWaveTable",  "ALADPCMloop",
                               "ALADPCMBook", "ALSound",    "ALWaveTable",  "ALRawLoop"};
  size_t at = 0;
  for (const std::string& kind : kinds) {
    at = doc.find("\"kind\": \"" + kind + "\"", at);
    ASSERT_NE(at, std::string::npos) << kind;
  }
  EXPECT_NE(doc.find("      \"index\": 3,\n"
                     "      \"name\": \"Inst00\",\n"
                     "      \"kind\": \"ALInstrument\",\n"
                     "      \"offset\": 4304,\n"),
            std::string::npos);
  EXPECT_NE(doc.find("        \"bendRange\": -2,\n"
                     "        \"soundCount\": 2,\n"
                     "        \"sounds\": [4, 10]\n"),
            std::string::npos);
  EXPECT_NE(doc.find("        \"attackTime\": 0,\n"
                     "        \"secondTime\": 1000000,\n"
                     "        \"releaseTime\": 50000,\n"),
            std::string::npos);
  EXPECT_NE(doc.find("        \"keyBase\": 60,\n"
                     "        \"detune\": -5\n"),
            std::string::npos);
  EXPECT_NE(doc.find("        \"sampleVolume\": 200,\n"), std::string::npos);
  EXPECT_NE(doc.find("        \"percussion\": null,\n"
                     "        \"insts\": [3]\n"),
            std::string::npos);
  EXPECT_NE(doc.find("        \"waveInfo\": {\n"
                     "          \"adpcmWave\": {\"loop\": 8, \"book\": 9}\n"
                     "        }\n"
                     "      },\n"
                     "      \"wav\": {\"file\": null, \"samples\": null, \"rate\": null, "
                     "\"skipped\": \"sample output off: no .tbl offset given or found\"}\n"),
            std::string::npos);
  EXPECT_NE(doc.find("\"rawWave\": {\"loop\": 12}"), std::string::npos);
  EXPECT_NE(doc.find("        \"count\": -1\n"), std::string::npos);
  EXPECT_NE(doc.find("\"predictors\": [-32768, 0, 0, 0, 0, 0, 0, 32767, 2048, 2048, 2048, "
                     "2048, 2048, 2048, 2048, 2048]"),
            std::string::npos);
}

// A table put together by hand, for the records a walk of a sound ROM does
// not produce.
StructEntry& add(RunContext& ctx, const char* name, StructKind kind, RecordData data) {
  StructEntry& e = ctx.table.append(0x100u * static_cast<uint32_t>(ctx.table.size()));
  std::snprintf(e.name, sizeof e.name, "%s", name);
  e.kind = kind;
  e.data = std::move(data);
  ctx.counters.structCount = ctx.table.size();
  return e;
}

ALWaveTable waveOfType(uint8_t type) {
  ALWaveTable w;
  w.type = type;
  w.waveInfo.adpcmWave.loop = 1;
  w.waveInfo.adpcmWave.book = 1;
  return w;
}

std::string documentOf(const RunContext& ctx, const JsonRunInfo& info = JsonRunInfo()) {
  test::MemoryStream file;
  writeJsonDocument(ctx, info, file.file());
  return file.text();
}

TEST(JsonDocumentTest, WaveOutcomesWrittenSkippedAndMissing) {
  RunContext ctx;
  enterNullStruct(ctx);
  ctx.settings.tblGiven = 1;
  add(ctx, "W1", StructKind::WaveTable, waveOfType(0));
  add(ctx, "W2", StructKind::WaveTable, waveOfType(1));
  add(ctx, "W3", StructKind::WaveTable, waveOfType(0));
  ctx.waveOutcomes[1] = {"B000000_1.WAV", 4096, 22050, ""};
  ctx.waveOutcomes[2] = {"", 0, 0, "wave lies outside the ROM"};
  const std::string doc = documentOf(ctx);
  EXPECT_NE(doc.find("\"wav\": {\"file\": \"B000000_1.WAV\", \"samples\": 4096, \"rate\": 22050, "
                     "\"skipped\": null}"),
            std::string::npos);
  EXPECT_NE(doc.find("\"wav\": {\"file\": null, \"samples\": null, \"rate\": null, "
                     "\"skipped\": \"wave lies outside the ROM\"}"),
            std::string::npos);
  EXPECT_NE(doc.find("\"skipped\": \"no outcome recorded for this wave table\"}"),
            std::string::npos);
  // A raw wave table's union is its raw loop alone, whatever else it holds.
  EXPECT_NE(doc.find("\"rawWave\": {\"loop\": 1}"), std::string::npos);
  EXPECT_EQ(doc.find("\"book\": 1", doc.find("\"W2\"")), doc.find("\"book\": 1", doc.find("\"W3\"")));
}

// Claims the records cannot back: a count beyond the stored list, a negative
// count, an index outside the table, a huge npredictors, an entry without its
// record, an entry past the table's end.
TEST(JsonDocumentTest, DamagedRecordsStayBounded) {
  RunContext ctx;
  enterNullStruct(ctx);
  ALBankFile file;
  file.revision = kBankFileRevision;
  file.bankCount = 3;
  file.banks = {2};
  add(ctx, "File", StructKind::BankFile, file);
  ALBank bank;
  bank.instCount = -2;
  bank.percussion = 9999;
  add(ctx, "Bank", StructKind::Bank, bank);
  ALADPCMBook book;
  book.npredictors = INT32_MAX;
  book.predictors.assign(16, -1);
  add(ctx, "Book", StructKind::AdpcmBook, book);
  add(ctx, "Odd", StructKind::Sound, std::monostate{});
  ALADPCMBook negative;
  negative.npredictors = -4;
  negative.predictors.assign(16, 5);
  add(ctx, "Neg", StructKind::AdpcmBook, negative);
  ctx.counters.structCount = ctx.table.size() + 3;

  const std::string doc = documentOf(ctx);
  EXPECT_NE(doc.find("\"bankCount\": 3,\n        \"banks\": [2]\n"), std::string::npos);
  EXPECT_NE(doc.find("\"percussion\": null,\n        \"insts\": []\n"), std::string::npos);
  EXPECT_NE(doc.find("\"npredictors\": 2147483647,\n        \"predictors\": [-1, -1, -1, -1, -1, "
                     "-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1]\n"),
            std::string::npos);
  EXPECT_NE(doc.find("\"name\": \"Odd\",\n      \"kind\": \"ALSound\",\n      \"offset\": 1024,\n"
                     "      \"fields\": null\n"),
            std::string::npos);
  EXPECT_NE(doc.find("\"npredictors\": -4,\n        \"predictors\": []\n"), std::string::npos);
  // The count says structCount - 1; only the entries the table holds follow.
  EXPECT_NE(doc.find("\"structCount\": 8,"), std::string::npos);
  EXPECT_NE(doc.find("\"index\": 5,"), std::string::npos);
  EXPECT_EQ(doc.find("\"index\": 6,"), std::string::npos);
}

TEST(JsonDocumentTest, OffsetsAndHowTheyWereObtained) {
  RunContext ctx;
  enterNullStruct(ctx);
  ctx.settings.ctlOffset = 0x1000;
  ctx.settings.tblOffset = 0x4000;
  JsonRunInfo info{"rom \"v\".v64", 12, ByteOrder::Swapped16};

  ctx.ctlSource = OffsetSource::Scanned;
  ctx.tblSource = OffsetSource::Scanned;
  ctx.settings.tblGiven = 0;  // no WAV files: the sample block played no part
  std::string doc = documentOf(ctx, info);
  EXPECT_NE(doc.find("\"file\": \"rom \\\"v\\\".v64\",\n    \"size\": 12,\n"
                     "    \"byteOrder\": \"swapped16\"\n"),
            std::string::npos);
  EXPECT_NE(doc.find("\"controlBlock\": {\"offset\": 4096, \"source\": \"scanned\"},\n"
                     "  \"sampleBlock\": null,\n"),
            std::string::npos);

  ctx.settings.tblGiven = 1;
  ctx.tblSource = OffsetSource::Searched;
  ctx.ctlSource = OffsetSource::None;
  info.byteOrder = ByteOrder::Reversed32;
  doc = documentOf(ctx, info);
  EXPECT_NE(doc.find("\"byteOrder\": \"reversed32\""), std::string::npos);
  EXPECT_NE(doc.find("\"controlBlock\": {\"offset\": 4096, \"source\": null},\n"
                     "  \"sampleBlock\": {\"offset\": 16384, \"source\": \"searched\"},\n"),
            std::string::npos);
  // An empty table: the document still holds the structs key.
  EXPECT_NE(doc.find("\"structCount\": 0,"), std::string::npos);
  EXPECT_NE(doc.find("\"structs\": []\n}\n"), std::string::npos);
}

std::vector<JsonIndexEntry> twoBankFiles() {
  return {{0x1000, 0x4000, "CTL_001000", "CTL_001000/bank.json", "ok", 12, 2},
          {0x9000, -1, "CTL_009000", "", "failed: Ran out of struct space (max 4096)", 4095, 0}};
}

TEST(JsonIndexTest, OneElementPerBankFile) {
  std::string text;
  JsonWriter json(text);
  writeJsonIndex({"game.n64", 8388608, ByteOrder::Reversed32}, twoBankFiles(), json);
  EXPECT_EQ(text,
            "{\n"
            "  \"format\": \"zaft-index\",\n"
            "  \"formatVersion\": 1,\n"
            "  \"rom\": {\n"
            "    \"file\": \"game.n64\",\n"
            "    \"size\": 8388608,\n"
            "    \"byteOrder\": \"reversed32\"\n"
            "  },\n"
            "  \"bankFiles\": [\n"
            "    {\n"
            "      \"ctlOffset\": 4096,\n"
            "      \"tblOffset\": 16384,\n"
            "      \"folder\": \"CTL_001000\",\n"
            "      \"document\": \"CTL_001000/bank.json\",\n"
            "      \"status\": \"ok\",\n"
            "      \"records\": 12,\n"
            "      \"wavFiles\": 2\n"
            "    },\n"
            "    {\n"
            "      \"ctlOffset\": 36864,\n"
            "      \"tblOffset\": null,\n"
            "      \"folder\": \"CTL_009000\",\n"
            "      \"document\": null,\n"
            "      \"status\": \"failed: Ran out of struct space (max 4096)\",\n"
            "      \"records\": 4095,\n"
            "      \"wavFiles\": 0\n"
            "    }\n"
            "  ]\n"
            "}\n");
  test::MemoryStream file;
  writeJsonIndex({"game.n64", 8388608, ByteOrder::Reversed32}, twoBankFiles(), file.file());
  EXPECT_EQ(file.text(), text);
}

// ---------------------------------------------------------------------------
// The schema document

// The example bank of docs/json.md, walked with sample output on. The WAV
// outcomes come from the WAV writer; while it records none, they are taken
// from the files it wrote, as it would record them.
std::string exampleDocument(const test::TempDir& wavFolder) {
  Walk walk(smallBank(), nullptr, wavFolder.path());
  if (walk.ctx.waveOutcomes.empty()) {
    size_t next = 0;
    for (int32_t i = 1; i < walk.ctx.table.size(); ++i) {
      if (walk.ctx.table[i].kind != StructKind::WaveTable || next >= walk.ctx.wavNames.size()) {
        continue;
      }
      const std::string name = walk.ctx.wavNames[next++];
      const std::vector<uint8_t> wav = test::readFileBytes(wavFolder.file(name));
      if (wav.size() < 58) continue;
      const auto le32 = [&](size_t at) {
        return static_cast<int64_t>(wav[at] | wav[at + 1] << 8 | wav[at + 2] << 16 |
                                    static_cast<uint32_t>(wav[at + 3]) << 24);
      };
      walk.ctx.waveOutcomes[i] = {name, le32(46), static_cast<int32_t>(le32(24)), ""};
    }
  }
  return walk.document();
}

// The ```json blocks of docs/json.md, in order.
std::vector<std::string> docsExamples() {
  const std::string text = test::readFileText(ZAFT_SOURCE_DIR "/docs/json.md");
  std::vector<std::string> blocks;
  size_t at = 0;
  while ((at = text.find("```json\n", at)) != std::string::npos) {
    at += 8;
    const size_t end = text.find("```", at);
    if (end == std::string::npos) break;
    blocks.push_back(text.substr(at, end - at));
    at = end + 3;
  }
  return blocks;
}

// Compares the key sets of two documents, recursively. Entries of "structs"
// are compared kind by kind (the keys of every entry of a kind, merged); the
// elements of other arrays merged; null stands for any shape. Prints the
// differences, or "same".
const char* const kSchemaCompare =
    "import json, sys\n"
    "def merge(a, b):\n"
    "    if isinstance(a, dict) and isinstance(b, dict):\n"
    "        return {k: merge(a.get(k), b.get(k)) for k in set(a) | set(b)}\n"
    "    return a if b is None else b\n"
    "def shape(v, key=None):\n"
    "    if isinstance(v, dict): return {k: shape(x, k) for k, x in v.items()}\n"
    "    if isinstance(v, list):\n"
    "        if key == 'structs':\n"
    "            kinds = {}\n"
    "            for e in v: kinds[e['kind']] = merge(kinds.get(e['kind']), shape(e))\n"
    "            return {'kind ' + k: s for k, s in kinds.items()}\n"
    "        out = None\n"
    "        for e in v: out = merge(out, shape(e))\n"
    "        return ['list', out]\n"
    "    return None if v is None else 'value'\n"
    "def diff(a, b, path):\n"
    "    if a is None or b is None: return []\n"
    "    if isinstance(a, dict) and isinstance(b, dict):\n"
    "        out = ['%s: only in example: %s' % (path, k) for k in set(a) - set(b)]\n"
    "        out += ['%s: only in real: %s' % (path, k) for k in set(b) - set(a)]\n"
    "        for k in set(a) & set(b): out += diff(a[k], b[k], path + '/' + k)\n"
    "        return out\n"
    "    if isinstance(a, list) and isinstance(b, list): return diff(a[1], b[1], path + '[]')\n"
    "    return [] if a == b else ['%s: %s vs %s' % (path, a, b)]\n"
    "out = []\n"
    "for ex, real in zip(sys.argv[1::2], sys.argv[2::2]):\n"
    "    a = json.load(open(ex, encoding='utf-8'))\n"
    "    b = json.load(open(real, encoding='utf-8'))\n"
    "    out += diff(shape(a), shape(b), a['format'])\n"
    "    if a['format'] == 'zaft-bank':\n"
    "        out += ['example lacks ' + k for k in shape(b)['structs'] if k not in shape(a)['structs']]\n"
    "print('\\n'.join(sorted(out)) or 'same')\n";

TEST(JsonSchemaTest, DocsExamplesHaveTheKeysOfRealDocuments) {
  test::TempDir dir, wavs;
  const std::string real = exampleDocument(wavs);
  std::string index;
  {
    JsonWriter json(index);
    writeJsonIndex({"example.z64", 32768, ByteOrder::AsStored}, twoBankFiles(), json);
  }
  // ZAFT_JSON_EXAMPLE=file writes the two documents there, for docs/json.md.
  if (const char* out = std::getenv("ZAFT_JSON_EXAMPLE")) save(out, real + index);

  const std::vector<std::string> examples = docsExamples();
  ASSERT_EQ(examples.size(), 2u) << "docs/json.md: a bank document, then an index";
  save(dir.file("example.json"), examples[0]);
  save(dir.file("real.json"), real);
  save(dir.file("example-index.json"), examples[1]);
  save(dir.file("real-index.json"), index);
  test::RunResult r = runPython(dir, kSchemaCompare,
                                dir.file("example.json") + " " + dir.file("real.json") + " " +
                                    dir.file("example-index.json") + " " +
                                    dir.file("real-index.json"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "same\n");
}

}  // namespace
}  // namespace zaft
