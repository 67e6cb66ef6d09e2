// Test support: a byte-level ROM builder. Places big-endian fields and
// records at offsets (growing the image as needed), writes control-block
// pointers relative to a control-block base, and offers the mutations the
// bad-input tests need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zaft::test {

class RomBuilder {
 public:
  explicit RomBuilder(size_t size = 0, uint8_t fill = 0) : bytes_(size, fill) {}

  std::vector<uint8_t>& bytes() { return bytes_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }

  // The file offset that pointers are relative to.
  size_t ctlBase = 0;

  RomBuilder& u8(size_t offset, uint8_t value);
  RomBuilder& be16(size_t offset, uint16_t value);
  RomBuilder& be32(size_t offset, uint32_t value);
  RomBuilder& put(size_t offset, const std::vector<uint8_t>& data);
  // A pointer field at `offset` leading to the absolute file offset `target`
  // (0 writes the null pointer).
  RomBuilder& ptr(size_t offset, size_t target);
  // A raw pointer value, as stored.
  RomBuilder& rawPtr(size_t offset, uint32_t value) { return be32(offset, value); }

  RomBuilder& resize(size_t size) {
    bytes_.resize(size, 0);
    return *this;
  }
  RomBuilder& truncate(size_t size) {
    if (size < bytes_.size()) bytes_.resize(size);
    return *this;
  }
  RomBuilder& flip(size_t offset, uint8_t mask) {
    if (offset < bytes_.size()) bytes_[offset] ^= mask;
    return *this;
  }

  void save(const std::string& path) const;

 private:
  void ensure(size_t end) {
    if (bytes_.size() < end) bytes_.resize(end, 0);
  }
  std::vector<uint8_t> bytes_;
};

// The same image in the two other dump layouts: each 16-bit unit's bytes
// exchanged (.v64), each 32-bit word's bytes reversed (.n64). A trailing
// partial unit is kept as it is.
std::vector<uint8_t> toV64(const std::vector<uint8_t>& z64);
std::vector<uint8_t> toN64(const std::vector<uint8_t>& z64);

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFileBytes(const std::string& path);
std::string readFileText(const std::string& path);
bool fileExists(const std::string& path);

}  // namespace zaft::test
