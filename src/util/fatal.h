// The one way a run ends on an error. `fatal` formats the message and throws
// a FatalError; only the run driver catches it, prints the message on the
// error stream and gives status 1, so every output open at that moment is
// closed (and an unfinished one removed) by its destructor on the way out.
#pragma once

#include <cstdarg>
#include <stdexcept>
#include <string>

// printf-style checking of a function's format. The tool's formatting is
// the C99 one on every platform (on Windows through mingw-w64's own printf),
// which GCC calls gnu_printf (its plain printf is Microsoft's there); clang
// knows it as printf.
#if defined(__clang__)
#define ZAFT_PRINTF(formatAt, firstArg) __attribute__((format(printf, formatAt, firstArg)))
#else
#define ZAFT_PRINTF(formatAt, firstArg) __attribute__((format(gnu_printf, formatAt, firstArg)))
#endif

namespace zaft {

class FatalError : public std::runtime_error {
 public:
  explicit FatalError(const std::string& message) : std::runtime_error(message) {}
};

[[noreturn]] void fatal(const char* format, ...) ZAFT_PRINTF(1, 2);

// printf into a std::string.
std::string formatText(const char* format, ...) ZAFT_PRINTF(1, 2);
std::string formatTextV(const char* format, va_list args);

}  // namespace zaft
