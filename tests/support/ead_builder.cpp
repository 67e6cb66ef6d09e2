#include "support/ead_builder.h"

#include <bit>
#include <map>
#include <stdexcept>

#include "support/synth.h"
#include "support/vadpcm_encoder.h"
#include "util/endian.h"

namespace zaft::test {

namespace {

constexpr uint16_t kHang = 0xFFFF;
constexpr uint16_t kGoto = 0xFFFE;

size_t align(size_t v, size_t to) { return (v + to - 1) / to * to; }

class Bytes {
 public:
  std::vector<uint8_t> b;
  size_t size() const { return b.size(); }
  void u8(uint8_t v) { b.push_back(v); }
  void u16(uint16_t v) {
    b.resize(b.size() + 2);
    storeBE16(b.data() + b.size() - 2, v);
  }
  void u32(uint32_t v) {
    b.resize(b.size() + 4);
    storeBE32(b.data() + b.size() - 4, v);
  }
  void f32(float v) { u32(std::bit_cast<uint32_t>(v)); }
  void pad(size_t to) { b.resize(align(b.size(), to), 0); }
  void patch32(size_t at, uint32_t v) { storeBE32(b.data() + at, v); }
  void append(const std::vector<uint8_t>& more) { b.insert(b.end(), more.begin(), more.end()); }
};

// The entries of one file, padded the tools' way: a pad byte is the byte an
// earlier entry holds at the same distance from its start (the tools write
// through a 64 KiB cyclic buffer reset per entry; these entries are short).
class GarbageFile {
 public:
  void begin() { entries_.push_back(data_.size()); }
  void add(const std::vector<uint8_t>& bytes) { data_.insert(data_.end(), bytes.begin(), bytes.end()); }
  void alignZero(size_t to) { data_.resize(align(data_.size(), to), 0); }
  void alignGarbage(size_t to) {
    const size_t start = entries_.back();
    while (data_.size() % to != 0) {
      const size_t p = data_.size() - start;
      uint8_t byte = 0;
      for (size_t e = entries_.size() - 1; e-- > 0;) {
        if (entries_[e] + p < entries_[e + 1]) {
          byte = data_[entries_[e] + p];
          break;
        }
      }
      data_.push_back(byte);
    }
  }
  size_t size() const { return data_.size(); }
  const std::vector<uint8_t>& data() const { return data_; }

