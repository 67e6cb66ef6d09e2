#include "export/output_plan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bank/libultra/bank_lowering.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

struct Wave {
  uint8_t type;
  WalkIndices at;
};

// A bank file's samples, named as their types and the places that reached
// them name them.
InstrumentSet setOf(const std::vector<Wave>& waves) {
  InstrumentSet set;
  for (const Wave& w : waves) {
    Sample sample;
    sample.record = static_cast<int32_t>(set.samples.size()) + 1;
    sample.fileName = waveFileName(w.type, w.at);
    set.samples.push_back(sample);
  }
  return set;
}

// The header and, when named, the JSON document, as the driver asks for them.
std::vector<OutputRequest> headerAndJson(const std::string& header, const std::string& json) {
  std::vector<OutputRequest> requests = {{"header file", header, false}};
  if (!json.empty()) requests.push_back({"JSON file", json, false});
  return requests;
}
// The planned file of request k; an unplanned one past the requests.
PlannedFile fileOf(const BankOutputs& outputs, size_t k) {
  return k < outputs.files.size() ? outputs.files[k] : PlannedFile();
}

TEST(OutputPlanTest, WaveFileNames) {
  const Wave cases[] = {{0, {0, 5, 1}}, {1, {2, 12, 3}}, {255, {9, 123, 45}}, {7, {10, 1, 23}}};
  const char* const names[] = {"A000501.WAV", "@201203.WAV", "@912345.WAV", "@1000123.WAV"};
  for (size_t k = 0; k < std::size(cases); ++k) {
    EXPECT_EQ(waveFileName(cases[k].type, cases[k].at), names[k]);
  }
}

TEST(OutputPlanTest, PathIn) {
  const char* const cases[][3] = {{"", "CONTROL.H", "CONTROL.H"},
                                  {"out", "x.h", "out/x.h"},
                                  {"out/", "x.h", "out/x.h"},
                                  {"out", "/abs/x.h", "/abs/x.h"}};
  for (const auto& c : cases)
    EXPECT_EQ(OutputPlan::pathIn(c[0], c[1]), c[2]) << c[0] << " " << c[1];
}

// Different numbers can print alike: a later wave gets the first free "_n"
// and a notice; a wave of another type has another name.
TEST(OutputPlanTest, CoincidingWaveNamesGetTheFirstFreeSuffix) {
  const InstrumentSet bank =
      setOf({{1, {1, 0, 123}}, {1, {10, 1, 23}}, {1, {1, 0, 123}}, {0, {1, 0, 123}}});
  const BankOutputs out =
      OutputPlan(FileIdentity{}).planBankFile("out", bank, false, true, headerAndJson("CONTROL.H", ""));
  ASSERT_EQ(out.waves.size(), 4u);
  const char* const names[] = {"@1000123.WAV", "@1000123_1.WAV", "@1000123_2.WAV", "A1000123.WAV"};
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(out.waves[k].name, names[k]);
    EXPECT_EQ(out.waves[k].path, std::string("out/") + names[k]);
    EXPECT_FALSE(out.waves[k].refused());
  }
  EXPECT_EQ(out.waves[0].notice, "");
  EXPECT_EQ(out.waves[1].notice,
            "Warning: @1000123.WAV was already written in this run; this wave is written as "
            "@1000123_1.WAV\n");
  EXPECT_EQ(out.waves[2].notice,
            "Warning: @1000123.WAV was already written in this run; this wave is written as "
            "@1000123_2.WAV\n");
  EXPECT_EQ(out.waves[3].notice, "");
  EXPECT_EQ(fileOf(out, 0).path, "out/CONTROL.H");
  EXPECT_FALSE(fileOf(out, 0).refused());
  EXPECT_EQ(fileOf(out, 1).name, "");
}

