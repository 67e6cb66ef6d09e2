#include "audio/render/sequence_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "bank/libultra/compact_sequence.h"
#include "bank/libultra/walk.h"
#include "support/bank_builder.h"
#include "support/compact_encoder.h"
#include "support/rom_builder.h"
#include "util/fatal.h"
#include "util/reporter.h"

namespace zaft {
namespace {

using test::SongEvent;

constexpr size_t kCtl = 0x1000;
constexpr size_t kTbl = 0x2000;

// Writes down every alSyn* call with the sample time the driver stamps it
// with, and runs the player on the driver's schedule: frames of 544 samples
// at 32 kHz, every callback due within a frame at its time rounded down to
// 16 samples, delays converted as the driver converts them.
class Recorder : public SynthVoices {
 public:
  VoiceId allocVoice(int16_t priority) override {
    const VoiceId id = free_.empty() ? next_++ : take();
    log("alloc p%d -> %d", priority, id);
    return id;
  }
  void freeVoice(VoiceId v) override {
    free_.push_back(v);
    log("free %d", v);
  }
  void stopVoice(VoiceId v) override { log("stop %d", v); }
  void startVoiceParams(VoiceId v, const RenderWave& w, float pitch, int16_t volume, uint8_t pan,
                        uint8_t fxMix, int32_t ramp) override {
    lastWave = w;
    log("start %d len %d pitch %.9g vol %d pan %d fx %d ramp %d", v, w.len, pitch, volume, pan,
        fxMix, ramp);
  }
  void setPitch(VoiceId v, float ratio) override { log("pitch %d %.9g", v, ratio); }
  void setVol(VoiceId v, int16_t volume, int32_t ramp) override {
    log("vol %d %d ramp %d", v, volume, ramp);
  }
  void setPan(VoiceId v, uint8_t pan) override { log("pan %d %d", v, pan); }
  void setFxMix(VoiceId v, uint8_t mix) override { log("fx %d %d", v, mix); }
  void setPriority(VoiceId v, int16_t priority) override { log("priority %d %d", v, priority); }

  // Runs the player for `seconds` of 32 kHz frames.
  void play(SequencePlayer& player, double seconds) {
    constexpr int32_t kRate = 32000;
    const int32_t frame = frameSamplesFor(kRate);
    for (int64_t cur = 0; cur < static_cast<int64_t>(seconds * kRate); cur += frame) {
      while (due_ - cur < frame && !player.problem()) {
        now_ = due_ & ~int64_t{15};
        const int32_t micros = player.run(*this);
        due_ += static_cast<int32_t>(
            static_cast<float>(static_cast<float>(micros) * kRate / 1000000.0 + 0.5));
      }
    }
  }

  std::vector<std::string> calls;
  RenderWave lastWave;

 private:
  VoiceId take() {
    const VoiceId v = free_.back();
    free_.pop_back();
    return v;
  }
  template <typename... A> void log(const char* format, A... args) {
    calls.push_back(formatText("%lld ", static_cast<long long>(now_)) +
                    formatText(format, args...));
  }
  int64_t now_ = 0, due_ = 0;
  VoiceId next_ = 0;
  std::vector<VoiceId> free_;
};

// One bank: instrument 0 (volume 100) and instrument 1 (volume 50, pan 20,
// priority 9), each one raw sound over every key with base key 60, and
// instrument 2, an ADPCM wave looping from 16 to 48 for ever (its loop's
// decoder state -1000, -743, ...); the envelope attacks over 10 ms, decays
// to 100 over 20 ms, releases over 30 ms.
struct Fixture {
  Fixture() : rom(build()), bankFile(walk()) {}

