#include "filesystems/hfsplus/HfsExtentsIndex.h"

#include "filesystems/hfsplus/HfsNodeDescriptor.h"

namespace quenlow::fs {

void HfsExtentsIndex::addLeaf(std::span<const uint8_t> node) {
    HfsNodeDescriptor d = HfsNodeDescriptor::parse(node);
    if (d.kind != HfsNodeDescriptor::kLeaf) return;
    for (uint16_t at : d.recordOffsets(node)) add(HfsExtentRecord::parse(node, at));
}

void HfsExtentsIndex::add(const HfsExtentRecord& record) {
    if (!record.inside || record.forkType != HfsExtentRecord::kDataFork) return;
    records_.emplace(std::make_pair(record.fileId, record.startBlock), record.extents);
}

std::vector<HfsExtent> HfsExtentsIndex::complete(uint32_t fileId, const HfsExtents& first, uint64_t blocks) const {
    std::vector<HfsExtent> out;
    uint64_t have = 0;
    // Appends up to the first empty extent; false when there was one.
    auto take = [&](const HfsExtents& extents) {
        for (const HfsExtent& e : extents) {
            if (e.blockCount == 0) return false;
            out.push_back(e);
            have += e.blockCount;
        }
        return true;
    };
    bool full = take(first);
    // Every lookup that succeeds adds blocks, so `have` grows and no record is met twice.
    for (size_t lookups = 0; full && have < blocks && have <= UINT32_MAX && lookups < records_.size(); ++lookups) {
        auto it = records_.find({fileId, static_cast<uint32_t>(have)});
        if (it == records_.end() || it->second[0].blockCount == 0) break;
        full = take(it->second);
    }
    return out;
}

}  // namespace quenlow::fs
