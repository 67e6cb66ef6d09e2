#include "support/bank_builder.h"

#include <stdexcept>

namespace zaft::test {

namespace {

constexpr size_t kAlign = 8;

size_t alignUp(size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

class Block {
 public:
  size_t reserve(size_t size) {
    size_t at = alignUp(bytes_.size());
    bytes_.resize(alignUp(at + size), 0);
    return at;
  }
  void be8(size_t at, uint8_t v) { bytes_[at] = v; }
  void be16(size_t at, uint16_t v) {
    bytes_[at] = static_cast<uint8_t>(v >> 8);
    bytes_[at + 1] = static_cast<uint8_t>(v);
  }
  void be32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

uint32_t at(const std::vector<uint32_t>& offsets, int index) {
  if (index < 0) return 0;
  if (static_cast<size_t>(index) >= offsets.size()) throw std::out_of_range("bank design index");
  return offsets[static_cast<size_t>(index)];
}

}  // namespace

BuiltBank buildBank(const BankFileDesign& design) {
  BuiltBank out;
  Block ctl;
  std::vector<int> bankList = design.bankList;
  if (bankList.empty()) {
    for (size_t i = 0; i < design.banks.size(); ++i) bankList.push_back(static_cast<int>(i));
  }
  const size_t fileAt = ctl.reserve(4 + 4 * bankList.size());

  for (const EnvelopeDesign& e : design.envelopes) {
    size_t p = ctl.reserve(14);
    ctl.be32(p, static_cast<uint32_t>(e.attackTime));
    ctl.be32(p + 4, static_cast<uint32_t>(e.secondTime));
    ctl.be32(p + 8, static_cast<uint32_t>(e.releaseTime));
    ctl.be8(p + 12, e.attackVolume);
    ctl.be8(p + 13, e.decayVolume);
    out.envelopeAt.push_back(static_cast<uint32_t>(p));
  }
  for (const KeyMapDesign& k : design.keyMaps) {
    size_t p = ctl.reserve(6);
    ctl.be8(p, k.velocityMin);
    ctl.be8(p + 1, k.velocityMax);
    ctl.be8(p + 2, k.keyMin);
    ctl.be8(p + 3, k.keyMax);
    ctl.be8(p + 4, k.keyBase);
    ctl.be8(p + 5, static_cast<uint8_t>(k.detune));
    out.keyMapAt.push_back(static_cast<uint32_t>(p));
  }
  for (const LoopDesign& l : design.loops) {
    size_t p = ctl.reserve(l.adpcm ? 48 : 12);
    ctl.be32(p, static_cast<uint32_t>(l.start));
    ctl.be32(p + 4, static_cast<uint32_t>(l.end));
    ctl.be32(p + 8, static_cast<uint32_t>(l.count));
    out.loopAt.push_back(static_cast<uint32_t>(p));
  }
  for (const BookDesign& b : design.books) {
    size_t p = ctl.reserve(8 + 2 * b.predictors.size());
    ctl.be32(p, static_cast<uint32_t>(b.order));
    ctl.be32(p + 4, static_cast<uint32_t>(b.npredictors));
    for (size_t i = 0; i < b.predictors.size(); ++i) {
      ctl.be16(p + 8 + 2 * i, static_cast<uint16_t>(b.predictors[i]));
    }
    out.bookAt.push_back(static_cast<uint32_t>(p));
  }
  Block tbl;
  for (const WaveDesign& w : design.waves) {
    size_t base = tbl.reserve(w.data.size());
    std::copy(w.data.begin(), w.data.end(), tbl.bytes().begin() + static_cast<std::ptrdiff_t>(base));
    out.waveBase.push_back(static_cast<uint32_t>(base));
    // A raw wave table has no book field: 16 bytes, an ADPCM one 20.
    size_t p = ctl.reserve(w.type == 0 ? 20 : 16);
    ctl.be32(p, static_cast<uint32_t>(base));
    ctl.be32(p + 4, static_cast<uint32_t>(w.data.size()));
    ctl.be8(p + 8, w.type);
    ctl.be8(p + 9, w.flags);
    ctl.be32(p + 12, at(out.loopAt, w.loop));
    if (w.type == 0) ctl.be32(p + 16, at(out.bookAt, w.book));
    out.waveAt.push_back(static_cast<uint32_t>(p));
  }
  for (const SoundDesign& s : design.sounds) {
    size_t p = ctl.reserve(15);
    ctl.be32(p, at(out.envelopeAt, s.envelope));
    ctl.be32(p + 4, at(out.keyMapAt, s.keyMap));
    ctl.be32(p + 8, at(out.waveAt, s.wave));
    ctl.be8(p + 12, s.samplePan);
    ctl.be8(p + 13, s.sampleVolume);
    ctl.be8(p + 14, s.flags);
    out.soundAt.push_back(static_cast<uint32_t>(p));
  }
  for (const InstrumentDesign& i : design.instruments) {
    size_t p = ctl.reserve(16 + 4 * i.sounds.size());
    ctl.be8(p, i.volume);
    ctl.be8(p + 1, i.pan);
    ctl.be8(p + 2, i.priority);
    ctl.be8(p + 3, i.flags);
    for (int m = 0; m < 8; ++m) ctl.be8(p + 4 + static_cast<size_t>(m), i.modulation[m]);
    ctl.be16(p + 12, static_cast<uint16_t>(i.bendRange));
    ctl.be16(p + 14, static_cast<uint16_t>(i.sounds.size()));
    for (size_t k = 0; k < i.sounds.size(); ++k) ctl.be32(p + 16 + 4 * k, at(out.soundAt, i.sounds[k]));
    out.instrumentAt.push_back(static_cast<uint32_t>(p));
  }
  for (const BankDesign& b : design.banks) {
    size_t p = ctl.reserve(12 + 4 * b.insts.size());
    ctl.be16(p, static_cast<uint16_t>(b.insts.size()));
    ctl.be8(p + 2, b.flags);
    ctl.be8(p + 3, b.pad);
    ctl.be32(p + 4, static_cast<uint32_t>(b.sampleRate));
    ctl.be32(p + 8, at(out.instrumentAt, b.percussion));
    for (size_t k = 0; k < b.insts.size(); ++k) ctl.be32(p + 12 + 4 * k, at(out.instrumentAt, b.insts[k]));
    out.bankAt.push_back(static_cast<uint32_t>(p));
  }
  ctl.be16(fileAt, 0x4231);
  ctl.be16(fileAt + 2, static_cast<uint16_t>(bankList.size()));
  for (size_t k = 0; k < bankList.size(); ++k) ctl.be32(fileAt + 4 + 4 * k, at(out.bankAt, bankList[k]));

  out.ctl = std::move(ctl.bytes());
  out.tbl = std::move(tbl.bytes());
  return out;
}

void placeBank(RomBuilder& rom, const BuiltBank& bank, size_t ctlOffset, size_t tblOffset) {
  rom.put(ctlOffset, bank.ctl);
  rom.put(tblOffset, bank.tbl);
}

BookDesign simpleBook(int32_t npredictors) {
  BookDesign book;
  book.order = 2;
  book.npredictors = npredictors;
  book.predictors.assign(static_cast<size_t>(npredictors) * 16, 0);
  for (int32_t p = 0; p < npredictors; ++p) {
    for (int k = 8; k < 16; ++k) book.predictors[static_cast<size_t>(p) * 16 + k] = 2048;
  }
  return book;
}

}  // namespace zaft::test
