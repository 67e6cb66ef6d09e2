#include "driver/fatal.h"

#include <cstdarg>
#include <cstdio>

namespace zaft {

namespace {

std::string vformatText(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed <= 0) return std::string();
  std::string text(static_cast<size_t>(needed), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

}  // namespace

void fatal(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = vformatText(format, args);
  va_end(args);
  throw FatalError(message);
}

std::string formatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformatText(format, args);
  va_end(args);
  return text;
}

}  // namespace zaft
