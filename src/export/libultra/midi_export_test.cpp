#include "export/libultra/midi_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "support/test_util.h"
#include "support/compact_encoder.h"

namespace zaft {
namespace {

using test::SongEvent;

std::vector<uint8_t> be32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
          static_cast<uint8_t>(v)};
}

// A compact sequence of one track at 0x44 (on every track given), division 96.
std::vector<uint8_t> compact(const std::vector<uint8_t>& track, int tracks = 1) {
  std::vector<uint8_t> s;
  for (int t = 0; t < 16; ++t) {
    const std::vector<uint8_t> at = be32(t < tracks ? 0x44 : 0);
    s.insert(s.end(), at.begin(), at.end());
  }
  s.insert(s.end(), {0, 0, 0, 96});
  s.insert(s.end(), track.begin(), track.end());
  return s;
}

// `block` once, then back-references copying it again and again (a fresh
// copy of it whenever the distance would pass 16 bits) up to `size` bytes,
// then the end of the track.
std::vector<uint8_t> copiedOver(const std::vector<uint8_t>& block, size_t size) {
  std::vector<uint8_t> t;
  size_t from = 0;
  while (t.size() + 7 < size) {
    const size_t distance = t.size() - from;
    if (t.empty() || distance > 0xF000 || (distance >> 8) == 0xFE) {
      from = t.size();
      t.insert(t.end(), block.begin(), block.end());
      continue;
    }
    t.insert(t.end(), {0xFE, static_cast<uint8_t>(distance >> 8), static_cast<uint8_t>(distance),
                       static_cast<uint8_t>(block.size())});
  }
  t.insert(t.end(), {0x00, 0xFF, 0x2F});
  return t;
}

// Counts what is written, and the most memory in use while it is.
class MeasuringSink : public ByteSink {
 public:
  uint8_t* extend(size_t n) override {
    if (n > room_.size()) room_.resize(n);
    written += n;
    peakHeap = std::max(peakHeap, test::heapInUse());
    return room_.data();
  }
  bool finish() override { return true; }
  size_t written = 0;
  size_t peakHeap = 0;

 private:
  std::vector<uint8_t> room_;
};

std::vector<uint8_t> fileOf(const MidiSequence& midi) {
  MemorySink sink;
  writeMidi(midi, sink);
  EXPECT_EQ(static_cast<int64_t>(sink.bytes.size()), midi.fileBytes);
  return sink.bytes;
}

// A note of duration 0 ends right after its own note-on; a note-off of an
// earlier note at the same tick still comes before a new note-on of its key.
TEST(MidiExport, ZeroLengthNotesEndAfterTheirNoteOn) {
  test::CompactSong song;
  song.tracks = {{{SongEvent::Kind::Note, 0, 0x90, 62, 90, 10},
                  {SongEvent::Kind::Note, 0, 0x90, 60, 90, 0},
                  {SongEvent::Kind::Note, 10, 0x90, 62, 90, 0}}};
  const std::vector<uint8_t> bytes = test::compactSequence(song).bytes;
  const MidiSequence midi = compactToMidi(bytes.data(), static_cast<int64_t>(bytes.size()));
  const std::vector<uint8_t> expected = {
      'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 0, 28,
      0x00, 0x90, 62, 90,  0x00, 0x90, 60, 90,  0x00, 0x80, 60, 0x40,  // the note of duration 0
      0x0A, 0x80, 62, 0x40,  0x00, 0x90, 62, 90,  0x00, 0x80, 62, 0x40,  // the earlier one's end first
      0x00, 0xFF, 0x2F, 0x00};
  EXPECT_EQ(fileOf(midi), expected);
}

