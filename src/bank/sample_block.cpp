#include "bank/sample_block.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <queue>
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
// Offsets validated in full are kept within the signed 32-bit range of
// tblOffset; offsets handed to validateSampleBlock are clamped to this, far
// beyond any ROM, so that no sum with a base or a len can overflow.
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

struct FrameCounts {
  int64_t frames = 0;
  int64_t plausible = 0;
  int64_t blank = 0;
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

// Judges one wave's frames with the sample block at `offset`. Frames whose
// header lies outside the ROM are implausible and not read.
FrameCounts judgeWave(const uint8_t* data, int64_t size, const JudgedWave& w, int64_t offset) {
  FrameCounts c;
  const int64_t start = offset + w.base;
  const int64_t end = start + w.len;
  int64_t first = start < 0 ? ceilDiv(-start, kFrameBytes) : 0;
  int64_t last = start < size ? ceilDiv(size - start, kFrameBytes) : 0;
  first = std::min(first, w.frames);
  last = std::clamp(last, first, w.frames);
  const uint8_t* ok = kPlausible.ok[static_cast<size_t>(w.predictors)].data();
  for (int64_t k = first; k < last; ++k) {
    const int64_t at = start + k * kFrameBytes;
    const uint8_t header = data[at];
    if (ok[header] == 0) continue;
    c.plausible++;
    if (header == 0 && zeroBytes(data, size, at + 1, std::min(at + kFrameBytes, end))) c.blank++;
  }
  c.frames = w.frames * w.count;
  c.plausible *= w.count;
  c.blank *= w.count;
  return c;
}

// Judges every wave; gives up (false) as soon as more than `maxImplausible`
// frames are implausible.
bool judgeAll(const uint8_t* data, int64_t size, const Layout& layout, int64_t offset,
              int64_t maxImplausible, FrameCounts& total) {
  int64_t implausible = 0;
  for (const JudgedWave& w : layout.judged) {
    const FrameCounts c = judgeWave(data, size, w, offset);
    total.frames += c.frames;
    total.plausible += c.plausible;
    total.blank += c.blank;
    implausible += c.frames - c.plausible;
    if (implausible > maxImplausible) return false;
  }
  return true;
}

int64_t clampOffset(int64_t offset) { return std::clamp(offset, -kFarOffset, kFarOffset); }

// Which bytes of the ROM are not 0: one bit per byte, with a running count
// per 64-bit word, so that "any non-zero byte in [a, b)" costs O(1).
class NonZeroIndex {
 public:
  NonZeroIndex(const uint8_t* data, int64_t size) {
    const size_t words = static_cast<size_t>(size / 64) + 1;
    bits_.assign(words, 0);
    before_.assign(words, 0);
    for (int64_t w = 0; w * 64 < size; ++w) {
      const int64_t n = std::min<int64_t>(64, size - w * 64);
      const uint8_t* p = data + w * 64;
      uint64_t mask = 0;
      for (int64_t i = 0; i < n; ++i) mask |= static_cast<uint64_t>(p[i] != 0) << i;
      bits_[static_cast<size_t>(w)] = mask;
    }
    uint32_t running = 0;
    for (size_t w = 0; w < words; ++w) {
      before_[w] = running;
      running += static_cast<uint32_t>(std::popcount(bits_[w]));
    }
  }

  // Non-zero bytes in [0, x), for 0 <= x <= size.
  uint32_t countBefore(int64_t x) const {
    const size_t w = static_cast<size_t>(x >> 6);
    const uint64_t below = (uint64_t{1} << (x & 63)) - 1;
    return before_[w] + static_cast<uint32_t>(std::popcount(bits_[w] & below));
  }
  bool anyIn(int64_t from, int64_t to) const { return countBefore(to) != countBefore(from); }

