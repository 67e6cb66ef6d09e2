#include "export/libultra/json_export.h"

#include <gtest/gtest.h>

#include "bank/libultra/bank_lowering.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bank/libultra/walk.h"
#include "export/output_plan.h"
#include "export/wav_export.h"
#include "support/bank_builder.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

constexpr int32_t kCtl = 0x1000;
constexpr int32_t kTbl = 0x4000;
constexpr size_t kRomSize = 0x8000;

// One bank, one instrument, two sounds sharing an envelope and a key map:
// an ADPCM wave (loop and one-predictor book) and a raw wave (raw loop).
// Every record kind appears once or twice.
test::BankFileDesign smallBank() {
  test::BankFileDesign design;
  design.envelopes = {{0, 1000000, 50000, 127, 100}};
  design.keyMaps = {{0, 127, 0, 127, 60, -5}};
  design.loops = {{0, 64, -1, true}, {8, 24, 2, false}};
  test::BookDesign book = test::simpleBook(1);
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
    const uint16_t v = static_cast<uint16_t>((i - 16) * 1000);
    raw.push_back(static_cast<uint8_t>(v >> 8));
    raw.push_back(static_cast<uint8_t>(v));
  }
  design.waves = {{0, 0, frames, 0, 0}, {1, 0, raw, 1, -1}};
  design.sounds = {{0, 0, 0, 64, 127, 0}, {0, 0, 1, 32, 200, 1}};
  test::InstrumentDesign inst;
  inst.sounds = {0, 1};
  inst.bendRange = -2;
  design.instruments = {inst};
  test::BankDesign bank;
  bank.insts = {0};
  design.banks = {bank};
  return design;
}

// The small bank walked from a generated ROM named "example.z64".
struct Walked {
  RomImage rom;
  BankFile bank;

  static std::vector<uint8_t> romWith(const test::BankFileDesign& design) {
    test::RomBuilder builder(kRomSize);
    test::placeBank(builder, test::buildBank(design), kCtl, kTbl);
    return builder.bytes();
  }
  explicit Walked(const char* nameTemplate = "%t%2i%2s", bool samples = false)
      : rom(romWith(smallBank()), "example.z64") {
    WalkLimits limits;
    limits.nameTemplate = nameTemplate;
    limits.samplesWritten = samples;
    NullReporter quiet;
    bank = walkBankFile(rom, kCtl, limits, quiet);
    set = instrumentSetOf(bank, 1.0);
  }
  InstrumentSet set;

  // With sample output on, the WAV outcomes are those of exporting the waves.
  std::string document(bool samples = false) {
    WavResult wavs;
    BankBlocks blocks{kCtl, OffsetSource::Given, std::nullopt};
    if (samples) {
      blocks = {kCtl, OffsetSource::Given, SampleBlock{kTbl, OffsetSource::Given}};
      MemoryTarget target;
      NullReporter quiet;
      const BankOutputs outputs = OutputPlan(FileIdentity{}).planBankFile(
          "", set, false, true, {{"header file", "CONTROL.H", false}});
      wavs = exportWaves(rom, set, kTbl, outputs.waves, WavOptions{}, target, quiet);
    }
    std::string text;
    JsonWriter json(text);
    writeJsonDocument(bank, set, jsonRunInfo(rom), blocks, wavs, json);
    return text;
  }
};

// Every part appears somewhere in the document.
void expectParts(const std::string& doc, std::initializer_list<const char*> parts) {
  for (const char* part : parts) EXPECT_NE(doc.find(part), std::string::npos) << part;
}

// Python's reading of bytes under the documented rule: valid UTF-8 decodes as
// UTF-8, every other byte as the Latin-1 character of its value.
const char* const kPythonDecode =
    "def decode(b):\n"
    "    s = b.decode(\"utf-8\", \"surrogateescape\")\n"
    "    return \"\".join(chr(ord(c) - 0xDC00) if 0xDC80 <= ord(c) <= 0xDCFF else c for c in s)\n";

