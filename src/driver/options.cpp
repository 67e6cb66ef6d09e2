#include "driver/options.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "util/fatal.h"

namespace zaft {

int findOption(const std::vector<std::string>& args, const char* name) {
  const int count = static_cast<int>(args.size());
  if (count <= 1) return 0;
  for (int i = 1; i < count; ++i) {
    const std::string& arg = args[static_cast<size_t>(i)];
    if (!arg.empty() && arg[0] == '/' && arg.compare(1, std::string::npos, name) == 0) return i;
  }
  return 0;
}

namespace {

// The index of the option's value argument, or 0 when it has none.
int valueIndex(const std::vector<std::string>& args, const char* name) {
  const int i = findOption(args, name);
  if (i == 0) return 0;
  if (i == static_cast<int>(args.size()) - 1) return 0;
  const std::string& value = args[static_cast<size_t>(i + 1)];
  if (!value.empty() && value[0] == '/') return 0;
  return i;
}

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

int optionText(const std::vector<std::string>& args, const char* name, std::string& dest) {
  const int i = valueIndex(args, name);
  if (i != 0) dest = args[static_cast<size_t>(i + 1)];
  return i;
}

bool parseOptionInt(const std::string& text, int32_t& dest, bool& stored) {
  stored = false;
  size_t pos = 0;
  int base = 10;
  if (text.size() >= 2 && text[0] == '0' && text[1] == 'x') {
    base = 16;
    pos = 2;
  }
  while (pos < text.size() && isSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  int64_t magnitude = 0;
  bool anyDigit = false;
  bool tooLarge = false;
  for (; pos < text.size(); ++pos) {
    char c = text[pos];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    anyDigit = true;
    if (!tooLarge) {
      magnitude = magnitude * base + digit;
      if (magnitude > 0x80000000LL) tooLarge = true;
    }
  }
  if (!anyDigit) {
    // "0x" with no hexadecimal digit stores nothing; a decimal value without
    // leading digits stores 0.
    if (base == 10) {
      dest = 0;
      stored = true;
    }
    return true;
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (tooLarge || value > INT32_MAX || value < INT32_MIN) return false;
  dest = static_cast<int32_t>(value);
  stored = true;
  return true;
}

bool parseOptionReal(const std::string& text, double& dest) {
  // Only a plain decimal number is accepted: strtod would also take "inf",
  // "nan" and hexadecimal floats.
  size_t pos = 0;
  while (pos < text.size() && isSpace(text[pos])) ++pos;
  size_t p = pos;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) ++p;
  bool number = p < text.size() &&
                (std::isdigit(static_cast<unsigned char>(text[p])) ||
                 (text[p] == '.' && p + 1 < text.size() &&
                  std::isdigit(static_cast<unsigned char>(text[p + 1]))));
  if (!number) {
    dest = 0.0;
    return true;
  }
  // Stop before a hexadecimal prefix: "0x1p3" reads as 0.
  std::string plain = text.substr(pos);
  size_t digitsAt = (plain[0] == '+' || plain[0] == '-') ? 1 : 0;
  if (plain.size() > digitsAt + 1 && plain[digitsAt] == '0' &&
      (plain[digitsAt + 1] == 'x' || plain[digitsAt + 1] == 'X')) {
    plain.resize(digitsAt + 1);
  }
  double value = std::strtod(plain.c_str(), nullptr);
  if (!std::isfinite(value)) return false;
  dest = value;
  return true;
}

int optionInt(const std::vector<std::string>& args, const char* name, int32_t& dest) {
  const int i = valueIndex(args, name);
  if (i == 0) return 0;
  const std::string& value = args[static_cast<size_t>(i + 1)];
  bool stored = false;
  if (!parseOptionInt(value, dest, stored)) {
    fatal("Value of /%s is out of range (a signed 32-bit number is expected): %s\n", name,
          value.c_str());
  }
  return i;
}

int optionReal(const std::vector<std::string>& args, const char* name, double& dest) {
  const int i = valueIndex(args, name);
  if (i == 0) return 0;
  const std::string& value = args[static_cast<size_t>(i + 1)];
  if (!parseOptionReal(value, dest)) {
    fatal("Value of /%s is out of range: %s\n", name, value.c_str());
  }
  return i;
}

namespace {

constexpr size_t kMaxTemplateLength = 31;
constexpr size_t kMaxHeaderNameLength = 127;

void refuseNegativeOffset(const std::vector<std::string>& args, const char* name, int32_t value) {
  if (value < 0) {
    const int i = findOption(args, name);
    fatal("Offset given with /%s must not be negative: %s\n", name,
          args[static_cast<size_t>(i + 1)].c_str());
  }
}

}  // namespace

namespace {

// One option as the command line gives it, for the row that reads it.
struct Given {
  const std::vector<std::string>& args;
  const char* name;  // the option's letter
  Reporter& report;
  // The argument after the option, or nullptr when the option is missing
  // or the last argument (the ROM's name).
  const std::string* next() const {
    const int i = findOption(args, name);
    if (i == 0 || i == static_cast<int>(args.size()) - 1) return nullptr;
    return &args[static_cast<size_t>(i + 1)];
  }
  bool present() const { return findOption(args, name) != 0; }
};

// The output folder may be an absolute path: a value that begins with "/" is
// taken unless it looks like an option ("/" and one character).
bool isFolderValue(const std::string& value) {
  return value.empty() || value[0] != '/' || value.size() > 2;
}

void readTbl(const Given& g, Settings& s) {
  if (int32_t tbl = 0; optionInt(g.args, g.name, tbl) != 0) {
    refuseNegativeOffset(g.args, g.name, tbl);
    s.tbl = SampleBlock{tbl, OffsetSource::Given};
  }
}

void readCtl(const Given& g, Settings& s) {
  s.ctlGiven = optionInt(g.args, g.name, s.ctlOffset) != 0;
  if (s.ctlGiven) refuseNegativeOffset(g.args, g.name, s.ctlOffset);
}

void readTemplate(const Given& g, Settings& s) {
  std::string text;
  if (optionText(g.args, g.name, text) == 0) return;
  if (text.size() > kMaxTemplateLength) {
    fatal("The /n template is too long (at most %zu characters): %s\n", kMaxTemplateLength,
          text.c_str());
  }
  s.nameTemplate = text;
}

void readHeaderName(const Given& g, Settings& s) {
  std::string text;
  if (optionText(g.args, g.name, text) == 0) return;
  if (text.size() > kMaxHeaderNameLength) {
    fatal("The /o header name is too long (at most %zu characters): %s\n", kMaxHeaderNameLength,
          text.c_str());
  }
  s.headerName = text;
}

void readThreads(const Given& g, Settings& s) {
  const unsigned cores = std::thread::hardware_concurrency();
  s.threads = std::clamp<int32_t>(static_cast<int32_t>(cores), 1, kDefaultThreads);
  if (optionInt(g.args, g.name, s.threads) != 0 && (s.threads < 1 || s.threads > kMaxThreads)) {
    fatal("Value of /p must be between 1 and %d: %s\n", kMaxThreads, g.next()->c_str());
  }
}

void readFolder(const Given& g, Settings& s) {
  if (const std::string* value = g.next(); value != nullptr && isFolderValue(*value)) {
    s.outputDir = *value;
  }
}

// "/" and one character reads as an option, and "/" alone as nothing: said,
// rather than writing into the current folder in silence.
void warnFolder(const Given& g) {
  if (const std::string* value = g.next(); value != nullptr && !isFolderValue(*value)) {
    g.report.errf("Warning: /d takes no value \"%s\" (it reads as an option); the files go into "
                  "the current folder\n",
                  value->c_str());
  }
}

// A path after /o, /j or /s that begins with "/" is read as an option, not
// as the file's name; said rather than silently writing CONTROL.H, or no
// document at all.
void warnHeaderName(const Given& g) {
  if (const std::string* next = g.next(); next != nullptr && next->size() > 2 && (*next)[0] == '/') {
    g.report.errf(
        "Warning: /o takes no value that begins with \"/\" (%s); the header keeps its default "
        "name\n",
        next->c_str());
  }
}

void warnOutputName(const Given& g, const char* what) {
  const std::string* next = g.next();
  if (next == nullptr) return;
  if (next->size() > 2 && (*next)[0] == '/') {
    g.report.errf(
        "Warning: /%s takes no value that begins with \"/\" (%s); no %s is written (name it "
        "inside the output folder, with /d for the folder)\n",
        g.name, next->c_str(), what);
  } else if (next->empty() || (*next)[0] == '/') {
    g.report.errf("Warning: /%s has no usable value (\"%s\" %s); no %s is written\n", g.name,
                  next->c_str(), next->empty() ? "is no file name" : "reads as an option", what);
  }
}

// Every option the tool takes, one row each, in the order they are read:
// what they say comes out in this order. Each row's `warn` runs once every
// row not read `late` has been read; the `late` rows are read after them.
void readRender(const Given& g, Settings& s) {
  std::string text;
  if (optionText(g.args, g.name, text) != 0) s.render = parseRenderSettings(text);
}

struct OptionRow {
  char letter;
  const char* value;  // the value's name in the usage text; nullptr for a switch
  void (*read)(const Given&, Settings&);  // what the option sets
  void (*warn)(const Given&) = nullptr;   // says when a value reads as an option
  bool late = false;
  // Its lines in the usage text (lines apart by "\n"); nullptr for the first
  // seven options, whose lines are fixed text.
  const char* usage = nullptr;
};

const OptionRow kOptions[] = {
    {'t', "offset", readTbl},
    {'q', nullptr, [](const Given& g, Settings& s) { s.verbose = !g.present(); }},
    {'n', "template", readTemplate},
    {'f', "width", [](const Given& g, Settings& s) { optionInt(g.args, g.name, s.fieldWidth); }},
    {'a', "ratio", [](const Given& g, Settings& s) { optionReal(g.args, g.name, s.rateRatio); }},
    {'d', "dir", readFolder, warnFolder, false,
     "Output folder, created when missing. Default = current folder"},
    {'o', "header", readHeaderName, warnHeaderName, true},
    {'x', nullptr, [](const Given& g, Settings& s) { s.extractAll = g.present(); }, nullptr, false,
     "Extract every bank file found, each into a folder CTL_xxxxxx"},
    {'l', nullptr, [](const Given& g, Settings& s) { s.samplerChunk = g.present(); }, nullptr,
     false, "Add loop points and root key to WAV files (a \"smpl\" chunk)"},
    {'j', "file", [](const Given& g, Settings& s) { optionText(g.args, g.name, s.jsonName); },
     [](const Given& g) { warnOutputName(g, "JSON document"); }, false,
     "Also describe the bank file as a JSON document"},
    {'g', nullptr, [](const Given& g, Settings& s) { s.searchSampleBlock = g.present(); }, nullptr,
     false, "Search the ROM for the sample block when the guess does not fit"},
    {'s', "file", [](const Given& g, Settings& s) { optionText(g.args, g.name, s.soundfontName); },
     [](const Given& g) { warnOutputName(g, "soundfont"); }, false,
     "Also write the instruments as a SoundFont 2 file"},
    {'z', "file", [](const Given& g, Settings& s) { optionText(g.args, g.name, s.sfzName); },
     [](const Given& g) { warnOutputName(g, "SFZ file"); }, false,
     "Also write the instruments as an SFZ file over the WAV files"},
    {'i', "file", [](const Given& g, Settings& s) { optionText(g.args, g.name, s.instName); },
     [](const Given& g) { warnOutputName(g, "instrument source"); }, false,
     "Also write the bank file as the instrument compiler's source, with an AIFC\n"
     "file per wave beside it"},
    {'m', nullptr, [](const Given& g, Settings& s) { s.extractSequences = g.present(); }, nullptr,
     false, "Extract every sequence bank found, each into a folder SEQ_xxxxxx"},
    {'u', nullptr, [](const Given& g, Settings& s) { s.unlimitedOutput = g.present(); }, nullptr,
     false,
     "No limit on what the run writes (default: 64 times the ROM's size, at least\n"
     "512 MiB, and 100,000 files and folders)"},
    {'p', "threads", readThreads, nullptr, true,
     "Threads that decode WAV files, one of them also writing (1: a single\n"
     "thread does all). Default = one per core, at most 4"},
    {'r', "settings", readRender, nullptr, false,
     "Also render each sequence as the console plays it, to NNN.wav beside\n"
     "NNN.mid: \"default\", or settings such as bank=OFFSET:N,rate=HZ,fx=echo\n"
     "(bank, rate, fx, voices, loops, seconds, stems: see the README)"},
    {'c', "offset", readCtl, nullptr, true},
};

}  // namespace

RenderRequest parseRenderSettings(const std::string& text) {
  RenderRequest r;
  if (text == "default") return r;
  size_t from = 0;
  while (from <= text.size()) {
    size_t end = text.find(',', from);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(from, end - from);
    from = end + 1;
    const size_t eq = pair.find('=');
    const std::string key = pair.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : pair.substr(eq + 1);
    const auto bad = [&](const char* why) {
      fatal("Invalid /r setting \"%s\": %s\n", pair.c_str(), why);
    };
    // A whole number in [lo, hi], decimal or 0x hexadecimal.
    const auto whole = [&](const std::string& v, int64_t lo, int64_t hi) {
      const bool hex = v.rfind("0x", 0) == 0;
      for (char c : v.substr(hex ? 2 : 0)) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!(hex ? std::isxdigit(u) : std::isdigit(u))) bad("not a number");
      }
      int32_t n = 0;
      bool stored = false;
      if (v.empty() || !parseOptionInt(v, n, stored) || !stored || n < lo || n > hi) {
        bad(formatText("a whole number from %lld to %lld is wanted", static_cast<long long>(lo),
                       static_cast<long long>(hi)).c_str());
      }
      return n;
    };
    if (eq == std::string::npos) bad("key=value is wanted");
    if (key == "bank") {
      const size_t colon = value.find(':');
      r.bankOffset = whole(value.substr(0, colon), 0, INT32_MAX);
      if (colon != std::string::npos) r.bankIndex = whole(value.substr(colon + 1), 0, 127);
    } else if (key == "rate") {
      r.rate = whole(value, 1000, 192000);
    } else if (key == "fx") {
      static const char* const kFx[] = {"none", "smallroom", "bigroom", "chorus", "flange", "echo"};
      if (std::find(std::begin(kFx), std::end(kFx), value) == std::end(kFx)) {
        bad("one of none, smallroom, bigroom, chorus, flange, echo is wanted");
      }
      r.fx = value;
    } else if (key == "voices") {
      r.voices = whole(value, 1, 64);
    } else if (key == "loops") {
      r.loops = whole(value, 1, 100);
    } else if (key == "seconds") {
      double v = 0;
      if (!parseOptionReal(value, v) || !(v > 0) || v > 86400) bad("seconds from above 0 to 86400 are wanted");
      r.seconds = v;
    } else if (key == "stems") {
      if (value != "0" && value != "1") bad("0 or 1 is wanted");
      r.stems = value == "1";
    } else {
      bad("unknown key (bank, rate, fx, voices, loops, seconds, stems)");
    }
  }
  return r;
}

Settings parseOptions(const std::vector<std::string>& args, Reporter& report) {
  Settings s;
  s.romPath = args.back();
  const auto each = [&](auto&& step) {
    for (const OptionRow& row : kOptions) {
      const char name[2] = {row.letter, '\0'};
      step(row, Given{args, name, report});
    }
  };
  each([&](const OptionRow& row, const Given& g) { if (!row.late) row.read(g, s); });
  each([&](const OptionRow& row, const Given& g) { if (row.warn) row.warn(g); });
  each([&](const OptionRow& row, const Given& g) { if (row.late) row.read(g, s); });
  return s;
}

std::string optionUsageLines() {
  constexpr size_t kValueColumn = 10;  // "/x" and the value's name take this many
  std::string lines;
  for (const OptionRow& row : kOptions) {
    if (row.usage == nullptr) continue;
    std::string head = std::string(" ") + (row.value ? row.value : "");
    head.resize(std::max(kValueColumn, head.size() + 1), ' ');
    lines += std::string("  /") + row.letter + head;
    for (const char* c = row.usage; *c != '\0'; ++c) {
      lines += *c;
      if (*c == '\n') lines += std::string(kValueColumn + 4, ' ');
    }
    lines += '\n';
  }
  return lines;
}

std::vector<std::string> optionForms() {
  std::vector<std::string> forms;
  for (const OptionRow& row : kOptions) {
    forms.push_back(std::string("/") + row.letter + (row.value ? std::string(" ") + row.value : ""));
  }
  return forms;
}

}  // namespace zaft
