// Compressed blocks: many games keep their audio inside blocks of one of
// three LZ formats, each with a 16-byte big-endian header and a copy item
// that reaches a distance back into what was already produced.
//
//   MIO0  "MIO0"  u32 size  u32 copy-item stream  u32 literal stream; layout
//                 bits from +16 in big-endian u32 words, high bit first:
//                 1 = one literal byte, 0 = one u16 copy item
//                 (length = (item >> 12) + 3, distance = (item & 0xFFF) + 1)
//   Yay0  "Yay0"  the same header; a copy item whose length nibble is 0
//                 takes its length from the literal stream, + 18; else
//                 length = nibble + 2
//   Yaz0  "Yaz0"  u32 size  8 reserved bytes; from +16 one stream of groups:
//                 a layout byte (high bit first: 1 = literal, 0 = copy) and
//                 its items; a copy is two bytes (length nibble, 12-bit
//                 distance - 1) and, when the nibble is 0, a third byte: its
//                 length + 18; else length = nibble + 2
//
// Offsets are from the block's start. Every stream is read only inside the
// bytes given, the declared size is a claim capped at kMaxDecompressedBytes,
// and a copy never reaches before the output's start: a block that breaks
// any of these gives what it produced so far and says why.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zaft {

enum class BlockFormat { Mio0, Yay0, Yaz0 };

constexpr int64_t kBlockHeaderBytes = 16;
// A block decompresses into the console's memory: 8 MiB at the most (with
// the expansion pack); twice that is no real block.
constexpr int64_t kMaxDecompressedBytes = int64_t{16} << 20;

const char* blockFormatName(BlockFormat format);

// The format whose magic starts `bytes` (at least 4 of `size`), if any.
std::optional<BlockFormat> blockFormatAt(const uint8_t* bytes, int64_t size);

struct Decompressed {
  BlockFormat format = BlockFormat::Mio0;
  std::vector<uint8_t> bytes;  // what was produced
  int64_t declaredSize = 0;
  std::string problem;         // why decoding stopped short; empty when whole
  bool whole() const { return problem.empty(); }
};

// Decompresses the block at `block`, of which `size` bytes are readable.
// Nothing when no magic starts it.
std::optional<Decompressed> decompressBlock(const uint8_t* block, int64_t size);

// A block a scan found: its magic at a 4-byte boundary and a plausible
// header (a declared size of 1 byte to kMaxDecompressedBytes; for MIO0 and
// Yay0, streams that start past the header, in order, inside the bytes).
struct FoundBlock {
  int64_t offset = 0;
  BlockFormat format = BlockFormat::Mio0;
  int64_t declaredSize = 0;
};

// Every plausible block of `size` bytes at `data`, in order, up to
// `maxBlocks` of them (a hostile image could hold a header at every word).
std::vector<FoundBlock> findCompressedBlocks(const uint8_t* data, int64_t size,
                                             size_t maxBlocks = SIZE_MAX);

}  // namespace zaft
