#include "util/fatal.h"

#include <cstdio>

namespace zaft {

std::string formatTextV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed <= 0) return std::string();
  std::string text(static_cast<size_t>(needed), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

void fatal(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = formatTextV(format, args);
  va_end(args);
  throw FatalError(message);
}

std::string formatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = formatTextV(format, args);
  va_end(args);
  return text;
}

}  // namespace zaft
