#include "support/rom_builder.h"


#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zaft::test {

RomBuilder& RomBuilder::u8(size_t offset, uint8_t value) {
  ensure(offset + 1);
  bytes_[offset] = value;
  return *this;
}

RomBuilder& RomBuilder::be16(size_t offset, uint16_t value) {
  ensure(offset + 2);
  bytes_[offset] = static_cast<uint8_t>(value >> 8);
  bytes_[offset + 1] = static_cast<uint8_t>(value);
  return *this;
}

RomBuilder& RomBuilder::be32(size_t offset, uint32_t value) {
  ensure(offset + 4);
  for (int i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
  return *this;
}

RomBuilder& RomBuilder::put(size_t offset, const std::vector<uint8_t>& data) {
  ensure(offset + data.size());
  std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
  return *this;
}

RomBuilder& RomBuilder::ptr(size_t offset, size_t target) {
  return be32(offset, target == 0 ? 0u : static_cast<uint32_t>(target - ctlBase));
}

void RomBuilder::save(const std::string& path) const { writeFile(path, bytes_); }

std::vector<uint8_t> toV64(const std::vector<uint8_t>& z64) {
  std::vector<uint8_t> out = z64;
  for (size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
  return out;
}

std::vector<uint8_t> toN64(const std::vector<uint8_t>& z64) {
  std::vector<uint8_t> out = z64;
  for (size_t i = 0; i + 3 < out.size(); i += 4) {
    std::swap(out[i], out[i + 3]);
    std::swap(out[i + 1], out[i + 2]);
  }
  return out;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw std::runtime_error("cannot write " + path);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

std::string readFileText(const std::string& path) {
  std::vector<uint8_t> bytes = readFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

bool fileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

}  // namespace zaft::test
