#include "bank/libultra/compact_sequence.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "bank/libultra/sequence_bank.h"
#include "support/compact_encoder.h"
#include "support/rom_builder.h"

namespace zaft {
namespace {

// A compact sequence of one track, track 0 at 0x44, division 96.
std::vector<uint8_t> sequence(const std::vector<uint8_t>& track) {
  std::vector<uint8_t> s;
  s.reserve(static_cast<size_t>(kCompactHeaderBytes) + track.size());
  for (int64_t i = 0; i < kCompactHeaderBytes; ++i) s.push_back(i == 3 ? 0x44 : i == 0x43 ? 96 : 0);
  for (uint8_t b : track) s.push_back(b);
  return s;
}

// The events as "tick kind ..." words, for comparing.
std::string describe(const CompactTrack& t) {
  std::string out;
  for (const SeqEvent& e : t.events) {
    out += std::to_string(e.tick) + ":";
    switch (e.kind) {
      case SeqEvent::Kind::Channel: {
        char text[32];
        std::snprintf(text, sizeof text, "%02X %d", e.status, e.data[0]);
        out += text;
        if (e.dataBytes() == 2) out.append(" ").append(std::to_string(e.data[1]));
        if ((e.status & 0xF0) == 0x90) out.append(" d").append(std::to_string(e.duration));
        break;
      }
      case SeqEvent::Kind::Tempo: out += "tempo " + std::to_string(e.tempo); break;
      case SeqEvent::Kind::LoopStart: out += "loop " + std::to_string(e.loopNumber); break;
      case SeqEvent::Kind::LoopEnd:
        out += "end x" + std::to_string(e.loopCount) + " to " + std::to_string(e.loopPosition);
        break;
      case SeqEvent::Kind::End: out += "eot"; break;
    }
    out += "; ";
  }
  return out;
}

TEST(CompactTrack, EventsThroughTheEscape) {
  struct Case {
    std::vector<uint8_t> track;
    std::string events;
  };
  const Case cases[] = {
      {{0x00, 0x90, 60, 100, 0x60, 0x00, 0xFF, 0x2F}, "0:90 60 100 d96; 0:eot; "},
      // Running status; long deltas and durations; one data byte for C and D.
      {{0x00, 0x90, 60, 100, 0x81, 0x00, 0x81, 0x00, 62, 90, 0x10, 0x00, 0xC3, 5, 0x00, 0xD3, 7,
        0x00, 0xFF, 0x2F},
       "0:90 60 100 d128; 128:90 62 90 d16; 128:C3 5; 128:D3 7; 128:eot; "},
      // FE FE is a literal FE.
      {{0x00, 0xFF, 0x51, 0xFE, 0xFE, 0x00, 0x01, 0x00, 0xFF, 0x2F}, "0:tempo 16646145; 0:eot; "},
      // A back-reference reads five earlier bytes again: the same note.
      {{0x00, 0x90, 60, 100, 0x10, 0xFE, 0x00, 0x05, 0x05, 0x00, 0xFF, 0x2F},
       "0:90 60 100 d16; 0:90 60 100 d16; 0:eot; "},
      // A loop: its end jumps back just after its start (position 0x48).
      {{0x00, 0xFF, 0x2E, 0x01, 0xFF, 0x10, 0xFF, 0x2D, 0x03, 0x03, 0x00, 0x00, 0x00, 0x0A, 0x00,
        0xFF, 0x2F},
       "0:loop 1; 16:end x3 to 72; 16:eot; "},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> s = sequence(c.track);
    const CompactTrack t = readCompactTrack(s.data(), static_cast<int64_t>(s.size()), 0x44);
    EXPECT_EQ(t.problem, "");
    EXPECT_TRUE(t.ended);
    EXPECT_EQ(describe(t), c.events);
  }
}

// Whatever cannot be read ends the track there, with what and where; what
// came before is kept.
TEST(CompactTrack, ProblemsEndTheTrackWithWhatAndWhere) {
  struct Case {
    std::vector<uint8_t> track;
    std::string problem;
    int64_t at;
    size_t events;
  };
  const Case cases[] = {
      {{0x00, 0x90, 60}, "it runs past the sequence's end", 0x47, 0},
      {{0x00, 0x90, 60, 100, 0x10, 0x00, 0xFF, 0x01, 0x00}, "an unknown meta event type 0x01", 0x4A, 1},
      {{0x00, 0xFF, 0x2D, 0x01, 0x01, 0x00, 0x00, 0x10, 0x00}, "a loop end jumps back outside the track",
       0x44, 0},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, "a variable-length number is longer than 4 bytes", 0x44, 0},
      {{0xFE, 0x00, 0x50, 0x04}, "a back-reference points before the sequence's start", 0x44, 0},
      {{0x00, 0x90, 0xFE, 0x00, 0x01, 0x04}, "a back-reference points into itself", 0x46, 0},
      {{0x00, 0x3C, 0x64}, "a data byte without a status", 0x45, 0},
      {{0x00, 0xF0, 0x01}, "an unsupported status byte 0xF0", 0x45, 0},
      {{0x00, 0xB0, 0x90, 0x10}, "a data byte is 0x90, not below 0x80", 0x46, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    const std::vector<uint8_t> s = sequence(c.track);
    const CompactTrack t = readCompactTrack(s.data(), static_cast<int64_t>(s.size()), 0x44);
    EXPECT_EQ(t.problem, c.problem);
    EXPECT_EQ(t.problemAt, c.at);
    EXPECT_EQ(t.events.size(), c.events);
    EXPECT_FALSE(t.ended);
  }
}

// The test support's encoder and this reader agree on what it wrote, back
// references and loop positions included.
TEST(CompactTrack, ReadsWhatTheEncoderWrote) {
  test::CompactSong song;
  test::SongTrack t;
  for (uint32_t k = 0; k < 12; ++k) {
    t.push_back({test::SongEvent::Kind::Note, 48 * k, 0x91, static_cast<uint8_t>(60 + k % 3), 100, 24});
  }
  t.insert(t.begin() + 4, {test::SongEvent::Kind::LoopStart, 192, 0, 0, 0, 0, 0, 7});
  t.push_back({test::SongEvent::Kind::LoopEnd, 600, 0, 0, 0, 0, 0, 7, 4});
  song.tracks = {{}, t};
  const test::CompactBytes encoded = test::compactSequence(song);
  EXPECT_GT(encoded.backReferences, 0);
  const CompactHeader h = readCompactHeader(encoded.bytes.data());
  EXPECT_EQ(h.tracks[0], 0u);
  EXPECT_EQ(h.division, 96u);
  const CompactTrack read =
      readCompactTrack(encoded.bytes.data(), static_cast<int64_t>(encoded.bytes.size()), h.tracks[1]);
  ASSERT_EQ(read.problem, "");
  ASSERT_EQ(read.events.size(), 15u);
  for (size_t k = 0, n = 0; k < read.events.size() - 1; ++k) {
    const SeqEvent& e = read.events[k];
    if (e.kind != SeqEvent::Kind::Channel) continue;
    EXPECT_EQ(e.tick, 48 * n);
    EXPECT_EQ(e.data[0], 60 + n % 3);
    ++n;
  }
  EXPECT_EQ(read.events[13].loopPosition, read.events[4].loopPosition);
}

// The console's compressor copies bytes of earlier tracks: the reader
// follows such back-references anywhere in the sequence's bytes and reads
// the same events as from the uncompressed tracks.
TEST(CompactTrack, BackReferencesIntoEarlierTracks) {
  test::CompactSong song;
  for (uint8_t channel : {0, 1}) {
    test::SongTrack t;
    for (uint32_t k = 0; k < 12; ++k) {
      t.push_back({test::SongEvent::Kind::Note, 40 * k, static_cast<uint8_t>(0x90 | channel),
                   static_cast<uint8_t>(50 + k * 7 % 12), 90, 30});
    }
    song.tracks.push_back(t);
  }
  song.acrossTracks = true;
  const test::CompactBytes packed = test::compactSequence(song);
  song.backReferences = false;
  const test::CompactBytes plain = test::compactSequence(song);
  ASSERT_GT(packed.intoEarlierTracks, 0);
  const auto read = [](const test::CompactBytes& c, int track) {
    return readCompactTrack(c.bytes.data(), static_cast<int64_t>(c.bytes.size()),
                            readCompactHeader(c.bytes.data()).tracks[track]);
  };
  for (int track : {0, 1}) {
    const CompactTrack t = read(packed, track);
    EXPECT_EQ(t.problem, "");
    EXPECT_TRUE(t.ended);
    EXPECT_EQ(describe(t), describe(read(plain, track)));
  }
}

// A sequence bank is one when every sequence is plausible; of overlapping
// look-alikes the one with more sequences is kept.
TEST(SequenceBankScan, FindsBanksAndRefusesLookAlikes) {
  const std::vector<uint8_t> song = sequence({0x00, 0x90, 60, 100, 0x10, 0x00, 0xFF, 0x2F});
  std::vector<uint8_t> badDivision = song;
  badDivision[0x43] = 0;
  std::vector<uint8_t> badTrack = song;
  badTrack[3] = 0x40;
  const std::vector<uint8_t> unreadable = sequence({0x00, 0xFF, 0x01});
  // A standard file whose track holds a whole sequence bank of its own: a
  // look-alike inside the outer bank, which has more sequences and wins.
  std::vector<uint8_t> smf = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 0, 0};
  const std::vector<uint8_t> inner = test::sequenceBank({song});
  smf[21] = static_cast<uint8_t>(inner.size());
  smf.insert(smf.end(), inner.begin(), inner.end());
  test::RomBuilder rom(0x10000, 0xAA);
  rom.put(0x1000, test::sequenceBank({song, smf}));
  rom.put(0x3001, test::sequenceBank({song}));           // odd offset
  rom.put(0x4000, test::sequenceBank({song, badDivision}));
  rom.put(0x5000, test::sequenceBank({badTrack}));
  rom.put(0x6000, test::sequenceBank({unreadable}));
  rom.put(0x7000, {'S', '1', 0x04, 0x01});  // 1025 sequences
  rom.put(0x8000, test::sequenceBank({song}));
  const RomImage image(rom.bytes());
  CollectingReporter report;
  const std::vector<SequenceBank> found = scanForSequenceBanks(image, report);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].offset, 0x1000);
  EXPECT_EQ(found[0].sequences.size(), 2u);
  EXPECT_EQ(found[1].offset, 0x8000);
  EXPECT_EQ(report.errText(),
            "Found sequence bank at 0x001000 with 2 sequences\n"
            "Found sequence bank at 0x008000 with 1 sequences\n");
  // Truncated at every length: never a bank past the end, never a crash.
  for (size_t size = 0; size < 0x1000 + 0x100; size += 7) {
    const std::vector<uint8_t> cut(rom.bytes().begin(), rom.bytes().begin() + static_cast<long>(size));
    NullReporter quiet;
    for (const SequenceBank& b : scanForSequenceBanks(RomImage(cut), quiet)) {
      EXPECT_LE(b.end, static_cast<int64_t>(size));
    }
  }
}

// Tiny valid banks side by side: choosing among overlapping ones takes
// n log n, not a comparison with every bank kept before (8 MiB of them took
// seconds).
TEST(SequenceBankScan, ManyBanksInLinearTime) {
  const std::vector<uint8_t> smf = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96};
  const std::vector<uint8_t> bank = test::sequenceBank({smf});  // 32 bytes
  std::vector<uint8_t> bytes;
  for (size_t at = 0; at < (size_t{8} << 20); at += bank.size()) bytes.insert(bytes.end(), bank.begin(), bank.end());
  const RomImage image(bytes);
  NullReporter quiet;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(scanForSequenceBanks(image, quiet).size(), bytes.size() / bank.size());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace zaft
