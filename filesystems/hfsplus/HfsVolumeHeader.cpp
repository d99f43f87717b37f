#include "filesystems/hfsplus/HfsVolumeHeader.h"

#include "platform/ByteReader.h"

namespace quenlow::fs {

HfsVolumeHeader HfsVolumeHeader::parse(std::span<const uint8_t> bytes) {
    platform::ByteReader r(bytes);
    HfsVolumeHeader h;
    h.signature = r.be16(Offset::kSignature);
    h.blockSize = r.be32(Offset::kBlockSize);
    h.totalBlocks = r.be32(Offset::kTotalBlocks);
    h.extentsFile = HfsForkData::parse(bytes, Offset::kExtentsFile);
    h.catalogFile = HfsForkData::parse(bytes, Offset::kCatalogFile);
    return h;
}

}  // namespace quenlow::fs