 private:
  std::vector<uint8_t> data_;
  std::vector<size_t> entries_;
};

// {type, count, table} padded to 16, the data, then the tools' tail.
std::vector<uint8_t> seqFile(uint16_t type, const std::vector<std::pair<uint32_t, uint32_t>>& entries,
                             const std::vector<uint8_t>& data, bool extraByte) {
  Bytes f;
  f.u16(type);
  f.u16(static_cast<uint16_t>(entries.size()));
  const size_t start = align(4 + 8 * entries.size(), 16);
  for (const auto& [offset, length] : entries) {
    f.u32(static_cast<uint32_t>(offset + start));
    f.u32(length);
  }
  f.pad(16);
  f.append(data);
  if (extraByte) f.u8(0);
  f.pad(64);
  return f.b;
}

uint32_t unloopedEnd(size_t len) { return static_cast<uint32_t>(len / 9 * 16 + len % 2 + len % 9); }

// One bank's header and body.
std::vector<uint8_t> bankBytes(const EadBankDesign& bank, const EadSampleBankDesign& samples,
                               const std::vector<uint32_t>& waveAt, bool shared) {
  Bytes body;
  body.u32(0);  // the drum table, patched below
  for (size_t i = 0; i < bank.slots.size(); ++i) body.u32(0);
  body.pad(16);
  // Samples in first-use order: instruments' low, normal, high, then drums.
  std::map<int, uint32_t> recordAt;
  std::vector<int> used;
  for (const EadInstrumentDesign& inst : bank.instruments) {
    for (const EadSoundDesign* s : {&inst.low, &inst.normal, &inst.high}) used.push_back(s->wave);
  }
  for (const EadDrumDesign& d : bank.drums) used.push_back(d.sound.wave);
  for (const int w : used) {
    if (w < 0 || recordAt.count(w) != 0) continue;
    const EadWaveDesign& wave = samples.waves.at(static_cast<size_t>(w));
    recordAt[w] = static_cast<uint32_t>(body.size());
    const size_t record = body.size();
    body.u32(0);
    body.u32(waveAt.at(static_cast<size_t>(w)));
    body.u32(0);  // loop, patched
    body.u32(0);  // book, patched
    body.u32(static_cast<uint32_t>(align(wave.frames.size(), 2)));
    body.pad(16);
    body.patch32(record + 12, static_cast<uint32_t>(body.size()));
    body.u32(static_cast<uint32_t>(wave.book.order));
    body.u32(static_cast<uint32_t>(wave.book.npredictors));
    for (const int16_t c : wave.book.predictors) body.u16(static_cast<uint16_t>(c));
    body.pad(16);
    body.patch32(record + 8, static_cast<uint32_t>(body.size()));
    if (wave.loop) {
      body.u32(wave.loop->start);
      body.u32(wave.loop->end);
      body.u32(static_cast<uint32_t>(wave.loop->count));
      body.u32(0);
      for (const int16_t v : wave.loop->state) body.u16(static_cast<uint16_t>(v));
    } else {
      body.u32(0);
      body.u32(unloopedEnd(wave.frames.size()));
      body.u32(0);
      body.u32(0);
    }
    body.pad(16);
  }
  std::vector<uint32_t> envelopeAt;
  for (const EadEnvelopeDesign& env : bank.envelopes) {
    envelopeAt.push_back(static_cast<uint32_t>(body.size()));
    for (const auto& [delay, arg] : env) {
      body.u16(delay);
      body.u16(arg);
    }
    body.pad(16);
  }
  const auto sound = [&](const EadSoundDesign& s) {
    body.u32(s.wave < 0 ? 0 : recordAt.at(s.wave));
    body.f32(s.wave < 0 ? 0.0f : s.tuning);
  };
  std::vector<uint32_t> instrumentAt;
  for (const EadInstrumentDesign& inst : bank.instruments) {
    instrumentAt.push_back(static_cast<uint32_t>(body.size()));
    body.u8(0);
    body.u8(inst.rangeLow);
    body.u8(inst.rangeHigh);
    body.u8(inst.releaseRate);
    body.u32(envelopeAt.at(static_cast<size_t>(inst.envelope)));
    sound(inst.low);
    sound(inst.normal);
    sound(inst.high);
  }
  body.pad(16);
  for (size_t i = 0; i < bank.slots.size(); ++i) {
    const int slot = bank.slots[i];
    if (slot >= 0) body.patch32(4 + 4 * i, instrumentAt.at(static_cast<size_t>(slot)));
  }
  if (!bank.drums.empty()) {
    std::vector<uint32_t> drumAt;
    for (const EadDrumDesign& d : bank.drums) {
      drumAt.push_back(static_cast<uint32_t>(body.size()));
      body.u8(d.releaseRate);
      body.u8(d.pan);
      body.u8(0);
      body.u8(0);
      sound(d.sound);
      body.u32(envelopeAt.at(static_cast<size_t>(d.envelope)));
    }
    body.pad(16);
    body.patch32(0, static_cast<uint32_t>(body.size()));
    for (const uint32_t at : drumAt) body.u32(at);
    body.pad(16);
  }
  Bytes out;
  out.u32(static_cast<uint32_t>(bank.slots.size()));
  out.u32(static_cast<uint32_t>(bank.drums.size()));
  out.u32(shared ? 1 : 0);
  out.u32(bank.date);
  out.append(body.b);
  return out.b;
}

void placeFile(BuiltEadSet& set, const std::vector<uint8_t>& file, int64_t& at, int64_t& length) {
  set.bytes.resize(align(set.bytes.size(), 16), 0);
  at = static_cast<int64_t>(set.bytes.size());
  length = static_cast<int64_t>(file.size());
  set.bytes.insert(set.bytes.end(), file.begin(), file.end());
}

}  // namespace

BuiltEadSet buildEadSet(const EadSetDesign& design) {
  BuiltEadSet set;
  // The sample-table file: each sample bank once, then one entry per bank.
  GarbageFile tbl;
  std::vector<std::pair<uint32_t, uint32_t>> sampleBankEntry;
  for (const EadSampleBankDesign& bank : design.sampleBanks) {
    tbl.begin();
    const size_t start = tbl.size();
    std::vector<uint32_t> at;
    for (const EadWaveDesign& w : bank.waves) {
      tbl.alignZero(16);
      at.push_back(static_cast<uint32_t>(tbl.size() - start));
      tbl.add(w.frames);
    }
    tbl.alignZero(2);
    tbl.alignGarbage(16);
    set.waveAt.push_back(at);
    sampleBankEntry.emplace_back(static_cast<uint32_t>(start), static_cast<uint32_t>(tbl.size() - start));
  }
  std::vector<std::pair<uint32_t, uint32_t>> tblEntries;
  std::vector<int> uses(design.sampleBanks.size(), 0);
  for (const EadBankDesign& bank : design.banks) {
    tblEntries.push_back(sampleBankEntry.at(static_cast<size_t>(bank.sampleBank)));
    ++uses[static_cast<size_t>(bank.sampleBank)];
  }
  const std::vector<uint8_t> tblFile = seqFile(2, tblEntries, tbl.data(), true);
  const size_t tblStart = align(4 + 8 * tblEntries.size(), 16);
  for (const auto& e : sampleBankEntry) set.sampleBankAt.push_back(static_cast<uint32_t>(e.first + tblStart));

  // The sound-data file.
  Bytes ctl;
  std::vector<std::pair<uint32_t, uint32_t>> ctlEntries;
  std::vector<size_t> bankInFile;
  for (const EadBankDesign& bank : design.banks) {
    const size_t s = static_cast<size_t>(bank.sampleBank);
    const std::vector<uint8_t> bytes =
        bankBytes(bank, design.sampleBanks.at(s), set.waveAt.at(s), uses[s] > 1);
    ctlEntries.emplace_back(static_cast<uint32_t>(ctl.size()), static_cast<uint32_t>(bytes.size()));
    bankInFile.push_back(ctl.size() + align(4 + 8 * design.banks.size(), 16));
    ctl.append(bytes);
  }
  const std::vector<uint8_t> ctlFile = seqFile(1, ctlEntries, ctl.b, true);

  // The sequence file.
  GarbageFile seq;
  std::vector<std::pair<uint32_t, uint32_t>> seqEntries;
  for (const std::vector<uint8_t>& s : design.sequences) {
    seq.begin();
    const size_t start = seq.size();
    if (!s.empty()) {
      seq.add(s);
      seq.alignGarbage(16);
    }
    seqEntries.emplace_back(static_cast<uint32_t>(start), static_cast<uint32_t>(seq.size() - start));
  }
  const std::vector<uint8_t> seqBytes = seqFile(3, seqEntries, seq.data(), false);

  // The bank-sets table.
  Bytes sets;
  for (size_t i = 0; i < design.bankSets.size(); ++i) sets.u16(0);
  for (size_t i = 0; i < design.bankSets.size(); ++i) {
    storeBE16(sets.b.data() + 2 * i, static_cast<uint16_t>(sets.size()));
    sets.u8(static_cast<uint8_t>(design.bankSets[i].size()));
    for (const uint8_t b : design.bankSets[i]) sets.u8(b);
  }
  sets.pad(16);

  placeFile(set, ctlFile, set.soundData, set.soundDataLength);
  placeFile(set, tblFile, set.sampleTable, set.sampleTableLength);
  placeFile(set, seqBytes, set.sequences, set.sequencesLength);
  placeFile(set, sets.b, set.bankSets, set.bankSetsLength);
  for (const size_t at : bankInFile) set.bankAt.push_back(set.soundData + static_cast<int64_t>(at));
  return set;
}

EadWaveDesign eadWave(const std::vector<int16_t>& pcm, int npredictors) {
  EadWaveDesign w;
  w.book = deriveBook(pcm, npredictors);
  AdpcmEncoding enc = encodeAdpcm(pcm, w.book);
  w.frames = std::move(enc.frames);
  w.decoded = std::move(enc.decoded);
  return w;
}

EadSetDesign defaultEadSet() {
  constexpr int kRate = 16000;
  EadSetDesign d;
  EadSampleBankDesign shared;
  shared.waves.push_back(eadWave(pluckedString(kRate, 220.0, 0.08, 7)));   // 0
  shared.waves.push_back(eadWave(pluckedBass(kRate, 110.0, 0.08, 8), 4));  // 1
  shared.waves.push_back(eadWave(bell(kRate, 880.0, 0.06)));                // 2
  {
    LoopedSample o = organ(kRate, 440.0, 0.02, 0.04);
    EadWaveDesign w = eadWave(o.pcm);
    EadLoopDesign loop;
    loop.start = static_cast<uint32_t>(o.loopStart);
    loop.end = static_cast<uint32_t>(o.loopEnd);
    for (size_t k = 0; k < 16 && o.loopStart >= 16; ++k) {
      loop.state[k] = w.decoded[static_cast<size_t>(o.loopStart) - 16 + k];
    }
    w.loop = loop;
    shared.waves.push_back(std::move(w));  // 3
  }
  shared.waves.push_back(eadWave(kickDrum(kRate)));      // 4
  shared.waves.push_back(eadWave(snareDrum(kRate, 9)));  // 5
  d.sampleBanks.push_back(std::move(shared));
  EadSampleBankDesign own;
  // 101 frames: 909 bytes, a record size of 910 (the tools' odd pad byte).
  std::vector<int16_t> zap16 = zap(kRate, 0.1);
  zap16.resize(101 * 16);
  own.waves.push_back(eadWave(zap16));
  d.sampleBanks.push_back(std::move(own));

  EadBankDesign b0;
  b0.envelopes = {{{4, 32700}, {60, 24000}, {kHang, 0}}, {{1, 32767}, {30, 0}, {0, 0}}};
  EadInstrumentDesign three;
  three.rangeLow = 30;
  three.rangeHigh = 50;
  three.releaseRate = 0x20;
  three.low = {0, 0.6f};
  three.normal = {0, 0.5f};
  three.high = {2, 0.5f};
  EadInstrumentDesign looped;
  looped.releaseRate = 0x08;
  looped.envelope = 0;
  looped.normal = {3, 0.5f};
  b0.instruments = {three, looped};
  b0.slots = {0, -1, 1, 0};
  EadDrumDesign kick{0x40, 64, 1, {4, 0.5f}};
  EadDrumDesign snare{0x40, 20, 1, {5, 0.5f}};
  EadDrumDesign tone{0x30, 100, 0, {3, 1.0f}};
  b0.drums = {kick, snare, tone};
  d.banks.push_back(b0);

  EadBankDesign b1;
  b1.envelopes = {{{8, 32000}, {20, 16000}, {20, 32000}, {kGoto, 1}}};
  EadInstrumentDesign bass;
  bass.releaseRate = 0;
  bass.rangeHigh = 60;
  bass.normal = {1, 0.5f};
  bass.high = {3, 0.5f};
  b1.instruments = {bass};
  b1.slots = {0};
  d.banks.push_back(b1);

  EadBankDesign b2;
  b2.sampleBank = 1;
  b2.envelopes = {{{2, 30000}, {kHang, 0}}};
  EadInstrumentDesign zapper;
  zapper.normal = {0, 0.5f};
  b2.instruments = {zapper};
  b2.slots = {0};
  d.banks.push_back(b2);

  d.sequences = {{0xD3, 0x80, 0xD7, 0x00, 0x01, 0xFF}, {}};
  d.bankSets = {{1, 0}, {2}};
  return d;
}

}  // namespace zaft::test
