#include "util/files.h"

namespace zaft {

FileIdentity identityOf(const std::string& path) { return statusOf(path).identity; }

}  // namespace zaft
