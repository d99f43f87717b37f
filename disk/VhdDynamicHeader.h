#pragma once
// The 1024-byte dynamic disk header of a dynamic VHD, decoded from its bytes alone. Fields
// are big-endian; fields outside the bytes given read as 0.

#include <cstddef>
#include <cstdint>
#include <span>

namespace quenlow::disk {

struct VhdDynamicHeader {
    // Byte offsets in the header.
    struct Offset {
        static constexpr size_t kCookie = 0;           // "cxsparse"
        static constexpr size_t kTableOffset = 16;     // 64-bit: the block allocation table
        static constexpr size_t kMaxTableEntries = 28; // 32-bit
        static constexpr size_t kBlockSize = 32;       // 32-bit, bytes of data per block
    };
    static constexpr size_t kSize = 1024;

    bool cookie = false;  // "cxsparse" at its start
    uint64_t tableOffset = 0;
    uint32_t maxTableEntries = 0;
    uint32_t blockSize = 0;

    static VhdDynamicHeader parse(std::span<const uint8_t> bytes);
};

}  // namespace quenlow::disk