// Runs `script` with python3 on temporary files holding `texts`, in order.
test::RunResult runPython(const std::string& script, const std::vector<std::string>& texts) {
  test::TempDir dir;
  std::string command = "python3 -c '" + script + "'";
  for (size_t k = 0; k < texts.size(); ++k) {
    const std::string path = dir.file(std::to_string(k) + ".txt");
    test::writeFile(path, std::vector<uint8_t>(texts[k].begin(), texts[k].end()));
    command += " " + path;
  }
  return test::runShell(command + " 2>&1");
}

// Checks a document against its struct table from the outside: every entry
// in order, names (second file: the entry names' bytes in hex), kinds, and
// every reference leading to an entry of the kind the field names.
const char* const kGraphCheck =
    "import json, sys\n"
    "doc = json.load(open(sys.argv[1], encoding=\"utf-8\"))\n"
    "names = [bytes.fromhex(h[1:]) for h in open(sys.argv[2]).read().split()]\n"
    "structs = doc[\"structs\"]\n"
    "errors = []\n"
    "if doc[\"counters\"][\"structCount\"] != len(structs): errors.append(\"count\")\n"
    "targets = {\"banks\": \"ALBank\", \"insts\": \"ALInstrument\", \"percussion\": "
    "\"ALInstrument\",\n"
    "           \"sounds\": \"ALSound\", \"envelope\": \"ALEnvelope\", \"keyMap\": \"ALKeyMap\",\n"
    "           \"wavetable\": \"ALWaveTable\", \"adpcmWave.loop\": \"ALADPCMloop\",\n"
    "           \"adpcmWave.book\": \"ALADPCMBook\", \"rawWave.loop\": \"ALRawLoop\"}\n"
    "def refs(fields):\n"
    "    for k, v in fields.items():\n"
    "        if k == \"waveInfo\":\n"
    "            for union, members in v.items():\n"
    "                for m, i in members.items(): yield union + \".\" + m, i\n"
    "        elif k in targets:\n"
    "            for i in (v if isinstance(v, list) else [v]): yield k, i\n"
    "for n, s in enumerate(structs, 1):\n"
    "    if s[\"index\"] != n: errors.append(\"index %d\" % n)\n"
    "    if s[\"name\"] != decode(names[n - 1]): errors.append(\"name %d\" % n)\n"
    "    for field, i in refs(s[\"fields\"]):\n"
    "        if i is not None and structs[i - 1][\"kind\"] != targets[field]:\n"
    "            errors.append(\"%d %s -> %s\" % (n, field, i))\n"
    "print(len(structs), errors)\n";

// Names with a quote, a backslash, a control character and bytes that are no
// UTF-8 still load, and every reference leads where it should.
TEST(JsonExportTest, WalkedBankLoadsInPythonWithItsRecordGraph) {
  ZAFT_SKIP_WITHOUT_SHELL();
  Walked walked("%t\"\\\x01\xFF\xE9%c");
  ASSERT_EQ(walked.bank.counters.structCount, 13);
  std::string names;
  for (int32_t i = 1; i < walked.bank.table.size(); ++i) {
    names += 'x';
    for (const char* c = walked.bank.table[i].name.c_str(); *c != '\0'; ++c) {
      names += "0123456789abcdef"[static_cast<uint8_t>(*c) >> 4];
      names += "0123456789abcdef"[static_cast<uint8_t>(*c) & 15];
    }
    names += '\n';
  }
  const test::RunResult r =
      runPython(std::string(kPythonDecode) + kGraphCheck, {walked.document(), names});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "12 []\n");
}

