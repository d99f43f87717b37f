#include "filesystems/hfsplus/HfsExtentRecord.h"

#include "platform/ByteReader.h"

namespace quenlow::fs {

HfsExtentRecord HfsExtentRecord::parse(std::span<const uint8_t> node, size_t at) {
    platform::ByteReader r(node);
    HfsExtentRecord e;
    e.keyLength = r.be16(at + Offset::kKeyLength);
    e.forkType = r.u8(at + Offset::kForkType);
    e.fileId = r.be32(at + Offset::kFileId);
    e.startBlock = r.be32(at + Offset::kStartBlock);
    e.inside = e.keyLength == 10 && r.fits(at, kSize);
    if (e.inside) e.extents = parseHfsExtents(node, at + Offset::kExtents);
    return e;
}

}  // namespace quenlow::fs
