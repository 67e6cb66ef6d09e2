// The JSON document against the C header: for random generated banks (some
// of them damaged), every value line of the header equals the document's
// value, checked by an independent reader of the header
// (tests/e2e/json_vs_header.py).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bank/libultra/walk.h"
#include "export/libultra/header_export.h"
#include "bank/libultra/bank_lowering.h"
#include "export/libultra/json_export.h"
#include "support/bank_builder.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

constexpr int32_t kCtl = 0x2000;
constexpr size_t kTbl = 0x8000;
constexpr size_t kRomSize = 0x10000;

class Random {
 public:
  explicit Random(uint32_t seed) : rng_(seed) {}
  int below(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  uint8_t byte() { return static_cast<uint8_t>(rng_()); }
  // Often a limit or a small number, else anything.
  int32_t s32() {
    switch (below(5)) {
      case 0:
        return INT32_MIN;
      case 1:
        return INT32_MAX;
      case 2:
        return below(200) - 100;
      default:
        return static_cast<int32_t>(rng_());
    }
  }
  int16_t s16() {
    return static_cast<int16_t>(below(3) == 0 ? below(5) - 2 : static_cast<int>(rng_()));
  }
  // An index into a list of `n`, or -1 (a null pointer) now and then.
  int pick(size_t n) { return n == 0 || below(6) == 0 ? -1 : below(static_cast<int>(n)); }
  std::vector<int> picks(size_t n, int maxCount) {
    std::vector<int> out(static_cast<size_t>(below(maxCount + 1)));
    for (int& i : out) i = pick(n);
    return out;
  }

 private:
  std::mt19937 rng_;
};

// Every record kind, shared records, null pointers, lists of up to 10 (two
// header lines), raw waves of types 1, 2 and 255, books of up to 4
// predictors, values at their limits.
test::BankFileDesign randomBank(Random& r) {
  test::BankFileDesign design;
  for (int k = 1 + r.below(4); k > 0; --k) {
    design.envelopes.push_back({r.s32(), r.s32(), r.s32(), r.byte(), r.byte()});
  }
  for (int k = 1 + r.below(4); k > 0; --k) {
    design.keyMaps.push_back(
        {r.byte(), r.byte(), r.byte(), r.byte(), r.byte(), static_cast<int8_t>(r.byte())});
  }
  for (int k = 1 + r.below(4); k > 0; --k) {
    design.loops.push_back({r.s32(), r.s32(), r.s32(), r.below(2) == 0});
  }
  for (int k = 1 + r.below(3); k > 0; --k) {
    test::BookDesign book;
    book.order = r.below(4) == 0 ? r.s32() : 2;
    book.npredictors = 1 + r.below(4);
    for (int c = 0; c < book.npredictors * 16; ++c) {
      book.predictors.push_back(r.below(8) == 0 ? (r.below(2) ? -32768 : 32767) : r.s16());
    }
    design.books.push_back(book);
  }
  const uint8_t rawTypes[] = {1, 2, 255};
  for (int k = 1 + r.below(6); k > 0; --k) {
    test::WaveDesign wave;
    wave.type = r.below(2) == 0 ? 0 : rawTypes[r.below(3)];
    wave.flags = r.byte();
    wave.data.assign(static_cast<size_t>(9 * (1 + r.below(4))), 0x11);
    wave.loop = r.pick(design.loops.size());
    wave.book = wave.type == 0 ? r.pick(design.books.size()) : -1;
    design.waves.push_back(wave);
  }
  for (int k = 1 + r.below(8); k > 0; --k) {
    design.sounds.push_back({r.pick(design.envelopes.size()), r.pick(design.keyMaps.size()),
                             r.pick(design.waves.size()), r.byte(), r.byte(), r.byte()});
  }
  for (int k = 1 + r.below(5); k > 0; --k) {
    test::InstrumentDesign inst;
    inst.volume = r.byte();
    inst.pan = r.byte();
    inst.priority = r.byte();
    inst.flags = r.byte();
    for (uint8_t& m : inst.modulation) m = r.byte();
    inst.bendRange = r.s16();
    inst.sounds = r.picks(design.sounds.size(), 10);
    design.instruments.push_back(inst);
  }
  for (int k = 1 + r.below(3); k > 0; --k) {
    test::BankDesign bank;
    bank.flags = r.byte();
    bank.pad = r.byte();
    bank.sampleRate = r.s32();
    bank.percussion = r.pick(design.instruments.size());
    bank.insts = r.picks(design.instruments.size(), 10);
    design.banks.push_back(bank);
  }
  for (int k = 1 + r.below(3); k > 0; --k) design.bankList.push_back(r.pick(design.banks.size()));
  return design;
}

// Naming templates: names with quotes, backslashes, a control character and
// bytes that are no UTF-8, and names that coincide.
const char* const kTemplates[] = {"%t%2i%2s", "%t\"%c\\", "%t\x01\xE9\xFF%c", "%b%i%s",
                                  "%t\xC3\xA9%3c"};
const int32_t kWidths[] = {10, 0, -10, 3, 14};

struct Pair {
  std::string header;
  std::string json;
};

// Walks the bank at kCtl of `bytes`; writes the header and the document
// into `dir` for the checker. False when the walk stops or the bank file is
// not recognised (a run then writes no header).
bool writePair(const std::vector<uint8_t>& bytes, Random& r, const test::TempDir& dir, int n,
               Pair& pair) {
  const RomImage rom(bytes);
  const int32_t width = kWidths[r.below(5)];
  WalkLimits limits;
  limits.nameTemplate = kTemplates[r.below(5)];
  NullReporter quiet;
  const BankFile bank = walkBankFile(rom, kCtl, limits, quiet);
  if (!bank.recognized || bank.stopped()) return false;
  MemorySink header, json;
  writeHeaderText(bank, width, "CONTROL.H", header, quiet);
  {
    JsonWriter writer(json);
    writeJsonDocument(bank, instrumentSetOf(bank, 1.0), jsonRunInfo(rom),
                      {kCtl, OffsetSource::Given, std::nullopt}, WavResult{},
                      writer);
  }
  pair.header = dir.file("h" + std::to_string(n) + ".h");
  pair.json = dir.file("j" + std::to_string(n) + ".json");
  test::writeFile(pair.header, header.bytes);
  test::writeFile(pair.json, json.bytes);
  return true;
}

test::RunResult crossCheck(const std::vector<Pair>& pairs) {
  std::string command = "python3 " ZAFT_SOURCE_DIR "/tests/e2e/json_vs_header.py";
  for (const Pair& p : pairs) command += " " + p.header + " " + p.json;
  return test::runShell(command + " 2>&1");
}

TEST(JsonHeaderCrossCheck, RandomBanksSayTheSameInBoth) {
  ZAFT_SKIP_WITHOUT_SHELL();
  test::TempDir dir;
  std::vector<Pair> pairs;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    Random r(seed);
    test::RomBuilder rom(kRomSize);
    test::placeBank(rom, test::buildBank(randomBank(r)), kCtl, kTbl);
    Pair pair;
    ASSERT_TRUE(writePair(rom.bytes(), r, dir, static_cast<int>(seed), pair)) << "seed " << seed;
    pairs.push_back(pair);
  }
  test::RunResult result = crossCheck(pairs);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.out.rfind("agree: 40 pairs, ", 0), 0u) << result.out;
}