// The start of the document, the order of the entries and every field of a
// few of them, byte for byte.
TEST(JsonExportTest, TopAndFieldsAsWritten) {
  const std::string doc = Walked().document();
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
  size_t at = 0;
  for (const char* kind :
       {"ALBankFile", "ALBank", "ALInstrument", "ALSound", "ALEnvelope", "ALKeyMap", "ALWaveTable",
        "ALADPCMloop", "ALADPCMBook", "ALSound", "ALWaveTable", "ALRawLoop"}) {
    at = doc.find(std::string("\"kind\": \"") + kind + "\"", at);
    ASSERT_NE(at, std::string::npos) << kind;
    ++at;
  }
  expectParts(doc,
      {"      \"index\": 3,\n"
        "      \"name\": \"Inst00\",\n"
        "      \"kind\": \"ALInstrument\",\n"
        "      \"offset\": 4304,\n",
        "        \"bendRange\": -2,\n"
        "        \"soundCount\": 2,\n"
        "        \"sounds\": [4, 10]\n",
        "        \"attackTime\": 0,\n"
        "        \"secondTime\": 1000000,\n"
        "        \"releaseTime\": 50000,\n",
        "        \"keyBase\": 60,\n"
        "        \"detune\": -5\n"
        "      },\n"
        "      \"samplePitch\": 6005\n",
        "        \"sampleVolume\": 200,\n",
        "        \"percussion\": null,\n"
        "        \"insts\": [3]\n",
        "        \"waveInfo\": {\n"
        "          \"adpcmWave\": {\"loop\": 8, \"book\": 9}\n"
        "        }\n"
        "      },\n"
        "      \"wav\": {\"file\": null, \"samples\": null, \"rate\": null, "
        "\"skipped\": \"sample output off: no .tbl offset given or found\", \"unityNote\": null, "
        "\"pitchFraction\": null}\n",
        "\"rawWave\": {\"loop\": 12}", "        \"count\": -1\n",
        "\"predictors\": [-32768, 0, 0, 0, 0, 0, 0, 32767, 2048, 2048, 2048, 2048, 2048, 2048, "
        "2048, 2048]"});
}

// A table put together by hand, for the records a walk of a sound ROM does
// not produce.
struct Table {
  BankFile bank;
  Table& add(const char* name, StructKind kind, RecordData data) {
    StructEntry& e = bank.table.append(0x100u * static_cast<uint32_t>(bank.table.size()));
    e.name = name;
    e.kind = kind;
    e.data = std::move(data);
    bank.counters.structCount = bank.table.size();
    return *this;
  }
  std::string document(const BankBlocks& blocks = BankBlocks(), const WavResult& wavs = {},
                       const JsonRunInfo& info = JsonRunInfo()) const {
    MemorySink sink;
    {
      JsonWriter json(sink);
      writeJsonDocument(bank, instrumentSetOf(bank, 1.0), info, blocks, wavs, json);
    }
    return sink.text();
  }
};

// Every wave table says what became of it: its file, why it has none, or
// that no outcome was recorded. A raw wave table's union is its raw loop
// alone, whatever else it holds.
TEST(JsonExportTest, WaveOutcomesWrittenSkippedAndMissing) {
  Table t;
  t.add("W1", StructKind::WaveTable, ALWaveTable{0, 0, 0, 0, {{1, 1}}});
  t.add("W2", StructKind::WaveTable, ALWaveTable{0, 0, 1, 0, {{1, 1}}});
  t.add("W3", StructKind::WaveTable, ALWaveTable{0, 0, 0, 0, {{1, 1}}});
  WavResult wavs;
  wavs.files = 1;
  wavs.outcomes[1] = {"B000000_1.WAV", 4096, 22050, ""};
  wavs.outcomes[2] = {"", 0, 0, "wave lies outside the ROM"};
  const std::string doc = t.document({0, OffsetSource::None, SampleBlock{0, OffsetSource::Given}}, wavs);
  expectParts(doc,
      {"\"wav\": {\"file\": \"B000000_1.WAV\", \"samples\": 4096, \"rate\": 22050, "
        "\"skipped\": null, \"unityNote\": 60, \"pitchFraction\": 0}",
        "\"wav\": {\"file\": null, \"samples\": null, \"rate\": null, \"skipped\": \"wave lies "
        "outside the ROM\", \"unityNote\": null, \"pitchFraction\": null}",
        "\"skipped\": \"no outcome recorded for this wave table\", \"unityNote\": null, "
        "\"pitchFraction\": null}", "\"rawWave\": {\"loop\": 1}",
        "\"wavFiles\": 1\n"});
  EXPECT_EQ(doc.find("\"book\": 1", doc.find("\"W2\"")),
            doc.find("\"book\": 1", doc.find("\"W3\"")));
}

