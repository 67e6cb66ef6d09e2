// End to end: an EAD set (sound data, sample table, sequences, bank sets)
// in a ROM and in a compressed block of it, through /x and /m, in every
// dump layout.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/ead_builder.h"
#include "support/ead_seq_encoder.h"
#include "support/lz_encoder.h"
#include "support/rom_builder.h"
#include "support/sf2_reader.h"
#include "support/test_util.h"
#include "util/fatal.h"

namespace zaft {
namespace {

namespace fs = std::filesystem;

constexpr size_t kSetAt = 0x20000, kBlockAt = 0x60000;

struct EadRom {
  std::vector<uint8_t> rom;
  test::EadSetDesign design;
  test::BuiltEadSet built;
};

EadRom eadRom() {
  EadRom r;
  r.design = test::defaultEadSet();
  r.design.sequences = {
      test::eadSequence("seq_settempo 120; seq_initchannels 3; seq_startchannel 0, c0;"
                        "seq_startchannel 1, c1; seq_delay 192; seq_end;"
                        "c0: chan_largenoteson; chan_setinstr 0; chan_setlayer 0, l0; chan_hang;"
                        "l0: layer_note1 39, 48, 100; layer_note1 43, 48, 90; layer_end;"
                        "c1: chan_largenoteson; chan_setinstr 127; chan_setlayer 0, l1; chan_hang;"
                        "l1: layer_note1 1, 24, 110; layer_end"),
      {}};
  r.built = test::buildEadSet(r.design);
  r.rom = test::randomBytes(0x100000, 23);
  const uint8_t magic[] = {0x80, 0x37, 0x12, 0x40};
  std::copy(magic, magic + 4, r.rom.begin());
  std::copy(r.built.bytes.begin(), r.built.bytes.end(), r.rom.begin() + kSetAt);
  const std::vector<uint8_t> block = test::compressBlock(BlockFormat::Yaz0, r.built.bytes);
  std::copy(block.begin(), block.end(), r.rom.begin() + kBlockAt);
  return r;
}

std::string hex(int64_t v) { return formatText("%06X", static_cast<unsigned>(v)); }

// Every file under `folder`, by its path inside it; with `sounds`, only
// the WAV and MIDI files (the documents and soundfonts name offsets).
std::map<std::string, std::vector<uint8_t>> filesUnder(const std::string& folder, bool sounds = false) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string ext = e.path().extension().string();
    if (e.is_regular_file() && (!sounds || ext == ".WAV" || ext == ".mid")) {
      files[fs::relative(e.path(), folder).string()] = test::readFileBytes(e.path().string());
    }
  }
  return files;
}

// The names of the files that differ between two sets of files.
std::vector<std::string> differing(const std::map<std::string, std::vector<uint8_t>>& a,
                                   const std::map<std::string, std::vector<uint8_t>>& b) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : a) {
    if (!b.count(name) || b.at(name) != bytes) names.push_back(name);
  }
  for (const auto& [name, bytes] : b) {
    if (!a.count(name)) names.push_back(name);
  }
  return names;
}

