#include "bank/ead/ead_bank.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <map>
#include <unordered_map>
#include <utility>

#include "util/endian.h"
#include "util/fatal.h"

namespace zaft {

namespace {

constexpr int64_t kFileHeaderBytes = 4;
constexpr int64_t kFileEntryBytes = 8;
constexpr int64_t kEnvelopePointBytes = 4;
constexpr int kMaxBookPredictors = 16;
constexpr int kBookOrder = 2;
constexpr uint32_t kRecordAlignment = 4;

int64_t align16(int64_t v) { return (v + 15) & ~int64_t{15}; }

bool validTuning(float t) { return std::isfinite(t) && t >= kEadMinTuning && t <= kEadMaxTuning; }

void addProblem(EadSoundData& out, int64_t offset, std::string what) {
  if (out.problems.size() < static_cast<size_t>(kEadMaxProblems)) {
    out.problems.push_back({offset, std::move(what)});
  } else {
    ++out.problemsLeftOut;
  }
}

// Record lookups shared by every bank of one read: a record reached twice,
// from one bank or two, is read once. `words` is what is left of the read's
// budget of pointer-table entries and envelope points: real banks hold each
// in bytes of their own, so a quarter of the image (and some room) is more
// than they need, while file-table entries that name the same bytes again
// and again, or envelopes that overlap, cannot make the work or the memory
// grow past it.
struct Seen {
  explicit Seen(int64_t imageSize) : words(imageSize / 4 + 4096) {}
  std::unordered_map<int64_t, int32_t> instruments, drums, records, books, loops, envelopes;
  std::map<std::pair<int32_t, uint32_t>, int32_t> samples;  // (sample bank, offset)
  int64_t words;
  bool spent = false;  // the budget ran out (said once)
};

// Reads one bank's header and body into `out`.
class BankReader {
 public:
  BankReader(const uint8_t* data, EadSoundData& out, Seen& seen, int32_t bank,
             int32_t sampleBank, int64_t sampleBankLength)
      : data_(data), out_(out), seen_(seen), bank_(bank), sampleBank_(sampleBank),
        sampleBankLength_(sampleBankLength) {}

  // `at` and `length` must lie inside the image.
  void read(EadBank& b, int64_t at, int64_t length) {
    if (length < kEadBankHeaderBytes) {
      problem(at, formatText("bank %d: %lld bytes cannot hold its 16-byte header", bank_,
                             static_cast<long long>(length)));
      return;
    }
    const uint8_t* h = data_ + at;
    b.instrumentCount = loadBE32(h);
    b.drumCount = loadBE32(h + 4);
    b.shared = loadBE32(h + 8);
    b.date = loadBE32(h + 12);
    if (b.instrumentCount > kEadMaxInstruments) {
      problem(at, formatText("bank %d: %u instruments, more than %u", bank_, b.instrumentCount,
                             kEadMaxInstruments));
    }
    if (b.drumCount > kEadMaxDrums) {
      problem(at + 4, formatText("bank %d: %u drums, more than %u", bank_, b.drumCount,
                                 kEadMaxDrums));
    }
    if (b.shared > 1) {
      problem(at + 8, formatText("bank %d: shared flag %u is neither 0 nor 1", bank_, b.shared));
    }
    bodyAt_ = at + kEadBankHeaderBytes;
    bodyLen_ = length - kEadBankHeaderBytes;
    // The pointer table: the drum table's pointer, then one per slot, as
    // many as the body holds.
    const int64_t slotsHeld = bodyLen_ >= 4 ? (bodyLen_ - 4) / 4 : 0;
    if (bodyLen_ < 4) {
      problem(bodyAt_, formatText("bank %d: its body cannot hold the drum table pointer", bank_));
      return;
    }
    const int64_t slots = std::min<int64_t>(b.instrumentCount, slotsHeld);
    if (slots < b.instrumentCount) {
      problem(bodyAt_ + 4, formatText("bank %d: its body holds %lld of %u instrument pointers",
                                      bank_, static_cast<long long>(slots), b.instrumentCount));
    }
    tableEnd_ = std::min(align16(4 + 4 * slots), bodyLen_);
    if (!spend(slots + 1, bodyAt_)) return;
    b.drumTablePointer = loadBE32(data_ + bodyAt_);
    for (int64_t i = 0; i < slots; ++i) {
      const int64_t field = bodyAt_ + 4 + 4 * i;
      const uint32_t ptr = loadBE32(data_ + field);
      b.instrumentPointers.push_back(ptr);
      b.instruments.push_back(
          ptr == 0 ? -1
                   : instrument(ptr, field, formatText("instrument slot %lld", static_cast<long long>(i))));
    }
    readDrums(b);
  }

