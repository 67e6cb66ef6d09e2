#include "bank/sequence_bank.h"

#include <algorithm>
#include <cstring>

#include "bank/compact_sequence.h"
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
  // Nearly every byte fails the first test: memchr finds the candidates.
  for (int64_t at = 0; at + 1 < size;) {
    const void* s = std::memchr(data + at, 'S', static_cast<size_t>(size - 1 - at));
    if (s == nullptr) break;
    const int64_t pos = static_cast<const uint8_t*>(s) - data;
    at = pos + 1;
    if (pos % 2 != 0 || data[pos + 1] != '1') continue;
    if (std::optional<SequenceBank> bank = readSequenceBank(rom, pos)) found.push_back(*bank);
  }
  // Of overlapping look-alikes, the most sequences win, then the lower offset.
  std::vector<size_t> order(found.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return found[a].sequences.size() > found[b].sequences.size();
  });
  std::vector<SequenceBank> kept;
  for (size_t i : order) {
    const SequenceBank& b = found[i];
    const bool overlaps = std::any_of(kept.begin(), kept.end(), [&](const SequenceBank& k) {
      return b.offset < k.end && k.offset < b.end;
    });
    if (!overlaps) kept.push_back(b);
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
