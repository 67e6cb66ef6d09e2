// Reading a ROM image the way the bank format is laid out: a position that
// moves with every read, big-endian fields, and pointers inside the control
// block.
//
// Reads at or past the end of the file deliver zero for the missing bytes;
// the position may stand anywhere at or after 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rom/rom_image.h"

namespace zaft {

struct RomCursor {
  explicit RomCursor(const RomImage& image, int64_t at = 0) : rom(&image), position(at) {}
  const RomImage* rom;
  int64_t position;
};

size_t readBytes(RomCursor& cursor, uint8_t* dest, size_t count);
uint8_t readByte(RomCursor& cursor);
uint16_t readBE16(RomCursor& cursor);
uint32_t readBE32(RomCursor& cursor);
// False (and the position unchanged) for a negative position.
bool seekTo(RomCursor& cursor, int64_t position);
bool seekBy(RomCursor& cursor, int64_t distance);
int64_t tellPos(const RomCursor& cursor);

// One followed control-block pointer.
struct CtlPointer {
  RomCursor* cursor = nullptr;
  int64_t resumeAt = 0;  // just after the four pointer bytes
  uint32_t offset = 0;   // as stored, relative to the control block; 0 is null
};

// Reads the pointer at the cursor and moves to ctlOffset + pointer (32-bit
// two's-complement sum). False for a negative target, a bogus pointer: the
// cursor then stays just after the pointer. A target past the end of the
// file is accepted.
bool followPointer(CtlPointer& pointer, RomCursor& cursor, int32_t ctlOffset);
void restorePointer(CtlPointer& pointer);

}  // namespace zaft