TEST(Ead, SetsAndSequencesRippedInEveryLayout) {
  const EadRom r = eadRom();
  test::TempDir dir;
  test::writeFile(dir.file("g.z64"), r.rom);
  test::writeFile(dir.file("g.v64"), test::toV64(r.rom));
  test::writeFile(dir.file("g.n64"), test::toN64(r.rom));
  const test::RunResult z =
      test::runInProcess({"/x", "/l", "/s", "bank.sf2", "/j", "index.json", "/d", "z", "g.z64"}, dir.path());
  ASSERT_EQ(z.status, 0) << z.err;
  const std::string set = "EAD_" + hex(kSetAt + r.built.soundData);
  const std::string inBlock = "EAD_" + hex(kBlockAt) + "+" + hex(r.built.soundData);
  const std::string music = "SEQ_" + hex(kSetAt + r.built.sequences);
  EXPECT_NE(z.err.find(formatText("Found EAD sound data at 0x%s with 3 banks, sample table at 0x%s\n",
                                  hex(kSetAt + r.built.soundData).c_str(),
                                  hex(kSetAt + r.built.sampleTable).c_str())),
            std::string::npos)
      << z.err;
  EXPECT_NE(z.err.find(formatText("Found EAD sequence file at 0x%s with 2 sequences, bank sets at 0x%s\n",
                                  hex(kSetAt + r.built.sequences).c_str(),
                                  hex(kSetAt + r.built.bankSets).c_str())),
            std::string::npos);
  EXPECT_NE(z.err.find("2 EAD sets: 2 ok, 0 failed; 14 .wav files in all\n"), std::string::npos) << z.err;

  // One WAV per distinct sample, the decoded frames as the design's, at
  // the rate its first sound plays it at unison.
  const auto files = filesUnder(dir.file("z/" + set));
  EXPECT_EQ(files.size(), 7u + 2u) << "7 WAV files, the JSON document and the soundfont";
  const test::EadWaveDesign& first = r.design.sampleBanks[0].waves[r.design.banks[0].instruments[0].low.wave];
  const std::vector<uint8_t>& wav = files.at("B00I000L.WAV");
  const std::string riff(wav.begin(), wav.end());
  const size_t data = riff.find("data");
  ASSERT_NE(data, std::string::npos);
  std::vector<int16_t> pcm;
  for (size_t i = data + 8; i + 1 < wav.size() && pcm.size() < first.decoded.size(); i += 2) {
    pcm.push_back(static_cast<int16_t>(wav[i] | wav[i + 1] << 8));
  }
  EXPECT_TRUE(pcm == first.decoded);
  EXPECT_NE(riff.find("smpl"), std::string::npos);
  std::string error;
  const std::optional<test::Sf2File> sf2 = test::readSf2(files.at("bank.sf2"), error);
  ASSERT_TRUE(sf2.has_value()) << error;
  EXPECT_EQ(sf2->presets.size(), 6u);  // bank 0: 3 slots and its drums, bank 1: 1, bank 2: 1
  const std::string doc(files.at("index.json").begin(), files.at("index.json").end());
  EXPECT_NE(doc.find("\"format\": \"zaft-ead\""), std::string::npos);

  // The copy inside the block rips to the same files; the sequence file
  // to MIDI files naming its banks.
  EXPECT_EQ(differing(filesUnder(dir.file("z/" + inBlock), true), filesUnder(dir.file("z/" + set), true)),
            std::vector<std::string>());
  const auto songs = filesUnder(dir.file("z/" + music));
  ASSERT_EQ(songs.size(), 2u);
  const std::vector<uint8_t>& song = songs.at("000.mid");
  ASSERT_GT(song.size(), 14u);
  EXPECT_EQ(song[11], 3) << "the first track and one per channel that plays";
  EXPECT_NE(std::string(song.begin(), song.end()).find("banks of " + set + ": 1, 0"), std::string::npos);

  // The other layouts rip the same bytes; /m alone finds the music only.
  for (const char* rom : {"g.v64", "g.n64"}) {
    const test::RunResult o = test::runInProcess(
        {"/x", "/l", "/s", "bank.sf2", "/j", "index.json", "/d", std::string("o_") + rom, rom}, dir.path());
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(differing(filesUnder(dir.file("z"), true), filesUnder(dir.file(std::string("o_") + rom), true)),
              std::vector<std::string>())
        << rom;
  }
  const test::RunResult m = test::runInProcess({"/m", "/d", "m", "g.z64"}, dir.path());
  ASSERT_EQ(m.status, 0) << m.err;
  EXPECT_EQ(m.err.find("EAD sound data"), std::string::npos);
  EXPECT_EQ(differing(filesUnder(dir.file("m/" + music)), songs), std::vector<std::string>());
}

}  // namespace
}  // namespace zaft
