#pragma once
// The HFS+ fork data structure (80 bytes, big-endian): a fork's logical size, its total
// allocation blocks and the first eight extents of its data. It appears in the volume
// header (one per special file) and in every file record (data and resource forks).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace quenlow::fs {

// A run of allocation blocks.
struct HfsExtent {
    uint32_t startBlock = 0;
    uint32_t blockCount = 0;
    bool operator==(const HfsExtent&) const = default;
};
using HfsExtents = std::array<HfsExtent, 8>;

// Reads eight (start block, block count) pairs at `at` of `bytes`.
HfsExtents parseHfsExtents(std::span<const uint8_t> bytes, size_t at);

struct HfsForkData {
    struct Offset {
        static constexpr size_t kLogicalSize = 0;   // 64-bit
        static constexpr size_t kClumpSize = 8;     // 32-bit
        static constexpr size_t kTotalBlocks = 12;  // 32-bit
        static constexpr size_t kExtents = 16;      // 8 x (32-bit start, 32-bit count)
    };
    static constexpr size_t kSize = 80;

    uint64_t logicalSize = 0;
    uint32_t totalBlocks = 0;
    HfsExtents extents{};

    // The fork data whose first byte is at `at` of `bytes`.
    static HfsForkData parse(std::span<const uint8_t> bytes, size_t at = 0);
};

}  // namespace quenlow::fs