  int32_t problems() const { return problems_; }

 private:
  void problem(int64_t offset, std::string what) {
    addProblem(out_, offset, std::move(what));
    ++problems_;
  }

  // Takes `n` words from the read's budget; false (said once) when it has
  // run out.
  bool spend(int64_t n, int64_t at) {
    if (seen_.words >= n) {
      seen_.words -= n;
      return true;
    }
    if (!seen_.spent) {
      problem(at, formatText("bank %d: reading stopped: the banks ask for more pointers and "
                             "envelope points than the image holds words", bank_));
      seen_.spent = true;
    }
    return false;
  }

  // Whether a non-null pointer read at `field` leads to `need` bytes inside
  // the body, past the pointer table, at a word boundary; says why not.
  bool lands(uint32_t ptr, int64_t need, int64_t field, const std::string& what) {
    if (ptr % kRecordAlignment != 0) {
      problem(field, formatText("bank %d: %s: pointer 0x%X is not a multiple of 4", bank_,
                                what.c_str(), ptr));
      return false;
    }
    if (ptr < tableEnd_ || static_cast<int64_t>(ptr) + need > bodyLen_) {
      problem(field, formatText("bank %d: %s: pointer 0x%X leaves no room for %lld bytes in the "
                                "body (0x%llX bytes after its pointer table)",
                                bank_, what.c_str(), ptr, static_cast<long long>(need),
                                static_cast<unsigned long long>(bodyLen_)));
      return false;
    }
    return true;
  }

  void readDrums(EadBank& b) {
    const int64_t field = bodyAt_;
    if (b.drumCount == 0) {
      if (b.drumTablePointer != 0) {
        problem(field, formatText("bank %d: no drums, yet a drum table pointer 0x%X", bank_,
                                  b.drumTablePointer));
      }
      return;
    }
    if (b.drumTablePointer == 0) {
      problem(field, formatText("bank %d: %u drums without a drum table", bank_, b.drumCount));
      return;
    }
    // As many drum pointers as the body holds after the table's start.
    if (!lands(b.drumTablePointer, 4, field, "drum table")) return;
    const int64_t held = (bodyLen_ - b.drumTablePointer) / 4;
    const int64_t count = std::min<int64_t>(b.drumCount, held);
    if (count < b.drumCount) {
      problem(field, formatText("bank %d: its body holds %lld of %u drum pointers", bank_,
                                static_cast<long long>(count), b.drumCount));
    }
    if (!spend(count, field)) return;
    for (int64_t n = 0; n < count; ++n) {
      const int64_t at = bodyAt_ + b.drumTablePointer + 4 * n;
      const uint32_t ptr = loadBE32(data_ + at);
      b.drumPointers.push_back(ptr);
      if (ptr == 0) {
        problem(at, formatText("bank %d: drum %lld: null pointer", bank_, static_cast<long long>(n)));
        b.drums.push_back(-1);
        continue;
      }
      b.drums.push_back(drum(ptr, at, formatText("drum %lld", static_cast<long long>(n))));
    }
  }

  int32_t instrument(uint32_t ptr, int64_t field, const std::string& what) {
    if (!lands(ptr, kEadInstrumentBytes, field, what)) return -1;
    const int64_t at = bodyAt_ + ptr;
    if (const auto found = seen_.instruments.find(at); found != seen_.instruments.end()) {
      return found->second;
    }
    const int32_t index = static_cast<int32_t>(out_.instruments.size());
    seen_.instruments.emplace(at, index);
    const uint8_t* p = data_ + at;
    EadInstrument inst;
    inst.offset = at;
    inst.bank = bank_;
    inst.loaded = p[0];
    inst.rangeLow = p[1];
    inst.rangeHigh = p[2];
    inst.releaseRate = p[3];
    inst.envelopePointer = loadBE32(p + 4);
    if (inst.loaded != 0) problem(at, formatText("bank %d: %s: first byte %u is not 0", bank_, what.c_str(), inst.loaded));
    if (inst.rangeLow > inst.rangeHigh) {
      problem(at + 1, formatText("bank %d: %s: normal range %u..%u is empty", bank_, what.c_str(),
                                 inst.rangeLow, inst.rangeHigh));
    }
    inst.envelope = envelope(inst.envelopePointer, at + 4, what);
    static const char* const kSoundNames[3] = {"low", "normal", "high"};
    for (int s = 0; s < 3; ++s) {
      inst.sounds[s] = sound(p + 8 + 8 * s, at + 8 + 8 * s, what + " " + kSoundNames[s] + " sound");
    }
    out_.instruments.push_back(inst);
    return index;
  }

