// The music end to end: a sequence bank of a compact sequence (made by the
// test support's encoder from a known list of events: long notes, chords,
// overlapping notes, running status, tempo, program and controller changes,
// pitch bend, back-references into earlier phrases, a finite, an endless and
// a nested loop) and a Standard MIDI File, in a generated ROM; ripped with /m
// and /x and read back by mido, event by event.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "support/compact_encoder.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

using test::SongEvent;
using Kind = test::SongEvent::Kind;

constexpr size_t kBankAt = 0x40000;
constexpr uint32_t kEnd = 1920;

SongEvent note(uint32_t tick, uint8_t channel, uint8_t key, uint8_t vel, uint32_t duration) {
  return {Kind::Note, tick, static_cast<uint8_t>(0x90 | channel), key, vel, duration};
}
SongEvent channelEvent(uint32_t tick, uint8_t status, uint8_t a, uint8_t b = 0) {
  return {Kind::Channel, tick, status, a, b};
}
SongEvent tempo(uint32_t tick, uint32_t t) { return {Kind::Tempo, tick, 0, 0, 0, 0, t}; }
SongEvent loopStart(uint32_t tick, uint8_t n) { return {Kind::LoopStart, tick, 0, 0, 0, 0, 0, n}; }
SongEvent loopEnd(uint32_t tick, uint8_t n, uint8_t count) {
  return {Kind::LoopEnd, tick, 0, 0, 0, 0, 0, n, count};
}

// A phrase of notes from `at`, played twice (the second time a
// back-reference into the first).
void phrase(test::SongTrack& t, uint32_t at) {
  t.push_back(note(at, 0, 60, 100, 96));
  t.push_back(note(at + 96, 0, 64, 90, 48));
  t.push_back(note(at + 144, 0, 67, 80, 240));  // long: past the next notes
  t.push_back(channelEvent(at + 200, 0xE0, 0x00, 0x50));
  t.push_back(note(at + 384, 0, 60, 70, 96));  // a chord
  t.push_back(note(at + 384, 0, 64, 70, 96));
  t.push_back(note(at + 384, 0, 67, 70, 96));
}

test::CompactSong song() {
  test::CompactSong s;
  s.division = 96;
  s.endTick = kEnd;
  test::SongTrack lead = {channelEvent(0, 0xC0, 5), channelEvent(0, 0xB0, 7, 100), tempo(0, 400000)};
  phrase(lead, 0);
  phrase(lead, 480);
  // The same key twice, overlapping: each gets its own note-off.
  lead.push_back(note(960, 0, 72, 100, 200));
  lead.push_back(note(1000, 0, 72, 100, 50));
  lead.push_back(loopStart(1200, 1));
  lead.push_back(note(1200, 0, 62, 90, 96));
  lead.push_back(loopEnd(1400, 1, 3));
  lead.push_back(loopStart(1440, 2));
  lead.push_back(loopStart(1500, 3));
  lead.push_back(note(1500, 0, 65, 90, 50));
  lead.push_back(loopEnd(1600, 3, 200));  // a count past 127
  lead.push_back(loopEnd(1700, 2, 0xFF));  // for ever
  lead.push_back(tempo(1700, 600000));
  // A note of duration 0 between a note of its key that ends at its tick
  // and one that starts there.
  lead.push_back(note(1776, 0, 70, 90, 24));
  lead.push_back(note(1800, 0, 70, 91, 0));
  lead.push_back(note(1800, 0, 70, 92, 24));
  test::SongTrack drums;
  for (uint32_t k = 0; k < 16; ++k) drums.push_back(note(48 * k, 9, k % 2 == 0 ? 36 : 38, 120, 24));
  drums.push_back(channelEvent(900, 0xD9, 40));
  s.tracks = {lead, drums};
  return s;
}

