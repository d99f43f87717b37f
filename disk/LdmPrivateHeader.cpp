#include "disk/LdmPrivateHeader.h"

#include "platform/ByteReader.h"

namespace quenlow::disk {

LdmPrivateHeader LdmPrivateHeader::parse(std::span<const uint8_t> sector) {
    const platform::ByteReader in(sector);
    LdmPrivateHeader h;
    h.magic = in.equals(Offset::kMagic, "PRIVHEAD");
    h.logicalStart = in.be64(Offset::kLogicalStart);
    h.logicalSize = in.be64(Offset::kLogicalSize);
    return h;
}

}  // namespace quenlow::disk