  std::vector<uint8_t> build() {
    test::BankFileDesign d;
    d.envelopes.push_back({10000, 20000, 30000, 127, 100});
    d.keyMaps.push_back({});
    test::WaveDesign wave;
    wave.type = 1;
    wave.data.assign(64, 0x11);
    d.waves.push_back(wave);
    d.books.push_back(test::simpleBook(1));
    d.loops.push_back({16, 48, -1, true});
    test::WaveDesign adpcm;
    adpcm.data.assign(36, 0);
    adpcm.loop = 0;
    adpcm.book = 0;
    d.waves.push_back(adpcm);
    d.sounds.push_back({0, 0, 0, 64, 127, 0});
    d.sounds.push_back({0, 0, 0, 100, 127, 0});
    d.sounds.push_back({0, 0, 1, 64, 127, 0});
    test::InstrumentDesign first;
    first.volume = 100;
    first.sounds = {0};
    test::InstrumentDesign second;
    second.volume = 50;
    second.pan = 20;
    second.priority = 9;
    second.sounds = {1};
    test::InstrumentDesign third;
    third.sounds = {2};
    d.instruments = {first, second, third};
    test::BankDesign bank;
    bank.insts = {0, 1, 2};
    d.banks.push_back(bank);
    test::BuiltBank built = test::buildBank(d);
    for (size_t i = 0; i < 16; ++i) {
      const uint16_t v = static_cast<uint16_t>(static_cast<int>(i) * 257 - 1000);
      built.ctl[built.loopAt[0] + 12 + 2 * i] = static_cast<uint8_t>(v >> 8);
      built.ctl[built.loopAt[0] + 13 + 2 * i] = static_cast<uint8_t>(v);
    }
    waveBase = built.waveBase[1];
    test::RomBuilder b(0x3000);
    test::placeBank(b, built, kCtl, kTbl);
    return b.bytes();
  }
  BankFile walk() {
    CollectingReporter report(false);
    return walkBankFile(rom, static_cast<int32_t>(kCtl), WalkLimits(), report);
  }
  std::unique_ptr<SequencePlayer> player(const std::vector<uint8_t>& seq, bool standard = false,
                                         PlayerOptions options = {}) {
    sequence = seq;
    std::unique_ptr<SeqReader> reader;
    if (standard) {
      reader = std::make_unique<MidiSeqReader>(sequence.data(), static_cast<int64_t>(seq.size()));
    } else {
      reader =
          std::make_unique<CompactSeqReader>(sequence.data(), static_cast<int64_t>(seq.size()));
    }
    const ALBankFile& file = bankFile.table[bankFile.table.find(kCtl)].as<ALBankFile>();
    const ALBank& b = bankFile.table[file.banks[0]].as<ALBank>();
    return std::make_unique<SequencePlayer>(rom, bankFile, b, kTbl, std::move(reader), !standard,
                                            options);
  }

