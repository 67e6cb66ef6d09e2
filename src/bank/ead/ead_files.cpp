#include "bank/ead/ead_files.h"

#include <algorithm>

#include "util/endian.h"

namespace zaft {

namespace {

constexpr int64_t kTableStep = 16;
// The most entries a file of the driver holds: its counts are u16, real
// files a few dozen to a few hundred.
constexpr int kMaxEntries = 1024;
// How far past a sequence file its bank-sets table may start.
constexpr int64_t kBankSetsWindow = 4096;

int64_t dataStartOf(size_t entries) { return (4 + 8 * static_cast<int64_t>(entries) + 15) & ~15; }

// The header's entries as the tools write them: each one that holds data
// 16-aligned, in order, the first right after the table.
bool laidOutInOrder(const EadFileTable& table) {
  int64_t last = -1;
  for (const EadFileEntry& e : table.entries) {
    if (e.length == 0) continue;
    if (e.offset % 16 != 0 || e.offset < last) return false;
    if (last < 0 && e.offset != dataStartOf(table.entries.size())) return false;
    last = e.offset;
  }
  return last >= 0;
}

std::optional<EadFileTable> tableAt(const uint8_t* data, int64_t size, int64_t at, int type) {
  std::optional<EadFileTable> table = readEadFileTable(data, size, at, type);
  if (!table || table->entries.size() > kMaxEntries || !laidOutInOrder(*table)) return std::nullopt;
  return table;
}

// Reading banks costs time in their size: a hostile image could repeat a
// header claiming the same huge banks at every boundary.
class WorkBudget {
 public:
  explicit WorkBudget(int64_t size) : left_(16 * size + (int64_t{1} << 20)) {}
  bool spend(int64_t bytes) {
    if (bytes > left_) {
      spent_ = true;
      return false;
    }
    left_ -= bytes;
    return true;
  }
  bool spent() const { return spent_; }

 private:
  int64_t left_;
  bool spent_ = false;
};

int64_t tableBytes(const EadFileTable& table) {
  int64_t bytes = 0;
  for (const EadFileEntry& e : table.entries) bytes += e.length;
  return bytes;
}

bool banksRead(const uint8_t* data, int64_t size, const EadFileTable& soundData,
               const EadFileTable* samples) {
  for (size_t b = 0; b < soundData.entries.size(); ++b) {
    const EadFileEntry& e = soundData.entries[b];
    const int64_t sampleBank = samples != nullptr ? samples->entries[b].length : -1;
    if (!plausibleEadBank(data, size, soundData.at + e.offset, e.length, sampleBank)) return false;
  }
  return true;
}

// The nearest table after `from` (else before it) that `fits`.
template <class Fits>
std::optional<int64_t> nearest(const std::vector<EadFileTable>& tables, int64_t from, Fits fits) {
  std::optional<int64_t> before;
  for (const EadFileTable& t : tables) {
    if (!fits(t)) continue;
    if (t.at > from) return t.at;
    before = t.at;
  }
  return before;
}

}  // namespace

EadFinds findEadFiles(const uint8_t* data, int64_t size) {
  EadFinds finds;
  std::vector<EadFileTable> tables[4];  // by type
  for (int64_t at = 0; at + 12 <= size; at += kTableStep) {
    // Nearly every boundary fails here: a type of 1 to 3 and a count of 1
    // or more.
    if (data[at] != 0 || data[at + 1] == 0 || data[at + 1] > 3) continue;
    if (loadBE16(data + at + 2) == 0) continue;
    const int type = data[at + 1];
    if (std::optional<EadFileTable> t = tableAt(data, size, at, type)) {
      tables[type].push_back(std::move(*t));
    }
  }
  WorkBudget budget(size);
  for (const EadFileTable& soundData : tables[kEadSoundDataType]) {
    if (!budget.spend(tableBytes(soundData)) || !banksRead(data, size, soundData, nullptr)) continue;
    EadSetFind& set = finds.sets.emplace_back();
    set.soundDataAt = soundData.at;
    set.banks = static_cast<int>(soundData.entries.size());
    set.sampleTableAt = nearest(tables[kEadSampleTableType], soundData.at, [&](const EadFileTable& t) {
      return t.entries.size() == soundData.entries.size() && budget.spend(tableBytes(soundData)) &&
             banksRead(data, size, soundData, &t);
    });
  }
  int64_t covered = 0;  // the end of the last sequence file taken
  for (const EadFileTable& sequences : tables[kEadSequenceType]) {
    // A header inside a sequence file taken is one of its sequences' bytes.
    if (sequences.at < covered) continue;
    EadSequenceFileFind& file = finds.sequenceFiles.emplace_back();
    file.table = sequences;
    const int count = static_cast<int>(sequences.entries.size());
    int64_t end = sequences.at + dataStartOf(sequences.entries.size());
    for (const EadFileEntry& e : sequences.entries) {
      end = std::max<int64_t>(end, sequences.at + e.offset + e.length);
    }
    covered = end;
    // The bank-sets table follows the sequence file, after its padding at
    // the most; its first offset is right after its offsets.
    const int64_t from = (end + 1) & ~int64_t{1};
    const int64_t last = std::min(size - 2 * count, from + kBankSetsWindow);
    if (!budget.spend(kBankSetsWindow)) continue;
    for (int64_t at = from; at <= last && !file.bankSetsAt; at += 2) {
      if (loadBE16(data + at) != 2 * count) continue;
      std::optional<std::vector<std::vector<uint8_t>>> sets = readEadBankSets(data, size, at, count);
      if (!sets) continue;
      for (const EadSetFind& set : finds.sets) {
        const bool named = std::all_of(sets->begin(), sets->end(), [&](const std::vector<uint8_t>& s) {
          return std::all_of(s.begin(), s.end(), [&](uint8_t b) { return b < set.banks; });
        });
        if (!named) continue;
        file.bankSetsAt = at;
        file.bankSets = std::move(*sets);
        file.soundDataAt = set.soundDataAt;
        break;
      }
    }
  }
  finds.budgetSpent = budget.spent();
  return finds;
}

}  // namespace zaft
