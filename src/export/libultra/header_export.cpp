#include "export/libultra/header_export.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "util/fatal.h"

namespace zaft {

namespace {

constexpr int kItemsPerLine = 8;  // names or coefficients per list line
// Columns a field may ask for through /f, either way. A few thousand
// columns is already far wider than any editor shows; beyond that a width
// would only fill the disk with blanks (and INT_MIN has no magnitude at all).
constexpr int32_t kMaxFieldWidth = 1024;
// The text goes to the sink in blocks of about this size.
constexpr size_t kBlock = 64 * 1024;

// printf-style text gathered in blocks.
class TextOut {
 public:
  explicit TextOut(ByteSink& sink) : sink_(sink) { text_.reserve(kBlock + 4096); }
  ~TextOut() { flush(); }
  void put(const char* text) {
    text_ += text;
    if (text_.size() >= kBlock) flush();
  }
  void printf(const char* format, ...) ZAFT_PRINTF(2, 3) {
    char line[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof line) {
      text_.append(line, static_cast<size_t>(n));
    } else {
      va_start(args, format);
      text_ += formatTextV(format, args);
      va_end(args);
    }
    if (text_.size() >= kBlock) flush();
  }
  void flush() {
    sink_.write(text_);
    text_.clear();
  }

 private:
  ByteSink& sink_;
  std::string text_;
};

// Writes one record's fields, one line each, in the order the field list
// gives. Every number goes through an int so that unsigned bytes print
// 0..255 and the signed fields keep their sign.
class FieldPrinter {
 public:
  FieldPrinter(const StructTable& table, TextOut& out, int width)
      : table_(table), out_(out), width_(width) {}

  template <typename T> void number(const char* name, const T& value, FieldStyle style) {
    if (style == FieldStyle::NotInHeader) return;
    if (style == FieldStyle::Characters) {
      out_.printf("  '%c%c', // %s\n", (value >> 8) & 0xFF, value & 0xFF, name);
      return;
    }
    out_.printf("  %*d, // %s\n", width_, static_cast<int>(value), name);
  }
  void skip(size_t) {}
  // The union section stands on lines of its own; its references are named
  // by their place in it ("waveInfo.adpcmWave.loop").
  void beginUnion(const char* member) {
    out_.put("  { // union\n");
    prefix_ = std::string("waveInfo.") + member + ".";
  }
  void endUnion() {
    out_.put("},\n");
    prefix_.clear();
  }
  void reference(const char* name, int32_t index, StructKind) {
    out_.printf("  %*s, // %s%s\n", width_, nameOf(index), prefix_.c_str(), name);
  }
  // The opening ("  { // banks") has no line end; each line of the list
  // starts with "\n  " and holds up to eight names. A list with no element
  // still ends its opening line, so that the "//" comment does not swallow
  // the closing brace. Only the elements the record holds are listed: a
  // count that claims more pointers than the ROM file holds lists those
  // that lie inside it.
  void list(const char* name, int32_t count, const std::vector<int32_t>& refs, StructKind) {
    out_.printf("  { // %s", name);
    const int64_t listed =
        std::min<int64_t>(std::max<int32_t>(count, 0), static_cast<int64_t>(refs.size()));
    if (listed < 1) out_.put("\n  ");
    for (int64_t k = 0; k < listed; ++k) {
      if (k % kItemsPerLine == 0) out_.put("\n  ");
      out_.printf("%*s, ", width_, nameOf(refs[static_cast<size_t>(k)]));
    }
    out_.put("},\n");
  }
  // Sixteen coefficients per predictor whatever `order` says. The list is
  // the coefficients the book holds, never more than npredictors x 16: the
  // walk stores only what the ROM can supply, so a bogus npredictors (up to
  // 2^31 - 1) cannot make the header run to gigabytes. For every book the
  // ROM really holds, the two counts agree.
  void predictors(const char*, int32_t npredictors, const std::vector<int16_t>& coefficients) {
    const int64_t claimed =
        static_cast<int64_t>(std::max<int32_t>(npredictors, 0)) * kCoefficientsPerPredictor;
    const size_t count = static_cast<size_t>(
        std::min<int64_t>(claimed, static_cast<int64_t>(coefficients.size())));
    out_.put("  { // Predictors");
    if (count == 0) out_.put("\n  ");
    for (size_t k = 0; k < count; ++k) {
      if (k % kItemsPerLine == 0) out_.put("\n  ");
      out_.printf("%+5d, ", static_cast<int>(coefficients[k]));
    }
    out_.put("},\n");
  }

 private:
  // The name a reference prints as. Indices come from the table itself, so
  // they are in range; one that is not prints as the null pointer rather
  // than reading outside the table.
  const char* nameOf(int32_t index) const {
    if (index <= 0 || index >= table_.size()) return "NULL";
    return table_[index].name.c_str();
  }

  const StructTable& table_;
  TextOut& out_;
  int width_;
  std::string prefix_;
};

// An entry without a record has no structure to write.
void writeEntry(const StructEntry& entry, FieldPrinter& printer, TextOut& out) {
  visitRecord(entry.data, [&](const auto& record) {
    using Record = std::decay_t<decltype(record)>;
    out.printf("%s %s = { // Offset: 0x%06X\n", recordTypeName(Record::kKind), entry.name.c_str(),
               entry.fileOffset);
    visitFields(record, printer);
    out.put("};\n\n");
  });
}

}  // namespace

void writeHeaderText(const BankFile& bank, int32_t fieldWidth, const std::string& headerName,
                     ByteSink& sink, Reporter& report) {
  const BankCounters& counters = bank.counters;
  int32_t width = fieldWidth;
  if (width > kMaxFieldWidth || width < -kMaxFieldWidth) {
    width = width > 0 ? kMaxFieldWidth : -kMaxFieldWidth;
    report.errf("Header field width %d is out of range; using %d\n", fieldWidth, width);
  }

  TextOut out(sink);
  out.put("/*\\\n|*|\n");
  out.printf("|*| Banks               %5d\n", counters.banks);
  out.printf("|*| Instruments         %5d\n", counters.instruments);
  out.printf("|*| Sounds              %5d\n", counters.sounds);
  out.printf("|*| Reused References   %5d\n", counters.reusedRefs);
  out.printf("|*| Struct Count        %5d\n", counters.structCount - 1);
  out.put("\\*/\n\n");

  FieldPrinter printer(bank.table, out, width);
  const int32_t entries = std::min(counters.structCount, bank.table.size());
  for (int32_t i = 1; i < counters.structCount; ++i) {
    report.progressf("Dumping structs (%d of %d) to %s\r", i, counters.structCount - 1,
                     headerName.c_str());
    if (i < entries) writeEntry(bank.table[i], printer, out);
  }
  report.progress("\n");
  out.flush();
}

}  // namespace zaft
