// The one way a run ends on an error. `fatal` formats the message and throws
// a FatalError; only the run driver catches it, prints the message on the
// error stream and gives status 1, so every output file open at that moment
// is flushed and closed by its destructor on the way out.
#pragma once

#include <stdexcept>
#include <string>

namespace zaft {

class FatalError : public std::runtime_error {
 public:
  explicit FatalError(const std::string& message) : std::runtime_error(message) {}
};

[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

// printf into a std::string.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zaft
