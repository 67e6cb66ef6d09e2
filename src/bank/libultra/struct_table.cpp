#include "bank/libultra/struct_table.h"

#include <cstdio>
#include <cstring>

namespace zaft {

StructTable::StructTable() {
  StructEntry& null = append(0);
  null.name = "NULL";
}

int32_t StructTable::find(uint32_t fileOffset) const {
  auto it = byOffset_.find(fileOffset);
  return it == byOffset_.end() ? 0 : it->second;
}

StructEntry& StructTable::append(uint32_t fileOffset) {
  const int32_t index = size();
  entries_.emplace_back();
  StructEntry& entry = entries_.back();
  entry.fileOffset = fileOffset;
  // Entry 0 is never looked up; only the first entry at an offset answers.
  if (index > 0) byOffset_.emplace(fileOffset, index);
  return entry;
}

namespace {

// Appends text to the name being built, never past its 31 characters.
struct NameBuilder {
  char (&name)[32];
  size_t length = 0;   // characters the expansion produced, cut or not
  void append(const char* text) {
    for (; *text != '\0'; ++text, ++length) {
      if (length < sizeof name - 1) name[length] = *text;
    }
    name[length < sizeof name - 1 ? length : sizeof name - 1] = '\0';
  }
};

}  // namespace

void buildStructName(const char* nameTemplate, StructKind kind, const char* tag, int32_t newIndex,
                     const WalkIndices& at, char (&name)[32]) {
  std::memset(name, 0, sizeof name);
  NameBuilder out{name};
  const char* t = nameTemplate;
  const int kindNumber = static_cast<int>(kind);
  if (*t == '\0') {
    out.append(tag);
    return;
  }
  // The walk stops once more than 25 characters have been written.
  constexpr size_t kStopAfter = 25;
  constexpr int kMaxWidth = 64;
  bool tagWritten = false;
  char piece[kMaxWidth + 16];
  while (*t != '\0') {
    if (*t != '%') {
      piece[0] = *t++;
      piece[1] = '\0';
      out.append(piece);
    } else {
      ++t;
      int width = 0;
      int digits = 0;
      const char* digitText = t;
      while (*t >= '0' && *t <= '9') {
        // Widths beyond a name's length mean nothing; cap to keep the
        // arithmetic small.
        if (width < 1000) width = width * 10 + (*t - '0');
        ++digits;
        ++t;
      }
      // A name shows at most 31 characters, so padding beyond 64 digits is
      // never seen; the cap keeps a wide number's visible part exact.
      if (width > kMaxWidth) width = kMaxWidth;
      char letter = *t;
      if (letter == '\0') {
        // A directive the template never finished: written back as text.
        std::snprintf(piece, sizeof piece, "%%%.*s", digits < 40 ? digits : 40, digitText);
        out.append(piece);
        break;
      }
      ++t;
      piece[0] = '\0';
      switch (letter) {
        case 'b':
          if (kindNumber > 0) std::snprintf(piece, sizeof piece, "%0*d", width, at.bank);
          break;
        case 'i':
          if (kindNumber > 1) std::snprintf(piece, sizeof piece, "%0*d", width, at.inst);
          break;
        case 's':
          if (kindNumber > 2) std::snprintf(piece, sizeof piece, "%0*d", width, at.sound);
          break;
        case 'c':
          std::snprintf(piece, sizeof piece, "%0*d", width, newIndex - 1);
          break;
        case 't':
          std::snprintf(piece, sizeof piece, "%s", tag);
          tagWritten = true;
          break;
        default:
          // Written back with its digits; w zero-padded to n digits is the
          // digits as written, and a directive without digits gains a zero.
          if (digits == 0) {
            std::snprintf(piece, sizeof piece, "%%0%c", letter);
          } else {
            std::snprintf(piece, sizeof piece, "%%%.*s%c", digits < 40 ? digits : 40, digitText,
                          letter);
          }
          break;
      }
      out.append(piece);
    }
    if (out.length > kStopAfter) break;
  }
  if (!tagWritten) out.append(tag);
}

EnterResult enterStruct(StructTable& table, BankCounters& counters, StructKind kind,
                        uint32_t fileOffset, const char* nameTemplate, const WalkIndices& at) {
  if (const int32_t found = table.find(fileOffset); found != 0) {
    ++counters.reusedRefs;
    return {found, false, false};
  }
  if (table.size() >= StructTable::kCapacity) return {0, false, true};
  const int32_t index = table.size();
  StructEntry& entry = table.append(fileOffset);
  counters.structCount = table.size();
  char name[32];
  buildStructName(nameTemplate, kind, recordTag(kind), index, at, name);
  entry.name = name;
  entry.kind = kind;
  entry.data = emptyRecord(kind);
  switch (kind) {
    case StructKind::Bank: ++counters.banks; break;
    case StructKind::Instrument: ++counters.instruments; break;
    case StructKind::Sound: ++counters.sounds; break;
    default: break;
  }
  return {index, true, false};
}

}  // namespace zaft
