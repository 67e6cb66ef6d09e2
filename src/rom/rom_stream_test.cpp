#include "rom/rom_stream.h"

#include <gtest/gtest.h>

#include <numeric>

#include "driver/fatal.h"
#include "support/rom_builder.h"

namespace zaft {
namespace {

std::vector<uint8_t> counting(size_t n) {
  std::vector<uint8_t> bytes(n);
  std::iota(bytes.begin(), bytes.end(), 0);
  return bytes;
}

TEST(RomStreamTest, BigEndianFields) {
  RomStream rom({0x42, 0x31, 0x00, 0x00, 0x01, 0x00, 0xFF});
  EXPECT_EQ(readBE16(rom), 0x4231);
  EXPECT_EQ(readBE32(rom), 256u);
  EXPECT_EQ(tellPos(rom), 6);
  EXPECT_EQ(readByte(rom), 0xFF);
}

TEST(RomStreamTest, ReadsPastTheEndDeliverZero) {
  RomStream rom({0xAA, 0xBB, 0xCC});
  seekTo(rom, 1);
  EXPECT_EQ(readBE32(rom), 0xBBCC0000u);
  EXPECT_EQ(tellPos(rom), 5);
  uint8_t buf[4] = {1, 2, 3, 4};
  EXPECT_EQ(readBytes(rom, buf, 4), 0u);
  EXPECT_EQ(buf[0] | buf[1] | buf[2] | buf[3], 0);
  EXPECT_FALSE(seekTo(rom, -1));
  EXPECT_EQ(tellPos(rom), 9);
  EXPECT_TRUE(seekToEnd(rom));
  EXPECT_EQ(tellPos(rom), 3);
  EXPECT_TRUE(seekBy(rom, -3));
  EXPECT_FALSE(seekBy(rom, -1));
}

TEST(RomStreamTest, SwappingReadSeesConsoleOrderInEveryLayout) {
  std::vector<uint8_t> z64 = counting(64);
  z64[0] = 0x80; z64[1] = 0x37; z64[2] = 0x12; z64[3] = 0x40;
  struct Layout { std::vector<uint8_t> bytes; ByteOrder order; uint8_t swapped; };
  std::vector<Layout> layouts = {{z64, ByteOrder::AsStored, 0},
                                 {test::toV64(z64), ByteOrder::Swapped16, 1},
                                 {test::toN64(z64), ByteOrder::Reversed32, 0}};
  for (const Layout& layout : layouts) {
    RomStream rom(layout.bytes);
    detectByteOrder(rom);
    EXPECT_EQ(rom.byteOrder, layout.order);
    EXPECT_EQ(rom.byteSwapped, layout.swapped);
    EXPECT_EQ(tellPos(rom), 4);
    seekTo(rom, 16);
    uint8_t plain[16], swapped[16];
    readBytes(rom, plain, 16);
    seekTo(rom, 16);
    EXPECT_EQ(readSwapped(rom, swapped, 4, 4), 4u);
    for (int i = 0; i < 16; ++i) {
      EXPECT_EQ(plain[i], 16 + i);
      EXPECT_EQ(swapped[i], 16 + i);
    }
    // 9-byte reads across an odd boundary still see the console's order.
    seekTo(rom, 32);
    uint8_t frame[9];
    readSwapped(rom, frame, 9, 1);
    readSwapped(rom, frame, 9, 1);
    EXPECT_EQ(frame[0], 41);
    seekTo(rom, 0);
    EXPECT_EQ(readBE32(rom), 0x80371240u);
  }
}

TEST(RomStreamTest, UnknownOrShortStartIsReadAsStored) {
  RomStream rom(counting(8));
  detectByteOrder(rom);
  EXPECT_EQ(rom.byteOrder, ByteOrder::AsStored);
  EXPECT_EQ(readByte(rom), 4);
  RomStream tiny({0x37, 0x80, 0x40});
  detectByteOrder(tiny);
  EXPECT_EQ(tiny.byteOrder, ByteOrder::AsStored);
  EXPECT_EQ(tiny.byteSwapped, 0);
}

TEST(RomStreamTest, UnpartneredTrailingBytesReadAsZero) {
  RomStream v64({0x37, 0x80, 0x40, 0x12, 0xAA, 0xBB, 0xCC});
  detectByteOrder(v64);
  seekTo(v64, 4);
  EXPECT_EQ(readByte(v64), 0xBB);
  EXPECT_EQ(readByte(v64), 0xAA);
  EXPECT_EQ(readByte(v64), 0x00);

  RomStream n64({0x40, 0x12, 0x37, 0x80, 0xAA, 0xBB});
  detectByteOrder(n64);
  seekTo(n64, 4);
  EXPECT_EQ(readBE16(n64), 0x0000);
}

TEST(RomStreamTest, FollowAndRestorePointer) {
  test::RomBuilder b(0x2000);
  b.be32(0x1100, 0x40).be32(0x1104, 0).be32(0x1108, 0xFFFFFFF0).be32(0x110C, 0x00100000);
  RomStream rom(b.bytes());
  CtlPointer p;

  seekTo(rom, 0x1100);
  followPointer(p, rom, 0x1000);
  EXPECT_EQ(tellPos(rom), 0x1040);
  readBE32(rom);
  restorePointer(p);
  EXPECT_EQ(tellPos(rom), 0x1104);

  followPointer(p, rom, 0x1000);
  EXPECT_EQ(p.offset, 0u);
  EXPECT_EQ(tellPos(rom), 0x1000);
  EXPECT_EQ(p.resumeAt, 0x1108);

  seekTo(rom, 0x1108);
  followPointer(p, rom, 0x1000);  // wraps around to 0xFF0
  EXPECT_EQ(tellPos(rom), 0xFF0);

  seekTo(rom, 0x110C);
  followPointer(p, rom, 0x1000);  // past the end: accepted
  EXPECT_EQ(tellPos(rom), 0x101000);
}

TEST(RomStreamTest, NegativePointerTargetIsFatal) {
  test::RomBuilder b(0x1010);
  b.be32(0x1000, 0x80000000);
  RomStream rom(b.bytes());
  seekTo(rom, 0x1000);
  CtlPointer p;
  try {
    followPointer(p, rom, 0x1000);
    FAIL() << "no error";
  } catch (const FatalError& e) {
    EXPECT_STREQ(e.what(),
                 "\nAbnormal termination. Bogus pointer found: Offset 001004 - Ptr 80000000\n");
  }
}

}  // namespace
}  // namespace zaft
