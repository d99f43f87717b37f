#pragma once
// Where an inode's data lies: its extent tree (index levels followed, bounded in depth and
// in nodes read, every node read once) or its classic block map (direct, single, double and
// triple indirect pointers), as extents of logical blocks. Parts that cannot be known (a
// node or pointer block that cannot be read, fails its checks, or lies outside the volume)
// are listed as damaged logical ranges.

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "filesystems/ext/ExtInode.h"
#include "filesystems/ext/ExtVolume.h"

namespace quenlow::fs {

struct ExtMapping {
    struct Extent {
        uint64_t logical = 0;   // first logical block
        uint64_t physical = 0;  // first volume block
        uint64_t count = 0;
        bool uninitialised = false;  // allocated, reads as zeros
    };
    std::vector<Extent> extents;  // sorted by logical block, not overlapping
    struct Range {
        uint64_t first = 0;  // logical blocks
        uint64_t count = 0;
    };
    std::vector<Range> damaged;
};

class ExtBlockMap {
public:
    explicit ExtBlockMap(const ExtVolume& volume) : volume_(volume) {}

    // The blocks of `inode` below logical block `blockLimit` (the blocks its size covers).
    ExtMapping map(const ExtInode& inode, uint64_t blockLimit);

    // Nodes or pointer blocks one mapping reads at most, whatever the size says.
    static constexpr uint64_t kMaxMetaBlocks = 1 << 20;
    // Extents one mapping gives at most (no more than the volume has blocks); the rest of a
    // file mapped in more pieces is damaged.
    static constexpr uint64_t kMaxExtents = 1 << 22;

private:
    void walkExtents(const uint8_t* node, size_t bytes, int depth, uint64_t low, uint64_t high);
    void walkPointers(uint64_t block, int level, uint64_t first);
    void addExtent(uint64_t logical, uint64_t physical, uint64_t count, bool uninitialised);
    void addDamage(uint64_t first, uint64_t end);
    bool readBlock(uint64_t block, std::vector<uint8_t>& out);
    void finish();

    const ExtVolume& volume_;
    ExtMapping out_;
    uint64_t limit_ = 0;
    uint64_t metaReads_ = 0;
    std::unordered_set<uint64_t> visited_;  // nodes and pointer blocks read: a loop reads none twice
};

}  // namespace quenlow::fs
