#include "export/ead/ead_midi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "support/ead_seq_encoder.h"

namespace zaft {
namespace {

// A MIDI file's tracks as text, one event a line ("tick what"), or empty
// when its chunks do not hold together.
struct Parsed {
  bool valid = false;
  int division = 0;
  std::vector<std::vector<std::string>> tracks;
};

Parsed parse(const std::vector<uint8_t>& f) {
  Parsed p;
  if (f.size() < 14 || std::string(f.begin(), f.begin() + 4) != "MThd") return p;
  const size_t declared = f[10] << 8 | f[11];
  p.division = f[12] << 8 | f[13];
  size_t at = 14;
  while (at + 8 <= f.size()) {
    if (std::string(f.begin() + at, f.begin() + at + 4) != "MTrk") return p;
    const size_t n = size_t{f[at + 4]} << 24 | f[at + 5] << 16 | f[at + 6] << 8 | f[at + 7];
    if (n > f.size() - at - 8) return p;
    size_t i = at + 8;
    const size_t end = i + n;
    uint64_t tick = 0;
    std::vector<std::string>& t = p.tracks.emplace_back();
    bool ended = false;
    const auto varLen = [&](uint64_t& v) {
      v = 0;
      for (int k = 0; k < 4; ++k) {
        if (i >= end) return false;
        v = v << 7 | (f[i] & 0x7F);
        if ((f[i++] & 0x80) == 0) return true;
      }
      return false;
    };
    while (i < end && !ended) {
      uint64_t d;
      if (!varLen(d)) return p;
      tick += d;
      const std::string at = std::to_string(tick) + " ";
      const uint8_t s = f[i++];
      if (s == 0xFF || s == 0xF0) {
        uint8_t type = 0;
        if (s == 0xFF) {
          if (i >= end) return p;
          type = f[i++];
        }
        uint64_t len;
        if (!varLen(len) || len > end - i) return p;
        const std::string body(f.begin() + i, f.begin() + i + len);
        i += len;
        if (s == 0xF0) {
          t.push_back(at + "sysex " + std::to_string(len));
        } else if (type == 0x51 && len == 3) {
          t.push_back(at + "tempo " + std::to_string(uint8_t(body[0]) << 16 | uint8_t(body[1]) << 8 | uint8_t(body[2])));
        } else if (type == 0x2F) {
          ended = true;
          t.push_back(at + "end");
        } else {
          t.push_back(at + (type == 6 ? "marker " : "text ") + body);
        }
        continue;
      }
      if (s < 0x80) return p;  // the writer uses no running status
      const int kind = s >> 4, data = kind == 0xC || kind == 0xD ? 1 : 2;
      if (end - i < static_cast<size_t>(data)) return p;
      const int a = f[i], b = data == 2 ? f[i + 1] : 0;
      i += data;
      const std::string ch = std::to_string(s & 15) + " ";
      if (kind == 9) t.push_back(at + "on " + ch + std::to_string(a) + " " + std::to_string(b));
      else if (kind == 8) t.push_back(at + "off " + ch + std::to_string(a));
      else if (kind == 0xB) t.push_back(at + "cc " + ch + std::to_string(a) + " " + std::to_string(b));
      else if (kind == 0xC) t.push_back(at + "program " + ch + std::to_string(a));
      else return p;
    }
    if (!ended || i != end) return p;
    at = end;
  }
  p.valid = at == f.size() && p.tracks.size() == declared;
  return p;
}

MidiSequence convert(const std::vector<uint8_t>& s, const std::string& banks = "") {
  return eadSequenceToMidi(s.data(), static_cast<int64_t>(s.size()), banks);
}

// The lines of `track` whose event is one of `kinds`.
std::vector<std::string> only(const std::vector<std::string>& track, std::vector<std::string> kinds) {
  std::vector<std::string> out;
  for (const std::string& line : track) {
    const std::string what = line.substr(line.find(' ') + 1);
    for (const std::string& k : kinds) {
      if (what.rfind(k + " ", 0) == 0 || what == k) out.push_back(line);
    }
  }
  return out;
}

// A sequence that plays channel 0's script `chan` (and channel 1's, when
// given) for 1000 ticks; `more` holds their layers.
std::vector<uint8_t> song(const std::string& chan, const std::string& more, const std::string& head = "",
                          const std::string& chan1 = "") {
  return test::eadSequence(head + ";seq_initchannels 3; seq_startchannel 0, c0;" +
                           (chan1.empty() ? "" : "seq_startchannel 1, c1;") + "seq_delay 1000; seq_end;" +
                           "c0:" + chan + (chan1.empty() ? "" : ";c1:" + chan1) + ";" + more);
}

// Notes at the console's ticks: lengths, gates (the part of a note's
// length it is silent for), velocities, large and short notes, rests, and
// every transposition (the sequence's not on drums).
TEST(EadMidi, NotesAtTheConsolesTicks) {
  struct Case {
    const char* what;
    std::vector<uint8_t> sequence;
    int track;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"large notes",
       song("chan_largenoteson; chan_setinstr 5; chan_setlayer 0, l; chan_hang",
            "l: layer_note0 39, 48, 100, 64; layer_note1 40, 24, 90; layer_note2 41, 80, 128;"
            "layer_delay 10; layer_note1 39, 0, 50; layer_end"),
       1,
       {"0 on 0 60 100", "36 off 0 60", "48 on 0 61 90", "72 off 0 61", "72 on 0 62 80", "84 off 0 62",
        "106 on 0 60 50", "107 off 0 60"}},
      {"short notes",
       song("chan_setinstr 5; chan_setlayer 0, l; chan_hang",
            "l: layer_setshortnotevelocity 70; layer_setshortnoteduration 128; layer_smallnote0 39, 32;"
            "layer_smallnote2 40; layer_setshortnotedefaultplaypercentage 10; layer_smallnote1 41;"
            "layer_setshortnotevelocityfromtable 15; layer_setshortnotedurationfromtable 15;"
            "layer_smallnote2 42; layer_end"),
       1,
       {"0 on 0 60 70", "16 off 0 60", "32 on 0 61 70", "48 off 0 61", "64 on 0 62 70", "69 off 0 62",
        "74 on 0 63 127", "106 off 0 63"}},
      {"transpositions on an instrument",
       song("chan_largenoteson; chan_setinstr 5; chan_transpose -3; chan_setlayer 0, l; chan_hang",
            "l: layer_transpose 12; layer_note1 39, 10, 100; layer_end", "seq_transpose 5; seq_transposerel -3"),
       1, {"0 on 0 71 100", "10 off 0 71"}},
      {"transpositions on drums",
       song("chan_largenoteson; chan_setinstr 127; chan_transpose -3; chan_setlayer 0, l; chan_hang",
            "l: layer_transpose 12; layer_note1 10, 10, 100; layer_end", "seq_transpose 2"),
       1, {"0 text drums", "0 on 0 40 100", "10 off 0 40"}},
      {"a silent semitone and a channel with no instrument",
       song("chan_largenoteson; chan_setlayer 0, l; chan_delay 20; chan_setinstr 1; chan_hang",
            "l: layer_note1 39, 20, 100; layer_transpose -60; layer_note1 39, 10, 100; layer_note1 60, 10, 100; layer_end"),
       1, {"30 on 0 21 100", "40 off 0 21"}},
      {"calls",
       song("chan_largenoteson; chan_setinstr 5; chan_setlayer 0, l; chan_hang",
            "l: layer_call f; layer_transpose 1; layer_call f; layer_end; f: layer_note1 39, 10, 100; layer_end"),
       1, {"0 on 0 60 100", "10 off 0 60", "10 on 0 61 100", "20 off 0 61"}},
      {"a layer restarted cuts its note",
       song("chan_largenoteson; chan_setinstr 5; chan_setlayer 0, l; chan_delay 30; chan_setlayer 0, l; chan_hang",
            "l: layer_note1 39, 100, 100; layer_end"),
       1, {"0 on 0 60 100", "30 off 0 60", "30 on 0 60 100", "130 off 0 60"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const MidiSequence midi = convert(c.sequence);
    EXPECT_TRUE(midi.problems.empty()) << midi.problems[0].what;
    const Parsed p = parse(midi.built);
    ASSERT_TRUE(p.valid);
    EXPECT_EQ(p.division, 48);
    ASSERT_GT(p.tracks.size(), static_cast<size_t>(c.track));
    EXPECT_EQ(only(p.tracks[c.track], {"on", "off", "text"}), c.expected);
  }
}

// Loops: a counted loop is walked once between its controllers; a jump
// back is an endless loop, marked and ended there; the sequence script's
// loop that starts channels is every channel's. Tempo goes to the first track.
TEST(EadMidi, LoopsAndTempo) {
  struct Case {
    const char* what;
    std::vector<uint8_t> sequence;
    int track;
    std::vector<std::string> expected;
  };
  const std::string events = "on off cc marker tempo";
  const Case cases[] = {
      {"a counted loop",
       song("chan_largenoteson; chan_setinstr 5; chan_setlayer 0, l; chan_hang",
            "l: layer_loop 4; layer_note1 39, 24, 100; layer_loopend; layer_note1 40, 24, 100; layer_end"),
       1,
       {"0 cc 0 0 0", "0 cc 0 7 127", "0 cc 0 10 64", "0 cc 0 91 0", "0 cc 0 102 0", "0 cc 0 104 4", "0 marker loop start", "0 on 0 60 100", "24 off 0 60", "24 cc 0 103 0",
        "24 marker loop end x 4", "24 on 0 61 100", "48 off 0 61"}},
      {"a loop of 200 passes",
       song("chan_largenoteson; chan_setinstr 5; chan_setlayer 0, l; chan_hang",
            "l: layer_loop 200; layer_note1 39, 24, 100; layer_loopend; layer_end"),
       1,
       {"0 cc 0 0 0", "0 cc 0 7 127", "0 cc 0 10 64", "0 cc 0 91 0", "0 cc 0 102 0", "0 cc 0 105 72", "0 marker loop start", "0 on 0 60 100", "24 off 0 60", "24 cc 0 103 0",
        "24 marker loop end x 200"}},
      {"a jump back",
       song("chan_largenoteson; chan_setinstr 5; chan_setlayer 0, l; chan_hang",
            "l: layer_note1 38, 12, 100; top: layer_note1 39, 24, 100; layer_jump top"),
       1,
       {"0 cc 0 0 0", "0 cc 0 7 127", "0 cc 0 10 64", "0 cc 0 91 0", "0 on 0 59 100", "12 off 0 59", "12 cc 0 102 0", "12 cc 0 105 127", "12 marker loop start",
        "12 on 0 60 100", "36 off 0 60", "36 cc 0 103 0", "36 marker loop end, for ever"}},
      {"the song's loop",
       test::eadSequence("seq_initchannels 1; seq_settempo 90; top: seq_startchannel 0, c; seq_delay 48;"
                         "seq_addtempo 10; seq_delay 48; seq_jump top;"
                         "c: chan_largenoteson; chan_setinstr 5; chan_setlayer 0, l; chan_hang;"
                         "l: layer_note1 39, 200, 100; layer_end"),
       0, {"0 tempo 666666", "0 marker loop start", "48 tempo 600000", "96 marker loop end, for ever"}},
      {"the song's loop on the channel",
       test::eadSequence("seq_initchannels 1; top: seq_startchannel 0, c; seq_delay 96; seq_jump top;"
                         "c: chan_largenoteson; chan_setinstr 5; chan_setlayer 0, l; chan_hang;"
                         "l: layer_note1 39, 200, 100; layer_end"),
       1,
       {"0 cc 0 0 0", "0 cc 0 7 127", "0 cc 0 10 64", "0 cc 0 91 0", "0 cc 0 102 0", "0 cc 0 105 127",
        "0 marker loop start", "0 on 0 60 100", "96 off 0 60", "96 cc 0 103 0", "96 marker loop end, for ever"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const MidiSequence midi = convert(c.sequence);
    EXPECT_TRUE(midi.problems.empty()) << midi.problems[0].what;
    const Parsed p = parse(midi.built);
    ASSERT_TRUE(p.valid);
    ASSERT_GT(p.tracks.size(), static_cast<size_t>(c.track));
    EXPECT_EQ(only(p.tracks[c.track], {"on", "off", "cc", "marker", "tempo"}), c.expected);
  }
}

// The first track: the banks' text, then the sequence's volume; the index
// of what the file holds.
TEST(EadMidi, FirstTrackAndDescription) {
  const std::vector<uint8_t> s =
      song("chan_largenoteson; chan_setinstr 5; chan_setbank 1; chan_setvol 90; chan_setpan 20; chan_setreverb 30;"
           "chan_setvolscale 128; chan_setlayer 0, l; chan_hang",
           "l: layer_loop 3; layer_note1 39, 48, 100; layer_loopend; layer_end", "seq_setvol 127");
  const MidiSequence midi = eadSequenceToMidi(s.data(), static_cast<int64_t>(s.size()), "banks 0x22 0x23", INT64_MAX,
                                              {0x22, 0x23});
  const Parsed p = parse(midi.built);
  ASSERT_TRUE(p.valid);
  ASSERT_EQ(p.tracks.size(), 2u);
  EXPECT_EQ(p.tracks[0], (std::vector<std::string>{"0 text banks 0x22 0x23", "0 sysex 7", "0 end"}));
  EXPECT_EQ(only(p.tracks[1], {"cc", "program"}),
            (std::vector<std::string>{"0 cc 0 0 35", "0 cc 0 7 127", "0 cc 0 10 64", "0 cc 0 91 0",
                                      "0 program 0 5", "0 cc 0 0 34", "0 cc 0 7 90", "0 cc 0 10 20",
                                      "0 cc 0 91 30", "0 cc 0 11 127", "0 cc 0 102 0", "0 cc 0 104 3",
                                      "48 cc 0 103 0"}));
  EXPECT_EQ(midi.fileBytes, static_cast<int64_t>(midi.built.size()));
  EXPECT_EQ(midi.info.tracks, 2);
  EXPECT_EQ(midi.info.division, 48u);
  EXPECT_EQ(midi.info.durationTicks, 48u);
  EXPECT_DOUBLE_EQ(midi.info.durationSeconds, 0.5);
  EXPECT_EQ(midi.info.programs, (std::set<int>{5}));
  EXPECT_EQ(midi.info.channels, (std::set<int>{0}));
  ASSERT_EQ(midi.info.loops.size(), 1u);
  EXPECT_EQ(midi.info.loops[0].count, 3);
}

// What has no MIDI form is followed down the console's default path (the
// game's ports read as -1) and noted once, at its byte, however often it runs.
TEST(EadMidi, DefaultPathsAreNotedOnce) {
  const std::vector<uint8_t> s = song("chan_largenoteson; chan_call f; chan_call f; chan_setlayer 0, l; chan_hang;"
                                      "f: chan_ioreadval 0; chan_bltz neg; chan_setinstr 8; chan_end;"
                                      "neg: chan_setinstr 9; chan_end",
                                      "l: layer_note1 39, 10, 100; layer_end");
  const MidiSequence midi = convert(s);
  const Parsed p = parse(midi.built);
  ASSERT_TRUE(p.valid);
  ASSERT_EQ(p.tracks.size(), 2u);
  EXPECT_EQ(only(p.tracks[1], {"program"}), (std::vector<std::string>{"0 program 0 9", "0 program 0 9"}));
  const int64_t f = std::search_n(s.begin(), s.end(), 1, 0x80) - s.begin();  // chan_ioreadval 0
  ASSERT_EQ(midi.notices.size(), 2u);
  EXPECT_EQ(midi.notices[0].what, "a read of the game's I/O port");
  EXPECT_EQ(midi.notices[0].at, f);
  EXPECT_EQ(midi.notices[1].what, "a conditional branch");
  EXPECT_EQ(midi.notices[1].at, f + 1);
  EXPECT_EQ(midi.notices[1].track, 0);
}

// Damaged scripts end where they stop holding, with a problem, and the file
// still holds together; hostile ones (deep calls, loops of loops, jumps to
// themselves, endless waits) stay within their bounds and quick.
TEST(EadMidi, DamagedAndHostileSequences) {
  const std::vector<uint8_t> full =
      song("chan_largenoteson; chan_setinstr 5; chan_setvol 100; chan_setlayer 0, l; chan_setlayer 1, d; "
           "chan_loop 2; chan_delay 40; chan_loopend; chan_hang",
           "l: layer_loop 3; layer_call f; layer_loopend; layer_end; f: layer_note0 39, 20, 90, 30; layer_end;"
           "d: top: layer_note2 50, 70, 0; layer_delay 7; layer_jump top",
           "seq_settempo 100; seq_setvol 80", "chan_setinstr 127; chan_setlayer 0, d; chan_hang");
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    const std::vector<uint8_t> s(full.begin(), full.begin() + cut);
    SCOPED_TRACE(cut);
    const MidiSequence midi = convert(s);
    ASSERT_TRUE(parse(midi.built).valid);
  }
  for (size_t at = 0; at < full.size(); ++at) {
    for (uint8_t v : {0x00, 0x3F, 0x80, 0xC0, 0xF7, 0xF8, 0xFB, 0xFC, 0xFF}) {
      std::vector<uint8_t> s = full;
      s[at] = v;
      const MidiSequence midi = convert(s);
      ASSERT_TRUE(parse(midi.built).valid) << at << " " << int{v};
    }
  }
  struct Case {
    const char* what;
    std::vector<uint8_t> sequence;
    std::string problem;  // empty: none
  };
  std::string nested;
  for (int k = 0; k < 4; ++k) nested += "layer_loop 0;";
  nested += "layer_note1 39, 1, 1;";
  for (int k = 0; k < 4; ++k) nested += "layer_loopend;";
  std::string layers = "seq_initchannels 0xFFFF;";
  for (int c = 0; c < 16; ++c) layers += "seq_startchannel " + std::to_string(c) + ", c;";
  layers += "top: seq_delay 0x7FFF; seq_call top;"
           "c: chan_setinstr 1; chan_setlayer 0, l; chan_setlayer 1, l; chan_setlayer 2, l; chan_setlayer 3, l;"
           "chan_hang; l: layer_note1 39, 1, 100; layer_call l";
  std::string waits = "seq_initchannels 1; seq_startchannel 0, c; top: seq_delay 100; seq_jump top;"
                      "c: chan_setinstr 1; chan_setlayer 0, l; chan_hang; f4: layer_delay 0x7FFF; layer_end";
  for (int f = 3; f >= 0; --f) {
    waits += f == 0 ? ";l:" : ";f" + std::to_string(f) + ":";
    for (int k = 0; k < 10; ++k) waits += "layer_call f" + std::to_string(f + 1) + ";";
    waits += "layer_end";
  }
  std::string spin = "seq_initchannels 1; seq_startchannel 0, c; seq_delay 10; seq_end; c: top: chan_setval 1;"
                     "chan_beqz top; chan_jump top";
  const Case cases[] = {
      {"deep calls", song("chan_call c0", ""), "calls and loops nest deeper than 4 levels"},
      {"loops of 256 passes, four deep",
       song("chan_largenoteson; chan_setinstr 1; chan_setlayer 0, l; chan_hang", "l:" + nested + "layer_end"), ""},
      {"a jump to itself", song("top: chan_jump top", ""), ""},
      {"16 channels of layers that call themselves", test::eadSequence(layers),
       "calls and loops nest deeper than 4 levels"},
      {"waits that pass the tick bound", test::eadSequence(waits), "the sequence passes 268435456 ticks"},
      {"a spin at one tick", test::eadSequence(spin), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto start = std::chrono::steady_clock::now();
    const MidiSequence midi = convert(c.sequence);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(parse(midi.built).valid);
    if (c.problem.empty()) {
      EXPECT_TRUE(midi.problems.empty()) << midi.problems[0].what;
    } else {
      ASSERT_FALSE(midi.problems.empty());
      EXPECT_EQ(midi.problems[0].what, c.problem);
    }
  }
  // Against a limit: the file is not built past it.
  const MidiSequence limited = eadSequenceToMidi(full.data(), static_cast<int64_t>(full.size()), "", 40);
  EXPECT_TRUE(limited.overLimit);
  EXPECT_TRUE(limited.built.empty());
}

}  // namespace
}  // namespace zaft
