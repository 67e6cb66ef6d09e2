// A file that appears whole or not at all. Its bytes go to a new temporary
// file in the final folder (created exclusively, never through a symbolic
// link or other reparse point), which is renamed onto the final name only once it is complete and
// closed. So a link, FIFO or device at the final name is replaced, never
// written through, and an interrupted or failed write leaves nothing under
// the final name. A signal that ends the run removes the temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "util/files.h"

namespace zaft {

class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();  // an unfinished file's temporary file is removed
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file for `path`. False when it cannot be made;
  // error() then says why ("Permission denied").
  bool create(const std::string& path);
  // False when the bytes could not all be written.
  bool write(const uint8_t* data, size_t size);
  // Closes the file and renames it onto its path. False when either fails;
  // the temporary file is removed either way.
  bool commit();

  const std::string& error() const { return error_; }

 private:
  void discard();

  std::string path_;
  std::string temp_;
  os::Handle file_ = os::kNoHandle;
  int slot_ = -1;
  std::string error_;
};

}  // namespace zaft
