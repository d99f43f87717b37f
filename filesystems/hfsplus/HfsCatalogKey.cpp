#include "filesystems/hfsplus/HfsCatalogKey.h"

#include "platform/ByteReader.h"
#include "platform/TextConvert.h"

namespace quenlow::fs {

HfsCatalogKey HfsCatalogKey::parse(std::span<const uint8_t> node, size_t at) {
    platform::ByteReader r(node);
    HfsCatalogKey k;
    k.keyLength = r.be16(at + Offset::kKeyLength);
    k.parentId = r.be32(at + Offset::kParentId);
    k.nameLength = r.be16(at + Offset::kNameLength);
    const size_t nameBytes = 2 * static_cast<size_t>(k.nameLength);
    k.inside = r.fits(at, 2 + static_cast<size_t>(k.keyLength)) && k.keyLength >= 6 &&
               6 + nameBytes <= k.keyLength;
    if (k.usable()) k.name = platform::utf16beToUtf8(node.data() + at + Offset::kName, nameBytes);
    return k;
}

}  // namespace quenlow::fs
