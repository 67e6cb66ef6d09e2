// The file system as the tool sees it: which file a name resolves to.
#pragma once

#include <cstdint>
#include <string>

namespace zaft {

// A file by its device and inode: two names that resolve to the same file
// have the same identity however they are spelled.
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

}  // namespace zaft
