#include "bank/libultra/rom_cursor.h"

#include <gtest/gtest.h>

#include <vector>

#include "rom/rom_image.h"
#include "support/rom_builder.h"

namespace zaft {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(RomCursor, BigEndianFieldsAndZerosPastTheEnd) {
  const RomImage rom({0x42, 0x31, 0x00, 0x00, 0x01, 0x00, 0xFF});
  RomCursor cursor(rom);
  EXPECT_EQ(readBE16(cursor), 0x4231);
  EXPECT_EQ(readBE32(cursor), 256u);
  EXPECT_EQ(tellPos(cursor), 6);
  EXPECT_EQ(readByte(cursor), 0xFF);

  // Past the end the position still moves by what was asked for.
  ASSERT_TRUE(seekTo(cursor, 5));
  EXPECT_EQ(readBE32(cursor), 0x00FF0000u);
  EXPECT_EQ(tellPos(cursor), 9);
  uint8_t buf[4] = {1, 2, 3, 4};
  EXPECT_EQ(readBytes(cursor, buf, 4), 0u);
  EXPECT_EQ(Bytes(buf, buf + 4), Bytes(4, 0));
  EXPECT_EQ(tellPos(cursor), 13);
}

TEST(RomCursor, NegativePositionIsRefusedAndLeavesThePosition) {
  const RomImage rom(Bytes(8));
  RomCursor cursor(rom, 3);
  EXPECT_FALSE(seekTo(cursor, -1));
  EXPECT_FALSE(seekBy(cursor, -4));
  EXPECT_EQ(tellPos(cursor), 3);
  EXPECT_TRUE(seekBy(cursor, -3));
  EXPECT_TRUE(seekBy(cursor, 100));
  EXPECT_EQ(tellPos(cursor), 100);
}

TEST(RomCursor, FollowAndRestorePointer) {
  // The pointer sits at 0x1100, relative to a control block at 0x1000; the
  // target is the 32-bit two's-complement sum.
  struct Case { uint32_t stored; bool followed; int64_t position; };
  const Case cases[] = {
      {0x40, true, 0x1040},
      {0, true, 0x1000},                // null: the block's own start
      {0xFFFFFFF0, true, 0xFF0},        // wraps around below the block
      {0x00100000, true, 0x101000},     // past the end of the file: accepted
      {0x80000000, false, 0x1104},      // negative target: stays after the pointer
      {0x7FFFFFFF, false, 0x1104},      // the sum wraps to a negative number
  };
  for (const Case& c : cases) {
    const RomImage rom(test::RomBuilder(0x2000).be32(0x1100, c.stored).bytes());
    RomCursor cursor(rom, 0x1100);
    CtlPointer p;
    EXPECT_EQ(followPointer(p, cursor, 0x1000), c.followed) << std::hex << c.stored;
    EXPECT_EQ(tellPos(cursor), c.position) << std::hex << c.stored;
    EXPECT_EQ(p.offset, c.stored);
    EXPECT_EQ(p.resumeAt, 0x1104);
    readBE32(cursor);
    restorePointer(p);
    EXPECT_EQ(tellPos(cursor), 0x1104);
  }
  CtlPointer never;
  restorePointer(never);  // a pointer never followed has no cursor to move
}

}  // namespace
}  // namespace zaft
