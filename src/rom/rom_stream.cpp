#include "rom/rom_stream.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "driver/fatal.h"
#include "rom/endian.h"

namespace zaft {

namespace {
// Input that is not a regular file (a pipe, a device) is read up to this.
constexpr int64_t kMaxStreamedSize = int64_t{128} << 20;
}  // namespace

const char* byteOrderName(ByteOrder order) {
  switch (order) {
    case ByteOrder::Swapped16: return "byte-swapped (v64)";
    case ByteOrder::Reversed32: return "little-endian (n64)";
    case ByteOrder::AsStored: break;
  }
  return "as stored";
}

RomStream::RomStream(std::vector<uint8_t> bytes, std::string path)
    : bytes_(std::move(bytes)), path_(std::move(path)) {
  data_ = bytes_.data();
  size_ = bytes_.size();
  setIdentity();
}

RomStream::~RomStream() { release(); }

void RomStream::release() {
  if (mapping_ != nullptr) ::munmap(mapping_, size_);
  mapping_ = nullptr;
  bytes_.clear();
  data_ = nullptr;
  size_ = 0;
}

RomStream::RomStream(const RomStream& other) { *this = other; }

RomStream& RomStream::operator=(const RomStream& other) {
  if (this == &other) return *this;
  release();
  bytes_.assign(other.data_, other.data_ + other.size_);
  data_ = bytes_.data();
  size_ = bytes_.size();
  position = other.position;
  byteSwapped = other.byteSwapped;
  byteOrder = other.byteOrder;
  path_ = other.path_;
  haveIdentity_ = other.haveIdentity_;
  device_ = other.device_;
  inode_ = other.inode_;
  return *this;
}

void RomStream::takeFrom(RomStream& other) noexcept {
  bytes_ = std::move(other.bytes_);
  mapping_ = other.mapping_;
  size_ = other.size_;
  data_ = mapping_ != nullptr ? other.data_ : bytes_.data();
  position = other.position;
  byteSwapped = other.byteSwapped;
  byteOrder = other.byteOrder;
  path_ = std::move(other.path_);
  haveIdentity_ = other.haveIdentity_;
  device_ = other.device_;
  inode_ = other.inode_;
  other.mapping_ = nullptr;
  other.data_ = nullptr;
  other.size_ = 0;
}

RomStream::RomStream(RomStream&& other) noexcept { takeFrom(other); }

RomStream& RomStream::operator=(RomStream&& other) noexcept {
  if (this != &other) {
    release();
    takeFrom(other);
  }
  return *this;
}

void RomStream::setIdentity() {
  struct stat info;
  if (!path_.empty() && ::stat(path_.c_str(), &info) == 0) {
    haveIdentity_ = true;
    device_ = static_cast<uint64_t>(info.st_dev);
    inode_ = static_cast<uint64_t>(info.st_ino);
  }
}

bool RomStream::isSameFileAs(const std::string& other) const {
  if (!haveIdentity_) return false;
  struct stat info;
  if (::stat(other.c_str(), &info) != 0) return false;
  return static_cast<uint64_t>(info.st_dev) == device_ &&
         static_cast<uint64_t>(info.st_ino) == inode_;
}

size_t RomStream::copyAt(int64_t offset, uint8_t* dest, size_t count) const {
  std::memset(dest, 0, count);
  const int64_t fileSize = size();
  if (offset >= fileSize || count == 0) return 0;
  int64_t begin = offset;
  size_t skip = 0;
  if (begin < 0) {
    if (-begin >= static_cast<int64_t>(count)) return 0;
    skip = static_cast<size_t>(-begin);
    begin = 0;
  }
  size_t available = static_cast<size_t>(fileSize - begin);
  size_t n = std::min(count - skip, available);
  std::memcpy(dest + skip, data_ + begin, n);
  return n;
}

std::unique_ptr<RomStream> openRom(const std::string& fileName) {
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  if (S_ISREG(info.st_mode) && info.st_size > RomStream::kMaxSize) {
    ::close(fd);
    fatal("ROM file %s is too large (%lld bytes; at most %lld are supported)\n", fileName.c_str(),
          static_cast<long long>(info.st_size), static_cast<long long>(RomStream::kMaxSize));
  }
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    // A private mapping: no copy, pages come straight from the page cache.
    const size_t size = static_cast<size_t>(info.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (map != MAP_FAILED) {
      ::close(fd);
      auto rom = std::make_unique<RomStream>(std::vector<uint8_t>(), fileName);
      rom->mapping_ = map;
      rom->data_ = static_cast<uint8_t*>(map);
      rom->size_ = size;
      return rom;
    }
  }
  // Pipes and files that cannot be mapped: large reads into a buffer, up to
  // a bound far above any cartridge, so that an endless source (/dev/zero)
  // is refused before it takes the machine's memory.
  const int64_t limit = S_ISREG(info.st_mode) ? RomStream::kMaxSize : kMaxStreamedSize;
  std::vector<uint8_t> bytes;
  constexpr size_t kChunk = 1 << 20;
  std::vector<uint8_t> chunk(kChunk);
  for (;;) {
    ssize_t got = ::read(fd, chunk.data(), kChunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return nullptr;
    }
    if (got == 0) break;
    if (static_cast<int64_t>(bytes.size()) + got > limit) {
      ::close(fd);
      fatal("ROM file %s is too large (at most %lld bytes are supported)\n", fileName.c_str(),
            static_cast<long long>(limit));
    }
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
  }
  ::close(fd);
  return std::make_unique<RomStream>(std::move(bytes), fileName);
}

void detectByteOrder(RomStream& stream) {
  stream.position = 0;
  uint8_t magic[4];
  readBytes(stream, magic, 4);
  const bool whole = stream.size() >= 4;
  const uint32_t value = loadBE32(magic);
  const bool reorder = whole && (value == 0x37804012 || value == 0x40123780);
  if (reorder && stream.mapping_ != nullptr) {
    // The mapping is read-only: the reordered image lives in memory of its own.
    stream.bytes_.assign(stream.data_, stream.data_ + stream.size_);
    ::munmap(stream.mapping_, stream.size_);
    stream.mapping_ = nullptr;
    stream.data_ = stream.bytes_.data();
  }
  uint8_t* bytes = stream.data_;
  const size_t n = stream.size_;
  if (whole && value == 0x37804012) {
    stream.byteSwapped = 1;
    stream.byteOrder = ByteOrder::Swapped16;
    for (size_t i = 0; i + 1 < n; i += 2) std::swap(bytes[i], bytes[i + 1]);
    // A last byte without a partner: the position it would move to lies past
    // the end, and its own place has no partner to take from.
    if (n % 2 == 1) bytes[n - 1] = 0;
  } else if (whole && value == 0x40123780) {
    stream.byteOrder = ByteOrder::Reversed32;
    size_t whole4 = n - n % 4;
    for (size_t i = 0; i < whole4; i += 4) {
      std::swap(bytes[i], bytes[i + 3]);
      std::swap(bytes[i + 1], bytes[i + 2]);
    }
    // Tail of 1 to 3 bytes: the position 4k + j takes file byte 4k + 3 - j,
    // which does not exist for the low positions.
    size_t tail = n - whole4;
    if (tail > 0) {
      uint8_t old[3] = {0, 0, 0};
      for (size_t j = 0; j < tail; ++j) old[j] = bytes[whole4 + j];
      for (size_t j = 0; j < tail; ++j) {
        size_t from = 3 - j;
        bytes[whole4 + j] = from < tail ? old[from] : 0;
      }
    }
  }
  stream.position = 4;
}

size_t readBytes(RomStream& stream, uint8_t* dest, size_t count) {
  size_t got = stream.copyAt(stream.position, dest, count);
  stream.position += static_cast<int64_t>(count);
  return got;
}

uint8_t readByte(RomStream& stream) {
  uint8_t b;
  readBytes(stream, &b, 1);
  return b;
}

uint16_t readBE16(RomStream& stream) {
  uint8_t b[2];
  readBytes(stream, b, 2);
  return loadBE16(b);
}

uint32_t readBE32(RomStream& stream) {
  uint8_t b[4];
  readBytes(stream, b, 4);
  return loadBE32(b);
}

bool seekTo(RomStream& stream, int64_t position) {
  if (position < 0) return false;
  stream.position = position;
  return true;
}

bool seekBy(RomStream& stream, int64_t distance) {
  return seekTo(stream, stream.position + distance);
}

bool seekToEnd(RomStream& stream) {
  stream.position = stream.size();
  return true;
}

int64_t tellPos(const RomStream& stream) { return stream.position; }

size_t readSwapped(RomStream& stream, uint8_t* dest, size_t itemSize, size_t itemCount) {
  size_t total = itemSize * itemCount;
  if (total == 0) return 0;
  size_t got = readBytes(stream, dest, total);
  return got / itemSize;
}

void followPointer(CtlPointer& pointer, RomStream& stream, int32_t ctlOffset) {
  pointer.stream = &stream;
  pointer.offset = readBE32(stream);
  pointer.resumeAt = tellPos(stream);
  const int32_t target =
      static_cast<int32_t>(static_cast<uint32_t>(ctlOffset) + pointer.offset);
  if (!seekTo(stream, target)) {
    fatal("\nAbnormal termination. Bogus pointer found: Offset %06X - Ptr %08X\n",
          static_cast<unsigned>(pointer.resumeAt), pointer.offset);
  }
}

void restorePointer(CtlPointer& pointer) {
  if (pointer.stream != nullptr) seekTo(*pointer.stream, pointer.resumeAt);
}

}  // namespace zaft
