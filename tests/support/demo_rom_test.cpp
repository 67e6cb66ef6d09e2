#include "support/demo_rom.h"

#include "bank/libultra/sequence_bank.h"
#include "export/libultra/midi_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "audio/adpcm.h"
#include "util/endian.h"
#include "support/rom_builder.h"
#include "support/test_util.h"
#include "support/vadpcm_encoder.h"

namespace zaft::test {
namespace {

const DemoRom& demo() {
  static const DemoRom rom = buildDemoRom();
  return rom;
}

bool sameBytes(const std::vector<uint8_t>& rom, size_t at, const std::vector<uint8_t>& block) {
  return at + block.size() <= rom.size() &&
         std::equal(block.begin(), block.end(), rom.begin() + static_cast<ptrdiff_t>(at));
}

// The scan's control-block test at a 16-byte boundary: the bank file's
// revision "B1", 0..3 banks, a first bank offset below 65536, a multiple of
// 4, inside the file; and at the first bank 0..127 instruments, an even
// rate and a percussion pointer that is a multiple of 4 below 65536.
bool firstStage(const std::vector<uint8_t>& rom, size_t pos) {
  if (pos + 8 > rom.size()) return false;
  const uint32_t offset = loadBE32(&rom[pos + 4]);
  return rom[pos] == 0x42 && rom[pos + 1] == 0x31 && rom[pos + 2] == 0 && rom[pos + 3] <= 3 &&
         offset < 65536 && offset % 4 == 0 && pos + offset <= rom.size();
}

bool secondStage(const std::vector<uint8_t>& rom, size_t pos) {
  const size_t bank = pos + loadBE32(&rom[pos + 4]);
  if (bank + 12 > rom.size()) return false;
  return (loadBE16(&rom[bank]) & 0xFF80) == 0 && loadBE32(&rom[bank + 4]) % 2 == 0 &&
         (loadBE32(&rom[bank + 8]) & 0xFFFF0003u) == 0;
}

struct Trial {
  size_t start = 0;
  int passing = -1;  // index of the first passing trial position, -1 for none
};

// The scan's sample-block search for the bank file at `ctl`.
Trial sampleTrial(const std::vector<uint8_t>& rom, size_t ctl) {
  const size_t bank = ctl + loadBE32(&rom[ctl + 4]);
  Trial trial;
  trial.start = (bank + 4 + 4 * size_t{loadBE16(&rom[bank])} + loadBE32(&rom[bank + 8])) & ~size_t{15};
  for (int k = 0; k < 16 && trial.passing < 0; ++k) {
    const size_t t = trial.start + 16 * static_cast<size_t>(k);
    bool all = true;
    for (size_t j = 0; j < 16 && all; ++j) all = t + 9 * j < rom.size() && isAdpcmFrameHeader(rom[t + 9 * j]);
    if (all) trial.passing = k;
  }
  return trial;
}

TEST(DemoRom, IsACartridgeImageAndDeterministic) {
  const std::vector<uint8_t>& rom = demo().bytes;
  ASSERT_EQ(rom.size(), kDemoRomSize);
  EXPECT_EQ(std::vector<uint8_t>(rom.begin(), rom.begin() + 4), (std::vector<uint8_t>{0x80, 0x37, 0x12, 0x40}));
  EXPECT_EQ(std::string(rom.begin() + 0x20, rom.begin() + 0x34), "ZAFT DEMO           ");
  EXPECT_TRUE(makeDemoRom() == rom);
}

TEST(DemoRom, BankFilesAndSampleBlocksSitAtTheirOffsets) {
  const DemoRom& d = demo();
  ASSERT_EQ(d.bankFiles.size(), 2u);
  size_t previousEnd = 0;
  for (const DemoBankFile& f : d.bankFiles) {
    SCOPED_TRACE(f.ctlOffset);
    EXPECT_EQ(f.ctlOffset % 16, 0u);
    EXPECT_GE(f.ctlOffset, previousEnd);
    EXPECT_TRUE(sameBytes(d.bytes, f.ctlOffset, f.built.ctl));
    EXPECT_GE(f.tblOffset, f.ctlOffset + f.built.ctl.size());
    EXPECT_TRUE(sameBytes(d.bytes, f.tblOffset, f.built.tbl));
    previousEnd = f.tblOffset + f.built.tbl.size();
    for (const DemoWave& w : f.waves) {
      SCOPED_TRACE(w.what);
      EXPECT_EQ(w.base % 8, 0u);
      EXPECT_LE(f.tblOffset + w.base + w.len, d.bytes.size());
    }
  }
}

TEST(DemoRom, OnlyTheTwoBankFilesLookLikeOne) {
  const std::vector<uint8_t>& rom = demo().bytes;
  std::vector<size_t> found;
  for (size_t pos = 0; pos < rom.size(); pos += 16) {
    if (rom[pos] == 0x42 && rom[pos + 1] == 0x31 && rom[pos + 2] == 0 && rom[pos + 3] <= 3) found.push_back(pos);
  }
  const std::vector<size_t> expected{demo().bankFiles[0].ctlOffset, demo().bankFiles[1].ctlOffset};
  ASSERT_EQ(found, expected);
  for (size_t pos : found) {
    EXPECT_TRUE(firstStage(rom, pos) && secondStage(rom, pos)) << pos;
  }
}

TEST(DemoRom, SampleBlocksSitAtTheScansFirstPassingTrial) {
  for (const DemoBankFile& f : demo().bankFiles) {
    SCOPED_TRACE(f.ctlOffset);
    const Trial trial = sampleTrial(demo().bytes, f.ctlOffset);
    ASSERT_GE(trial.passing, 0);
    EXPECT_EQ(trial.start + 16 * static_cast<size_t>(trial.passing), f.tblOffset);
  }
  // In bank file 1 the scan first meets a few positions that must fail.
  EXPECT_GE(sampleTrial(demo().bytes, demo().bankFiles[0].ctlOffset).passing, 2);
}

struct ExpectedWave {
  std::string fileName;
  int32_t rate;
  std::string what;
  double floorDb;  // SNR of the rip against the synthesized sound, measured then lowered
};

// The drum kit is bank 0's percussion and is walked first with instrument
// number 0, so the strings (instrument 0) print the same names.
const std::vector<std::vector<ExpectedWave>> kExpected = {
    {
        {"A000000.WAV", 22050, "kick drum", 48},            // measured 51.4 dB
        {"A000001.WAV", 22050, "snare drum", 19},           // 21.9
        {"A000002.WAV", 22050, "hi-hat", 21},               // 24.2
        {"A000000_1.WAV", 22050, "plucked string C3", 32},  // 35.5
        {"A000001_1.WAV", 22050, "plucked string G3", 28},  // 31.6
        {"A000002_1.WAV", 22050, "plucked string E4", 32},  // 35.6
        {"A000100.WAV", 22050, "plucked bass A1", 37},      // 41.0
        {"A100000.WAV", 16000, "pad C4 (looped)", 43},      // 46.4
        {"@100100.WAV", 16000, "organ C4 (raw, looped)", 1e9},
    },
    {
        {"A000000.WAV", 32000, "bell A5", 45},  // 48.4
        {"A000001.WAV", 32000, "zap", 28},      // 31.7
    },
};

TEST(DemoRom, WavesAreNamedByTheWalkAndDecodeToWhatARipWrites) {
  ASSERT_EQ(demo().bankFiles.size(), kExpected.size());
  for (size_t b = 0; b < kExpected.size(); ++b) {
    const DemoBankFile& f = demo().bankFiles[b];
    ASSERT_EQ(f.waves.size(), kExpected[b].size());
    for (size_t i = 0; i < f.waves.size(); ++i) {
      const DemoWave& w = f.waves[i];
      const ExpectedWave& e = kExpected[b][i];
      SCOPED_TRACE(e.what);
      EXPECT_EQ(w.what, e.what);
      EXPECT_EQ(w.fileName, e.fileName);
      EXPECT_EQ(w.sampleRate, e.rate);
      const auto at = static_cast<ptrdiff_t>(f.tblOffset + w.base);
      const std::vector<uint8_t> data(demo().bytes.begin() + at, demo().bytes.begin() + at + w.len);
      if (w.type == 0) {
        EXPECT_EQ(w.len % 9, 0u);
        EXPECT_EQ(w.expected.size(), w.len / 9 * 16);
        EXPECT_EQ(decodeAdpcm(data, w.book), w.expected);
        EXPECT_TRUE(w.book.npredictors == 2 || w.book.npredictors == 4);
      } else {
        EXPECT_EQ(w.type, 1);
        EXPECT_EQ(data, rawWaveBytes(w.expected));
      }
      EXPECT_GE(snrDb(w.source, w.expected), e.floorDb);
    }
  }
}

TEST(DemoRom, LoopsAreSeamless) {
  int loops = 0;
  for (const DemoBankFile& f : demo().bankFiles) {
    for (const DemoWave& w : f.waves) {
      if (w.loopEnd == 0) continue;
      SCOPED_TRACE(w.what);
      ++loops;
      EXPECT_EQ(w.loopCount, w.type == 0 ? -1 : 2147483647);
      ASSERT_GT(w.loopStart, 0);
      ASSERT_LE(w.loopEnd, static_cast<int32_t>(w.source.size()));
      EXPECT_EQ(w.loopStart % 16, 0);
      // Going from the loop's last sample back to its first is no bigger a
      // step than the steps inside the loop.
      int largest = 0;
      for (int32_t i = w.loopStart + 1; i < w.loopEnd; ++i) {
        largest = std::max(largest, std::abs(w.source[static_cast<size_t>(i)] - w.source[static_cast<size_t>(i - 1)]));
      }
      const int seam = std::abs(w.source[static_cast<size_t>(w.loopStart)] - w.source[static_cast<size_t>(w.loopEnd - 1)]);
      EXPECT_LE(seam, largest);
    }
  }
  EXPECT_EQ(loops, 2);
}

// A whole run of the built tool without offsets: the scan reports both bank
// files and the first one's sample block, and every WAV holds exactly the
// samples the description expects.
TEST(DemoRom, ARunWithoutOffsetsRipsBankFileOneExactly) {
  TempDir dir;
  writeFile(dir.file("demo.z64"), demo().bytes);
  const RunResult run = runBinary({"/q", "demo.z64"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Found possible .ctl offset: 0x0E4A70\n"
                         "Found possible .tbl offset: 0x0E5700\n"
                         "Found possible .ctl offset: 0x2A61C0\n"
                         "Found possible .tbl offset: 0x2A6460\n"),
            std::string::npos)
      << run.err;
  const DemoBankFile& f = demo().bankFiles[0];
  ASSERT_EQ(f.ctlOffset, 0x0E4A70u);
  ASSERT_EQ(f.tblOffset, 0x0E5700u);
  for (const DemoWave& w : f.waves) {
    SCOPED_TRACE(w.fileName);
    const std::vector<uint8_t> file = readFileBytes(dir.file(w.fileName));
    ASSERT_EQ(file.size(), 58 + 2 * w.expected.size());
    EXPECT_EQ(loadLE32(&file[24]), static_cast<uint32_t>(w.sampleRate));
    std::vector<int16_t> samples(w.expected.size());
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(loadLE16(&file[58 + 2 * i]));
    EXPECT_EQ(samples, w.expected);
  }
  EXPECT_TRUE(fileExists(dir.file("CONTROL.H")));
}

}  // namespace
}  // namespace zaft::test

