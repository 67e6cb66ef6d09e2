// Windows only: UTF-8 names to the wide characters the file calls take, and
// a Windows error as the text the same failure gives on Linux.
#pragma once

#ifdef _WIN32

#include <string>

namespace zaft::win32 {

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);
// The text for GetLastError()'s `code`: the Linux wording for the failures
// both systems share ("Permission denied"), so that messages read the same
// on both; the system's own text for the rest.
std::string errorText(unsigned long code);

}  // namespace zaft::win32

#endif
