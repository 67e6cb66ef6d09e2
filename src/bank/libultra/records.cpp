#include "bank/libultra/records.h"

#include <array>
#include <utility>

namespace zaft {

namespace {

// By kind number, in StructKind's order.
constexpr std::array<const char*, 10> kTypeNames = {
    "ALBankFile", "ALBank",    "ALInstrument", "ALSound",     "ALWaveTable",
    "ALKeyMap",   "ALEnvelope", "ALRawLoop",   "ALADPCMloop", "ALADPCMBook"};
constexpr std::array<const char*, 10> kTags = {"File", "Bank", "Inst", "Sound", "Wave",
                                               "Keym", "Envp", "Loop", "Loop",  "Book"};

constexpr size_t kindNumber(StructKind kind) { return static_cast<size_t>(kind); }

template <size_t... I>
RecordData emptyAt(size_t alternative, std::index_sequence<I...>) {
  RecordData record;
  static_cast<void>(((alternative == I ? (record.emplace<I>(), true) : false) || ...));
  return record;
}

}  // namespace

const char* recordTypeName(StructKind kind) {
  return kindNumber(kind) < kTypeNames.size() ? kTypeNames[kindNumber(kind)] : nullptr;
}

const char* recordTag(StructKind kind) {
  return kindNumber(kind) < kTags.size() ? kTags[kindNumber(kind)] : "";
}

RecordData emptyRecord(StructKind kind) {
  return emptyAt(kindNumber(kind) + 1, std::make_index_sequence<std::variant_size_v<RecordData>>());
}

}  // namespace zaft
