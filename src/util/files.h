// The file system as the tool sees it: which file a name resolves to, and
// the few platform file calls the tool makes (POSIX descriptors on Linux,
// handles and wide-character names on Windows). Names are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zaft {

// A file by its device and inode (on Windows, volume serial number and file
// index): two names that resolve to the same file have the same identity
// however they are spelled.
struct FileIdentity {
  bool known = false;
  uint64_t device = 0;
  uint64_t inode = 0;

  bool operator==(const FileIdentity& other) const {
    return known && other.known && device == other.device && inode == other.inode;
  }
};

// The file `path` resolves to (following symbolic links); unknown when
// there is none.
FileIdentity identityOf(const std::string& path);

// The same, and whether it is a folder, from one look at the file system.
struct PathStatus {
  FileIdentity identity;
  bool folder = false;
};
PathStatus statusOf(const std::string& path);

// Whether a folder (or a link to one) stands at `path`.
inline bool isFolder(const std::string& path) { return statusOf(path).folder; }

namespace os {

// An open file: a descriptor, or a Windows handle.
using Handle = intptr_t;
inline constexpr Handle kNoHandle = -1;

// Creates `path` for writing. Fails when anything at all stands at that name;
// never follows a symbolic link or other reparse point. On failure, `exists`
// tells whether that was the reason and `error` says why ("Permission
// denied").
Handle createNew(const std::string& path, bool& exists, std::string& error);
bool writeAll(Handle file, const uint8_t* data, size_t size, std::string& error);
bool closeFile(Handle file, std::string& error);
// Renames `from` onto `to`, replacing a file or link there (never what it
// points to).
bool replaceFile(const std::string& from, const std::string& to, std::string& error);
void removeFile(const std::string& path);
// The same from a signal handler: no allocation on Linux.
void removeFileNow(const char* path);
unsigned long processId();

// A file opened for reading. `size` is known for regular files only.
struct InputInfo {
  bool regular = false;
  bool folder = false;
  int64_t size = 0;
  FileIdentity identity;
};
Handle openForReading(const std::string& path, InputInfo& info);
// Up to `size` bytes; 0 at the end, -1 on an error.
int64_t readSome(Handle file, uint8_t* into, size_t size);
// A read-only view of the first `size` bytes of a regular file, or null;
// the file may be closed while the view lives.
const uint8_t* mapView(Handle file, size_t size);
void unmapView(const uint8_t* view, size_t size);
void closeInput(Handle file);

}  // namespace os

}  // namespace zaft
