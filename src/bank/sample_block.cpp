#include "bank/sample_block.h"

#include <algorithm>
#include <limits>
#include <tuple>

namespace zaft {

namespace judge {


namespace {

// Whether the bytes [from, to) of the ROM are all 0; bytes outside it count as 0.
bool zeroBytes(const uint8_t* data, int64_t size, int64_t from, int64_t to) {
  from = std::max<int64_t>(from, 0);
  to = std::min(to, size);
  for (int64_t i = from; i < to; ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}


}  // namespace

Layout::Layout(const std::vector<WaveProbe>& waves) {
  for (const WaveProbe& w : waves) {
    if ((w.type != kWaveTypeAdpcm && w.type != kWaveTypeRaw) || w.len <= 0) continue;
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
    if (w.type != kWaveTypeAdpcm || w.predictors <= 0) continue;
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


JudgeEnd judgeWave(const uint8_t* data, int64_t size, const JudgedWave& w, int64_t offset,
                   const GiveUp* giveUp, int64_t& framesLeft, FrameTally& c) {
  const int64_t start = offset + w.base;
  const int64_t end = start + w.len;
  int64_t first = start < 0 ? ceilDiv(-start, kFrameBytes) : 0;
  int64_t last = start < size ? ceilDiv(size - start, kFrameBytes) : 0;
  first = std::min(first, w.frames);
  last = std::clamp(last, first, w.frames);
  c.frames += w.frames * w.count;
  // Frames outside the ROM are implausible.
  if (giveUp != nullptr && last - first < w.frames && giveUp->now(c)) return JudgeEnd::GaveUp;
  const uint8_t* ok = kPlausibleHeaders.ok[static_cast<size_t>(w.predictors)].data();
  const int64_t pad = padFrame(w);
  // Frames still to be read count as plausible until they are, so that the
  // implausible count only grows. Counted in locals: `data` may alias `c`.
  const FrameTally before = c;
  int64_t implausible = 0;
  int64_t blank = 0;
  JudgeEnd result = JudgeEnd::Complete;
  int64_t low = first;
  int64_t high = last - 1;
  for (bool fromEnd = true; low <= high; fromEnd = !fromEnd) {
    if (framesLeft == 0) {
      result = JudgeEnd::OutOfFrames;
      break;
    }
    --framesLeft;
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
      FrameTally now = before;
      now.plausible += (last - first - implausible) * w.count;
      now.blank += blank * w.count;
      if (giveUp->now(now)) {
        result = JudgeEnd::GaveUp;
        break;
      }
    }
  }
  c.plausible += (last - first - implausible) * w.count;
  c.blank += blank * w.count;
  return result;
}

bool judgeWave(const uint8_t* data, int64_t size, const JudgedWave& w, int64_t offset,
               const GiveUp* giveUp, FrameTally& c) {
  int64_t unlimited = std::numeric_limits<int64_t>::max();
  return judgeWave(data, size, w, offset, giveUp, unlimited, c) != JudgeEnd::GaveUp;
}

JudgeEnd judgeAll(const uint8_t* data, int64_t size, const std::vector<const JudgedWave*>& order,
                  int64_t offset, const GiveUp* giveUp, int64_t& framesLeft, FrameTally& total) {
  for (const JudgedWave* w : order) {
    const JudgeEnd end = judgeWave(data, size, *w, offset, giveUp, framesLeft, total);
    if (end != JudgeEnd::Complete) return end;
  }
  return JudgeEnd::Complete;
}

bool judgeAll(const uint8_t* data, int64_t size, const std::vector<const JudgedWave*>& order,
              int64_t offset, const GiveUp* giveUp, FrameTally& total) {
  int64_t unlimited = std::numeric_limits<int64_t>::max();
  return judgeAll(data, size, order, offset, giveUp, unlimited, total) != JudgeEnd::GaveUp;
}
int64_t clampOffset(int64_t offset) {
  constexpr int64_t kFarOffset = int64_t{1} << 62;
  return std::clamp(offset, -kFarOffset, kFarOffset);
}

}  // namespace judge

using namespace judge;

std::vector<WaveProbe> probesOf(const BankFile& bank) {
  std::vector<WaveProbe> waves;
  for (const WaveRef& ref : bank.waves) {
    const ALWaveTable& wave = bank.wave(ref);
    WaveProbe probe;
    probe.base = wave.base;
    probe.len = wave.len;
    probe.type = wave.type;
    probe.entry = ref.entry;
    if (wave.type == kWaveTypeAdpcm) {
      if (const ALADPCMBook* book = bank.table.recordAt<ALADPCMBook>(wave.waveInfo.adpcmWave.book)) {
        probe.predictors = book->storedPredictors();
      }
    }
    waves.push_back(probe);
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

SampleBlockCheck validateSampleBlock(const RomImage& rom, const std::vector<WaveProbe>& waves,
                                     int64_t tblOffset) {
  return validateSampleBlock(rom, waves, tblOffset, {});
}

SampleBlockCheck validateSampleBlock(const RomImage& rom, const std::vector<WaveProbe>& waves,
                                     int64_t tblOffset,
                                     const std::vector<std::optional<FrameTally>>& known) {
  const int64_t offset = clampOffset(tblOffset);
  SampleBlockCheck check;
  check.offset = tblOffset;
  check.allInside = Layout(waves).insideAt(offset, rom.size());
  // The known waves' frames are counted here (those outside the ROM as
  // implausible), the others read.
  FrameTally total;
  std::vector<WaveProbe> unknown;
  for (size_t k = 0; k < waves.size(); ++k) {
    if (k >= known.size() || !known[k]) {
      unknown.push_back(waves[k]);
      continue;
    }
    const Layout one({waves[k]});
    if (one.judged.empty()) continue;
    total.frames += one.judgedFrames;
    total.plausible += known[k]->plausible;
    total.blank += known[k]->blank;
  }
  const Layout layout(unknown);
  std::vector<const JudgedWave*> all;
  for (const JudgedWave& w : layout.judged) all.push_back(&w);
  judgeAll(rom.data(), rom.size(), all, offset, nullptr, total);
  check.frames = total.frames;
  check.plausibleFrames = total.plausible;
  check.blankFrames = total.blank;
  return check;
}

namespace {

// Compares what the frames say of two passing offsets (1 to 3 of
// betterSampleBlock): above 0 when `a` is better, 0 when they are alike.
int compareEvidence(const SampleBlockCheck& a, const SampleBlockCheck& b) {
  // Shares compared exactly, as plausible * other frames; no frames is a share of 1.
  const int64_t plausibleA = a.frames == 0 ? 1 : a.plausibleFrames;
  const int64_t framesA = a.frames == 0 ? 1 : a.frames;
  const int64_t plausibleB = b.frames == 0 ? 1 : b.plausibleFrames;
  const int64_t framesB = b.frames == 0 ? 1 : b.frames;
  const __int128 left = static_cast<__int128>(plausibleA) * framesB;
  const __int128 right = static_cast<__int128>(plausibleB) * framesA;
  if (left != right) return left > right ? 1 : -1;
  if (a.soundFrames() != b.soundFrames()) return a.soundFrames() > b.soundFrames() ? 1 : -1;
  const bool alignedA = onEightByteBoundary(a.offset);
  if (alignedA != onEightByteBoundary(b.offset)) return alignedA ? 1 : -1;
  return 0;
}

}  // namespace

bool betterSampleBlock(const SampleBlockCheck& a, const SampleBlockCheck& b) {
  if (const int evidence = compareEvidence(a, b); evidence != 0) return evidence > 0;
  if (a.distance != b.distance) return a.distance < b.distance;
  return a.offset < b.offset;
}

bool equallyGoodSampleBlocks(const SampleBlockCheck& a, const SampleBlockCheck& b) {
  return compareEvidence(a, b) == 0;
}

}  // namespace zaft
