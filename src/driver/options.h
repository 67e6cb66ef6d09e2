// The command line: options are "/" plus one case-sensitive letter, with the
// value (when the option takes one) in the next argument. The last argument
// is the ROM file name and is looked at as an option too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/run_context.h"

namespace zaft {

void initRunSettings(RunSettings& settings, const std::vector<std::string>& args);

// Index of the first argument that is "/" followed by exactly `name`, or 0.
int findOption(const RunSettings& settings, const char* name);

// The value readers give back the option's index when it has an acceptable
// value (a next argument that is not the last-argument-only option and does
// not begin with "/"), else 0 and leave the destination untouched.
int optionText(const RunSettings& settings, const char* name, std::string& dest);
// "0x" prefix: hexadecimal (optional sign); no hex digit after it stores
// nothing but still counts. Anything else: decimal up to the first
// non-digit, 0 when there is none. A number outside the signed 32-bit range
// ends the run with a message naming the option and the value.
int optionInt(const RunSettings& settings, const char* name, int32_t& dest);
// A decimal real (sign, digits, fraction, exponent); 0.0 when the value does
// not begin with a number. A value too large for a double ends the run.
int optionReal(const RunSettings& settings, const char* name, double& dest);

// The value parsers on their own. parseOptionInt returns false when the value
// lies outside the signed 32-bit range; `stored` tells whether dest was set.
bool parseOptionInt(const std::string& text, int32_t& dest, bool& stored);
bool parseOptionReal(const std::string& text, double& dest);

}  // namespace zaft
