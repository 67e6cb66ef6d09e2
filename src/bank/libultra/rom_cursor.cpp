#include "bank/libultra/rom_cursor.h"

#include "util/endian.h"

namespace zaft {

size_t readBytes(RomCursor& cursor, uint8_t* dest, size_t count) {
  const size_t got = cursor.rom->copyAt(cursor.position, dest, count);
  cursor.position += static_cast<int64_t>(count);
  return got;
}

uint8_t readByte(RomCursor& cursor) {
  uint8_t b;
  readBytes(cursor, &b, 1);
  return b;
}

uint16_t readBE16(RomCursor& cursor) {
  uint8_t b[2];
  readBytes(cursor, b, 2);
  return loadBE16(b);
}

uint32_t readBE32(RomCursor& cursor) {
  uint8_t b[4];
  readBytes(cursor, b, 4);
  return loadBE32(b);
}

bool seekTo(RomCursor& cursor, int64_t position) {
  if (position < 0) return false;
  cursor.position = position;
  return true;
}

bool seekBy(RomCursor& cursor, int64_t distance) {
  return seekTo(cursor, cursor.position + distance);
}

int64_t tellPos(const RomCursor& cursor) { return cursor.position; }

bool followPointer(CtlPointer& pointer, RomCursor& cursor, int32_t ctlOffset) {
  pointer.cursor = &cursor;
  pointer.offset = readBE32(cursor);
  pointer.resumeAt = tellPos(cursor);
  const int32_t target = static_cast<int32_t>(static_cast<uint32_t>(ctlOffset) + pointer.offset);
  return seekTo(cursor, target);
}

void restorePointer(CtlPointer& pointer) {
  if (pointer.cursor != nullptr) seekTo(*pointer.cursor, pointer.resumeAt);
}

}  // namespace zaft
