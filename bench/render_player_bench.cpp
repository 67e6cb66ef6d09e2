// The sequence player's own cost in a render: a busy song (16 channels, a
// note every eighth on each, all 16 voices sounding, a pan and a bend
// every bar) driven on the synthesizer's schedule at 44.1 kHz against voice
// calls that do nothing. The figure to read is the song's seconds per CPU
// second (items_per_second): the player's share of a render's time.
//
//   cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZAFT_BUILD_BENCH=ON
//   cmake --build build -j2 --target zaft_bench && build/zaft_bench --benchmark_filter=Player
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/render/sequence_player.h"
#include "bank/libultra/walk.h"
#include "support/bank_builder.h"
#include "support/compact_encoder.h"
#include "support/rom_builder.h"
#include "util/reporter.h"

namespace {

using zaft::test::SongEvent;

class NoVoices : public zaft::SynthVoices {
 public:
  zaft::VoiceId allocVoice(int16_t) override { return 0; }
  void freeVoice(zaft::VoiceId) override {}
  void stopVoice(zaft::VoiceId) override {}
  void startVoiceParams(zaft::VoiceId, const zaft::RenderWave& w, float pitch, int16_t volume,
                        uint8_t, uint8_t, int32_t) override {
    benchmark::DoNotOptimize(w.len + pitch + volume);
  }
  void setPitch(zaft::VoiceId, float) override {}
  void setVol(zaft::VoiceId, int16_t, int32_t) override {}
  void setPan(zaft::VoiceId, uint8_t) override {}
  void setFxMix(zaft::VoiceId, uint8_t) override {}
  void setPriority(zaft::VoiceId, int16_t) override {}
};

void BM_PlayerBusySong(benchmark::State& state) {
  zaft::test::BankFileDesign d;
  d.envelopes.push_back({5000, 100000, 50000, 127, 100});
  d.keyMaps.push_back({});
  zaft::test::WaveDesign wave;
  wave.type = 1;
  wave.data.assign(256, 0x10);
  d.waves.push_back(wave);
  d.sounds.push_back({0, 0, 0, 64, 127, 0});
  zaft::test::InstrumentDesign inst;
  inst.sounds = {0};
  d.instruments.push_back(inst);
  zaft::test::BankDesign bank;
  bank.insts = {0};
  d.banks.push_back(bank);
  zaft::test::RomBuilder b(0x3000);
  zaft::test::placeBank(b, zaft::test::buildBank(d), 0x1000, 0x2000);
  const zaft::RomImage rom(b.bytes());
  zaft::CollectingReporter report(false);
  const zaft::BankFile file = zaft::walkBankFile(rom, 0x1000, zaft::WalkLimits(), report);
  const zaft::ALBankFile& banks = file.table[file.table.find(0x1000)].as<zaft::ALBankFile>();
  const zaft::ALBank& theBank = file.table[banks.banks[0]].as<zaft::ALBank>();

  // 16 tracks of eighth notes (division 96) for 120 bars at 120 bpm: 4 minutes.
  constexpr uint32_t kBars = 120;
  zaft::test::CompactSong song;
  for (uint8_t c = 0; c < 16; ++c) {
    zaft::test::SongTrack track;
    for (uint32_t i = 0; i < kBars * 8; ++i) {
      SongEvent n;
      n.kind = SongEvent::Kind::Note;
      n.tick = i * 48;
      n.status = static_cast<uint8_t>(0x90 | c);
      n.data1 = static_cast<uint8_t>(48 + (i * 7 + c) % 36);
      n.data2 = 100;
      n.duration = 44;
      track.push_back(n);
      if (i % 8 == 0) {
        SongEvent pan;
        pan.tick = i * 48 + 1;
        pan.status = static_cast<uint8_t>(0xB0 | c);
        pan.data1 = 10;
        pan.data2 = static_cast<uint8_t>(i % 128);
        track.push_back(pan);
        SongEvent bend = pan;
        bend.status = static_cast<uint8_t>(0xE0 | c);
        bend.data1 = 0;
        bend.data2 = static_cast<uint8_t>(64 + i % 8);
        track.push_back(bend);
      }
    }
    song.tracks.push_back(track);
  }
  const std::vector<uint8_t> seq = zaft::test::compactSequence(song).bytes;
  constexpr int32_t kRate = 44100;
  const double seconds = kBars * 2.0;
  NoVoices voices;
  for (auto _ : state) {
    zaft::SequencePlayer player(
        rom, file, theBank, 0x2000,
        std::make_unique<zaft::CompactSeqReader>(seq.data(), static_cast<int64_t>(seq.size())),
        true, zaft::PlayerOptions());
    const int32_t frame = zaft::frameSamplesFor(kRate);
    int64_t due = 0;
    for (int64_t cur = 0; cur < static_cast<int64_t>(seconds * kRate); cur += frame) {
      while (due - cur < frame) {
        const float samples = static_cast<float>(player.run(voices)) * kRate / 1000000.0 + 0.5;
        due += static_cast<int32_t>(samples);
      }
    }
    benchmark::DoNotOptimize(player.notesWithoutVoice());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * seconds));
}
BENCHMARK(BM_PlayerBusySong)->Unit(benchmark::kMillisecond);

}  // namespace
