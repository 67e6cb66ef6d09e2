// The SFZ text read back by the test support's own reader: for every
// (key, velocity) of every preset, the group of that preset plays exactly
// the console's sound (the model's zone) from its WAV file, at its pitch,
// with its loop; and the whole text of a bank with velocity splits, shared
// waves, loops and a drum kit against its golden file.
#include "export/sfz_export.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>

#include "audio/pitch.h"
#include "bank/libultra/bank_lowering.h"
#include "bank/libultra/walk.h"
#include "export/output_plan.h"
#include "support/bank_builder.h"
#include "support/demo_rom.h"
#include "support/rom_builder.h"
#include "support/sfz_reader.h"
#include "support/test_util.h"
#include "util/fatal.h"

namespace zaft {
namespace {

std::vector<uint8_t> frames(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data;
  for (int f = 0; f < count; ++f) {
    data.push_back(static_cast<uint8_t>((rng() % 10) << 4));
    for (int k = 0; k < 8; ++k) data.push_back(static_cast<uint8_t>(rng()));
  }
  return data;
}

// Bank 0 at 22050 Hz: a key split, a velocity split and a drum kit whose
// second drum shares the first melodic wave. Bank 1 at 16000 Hz: the key
// split again (its waves written at bank 0's rate), keys maps out of order
// and an instrument without sounds. Loops endless, counted, raw, and one
// past its wave's end.
test::BankFileDesign splitDesign() {
  test::BankFileDesign d;
  d.envelopes = {{10000, 200000, 50000, 127, 64}, {0, 0, 0, 100, 0}};
  d.keyMaps = {{0, 127, 0, 59, 48, 30},   {0, 127, 60, 127, 72, -50}, {0, 63, 0, 127, 60, 0},
               {64, 127, 0, 127, 60, 127}, {0, 127, 36, 36, 36, 0},   {0, 127, 38, 38, 38, -128},
               {0, 127, 60, 70, 65, 0},   {0, 127, 0, 10, 5, 0},     {0, 127, 30, 40, 35, 0}};
  d.loops = {{16, 200, -1, true}, {8, 1000, 2147483647, false}, {50, 20, 1, true}};
  d.books = {test::simpleBook(2)};
  std::vector<uint8_t> raw(181);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 37);
  d.waves = {{0, 0, frames(30, 1), 0, 0}, {0, 0, frames(20, 2), 2, 0}, {0, 0, frames(12, 3), -1, 0},
             {0, 0, frames(9, 4), -1, 0},  {0, 0, frames(5, 5), -1, 0},  {1, 0, raw, 1, -1}};
  d.sounds = {{0, 0, 0, 0, 127, 0}, {0, 1, 1, 127, 64, 0}, {1, 2, 2, 64, 127, 0},
              {1, 3, 3, 64, 100, 0}, {0, 4, 4, 64, 127, 0}, {0, 5, 0, 30, 127, 0},
              {0, 6, 5, 64, 127, 0}, {0, 7, 1, 64, 127, 0}, {0, 8, 2, 64, 127, 0}};
  test::InstrumentDesign split, layers, drums, unsorted, silent;
  split.sounds = {0, 1};
  layers.sounds = {2, 3};
  drums.sounds = {4, 5};
  unsorted.sounds = {7, 6, 8};
  unsorted.bendRange = -300;
  d.instruments = {split, layers, drums, unsorted, silent};
  test::BankDesign b0, b1;
  b0.sampleRate = 22050;
  b0.percussion = 2;
  b0.insts = {0, 1};
  b1.sampleRate = 16000;
  b1.insts = {3, 0, 4};
  d.banks = {b0, b1};
  return d;
}

// A bank file ripped in memory: its model, its WAV files, its SFZ text.
struct Ripped {
  std::unique_ptr<RomImage> rom;
  InstrumentSet set;
  MemoryTarget files;
  WavResult wavs;
  std::string sfz;
};

std::unique_ptr<Ripped> rip(std::vector<uint8_t> bytes, int64_t ctl, int64_t tbl) {
  auto r = std::make_unique<Ripped>();
  r->rom = std::make_unique<RomImage>(std::move(bytes));
  NullReporter quiet;
  WalkLimits limits;
  limits.samplesWritten = true;
  const BankFile bank = walkBankFile(*r->rom, static_cast<int32_t>(ctl), limits, quiet);
  r->set = instrumentSetOf(bank, 1.0);
  OutputPlan plan{FileIdentity{}};
  const std::vector<PlannedFile> names = plan.planBankFile("", r->set, false, true, {}).waves;
  r->wavs = exportWaves(*r->rom, r->set, tbl, names, WavOptions{}, r->files, quiet);
  MemorySink sink;
  writeSfz(r->set, r->wavs, SfzOptions{"ZAFT: bank file at 0x001000 of test.z64", ""}, sink);
  r->sfz = sink.text();
  return r;
}

std::unique_ptr<Ripped> ripSplitDesign() {
  test::RomBuilder image(0x10000);
  test::placeBank(image, test::buildBank(splitDesign()), 0x1000, 0x8000);
  return rip(image.bytes(), 0x1000, 0x8000);
}

const Zone* zoneFor(const zaft::Instrument& inst, int key, int vel) {
  for (const Zone& z : inst.zones) {
    if (z.keyMin <= key && key <= z.keyMax && z.velocityMin <= vel && vel <= z.velocityMax) return &z;
  }
  return nullptr;
}

// Every (key, velocity) of every preset, in the group its label names.
void expectTheConsolesNotes(const Ripped& r) {
  std::string error;
  const std::optional<test::SfzFile> sfz = test::readSfz(r.sfz, error);
  ASSERT_TRUE(sfz.has_value()) << error;
  for (const Preset& preset : r.set.presets) {
    const zaft::Instrument& inst = r.set.instruments[static_cast<size_t>(preset.instrument)];
    const std::string label = formatText("%03d:%03d %s", preset.bank, preset.program, inst.name.c_str());
    const int bank = preset.bank == 128 ? preset.program : preset.bank;
    std::vector<const test::SfzRegion*> group;
    for (const test::SfzRegion& region : sfz->regions) {
      if (region.text("group_label") != label) continue;
      EXPECT_EQ(region.text("master_label"), formatText("Bank %d", bank));
      group.push_back(&region);
    }
    for (int key = 0; key < 128; ++key) {
      for (int vel = 0; vel < 128; ++vel) {
        std::vector<const test::SfzRegion*> sounding;
        for (const test::SfzRegion* region : group) {
          if (region->plays(key, vel)) sounding.push_back(region);
        }
        const Zone* zone = zoneFor(inst, key, vel);
        const WaveOutcome* wav = nullptr;
        if (zone != nullptr && zone->sample >= 0) {
          const WaveOutcome& o = r.wavs.outcomes.at(r.set.samples[static_cast<size_t>(zone->sample)].record);
          if (o.samples > 0) wav = &o;
        }
        ASSERT_EQ(sounding.size(), wav == nullptr ? 0u : 1u) << label << " " << key << " " << vel;
        if (wav == nullptr) continue;
        const test::SfzRegion& region = *sounding[0];
        ASSERT_EQ(region.text("sample"), wav->file);
        const double expected =
            1200.0 * std::log2(playbackRatio(SamplePitch{zone->pitchCents}, key) * inst.rate / wav->rate);
        ASSERT_NEAR(region.centsAt(key), expected, 1.0) << label << " " << key;
        const Sample& wave = r.set.samples[static_cast<size_t>(zone->sample)];
        std::optional<std::pair<long, long>> loop;
        if (wave.loop && wave.loop->count != 0 && wave.loop->start < std::min<int64_t>(wave.loop->end, wav->samples)) {
          loop = std::make_pair(long{wave.loop->start}, static_cast<long>(std::min<int64_t>(wave.loop->end, wav->samples)));
        }
        ASSERT_EQ(region.loop(), loop) << label << " " << wav->file;
      }
    }
  }
}

TEST(Sfz, EveryNoteOfEveryPresetPlaysTheConsolesSound) {
  const test::DemoRom demo = test::buildDemoRom();
  for (const test::DemoBankFile& file : demo.bankFiles) {
    SCOPED_TRACE(formatText("demo bank file at 0x%06zX", file.ctlOffset));
    expectTheConsolesNotes(*rip(demo.bytes, static_cast<int64_t>(file.ctlOffset),
                                static_cast<int64_t>(file.tblOffset)));
  }
  SCOPED_TRACE("velocity splits");
  expectTheConsolesNotes(*ripSplitDesign());
}

// The whole text: labels, comments, envelopes, levels, pan and loops.
TEST(Sfz, WholeTextOfABankWithSplitsAndADrumKit) {
  const std::string text = ripSplitDesign()->sfz;
  if (std::getenv("ZAFT_WRITE_GOLDEN") != nullptr) {
    test::writeFile(ZAFT_SOURCE_DIR "/tests/golden/split_bank.sfz",
                    std::vector<uint8_t>(text.begin(), text.end()));
  }
  EXPECT_EQ(test::readFileText(ZAFT_SOURCE_DIR "/tests/golden/split_bank.sfz"), text);
}

TEST(Sfz, WavFilesAreNamedFromTheSfzFilesFolder) {
  const std::string cwd = std::filesystem::current_path().generic_string();
  const struct {
    const char* folder;
    const char* name;
    std::string prefix;
  } cases[] = {
      {"", "bank.sfz", ""},
      {"CTL_0E4A70", "bank.sfz", ""},
      {"out", "sfz/bank.sfz", "../"},
      {"out", "a/b/../bank.sfz", "../"},
      {"out", "./bank.sfz", ""},
      {"out/CTL_0E4A70", "../bank.sfz", "CTL_0E4A70/"},
      {"out", "/abs/bank.sfz", cwd + "/out/"},
  };
  for (const auto& c : cases) EXPECT_EQ(wavPrefixFor(c.folder, c.name), c.prefix) << c.folder << " " << c.name;
}

}  // namespace
}  // namespace zaft
