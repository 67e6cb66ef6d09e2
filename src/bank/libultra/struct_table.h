// The struct table: every record of a bank file, entered once, keyed by the
// file offset of its first byte. An entry's index stands in for the
// record's address in every pointer field; entry 0 is "NULL", the null
// pointer, made with the table.
//
// Index order is discovery order. Lookup by offset goes through a hash index;
// the first entry made at an offset answers for that offset whatever kind is
// asked for, exactly as a scan of the used entries in index order would.
// Entries never move once made, so a reference to one stays good while the
// walk enters more.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

#include "bank/libultra/records.h"

namespace zaft {

struct StructEntry {
  std::string name;  // at most 31 characters
  StructKind kind = StructKind::BankFile;
  RecordData data;
  uint32_t fileOffset = 0;

  template <typename T> T& as() { return std::get<T>(data); }
  template <typename T> const T& as() const { return std::get<T>(data); }
  template <typename T> const T* getIf() const { return std::get_if<T>(&data); }
};

// The header's banner figures.
struct BankCounters {
  int32_t banks = 0;
  int32_t instruments = 0;
  int32_t sounds = 0;
  int32_t reusedRefs = 0;
  int32_t structCount = 1;  // slots in use, entry 0 included
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

  // The record of `kind` at `index`, or nullptr when the index is outside
  // the table or holds another kind.
  template <typename T> const T* recordAt(int32_t index) const {
    if (index <= 0 || index >= size()) return nullptr;
    return (*this)[index].getIf<T>();
  }

 private:
  std::deque<StructEntry> entries_;
  std::unordered_map<uint32_t, int32_t> byOffset_;
};

// The walk's position: the bank, instrument and sound being walked, which
// the naming template and the WAV file names use.
struct WalkIndices {
  int16_t bank = 0;
  int16_t inst = 0;
  int16_t sound = 0;
};

struct EnterResult {
  int32_t index = 0;
  bool isNew = false;
  bool full = false;  // no slot left for a new record
};

// Looks the record at `fileOffset` up, or enters it new (named from the
// template, its kind's empty record as `data`, its kind's counter raised).
// A full table only matters when a new record is needed.
EnterResult enterStruct(StructTable& table, BankCounters& counters, StructKind kind,
                        uint32_t fileOffset, const char* nameTemplate, const WalkIndices& at);

// Expands the naming template for a new entry of `kind` with index
// `newIndex` into `name` (at most 31 characters, always terminated).
void buildStructName(const char* nameTemplate, StructKind kind, const char* tag, int32_t newIndex,
                     const WalkIndices& at, char (&name)[32]);

}  // namespace zaft
