#pragma once
// The B-tree header record: the first record of node 0 of a catalog or extents file.

#include <cstddef>
#include <cstdint>
#include <span>

namespace quenlow::fs {

struct HfsHeaderRecord {
    struct Offset {  // from the record's start (node offset 14)
        static constexpr size_t kTreeDepth = 0;   // 16-bit
        static constexpr size_t kRootNode = 2;    // 32-bit
        static constexpr size_t kLeafRecords = 6;
        static constexpr size_t kFirstLeaf = 10;
        static constexpr size_t kLastLeaf = 14;
        static constexpr size_t kNodeSize = 18;   // 16-bit
        static constexpr size_t kTotalNodes = 22; // 32-bit
        static constexpr size_t kFreeNodes = 26;  // 32-bit
    };
    static constexpr size_t kNodeOffset = 14;

    uint16_t treeDepth = 0;
    uint32_t rootNode = 0;
    uint32_t firstLeaf = 0;
    uint32_t lastLeaf = 0;
    uint16_t nodeSize = 0;
    uint32_t totalNodes = 0;

    // The header record of the header node `node` (its first bytes suffice).
    static HfsHeaderRecord parse(std::span<const uint8_t> node);

    // B-tree nodes are 512 to 32768 bytes, a power of two.
    bool nodeSizeValid() const { return nodeSize >= 512 && (nodeSize & (nodeSize - 1)) == 0; }
};

}  // namespace quenlow::fs