  uint32_t waveBase = 0;  // the ADPCM wave's
  RomImage rom;
  BankFile bankFile;
  std::vector<uint8_t> sequence;
};

SongEvent note(uint32_t tick, uint8_t key, uint32_t duration, uint8_t channel = 0) {
  SongEvent e;
  e.kind = SongEvent::Kind::Note;
  e.tick = tick;
  e.status = static_cast<uint8_t>(0x90 | channel);
  e.data1 = key;
  e.data2 = 100;
  e.duration = duration;
  return e;
}
SongEvent channelEvent(uint32_t tick, uint8_t status, uint8_t d1, uint8_t d2) {
  SongEvent e;
  e.tick = tick;
  e.status = status;
  e.data1 = d1;
  e.data2 = d2;
  return e;
}
std::vector<uint8_t> song(std::vector<SongEvent> events, uint32_t endTick = 0) {
  test::CompactSong s;
  s.tracks.push_back(std::move(events));
  s.endTick = endTick;
  return test::compactSequence(s).bytes;
}

// Division 96 and no tempo: 500000 us a quarter note, (int32)(500000 *
// (float)(1/96)) = 5208 us a tick. Heartbeats every 16000 us land on
// multiples of 512 samples; in between, a note at tick 96 (499968 us) is
// 127 samples after the one at 496000 us: sample 15999, stamped 15984. Its
// decay starts 10000 us (320 samples) later, at 16319; its note-off, 48 ticks
// (249984 us) after it, lies 446 samples after the heartbeat at 736000 us
// (23552); the release of 30000 us ends at 779952 us, 382 samples after
// 768000 (24576).
TEST(SequencePlayer, NoteTimesAndValuesAsTheConsoleComputesThem) {
  Fixture f;
  Recorder r;
  auto player = f.player(song({note(96, 62, 48)}, 200));
  r.play(*player, 1.2);
  const std::vector<std::string> expected = {
      // 127 * 100 * 127 >> 6 = 25201; 127 * 0x7FFF * 100 >> 14 = 25399;
      // their product >> 15 = 19533. 200 cents in floats: 1.12246764.
      "15984 alloc p5 -> 0",
      "15984 start 0 len 64 pitch 1.12246764 vol 19533 pan 64 fx 0 ramp 10000",
      "16304 vol 0 15380 ramp 20000",  // level 100 instead of 127
      "23984 priority 0 0",
      "23984 vol 0 0 ramp 30000",
      "24944 stop 0",
      "24944 free 0",
  };
  EXPECT_EQ(r.calls, expected);
  EXPECT_TRUE(player->finished());

  Recorder again;
  auto second = f.player(song({note(96, 62, 48)}, 200));
  again.play(*second, 1.2);
  EXPECT_EQ(again.calls, r.calls);  // the same calls every run
}

// Channel events on a sounding note: what reaches the synthesizer.
TEST(SequencePlayer, ChannelEventsChangeTheSoundingVoice) {
  struct Case {
    SongEvent event;
    std::string call;
  } cases[] = {
      // Volume 7: 127 * 100 * 127 >> 6 = 25201 times 127 * 0x7FFF * 7 >> 14
      // = 1777, >> 15: 1366; the attack still has 10000 - 5208 us to run.
      {channelEvent(1, 0xB0, 7, 7), "160 vol 0 1366 ramp 4792"},
      {channelEvent(1, 0xB0, 10, 100), "160 pan 0 100"},
      {channelEvent(1, 0xB0, 91, 40), "160 fx 0 40"},
      // Bend 0x3FFF: 200 * 8191 / 8192 = 199 cents, 1.1218195; times 1.12246764.
      {channelEvent(1, 0xE0, 0x7F, 0x7F), "160 pitch 0 1.25920606"},
      // Channel pressure is the notes' velocity.
      {channelEvent(1, 0xD0, 50, 0), "160 vol 0 9766 ramp 4792"},
  };
  for (const Case& c : cases) {
    Fixture f;
    Recorder r;
    auto player = f.player(song({note(0, 62, 0), c.event}, 10));
    r.play(*player, 0.1);
    ASSERT_GE(r.calls.size(), 3u);
    EXPECT_EQ(r.calls[2], c.call) << c.call;
  }
}

TEST(SequencePlayer, CentsToRatioSquaresInSinglePrecision) {
  // Worked out with every product rounded to single precision.
  const std::pair<int32_t, float> cases[] = {
      {0, 1.0f}, {1200, 2.0000596f}, {-200, 0.89090085f}, {37, 1.02160299f}, {-1, 0.99942255f}};
  for (const auto& [cents, ratio] : cases) EXPECT_EQ(centsToRatio(cents), ratio) << cents;
}

// A program change takes the instrument's volume, pan and priority; the
// sound's pan adds to the channel's, within 0-127.
TEST(SequencePlayer, ProgramChangeSetsTheChannelFromTheInstrument) {
  Fixture f;
  Recorder r;
  auto player = f.player(song({channelEvent(0, 0xC0, 1, 0), note(0, 60, 0)}, 10));
  r.play(*player, 0.1);
  ASSERT_GE(r.calls.size(), 2u);
  EXPECT_EQ(r.calls[0], "0 alloc p9 -> 0");
  // 127 * 0x7FFF * 50 >> 14 = 12699; 25201 * 12699 >> 15 = 9766; pan 20 - 64 + 100.
  EXPECT_EQ(r.calls[1], "0 start 0 len 64 pitch 1 vol 9766 pan 56 fx 0 ramp 10000");
}

// The wave handed to the voice: where its bytes lie, its loop with the
// decoder state stored after the loop's fields, its book.
TEST(SequencePlayer, StartsTheWaveWithItsLoopAndBook) {
  Fixture f;
  Recorder r;
  auto player = f.player(song({channelEvent(0, 0xC0, 2, 0), note(0, 60, 0)}, 10));
  r.play(*player, 0.1);
  const RenderWave& w = r.lastWave;
  EXPECT_EQ(w.rom, f.rom.data());
  EXPECT_EQ(w.start, static_cast<int64_t>(kTbl + f.waveBase));
  EXPECT_EQ(w.len, 36);
  EXPECT_EQ(w.codec, SampleCodec::Vadpcm);
  EXPECT_EQ(w.book.predictors, 1);
  ASSERT_NE(w.book.coefficients, nullptr);
  EXPECT_EQ(w.book.coefficients[8], test::simpleBook(1).predictors[8]);
  EXPECT_TRUE(w.hasLoop);
  EXPECT_EQ(std::vector<int32_t>({w.loopStart, w.loopEnd, w.loopCount}),
            std::vector<int32_t>({16, 48, -1}));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(w.loopState[i], i * 257 - 1000) << i;
}

// A stem: the other channels' voices are handed out as in the whole mix but
// play at volume 0.
TEST(SequencePlayer, StemSilencesTheOtherChannels) {
  Fixture f;
  Recorder r;
  PlayerOptions stem;
  stem.onlyChannel = 1;
  auto player = f.player(song({note(0, 60, 0, 0), note(0, 60, 0, 1)}, 10), false, stem);
  r.play(*player, 0.1);
  ASSERT_GE(r.calls.size(), 4u);
  EXPECT_EQ(r.calls[1], "0 start 0 len 64 pitch 1 vol 0 pan 64 fx 0 ramp 10000");
  EXPECT_EQ(r.calls[3], "0 start 1 len 64 pitch 1 vol 19533 pan 64 fx 0 ramp 10000");
}

// 17 notes at once: the player has 16 voices, and the 17th note is not
// played; when one ends, the next note gets its voice.
TEST(SequencePlayer, SeventeenthNoteFindsNoVoice) {
  Fixture f;
  std::vector<SongEvent> events;
  for (uint8_t k = 0; k < 17; ++k) events.push_back(note(0, static_cast<uint8_t>(40 + k), 96));
  events.push_back(note(200, 90, 10));
  Recorder r;
  auto player = f.player(song(events, 300));
  r.play(*player, 2.0);
  int allocs = 0;
  for (const std::string& c : r.calls) allocs += c.find("alloc") != std::string::npos;
  EXPECT_EQ(allocs, 17);
  EXPECT_EQ(player->notesWithoutVoice(), 1);
}

// A tempo change while a note sounds counts the ticks it has left at the
// new tempo: a note of 96 ticks at 5208 us, and at tick 48 a tempo of 250000
// (2604 us a tick): 48 ticks left, 124992 us after 249984: 374976 us, 223
// samples after the heartbeat at 368000 (11776).
TEST(SequencePlayer, TempoChangeRetimesSoundingNotes) {
  Fixture f;
  SongEvent tempo;
  tempo.kind = SongEvent::Kind::Tempo;
  tempo.tick = 48;
  tempo.tempo = 250000;
  Recorder r;
  auto player = f.player(song({note(0, 60, 96), tempo}, 200));
  r.play(*player, 1.0);
  EXPECT_NE(std::find(r.calls.begin(), r.calls.end(), "11984 vol 0 0 ramp 30000"), r.calls.end());
}

// A Standard MIDI File: a text event at tick 48 is passed over, its delay
// kept: the note at tick 96 starts where the compact one does.
TEST(SequencePlayer, StandardMidiSkipsUnknownMetaEvents) {
  const std::vector<uint8_t> smf = {
      'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 0, 20,
      0x30, 0xFF, 0x01, 0x02, 'h', 'i',   // tick 48: text
      0x30, 0x90, 62, 100,                // tick 96: note on
      0x30, 0x80, 62, 0,                  // tick 144: note off
      0x00, 0xFF, 0x2F, 0x00};
  Fixture f;
  Recorder r;
  auto player = f.player(smf, true);
  r.play(*player, 1.0);
  ASSERT_GE(r.calls.size(), 2u);
  EXPECT_EQ(r.calls[1], "15984 start 0 len 64 pitch 1.12246764 vol 19533 pan 64 fx 0 ramp 10000");
  EXPECT_FALSE(player->problem());

  std::vector<uint8_t> type1 = smf;
  type1[9] = 1;
  MidiSeqReader reader(type1.data(), static_cast<int64_t>(type1.size()));
  EXPECT_EQ(reader.problem(),
            "a MIDI file of type 1 with 1 tracks: the console's player reads type 0 only");
}

// A note of 2^19 ticks at 5208 us a tick passes 2^31 us: the render stops
// at the note (tick 96, 0.499968 s) with the reason.
TEST(SequencePlayer, NoteLengthOverflowStopsTheRender) {
  Fixture f;
  auto seq = song({note(96, 60, 1u << 19)}, 100);
  RenderSettings settings;
  int64_t handed = 0;
  const RenderResult result =
      renderSequence(f.rom, f.bankFile, 0, kTbl, seq.data(), static_cast<int64_t>(seq.size()),
                     false, settings, [&](const int16_t*, int32_t n) { handed += n; });
  ASSERT_TRUE(result.problem);
  EXPECT_EQ(result.end, RenderResult::End::Problem);
  EXPECT_EQ(result.problem->what,
            "a note of 524288 ticks at 5208 microseconds a tick overflows the console's 32-bit "
            "microseconds");
  EXPECT_DOUBLE_EQ(result.problem->seconds, 0.499968);
  EXPECT_EQ(result.frames, 29 * 544);  // up to the frame of sample 15999
  EXPECT_EQ(handed, result.frames);
}

// An endless loop of one quarter note (499968 us): its end is reached the
// second time at 999936 us, sample 31998, in the frame from 31552; the
// render fades out over the next 8 seconds and ends.
// The same note through the real synthesizer: silence until the frame
// whose callback starts the voice, stamped at sample 15984, then sound.
TEST(SequencePlayer, TheSynthesizerSoundsTheNoteWhereThePlayerStartsIt) {
  Fixture f;
  const std::vector<uint8_t> seq = song({note(96, 62, 48)}, 200);
  std::vector<int16_t> pcm;
  RenderSettings settings;
  settings.seconds = 1;
  renderSequence(f.rom, f.bankFile, 0, kTbl, seq.data(), static_cast<int64_t>(seq.size()), false,
                 settings, [&](const int16_t* s, int32_t n) { pcm.insert(pcm.end(), s, s + 2 * n); });
  size_t first = pcm.size();
  for (size_t i = 0; i < pcm.size() && first == pcm.size(); ++i) {
    if (pcm[i] != 0) first = i / 2;
  }
  EXPECT_GE(first, 15984u);
  EXPECT_LT(first, 16000u);
}

TEST(SequencePlayer, EndlessLoopPlaysTwiceThenFades) {
  Fixture f;
  SongEvent start, end;
  start.kind = SongEvent::Kind::LoopStart;
  end.kind = SongEvent::Kind::LoopEnd;
  end.tick = 96;
  end.count = 0xFF;
  auto seq = song({start, note(0, 60, 48), end}, 96);
  RenderSettings settings;
  const RenderResult result =
      renderSequence(f.rom, f.bankFile, 0, kTbl, seq.data(), static_cast<int64_t>(seq.size()),
                     false, settings, [](const int16_t*, int32_t) {});
  EXPECT_EQ(result.end, RenderResult::End::Fade);
  EXPECT_EQ(result.frames, 31552 + 8 * 32000);

  settings.loops = 1;
  settings.seconds = 3;  // a hard cut comes first
  const RenderResult cut =
      renderSequence(f.rom, f.bankFile, 0, kTbl, seq.data(), static_cast<int64_t>(seq.size()),
                     false, settings, [](const int16_t*, int32_t) {});
  EXPECT_EQ(cut.end, RenderResult::End::Cut);
  EXPECT_EQ(cut.frames, 3 * 32000);
}

// The events a reader delivers, as "tick status byte1 byte2 duration",
// following loops; at most `limit`.
std::vector<std::string> delivered(SeqReader& reader, size_t limit = 1000) {
  std::vector<std::string> out;
  uint64_t tick = 0;
  int32_t delta = 0;
  PlayerSeqEvent e;
  while (out.size() < limit && reader.nextDelta(delta) && reader.nextEvent(e)) {
    tick += static_cast<uint32_t>(delta);
    if (e.type == PlayerSeqEvent::Type::SeqEnd) break;
    if (e.type == PlayerSeqEvent::Type::Midi) {
      out.push_back(formatText("%llu %02X %d %d %u", static_cast<unsigned long long>(tick),
                               e.status, e.byte1, e.byte2, e.duration));
    }
  }
  return out;
}

// Three tracks with repeats, back-references into earlier tracks included:
// the reader delivers every track's channel events merged in time, the
// lower track first at equal ticks, as the tracks read alone hold them.
TEST(CompactSeqReader, MergesTheTracksThroughBackReferences) {
  test::CompactSong s;
  s.acrossTracks = true;
  for (uint8_t t = 0; t < 3; ++t) {
    test::SongTrack track;
    for (uint32_t i = 0; i < 24; ++i) {
      track.push_back(note(i * 24, static_cast<uint8_t>(60 + (i % 4) * 2), 20, t));
      if (i % 6 == 5) {
        track.push_back(channelEvent(i * 24 + 12, static_cast<uint8_t>(0xB0 | t), 7, 90));
      }
    }
    s.tracks.push_back(track);
  }
  const test::CompactBytes bytes = test::compactSequence(s);
  ASSERT_GT(bytes.intoEarlierTracks, 0);
  const int64_t len = static_cast<int64_t>(bytes.bytes.size());

  std::vector<std::tuple<uint64_t, int, size_t, std::string>> all;
  const CompactHeader header = readCompactHeader(bytes.bytes.data());
  for (int t = 0; t < kCompactTracks; ++t) {
    if (header.tracks[t] == 0) continue;
    const CompactTrack track = readCompactTrack(bytes.bytes.data(), len, header.tracks[t]);
    for (size_t i = 0; i < track.events.size(); ++i) {
      const SeqEvent& e = track.events[i];
      if (e.kind != SeqEvent::Kind::Channel) continue;
      all.emplace_back(e.tick, t, i,
                       formatText("%llu %02X %d %d %u", static_cast<unsigned long long>(e.tick),
                                  e.status, e.data[0], e.dataBytes() == 2 ? e.data[1] : 0,
                                  e.duration));
    }
  }
  std::sort(all.begin(), all.end());
  std::vector<std::string> expected;
  for (const auto& a : all) expected.push_back(std::get<3>(a));

  CompactSeqReader reader(bytes.bytes.data(), len);
  EXPECT_EQ(delivered(reader), expected);
  EXPECT_EQ(reader.problem(), "");
}

// A loop of count 2 plays three times; an inner loop's count is restored
// when it is done, so it plays twice on every pass of the outer loop.
TEST(CompactSeqReader, LoopCountsRunDownAndAreRestored) {
  auto loop = [](SongEvent::Kind kind, uint32_t tick, uint8_t number, uint8_t count) {
    SongEvent e;
    e.kind = kind;
    e.tick = tick;
    e.loop = number;
    e.count = count;
    return e;
  };
  const auto start = SongEvent::Kind::LoopStart;
  const auto end = SongEvent::Kind::LoopEnd;
  struct Case {
    std::vector<SongEvent> events;
    std::vector<std::string> notes;
  } cases[] = {
      {{loop(start, 0, 0, 0), note(0, 60, 10), loop(end, 24, 0, 2)},
       {"0 90 60 100 10", "24 90 60 100 10", "48 90 60 100 10"}},
      {{loop(start, 0, 0, 0), loop(start, 0, 1, 0), note(0, 60, 10), loop(end, 24, 1, 1),
        loop(end, 24, 0, 1)},
       {"0 90 60 100 10", "24 90 60 100 10", "48 90 60 100 10", "72 90 60 100 10"}},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> seq = song(c.events, 24);
    CompactSeqReader reader(seq.data(), static_cast<int64_t>(seq.size()));
    EXPECT_EQ(delivered(reader), c.notes);
  }
}

// Every cut and every flipped byte of a sequence plays without a fault: to
// its end, or to a problem.
TEST(SequencePlayer, DamagedSequencesPlayOrStop) {
  Fixture f;
  SongEvent start, end;
  start.kind = SongEvent::Kind::LoopStart;
  end.kind = SongEvent::Kind::LoopEnd;
  end.tick = 48;
  end.count = 3;
  const std::vector<uint8_t> compact = song(
      {start, note(0, 60, 20), channelEvent(4, 0xB0, 10, 30), note(8, 60, 20), note(16, 62, 20),
       channelEvent(20, 0xE0, 0, 80), note(24, 60, 20), note(32, 62, 20), end},
      60);
  const std::vector<uint8_t> smf = {
      'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 0, 41,
      0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,  // tempo 500000
      0x00, 0xF0, 0x02, 0x41, 0xF7,              // a system-exclusive message
      0x00, 0x90, 60, 100, 0x10, 0xB0, 10, 30,   // note on, pan
      0x10, 0xFF, 0x03, 0x01, 'x',               // a track name
      0x20, 0x80, 60, 0, 0x00, 0x90, 62, 90,     // note off, note on
      0x30, 0x90, 62, 0, 0x00, 0xFF, 0x2F, 0x00};
  for (const auto& [good, standard] : {std::pair(compact, false), std::pair(smf, true)}) {
    for (size_t cut = 0; cut <= good.size(); ++cut) {
      for (int flip = -1; flip < static_cast<int>(cut); ++flip) {
        std::vector<uint8_t> seq(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        if (flip >= 0) seq[static_cast<size_t>(flip)] ^= 0xA5;
        Recorder r;
        auto player = f.player(seq, standard);
        r.play(*player, 1.5);
        if (cut == good.size() && flip < 0) {
          EXPECT_TRUE(player->finished()) << standard;
          EXPECT_FALSE(player->problem()) << player->problem()->what;
        }
      }
    }
  }
}

}  // namespace
}  // namespace zaft
