#include "bank/sample_search.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "util/endian.h"

namespace zaft {

using namespace judge;

namespace {

// Frames of each wave the quick test looks at. For a book of 16 predictors a
// random header passes with the chance 13/16, and 0.8125^16 < 4 %.
constexpr int64_t kQuickFrames = 16;
// The driving wave is tested 64 offsets at a time through a bitmap, so it
// can afford more: 0.8125^64 < 2e-6.
constexpr int64_t kDriverFrames = 64;

// A wave's first and last header plausible (the pad frame 0x00).
bool quickWaveEnds(const uint8_t* data, int64_t offset, const JudgedWave& w) {
  const uint8_t* ok = kPlausibleHeaders.ok[static_cast<size_t>(w.predictors)].data();
  const uint8_t* first = data + offset + w.base;
  const uint8_t lastHeader = first[(w.frames - 1) * kFrameBytes];
  if (ok[first[0]] == 0 || ok[lastHeader] == 0) return false;
  return padFrame(w) < 0 || lastHeader == 0;
}

// The quick test of a wave's last frames: plausible, the pad frame 0x00.
bool quickWaveEnd(const uint8_t* data, int64_t offset, const JudgedWave& w) {
  const uint8_t* ok = kPlausibleHeaders.ok[static_cast<size_t>(w.predictors)].data();
  const uint8_t* first = data + offset + w.base;
  const int64_t pad = padFrame(w);
  if (pad >= 0 && first[pad * kFrameBytes] != 0) return false;
  for (int64_t k = std::max<int64_t>(0, w.frames - kQuickFrames); k < w.frames; ++k) {
    if (ok[first[k * kFrameBytes]] == 0) return false;
  }
  return true;
}

// The quick test of one wave other than the driving one: its first and last
// frames plausible (the pad frame 0x00).
bool quickWave(const uint8_t* data, int64_t offset, const JudgedWave& w) {
  const uint8_t* ok = kPlausibleHeaders.ok[static_cast<size_t>(w.predictors)].data();
  const uint8_t* first = data + offset + w.base;
  const int64_t n = std::min(w.frames, kQuickFrames);
  for (int64_t k = 0; k < n; ++k) {
    if (ok[first[k * kFrameBytes]] == 0) return false;
  }
  return quickWaveEnd(data, offset, w);
}

// Bit i set when byte i of `bytes` (loadLE64) is a plausible header for a book
// of 1 to 16 predictors: eight bytes tested at once.
uint8_t plausibleBits(uint64_t bytes, int32_t predictors) {
  constexpr uint64_t kLowBits = 0x0101010101010101;
  // Scale above 12, 0xD0 and up: bits 7 and 6 and (5 or 4), seen at bit 7.
  const uint64_t bigScale = ((bytes & (bytes << 1) & ((bytes << 2) | (bytes << 3))) >> 7) & kLowBits;
  // Predictor index >= P: the low nibble plus 16 - P reaches 16 (at most 30,
  // so nothing carries into the next byte).
  const uint64_t nibbles = bytes & 0x0F0F0F0F0F0F0F0F;
  const uint64_t bigIndex =
      ((nibbles + static_cast<uint64_t>(16 - predictors) * kLowBits) >> 4) & kLowBits;
  const uint64_t ok = ~(bigScale | bigIndex) & kLowBits;
  // Gathers bit 8i of `ok` into bit 56 + i: every partial product lands on a
  // bit of its own, so nothing carries.
  return static_cast<uint8_t>((ok * 0x0102040810204080) >> 56);
}

// One bit per ROM byte: whether it is a plausible header for one book size.
// Bits past the end of the ROM are clear.
class HeaderBitmap {
 public:
  HeaderBitmap(const uint8_t* data, int64_t size, int32_t predictors) {
    words_.assign(static_cast<size_t>(size / 64) + 3, 0);
    const int64_t whole = size / 8;
    for (int64_t g = 0; g < whole; ++g) {
      const uint64_t bits = plausibleBits(loadLE64(data + 8 * g), predictors);
      words_[static_cast<size_t>(g / 8)] |= bits << (8 * (g % 8));
    }
    for (int64_t i = whole * 8; i < size; ++i) {
      const uint8_t one[8] = {data[i], 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
      const uint64_t bit = plausibleBits(loadLE64(one), predictors) & 1u;
      words_[static_cast<size_t>(i / 64)] |= bit << (i % 64);
    }
  }

  // Bits for the bytes at x to x + 63; 0 <= x < size + 64.
  uint64_t window(int64_t x) const {
    const size_t w = static_cast<size_t>(x >> 6);
    const int shift = static_cast<int>(x & 63);
    if (shift == 0) return words_[w];
    return words_[w] >> shift | words_[w + 1] << (64 - shift);
  }

 private:
  std::vector<uint64_t> words_;
};

// Non-zero bytes in 8 bytes: bit 7 of each byte ends up set when any of its
// bits is (the low seven plus 0x7F carry into bit 7 and no further).
int nonZeroBytes(uint64_t bytes) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F;
  const uint64_t top = (((bytes & kLow7) + kLow7) | bytes) >> 7 & 0x0101010101010101;
  return static_cast<int>((top * 0x0101010101010101) >> 56);  // the sum of the eight bytes
}

// The number of non-zero bytes in a window of the ROM that only moves
// forward, so that a whole search looks at every byte at most twice.
class NonZeroWindow {
 public:
  explicit NonZeroWindow(const uint8_t* data) : data_(data) {}

