#include "support/demo_rom.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <set>
#include <stdexcept>

#include "audio/adpcm.h"
#include "util/endian.h"
#include "support/compact_encoder.h"
#include "support/ead_seq_encoder.h"
#include "support/lz_encoder.h"
#include "support/synth.h"
#include "support/vadpcm_encoder.h"

namespace zaft::test {

namespace {

// Where the two bank files start: 16-aligned, as the scan requires, and
// nowhere round.
constexpr size_t kBankFile1At = 0x0E4A70;
constexpr size_t kBankFile2At = 0x2A61C0;
constexpr size_t kSequenceBankAt = 0x331B08;  // even, as the music scan requires
constexpr size_t kEadSetAt = 0x3A0000;         // 16-aligned, as the tools lay it
constexpr size_t kEadBlockAt = 0x3C8000;
constexpr size_t kHeaderSize = 0x40;
constexpr size_t kBootEnd = 0x1000;  // header and boot code; the checksums cover 1 MiB after it
constexpr size_t kChecksumSpan = 0x100000;

constexpr uint32_t kLoopForever = 0xFFFFFFFFu;  // ADPCM loop count -1
constexpr int32_t kRawLoopCount = 2147483647;

// ---------------------------------------------------------------------------
// Bank content

// A bank file under construction: the layout builder's design plus, index for
// index with design.waves, what the description keeps of each wave.
struct Draft {
  BankFileDesign design;
  std::vector<DemoWave> waves;

  int envelope(int32_t attack, int32_t decay, int32_t release, uint8_t attackVolume,
               uint8_t decayVolume) {
    design.envelopes.push_back({attack, decay, release, attackVolume, decayVolume});
    return static_cast<int>(design.envelopes.size()) - 1;
  }
  int keyMap(uint8_t keyMin, uint8_t keyMax, uint8_t keyBase, int8_t detune = 0) {
    design.keyMaps.push_back({0, 127, keyMin, keyMax, keyBase, detune});
    return static_cast<int>(design.keyMaps.size()) - 1;
  }
  int adpcmWave(const char* what, const std::vector<int16_t>& pcm, int npredictors,
                const LoopedSample* loop = nullptr) {
    DemoWave w;
    w.what = what;
    w.type = 0;
    w.book = deriveBook(pcm, npredictors);
    AdpcmEncoding enc = encodeAdpcm(pcm, w.book);
    w.source = pcm;
    w.expected = std::move(enc.decoded);
    design.books.push_back(w.book);
    WaveDesign ws;
    ws.type = 0;
    ws.data = std::move(enc.frames);
    ws.book = static_cast<int>(design.books.size()) - 1;
    if (loop) ws.loop = addLoop(w, *loop, static_cast<int32_t>(kLoopForever), true);
    return addWave(std::move(ws), std::move(w));
  }
  int rawWave(const char* what, const LoopedSample& sample) {
    DemoWave w;
    w.what = what;
    w.type = 1;
    w.source = sample.pcm;
    w.expected = sample.pcm;
    WaveDesign ws;
    ws.type = 1;
    ws.data = rawWaveBytes(sample.pcm);
    ws.loop = addLoop(w, sample, kRawLoopCount, false);
    return addWave(std::move(ws), std::move(w));
  }
  int sound(int env, int keys, int wave, uint8_t pan = 64, uint8_t volume = 127) {
    design.sounds.push_back({env, keys, wave, pan, volume, 0});
    return static_cast<int>(design.sounds.size()) - 1;
  }
  int instrument(std::vector<int> sounds, uint8_t volume = 127, int16_t bendRange = 200) {
    InstrumentDesign inst;
    inst.volume = volume;
    inst.bendRange = bendRange;
    inst.sounds = std::move(sounds);
    design.instruments.push_back(inst);
    return static_cast<int>(design.instruments.size()) - 1;
  }
  void bank(int32_t sampleRate, int percussion, std::vector<int> insts) {
    BankDesign b;
    b.sampleRate = sampleRate;
    b.percussion = percussion;
    b.insts = std::move(insts);
    design.banks.push_back(std::move(b));
  }

