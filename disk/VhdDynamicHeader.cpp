#include "disk/VhdDynamicHeader.h"

#include "platform/ByteReader.h"

namespace quenlow::disk {

VhdDynamicHeader VhdDynamicHeader::parse(std::span<const uint8_t> bytes) {
    const platform::ByteReader in(bytes);
    VhdDynamicHeader h;
    h.cookie = in.equals(Offset::kCookie, "cxsparse");
    h.tableOffset = in.be64(Offset::kTableOffset);
    h.maxTableEntries = in.be32(Offset::kMaxTableEntries);
    h.blockSize = in.be32(Offset::kBlockSize);
    return h;
}

}  // namespace quenlow::disk
