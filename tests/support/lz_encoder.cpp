#include "support/lz_encoder.h"

#include <algorithm>

namespace zaft::test {

namespace {

struct Match {
  int64_t distance = 0;
  int64_t length = 0;
};

// The longest earlier match for the bytes at `at`, within the format's reach.
Match longestMatch(const std::vector<uint8_t>& data, int64_t at, int64_t maxLength) {
  Match best;
  const int64_t n = static_cast<int64_t>(data.size());
  for (int64_t from = std::max<int64_t>(0, at - 4096); from < at; ++from) {
    int64_t length = 0;
    while (length < maxLength && at + length < n && data[from + length] == data[at + length]) {
      ++length;
    }
    if (length > best.length) best = {at - from, length};
  }
  return best;
}

void putBE32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

}  // namespace

std::vector<uint8_t> compressBlock(BlockFormat format, const std::vector<uint8_t>& data) {
  const bool yaz0 = format == BlockFormat::Yaz0;
  constexpr int64_t minLength = 3;  // the shortest copy every format writes
  const int64_t maxLength = format == BlockFormat::Mio0 ? 18 : 273;
  std::vector<bool> layout;
  std::vector<uint8_t> items, literals, yazStream;
  std::vector<uint8_t> group;
  int groupBits = 0;
  uint8_t groupByte = 0;
  const auto flushGroup = [&] {
    yazStream.push_back(groupByte);
    yazStream.insert(yazStream.end(), group.begin(), group.end());
    group.clear();
    groupBits = 0;
    groupByte = 0;
  };
  const int64_t n = static_cast<int64_t>(data.size());
  for (int64_t at = 0; at < n;) {
    const Match m = longestMatch(data, at, maxLength);
    const bool copy = m.length >= minLength;
    if (yaz0) {
      if (copy) {
        const int64_t d = m.distance - 1;
        if (m.length >= 18) {
          group.push_back(static_cast<uint8_t>(d >> 8));
          group.push_back(static_cast<uint8_t>(d));
          group.push_back(static_cast<uint8_t>(m.length - 18));
        } else {
          group.push_back(static_cast<uint8_t>((m.length - 2) << 4 | d >> 8));
          group.push_back(static_cast<uint8_t>(d));
        }
      } else {
        groupByte |= static_cast<uint8_t>(0x80 >> groupBits);
        group.push_back(data[at]);
      }
      if (++groupBits == 8) flushGroup();
    } else {
      layout.push_back(!copy);
      if (!copy) {
        literals.push_back(data[at]);
      } else {
        const int64_t d = m.distance - 1;
        int64_t nibble = format == BlockFormat::Mio0 ? m.length - 3 : m.length - 2;
        if (format == BlockFormat::Yay0 && m.length >= 18) {
          nibble = 0;
          literals.push_back(static_cast<uint8_t>(m.length - 18));
        }
        items.push_back(static_cast<uint8_t>(nibble << 4 | d >> 8));
        items.push_back(static_cast<uint8_t>(d));
      }
    }
    at += copy ? m.length : 1;
  }
  std::vector<uint8_t> out(16, 0);
  std::copy_n(blockFormatName(format), 4, out.begin());
  putBE32(out, 4, static_cast<uint32_t>(data.size()));
  if (yaz0) {
    if (groupBits > 0) flushGroup();
    out.insert(out.end(), yazStream.begin(), yazStream.end());
    return out;
  }
  for (size_t i = 0; i < layout.size(); i += 32) {
    uint32_t word = 0;
    for (size_t b = 0; b < 32 && i + b < layout.size(); ++b) {
      if (layout[i + b]) word |= 0x80000000u >> b;
    }
    const size_t at = out.size();
    out.resize(at + 4);
    putBE32(out, at, word);
  }
  putBE32(out, 8, static_cast<uint32_t>(out.size()));
  out.insert(out.end(), items.begin(), items.end());
  putBE32(out, 12, static_cast<uint32_t>(out.size()));
  out.insert(out.end(), literals.begin(), literals.end());
  return out;
}

}  // namespace zaft::test
