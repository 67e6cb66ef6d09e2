#include "bank/libultra/walk.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "bank/libultra/rom_cursor.h"
#include "util/fatal.h"

namespace zaft {

namespace {

// Ends the walk; caught where the walk began, which keeps what was walked.
struct WalkStop {
  std::string message;
};

constexpr int64_t kPointerBytes = 4;
constexpr int64_t kPredictorBytes = kCoefficientsPerPredictor * 2;

class Walker {
 public:
  Walker(const RomImage& rom, int32_t ctlOffset, const WalkLimits& limits, Reporter& report,
         BankFile& bank)
      : cursor_(rom, std::max<int32_t>(ctlOffset, 0)),
        ctlOffset_(ctlOffset),
        limits_(limits),
        report_(report),
        bank_(bank),
        slotsLeft_(limits.listSlotBudget) {}

  void walkBankFile();

  // Follows the pointer under the cursor to a record of `kind`, reads it
  // when it is new, and leaves the cursor just after the pointer. Gives back
  // the record's index, 0 for a null pointer.
  int32_t follow(StructKind kind);

  template <typename Count>
  void readList(StructKind owner, Count count, std::vector<int32_t>& refs, StructKind target,
                int32_t sampleRate);
  void readPredictors(int32_t npredictors, std::vector<int16_t>& coefficients);

  // Before a bank's first pointer (its percussion instrument) is followed,
  // every wave below it takes that bank's output rate.
  template <typename R> void beforeReference(const R&) {}
  void beforeReference(const ALBank& bank) {
    outputRate_ = outputRateFor(bank.sampleRate, limits_.rateRatio);
  }

  RomCursor cursor_;

 private:
  [[noreturn]] void stop(std::string message) { throw WalkStop{std::move(message)}; }
  void read(int32_t index);
  size_t slotsFor(int32_t count, int64_t arrayAt);

  const int32_t ctlOffset_;
  const WalkLimits& limits_;
  Reporter& report_;
  BankFile& bank_;
  WalkIndices at_;
  int32_t outputRate_ = 0;
  int32_t sound_ = 0;  // the sound whose fields are being read
  int64_t slotsLeft_;
};

// Reads a record's fields in file order at the cursor.
template <typename R>
class FieldReader {
 public:
  FieldReader(Walker& walker, R& record) : w_(walker), record_(record) {}

  void number(const char*, uint8_t& field, FieldStyle) { field = readByte(w_.cursor_); }
  void number(const char*, int8_t& field, FieldStyle) {
    field = static_cast<int8_t>(readByte(w_.cursor_));
  }
  void number(const char*, uint16_t& field, FieldStyle) { field = readBE16(w_.cursor_); }
  void number(const char*, int16_t& field, FieldStyle) {
    field = static_cast<int16_t>(readBE16(w_.cursor_));
  }
  void number(const char*, int32_t& field, FieldStyle) {
    field = static_cast<int32_t>(readBE32(w_.cursor_));
  }
  void skip(size_t bytes) { seekBy(w_.cursor_, static_cast<int64_t>(bytes)); }
  void beginUnion(const char*) {}
  void endUnion() {}
  void reference(const char*, int32_t& field, StructKind target) {
    w_.beforeReference(record_);
    field = w_.follow(target);
  }
  template <typename Count>
  void list(const char*, Count count, std::vector<int32_t>& refs, StructKind target) {
    int32_t sampleRate = 0;
    if constexpr (std::is_same_v<R, ALBank>) sampleRate = record_.sampleRate;
    w_.readList(kindOf(), count, refs, target, sampleRate);
  }
  void predictors(const char*, int32_t npredictors, std::vector<int16_t>& coefficients) {
    w_.readPredictors(npredictors, coefficients);
  }

 private:
  static constexpr StructKind kindOf() {
    if constexpr (std::is_same_v<R, ALBankFile>) return StructKind::BankFile;
    if constexpr (std::is_same_v<R, ALBank>) return StructKind::Bank;
    return StructKind::Instrument;  // the only other record with a list
  }