// What mido reads from the converted sequence, track by track, as sorted
// "TICK EVENT" lines.
std::vector<std::vector<std::string>> expectedLines(const test::CompactSong& s) {
  std::vector<std::vector<std::string>> tracks;
  for (const test::SongTrack& t : s.tracks) {
    std::vector<std::pair<uint32_t, std::string>> lines;
    int channel = 0;
    for (const SongEvent& e : t) {
      if (e.kind == Kind::Note || e.kind == Kind::Channel) {
        channel = e.status & 0x0F;
        break;
      }
    }
    const std::string ch = std::to_string(channel);
    std::map<uint8_t, uint8_t> counts;
    for (const SongEvent& e : t) {
      if (e.kind == Kind::LoopEnd) counts[e.loop] = e.count;
    }
    uint32_t end = s.endTick;
    for (const SongEvent& e : t) {
      const std::string c = std::to_string(e.status & 0x0F);
      switch (e.kind) {
        case Kind::Note:
          lines.push_back({e.tick, "note_on " + c + " " + std::to_string(e.data1) + " " + std::to_string(e.data2)});
          lines.push_back({e.tick + e.duration, "note_off " + c + " " + std::to_string(e.data1) + " 64"});
          end = std::max(end, e.tick + e.duration);
          break;
        case Kind::Channel:
          switch (e.status & 0xF0) {
            case 0xC0: lines.push_back({e.tick, "program " + c + " " + std::to_string(e.data1)}); break;
            case 0xB0:
              lines.push_back({e.tick, "cc " + c + " " + std::to_string(e.data1) + " " + std::to_string(e.data2)});
              break;
            case 0xE0: lines.push_back({e.tick, "pitchwheel " + c + " " + std::to_string((e.data2 << 7 | e.data1) - 8192)}); break;
            case 0xD0: lines.push_back({e.tick, "aftertouch " + c + " " + std::to_string(e.data1)}); break;
          }
          break;
        case Kind::Tempo: lines.push_back({e.tick, "tempo " + std::to_string(e.tempo)}); break;
        case Kind::LoopStart: {
          const int count = counts[e.loop];
          lines.push_back({e.tick, "cc " + ch + " 102 " + std::to_string(e.loop)});
          lines.push_back({e.tick, count < 128 ? "cc " + ch + " 104 " + std::to_string(count)
                                               : "cc " + ch + " 105 " + std::to_string(count - 128)});
          lines.push_back({e.tick, "marker loop start"});
          break;
        }
        case Kind::LoopEnd:
          lines.push_back({e.tick, "cc " + ch + " 103 " + std::to_string(e.loop)});
          lines.push_back({e.tick, e.count == 0xFF ? "marker loop end, for ever"
                                                   : "marker loop end x " + std::to_string(e.count)});
          break;
      }
    }
    lines.push_back({end, "end"});
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> text;
    for (const auto& [tick, what] : lines) text.push_back(std::to_string(tick) + " " + what);
    tracks.push_back(text);
  }
  return tracks;
}

// mido's reading of `file`: per track, sorted "TICK EVENT" lines; the
// header line and each track's order verdict apart.
struct MidoReading {
  std::string header;
  std::vector<std::vector<std::string>> tracks;
  std::vector<std::string> order;
};

MidoReading readWithMido(const std::string& python, const std::string& file) {
  const test::RunResult r =
      test::runShell(python + " " ZAFT_SOURCE_DIR "/tests/e2e/midicheck.py " + file + " 2>&1");
  MidoReading out;
  std::istringstream lines(r.out);
  std::string line;
  std::getline(lines, out.header);
  while (std::getline(lines, line)) {
    std::istringstream words(line.substr(file.size() + 1));
    size_t track;
    words >> track;
    std::string rest;
    std::getline(words, rest);
    rest = rest.substr(1);
    if (out.tracks.size() <= track) out.tracks.resize(track + 1);
    if (rest == "order-ok" || rest == "order-bad") {
      out.order.push_back(rest);
    } else {
      out.tracks[track].push_back(rest);
    }
  }
  for (auto& t : out.tracks) {
    std::sort(t.begin(), t.end(), [](const std::string& a, const std::string& b) {
      const long ta = std::stol(a), tb = std::stol(b);
      return ta != tb ? ta < tb : a < b;
    });
  }
  return out;
}

// A format-0 file of one note, as a game might keep beside its compact ones.
const std::vector<uint8_t> kStandard = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96,
                                        'M', 'T', 'r', 'k', 0, 0, 0, 12, 0, 0x90, 60, 100,
                                        96, 0x80, 60, 64, 0, 0xFF, 0x2F, 0};

class Sequences : public ::testing::Test {
 protected:
  void SetUp() override {
    encoded_ = test::compactSequence(song());
    const std::vector<uint8_t> bank = test::sequenceBank({encoded_.bytes, kStandard});
    test::RomBuilder rom(1 << 20);
    std::mt19937 rng(3);
    for (uint8_t& b : rom.bytes()) b = static_cast<uint8_t>(rng());
    rom.put(kBankAt, bank);
    test::writeFile(dir_.file("rom.z64"), rom.bytes());
  }
  test::TempDir dir_;
  test::CompactBytes encoded_;
};

