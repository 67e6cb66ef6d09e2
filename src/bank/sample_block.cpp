#include "bank/sample_block.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <tuple>

#include "audio/adpcm.h"
#include "bank/readers.h"
#include "bank/records.h"
#include "bank/struct_table.h"
#include "driver/fatal.h"
#include "driver/run_context.h"
#include "rom/endian.h"
#include "rom/rom_stream.h"

namespace zaft {

namespace {

constexpr int64_t kFrameBytes = 9;
constexpr uint8_t kTypeAdpcm = 0;
constexpr uint8_t kTypeRaw = 1;
// A 4-bit predictor index reaches 16 predictors; a bigger book accepts every index.
constexpr int32_t kMaxIndexedPredictors = 16;
// Frames of each wave the quick test looks at. For a book of 16 predictors a
// random header passes with the chance 13/16, and 0.8125^16 < 4 %.
constexpr int64_t kQuickFrames = 16;
// The driving wave is tested 64 offsets at a time through a bitmap, so it
// can afford more: 0.8125^64 < 2e-6.
constexpr int64_t kDriverFrames = 64;
// Offsets handed to validateSampleBlock are clamped to +-2^62, far outside
// any ROM, so that no sum with a base, a len or a frame offset can overflow.
constexpr int64_t kFarOffset = int64_t{1} << 62;

// kPlausible[P][h]: header byte h is plausible for a book of P predictors.
struct PlausibleTable {
  std::array<std::array<uint8_t, 256>, kMaxIndexedPredictors + 1> ok{};
  PlausibleTable() {
    for (int p = 0; p <= kMaxIndexedPredictors; ++p) {
      for (int h = 0; h < 256; ++h) {
        ok[p][h] = (h >> 4) <= kAdpcmMaxScale && (h & 0x0F) < p ? 1 : 0;
      }
    }
  }
};
const PlausibleTable kPlausible;

int64_t ceilDiv(int64_t n, int64_t d) { return (n + d - 1) / d; }

// One ADPCM wave whose frames are judged, with the number of wave tables
// that share its place, length and book size.
struct JudgedWave {
  int64_t base = 0;
  int64_t len = 0;
  int64_t frames = 0;
  int32_t predictors = 0;  // capped at 16
  int64_t count = 1;
};

// The waves of a bank as validation sees them.
struct Layout {
  std::vector<JudgedWave> judged;
  int64_t judgedFrames = 0;  // over all wave tables
  bool anyPlaced = false;    // an ADPCM or raw wave with len > 0
  int64_t minBase = 0;       // over the placed waves
  int64_t maxEnd = 0;        // largest base + len over the placed waves

  explicit Layout(const std::vector<WaveProbe>& waves) {
    for (const WaveProbe& w : waves) {
      if ((w.type != kTypeAdpcm && w.type != kTypeRaw) || w.len <= 0) continue;
      const int64_t base = w.base;
      const int64_t len = w.len;
      if (!anyPlaced) {
        minBase = base;
        maxEnd = base + len;
        anyPlaced = true;
      } else {
        minBase = std::min(minBase, base);
        maxEnd = std::max(maxEnd, base + len);
      }
      if (w.type != kTypeAdpcm || w.predictors <= 0) continue;
      JudgedWave j;
      j.base = base;
      j.len = len;
      j.frames = ceilDiv(len, kFrameBytes);
      j.predictors = std::min(w.predictors, kMaxIndexedPredictors);
      judged.push_back(j);
      judgedFrames += j.frames;
    }
    // Wave tables that share their samples are read once.
    std::sort(judged.begin(), judged.end(), [](const JudgedWave& a, const JudgedWave& b) {
      return std::tie(a.base, a.len, a.predictors) < std::tie(b.base, b.len, b.predictors);
    });
    std::vector<JudgedWave> merged;
    for (const JudgedWave& j : judged) {
      if (!merged.empty() && merged.back().base == j.base && merged.back().len == j.len &&
          merged.back().predictors == j.predictors) {
        merged.back().count++;
      } else {
        merged.push_back(j);
      }
    }
    judged = std::move(merged);
  }

