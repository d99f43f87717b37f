#pragma once
// The data-fork records of the extents-overflow file, by (file ID, the fork's block where
// they start): what completes a fork whose first eight extents do not hold all its blocks.
// Resource-fork records are not kept, so they can never be taken for a data fork's.

#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "filesystems/hfsplus/HfsExtentRecord.h"
#include "filesystems/hfsplus/HfsForkData.h"

namespace quenlow::fs {

class HfsExtentsIndex {
public:
    // Takes the data-fork records of one leaf node of the extents-overflow file.
    void addLeaf(std::span<const uint8_t> node);
    void add(const HfsExtentRecord& record);
    size_t size() const { return records_.size(); }

    // The fork's extents in order: the first eight up to the first empty one, then the
    // overflow records that start where the extents so far end, until they hold `blocks`
    // blocks or no record follows. Each record is taken at most once.
    std::vector<HfsExtent> complete(uint32_t fileId, const HfsExtents& first, uint64_t blocks) const;

private:
    std::map<std::pair<uint32_t, uint32_t>, HfsExtents> records_;
};

}  // namespace quenlow::fs