 private:
  int addLoop(DemoWave& w, const LoopedSample& sample, int32_t count, bool adpcm) {
    design.loops.push_back({sample.loopStart, sample.loopEnd, count, adpcm});
    w.loopStart = sample.loopStart;
    w.loopEnd = sample.loopEnd;
    w.loopCount = count;
    return static_cast<int>(design.loops.size()) - 1;
  }
  int addWave(WaveDesign ws, DemoWave w) {
    design.waves.push_back(std::move(ws));
    waves.push_back(std::move(w));
    return static_cast<int>(design.waves.size()) - 1;
  }
};

// Bank file 1. The first wave of the sample block is a long ADPCM wave with
// a 4-predictor book, so the scan's frame test sees 16 good frame headers
// right at the block's start.
Draft bankFile1() {
  constexpr int kFast = 22050, kSlow = 16000;
  Draft d;
  const int strC3 = d.adpcmWave("plucked string C3", pluckedString(kFast, 130.81, 1.2, 11), 4);
  const int strG3 = d.adpcmWave("plucked string G3", pluckedString(kFast, 196.00, 1.1, 12), 4);
  const int strE4 = d.adpcmWave("plucked string E4", pluckedString(kFast, 329.63, 1.0, 13), 4);
  const int bass = d.adpcmWave("plucked bass A1", pluckedBass(kFast, 55.0, 1.2, 21), 4);
  const int kick = d.adpcmWave("kick drum", kickDrum(kFast), 2);
  const int snare = d.adpcmWave("snare drum", snareDrum(kFast, 31), 2);
  const int hat = d.adpcmWave("hi-hat", hiHat(kFast, 41), 2);
  const LoopedSample padSample = pad(kSlow, 261.63, 0.3, 0.8);
  const int padWave = d.adpcmWave("pad C4 (looped)", padSample.pcm, 4, &padSample);
  const int organWave = d.rawWave("organ C4 (raw, looped)", organ(kSlow, 261.63, 0.05, 0.5));

  // Envelopes in microseconds: attack, decay, release.
  const int drumEnv = d.envelope(0, 400000, 100000, 127, 0);
  const int stringEnv = d.envelope(5000, 1800000, 250000, 127, 0);
  const int bassEnv = d.envelope(3000, 1500000, 120000, 127, 20);
  const int openHatEnv = d.envelope(0, 600000, 300000, 110, 0);
  const int padEnv = d.envelope(400000, 3000000, 900000, 110, 100);
  const int organEnv = d.envelope(10000, 1000000, 60000, 100, 100);

  // General MIDI drum keys: kick 36, snare 38, closed hat 42, open hat 46.
  const int kickKeys = d.keyMap(35, 36, 36);
  const int snareKeys = d.keyMap(37, 40, 38);
  const int closedHatKeys = d.keyMap(42, 44, 42);
  const int openHatKeys = d.keyMap(46, 46, 46);
  const int lowStringKeys = d.keyMap(0, 51, 48);
  const int midStringKeys = d.keyMap(52, 59, 55);
  const int highStringKeys = d.keyMap(60, 127, 64, -1);
  const int bassKeys = d.keyMap(0, 127, 33);
  const int c4Keys = d.keyMap(0, 127, 60);  // pad and organ

  const int kit = d.instrument({d.sound(drumEnv, kickKeys, kick), d.sound(drumEnv, snareKeys, snare, 60),
                                d.sound(drumEnv, closedHatKeys, hat, 80, 100),
                                d.sound(openHatEnv, openHatKeys, hat, 80, 110)},
                               127, 0);
  const int strings = d.instrument({d.sound(stringEnv, lowStringKeys, strC3, 56),
                                    d.sound(stringEnv, midStringKeys, strG3, 64),
                                    d.sound(stringEnv, highStringKeys, strE4, 72)});
  const int bassInst = d.instrument({d.sound(bassEnv, bassKeys, bass)}, 120, 1200);
  const int padInst = d.instrument({d.sound(padEnv, c4Keys, padWave)}, 100);
  const int organInst = d.instrument({d.sound(organEnv, c4Keys, organWave)}, 90);

  d.bank(kFast, kit, {strings, bassInst});
  d.bank(kSlow, -1, {padInst, organInst});
  return d;
}

// Bank file 2: a sound-effects bank whose only instrument is its
// percussion.
Draft bankFile2() {
  constexpr int kRate = 32000;
  Draft d;
  const int bellWave = d.adpcmWave("bell A5", bell(kRate, 880.0, 1.0), 2);
  const int zapWave = d.adpcmWave("zap", zap(kRate, 0.4), 4);
  const int env = d.envelope(0, 1000000, 500000, 127, 0);
  const int sfx = d.instrument({d.sound(env, d.keyMap(72, 72, 81), bellWave),
                                d.sound(env, d.keyMap(74, 74, 60), zapWave, 40)},
                               127, 0);
  d.bank(kRate, sfx, {});
  return d;
}

// The waves in the order a run writes them, each named from the bank,
// instrument and sound numbers of the first sound that reaches it. The
// percussion instrument is walked before a bank's instruments with the
// instrument number left from before (0 in the first bank).
std::vector<DemoWave> walkOrder(const BankFileDesign& design, std::vector<DemoWave> waves) {
  std::vector<int> bankList = design.bankList;
  if (bankList.empty()) {
    for (size_t i = 0; i < design.banks.size(); ++i) bankList.push_back(static_cast<int>(i));
  }
  std::set<int> banksSeen, instsSeen, soundsSeen, wavesSeen;
  std::vector<std::string> taken;
  std::vector<DemoWave> out;
  int curInst = 0;
  for (int curBank = 0; curBank < static_cast<int>(bankList.size()); ++curBank) {
    const int b = bankList[static_cast<size_t>(curBank)];
    if (b < 0 || !banksSeen.insert(b).second) continue;
    const BankDesign& bank = design.banks[static_cast<size_t>(b)];
    auto walkInstrument = [&](int inst) {
      if (inst < 0 || !instsSeen.insert(inst).second) return;
      const std::vector<int>& sounds = design.instruments[static_cast<size_t>(inst)].sounds;
      for (int curSound = 0; curSound < static_cast<int>(sounds.size()); ++curSound) {
        const int s = sounds[static_cast<size_t>(curSound)];
        if (s < 0 || !soundsSeen.insert(s).second) continue;
        const int w = design.sounds[static_cast<size_t>(s)].wave;
        if (w < 0 || !wavesSeen.insert(w).second) continue;
        DemoWave wave = waves[static_cast<size_t>(w)];
        char name[32];
        std::snprintf(name, sizeof name, "%c%01d%03d%02d.WAV", wave.type == 0 ? 65 : 64, curBank,
                      curInst, curSound);
        wave.name = name;
        wave.fileName = name;
        for (int n = 1; std::find(taken.begin(), taken.end(), wave.fileName) != taken.end(); ++n) {
          wave.fileName = wave.name.substr(0, wave.name.size() - 4) + "_" + std::to_string(n) + ".WAV";
        }
        taken.push_back(wave.fileName);
        wave.sampleRate = bank.sampleRate;
        out.push_back(std::move(wave));
      }
    };
    walkInstrument(bank.percussion);
    for (curInst = 0; curInst < static_cast<int>(bank.insts.size()); ++curInst) {
      walkInstrument(bank.insts[static_cast<size_t>(curInst)]);
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Placing a bank file where the scan finds it

// The scan's sample-block search for the bank file at ctlAt starts at
// (bank position + 4 + 4 * instCount + percussion) rounded down to 16, the
// percussion pointer taken as a number, and tries 16 positions 16 bytes
// apart.
constexpr int kTrialPositions = 16;
constexpr int kFramesTested = 16;

size_t trialStart(const std::vector<uint8_t>& rom, size_t ctlAt) {
  const size_t bankAt = ctlAt + loadBE32(&rom[ctlAt + 4]);
  const size_t instCount = loadBE16(&rom[bankAt]);
  const size_t percussion = loadBE32(&rom[bankAt + 8]);
  return (bankAt + 4 + 4 * instCount + percussion) & ~size_t{15};
}

bool looksLikeFrames(const std::vector<uint8_t>& rom, size_t at) {
  for (size_t j = 0; j < kFramesTested; ++j) {
    const size_t h = at + j * 9;
    if (h >= rom.size() || !isAdpcmFrameHeader(rom[h])) return false;
  }
  return true;
}

// Places the control block at ctlAt and the sample block at the trial
// position `skip` steps after the first one past the control block's end.
// Zero padding follows the control block up to the first trial position;
// from there to the sample block the bytes are 0xFF, which no frame header
// test passes, so the scan's first passing position is the block's start.
DemoBankFile placeBankFile(std::vector<uint8_t>& rom, size_t ctlAt, Draft draft, int skip) {
  DemoBankFile file;
  file.ctlOffset = ctlAt;
  file.built = buildBank(draft.design);
  const BuiltBank& built = file.built;
  std::copy(built.ctl.begin(), built.ctl.end(), rom.begin() + static_cast<ptrdiff_t>(ctlAt));
  const size_t ctlEnd = ctlAt + built.ctl.size();
  const size_t start = trialStart(rom, ctlAt);
  int k = 0;
  while (start + 16 * static_cast<size_t>(k) < ctlEnd) ++k;
  k += skip;
  if (k >= kTrialPositions) throw std::logic_error("demo ROM: sample block out of the scan's reach");
  const size_t tblAt = start + 16 * static_cast<size_t>(k);
  std::fill(rom.begin() + static_cast<ptrdiff_t>(ctlEnd), rom.begin() + static_cast<ptrdiff_t>(std::max(ctlEnd, start)), 0);
  std::fill(rom.begin() + static_cast<ptrdiff_t>(std::max(ctlEnd, start)), rom.begin() + static_cast<ptrdiff_t>(tblAt), 0xFF);
  if (tblAt + built.tbl.size() > rom.size()) throw std::logic_error("demo ROM: sample block past the end");
  std::copy(built.tbl.begin(), built.tbl.end(), rom.begin() + static_cast<ptrdiff_t>(tblAt));
  for (size_t t = start; t < tblAt; t += 16) {
    if (looksLikeFrames(rom, t)) throw std::logic_error("demo ROM: an earlier trial position passes");
  }
  if (!looksLikeFrames(rom, tblAt)) throw std::logic_error("demo ROM: the sample block fails the frame test");
  file.tblOffset = tblAt;

  for (size_t w = 0; w < draft.waves.size(); ++w) {
    draft.waves[w].base = built.waveBase[w];
    draft.waves[w].len = static_cast<uint32_t>(draft.design.waves[w].data.size());
  }
  for (const BankDesign& b : draft.design.banks) file.sampleRates.push_back(b.sampleRate);
  file.waves = walkOrder(draft.design, std::move(draft.waves));
  return file;
}

// ---------------------------------------------------------------------------
// Filler that looks like a cartridge's code and data

class Filler {
 public:
  explicit Filler(uint32_t seed) : rng_(seed) {}

  void fill(uint8_t* p, size_t n) {
    while (n > 0) {
      const uint32_t kind = rng_.next() % 100;
      size_t size;
      if (kind < 40) {
        size = std::min(n, sized(4096, 65536));
        code(p, size);
      } else if (kind < 68) {
        size = std::min(n, sized(4096, 98304));
        packed(p, size);
      } else if (kind < 76) {
        size = std::min(n, sized(256, 4096));
        pointerTable(p, size);
      } else if (kind < 84) {
        size = std::min(n, sized(512, 4096));
        floatTable(p, size);
      } else if (kind < 90) {
        size = std::min(n, sized(512, 4096));
        curveTable(p, size);
      } else if (kind < 95) {
        size = std::min(n, sized(512, 3072));
        text(p, size);
      } else {
        size = std::min(n, sized(16, 2048));
        std::fill(p, p + size, 0);
      }
      p += size;
      n -= size;
    }
  }

  // MIPS-looking functions: a stack frame, loads and stores, arithmetic,
  // calls with their delay slots, branches, and a return.
  void code(uint8_t* p, size_t n) {
    std::vector<uint32_t> words;
    while (words.size() * 4 < n) {
      const uint32_t frame = 0x18 + 8 * (rng_.next() % 8);
      words.push_back(0x27BD0000u | (static_cast<uint32_t>(-static_cast<int32_t>(frame)) & 0xFFFF));  // addiu sp, sp, -frame
      words.push_back(0xAFBF0000u | (frame - 4));  // sw ra, frame-4(sp)
      const uint32_t body = 6 + rng_.next() % 48;
      for (uint32_t i = 0; i < body; ++i) instruction(words);
      words.push_back(0x8FBF0000u | (frame - 4));  // lw ra, frame-4(sp)
      words.push_back(0x03E00008u);                // jr ra
      words.push_back(0x27BD0000u | frame);        // addiu sp, sp, frame (delay slot)
      if (rng_.next() % 2) words.push_back(0);     // nop padding between functions
    }
    putWords(p, n, words);
  }

  // Compressed assets: bytes without structure.
  void packed(uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(rng_.next() >> 11);
  }

  // Addresses in the console's cached RAM, rising, as in jump and data
  // tables.
  void pointerTable(uint8_t* p, size_t n) {
    std::vector<uint32_t> words;
    uint32_t at = 0x80000400u + (rng_.next() % 0x200000u & ~3u);
    while (words.size() * 4 < n) {
      words.push_back(at);
      at += 4 * (1 + rng_.next() % 64);
    }
    putWords(p, n, words);
  }

  // Single-precision floats: coordinates on a quarter-unit grid, scales,
  // angles.
  void floatTable(uint8_t* p, size_t n) {
    std::vector<uint32_t> words;
    while (words.size() * 4 < n) {
      const float v = static_cast<float>(static_cast<int32_t>(rng_.next() % 1601) - 800) * 0.25f;
      words.push_back(std::bit_cast<uint32_t>(v));
    }
    putWords(p, n, words);
  }

  // 16-bit curves: a sine table and a few envelopes.
  void curveTable(uint8_t* p, size_t n) {
    const size_t period = 64u << (rng_.next() % 4);
    for (size_t i = 0; i + 1 < n; i += 2) {
      const size_t k = (i / 2) % period;
      int32_t v;
      if ((i / 2 / period) % 2 == 0) {
        v = static_cast<int32_t>(32767.0 * std::sin(6.283185307179586 * static_cast<double>(k) / static_cast<double>(period)));
      } else {
        v = static_cast<int32_t>(32767 - 32767 * static_cast<int64_t>(k) / static_cast<int64_t>(period));
      }
      storeBE16(p + i, static_cast<uint16_t>(v));
    }
    if (n % 2) p[n - 1] = 0;
  }

  // NUL-terminated messages, each starting on a 4-byte boundary.
  void text(uint8_t* p, size_t n) {
    static const char* const kMessages[] = {
        "ZAFT DEMO CARTRIDGE", "(c) the ZAFT project, made by its own code", "SOUND TEST",
        "BGM %02d", "SE %03d", "audio: voice %d stolen", "audio: heap %d bytes free",
        "PAUSE", "CONTINUE?", "now loading...", "stage %d", "score %08d",
        "controller %d not connected", "save data is damaged", "PRESS START", "OPTIONS",
        "STEREO", "MONO", "HEADPHONES", "sound mode", "dma queue full", "thread %d: fault at %08x",
        "tempo %d bpm", "bank %d: %d instruments", "sequence player", "reverb on",
    };
    size_t i = 0;
    std::fill(p, p + n, 0);
    while (i < n) {
      const char* m = kMessages[rng_.next() % (sizeof kMessages / sizeof kMessages[0])];
      for (; *m && i < n; ++m) p[i++] = static_cast<uint8_t>(*m);
      i = (i + 4) & ~size_t{3};  // the NUL, then up to the next word
    }
  }

 private:
  size_t sized(size_t lo, size_t hi) { return (lo + rng_.next() % (hi - lo + 1)) & ~size_t{15}; }

  void putWords(uint8_t* p, size_t n, const std::vector<uint32_t>& words) {
    for (size_t i = 0; i < n; i += 4) {
      uint8_t w[4];
      storeBE32(w, words[i / 4]);
      std::copy(w, w + std::min<size_t>(4, n - i), p + i);
    }
  }

  uint32_t reg() { return rng_.next() % 32; }

  void instruction(std::vector<uint32_t>& words) {
    const uint32_t r = rng_.next();
    const uint32_t rs = reg(), rt = reg(), rd = reg();
    const uint32_t imm = rng_.next() & 0xFFFF;
    switch (r % 12) {
      case 0: words.push_back(0x3C000000u | rt << 16 | (0x8000 + (imm & 0x3F))); break;  // lui
      case 1: words.push_back(0x24000000u | rs << 21 | rt << 16 | imm); break;            // addiu
      case 2: words.push_back(0x8C000000u | rs << 21 | rt << 16 | (imm & 0x7FC)); break;  // lw
      case 3: words.push_back(0xAC000000u | rs << 21 | rt << 16 | (imm & 0x7FC)); break;  // sw
      case 4: words.push_back(0x84000000u | 29u << 21 | rt << 16 | (imm & 0xFE)); break;  // lh x(sp)
      case 5:                                                                              // jal + nop
        words.push_back(0x0C000000u | ((0x80000400u + (imm << 4)) >> 2 & 0x03FFFFFFu));
        words.push_back(0);
        break;
      case 6: words.push_back(0x14000000u | rs << 21 | rt << 16 | (imm & 0x3F)); break;  // bne
      case 7: words.push_back(rs << 21 | rt << 16 | rd << 11 | 0x21); break;              // addu
      case 8: words.push_back(rt << 16 | rd << 11 | (imm & 31) << 6); break;              // sll
      case 9: words.push_back(0xC4000000u | 29u << 21 | rt << 16 | (imm & 0xFC)); break;  // lwc1
      case 10: words.push_back(0x46000000u | 16u << 21 | rt << 16 | rs << 11 | rd << 6 | (r >> 8) % 4); break;  // add.s..div.s
      default: words.push_back(0x30000000u | rs << 21 | rt << 16 | (imm & 0xFF)); break;  // andi
    }
  }

  NoiseSource rng_;
};

// A few words of boot code-like checksum over the first mebibyte after the
// boot code, so the header's two check words are not plain zeros.
void writeHeader(std::vector<uint8_t>& rom) {
  const uint8_t start[] = {0x80, 0x37, 0x12, 0x40,   // the console's first bytes
                           0x00, 0x00, 0x00, 0x0F,   // clock rate
                           0x80, 0x00, 0x04, 0x00,   // entry point
                           0x00, 0x00, 0x14, 0x4B};  // release
  std::copy(start, start + sizeof start, rom.begin());
  uint32_t sum = 0xF8CA4DDCu, mix = 0x1F2E3D4Cu;
  for (size_t i = kBootEnd; i < kBootEnd + kChecksumSpan; i += 4) {
    const uint32_t w = loadBE32(&rom[i]);
    sum += w;
    mix = (mix << 5 | mix >> 27) ^ w;
  }
  storeBE32(&rom[0x10], sum);
  storeBE32(&rom[0x14], mix);
  std::fill(rom.begin() + 0x18, rom.begin() + 0x20, 0);
  const char title[21] = "ZAFT DEMO           ";  // 20 characters, blank-padded
  std::copy(title, title + 20, rom.begin() + 0x20);
  std::fill(rom.begin() + 0x34, rom.begin() + 0x3B, 0);
  rom[0x3B] = 'N';  // cartridge
  rom[0x3C] = 'Z';  // game code
  rom[0x3D] = 'D';
  rom[0x3E] = 'E';  // region
  rom[0x3F] = 0;    // version
}

// No 16-byte boundary outside the bank files may start like a bank file
// (42 31 00 0x): the filler is mended where it does.
void mendFalseBankFiles(std::vector<uint8_t>& rom, const std::vector<std::pair<size_t, size_t>>& reserved) {
  for (size_t p = 0; p + 4 <= rom.size(); p += 16) {
    if (rom[p] != 0x42 || rom[p + 1] != 0x31 || rom[p + 2] != 0 || rom[p + 3] > 3) continue;
    bool inBank = false;
    for (const auto& [from, to] : reserved) inBank = inBank || (p >= from && p < to);
    if (!inBank) {
      rom[p + 1] = 0x30;
    } else if (p != kBankFile1At && p != kBankFile2At) {
      throw std::logic_error("demo ROM: bank data looks like a bank file");
    }
  }
}

// ---------------------------------------------------------------------------
// The music

using Song = std::vector<SongEvent>;

SongEvent note(uint32_t tick, uint8_t channel, uint8_t key, uint8_t vel, uint32_t duration) {
  return {SongEvent::Kind::Note, tick, static_cast<uint8_t>(0x90 | channel), key, vel, duration};
}
SongEvent control(uint32_t tick, uint8_t status, uint8_t a, uint8_t b = 0) {
  return {SongEvent::Kind::Channel, tick, status, a, b};
}
SongEvent loopStart(uint32_t tick, uint8_t n) {
  return {SongEvent::Kind::LoopStart, tick, 0, 0, 0, 0, 0, n};
}
SongEvent loopEnd(uint32_t tick, uint8_t n, uint8_t count) {
  return {SongEvent::Kind::LoopEnd, tick, 0, 0, 0, 0, 0, n, count};
}

constexpr uint32_t kBeat = 96;  // ticks per quarter note
constexpr uint8_t kStrings = 0, kBass = 1;  // programs of bank 0
constexpr uint8_t kKick = 36, kSnare = 38, kHat = 42;

// Channel 0 strings, 1 bass, 9 drums: every track sets its program, volume
// and pan (a MIDI player starts them at its own), then plays `bars` bars
// of four beats.
CompactSong piece(const std::vector<uint8_t>& melody, const std::vector<uint8_t>& bassLine, int bars,
                  uint8_t count, uint32_t tempo) {
  CompactSong s;
  s.division = kBeat;
  const uint32_t start = kBeat;  // one beat of setup before the loop
  const uint32_t end = start + static_cast<uint32_t>(bars) * 4 * kBeat;
  s.endTick = end;
  Song lead = {control(0, 0xC0, kStrings), control(0, 0xB0, 7, 110), control(0, 0xB0, 10, 56),
               {SongEvent::Kind::Tempo, 0, 0, 0, 0, 0, tempo}, loopStart(start, 0)};
  for (size_t i = 0; i < melody.size(); ++i) {
    if (melody[i] != 0) lead.push_back(note(start + static_cast<uint32_t>(i) * kBeat / 2, 0, melody[i], 96, kBeat * 3 / 4));
  }
  lead.push_back(loopEnd(end, 0, count));
  Song bass = {control(0, 0xC1, kBass), control(0, 0xB1, 7, 120), control(0, 0xB1, 10, 64), loopStart(start, 0)};
  for (size_t i = 0; i < bassLine.size(); ++i) {
    bass.push_back(note(start + static_cast<uint32_t>(i) * kBeat, 1, bassLine[i], 110, kBeat * 7 / 8));
  }
  bass.push_back(loopEnd(end, 0, count));
  Song drums = {control(0, 0xB9, 7, 100), loopStart(start, 0)};
  for (uint32_t b = 0; b < static_cast<uint32_t>(bars) * 4; ++b) {
    const uint32_t t = start + b * kBeat;
    drums.push_back(note(t, 9, b % 2 == 0 ? kKick : kSnare, b % 2 == 0 ? 120 : 100, kBeat / 2));
    drums.push_back(note(t, 9, kHat, 70, kBeat / 4));
    drums.push_back(note(t + kBeat / 2, 9, kHat, 50, kBeat / 4));
  }
  drums.push_back(loopEnd(end, 0, count));
  s.tracks.resize(10);
  s.tracks[0] = lead;
  s.tracks[1] = bass;
  s.tracks[9] = drums;
  return s;
}

// A format-0 file: a slow arpeggio of the strings.
std::vector<uint8_t> standardPiece() {
  std::vector<uint8_t> events = {0x00, 0xC0, kStrings, 0x00, 0xB0, 7, 100};
  const uint8_t keys[] = {48, 55, 60, 64, 67, 64, 60, 55};
  for (uint8_t k : keys) events.insert(events.end(), {0x00, 0x90, k, 90, 0x60, 0x80, k, 64});
  events.insert(events.end(), {0x00, 0xFF, 0x2F, 0x00});
  std::vector<uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, kBeat,
                              'M', 'T', 'r', 'k', 0, 0, 0, static_cast<uint8_t>(events.size())};
  out.insert(out.end(), events.begin(), events.end());
  return out;
}

std::vector<uint8_t> demoMusic(std::vector<DemoSong>& songs) {
  // C major, eighth notes; 0 is a rest. Phrases repeat, which the encoder
  // turns into back-references.
  const std::vector<uint8_t> tune = {64, 67, 72, 67, 64, 67, 72, 0,  65, 69, 72, 69, 65, 69, 72, 0,
                                     64, 67, 72, 67, 64, 67, 72, 0,  62, 67, 71, 67, 62, 67, 71, 0};
  const std::vector<uint8_t> walk = {36, 36, 43, 43, 41, 41, 48, 48, 36, 36, 43, 43, 43, 43, 38, 31};
  const std::vector<uint8_t> calm = {60, 0, 64, 0, 67, 0, 64, 0, 57, 0, 60, 0, 64, 0, 60, 0};
  const std::vector<uint8_t> calmBass = {36, 36, 36, 36, 33, 33, 33, 33};
  songs = {{"a march, looped for ever"}, {"a calm piece, played twice"}, {"an arpeggio (a Standard MIDI File)", true}};
  return sequenceBank({compactSequence(piece(tune, walk, 4, 0xFF /* for ever */, 450000)).bytes,
                       compactSequence(piece(calm, calmBass, 2, 2, 700000)).bytes, standardPiece()});
}

// The EAD set's song, for its first bank (the default of its set): the
// three-sound strings over the drums, a counted loop of two passes.
std::vector<uint8_t> eadSong() {
  return eadSequence(
      "seq_setvol 110; seq_settempo 100; seq_initchannels 3;"
      "seq_startchannel 0, strings; seq_startchannel 1, drums; seq_delay 780; seq_end;"
      "strings: chan_largenoteson; chan_setinstr 0; chan_setvol 110; chan_setpan 40;"
      "  chan_setlayer 0, tune; chan_hang;"
      "tune: layer_loop 2;"
      "  layer_note1 36, 48, 100; layer_note1 40, 48, 90; layer_note1 43, 48, 95; layer_note1 40, 48, 90;"
      "  layer_note1 41, 48, 100; layer_note1 45, 48, 90; layer_note1 48, 96, 105;"
      "  layer_loopend; layer_end;"
      "drums: chan_largenoteson; chan_setinstr 127; chan_setvol 100; chan_setlayer 0, beat; chan_hang;"
      "beat: layer_loop 8; layer_note1 0, 24, 120; layer_note1 2, 24, 70; layer_note1 1, 24, 110;"
      "  layer_note1 2, 24, 70; layer_loopend; layer_end");
}

BuiltEadSet demoEadSet() {
  EadSetDesign design = defaultEadSet();
  design.sequences = {eadSong()};
  design.bankSets = {{1, 0}};
  return buildEadSet(design);
}

}  // namespace

DemoRom buildDemoRom() {
  DemoRom demo;
  std::vector<uint8_t>& rom = demo.bytes;
  rom.assign(kDemoRomSize, 0);
  demo.bankFiles.push_back(placeBankFile(rom, kBankFile1At, bankFile1(), 3));
  demo.bankFiles.push_back(placeBankFile(rom, kBankFile2At, bankFile2(), 0));

  std::vector<std::pair<size_t, size_t>> reserved;
  for (const DemoBankFile& f : demo.bankFiles) {
    reserved.emplace_back(f.ctlOffset, f.tblOffset + f.built.tbl.size());
  }
  const std::vector<uint8_t> music = demoMusic(demo.songs);
  std::copy(music.begin(), music.end(), rom.begin() + static_cast<std::ptrdiff_t>(kSequenceBankAt));
  demo.sequenceBankAt = kSequenceBankAt;
  reserved.emplace_back(kSequenceBankAt, kSequenceBankAt + music.size());
  demo.ead = demoEadSet();
  demo.eadSetAt = kEadSetAt;
  std::copy(demo.ead.bytes.begin(), demo.ead.bytes.end(), rom.begin() + static_cast<std::ptrdiff_t>(kEadSetAt));
  reserved.emplace_back(kEadSetAt, kEadSetAt + demo.ead.bytes.size());
  const std::vector<uint8_t> block = compressBlock(BlockFormat::Yaz0, demo.ead.bytes);
  demo.eadBlockAt = kEadBlockAt;
  std::copy(block.begin(), block.end(), rom.begin() + static_cast<std::ptrdiff_t>(kEadBlockAt));
  reserved.emplace_back(kEadBlockAt, kEadBlockAt + block.size());
  Filler filler(0x2A7F0001u);
  filler.code(&rom[kHeaderSize], kBootEnd - kHeaderSize);
  size_t at = kBootEnd;
  for (const auto& [from, to] : reserved) {
    filler.fill(&rom[at], from - at);
    // Zero padding up to the next 16-byte boundary after each sample block.
    at = (to + 15) & ~size_t{15};
  }
  filler.fill(&rom[at], rom.size() - at);
  mendFalseBankFiles(rom, reserved);
  writeHeader(rom);
  return demo;
}

std::vector<uint8_t> makeDemoRom() { return buildDemoRom().bytes; }

}  // namespace zaft::test