// Claims the records cannot back: a count beyond the stored list, a negative
// count, an index outside the table, a huge or negative npredictors, an
// entry without its record, a count past the table's end.
TEST(JsonExportTest, DamagedRecordsStayBounded) {
  Table t;
  t.add("File", StructKind::BankFile, ALBankFile{kBankFileRevision, 3, {2}});
  t.add("Bank", StructKind::Bank, ALBank{-2, 0, 0, 0, 9999, {}});
  t.add("Book", StructKind::AdpcmBook, ALADPCMBook{0, INT32_MAX, std::vector<int16_t>(16, -1)});
  t.add("Odd", StructKind::Sound, std::monostate{});
  t.add("Neg", StructKind::AdpcmBook, ALADPCMBook{0, -4, std::vector<int16_t>(16, 5)});
  t.bank.counters.structCount = t.bank.table.size() + 3;
  const std::string doc = t.document();
  expectParts(doc,
      {"\"bankCount\": 3,\n        \"banks\": [2]\n",
        "\"percussion\": null,\n        \"insts\": []\n",
        "\"npredictors\": 2147483647,\n        \"predictors\": [-1, -1, -1, -1, -1, -1, -1, -1, "
        "-1, -1, -1, -1, -1, -1, -1, -1]\n",
        "\"name\": \"Odd\",\n      \"kind\": \"ALSound\",\n      \"offset\": 1024,\n"
        "      \"fields\": null\n",
        "\"npredictors\": -4,\n        \"predictors\": []\n",
        // The count says structCount - 1; only the entries the table holds follow.
        "\"structCount\": 8,", "\"index\": 5,"});
  EXPECT_EQ(doc.find("\"index\": 6,"), std::string::npos);
}

TEST(JsonExportTest, OffsetsAndHowTheyWereObtained) {
  Table t;
  JsonRunInfo info{"rom \"v\".v64", 12, ByteOrder::Swapped16};
  // No WAV files: the sample block played no part.
  expectParts(t.document({0x1000, OffsetSource::Scanned, std::nullopt}, {}, info),
              {"\"file\": \"rom \\\"v\\\".v64\",\n    \"size\": 12,\n"
               "    \"byteOrder\": \"swapped16\"\n",
               "\"controlBlock\": {\"offset\": 4096, \"source\": \"scanned\"},\n"
               "  \"sampleBlock\": null,\n"});

  info.byteOrder = ByteOrder::Reversed32;
  // An empty table: the document still holds the structs key.
  expectParts(t.document({0x1000, OffsetSource::None, SampleBlock{0x4000, OffsetSource::Searched}},
                         {}, info),
      {"\"byteOrder\": \"reversed32\"",
       "\"controlBlock\": {\"offset\": 4096, \"source\": null},\n"
       "  \"sampleBlock\": {\"offset\": 16384, \"source\": \"searched\"},\n",
       "\"structCount\": 0,", "\"structs\": []\n}\n"});
}

std::vector<JsonIndexEntry> twoBankFiles() {
  return {{0x1000, 0x4000, "CTL_001000", "CTL_001000/bank.json", "ok", 12, 2, std::nullopt},
          {0x9000, std::nullopt, "CTL_009000", "", "failed: Ran out of struct space (max 4096)", 4095, 0, std::nullopt}};
}