  int32_t drum(uint32_t ptr, int64_t field, const std::string& what) {
    if (!lands(ptr, kEadDrumBytes, field, what)) return -1;
    const int64_t at = bodyAt_ + ptr;
    if (const auto found = seen_.drums.find(at); found != seen_.drums.end()) return found->second;
    const int32_t index = static_cast<int32_t>(out_.drums.size());
    seen_.drums.emplace(at, index);
    const uint8_t* p = data_ + at;
    EadDrum d;
    d.offset = at;
    d.bank = bank_;
    d.releaseRate = p[0];
    d.pan = p[1];
    d.loaded = p[2];
    d.pad = p[3];
    if (d.loaded != 0 || d.pad != 0) {
      problem(at + 2, formatText("bank %d: %s: bytes 2 and 3 are not 0", bank_, what.c_str()));
    }
    d.sound = sound(p + 4, at + 4, what + " sound");
    if (d.sound.samplePointer == 0) problem(at + 4, formatText("bank %d: %s: no sample", bank_, what.c_str()));
    d.envelopePointer = loadBE32(p + 12);
    d.envelope = envelope(d.envelopePointer, at + 12, what);
    out_.drums.push_back(d);
    return index;
  }

  EadSound sound(const uint8_t* p, int64_t field, const std::string& what) {
    EadSound s;
    s.samplePointer = loadBE32(p);
    s.tuning = std::bit_cast<float>(loadBE32(p + 4));
    if (s.samplePointer == 0) return s;
    if (!validTuning(s.tuning)) {
      problem(field + 4, formatText("bank %d: %s: tuning %g is outside %g..%g", bank_, what.c_str(),
                                    static_cast<double>(s.tuning), kEadMinTuning, kEadMaxTuning));
    }
    s.record = record(s.samplePointer, field, what);
    return s;
  }

  int32_t record(uint32_t ptr, int64_t field, const std::string& what) {
    if (!lands(ptr, kEadSampleRecordBytes, field, what)) return -1;
    const int64_t at = bodyAt_ + ptr;
    if (const auto found = seen_.records.find(at); found != seen_.records.end()) return found->second;
    const int32_t index = static_cast<int32_t>(out_.records.size());
    seen_.records.emplace(at, index);
    const uint8_t* p = data_ + at;
    EadSampleRecord r;
    r.offset = at;
    r.bank = bank_;
    r.zero = loadBE32(p);
    r.sampleOffset = loadBE32(p + 4);
    r.loopPointer = loadBE32(p + 8);
    r.bookPointer = loadBE32(p + 12);
    r.size = loadBE32(p + 16);
    const std::string name = formatText("sample record at 0x%llX", static_cast<unsigned long long>(at));
    if (r.zero != 0) problem(at, formatText("bank %d: %s: first word is not 0", bank_, name.c_str()));
    if (r.size == 0 || r.size % 2 != 0) {
      problem(at + 16, formatText("bank %d: %s: size %u is not a positive even number", bank_,
                                  name.c_str(), r.size));
    }
    if (r.bookPointer == 0) {
      problem(at + 12, formatText("bank %d: %s: no book", bank_, name.c_str()));
    } else {
      r.book = book(r.bookPointer, at + 12, name);
    }
    if (r.loopPointer == 0) {
      problem(at + 8, formatText("bank %d: %s: no loop record", bank_, name.c_str()));
    } else {
      r.loop = loop(r.loopPointer, at + 8, name);
    }
    r.sample = sample(r, index, name);
    out_.records.push_back(r);
    return index;
  }