  bool insideAt(int64_t offset, int64_t romSize) const {
    return !anyPlaced || (offset + minBase >= 0 && offset + maxEnd <= romSize);
  }
};

// Frames judged so far, wave tables counted as often as they occur.
struct FrameCounts {
  int64_t frames = 0;
  int64_t plausible = 0;
  int64_t blank = 0;
  int64_t implausible() const { return frames - plausible; }
};

// When a verification may give up: beyond these the offset either fails or
// cannot beat the best offset found so far. Only an implausible or a blank
// frame brings an offset closer to giving up, so only those are checked.
struct GiveUp {
  int64_t totalFrames = 0;
  int64_t maxImplausible = std::numeric_limits<int64_t>::max();
  int64_t maxLost = std::numeric_limits<int64_t>::max();  // implausible + blank
  // The best so far: an offset with more implausible frames cannot beat it,
  // one with as many only by carrying sound in at least as many frames.
  bool haveBest = false;
  int64_t bestImplausible = 0;
  int64_t bestSound = 0;

  bool now(const FrameCounts& c) const {
    const int64_t implausible = c.implausible();
    const int64_t lost = implausible + c.blank;
    if (implausible > maxImplausible || lost > maxLost) return true;
    return haveBest && implausible >= bestImplausible && totalFrames - lost < bestSound;
  }
};

// Whether the bytes [from, to) of the ROM are all 0; bytes outside it count as 0.
bool zeroBytes(const uint8_t* data, int64_t size, int64_t from, int64_t to) {
  from = std::max<int64_t>(from, 0);
  to = std::min(to, size);
  for (int64_t i = from; i < to; ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}

// The pad frame of a len % 9 == 1 wave holds one byte of the wave, the
// encoder's 0x00; anything else there means the frames are misplaced.
int64_t padFrame(const JudgedWave& w) { return w.len % kFrameBytes == 1 ? w.frames - 1 : -1; }

// Adds one wave's frames with the sample block at `offset` to `c`. Frames
// whose header lies outside the ROM are implausible and not read. The frames
// are read from both ends towards the middle: an offset a whole number of
// frames away from the right one shows itself at the wave's ends (frames of
// other data at one end, zero padding at the other). False as soon as
// `giveUp` (when given) says so.
bool judgeWave(const uint8_t* data, int64_t size, const JudgedWave& w, int64_t offset,
               const GiveUp* giveUp, FrameCounts& c) {
  const int64_t start = offset + w.base;
  const int64_t end = start + w.len;
  int64_t first = start < 0 ? ceilDiv(-start, kFrameBytes) : 0;
  int64_t last = start < size ? ceilDiv(size - start, kFrameBytes) : 0;
  first = std::min(first, w.frames);
  last = std::clamp(last, first, w.frames);
  c.frames += w.frames * w.count;
  // Frames outside the ROM are implausible.
  if (giveUp != nullptr && last - first < w.frames && giveUp->now(c)) return false;
  const uint8_t* ok = kPlausible.ok[static_cast<size_t>(w.predictors)].data();
  const int64_t pad = padFrame(w);
  // Frames still to be read count as plausible until they are, so that the
  // implausible count only grows. Counted in locals: `data` may alias `c`.
  const FrameCounts before = c;
  int64_t implausible = 0;
  int64_t blank = 0;
  bool stopped = false;
  int64_t low = first;
  int64_t high = last - 1;
  for (bool fromEnd = true; low <= high; fromEnd = !fromEnd) {
    const int64_t k = fromEnd ? high-- : low++;
    const int64_t at = start + k * kFrameBytes;
    const uint8_t header = data[at];
    if (ok[header] == 0 || (k == pad && header != 0)) {
      ++implausible;
    } else if (header == 0 && zeroBytes(data, size, at + 1, std::min(at + kFrameBytes, end))) {
      ++blank;
    } else {
      continue;
    }
    if (giveUp != nullptr) {
      FrameCounts now = before;
      now.plausible += (last - first - implausible) * w.count;
      now.blank += blank * w.count;
      if (giveUp->now(now)) {
        stopped = true;
        break;
      }
    }
  }
  c.plausible += (last - first - implausible) * w.count;
  c.blank += blank * w.count;
  return !stopped;
}

// Judges the waves in the given order; false as soon as `giveUp` (when
// given) says so.
bool judgeAll(const uint8_t* data, int64_t size, const std::vector<const JudgedWave*>& order,
              int64_t offset, const GiveUp* giveUp, FrameCounts& total) {
  for (const JudgedWave* w : order) {
    if (!judgeWave(data, size, *w, offset, giveUp, total)) return false;
  }
  return true;
}

// A wave's first and last header plausible (the pad frame 0x00).
bool quickWaveEnds(const uint8_t* data, int64_t offset, const JudgedWave& w) {
  const uint8_t* ok = kPlausible.ok[static_cast<size_t>(w.predictors)].data();
  const uint8_t* first = data + offset + w.base;
  const uint8_t lastHeader = first[(w.frames - 1) * kFrameBytes];
  if (ok[first[0]] == 0 || ok[lastHeader] == 0) return false;
  return padFrame(w) < 0 || lastHeader == 0;
}

// The quick test of a wave's last frames: plausible, the pad frame 0x00.
bool quickWaveEnd(const uint8_t* data, int64_t offset, const JudgedWave& w) {
  const uint8_t* ok = kPlausible.ok[static_cast<size_t>(w.predictors)].data();
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
  const uint8_t* ok = kPlausible.ok[static_cast<size_t>(w.predictors)].data();
  const uint8_t* first = data + offset + w.base;
  const int64_t n = std::min(w.frames, kQuickFrames);
  for (int64_t k = 0; k < n; ++k) {
    if (ok[first[k * kFrameBytes]] == 0) return false;
  }
  return quickWaveEnd(data, offset, w);
}

int64_t clampOffset(int64_t offset) { return std::clamp(offset, -kFarOffset, kFarOffset); }

// Eight bytes as a little-endian number: byte i in bits 8i to 8i + 7.
uint64_t loadLE64(const uint8_t* p) {
  return static_cast<uint64_t>(loadLE32(p)) | static_cast<uint64_t>(loadLE32(p + 4)) << 32;
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

bool onEightByteBoundary(int64_t offset) { return offset % 8 == 0; }

// Discards every console message; /dev/null, or a small memory stream where
// there is none.
class DiscardStream {
 public:
  DiscardStream() {
    file_ = std::fopen("/dev/null", "w");
    if (file_ == nullptr) file_ = fmemopen(buffer_, sizeof buffer_, "w");
  }
  ~DiscardStream() {
    if (file_ != nullptr) std::fclose(file_);
  }
  DiscardStream(const DiscardStream&) = delete;
  DiscardStream& operator=(const DiscardStream&) = delete;
  FILE* file() const { return file_; }

 private:
  char buffer_[256] = {};
  FILE* file_ = nullptr;
};

// Whether the walk got past the loop and the book of this wave table: a
// non-null pointer that was followed leaves a non-zero index behind.
bool waveTableComplete(const RomStream& rom, const StructEntry& entry) {
  const ALWaveTable* wave = entry.getIf<ALWaveTable>();
  if (wave == nullptr) return false;
  uint8_t pointers[8];
  rom.copyAt(static_cast<int64_t>(entry.fileOffset) + 12, pointers, sizeof pointers);
  const uint32_t loopPointer = loadBE32(pointers);
  const uint32_t bookPointer = loadBE32(pointers + 4);
  if (wave->type == kTypeAdpcm) {
    if (loopPointer != 0 && wave->waveInfo.adpcmWave.loop == 0) return false;
    if (bookPointer != 0 && wave->waveInfo.adpcmWave.book == 0) return false;
  } else if (loopPointer != 0 && wave->waveInfo.rawWave.loop == 0) {
    return false;
  }
  return true;
}

}  // namespace

std::vector<WaveProbe> collectWaves(const RunContext& walked) {
  std::vector<WaveProbe> waves;
  const StructTable& table = walked.table;
  for (int32_t i = 1; i < table.size(); ++i) {
    const StructEntry& entry = table[i];
    if (entry.kind != StructKind::WaveTable) continue;
    const ALWaveTable* wave = entry.getIf<ALWaveTable>();
    if (wave == nullptr) continue;
    WaveProbe probe;
    probe.base = wave->base;
    probe.len = wave->len;
    probe.type = wave->type;
    probe.entry = i;
    if (wave->type == kTypeAdpcm) {
      const int32_t book = wave->waveInfo.adpcmWave.book;
      if (book > 0 && book < table.size() && table[book].kind == StructKind::AdpcmBook) {
        if (const ALADPCMBook* b = table[book].getIf<ALADPCMBook>()) {
          probe.predictors = b->storedPredictors();
        }
      }
    }
    waves.push_back(probe);
  }
  return waves;
}

std::vector<WaveProbe> probeBankFile(RomStream& rom, const RunSettings& settings) {
  // No bank file starts before the ROM (the run refuses such a /c).
  if (settings.ctlOffset < 0) return {};
  DiscardStream discard;
  if (discard.file() == nullptr) return {};
  RunContext probe;
  probe.settings = settings;
  probe.settings.tblGiven = 0;  // no WAV file
  probe.settings.verbose = 0;
  probe.rom = &rom;
  probe.out = discard.file();
  probe.err = discard.file();

  const int64_t position = rom.position;
  bool stopped = false;
  try {
    enterNullStruct(probe);
    seekTo(rom, settings.ctlOffset);
    readBankFile(probe);
  } catch (const FatalError&) {
    stopped = true;
  }
  rom.position = position;

  std::vector<WaveProbe> waves = collectWaves(probe);
  // Only the wave table being read when the walk stopped can be unfinished.
  if (stopped && !waves.empty() && !waveTableComplete(rom, probe.table[waves.back().entry])) {
    waves.pop_back();
  }
  return waves;
}

double SampleBlockCheck::share() const {
  if (frames == 0) return 1.0;
  return static_cast<double>(plausibleFrames) / static_cast<double>(frames);
}

bool SampleBlockCheck::passes() const {
  if (!allInside) return false;
  if (frames == 0) return true;
  // share >= 0.99, in integers: 100 * plausible >= 99 * frames. Blank
  // frames prove nothing, and an offset whose waves land mostly on zeros
  // with a few frames on other data passes the share by chance: at least a
  // quarter of the frames must carry sound.
  return 100 * plausibleFrames >= 99 * frames && 4 * soundFrames() >= frames &&
         soundFrames() > 0;
}

SampleBlockCheck validateSampleBlock(const RomStream& rom, const std::vector<WaveProbe>& waves,
                                     int64_t tblOffset) {
  const Layout layout(waves);
  const int64_t offset = clampOffset(tblOffset);
  SampleBlockCheck check;
  check.offset = tblOffset;
  check.allInside = layout.insideAt(offset, rom.size());
  std::vector<const JudgedWave*> all;
  for (const JudgedWave& w : layout.judged) all.push_back(&w);
  FrameCounts total;
  judgeAll(rom.data(), rom.size(), all, offset, nullptr, total);
  check.frames = total.frames;
  check.plausibleFrames = total.plausible;
  check.blankFrames = total.blank;
  return check;
}

bool betterSampleBlock(const SampleBlockCheck& a, const SampleBlockCheck& b) {
  // Shares compared exactly, as plausible * other frames; no frames is a share of 1.
  const int64_t plausibleA = a.frames == 0 ? 1 : a.plausibleFrames;
  const int64_t framesA = a.frames == 0 ? 1 : a.frames;
  const int64_t plausibleB = b.frames == 0 ? 1 : b.plausibleFrames;
  const int64_t framesB = b.frames == 0 ? 1 : b.frames;
  const __int128 left = static_cast<__int128>(plausibleA) * framesB;
  const __int128 right = static_cast<__int128>(plausibleB) * framesA;
  if (left != right) return left > right;
  if (a.soundFrames() != b.soundFrames()) return a.soundFrames() > b.soundFrames();
  const bool alignedA = onEightByteBoundary(a.offset);
  if (alignedA != onEightByteBoundary(b.offset)) return alignedA;
  return a.offset < b.offset;
}

namespace {

// An offset that passed the quick test, with the non-zero headers it met
// there: the more, the likelier it carries sound.
struct QuickPass {
  int64_t offset = 0;
  int64_t soundHeaders = 0;
};

// Validates quick-test survivors in full and keeps the best passing one.
class Verifier {
 public:
  Verifier(const uint8_t* data, int64_t size, const std::vector<const JudgedWave*>& order,
           int64_t frames)
      : data_(data), size_(size), order_(order) {
    giveUp_.totalFrames = frames;
    giveUp_.maxImplausible = frames / 100;        // 100 * plausible >= 99 * frames
    giveUp_.maxLost = frames - (frames + 3) / 4;  // a quarter of the frames carry sound
  }

  void add(const QuickPass& candidate) {
    batch_.push_back(candidate);
    if (batch_.size() >= batchLimit_) {
      flush();
      batchLimit_ = std::min(batchLimit_ * 4, kMaxBatch);
    }
  }

  // Verifies the batch, likeliest first, so that the best offset is met early
  // and the others give up after a few frames.
  void flush() {
    std::sort(batch_.begin(), batch_.end(), [](const QuickPass& a, const QuickPass& b) {
      if (a.soundHeaders != b.soundHeaders) return a.soundHeaders > b.soundHeaders;
      const bool alignedA = onEightByteBoundary(a.offset);
      if (alignedA != onEightByteBoundary(b.offset)) return alignedA;
      return a.offset < b.offset;
    });
    for (const QuickPass& candidate : batch_) verify(candidate.offset);
    batch_.clear();
  }

  // Whether no offset above `offset` can beat the best: every frame of the
  // best carries sound and it lies on an 8-byte boundary.
  bool settledBelow(int64_t offset) const {
    return best_ && best_->soundFrames() == giveUp_.totalFrames &&
           onEightByteBoundary(best_->offset) && best_->offset < offset;
  }

  const std::optional<SampleBlockCheck>& best() const { return best_; }

 private:
  // The first batch is small, so that a bank that fits almost anywhere is
  // settled early; later ones grow to 16 MiB of survivors.
  static constexpr size_t kMaxBatch = size_t{1} << 20;
  size_t batchLimit_ = size_t{1} << 16;

  void verify(int64_t offset) {
    if (settledBelow(offset)) return;
    FrameCounts total;
    if (!judgeAll(data_, size_, order_, offset, &giveUp_, total)) return;
    SampleBlockCheck check;
    check.offset = offset;
    check.frames = total.frames;
    check.plausibleFrames = total.plausible;
    check.blankFrames = total.blank;
    if (!check.passes() || (best_ && !betterSampleBlock(check, *best_))) return;
    best_ = check;
    giveUp_.haveBest = true;
    giveUp_.bestImplausible = check.frames - check.plausibleFrames;
    giveUp_.bestSound = check.soundFrames();
  }

  const uint8_t* data_;
  int64_t size_;
  const std::vector<const JudgedWave*>& order_;
  GiveUp giveUp_;
  std::vector<QuickPass> batch_;
  std::optional<SampleBlockCheck> best_;
};

// Non-zero headers among the frames the quick test read.
int64_t soundHeaders(const uint8_t* data, int64_t offset,
                     const std::vector<const JudgedWave*>& order, int64_t driverFrames) {
  int64_t n = 0;
  for (size_t i = 0; i < order.size(); ++i) {
    const JudgedWave& w = *order[i];
    const uint8_t* first = data + offset + w.base;
    const int64_t head = i == 0 ? driverFrames : std::min(w.frames, kQuickFrames);
    for (int64_t k = 0; k < head; ++k) n += first[k * kFrameBytes] != 0;
    for (int64_t k = std::max(head, w.frames - kQuickFrames); k < w.frames; ++k) {
      n += first[k * kFrameBytes] != 0;
    }
  }
  return n;
}

}  // namespace

std::optional<SampleBlockCheck> searchSampleBlock(const RomStream& rom,
                                                  const std::vector<WaveProbe>& waves) {
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
  Verifier verifier(data, size, order, frames);

  // 64 offsets at a time: bit j stands for block + j; odd ones are dropped.
  constexpr uint64_t kEvenOffsets = 0x5555555555555555;
  int64_t block = lo;
  while (block <= hi && !verifier.settledBelow(block)) {
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
      if (pass) verifier.add({offset, soundHeaders(data, offset, order, driverFrames)});
    }
    block = nextBlock;
  }
  verifier.flush();
  return verifier.best();
}

}  // namespace zaft
