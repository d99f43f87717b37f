#pragma once
// The dynamic-disk private header ("PRIVHEAD") a member may carry in its first megabyte:
// where the member's share of the logical disk starts and how long it is, in sectors.
// Decoded from one sector's bytes alone; fields are big-endian and fields outside the bytes
// given read as 0.

#include <cstddef>
#include <cstdint>
#include <span>

namespace quenlow::disk {

struct LdmPrivateHeader {
    // Byte offsets in the sector.
    struct Offset {
        static constexpr size_t kMagic = 0;             // "PRIVHEAD"
        static constexpr size_t kLogicalStart = 0x11B;  // 64-bit
        static constexpr size_t kLogicalSize = 0x123;   // 64-bit
    };

    bool magic = false;  // "PRIVHEAD" at its start
    uint64_t logicalStart = 0;
    uint64_t logicalSize = 0;

    static LdmPrivateHeader parse(std::span<const uint8_t> sector);
};

}  // namespace quenlow::disk