  // The distinct sample the record names, when it lies in its sample bank.
  int32_t sample(const EadSampleRecord& r, int32_t recordIndex, const std::string& name) {
    if (sampleBankLength_ < 0) return -1;
    if (static_cast<int64_t>(r.sampleOffset) + r.size > sampleBankLength_) {
      problem(r.offset + 4, formatText("bank %d: %s: %u bytes at 0x%X run past its sample bank's "
                                       "%lld bytes",
                                       bank_, name.c_str(), r.size, r.sampleOffset,
                                       static_cast<long long>(sampleBankLength_)));
      return -1;
    }
    if (sampleBank_ < 0) return -1;
    const auto key = std::make_pair(sampleBank_, r.sampleOffset);
    if (const auto found = seen_.samples.find(key); found != seen_.samples.end()) {
      const EadSample& first = out_.samples[static_cast<size_t>(found->second)];
      if (first.size != r.size) {
        problem(r.offset + 16, formatText("bank %d: %s: size %u, where another record of the same "
                                          "sample says %u",
                                          bank_, name.c_str(), r.size, first.size));
      }
      return found->second;
    }
    const int32_t index = static_cast<int32_t>(out_.samples.size());
    seen_.samples.emplace(key, index);
    out_.samples.push_back({sampleBank_, r.sampleOffset, r.size, recordIndex, r.book, r.loop});
    return index;
  }

  int32_t book(uint32_t ptr, int64_t field, const std::string& what) {
    if (!lands(ptr, kEadBookHeaderBytes, field, what + " book")) return -1;
    const int64_t at = bodyAt_ + ptr;
    if (const auto found = seen_.books.find(at); found != seen_.books.end()) return found->second;
    const int32_t index = static_cast<int32_t>(out_.books.size());
    seen_.books.emplace(at, index);
    EadBook b;
    b.offset = at;
    b.order = static_cast<int32_t>(loadBE32(data_ + at));
    b.predictors = static_cast<int32_t>(loadBE32(data_ + at + 4));
    if (b.order != kBookOrder || b.predictors < 1 || b.predictors > kMaxBookPredictors) {
      problem(at, formatText("bank %d: book at 0x%llX: order %d with %d predictors (order 2 with "
                             "1 to 16 predictors expected)",
                             bank_, static_cast<unsigned long long>(at), b.order, b.predictors));
    } else {
      const int64_t count = 8 * int64_t{kBookOrder} * b.predictors;
      if (ptr + kEadBookHeaderBytes + 2 * count > bodyLen_) {
        problem(at, formatText("bank %d: book at 0x%llX: its %lld coefficients run past the body",
                               bank_, static_cast<unsigned long long>(at),
                               static_cast<long long>(count)));
      } else {
        b.coefficients.reserve(static_cast<size_t>(count));
        for (int64_t k = 0; k < count; ++k) {
          b.coefficients.push_back(
              static_cast<int16_t>(loadBE16(data_ + at + kEadBookHeaderBytes + 2 * k)));
        }
      }
    }
    out_.books.push_back(std::move(b));
    return index;
  }

  int32_t loop(uint32_t ptr, int64_t field, const std::string& what) {
    if (!lands(ptr, kEadLoopBytes, field, what + " loop")) return -1;
    const int64_t at = bodyAt_ + ptr;
    if (const auto found = seen_.loops.find(at); found != seen_.loops.end()) return found->second;
    const int32_t index = static_cast<int32_t>(out_.loops.size());
    seen_.loops.emplace(at, index);
    const uint8_t* p = data_ + at;
    EadLoop l;
    l.offset = at;
    l.start = loadBE32(p);
    l.end = loadBE32(p + 4);
    l.count = static_cast<int32_t>(loadBE32(p + 8));
    l.pad = loadBE32(p + 12);
    const auto where = static_cast<unsigned long long>(at);
    if (l.pad != 0) problem(at + 12, formatText("bank %d: loop at 0x%llX: last word is not 0", bank_, where));
    if (l.count != 0) {
      if (l.start >= l.end) {
        problem(at, formatText("bank %d: loop at 0x%llX: start %u is not before end %u", bank_,
                               where, l.start, l.end));
      }
      if (ptr + kEadLoopBytes + kEadLoopStateBytes > bodyLen_) {
        problem(at + kEadLoopBytes,
                formatText("bank %d: loop at 0x%llX: its decoder state runs past the body", bank_, where));
      } else {
        std::array<int16_t, 16> state{};
        for (size_t k = 0; k < state.size(); ++k) {
          state[k] = static_cast<int16_t>(loadBE16(p + kEadLoopBytes + 2 * k));
        }
        l.state = state;
      }
    }
    out_.loops.push_back(l);
    return index;
  }

