#include "filesystems/hfsplus/HfsNodeDescriptor.h"

#include <algorithm>

#include "platform/ByteReader.h"

namespace quenlow::fs {

HfsNodeDescriptor HfsNodeDescriptor::parse(std::span<const uint8_t> node) {
    platform::ByteReader r(node);
    HfsNodeDescriptor d;
    d.forwardLink = r.be32(Offset::kForwardLink);
    d.backwardLink = r.be32(Offset::kBackwardLink);
    d.kind = static_cast<int8_t>(r.u8(Offset::kKind));
    d.height = r.u8(Offset::kHeight);
    d.recordCount = r.be16(Offset::kRecordCount);
    return d;
}

std::vector<uint16_t> HfsNodeDescriptor::recordOffsets(std::span<const uint8_t> node) const {
    std::vector<uint16_t> offsets;
    if (node.size() < kSize + 2) return offsets;
    const size_t count = std::min<size_t>(recordCount, (node.size() - kSize) / 2);
    platform::ByteReader r(node);
    offsets.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        uint16_t at = r.be16(node.size() - 2 * (i + 1));
        if (at >= kSize && size_t{at} + 2 < node.size()) offsets.push_back(at);
    }
    return offsets;
}

}  // namespace quenlow::fs
