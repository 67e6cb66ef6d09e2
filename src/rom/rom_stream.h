// The ROM stream: the whole ROM image held in memory, read through a shared
// logical position, with big-endian field reads and control-block pointers.
//
// The image is loaded once (a ROM is at most a few tens of MiB) so no read
// costs a system call. After detectByteOrder every read, plain or swapping,
// delivers the console's byte order whatever layout the dump has:
//   80 37 12 40  console order (.z64), read as stored
//   37 80 40 12  each 16-bit unit's bytes exchanged (.v64)
//   40 12 37 80  each 32-bit word's bytes reversed (.n64)
// Any other start (a raw bank dump, a file under four bytes) is read as stored.
//
// Reads at or past the end of the file deliver zero for the missing bytes;
// the logical position may stand anywhere at or after 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zaft {

enum class ByteOrder { AsStored, Swapped16, Reversed32 };

const char* byteOrderName(ByteOrder order);

class RomStream {
 public:
  // The largest image the tool accepts: every offset must fit a signed
  // 32-bit number.
  static constexpr int64_t kMaxSize = 0x7FFFFFFF;

  RomStream() = default;
  explicit RomStream(std::vector<uint8_t> bytes, std::string path = std::string());
  ~RomStream();
  // A copy holds its own image in memory; a move takes the image along.
  RomStream(const RomStream& other);
  RomStream& operator=(const RomStream& other);
  RomStream(RomStream&& other) noexcept;
  RomStream& operator=(RomStream&& other) noexcept;

  int64_t size() const { return static_cast<int64_t>(size_); }
  const uint8_t* data() const { return data_; }
  const std::string& path() const { return path_; }

  // Whether `other` names the same file on disk as this ROM (same device and
  // inode, so a different spelling of the ROM's name is caught too).
  bool isSameFileAs(const std::string& other) const;

  // Copies up to `count` bytes at `offset` into `dest`, zero-filling whatever
  // lies outside the file. Returns the number of bytes that came from the
  // file. Does not move the logical position.
  size_t copyAt(int64_t offset, uint8_t* dest, size_t count) const;

  int64_t position = 0;
  uint8_t byteSwapped = 0;
  ByteOrder byteOrder = ByteOrder::AsStored;

 private:
  friend void detectByteOrder(RomStream& stream);
  friend std::unique_ptr<RomStream> openRom(const std::string& fileName);
  void setIdentity();
  void release();
  void takeFrom(RomStream& other) noexcept;

  // The image: either `bytes_` or a read-only mapping of the file (a dump
  // that needs reordering is copied into `bytes_` first).
  std::vector<uint8_t> bytes_;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  void* mapping_ = nullptr;
  std::string path_;
  bool haveIdentity_ = false;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
};

// Opens and loads the file; nullptr when it cannot be opened or read.
// Throws FatalError for a file larger than RomStream::kMaxSize.
std::unique_ptr<RomStream> openRom(const std::string& fileName);

// Recognises the dump's layout from its first four bytes and from then on
// delivers the console's byte order. Leaves the stream at position 4.
void detectByteOrder(RomStream& stream);

size_t readBytes(RomStream& stream, uint8_t* dest, size_t count);
uint8_t readByte(RomStream& stream);
uint16_t readBE16(RomStream& stream);
uint32_t readBE32(RomStream& stream);

bool seekTo(RomStream& stream, int64_t position);
bool seekBy(RomStream& stream, int64_t distance);
bool seekToEnd(RomStream& stream);
int64_t tellPos(const RomStream& stream);

// The scan's read. The image is already in the console's byte order, so this
// delivers the same bytes as readBytes; it returns the number of whole items
// that came from the file.
size_t readSwapped(RomStream& stream, uint8_t* dest, size_t itemSize, size_t itemCount);

// One followed control-block pointer.
struct CtlPointer {
  RomStream* stream = nullptr;
  int64_t resumeAt = 0;  // just after the four pointer bytes
  uint32_t offset = 0;   // as stored, relative to the control block; 0 is null
};

// Reads the pointer at the current position and moves to ctlOffset + pointer
// (32-bit two's-complement sum). A negative target ends the run with the
// bogus-pointer message; a target past the end of the file is accepted.
void followPointer(CtlPointer& pointer, RomStream& stream, int32_t ctlOffset);
void restorePointer(CtlPointer& pointer);

}  // namespace zaft
