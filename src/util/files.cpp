#include "util/files.h"

#include <sys/stat.h>

namespace zaft {

FileIdentity identityOf(const std::string& path) { return statusOf(path).identity; }

PathStatus statusOf(const std::string& path) {
  struct stat info;
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return PathStatus{};
  return PathStatus{
      FileIdentity{true, static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)},
      S_ISDIR(info.st_mode)};
}

}  // namespace zaft
