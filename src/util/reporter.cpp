#include "util/reporter.h"

#include <cstdarg>

#include "util/fatal.h"

namespace zaft {

void Reporter::outf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = formatTextV(format, args);
  va_end(args);
  out(text);
}

void Reporter::errf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = formatTextV(format, args);
  va_end(args);
  err(text);
}

void Reporter::progressf(const char* format, ...) {
  if (!verbose()) return;
  va_list args;
  va_start(args, format);
  const std::string text = formatTextV(format, args);
  va_end(args);
  out(text);
}

void ConsoleReporter::out(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  outPending_ = true;
}

void ConsoleReporter::err(std::string_view text) {
  if (outPending_) flush();
  std::fwrite(text.data(), 1, text.size(), err_);
}

void ConsoleReporter::flush() {
  std::fflush(out_);
  outPending_ = false;
}

std::string CollectingReporter::outText() const {
  std::string text;
  for (const Line& line : lines_) {
    if (!line.toErr) text += line.text;
  }
  return text;
}

std::string CollectingReporter::errText() const {
  std::string text;
  for (const Line& line : lines_) {
    if (line.toErr) text += line.text;
  }
  return text;
}

void CollectingReporter::replay(Reporter& to) const {
  for (const Line& line : lines_) {
    if (line.toErr) {
      to.err(line.text);
    } else {
      to.out(line.text);
    }
  }
}

}  // namespace zaft