// The header and the document never replace a WAV file of the run, nor each
// other, however their names are spelled (the folder's identity counts, not
// its spelling); without WAV files the names are free.
TEST(OutputPlanTest, HeaderAndJsonRefusals) {
  test::TempDir dir;
  ASSERT_TRUE(std::filesystem::create_directory(dir.file("sub")));
  const std::string out = dir.path();
  const InstrumentSet bank = setOf({{1, {1, 0, 123}}, {1, {1, 0, 123}}});
  const std::string wave = "the .wav file " + out + "/@1000123.WAV of this run\n";
  struct Case {
    bool waves;
    const char* header;
    const char* json;
    std::string headerRefusal;
    std::string jsonRefusal;
  };
  const Case cases[] = {
      {true, "CONTROL.H", "bank.json", "", ""},
      {true, "@1000123.WAV", "@1000123_1.WAV",
       "Refusing to write header file " + out + "/@1000123.WAV: it would replace " + wave,
       "Refusing to write JSON file " + out + "/@1000123_1.WAV: it would replace the .wav file " +
           out + "/@1000123_1.WAV of this run\n"},
      {true, "CONTROL.H", "CONTROL.H", "",
       "Refusing to write JSON file " + out + "/CONTROL.H: it would replace the header file " +
           out + "/CONTROL.H of this run\n"},
      {false, "@1000123.WAV", "@1000123_1.WAV", "", ""},
      // The same files spelled another way.
      {true, "./@1000123.WAV", "sub/../CONTROL.H",
       "Refusing to write header file " + out + "/./@1000123.WAV: it would replace " + wave, ""},
      {true, "CONTROL.H", "sub/../CONTROL.H", "",
       "Refusing to write JSON file " + out + "/sub/../CONTROL.H: it would replace the header "
       "file " + out + "/CONTROL.H of this run\n"},
      // A folder at an output's name is left as it is.
      {true, "sub", "sub/", "Refusing to write header file " + out + "/sub: a folder of that name "
       "is in the way\n",
       "Refusing to write JSON file " + out + "/sub/: a folder of that name is in the way\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.header) + " " + c.json);
    const BankOutputs o = OutputPlan(FileIdentity{}).planBankFile(out, bank, false, c.waves, headerAndJson(c.header, c.json));
    EXPECT_EQ(o.waves.size(), c.waves ? 2u : 0u);
    EXPECT_EQ(fileOf(o, 0).refusal, c.headerRefusal);
    EXPECT_EQ(fileOf(o, 1).name, c.json);
    EXPECT_EQ(fileOf(o, 1).refusal, c.jsonRefusal);
  }
}

// One plan for the whole run: a later bank file's output never replaces an
// earlier one's, a name given back is free again, a bank file whose walk
// stopped claims no header, and a WAV name refused for a folder in the way
// still moves the next wave of that name on to "_1".
TEST(OutputPlanTest, OneRunOnePlan) {
  test::TempDir dir;
  for (const char* sub : {"a", "b", "b/A000000.WAV"}) ASSERT_TRUE(std::filesystem::create_directory(dir.file(sub)));
  OutputPlan plan(FileIdentity{});
  const InstrumentSet bank = setOf({{0, {0, 0, 0}}, {0, {0, 0, 0}}});
  const BankOutputs a = plan.planBankFile(dir.file("a"), bank, false, false, headerAndJson("../H.H", ""));
  EXPECT_FALSE(fileOf(a, 0).refused());
  const BankOutputs b = plan.planBankFile(dir.file("b"), bank, false, true, headerAndJson("../H.H", ""));
  EXPECT_EQ(fileOf(b, 0).refusal, "Refusing to write header file " + dir.file("b/../H.H") +
                                  ": it would replace the header file " + dir.file("a/../H.H") +
                                  " of this run\n");
  EXPECT_EQ(b.waves[0].refusal, "Refusing to write .wav file " + dir.file("b/A000000.WAV") +
                                    ": a folder of that name is in the way\n");
  EXPECT_EQ(b.waves[1].name, "A000000_1.WAV");
  plan.release(fileOf(a, 0));
  EXPECT_FALSE(plan.planBankFile(dir.file("b"), bank, false, false, headerAndJson("../H.H", "")).files[0].refused());
  EXPECT_EQ(plan.planBankFile(dir.file("a"), bank, true, false, headerAndJson("X.H", "x.json")).files[0].name, "");
}

// The ROM, however its name is spelled, is never an output: a WAV file
// named like it goes beside it, a header or document is refused.
TEST(OutputPlanTest, NeverTheRom) {
  test::TempDir dir;
  ASSERT_TRUE(std::filesystem::create_directory(dir.file("sub")));
  test::writeFile(dir.file("A000000.WAV"), {0x80, 0x37, 0x12, 0x40});
  OutputPlan plan(identityOf(dir.file("A000000.WAV")));
  const InstrumentSet bank = setOf({{0, {0, 0, 0}}, {0, {0, 0, 0}}});

  BankOutputs out = plan.planBankFile(dir.path(), bank, false, true, headerAndJson("sub/../A000000.WAV", "A000000.WAV"));
  ASSERT_EQ(out.waves.size(), 2u);
  EXPECT_EQ(out.waves[0].path, dir.file("A000000_1.WAV"));
  EXPECT_EQ(out.waves[0].notice,
            "Warning: A000000.WAV is the ROM file itself; this wave is written as A000000_1.WAV\n");
  EXPECT_EQ(out.waves[1].name, "A000000_2.WAV");
  EXPECT_EQ(fileOf(out, 0).refusal, "Refusing to write header file " + dir.path() +
                                    "/sub/../A000000.WAV: it is the ROM file\n");
  EXPECT_EQ(fileOf(out, 1).refusal,
            "Refusing to write JSON file " + dir.path() + "/A000000.WAV: it is the ROM file\n");

  EXPECT_EQ(plan.planIndex(dir.path(), "sub/../A000000.WAV").refusal,
            "Refusing to write JSON file " + dir.path() + "/sub/../A000000.WAV: it is the ROM "
            "file\n");
  const PlannedFile index = plan.planIndex(dir.path(), "all.json");
  EXPECT_EQ(index.path, dir.file("all.json"));
  EXPECT_FALSE(index.refused());
}

}  // namespace
}  // namespace zaft