// Damaged control blocks: counts, pointers and values the builder would
// never write (huge npredictors, lists cut by the end of the file, records
// of one kind read as another). Those the walk gets through must still say
// the same in both.
TEST(JsonHeaderCrossCheck, DamagedBanksSayTheSameInBoth) {
  ZAFT_SKIP_WITHOUT_SHELL();
  test::TempDir dir;
  std::vector<Pair> pairs;
  for (uint32_t seed = 100; seed < 300 && pairs.size() < 40; ++seed) {
    Random r(seed);
    test::BuiltBank built = test::buildBank(randomBank(r));
    test::RomBuilder rom(kRomSize);
    test::placeBank(rom, built, kCtl, kTbl);
    for (int flips = 1 + r.below(6); flips > 0; --flips) {
      // Past the bank file's first four bytes, so that most walks go on.
      rom.flip(kCtl + 4 + static_cast<size_t>(r.below(static_cast<int>(built.ctl.size()) - 4)),
               static_cast<uint8_t>(1u << r.below(8)));
    }
    if (r.below(4) == 0)
      rom.truncate(kCtl + static_cast<size_t>(r.below(static_cast<int>(built.ctl.size()))));
    Pair pair;
    if (writePair(rom.bytes(), r, dir, static_cast<int>(seed), pair)) pairs.push_back(pair);
  }
  ASSERT_EQ(pairs.size(), 40u);
  test::RunResult result = crossCheck(pairs);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.out.rfind("agree: 40 pairs, ", 0), 0u) << result.out;
}

// The reader of the header finds what a wrong document would get wrong.
TEST(JsonHeaderCrossCheck, CheckerFindsADifference) {
  ZAFT_SKIP_WITHOUT_SHELL();
  test::TempDir dir;
  Random r(7);
  test::RomBuilder rom(kRomSize);
  test::placeBank(rom, test::buildBank(randomBank(r)), kCtl, kTbl);
  Pair pair;
  ASSERT_TRUE(writePair(rom.bytes(), r, dir, 7, pair));
  std::string text = test::readFileText(pair.json);
  const size_t at = text.find("\"sampleRate\": ");
  ASSERT_NE(at, std::string::npos);
  const size_t end = text.find_first_of(",\n", at);
  const long long rate = std::stoll(text.substr(at + 14, end - at - 14));
  text.replace(at + 14, end - at - 14, std::to_string(rate == 0 ? 1 : rate / 2));
  test::writeFile(pair.json, std::vector<uint8_t>(text.begin(), text.end()));
  test::RunResult result = crossCheck({pair});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("sampleRate header"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace zaft
