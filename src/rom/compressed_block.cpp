#include "rom/compressed_block.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "util/endian.h"
#include "util/fatal.h"

namespace zaft {

namespace {

// A stream of the block: reads only inside [from, end).
class Stream {
 public:
  Stream(const uint8_t* block, int64_t from, int64_t end) : block_(block), at_(from), end_(end) {}
  bool has(int64_t n) const { return at_ >= 0 && at_ + n <= end_; }
  uint8_t u8() { return block_[at_++]; }
  uint16_t u16() {
    const uint16_t v = loadBE16(block_ + at_);
    at_ += 2;
    return v;
  }
  uint32_t u32() {
    const uint32_t v = loadBE32(block_ + at_);
    at_ += 4;
    return v;
  }

 private:
  const uint8_t* block_;
  int64_t at_;
  int64_t end_;
};

// The output, bounded by the declared size.
class Output {
 public:
  explicit Output(Decompressed& d) : d_(d) {
    d_.bytes.reserve(static_cast<size_t>(d_.declaredSize));
  }
  bool full() const { return static_cast<int64_t>(d_.bytes.size()) >= d_.declaredSize; }
  void literal(uint8_t b) { d_.bytes.push_back(b); }
  // False when the copy reaches before the output's start. A copy may
  // overlap what it produces; it stops at the declared size.
  bool copy(int64_t distance, int64_t length) {
    const int64_t produced = static_cast<int64_t>(d_.bytes.size());
    if (distance > produced) return false;
    length = std::min(length, d_.declaredSize - produced);
    size_t from = static_cast<size_t>(produced - distance);
    for (int64_t i = 0; i < length; ++i) d_.bytes.push_back(d_.bytes[from++]);
    return true;
  }