TEST_F(Sequences, RippedWithMAndReadBackEventByEvent) {
  ASSERT_GT(encoded_.backReferences, 1);
  const test::RunResult r = test::runBinary({"/q", "/m", "/d", "out", "rom.z64"}, dir_.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "Found sequence bank at 0x040000 with 2 sequences\n"
            "\nSummary:\n"
            "  SEQ_040000  .seq 0x040000  2 sequences  2 .mid files  ok\n"
            "1 sequence banks: 1 ok, 0 failed; 2 .mid files in all\n");
  EXPECT_EQ(test::readFileBytes(dir_.file("out/SEQ_040000/001.mid")), kStandard);
  const std::string python = test::pythonWithMido();
  if (python.empty()) GTEST_SKIP() << "no Python with mido (python3-mido)";
  const MidoReading read = readWithMido(python, dir_.file("out/SEQ_040000/000.mid"));
  EXPECT_EQ(read.header, dir_.file("out/SEQ_040000/000.mid") + " type 1 tracks 2 division 96");
  EXPECT_EQ(read.tracks, expectedLines(song()));
  EXPECT_EQ(read.order, (std::vector<std::string>{"order-ok", "order-ok"}));
}

TEST_F(Sequences, ExtractAllIncludesThemAndTheIndexDescribesThem) {
  const test::RunResult r = test::runBinary({"/q", "/x", "/j", "all.json", "/d", "out", "rom.z64"}, dir_.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("  SEQ_040000  .seq 0x040000  2 sequences  2 .mid files  ok\n"
                       "0 bank files: 0 ok, 0 failed; 0 .wav files in all\n"
                       "1 sequence banks: 1 ok, 0 failed; 2 .mid files in all\n"),
            std::string::npos)
      << r.err;
  if (!test::haveShell()) return;  // the index is read back by Python
  const test::RunResult json = test::runShell(
      "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); b=d[\"sequenceBanks\"][0]; "
      "s=b[\"sequences\"]; print(b[\"offset\"], b[\"folder\"], [x[\"kind\"] for x in s], s[0][\"tracks\"], "
      "s[0][\"division\"], s[0][\"durationTicks\"], s[0][\"durationSeconds\"], s[0][\"programs\"], "
      "s[0][\"channels\"], [(l[\"number\"], l[\"count\"]) for l in s[0][\"loops\"]], s[1][\"file\"])' " +
      dir_.file("out/all.json"));
  // 1700 ticks at 400000 us per quarter, then 220 at 600000; 96 ticks to
  // the quarter.
  EXPECT_EQ(json.out,
            "262144 SEQ_040000 ['compact', 'standard'] 2 96 1920 8.458 [5] [0, 9] [(1, 3), (3, 200), "
            "(2, 255)] SEQ_040000/001.mid\n");
}

}  // namespace
}  // namespace zaft

