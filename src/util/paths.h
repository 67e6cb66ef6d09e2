// Path spelling as the platform reads it. On Windows both '\' and '/'
// separate folders and "C:\out", "C:/out" and "\\server\share" are absolute;
// elsewhere only '/' separates, and a '\' is part of a name.
//
// Paths are UTF-8 text throughout the tool; fsPath hands one to
// std::filesystem so that a name outside ASCII reaches the file system as the
// same characters on every platform (the narrow spelling would go through
// the Windows code page).
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace zaft {

#ifdef _WIN32
inline constexpr bool kBackslashSeparates = true;
#else
inline constexpr bool kBackslashSeparates = false;
#endif

// Whether the file system takes "a.wav" and "A.WAV" for one name, as
// Windows' does.
inline constexpr bool kNamesIgnoreCase = kBackslashSeparates;

inline bool isPathSeparator(char c) { return c == '/' || (kBackslashSeparates && c == '\\'); }

// The position of the last separator in `path`, or npos.
inline size_t lastSeparator(const std::string& path) {
  return path.find_last_of(kBackslashSeparates ? "/\\" : "/");
}

// Whether `path` names the same file whatever the working folder is.
inline bool isAbsolutePath(const std::string& path) {
  if (path.empty()) return false;
  if (isPathSeparator(path[0])) return true;
  return kBackslashSeparates && path.size() >= 3 && path[1] == ':' && isPathSeparator(path[2]);
}

// A name as the file system compares it: ASCII letters folded where case
// is ignored (other letters are compared as they are).
inline std::string comparableName(std::string name) {
  if (kNamesIgnoreCase) {
    for (char& c : name) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return name;
}

inline std::filesystem::path fsPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A path as UTF-8 with '/' separators.
inline std::string utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace zaft