 private:
  Decompressed& d_;
};

const char* const kTruncated = "the compressed data ends before the declared size";
const char* const kBeforeStart = "a copy reaches before the start of the output";

// MIO0 and Yay0: layout words at +16, copy items and literals in streams of
// their own whose offsets the header gives.
void decodeTwoStreams(const uint8_t* block, int64_t size, bool yay0, Decompressed& d) {
  Stream layout(block, kBlockHeaderBytes, size);
  Stream items(block, loadBE32(block + 8), size);
  Stream literals(block, loadBE32(block + 12), size);
  Output out(d);
  uint32_t bits = 0;
  int left = 0;
  while (!out.full()) {
    if (left == 0) {
      if (!layout.has(4)) return void(d.problem = kTruncated);
      bits = layout.u32();
      left = 32;
    }
    const bool isLiteral = (bits & 0x80000000u) != 0;
    bits <<= 1;
    --left;
    if (isLiteral) {
      if (!literals.has(1)) return void(d.problem = kTruncated);
      out.literal(literals.u8());
      continue;
    }
    if (!items.has(2)) return void(d.problem = kTruncated);
    const uint16_t item = items.u16();
    int64_t length = item >> 12;
    if (!yay0) {
      length += 3;
    } else if (length == 0) {
      if (!literals.has(1)) return void(d.problem = kTruncated);
      length = literals.u8() + 18;
    } else {
      length += 2;
    }
    if (!out.copy((item & 0xFFF) + 1, length)) return void(d.problem = kBeforeStart);
  }
}

// Yaz0: one stream of layout bytes and their items from +16.
void decodeYaz0(const uint8_t* block, int64_t size, Decompressed& d) {
  Stream in(block, kBlockHeaderBytes, size);
  Output out(d);
  uint8_t bits = 0;
  int left = 0;
  while (!out.full()) {
    if (left == 0) {
      if (!in.has(1)) return void(d.problem = kTruncated);
      bits = in.u8();
      left = 8;
    }
    const bool isLiteral = (bits & 0x80) != 0;
    bits = static_cast<uint8_t>(bits << 1);
    --left;
    if (isLiteral) {
      if (!in.has(1)) return void(d.problem = kTruncated);
      out.literal(in.u8());
      continue;
    }
    if (!in.has(2)) return void(d.problem = kTruncated);
    const uint8_t b1 = in.u8();
    const uint8_t b2 = in.u8();
    int64_t length = b1 >> 4;
    if (length == 0) {
      if (!in.has(1)) return void(d.problem = kTruncated);
      length = in.u8() + 18;
    } else {
      length += 2;
    }
    if (!out.copy(((b1 & 0x0F) << 8 | b2) + 1, length)) return void(d.problem = kBeforeStart);
  }
}

}  // namespace

const char* blockFormatName(BlockFormat format) {
  switch (format) {
    case BlockFormat::Mio0: return "MIO0";
    case BlockFormat::Yay0: return "Yay0";
    case BlockFormat::Yaz0: return "Yaz0";
  }
  return "";
}

std::optional<BlockFormat> blockFormatAt(const uint8_t* bytes, int64_t size) {
  if (size < 4) return std::nullopt;
  for (BlockFormat f : {BlockFormat::Mio0, BlockFormat::Yay0, BlockFormat::Yaz0}) {
    if (std::memcmp(bytes, blockFormatName(f), 4) == 0) return f;
  }
  return std::nullopt;
}

std::optional<Decompressed> decompressBlock(const uint8_t* block, int64_t size) {
  const std::optional<BlockFormat> format = blockFormatAt(block, size);
  if (!format) return std::nullopt;
  Decompressed d;
  d.format = *format;
  if (size < kBlockHeaderBytes) {
    d.problem = "the block's header is cut short";
    return d;
  }
  d.declaredSize = loadBE32(block + 4);
  if (d.declaredSize > kMaxDecompressedBytes) {
    d.problem = formatText("it declares %lld bytes, more than the %lld a block can hold",
                           static_cast<long long>(d.declaredSize),
                           static_cast<long long>(kMaxDecompressedBytes));
    return d;
  }
  if (*format == BlockFormat::Yaz0) {
    decodeYaz0(block, size, d);
  } else {
    decodeTwoStreams(block, size, *format == BlockFormat::Yay0, d);
  }
  return d;
}

namespace {

constexpr uint32_t kMagicMio0 = 0x4D494F30;  // "MIO0"
constexpr uint32_t kMagicYay0 = 0x59617930;  // "Yay0"
constexpr uint32_t kMagicYaz0 = 0x59617A30;  // "Yaz0"

std::optional<FoundBlock> plausibleBlock(const uint8_t* data, int64_t size, int64_t at,
                                         BlockFormat format) {
  const int64_t room = size - at;
  if (room < kBlockHeaderBytes) return std::nullopt;
  FoundBlock found{at, format, loadBE32(data + at + 4)};
  if (found.declaredSize == 0 || found.declaredSize > kMaxDecompressedBytes) return std::nullopt;
  if (format != BlockFormat::Yaz0) {
    const int64_t copies = loadBE32(data + at + 8);
    const int64_t literals = loadBE32(data + at + 12);
    if (copies < kBlockHeaderBytes || literals < copies || literals > room) return std::nullopt;
  }
  return found;
}

}  // namespace

std::vector<FoundBlock> findCompressedBlocks(const uint8_t* data, int64_t size, size_t maxBlocks) {
  std::vector<FoundBlock> found;
  // The word at `at`, when its magic and header hold.
  const auto check = [&](int64_t at) {
    const uint32_t word = loadBE32(data + at);
    std::optional<FoundBlock> block;
    if (word == kMagicMio0) block = plausibleBlock(data, size, at, BlockFormat::Mio0);
    if (word == kMagicYay0) block = plausibleBlock(data, size, at, BlockFormat::Yay0);
    if (word == kMagicYaz0) block = plausibleBlock(data, size, at, BlockFormat::Yaz0);
    if (block) found.push_back(*block);
  };
  const int64_t last = size - kBlockHeaderBytes;  // the last start a header fits at
  int64_t at = 0;
#if defined(__SSE2__)
  // Nearly every word fails on its first two bytes: all three magics start
  // "MI" or "Ya". Sixteen bytes (four words) are tested at once, as 16-bit
  // units read little-endian.
  const __m128i mi = _mm_set1_epi16(0x494D), ya = _mm_set1_epi16(0x6159);
  const auto hitsAt = [&](int64_t from) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + from));
    return _mm_or_si128(_mm_cmpeq_epi16(v, mi), _mm_cmpeq_epi16(v, ya));
  };
  // 64 bytes a step: one test of all sixteen words, then each word of a
  // step that has a hit.
  for (; at + 64 <= last + 1 && found.size() < maxBlocks; at += 64) {
    const __m128i any = _mm_or_si128(_mm_or_si128(hitsAt(at), hitsAt(at + 16)),
                                     _mm_or_si128(hitsAt(at + 32), hitsAt(at + 48)));
    if ((_mm_movemask_epi8(any) & 0x1111) == 0) continue;
    for (int64_t k = 0; k < 64 && found.size() < maxBlocks; k += 4) {
      if (data[at + k] == 'M' || data[at + k] == 'Y') check(at + k);
    }
  }
#endif
  for (; at <= last && found.size() < maxBlocks; at += 4) {
    if (data[at] == 'M' || data[at] == 'Y') check(at);
  }
  return found;
}

}  // namespace zaft
