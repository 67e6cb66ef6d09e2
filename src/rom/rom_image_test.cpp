#include "rom/rom_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "support/rom_builder.h"
#include "support/test_util.h"
#include "util/fatal.h"

namespace zaft {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes counting(size_t n) {
  Bytes bytes(n);
  std::iota(bytes.begin(), bytes.end(), 0);
  return bytes;
}

Bytes imageBytes(const RomImage& rom) { return Bytes(rom.data(), rom.data() + rom.size()); }

TEST(RomImage, CopyAtZeroFillsOutsideTheFile) {
  const RomImage rom({0xAA, 0xBB, 0xCC});
  struct Case { int64_t offset; size_t count; size_t fromFile; Bytes bytes; };
  const Case cases[] = {
      {0, 3, 3, {0xAA, 0xBB, 0xCC}},  {1, 4, 2, {0xBB, 0xCC, 0, 0}},
      {3, 2, 0, {0, 0}},              {-2, 4, 2, {0, 0, 0xAA, 0xBB}},
      {-4, 4, 0, {0, 0, 0, 0}},       {-1, 5, 3, {0, 0xAA, 0xBB, 0xCC, 0}},
      {-10, 4, 0, {0, 0, 0, 0}},      {INT32_MAX, 1, 0, {0}},
  };
  for (const Case& c : cases) {
    Bytes dest(c.count, 0x77);
    EXPECT_EQ(rom.copyAt(c.offset, dest.data(), c.count), c.fromFile) << c.offset;
    EXPECT_EQ(dest, c.bytes) << c.offset;
  }
}

TEST(RomImage, EveryDumpLayoutReadsInConsoleOrder) {
  Bytes z64 = counting(64);
  z64[0] = 0x80; z64[1] = 0x37; z64[2] = 0x12; z64[3] = 0x40;
  struct Layout { Bytes bytes; ByteOrder order; };
  const Layout layouts[] = {{z64, ByteOrder::AsStored},
                            {test::toV64(z64), ByteOrder::Swapped16},
                            {test::toN64(z64), ByteOrder::Reversed32}};
  for (const Layout& layout : layouts) {
    RomImage rom(layout.bytes);
    detectByteOrder(rom);
    EXPECT_EQ(rom.byteOrder(), layout.order);
    EXPECT_EQ(imageBytes(rom), z64);
  }
}

TEST(RomImage, UnknownOrShortStartIsReadAsStored) {
  for (const Bytes& bytes : {counting(8), Bytes{0x37, 0x80, 0x40}, Bytes{0x40, 0x12, 0x37}}) {
    RomImage rom(bytes);
    detectByteOrder(rom);
    EXPECT_EQ(rom.byteOrder(), ByteOrder::AsStored);
    EXPECT_EQ(imageBytes(rom), bytes);
  }
}

// A byte whose partner lies past the end of the file has nothing to take
// from: it reads as zero.
TEST(RomImage, UnpartneredTrailingBytesReadAsZero) {
  struct Case { Bytes tail; Bytes v64; Bytes n64; };
  const Case cases[] = {
      {{0xAA}, {0x00}, {0x00}},
      {{0xAA, 0xBB}, {0xBB, 0xAA}, {0x00, 0x00}},
      {{0xAA, 0xBB, 0xCC}, {0xBB, 0xAA, 0x00}, {0x00, 0xCC, 0xBB}},
  };
  for (const Case& c : cases) {
    for (const bool v64 : {true, false}) {
      Bytes bytes = v64 ? Bytes{0x37, 0x80, 0x40, 0x12} : Bytes{0x40, 0x12, 0x37, 0x80};
      bytes.insert(bytes.end(), c.tail.begin(), c.tail.end());
      RomImage rom(bytes);
      detectByteOrder(rom);
      Bytes expected{0x80, 0x37, 0x12, 0x40};
      const Bytes& tail = v64 ? c.v64 : c.n64;
      expected.insert(expected.end(), tail.begin(), tail.end());
      EXPECT_EQ(imageBytes(rom), expected) << (v64 ? "v64 " : "n64 ") << c.tail.size();
    }
  }
}

TEST(RomImage, OpenRomMapsTheFileAndRefusesWhatItCannotHold) {
  test::TempDir dir;
  const Bytes z64 = {0x80, 0x37, 0x12, 0x40, 1, 2, 3, 4, 5, 6};
  const std::string v64 = dir.file("game.v64");
  test::writeFile(v64, test::toV64(z64));
  std::unique_ptr<RomImage> rom = openRom(v64);
  ASSERT_NE(rom, nullptr);
  EXPECT_EQ(rom->path(), v64);
  EXPECT_TRUE(rom->identity() == identityOf(v64));
  // The mapping is read-only: reordering works on a copy and leaves the
  // file as it was.
  detectByteOrder(*rom);
  EXPECT_EQ(imageBytes(*rom), z64);
  EXPECT_EQ(test::readFileBytes(v64), test::toV64(z64));
  // An empty file, and one that is no regular file, are read as a stream.
  test::writeFile(dir.file("empty.z64"), {});
#ifdef _WIN32
  const std::string device = "NUL";
#else
  const std::string device = "/dev/null";
#endif
  for (const std::string& empty : {dir.file("empty.z64"), device}) {
    rom = openRom(empty);
    ASSERT_NE(rom, nullptr) << empty;
    EXPECT_EQ(rom->size(), 0) << empty;
  }
  EXPECT_EQ(openRom(dir.file("missing.z64")), nullptr);
  EXPECT_EQ(openRom(dir.path()), nullptr);
  // One byte more than a file that could be a ROM; sparse, so it costs no
  // disk, and refused before it is read.
  const std::string big = dir.file("big.z64");
  test::writeFile(big, {});
  std::filesystem::resize_file(big, RomImage::kMaxSize + 1);
  try {
    openRom(big);
    ADD_FAILURE() << "no FatalError";
  } catch (const FatalError& e) {
    EXPECT_EQ(std::string(e.what()), "ROM file " + big +
                                         " is too large (268435457 bytes): no cartridge holds "
                                         "more than 64 MiB, and files over 256 MiB are not "
                                         "read\n");
  }
}

}  // namespace
}  // namespace zaft
