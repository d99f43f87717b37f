#include "filesystems/hfsplus/HfsHeaderRecord.h"

#include "platform/ByteReader.h"

namespace quenlow::fs {

HfsHeaderRecord HfsHeaderRecord::parse(std::span<const uint8_t> node) {
    platform::ByteReader r(node);
    HfsHeaderRecord h;
    h.treeDepth = r.be16(kNodeOffset + Offset::kTreeDepth);
    h.rootNode = r.be32(kNodeOffset + Offset::kRootNode);
    h.firstLeaf = r.be32(kNodeOffset + Offset::kFirstLeaf);
    h.lastLeaf = r.be32(kNodeOffset + Offset::kLastLeaf);
    h.nodeSize = r.be16(kNodeOffset + Offset::kNodeSize);
    h.totalNodes = r.be32(kNodeOffset + Offset::kTotalNodes);
    return h;
}

}  // namespace quenlow::fs