namespace zaft::test {
namespace {

// The one sequence bank the music scan finds: its pieces read to their ends
// and loop as described.
TEST(DemoRom, MusicIsFoundAndReadsCleanly) {
  const DemoRom demo = buildDemoRom();
  const RomImage rom(demo.bytes);
  NullReporter quiet;
  const std::vector<SequenceBank> found = scanForSequenceBanks(rom, quiet);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].offset, static_cast<int64_t>(demo.sequenceBankAt));
  ASSERT_EQ(found[0].sequences.size(), demo.songs.size());
  const int loopCounts[] = {255, 2};
  for (size_t k = 0; k < demo.songs.size(); ++k) {
    const SequenceEntry& e = found[0].sequences[k];
    EXPECT_EQ(e.standard, demo.songs[k].standard);
    if (e.standard) continue;
    const MidiSequence midi = compactToMidi(found[0].bytesOf(rom, e), e.len);
    EXPECT_TRUE(midi.problems.empty()) << demo.songs[k].what;
    EXPECT_EQ(midi.info.tracks, 3);
    ASSERT_EQ(midi.info.loops.size(), 3u);
    for (const SequenceLoop& l : midi.info.loops) EXPECT_EQ(l.count, loopCounts[k]);
  }
}

}  // namespace
}  // namespace zaft::test