  int32_t envelope(uint32_t ptr, int64_t field, const std::string& what) {
    if (ptr == 0) {
      problem(field, formatText("bank %d: %s: no envelope", bank_, what.c_str()));
      return -1;
    }
    if (!lands(ptr, kEnvelopePointBytes, field, what + " envelope")) return -1;
    const int64_t at = bodyAt_ + ptr;
    if (const auto found = seen_.envelopes.find(at); found != seen_.envelopes.end()) {
      return found->second;
    }
    const int32_t index = static_cast<int32_t>(out_.envelopes.size());
    seen_.envelopes.emplace(at, index);
    EadEnvelope e;
    e.offset = at;
    const int64_t room = (bodyLen_ - ptr) / kEnvelopePointBytes;
    const int64_t limit = std::min<int64_t>(room, kEadMaxEnvelopePoints);
    for (int64_t k = 0; k < limit && !e.ended; ++k) {
      if (!spend(1, at)) break;
      const uint8_t* p = data_ + at + kEnvelopePointBytes * k;
      const EadEnvelopePoint point{loadBE16(p), loadBE16(p + 2)};
      e.points.push_back(point);
      e.ended = point.delay == kEadEnvelopeStop || point.delay >= kEadEnvelopeRestart;
    }
    const auto where = static_cast<unsigned long long>(at);
    if (!e.ended) {
      problem(at, formatText("bank %d: envelope at 0x%llX: no end within %lld points", bank_,
                             where, static_cast<long long>(limit)));
    } else if (e.points.back().delay == kEadEnvelopeGoto &&
               e.points.back().arg + 1u >= e.points.size()) {
      problem(at, formatText("bank %d: envelope at 0x%llX: goto point %u of %zu", bank_, where,
                             e.points.back().arg, e.points.size() - 1));
    }
    out_.envelopes.push_back(std::move(e));
    return index;
  }

