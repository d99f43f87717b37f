#pragma once
// The 14-byte descriptor at the start of every B-tree node, and the table of record
// offsets that fills the node's end backwards (the first record's offset in its last two
// bytes).

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quenlow::fs {

struct HfsNodeDescriptor {
    struct Offset {
        static constexpr size_t kForwardLink = 0;   // 32-bit
        static constexpr size_t kBackwardLink = 4;  // 32-bit
        static constexpr size_t kKind = 8;          // signed 8-bit
        static constexpr size_t kHeight = 9;        // 8-bit
        static constexpr size_t kRecordCount = 10;  // 16-bit
    };
    static constexpr size_t kSize = 14;
    static constexpr int8_t kLeaf = -1, kIndex = 0, kHeader = 1, kMap = 2;

    uint32_t forwardLink = 0;
    uint32_t backwardLink = 0;
    int8_t kind = 0;
    uint8_t height = 0;
    uint16_t recordCount = 0;

    static HfsNodeDescriptor parse(std::span<const uint8_t> node);

    bool knownKind() const { return kind >= kLeaf && kind <= kMap; }

    // The offsets of the node's records, read from its end: only those that point past the
    // descriptor and inside the node (a record found there is checked by its decoder). At
    // most as many as the node can hold, whatever the count says.
    std::vector<uint16_t> recordOffsets(std::span<const uint8_t> node) const;
};

}  // namespace quenlow::fs
