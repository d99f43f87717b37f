#include "filesystems/ext/ExtGroupDescriptor.h"

#include "platform/ByteReader.h"

namespace quenlow::fs {

ExtGroupDescriptor ExtGroupDescriptor::parse(std::span<const uint8_t> bytes, bool wide) {
    platform::ByteReader r(bytes);
    ExtGroupDescriptor d;
    d.inodeTable = r.le32(InodeTableLo);
    d.flags = r.le16(Flags);
    d.itableUnused = r.le16(ItableUnusedLo);
    if (wide) {
        d.inodeTable |= static_cast<uint64_t>(r.le32(InodeTableHi)) << 32;
        d.itableUnused |= static_cast<uint32_t>(r.le16(ItableUnusedHi)) << 16;
    }
    return d;
}

}  // namespace quenlow::fs