// A standard file's chunks are checked; what does not hold is said, with
// where, and the file is still written as it stands.
TEST(MidiExport, StandardFilesWhoseChunksDoNotHold) {
  const std::vector<uint8_t> track = {'M', 'T', 'r', 'k', 0, 0, 0, 4, 0x00, 0xFF, 0x2F, 0x00};
  const auto file = [&](uint8_t headerBytes, uint8_t tracks, size_t cut) {
    std::vector<uint8_t> f = {'M', 'T', 'h', 'd', 0, 0, 0, headerBytes, 0, 0, 0, tracks, 0, 96};
    f.reserve(f.size() + track.size());
    for (uint8_t b : track) f.push_back(b);
    f.resize(f.size() - cut);
    return f;
  };
  struct Case {
    std::vector<uint8_t> file;
    std::string problem;  // empty: none
    int64_t at;
  };
  const Case cases[] = {
      {file(6, 1, 0), "", 0},
      {file(6, 1, 1), "track chunk 0 runs past the sequence's end", 14},
      {file(4, 1, 0), "the header chunk's length is 4, not 6", 4},
      {file(200, 1, 0), "the header chunk runs past the sequence's end", 4},
      {file(6, 2, 0), "the header names 2 tracks, the file holds 1", 26},
      {file(6, 1, 9), "the header names 1 tracks, the file holds 0", 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    const MidiSequence midi = standardMidi(c.file.data(), static_cast<int64_t>(c.file.size()));
    EXPECT_EQ(fileOf(midi), c.file);
    ASSERT_EQ(midi.problems.size(), c.problem.empty() ? 0u : 1u);
    if (c.problem.empty()) continue;
    EXPECT_EQ(midi.problems[0].track, -1);
    EXPECT_EQ(midi.problems[0].what, c.problem);
    EXPECT_EQ(midi.problems[0].at, c.at);
  }
}

// Hostile sequences: loop starts and ends that pair with none (through
// back-references, thousands for every few bytes), a standard file of loop
// ends, and a sequence of back-references that makes a file hundreds of
// times its size: each in linear time, in little memory, and sized against
// a limit before anything is written.
TEST(MidiExport, HostileSequencesTakeLinearTimeAndLittleMemory) {
  std::vector<uint8_t> starts;
  for (int k = 0; k < 51; ++k) starts.insert(starts.end(), {0x00, 0xFF, 0x2E, 0x01, 0xFF});
  std::vector<uint8_t> loops = copiedOver(starts, 16 << 10);
  loops.resize(loops.size() - 3);
  // Loop ends that all jump to the track's second byte: no loop start's.
  std::vector<uint8_t> ends;
  for (int k = 0; k < 28; ++k) {
    const uint32_t offset = static_cast<uint32_t>(loops.size() + ends.size() + 9 - 1);
    ends.insert(ends.end(), {0x00, 0xFF, 0x2D, 0x01, 0x01});
    const std::vector<uint8_t> o = be32(offset);
    ends.insert(ends.end(), o.begin(), o.end());
  }
  const size_t endsAt = loops.size();
  loops.insert(loops.end(), ends.begin(), ends.end());
  for (size_t k = 0; k < 500; ++k) {
    const size_t distance = loops.size() - endsAt;
    if (distance > 0xF000) break;
    loops.insert(loops.end(), {0xFE, static_cast<uint8_t>(distance >> 8), static_cast<uint8_t>(distance), 252});
  }
  loops.insert(loops.end(), {0x00, 0xFF, 0x2F});

  std::vector<uint8_t> loopEnds = {0x00, 0xB0, 102, 1};
  while (loopEnds.size() < (256 << 10)) loopEnds.insert(loopEnds.end(), {0x00, 104, 2});
  while (loopEnds.size() < (512 << 10)) loopEnds.insert(loopEnds.end(), {0x01, 103, 1});
  loopEnds.insert(loopEnds.end(), {0x00, 0xFF, 0x2F, 0x00});
  std::vector<uint8_t> standard = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k'};
  const std::vector<uint8_t> length = be32(static_cast<uint32_t>(loopEnds.size()));
  standard.insert(standard.end(), length.begin(), length.end());
  standard.insert(standard.end(), loopEnds.begin(), loopEnds.end());

  std::vector<uint8_t> notes = {0x01, 0x90, 60, 100, 0x01};
  for (int k = 0; k < 62; ++k) notes.insert(notes.end(), {0x01, 60, 100, 0x01});  // 253 bytes
  struct Case {
    const char* what;
    std::vector<uint8_t> sequence;
    bool standard;
    size_t loops;
  };
  const Case cases[] = {
      {"loops that pair with none", compact(loops), false, kMaxListedLoops},
      {"loop-end controllers", standard, true, kMaxListedLoops},
      {"back-references over 16 tracks", compact(copiedOver(notes, 32 << 10), 16), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t heapBefore = test::heapInUse();
    const auto start = std::chrono::steady_clock::now();
    const int64_t len = static_cast<int64_t>(c.sequence.size());
    const MidiSequence midi = c.standard ? standardMidi(c.sequence.data(), len) : compactToMidi(c.sequence.data(), len);
    MeasuringSink sink;
    writeMidi(midi, sink);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(static_cast<int64_t>(sink.written), midi.fileBytes);
    EXPECT_LT(sink.peakHeap, heapBefore + (size_t{8} << 20));
    EXPECT_EQ(midi.info.loops.size(), c.loops);
    EXPECT_TRUE(midi.problems.empty()) << midi.problems[0].what;
    if (c.standard) continue;
    // Against a limit: the reading stops soon after passing it.
    const MidiSequence limited = compactToMidi(c.sequence.data(), len, 1 << 20);
    EXPECT_TRUE(limited.overLimit);
    EXPECT_LT(limited.fileBytes, midi.fileBytes);
  }
}

// A track that keeps more notes sounding than any song ends there, with
// every note it started closed.
TEST(MidiExport, ATrackOfEndlessNotesEndsWithItsNotesClosed) {
  std::vector<uint8_t> notes = {0x00, 0x90, 60, 100, 0x83, 0xFF, 0x7F};  // each lasts 65535 ticks
  for (int k = 0; k < 41; ++k) notes.insert(notes.end(), {0x00, 60, 100, 0x83, 0xFF, 0x7F});  // 253 bytes
  const std::vector<uint8_t> s = compact(copiedOver(notes, 8 << 10));
  const MidiSequence midi = compactToMidi(s.data(), static_cast<int64_t>(s.size()));
  ASSERT_EQ(midi.problems.size(), 1u);
  EXPECT_EQ(midi.problems[0].what, "more than 65536 notes sound at once");
  const std::vector<uint8_t> file = fileOf(midi);
  EXPECT_EQ(std::count(file.begin(), file.end(), 0x80), 65536);  // every note-off, nothing else has one
}

}  // namespace
}  // namespace zaft