namespace zaft {
namespace {

// Damaged sequences: each warns with the sequence and the byte, is still a
// valid MIDI file holding what came before (every note closed), and the run
// goes on with the others. A standard file that does not read is written as
// it stands.
TEST(DamagedSequences, WarnWriteWhatCameBeforeAndGoOn) {
  const auto track = [](const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> s;
    for (int i = 0; i < 0x44; ++i) s.push_back(i == 3 ? 0x44 : i == 0x43 ? 48 : 0);
    for (uint8_t b : bytes) s.push_back(b);
    return s;
  };
  const std::vector<std::vector<uint8_t>> sequences = {
      track({0x00, 0x90, 60, 100, 0x30, 0x10, 0x90, 62}),                    // past its length
      track({0x00, 0x90, 60, 100, 0x30, 0x00, 0xFF, 0x07, 0x00}),            // unknown meta
      track({0x00, 0x90, 60, 100, 0x30, 0x00, 0xFF, 0x2D, 1, 1, 0, 1, 0, 0}),  // jumps outside
      track({0x00, 0x90, 60, 100, 0x30, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}),      // 5-byte number
      track({0x00, 0x90, 60, 100, 0x30, 0xFE, 0x00, 0x01, 0x08}),            // into itself
      // A standard file whose track chunk claims a byte more than it has.
      {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 48, 'M', 'T', 'r', 'k', 0, 0, 0, 13, 0, 0x90, 60,
       100, 0x30, 0x80, 60, 0x40, 0, 0xFF, 0x2F, 0},
  };
  test::RomBuilder rom(0x10000);
  rom.put(0x2000, test::sequenceBank(sequences));
  test::TempDir dir;
  test::writeFile(dir.file("rom.z64"), rom.bytes());
  const test::RunResult r = test::runBinary({"/q", "/m", "rom.z64"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  const char* const warnings[] = {
      "Warning: SEQ_002000/000.mid: track 0: it runs past the sequence's end at byte 0x4C of the "
      "sequence; the track ends there\n",
      "Warning: SEQ_002000/001.mid: track 0: an unknown meta event type 0x07 at byte 0x4A of the "
      "sequence; the track ends there\n",
      "Warning: SEQ_002000/002.mid: track 0: a loop end jumps back outside the track at byte 0x49 of "
      "the sequence; the track ends there\n",
      "Warning: SEQ_002000/003.mid: track 0: a variable-length number is longer than 4 bytes at byte "
      "0x49 of the sequence; the track ends there\n",
      "Warning: SEQ_002000/004.mid: track 0: a back-reference points into itself at byte 0x49 of the "
      "sequence; the track ends there\n",
      "Warning: SEQ_002000/005.mid: not a readable MIDI file: track chunk 0 runs past the sequence's "
      "end at byte 0xE of the sequence; written as it stands\n",
  };
  for (const char* w : warnings) EXPECT_NE(r.err.find(w), std::string::npos) << w << r.err;
  // The damaged standard file is written as it stands, and the summary says so.
  EXPECT_NE(r.err.find("  SEQ_002000  .seq 0x002000  6 sequences  6 .mid files  damaged: 1 .mid files do not "
                       "read as MIDI\n1 sequence banks: 0 ok, 0 failed, 1 damaged; 6 .mid files in all\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(test::readFileBytes(dir.file("SEQ_002000/005.mid")), sequences[5]);
  // Each file: the one note with its note-off, then the end of its track.
  const std::vector<uint8_t> expected = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0, 48,
                                         'M', 'T', 'r', 'k', 0, 0, 0, 12, 0, 0x90, 60, 100,
                                         0x30, 0x80, 60, 0x40, 0, 0xFF, 0x2F, 0};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(test::readFileBytes(dir.file("SEQ_002000/00" + std::to_string(k) + ".mid")), expected) << k;
  }
}

}  // namespace
}  // namespace zaft

namespace zaft {
namespace {

// 1024 entries sharing one sequence of back-references, its 16 tracks all
// the same bytes: each file would be over 512 MiB. The output limit refuses
// the first before writing any of it, at once and in little memory.
TEST(HostileSequences, AFileOverTheOutputLimitIsRefusedBeforeItIsWritten) {
  std::vector<uint8_t> block = {0x01, 0x90, 60, 100, 0x01};
  for (int k = 0; k < 62; ++k) block.insert(block.end(), {0x01, 60, 100, 0x01});
  std::vector<uint8_t> seq;
  for (int t = 0; t < 16; ++t) seq.insert(seq.end(), {0, 0, 0, 0x44});
  seq.insert(seq.end(), {0, 0, 0, 96});
  size_t from = 0;
  while (seq.size() < (288 << 10)) {
    const size_t distance = seq.size() - from;
    if (from == 0 || distance > 0xF000) {
      from = seq.size();
      seq.insert(seq.end(), block.begin(), block.end());
    } else {
      seq.insert(seq.end(), {0xFE, static_cast<uint8_t>(distance >> 8), static_cast<uint8_t>(distance),
                             static_cast<uint8_t>(block.size())});
    }
  }
  seq.insert(seq.end(), {0x00, 0xFF, 0x2F});
  std::vector<uint8_t> bank = {'S', '1', 0x04, 0x00};
  const uint32_t at = 4 + 8 * 1024, len = static_cast<uint32_t>(seq.size());
  for (int k = 0; k < 1024; ++k) {
    for (uint32_t v : {at, len}) {
      for (int shift = 24; shift >= 0; shift -= 8) bank.push_back(static_cast<uint8_t>(v >> shift));
    }
  }
  bank.insert(bank.end(), seq.begin(), seq.end());
  test::RomBuilder rom(1 << 20);
  rom.put(0x1000, bank);
  test::TempDir dir;
  test::writeFile(dir.file("rom.z64"), rom.bytes());
  const test::RunResult r = test::runBinary({"/q", "/m", "rom.z64"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("  SEQ_001000  .seq 0x001000  1024 sequences  0 .mid files  failed: Output limit reached: a "
                       "run may write at most 512 MiB for a ROM of 1 MiB"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("SEQ_001000")));
}

}  // namespace
}  // namespace zaft
