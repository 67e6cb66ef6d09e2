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

Settings parseOptions(const std::vector<std::string>& args, Reporter& report) {
  Settings s;
  const int last = static_cast<int>(args.size()) - 1;
  s.romPath = args[static_cast<size_t>(last)];
  if (int32_t tbl = 0; optionInt(args, "t", tbl) != 0) {
    refuseNegativeOffset(args, "t", tbl);
    s.tbl = SampleBlock{tbl, OffsetSource::Given};
  }
  s.verbose = findOption(args, "q") == 0;

  std::string text;
  if (optionText(args, "n", text) != 0) {
    if (text.size() > kMaxTemplateLength) {
      fatal("The /n template is too long (at most %zu characters): %s\n", kMaxTemplateLength,
            text.c_str());
    }
    s.nameTemplate = text;
  }
  optionInt(args, "f", s.fieldWidth);
  optionReal(args, "a", s.rateRatio);

  // The output folder may be an absolute path: a value that begins with "/"
  // is taken unless it looks like an option ("/" and one character).
  if (const int d = findOption(args, "d"); d != 0 && d < last) {
    const std::string& value = args[static_cast<size_t>(d + 1)];
    if (value.empty() || value[0] != '/' || value.size() > 2) {
      s.outputDir = value;
    } else {
      // "/" and one character reads as an option, and "/" alone as nothing:
      // said, rather than writing into the current folder in silence.
      report.errf("Warning: /d takes no value \"%s\" (it reads as an option); the files go into "
                  "the current folder\n",
                  value.c_str());
    }
  }

  // A path after /o or /j that begins with "/" is read as an option, not as
  // the file's name; say so rather than silently writing CONTROL.H, or no
  // JSON document at all.
  if (const int o = findOption(args, "o"); o != 0 && o < last) {
    const std::string& next = args[static_cast<size_t>(o + 1)];
    if (next.size() > 2 && next[0] == '/') {
      report.errf(
          "Warning: /o takes no value that begins with \"/\" (%s); the header keeps its "
          "default name\n",
          next.c_str());
    }
  }
  for (const auto& [letter, what] : {std::pair{"j", "JSON document"}, std::pair{"s", "soundfont"}}) {
    if (const int i = findOption(args, letter); i != 0 && i < last) {
      const std::string& next = args[static_cast<size_t>(i + 1)];
      if (next.size() > 2 && next[0] == '/') {
        report.errf(
            "Warning: /%s takes no value that begins with \"/\" (%s); no %s is written (name "
            "it inside the output folder, with /d for the folder)\n",
            letter, next.c_str(), what);
      } else if (next.empty() || next[0] == '/') {
        report.errf("Warning: /%s has no usable value (\"%s\" %s); no %s is written\n", letter,
                    next.c_str(), next.empty() ? "is no file name" : "reads as an option", what);
      }
    }
  }
  if (optionText(args, "o", text) != 0) {
    if (text.size() > kMaxHeaderNameLength) {
      fatal("The /o header name is too long (at most %zu characters): %s\n",
            kMaxHeaderNameLength, text.c_str());
    }
    s.headerName = text;
  }
  s.extractAll = findOption(args, "x") != 0;
  s.extractSequences = findOption(args, "m") != 0;
  s.samplerChunk = findOption(args, "l") != 0;
  optionText(args, "j", s.jsonName);
  optionText(args, "s", s.soundfontName);
  s.searchSampleBlock = findOption(args, "g") != 0;
  s.unlimitedOutput = findOption(args, "u") != 0;
  const unsigned cores = std::thread::hardware_concurrency();
  s.threads = std::clamp<int32_t>(static_cast<int32_t>(cores), 1, kDefaultThreads);
  if (optionInt(args, "p", s.threads) != 0 && (s.threads < 1 || s.threads > kMaxThreads)) {
    fatal("Value of /p must be between 1 and %d: %s\n", kMaxThreads,
          args[static_cast<size_t>(findOption(args, "p") + 1)].c_str());
  }
  s.ctlGiven = optionInt(args, "c", s.ctlOffset) != 0;
  if (s.ctlGiven) refuseNegativeOffset(args, "c", s.ctlOffset);
  return s;
}

}  // namespace zaft
