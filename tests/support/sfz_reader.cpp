#include "support/sfz_reader.h"

#include <cctype>
#include <cstdlib>

namespace zaft::test {

std::string SfzRegion::text(const std::string& name, const std::string& fallback) const {
  const auto found = opcodes.find(name);
  return found == opcodes.end() ? fallback : found->second;
}

double SfzRegion::number(const std::string& name, double fallback) const {
  const auto found = opcodes.find(name);
  if (found == opcodes.end()) return fallback;
  char* end = nullptr;
  const double value = std::strtod(found->second.c_str(), &end);
  return end == found->second.c_str() ? fallback : value;
}

bool SfzRegion::plays(int key, int velocity) const {
  const double single = number("key", -1);
  const double lokey = number("lokey", single >= 0 ? single : 0);
  const double hikey = number("hikey", single >= 0 ? single : 127);
  return lokey <= key && key <= hikey && number("lovel", 1) <= velocity &&
         velocity <= number("hivel", 127);
}

double SfzRegion::centsAt(int key) const {
  const double centre = number("pitch_keycenter", number("key", 60));
  return (key - centre) * number("pitch_keytrack", 100) + number("transpose", 0) * 100 +
         number("tune", 0);
}

std::optional<std::pair<long, long>> SfzRegion::loop() const {
  const std::string mode = text("loop_mode", "no_loop");
  if (mode != "loop_continuous" && mode != "loop_sustain") return std::nullopt;
  return std::make_pair(static_cast<long>(number("loop_start", 0)),
                        static_cast<long>(number("loop_end", 0)) + 1);
}

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Whether an opcode ("name=") begins at `at`.
bool opcodeAt(const std::string& line, size_t at) {
  size_t k = at;
  while (k < line.size() && (std::isalnum(static_cast<unsigned char>(line[k])) || line[k] == '_')) ++k;
  return k > at && k < line.size() && line[k] == '=';
}

}  // namespace

std::optional<SfzFile> readSfz(const std::string& text, std::string& error) {
  enum Level { kNone, kControl, kGlobal, kMaster, kGroup, kRegion };
  std::map<std::string, std::string> levels[kRegion + 1];
  Level current = kNone;
  SfzFile file;
  const auto endRegion = [&] {
    if (current != kRegion) return;
    SfzRegion r;
    for (int l = kGlobal; l <= kRegion; ++l) {
      for (const auto& [name, value] : levels[l]) r.opcodes[name] = value;
    }
    file.regions.push_back(r);
  };
  size_t lineStart = 0;
  int lineNumber = 0;
  while (lineStart < text.size()) {
    ++lineNumber;
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    std::string line = text.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    if (const size_t comment = line.find("//"); comment != std::string::npos) line.resize(comment);
    size_t at = 0;
    while (true) {
      while (at < line.size() && isBlank(line[at])) ++at;
      if (at >= line.size()) break;
      if (line[at] == '<') {
        const size_t close = line.find('>', at);
        if (close == std::string::npos) {
          error = "unclosed header on line " + std::to_string(lineNumber);
          return std::nullopt;
        }
        const std::string header = line.substr(at + 1, close - at - 1);
        endRegion();
        static const std::map<std::string, Level> kHeaders = {
            {"control", kControl}, {"global", kGlobal}, {"master", kMaster},
            {"group", kGroup},     {"region", kRegion}};
        const auto found = kHeaders.find(header);
        if (found == kHeaders.end()) {
          error = "unknown header <" + header + "> on line " + std::to_string(lineNumber);
          return std::nullopt;
        }
        current = found->second;
        // A header starts its level afresh and every level below it.
        for (int l = current; l <= kRegion; ++l) levels[l].clear();
        at = close + 1;
        continue;
      }
      if (!opcodeAt(line, at)) {
        error = "no opcode at \"" + line.substr(at) + "\" on line " + std::to_string(lineNumber);
        return std::nullopt;
      }
      if (current == kNone) {
        error = "an opcode before any header on line " + std::to_string(lineNumber);
        return std::nullopt;
      }
      const size_t equals = line.find('=', at);
      const std::string name = line.substr(at, equals - at);
      // The value runs up to the blanks before the next opcode or header.
      size_t end = equals + 1;
      while (end < line.size()) {
        if (isBlank(line[end])) {
          size_t next = end;
          while (next < line.size() && isBlank(line[next])) ++next;
          if (next >= line.size() || line[next] == '<' || opcodeAt(line, next)) break;
          end = next;
        } else {
          ++end;
        }
      }
      levels[current][name] = line.substr(equals + 1, end - equals - 1);
      at = end;
    }
  }
  endRegion();
  return file;
}

}  // namespace zaft::test
