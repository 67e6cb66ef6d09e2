// Test support: encodes bytes as a MIO0, Yay0 or Yaz0 block (greedy
// matching over a 4 KiB window), so that the decoders' tests make their
// inputs rather than carry them.
#pragma once

#include <cstdint>
#include <vector>

#include "rom/compressed_block.h"

namespace zaft::test {

std::vector<uint8_t> compressBlock(BlockFormat format, const std::vector<uint8_t>& data);

}  // namespace zaft::test
