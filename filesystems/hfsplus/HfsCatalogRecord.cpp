#include "filesystems/hfsplus/HfsCatalogRecord.h"

#include "platform/ByteReader.h"

namespace quenlow::fs {

HfsCatalogRecord HfsCatalogRecord::parse(std::span<const uint8_t> node, size_t at) {
    platform::ByteReader r(node);
    HfsCatalogRecord c;
    c.type = r.be16(at + Offset::kType);
    if (c.type != kFolder && c.type != kFile) return c;
    c.inside = r.fits(at, c.type == kFolder ? kFolderSize : kFileSize);
    if (!c.inside) return c;
    c.id = r.be32(at + Offset::kId);
    c.createDate = r.be32(at + Offset::kCreateDate);
    c.contentModDate = r.be32(at + Offset::kContentModDate);
    c.attributeModDate = r.be32(at + Offset::kAttributeModDate);
    c.accessDate = r.be32(at + Offset::kAccessDate);
    c.fileMode = r.be16(at + Offset::kFileMode);
    if (c.type == kFile) c.dataFork = HfsForkData::parse(node, at + Offset::kDataFork);
    return c;
}

}  // namespace quenlow::fs
