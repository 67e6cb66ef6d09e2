#include "rom/rom_image.h"

#include <algorithm>
#include <cstring>

#include "util/endian.h"
#include "util/fatal.h"
#include "util/files.h"

namespace zaft {

namespace {
// Input that is not a regular file (a pipe, a device) is read up to this.
constexpr int64_t kMaxStreamedSize = int64_t{128} << 20;
}  // namespace

RomImage::RomImage(std::vector<uint8_t> bytes, std::string path)
    : bytes_(std::move(bytes)), path_(std::move(path)) {
  data_ = bytes_.data();
  size_ = bytes_.size();
  if (!path_.empty()) identity_ = identityOf(path_);
}

RomImage::~RomImage() {
  if (mapping_ != nullptr) os::unmapView(mapping_, size_);
}

size_t RomImage::copyAt(int64_t offset, uint8_t* dest, size_t count) const {
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
  const size_t available = static_cast<size_t>(fileSize - begin);
  const size_t n = std::min(count - skip, available);
  std::memcpy(dest + skip, data_ + begin, n);
  return n;
}

std::unique_ptr<RomImage> openRom(const std::string& fileName) {
  os::InputInfo info;
  const os::Handle file = os::openForReading(fileName, info);
  if (file == os::kNoHandle) return nullptr;
  // Closed on every way out, the refusals' exceptions included.
  struct Closer {
    os::Handle file;
    ~Closer() { os::closeInput(file); }
  } closer{file};
  if (info.folder) return nullptr;
  if (info.regular && info.size > RomImage::kMaxSize) {
    fatal("ROM file %s is too large (%lld bytes): no cartridge holds more than 64 MiB, and files "
          "over 256 MiB are not read\n",
          fileName.c_str(), static_cast<long long>(info.size));
  }
  if (info.regular && info.size > 0) {
    const size_t size = static_cast<size_t>(info.size);
    if (const uint8_t* view = os::mapView(file, size)) {
      auto rom = std::make_unique<RomImage>();
      rom->mapping_ = view;
      rom->data_ = const_cast<uint8_t*>(view);
      rom->size_ = size;
      rom->path_ = fileName;
      rom->identity_ = info.identity;
      return rom;
    }
  }
  // Pipes and files that cannot be mapped: large reads into a buffer, up to
  // a bound far above any cartridge, so that an endless source (/dev/zero)
  // is refused before it takes the machine's memory.
  const int64_t limit = info.regular ? RomImage::kMaxSize : kMaxStreamedSize;
  std::vector<uint8_t> bytes;
  constexpr size_t kChunk = 1 << 20;
  std::vector<uint8_t> chunk(kChunk);
  for (;;) {
    const int64_t got = os::readSome(file, chunk.data(), kChunk);
    if (got < 0) return nullptr;
    if (got == 0) break;
    if (static_cast<int64_t>(bytes.size()) + got > limit) {
      fatal("ROM file %s is too large (at most %lld bytes are supported)\n", fileName.c_str(),
            static_cast<long long>(limit));
    }
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
  }
  auto rom = std::make_unique<RomImage>(std::move(bytes));
  rom->path_ = fileName;
  rom->identity_ = info.identity;
  return rom;
}

void detectByteOrder(RomImage& rom) {
  uint8_t magic[4];
  rom.copyAt(0, magic, 4);
  const bool whole = rom.size() >= 4;
  const uint32_t value = loadBE32(magic);
  const bool reorder = whole && (value == 0x37804012 || value == 0x40123780);
  if (!reorder) return;
  if (rom.mapping_ != nullptr) {
    // The mapping is read-only: the reordered image lives in memory of its own.
    rom.bytes_.assign(rom.data_, rom.data_ + rom.size_);
    os::unmapView(rom.mapping_, rom.size_);
    rom.mapping_ = nullptr;
    rom.data_ = rom.bytes_.data();
  }
  uint8_t* bytes = rom.data_;
  const size_t n = rom.size_;
  if (value == 0x37804012) {
    rom.byteOrder_ = ByteOrder::Swapped16;
    for (size_t i = 0; i + 1 < n; i += 2) std::swap(bytes[i], bytes[i + 1]);
    // A last byte without a partner: the position it would move to lies past
    // the end, and its own place has no partner to take from.
    if (n % 2 == 1) bytes[n - 1] = 0;
    return;
  }
  rom.byteOrder_ = ByteOrder::Reversed32;
  const size_t whole4 = n - n % 4;
  for (size_t i = 0; i < whole4; i += 4) {
    std::swap(bytes[i], bytes[i + 3]);
    std::swap(bytes[i + 1], bytes[i + 2]);
  }
  // Tail of 1 to 3 bytes: the position 4k + j takes file byte 4k + 3 - j,
  // which does not exist for the low positions.
  const size_t tail = n - whole4;
  if (tail > 0) {
    uint8_t old[3] = {0, 0, 0};
    for (size_t j = 0; j < tail; ++j) old[j] = bytes[whole4 + j];
    for (size_t j = 0; j < tail; ++j) {
      const size_t from = 3 - j;
      bytes[whole4 + j] = from < tail ? old[from] : 0;
    }
  }
}

}  // namespace zaft