  const uint8_t* data_;
  EadSoundData& out_;
  Seen& seen_;
  int32_t bank_;
  int32_t sampleBank_;
  int64_t sampleBankLength_;
  int64_t bodyAt_ = 0, bodyLen_ = 0, tableEnd_ = 0;
  int32_t problems_ = 0;
};

}  // namespace

std::optional<EadFileTable> readEadFileTable(const uint8_t* data, int64_t size, int64_t at,
                                             int expectedType) {
  if (data == nullptr || at < 0 || size - at < kFileHeaderBytes) return std::nullopt;
  const uint8_t* p = data + at;
  EadFileTable table;
  table.at = at;
  table.type = loadBE16(p);
  const int64_t count = loadBE16(p + 2);
  if (table.type != expectedType || (size - at - kFileHeaderBytes) / kFileEntryBytes < count) {
    return std::nullopt;
  }
  table.entries.reserve(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t* e = p + kFileHeaderBytes + kFileEntryBytes * i;
    const EadFileEntry entry{loadBE32(e), loadBE32(e + 4)};
    if (static_cast<int64_t>(entry.offset) + entry.length > size - at) return std::nullopt;
    table.entries.push_back(entry);
  }
  return table;
}

std::optional<std::vector<std::vector<uint8_t>>> readEadBankSets(const uint8_t* data,
                                                                 int64_t size, int64_t at,
                                                                 int sequenceCount) {
  if (data == nullptr || at < 0 || sequenceCount < 0 || at > size ||
      (size - at) / 2 < sequenceCount) {
    return std::nullopt;
  }
  std::vector<std::vector<uint8_t>> sets;
  sets.reserve(static_cast<size_t>(sequenceCount));
  for (int i = 0; i < sequenceCount; ++i) {
    const int64_t from = at + loadBE16(data + at + 2 * i);
    if (from >= size) return std::nullopt;
    const int64_t count = data[from];
    if (size - from - 1 < count) return std::nullopt;
    sets.emplace_back(data + from + 1, data + from + 1 + count);
  }
  return sets;
}

EadSoundData readEadSoundData(const uint8_t* data, int64_t size, int64_t soundDataAt,
                              int64_t sampleTableAt) {
  EadSoundData out;
  out.soundData.at = soundDataAt;
  out.sampleTable.at = sampleTableAt;
  const std::optional<EadFileTable> banks = readEadFileTable(data, size, soundDataAt, kEadSoundDataType);
  if (!banks) {
    addProblem(out, soundDataAt, "no sound-data file (type 1) whose entries lie inside the image");
    return out;
  }
  out.soundData = *banks;
  if (const auto samples = readEadFileTable(data, size, sampleTableAt, kEadSampleTableType)) {
    out.sampleTable = *samples;
  } else {
    addProblem(out, sampleTableAt, "no sample-table file (type 2) whose entries lie inside the image");
  }
  const size_t bankCount = out.soundData.entries.size();
  if (!out.sampleTable.entries.empty() && out.sampleTable.entries.size() != bankCount) {
    addProblem(out, sampleTableAt, formatText("the sample-table file lists %zu sample banks "
                                                      "for %zu banks",
                                                      out.sampleTable.entries.size(), bankCount));
  }
  // Distinct sample banks, in the order banks first name them.
  std::map<std::pair<uint32_t, uint32_t>, int32_t> sampleBankOf;
  for (size_t b = 0; b < out.sampleTable.entries.size(); ++b) {
    const EadFileEntry& e = out.sampleTable.entries[b];
    const auto [it, added] =
        sampleBankOf.emplace(std::make_pair(e.offset, e.length), static_cast<int32_t>(out.sampleBanks.size()));
    if (added) out.sampleBanks.push_back({e.offset, e.length, {}});
    out.sampleBanks[static_cast<size_t>(it->second)].banks.push_back(static_cast<int32_t>(b));
  }
  const int64_t tableEnd = kFileHeaderBytes + kFileEntryBytes * static_cast<int64_t>(bankCount);
  Seen seen(size);
  out.banks.reserve(bankCount);
  for (size_t b = 0; b < bankCount; ++b) {
    const EadFileEntry& e = out.soundData.entries[b];
    EadBank bank;
    bank.index = static_cast<int32_t>(b);
    bank.offset = soundDataAt + e.offset;
    bank.length = e.length;
    int32_t sampleBank = -1;
    int64_t sampleBankLength = -1;
    if (b < out.sampleTable.entries.size()) {
      const EadFileEntry& s = out.sampleTable.entries[b];
      sampleBank = sampleBankOf.at(std::make_pair(s.offset, s.length));
      sampleBankLength = s.length;
    } else if (!out.sampleTable.entries.empty()) {
      addProblem(out, sampleTableAt, formatText("bank %zu: no sample bank", b));
    }
    bank.sampleBank = sampleBank;
    const int64_t before = out.problemCount();
    if (e.offset < tableEnd) {
      addProblem(out, soundDataAt + 4 + kFileEntryBytes * static_cast<int64_t>(b),
                 formatText("bank %zu: offset 0x%X lies inside the file's table", b, e.offset));
    } else {
      // Without its sample bank a bank's samples stay unchecked and unread
      // (a problem already says why).
      BankReader reader(data, out, seen, bank.index, sampleBank, sampleBankLength);
      reader.read(bank, bank.offset, bank.length);
    }
    bank.problems = static_cast<int32_t>(std::min<int64_t>(out.problemCount() - before, INT32_MAX));
    out.banks.push_back(std::move(bank));
  }
  return out;
}

bool plausibleEadBank(const uint8_t* data, int64_t size, int64_t bankAt, int64_t bankLength,
                      int64_t sampleBankLength) {
  if (data == nullptr || bankAt < 0 || bankLength < kEadBankHeaderBytes || bankAt > size ||
      size - bankAt < bankLength) {
    return false;
  }
  // The header alone rejects most random bytes before any pointer is followed.
  const uint8_t* h = data + bankAt;
  if (loadBE32(h) > kEadMaxInstruments || loadBE32(h + 4) > kEadMaxDrums || loadBE32(h + 8) > 1) {
    return false;
  }
  EadSoundData out;
  Seen seen(bankLength);
  EadBank bank;
  BankReader reader(data, out, seen, 0, sampleBankLength < 0 ? -1 : 0, sampleBankLength);
  reader.read(bank, bankAt, bankLength);
  // Zero bytes read as a bank of nothing, which no game ships.
  const auto any = [](const std::vector<int32_t>& v) {
    return std::any_of(v.begin(), v.end(), [](int32_t i) { return i >= 0; });
  };
  return out.plausible() && (any(bank.instruments) || any(bank.drums));
}

}  // namespace zaft
