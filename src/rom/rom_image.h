// The ROM image: the whole file held in memory (mapped read-only, or copied
// when its layout needs reordering) in the console's byte order, with the
// identity of the file it came from.
//
// After detectByteOrder every byte delivers the console's order whatever
// layout the dump has:
//   80 37 12 40  console order (.z64), read as stored
//   37 80 40 12  each 16-bit unit's bytes exchanged (.v64)
//   40 12 37 80  each 32-bit word's bytes reversed (.n64)
// Any other start (a raw bank dump, a file under four bytes) is read as stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/files.h"

namespace zaft {

enum class ByteOrder { AsStored, Swapped16, Reversed32 };

class RomImage {
 public:
  // The largest file the tool reads: the largest cartridge holds 64 MiB, so
  // anything far beyond is no ROM (a 2 GiB sparse file would otherwise take
  // 2 GiB of memory). Refused before it is read.
  static constexpr int64_t kMaxSize = int64_t{256} << 20;

  RomImage() = default;
  // An image held in memory (tests, and input that could not be mapped).
  explicit RomImage(std::vector<uint8_t> bytes, std::string path = std::string());
  ~RomImage();
  RomImage(const RomImage&) = delete;
  RomImage& operator=(const RomImage&) = delete;

  int64_t size() const { return static_cast<int64_t>(size_); }
  const uint8_t* data() const { return data_; }
  const std::string& path() const { return path_; }
  ByteOrder byteOrder() const { return byteOrder_; }
  // The file the image was read from (device and inode), when known.
  const FileIdentity& identity() const { return identity_; }

  // Copies up to `count` bytes at `offset` into `dest`, zero-filling whatever
  // lies outside the file. Returns the number of bytes that came from the
  // file.
  size_t copyAt(int64_t offset, uint8_t* dest, size_t count) const;

 private:
  friend void detectByteOrder(RomImage& rom);
  friend std::unique_ptr<RomImage> openRom(const std::string& fileName);

  // Either `bytes_` or a read-only mapping of the file.
  std::vector<uint8_t> bytes_;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  const uint8_t* mapping_ = nullptr;
  std::string path_;
  ByteOrder byteOrder_ = ByteOrder::AsStored;
  FileIdentity identity_;
};

// Opens and loads the file; nullptr when it cannot be opened or read.
// Throws FatalError for a file larger than RomImage::kMaxSize, naming its size.
std::unique_ptr<RomImage> openRom(const std::string& fileName);

// Recognises the dump's layout from its first four bytes and puts the image
// into the console's byte order.
void detectByteOrder(RomImage& rom);

}  // namespace zaft