  Walker& w_;
  R& record_;
};

void Walker::walkBankFile() {
  const uint16_t revision = readBE16(cursor_);
  bank_.revision = revision;
  if (revision != kBankFileRevision) {
    // The revision is printed as a signed 16-bit number widened to 32 bits,
    // so 0xC1A4 shows as 0xFFFFC1A4.
    report_.outf("Unrecognized bank file revision 0x%04X. It should be 'B1' (0x4231)\n",
                 static_cast<unsigned>(static_cast<int32_t>(static_cast<int16_t>(revision))));
    return;
  }
  bank_.recognized = true;
  report_.progress("Ripping Bank File\n");
  const EnterResult entered =
      enterStruct(bank_.table, bank_.counters, StructKind::BankFile,
                  static_cast<uint32_t>(ctlOffset_), limits_.nameTemplate.c_str(), at_);
  seekTo(cursor_, ctlOffset_);
  read(entered.index);
}

int32_t Walker::follow(StructKind kind) {
  CtlPointer pointer;
  if (!followPointer(pointer, cursor_, ctlOffset_)) {
    stop(formatText("\nAbnormal termination. Bogus pointer found: Offset %06X - Ptr %08X\n",
                    static_cast<unsigned>(pointer.resumeAt), pointer.offset));
  }
  struct Restore {
    CtlPointer& pointer;
    ~Restore() { restorePointer(pointer); }
  } restore{pointer};
  if (pointer.offset == 0) return 0;
  const EnterResult entered =
      enterStruct(bank_.table, bank_.counters, kind, static_cast<uint32_t>(tellPos(cursor_)),
                  limits_.nameTemplate.c_str(), at_);
  if (entered.full) stop(formatText("Ran out of struct space (max %d)\n", StructTable::kCapacity));
  if (entered.isNew) read(entered.index);
  return entered.index;
}

void Walker::read(int32_t index) {
  // Entries stay in place (the table is a deque) while the records below
  // this one are entered.
  visitRecord(bank_.table[index].data, [&](auto& record) {
    using Record = std::decay_t<decltype(record)>;
    FieldReader<Record> reader(*this, record);
    if constexpr (std::is_same_v<Record, ALSound>) {
      const int32_t outer = sound_;
      sound_ = index;
      visitFields(record, reader);
      sound_ = outer;
    } else {
      visitFields(record, reader);
    }
  });
  if (bank_.table[index].getIf<ALWaveTable>() == nullptr) return;
  // The loop and the book are in: the wave is complete, and the sound that
  // led here names it.
  WaveRef ref;
  ref.entry = index;
  ref.at = at_;
  ref.outputRate = outputRate_;
  ref.sound = sound_;
  if (const ALSound* sound = bank_.table.recordAt<ALSound>(sound_)) ref.keyMap = sound->keyMap;
  bank_.waves.push_back(ref);
  if (limits_.samplesWritten && !isKnownWaveType(bank_.table[index].as<ALWaveTable>().type)) {
    stop("Unknown wavetable type... Aborting...\n");
  }
}

// Slots for a pointer array of `count` entries starting at `arrayAt`: only
// the entries that begin inside the file are stored. Those past its end read
// as null pointers and need no storage, so a bogus count never makes the
// walk (or the header and JSON written from it) grow past what the ROM
// holds. The walk follows only the pointers it stores.
size_t Walker::slotsFor(int32_t count, int64_t arrayAt) {
  const int64_t romSize = cursor_.rom->size();
  if (count <= 0 || arrayAt < 0 || arrayAt >= romSize) return 0;
  const int64_t inFile = (romSize - arrayAt + kPointerBytes - 1) / kPointerBytes;
  const int64_t slots = std::min<int64_t>({count, inFile, slotsLeft_});
  slotsLeft_ -= slots;
  return static_cast<size_t>(slots);
}

// Each element is walked with the walk's index of its kind set to its place
// in the list; after the list the index stands at the count. A bank prints
// a progress line before each instrument (so a null entry has its line too)
// and a line end after them. The percussion instrument is walked before the
// list with the instrument index left from before: 0 in the first bank,
// else the instCount of the last bank whose instruments were walked.
template <typename Count>
void Walker::readList(StructKind owner, Count count, std::vector<int32_t>& refs, StructKind target,
                      int32_t sampleRate) {
  refs.assign(slotsFor(count, tellPos(cursor_)), 0);
  const int32_t rate = outputRate_;
  int16_t* index = owner == StructKind::BankFile ? &at_.bank
                   : owner == StructKind::Bank   ? &at_.inst
                                                 : &at_.sound;
  for (size_t k = 0; k < refs.size(); ++k) {
    *index = static_cast<int16_t>(k);
    if (owner == StructKind::Bank) {
      report_.progressf("Ripping %d/%d instruments (SR: %d, Original: %d)\r",
                        static_cast<int>(k) + 1, static_cast<int>(count), rate, sampleRate);
    }
    refs[k] = follow(target);
  }
  *index = static_cast<int16_t>(std::max<int32_t>(count, 0));
  if (owner == StructKind::Bank) report_.progress("\n");
}

// npredictors is a claim: only the predictors that begin inside the file are
// stored (one cut by the end of the file reads its missing coefficients as
// 0), at most the 16 a frame's index can reach; the rest read as 0 without
// storage of their own.
void Walker::readPredictors(int32_t npredictors, std::vector<int16_t>& coefficients) {
  const int64_t at = tellPos(cursor_);
  const int64_t romSize = cursor_.rom->size();
  int64_t stored = 0;
  if (npredictors > 0 && at < romSize) {
    const int64_t beginning = (romSize - at + kPredictorBytes - 1) / kPredictorBytes;
    stored = std::min<int64_t>({npredictors, beginning, kMaxIndexedPredictors});
  }
  coefficients.resize(static_cast<size_t>(stored) * kCoefficientsPerPredictor);
  for (int16_t& c : coefficients) c = static_cast<int16_t>(readBE16(cursor_));
}

}  // namespace

int32_t outputRateFor(int32_t sampleRate, double rateRatio) {
  const double rate = static_cast<double>(sampleRate) * rateRatio;
  if (std::isnan(rate)) return 0;
  if (rate >= 2147483648.0) return std::numeric_limits<int32_t>::max();
  if (rate <= -2147483649.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(rate);
}

BankFile walkBankFile(const RomImage& rom, int32_t ctlOffset, const WalkLimits& limits,
                      Reporter& report) {
  BankFile bank;
  bank.ctlOffset = ctlOffset;
  if (ctlOffset < 0) return bank;  // no bank file starts before the ROM
  Walker walker(rom, ctlOffset, limits, report, bank);
  try {
    walker.walkBankFile();
  } catch (WalkStop& stopped) {
    bank.stop = std::move(stopped.message);
  }
  return bank;
}

}  // namespace zaft
