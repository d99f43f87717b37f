#include "filesystems/hfsplus/HfsForkData.h"

#include "platform/ByteReader.h"

namespace quenlow::fs {

HfsExtents parseHfsExtents(std::span<const uint8_t> bytes, size_t at) {
    platform::ByteReader r(bytes);
    HfsExtents extents{};
    for (size_t i = 0; i < extents.size(); ++i)
        extents[i] = {r.be32(at + 8 * i), r.be32(at + 8 * i + 4)};
    return extents;
}

HfsForkData HfsForkData::parse(std::span<const uint8_t> bytes, size_t at) {
    platform::ByteReader r(bytes);
    HfsForkData f;
    f.logicalSize = r.be64(at + Offset::kLogicalSize);
    f.totalBlocks = r.be32(at + Offset::kTotalBlocks);
    f.extents = parseHfsExtents(bytes, at + Offset::kExtents);
    return f;
}

}  // namespace quenlow::fs
