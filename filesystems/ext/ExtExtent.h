#pragma once
// The extent tree of an ext4 inode: a 12-byte header, then 12-byte entries that are either
// extents (leaves, depth 0) or index entries pointing at the next level's block.

#include <cstdint>
#include <span>

namespace quenlow::fs {

struct ExtExtentHeader {
    static constexpr uint16_t kMagic = 0xF30A;
    static constexpr size_t kSize = 12;
    static constexpr uint16_t kMaxDepth = 5;
    enum Offset : size_t { Magic = 0, Entries = 2, Max = 4, Depth = 6 };

    uint16_t magic = 0;
    uint16_t entries = 0;
    uint16_t max = 0;
    uint16_t depth = 0;

    static ExtExtentHeader parse(std::span<const uint8_t> bytes);
    // The magic holds, the depth is at most 5 and the entries fit in a node of `nodeBytes`.
    bool valid(size_t nodeBytes) const;
};

// A leaf entry: `length` blocks from logical block `logical` at volume block `start`.
// Lengths above 32768 mark an uninitialised extent of (length - 32768) blocks: allocated,
// but reading as zeros.
struct ExtExtent {
    enum Offset : size_t { Logical = 0, Length = 4, StartHi = 6, StartLo = 8 };
    uint32_t logical = 0;
    uint32_t length = 0;
    bool uninitialised = false;
    uint64_t start = 0;

    static ExtExtent parse(std::span<const uint8_t> bytes);
};

// An index entry: the node at volume block `child` covers logical blocks from `logical`.
struct ExtExtentIndex {
    enum Offset : size_t { Logical = 0, LeafLo = 4, LeafHi = 8 };
    uint32_t logical = 0;
    uint64_t child = 0;

    static ExtExtentIndex parse(std::span<const uint8_t> bytes);
};

}  // namespace quenlow::fs