  // Non-zero bytes in [from, to), 0 <= from <= to <= size; neither end is
  // before the previous call's.
  int64_t count(int64_t from, int64_t to) {
    if (from >= to_) {
      count_ = countIn(from, to);
    } else {
      count_ += countIn(to_, to) - countIn(from_, from);
    }
    from_ = from;
    to_ = to;
    return count_;
  }

 private:
  int64_t countIn(int64_t from, int64_t to) const {
    int64_t n = 0;
    int64_t i = from;
    for (; i < to && i % 8 != 0; ++i) n += data_[i] != 0;
    for (; i + 8 <= to; i += 8) n += nonZeroBytes(loadLE64(data_ + i));
    for (; i < to; ++i) n += data_[i] != 0;
    return n;
  }

  const uint8_t* data_;
  int64_t from_ = 0;
  int64_t to_ = 0;
  int64_t count_ = 0;
};

// The most judged frames (wave tables counted as often as they occur) that
// share one byte of the ROM: 1 for a block whose waves do not overlap.
int64_t deepestOverlap(const std::vector<JudgedWave>& judged) {
  std::vector<std::pair<int64_t, int64_t>> edges;  // position, change
  for (const JudgedWave& w : judged) {
    edges.emplace_back(w.base, w.count);
    edges.emplace_back(w.base + w.len, -w.count);
  }
  std::sort(edges.begin(), edges.end());  // at one position, ends before starts
  int64_t depth = 0;
  int64_t deepest = 1;
  for (const auto& edge : edges) {
    depth += edge.second;
    deepest = std::max(deepest, depth);
  }
  return deepest;
}

// The logarithm of the chance that random bytes pass the first frames the
// quick test looks at for the driving wave.
double driverPassLog(const JudgedWave& w) {
  const double p = 13.0 / 16.0 * w.predictors / 16.0;
  return static_cast<double>(std::min(w.frames, kDriverFrames)) * std::log(p);
}

// The order in which the quick test looks at the waves: the most selective
// first, then the others spread over the block (halves, quarters, ...), so
// that an offset whose waves land partly on zero padding meets a wave in the
// other part after a few tests.
std::vector<const JudgedWave*> quickOrder(const Layout& layout) {
  std::vector<const JudgedWave*> order;
  const std::vector<JudgedWave>& judged = layout.judged;
  size_t driver = 0;
  for (size_t i = 1; i < judged.size(); ++i) {
    if (driverPassLog(judged[i]) < driverPassLog(judged[driver])) driver = i;
  }
  order.push_back(&judged[driver]);
  // judged is sorted by base; visit the rest in bit-reversed index order.
  std::vector<const JudgedWave*> rest;
  for (size_t i = 0; i < judged.size(); ++i) {
    if (i != driver) rest.push_back(&judged[i]);
  }
  size_t bits = 0;
  while ((size_t{1} << bits) < rest.size()) ++bits;
  for (size_t i = 0; i < (size_t{1} << bits); ++i) {
    size_t r = 0;
    for (size_t b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    if (r < rest.size()) order.push_back(rest[r]);
  }
  return order;
}

// Judges quick-test survivors and keeps the best passing one, with work
// bounded by the ROM's size whatever it holds:
//   - each survivor is first judged on a sample: at most kSampleFrames
//     frames, from the ends of its waves in, where a misplaced block shows;
//   - one whose sample holds no implausible frame is judged in full at once:
//     in a real ROM that is the right offset, met on the first try, and
//     after it every other survivor gives up within a few frames;
//   - the others that the sample did not reject wait, the kKept most
//     promising of them (fewest implausible, then fewest blank frames in
//     their sample), and are judged in full at the end, best first;
//   - judging in full stops when the frames judged reach the budget.
// So the result is that of judging every offset in full unless more than
// kKept offsets look as good on their samples or the budget runs out (ROMs
// where nearly every offset fits, which no real sample block does); then it
// is the best of those judged, and the check says the search was cut short.
class Verifier {
 public:
  Verifier(const uint8_t* data, int64_t size, const std::vector<const JudgedWave*>& order,
           int64_t frames, int64_t budget, const Layout& layout, ControlExtent control)
      : data_(data), size_(size), order_(order), budget_(budget), layout_(layout),
        control_(control) {
    giveUp_.totalFrames = frames;
    giveUp_.maxImplausible = frames / 100;        // 100 * plausible >= 99 * frames
    giveUp_.maxLost = frames - (frames + 3) / 4;  // a quarter of the frames carry sound
  }

  void add(int64_t offset) {
    if (cannotBeNearer(offset)) return;
    FrameTally sample;
    int64_t left = kSampleFrames;
    const JudgeEnd end = judgeAll(data_, size_, order_, offset, &giveUp_, left, sample);
    if (end == JudgeEnd::GaveUp) return;
    if (end == JudgeEnd::Complete) return consider(offset, sample);
    if (sample.implausible() == 0 && budget_ > 0) return judgeInFull(offset);
    wait({offset, sample.implausible(), sample.blank});
  }

  void finish() {
    std::sort_heap(waiting_.begin(), waiting_.end(), promising);
    for (const Waiting& w : waiting_) {
      if (!cannotBeNearer(w.offset)) judgeInFull(w.offset);
    }
    waiting_.clear();
  }

  // Whether no offset from `offset` on can change the result: the best
  // cannot be beaten on its frames, enough offsets like it were counted, and
  // every later offset lies farther from the control block.
  bool settledFrom(int64_t offset) const {
    return cannotBeNearer(offset) && offset + layout_.minBase >= control_.to;
  }

  std::optional<SampleBlockCheck> best() const {
    std::optional<SampleBlockCheck> found = best_;
    if (found) {
      found->searchedAll = complete_;
      found->alike = alike_;
      found->alikeCounted = alike_ < kAlikeCounted;
      found->alikeOffsets = alikeOffsets_;
    }
    return found;
  }

 private:
  static constexpr int64_t kSampleFrames = 32;
  static constexpr size_t kKept = 1024;
  static constexpr size_t kAlikeListed = 8;
  // Offsets as good as the best are counted up to this many; beyond it only
  // a nearer one is looked for.
  static constexpr int64_t kAlikeCounted = 100;

  bool cannotBeNearer(int64_t offset) const {
    return alike_ >= kAlikeCounted && best_->soundFrames() == giveUp_.totalFrames &&
           onEightByteBoundary(best_->offset) && distanceAt(offset) > best_->distance;
  }

  struct Waiting {
    int64_t offset;
    int64_t implausible;
    int64_t blank;
  };
  // The order in which waiting offsets are judged: the likeliest first.
  static bool promising(const Waiting& a, const Waiting& b) {
    if (a.implausible != b.implausible) return a.implausible < b.implausible;
    if (a.blank != b.blank) return a.blank < b.blank;
    const bool alignedA = onEightByteBoundary(a.offset);
    if (alignedA != onEightByteBoundary(b.offset)) return alignedA;
    return a.offset < b.offset;
  }

  // Keeps the kKept likeliest: a heap whose top is the least promising.
  void wait(const Waiting& w) {
    if (waiting_.size() == kKept) {
      complete_ = false;
      if (!promising(w, waiting_.front())) return;
      std::pop_heap(waiting_.begin(), waiting_.end(), promising);
      waiting_.pop_back();
    }
    waiting_.push_back(w);
    std::push_heap(waiting_.begin(), waiting_.end(), promising);
  }

  void judgeInFull(int64_t offset) {
    if (budget_ <= 0) {
      complete_ = false;
      return;
    }
    FrameTally total;
    const JudgeEnd end = judgeAll(data_, size_, order_, offset, &giveUp_, budget_, total);
    if (end == JudgeEnd::OutOfFrames) complete_ = false;
    if (end == JudgeEnd::Complete) consider(offset, total);
  }

  void consider(int64_t offset, const FrameTally& total) {
    SampleBlockCheck check;
    check.offset = offset;
    check.frames = total.frames;
    check.plausibleFrames = total.plausible;
    check.blankFrames = total.blank;
    check.distance = distanceAt(offset);
    if (!check.passes()) return;
    if (best_ && equallyGoodSampleBlocks(check, *best_)) {
      alike_ = std::min(alike_ + 1, kAlikeCounted);
      if (alikeOffsets_.size() < kAlikeListed || offset < alikeOffsets_.back()) {
        alikeOffsets_.insert(std::lower_bound(alikeOffsets_.begin(), alikeOffsets_.end(), offset),
                             offset);
        if (alikeOffsets_.size() > kAlikeListed) alikeOffsets_.pop_back();
      }
      if (betterSampleBlock(check, *best_)) best_ = check;
      return;
    }
    if (best_ && !betterSampleBlock(check, *best_)) return;
    best_ = check;
    alike_ = 1;
    alikeOffsets_.assign(1, offset);
    giveUp_.haveBest = true;
    giveUp_.bestImplausible = check.frames - check.plausibleFrames;
    giveUp_.bestSound = check.soundFrames();
  }

  // Bytes between the waves placed at `offset` and the control block.
  int64_t distanceAt(int64_t offset) const {
    const int64_t from = offset + layout_.minBase;
    const int64_t to = offset + layout_.maxEnd;
    return std::max<int64_t>({0, control_.from - to, from - control_.to});
  }

  const uint8_t* data_;
  int64_t size_;
  const std::vector<const JudgedWave*>& order_;
  int64_t budget_;  // frames that judging in full may still read
  const Layout& layout_;
  ControlExtent control_;
  int64_t alike_ = 0;
  std::vector<int64_t> alikeOffsets_;
  GiveUp giveUp_;
  std::vector<Waiting> waiting_;
  std::optional<SampleBlockCheck> best_;
  bool complete_ = true;
};

}  // namespace


std::optional<SampleBlockCheck> searchSampleBlock(const RomImage& rom,
                                                  const std::vector<WaveProbe>& waves,
                                                  ControlExtent control) {
  const Layout layout(waves);
  const int64_t frames = layout.judgedFrames;
  if (layout.judged.empty() || frames == 0) return std::nullopt;
  const uint8_t* data = rom.data();
  const int64_t size = rom.size();

  // Every even offset at which every wave lies inside the ROM.
  int64_t lo = std::max<int64_t>(0, -layout.minBase);
  const int64_t hi = std::min<int64_t>(size - layout.maxEnd, std::numeric_limits<int32_t>::max());
  lo += lo % 2;
  if (lo > hi) return std::nullopt;

  // A passing offset has at least a quarter of its frames carrying sound,
  // each with a non-zero byte inside its wave, and one byte lies in at most
  // `overlap` frames: the bytes from the first to the last judged frame hold
  // at least `minNonZero` non-zero bytes. Zero padding and sparse data fail
  // this at once; moving the offset by one byte gains at most one, which
  // tells how far to skip.
  int64_t spanFrom = layout.judged.front().base;
  int64_t spanTo = spanFrom;
  for (const JudgedWave& w : layout.judged) {
    spanFrom = std::min(spanFrom, w.base);
    spanTo = std::max(spanTo, w.base + w.len);
  }
  const int64_t overlap = deepestOverlap(layout.judged);
  const int64_t minNonZero = (frames + 4 * overlap - 1) / (4 * overlap);
  NonZeroWindow nonZero(data);

  const std::vector<const JudgedWave*> order = quickOrder(layout);
  const JudgedWave& driver = *order.front();
  const int64_t driverFrames = std::min(driver.frames, kDriverFrames);
  const HeaderBitmap driverBits(data, size, driver.predictors);
  // Judging in full may read 2 frames per ROM byte in all (and at least
  // 16 Mi frames): about a second per 64 MiB.
  constexpr int64_t kBudgetPerByte = 2;
  constexpr int64_t kMinBudget = int64_t{1} << 24;
  Verifier verifier(data, size, order, frames, std::max(kMinBudget, kBudgetPerByte * size), layout,
                    control);

  // 64 offsets at a time: bit j stands for block + j; odd ones are dropped.
  constexpr uint64_t kEvenOffsets = 0x5555555555555555;
  int64_t block = lo;
  while (block <= hi && !verifier.settledFrom(block)) {
    uint64_t mask = kEvenOffsets;
    if (hi - block < 63) mask &= (uint64_t{1} << (hi - block + 1)) - 1;
    for (int64_t k = 0; k < driverFrames && mask != 0; ++k) {
      mask &= driverBits.window(block + driver.base + k * kFrameBytes);
    }
    int64_t nextBlock = block + 64;
    while (mask != 0) {
      const int64_t offset = block + std::countr_zero(mask);
      mask &= mask - 1;
      const int64_t present = nonZero.count(offset + spanFrom, offset + spanTo);
      if (present < minNonZero) {
        int64_t skipTo = offset + minNonZero - present;
        skipTo += skipTo % 2;
        if (skipTo > block + 63) {
          nextBlock = skipTo;
          break;
        }
        mask &= ~uint64_t{0} << (skipTo - block);
        continue;
      }
      // First each wave's first and last header, then their neighbours: an
      // offset whose waves land partly on zeros meets a wave on other bytes
      // after a read or two per wave.
      bool pass = true;
      for (size_t i = 1; i < order.size() && pass; ++i) pass = quickWaveEnds(data, offset, *order[i]);
      pass = pass && quickWaveEnd(data, offset, driver);
      for (size_t i = 1; i < order.size() && pass; ++i) pass = quickWave(data, offset, *order[i]);
      if (pass) verifier.add(offset);
    }
    block = nextBlock;
  }
  verifier.finish();
  return verifier.best();
}

ControlExtent controlExtentOf(const BankFile& bank) {
  ControlExtent extent{bank.ctlOffset, bank.ctlOffset};
  for (int32_t i = 1; i < bank.table.size(); ++i) {
    extent.to = std::max<int64_t>(extent.to, int64_t{bank.table[i].fileOffset} + 1);
  }
  return extent;
}

}  // namespace zaft
