#include "driver/options.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "driver/fatal.h"

namespace zaft {

void initRunSettings(RunSettings& settings, const std::vector<std::string>& args) {
  settings.argList = args;
  settings.argCount = static_cast<int32_t>(args.size());
  settings.verbose = 1;
}

int findOption(const RunSettings& settings, const char* name) {
  if (settings.argCount <= 1) return 0;
  for (int i = 1; i < settings.argCount; ++i) {
    const std::string& arg = settings.argList[static_cast<size_t>(i)];
    if (!arg.empty() && arg[0] == '/' && arg.compare(1, std::string::npos, name) == 0) return i;
  }
  return 0;
}

namespace {

// The index of the option's value argument, or 0 when it has none.
int valueIndex(const RunSettings& settings, const char* name) {
  int i = findOption(settings, name);
  if (i == 0) return 0;
  if (i == settings.argCount - 1) return 0;
  const std::string& value = settings.argList[static_cast<size_t>(i + 1)];
  if (!value.empty() && value[0] == '/') return 0;
  return i;
}

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

int optionText(const RunSettings& settings, const char* name, std::string& dest) {
  int i = valueIndex(settings, name);
  if (i != 0) dest = settings.argList[static_cast<size_t>(i + 1)];
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

int optionInt(const RunSettings& settings, const char* name, int32_t& dest) {
  int i = valueIndex(settings, name);
  if (i == 0) return 0;
  const std::string& value = settings.argList[static_cast<size_t>(i + 1)];
  bool stored = false;
  if (!parseOptionInt(value, dest, stored)) {
    fatal("Value of /%s is out of range (a signed 32-bit number is expected): %s\n", name,
          value.c_str());
  }
  return i;
}

int optionReal(const RunSettings& settings, const char* name, double& dest) {
  int i = valueIndex(settings, name);
  if (i == 0) return 0;
  const std::string& value = settings.argList[static_cast<size_t>(i + 1)];
  if (!parseOptionReal(value, dest)) {
    fatal("Value of /%s is out of range: %s\n", name, value.c_str());
  }
  return i;
}

}  // namespace zaft
