#pragma once
// A plain LZNT1 compressor for the tests: it makes the compressed units the decompressor
// must read back, greedy matching in 4096-byte chunks.

#include <cstdint>
#include <vector>

namespace quenlow::test {

// Compresses `data` chunk by chunk; a chunk that does not shrink is stored as it is.
std::vector<uint8_t> lznt1Compress(const std::vector<uint8_t>& data);

}  // namespace quenlow::test
