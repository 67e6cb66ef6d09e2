// The struct table: every record of the bank file, entered once, keyed by the
// file offset of its first byte. An entry's index stands in for the record's
// address in every pointer field; entry 0 is "NULL", the null pointer.
//
// Index order is discovery order. Lookup by offset goes through a hash index;
// the first entry made at an offset answers for that offset whatever kind is
// asked for, exactly as a scan of the used entries in index order would.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "bank/records.h"

namespace zaft {

struct RunContext;

struct StructEntry {
  char name[32] = {};  // at most 31 characters
  StructKind kind = StructKind::BankFile;
  RecordData data;
  uint32_t fileOffset = 0;

  template <typename T> T& as() { return std::get<T>(data); }
  template <typename T> const T& as() const { return std::get<T>(data); }
  template <typename T> const T* getIf() const { return std::get_if<T>(&data); }
};

class StructTable {
 public:
  static constexpr int32_t kCapacity = 4096;  // slots, entry 0 included

  StructTable();

  int32_t size() const { return static_cast<int32_t>(entries_.size()); }
  StructEntry& operator[](int32_t index) { return entries_[static_cast<size_t>(index)]; }
  const StructEntry& operator[](int32_t index) const {
    return entries_[static_cast<size_t>(index)];
  }
  // 0 when no entry (other than entry 0) has this offset.
  int32_t find(uint32_t fileOffset) const;
  // Appends an entry; the caller has checked the capacity.
  StructEntry& append(uint32_t fileOffset);

 private:
  std::vector<StructEntry> entries_;
  std::unordered_map<uint32_t, int32_t> byOffset_;
};

struct EnterResult {
  int32_t index = 0;
  bool isNew = false;
};

// Makes entry 0, "NULL", and sets structCount to 1.
void enterNullStruct(RunContext& ctx);

// Looks the record at the ROM stream's current position up, or enters it new
// (named from the template, its kind's default record emplaced as `data`,
// its kind's counter raised). A full table ends the run with
// "Ran out of struct space (max 4096)\n" only when a new record is needed.
EnterResult enterStruct(RunContext& ctx, StructKind kind, const char* tag);

// Expands the naming template for a new entry of `kind` with index
// `newIndex` into `name` (at most 31 characters, always terminated).
void buildStructName(const RunContext& ctx, StructKind kind, const char* tag, int32_t newIndex,
                     char (&name)[32]);

}  // namespace zaft