std::vector<JsonSequenceBank> oneSequenceBank() {
  JsonSequenceEntry song;
  song.file = "SEQ_300000/000.mid";
  song.info.length = 420;
  song.info.tracks = 2;
  song.info.division = 96;
  song.info.durationTicks = 1920;
  song.info.durationSeconds = 2.5;
  song.info.programs = {0, 3};
  song.info.channels = {0, 9};
  song.info.loops = {{1, 0, 255, 96, 1824}, {0, 2, -1, 0, 0}};
  song.warnings = 1;
  return {{0x300000, "SEQ_300000", "ok", {song}, std::nullopt}};
}

std::string indexOf(const JsonRunInfo& info) {
  MemorySink sink;
  {
    JsonWriter json(sink);
    writeJsonIndex(info, twoBankFiles(), {}, oneSequenceBank(), json);
  }
  return sink.text();
}

// The whole index, byte for byte.
TEST(JsonExportTest, IndexHasOneElementPerBankFileAndSequenceBank) {
  EXPECT_EQ(indexOf({"game.n64", 8388608, ByteOrder::Reversed32}),
            test::readFileText(ZAFT_SOURCE_DIR "/tests/golden/index.json"));
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
    "        if key == \"structs\":\n"
    "            kinds = {}\n"
    "            for e in v: kinds[e[\"kind\"]] = merge(kinds.get(e[\"kind\"]), shape(e))\n"
    "            return {\"kind \" + k: s for k, s in kinds.items()}\n"
    "        out = None\n"
    "        for e in v: out = merge(out, shape(e))\n"
    "        return [\"list\", out]\n"
    "    return None if v is None else \"value\"\n"
    "def diff(a, b, path):\n"
    "    if a is None or b is None: return []\n"
    "    if isinstance(a, dict) and isinstance(b, dict):\n"
    "        out = [\"%s: only in example: %s\" % (path, k) for k in set(a) - set(b)]\n"
    "        out += [\"%s: only in real: %s\" % (path, k) for k in set(b) - set(a)]\n"
    "        for k in set(a) & set(b): out += diff(a[k], b[k], path + \"/\" + k)\n"
    "        return out\n"
    "    if isinstance(a, list) and isinstance(b, list): return diff(a[1], b[1], path + \"[]\")\n"
    "    return [] if a == b else [\"%s: %s vs %s\" % (path, a, b)]\n"
    "out = []\n"
    "for ex, real in zip(sys.argv[1::2], sys.argv[2::2]):\n"
    "    a = json.load(open(ex, encoding=\"utf-8\"))\n"
    "    b = json.load(open(real, encoding=\"utf-8\"))\n"
    "    out += diff(shape(a), shape(b), a[\"format\"])\n"
    "    if a[\"format\"] == \"zaft-bank\":\n"
    "        out += [\"example lacks \" + k for k in shape(b)[\"structs\"] if k not in "
    "shape(a)[\"structs\"]]\n"
    "print(\"\\n\".join(sorted(out)) or \"same\")\n";

// The examples of docs/json.md (the small bank, walked with sample output
// on, and an index) have the keys of real documents.
TEST(JsonExportTest, DocsExamplesHaveTheKeysOfRealDocuments) {
  ZAFT_SKIP_WITHOUT_SHELL();
  const std::string real = Walked("%t%2i%2s", true).document(true);
  const std::string index = indexOf({"example.z64", 32768, ByteOrder::AsStored});
  // ZAFT_JSON_EXAMPLE=file writes the two documents there, for docs/json.md.
  if (const char* out = std::getenv("ZAFT_JSON_EXAMPLE")) {
    const std::string both = real + index;
    test::writeFile(out, std::vector<uint8_t>(both.begin(), both.end()));
  }
  const std::vector<std::string> examples = docsExamples();
  ASSERT_EQ(examples.size(), 2u) << "docs/json.md: a bank document, then an index";
  const test::RunResult r = runPython(kSchemaCompare, {examples[0], real, examples[1], index});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "same\n");
}

}  // namespace
}  // namespace zaft
