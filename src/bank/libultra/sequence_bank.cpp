#include "bank/libultra/sequence_bank.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bank/libultra/compact_sequence.h"
#include "util/endian.h"

namespace zaft {

namespace {

constexpr int64_t kEntryBytes = 8;
constexpr uint32_t kMaxDivision = 0x7FFF;
// Events of the first track read to judge a compact sequence.
constexpr size_t kProbeEvents = 8;
constexpr int64_t kMidiHeaderBytes = 14;  // "MThd", 6, format, tracks, division

bool plausibleCompact(const uint8_t* seq, int64_t len) {
  if (len < kCompactHeaderBytes) return false;
  const CompactHeader h = readCompactHeader(seq);
  if (h.division < 1 || h.division > kMaxDivision) return false;
  int first = -1;
  for (int t = 0; t < kCompactTracks; ++t) {
    if (h.tracks[t] == 0) continue;
    if (h.tracks[t] < kCompactHeaderBytes || h.tracks[t] >= static_cast<uint64_t>(len)) return false;
    if (first < 0) first = t;
  }
  if (first < 0) return false;
  // Its first event reads (a damaged sequence still counts: what reads of
  // it is written, with a warning).
  const CompactTrack track = readCompactTrack(seq, len, h.tracks[first], kProbeEvents);
  return !track.events.empty();
}

}  // namespace

std::optional<SequenceBank> readSequenceBank(const RomImage& rom, int64_t at) {
  const uint8_t* data = rom.data();
  const int64_t size = rom.size();
  if (at < 0 || at + 4 > size || loadBE16(data + at) != kSequenceBankRevision) return std::nullopt;
  const int count = static_cast<int16_t>(loadBE16(data + at + 2));
  if (count < 1 || count > kMaxSequences || at + 4 + kEntryBytes * count > size) return std::nullopt;
  SequenceBank bank;
  bank.offset = at;
  bank.end = at + 4 + kEntryBytes * count;
  for (int k = 0; k < count; ++k) {
    const uint8_t* entry = data + at + 4 + kEntryBytes * k;
    SequenceEntry e;
    e.offset = loadBE32(entry);
    e.len = static_cast<int32_t>(loadBE32(entry + 4));
    const int64_t start = at + e.offset;
    if (e.len <= 0 || start + e.len > size) return std::nullopt;
    const uint8_t* seq = data + start;
    e.standard = e.len >= kMidiHeaderBytes && std::memcmp(seq, "MThd", 4) == 0;
    if (!e.standard && !plausibleCompact(seq, e.len)) return std::nullopt;
    bank.end = std::max(bank.end, start + e.len);
    bank.sequences.push_back(e);
  }
  return bank;
}

std::vector<SequenceBank> scanForSequenceBanks(const RomImage& rom, Reporter& report) {
  const uint8_t* data = rom.data();
  const int64_t size = rom.size();
  std::vector<SequenceBank> found;
  // Nearly every position fails the first test: "S1" is looked for four
  // even positions at a time, each 16-bit unit of a little-endian word
  // compared at once.
  constexpr uint64_t kUnits = 0x0001000100010001;
  constexpr uint64_t kHigh = 0x8000800080008000;
  constexpr uint64_t kS1 = 0x3153 * kUnits;  // 'S' then '1', little-endian
  const auto check = [&](int64_t pos) {
    if (data[pos] == 'S' && data[pos + 1] == '1') {
      if (std::optional<SequenceBank> bank = readSequenceBank(rom, pos)) found.push_back(*bank);
    }
  };
  int64_t pos = 0;
#if defined(__SSE2__)
  // 32 bytes, 16 even positions, a compare of 16-bit units at a time.
  const __m128i s1 = _mm_set1_epi16(0x3153);
  for (; pos + 32 <= size; pos += 32) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos + 16));
    const __m128i hit = _mm_or_si128(_mm_cmpeq_epi16(a, s1), _mm_cmpeq_epi16(b, s1));
    if (_mm_movemask_epi8(hit) == 0) continue;
    for (int64_t k = 0; k < 32; k += 2) check(pos + k);
  }
#endif
  for (; pos + 8 <= size; pos += 8) {
    const uint64_t x = loadLE64(data + pos) ^ kS1;
    if (((x - kUnits) & ~x & kHigh) == 0) continue;  // no unit is "S1"
    for (int64_t k = 0; k < 8; k += 2) check(pos + k);
  }
  for (; pos + 2 <= size; pos += 2) check(pos);
  // Of overlapping look-alikes, the most sequences win, then the lower offset.
  std::vector<size_t> order(found.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return found[a].sequences.size() > found[b].sequences.size();
  });
  // The kept banks do not overlap: by offset, their ends rise too, so only
  // the last one starting before a bank's end can overlap it.
  std::map<int64_t, int64_t> keptSpans;  // offset -> end
  std::vector<SequenceBank> kept;
  for (size_t i : order) {
    const SequenceBank& b = found[i];
    auto after = keptSpans.lower_bound(b.end);
    if (after != keptSpans.begin() && std::prev(after)->second > b.offset) continue;
    keptSpans.emplace(b.offset, b.end);
    kept.push_back(std::move(found[i]));
  }
  std::sort(kept.begin(), kept.end(),
            [](const SequenceBank& a, const SequenceBank& b) { return a.offset < b.offset; });
  for (const SequenceBank& b : kept) {
    report.errf("Found sequence bank at 0x%06X with %zu sequences\n", static_cast<unsigned>(b.offset),
                b.sequences.size());
  }
  return kept;
}

}  // namespace zaft