 private:
  std::vector<uint64_t> bits_;
  std::vector<uint32_t> before_;
};

// Chance that a random header passes `quick` frames of a wave, as a logarithm.
double quickPassLog(const JudgedWave& w) {
  const double p = 13.0 / 16.0 * w.predictors / 16.0;
  return static_cast<double>(std::min(w.frames, kQuickFrames)) * std::log(p);
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
    if (quickPassLog(judged[i]) < quickPassLog(judged[driver])) driver = i;
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

// An offset that passed the quick test, with the non-zero headers it met.
struct QuickPass {
  int64_t offset = 0;
  int64_t soundHeaders = 0;
};

// The better one comes first: more non-zero headers, then on an 8-byte
// boundary, then the lower offset.
bool quickBetter(const QuickPass& a, const QuickPass& b) {
  if (a.soundHeaders != b.soundHeaders) return a.soundHeaders > b.soundHeaders;
  const bool alignedA = onEightByteBoundary(a.offset);
  if (alignedA != onEightByteBoundary(b.offset)) return alignedA;
  return a.offset < b.offset;
}

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
  FrameCounts total;
  judgeAll(rom.data(), rom.size(), layout, offset, std::numeric_limits<int64_t>::max(), total);
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

std::optional<SampleBlockCheck> searchSampleBlock(const RomStream& rom,
                                                  const std::vector<WaveProbe>& waves) {
  const Layout layout(waves);
  if (layout.judged.empty() || layout.judgedFrames == 0) return std::nullopt;
  const uint8_t* data = rom.data();
  const int64_t size = rom.size();

  // Every even offset at which every wave lies inside the ROM.
  int64_t lo = std::max<int64_t>(0, -layout.minBase);
  const int64_t hi = std::min<int64_t>(size - layout.maxEnd, std::numeric_limits<int32_t>::max());
  lo += lo % 2;
  if (lo > hi) return std::nullopt;

  // The bytes between the first and the last judged frame must hold
  // something other than zeros, or no frame there carries sound.
  int64_t spanFrom = layout.judged.front().base;
  int64_t spanTo = spanFrom;
  for (const JudgedWave& w : layout.judged) {
    spanFrom = std::min(spanFrom, w.base);
    spanTo = std::max(spanTo, w.base + w.len);
  }
  const NonZeroIndex nonZero(data, size);

  const std::vector<const JudgedWave*> order = quickOrder(layout);
  const JudgedWave& driver = *order.front();
  const uint8_t* driverOk = kPlausible.ok[static_cast<size_t>(driver.predictors)].data();
  const int64_t driverFrames = std::min(driver.frames, kQuickFrames);

  // The worst kept offset on top, so that a better one can replace it.
  auto worseOnTop = [](const QuickPass& a, const QuickPass& b) { return quickBetter(a, b); };
  std::priority_queue<QuickPass, std::vector<QuickPass>, decltype(worseOnTop)> kept(worseOnTop);

  for (int64_t offset = lo; offset <= hi; offset += 2) {
    // The driver's first frame rejects most offsets; it is the hot loop.
    const uint8_t* frame = data + offset + driver.base;
    if (driverOk[frame[0]] == 0) continue;
    int64_t soundHeaders = frame[0] != 0 ? 1 : 0;
    bool pass = true;
    for (int64_t k = 1; k < driverFrames; ++k) {
      const uint8_t header = frame[k * kFrameBytes];
      if (driverOk[header] == 0) {
        pass = false;
        break;
      }
      soundHeaders += header != 0 ? 1 : 0;
    }
    if (!pass || !nonZero.anyIn(offset + spanFrom, offset + spanTo)) continue;
    for (size_t i = 1; i < order.size() && pass; ++i) {
      const JudgedWave& w = *order[i];
      const uint8_t* ok = kPlausible.ok[static_cast<size_t>(w.predictors)].data();
      const uint8_t* first = data + offset + w.base;
      const int64_t n = std::min(w.frames, kQuickFrames);
      for (int64_t k = 0; k < n; ++k) {
        const uint8_t header = first[k * kFrameBytes];
        if (ok[header] == 0) {
          pass = false;
          break;
        }
        soundHeaders += header != 0 ? 1 : 0;
      }
    }
    if (!pass) continue;
    const QuickPass candidate{offset, soundHeaders};
    if (static_cast<int64_t>(kept.size()) < kMaxVerifiedOffsets) {
      kept.push(candidate);
    } else if (quickBetter(candidate, kept.top())) {
      kept.pop();
      kept.push(candidate);
    }
  }

  std::vector<QuickPass> candidates;
  while (!kept.empty()) {
    candidates.push_back(kept.top());
    kept.pop();
  }
  std::reverse(candidates.begin(), candidates.end());  // the most promising first

  std::optional<SampleBlockCheck> best;
  const int64_t maxImplausible = layout.judgedFrames / 100;
  for (const QuickPass& candidate : candidates) {
    // An offset with more implausible frames than the best so far cannot win.
    int64_t limit = maxImplausible;
    if (best) limit = std::min(limit, best->frames - best->plausibleFrames);
    FrameCounts total;
    if (!judgeAll(data, size, layout, candidate.offset, limit, total)) continue;
    SampleBlockCheck check;
    check.offset = candidate.offset;
    check.frames = total.frames;
    check.plausibleFrames = total.plausible;
    check.blankFrames = total.blank;
    check.allInside = true;
    if (!check.passes()) continue;
    if (!best || betterSampleBlock(check, *best)) best = check;
  }
  return best;
}

}  // namespace zaft
