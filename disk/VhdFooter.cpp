#include "disk/VhdFooter.h"

#include "platform/ByteReader.h"

namespace quenlow::disk {

uint32_t VhdFooter::checksumOf(std::span<const uint8_t> footer) {
    uint32_t sum = 0;
    for (size_t i = 0; i < kSize && i < footer.size(); ++i)
        if (i < Offset::kChecksum || i >= Offset::kChecksum + 4) sum += footer[i];
    return ~sum;
}

VhdFooter VhdFooter::parse(std::span<const uint8_t> bytes) {
    VhdFooter f;
    if (bytes.size() < kSize) return f;
    const platform::ByteReader in(bytes.first(kSize));
    f.cookie = in.equals(Offset::kCookie, "conectix");
    f.checksum = checksumOf(bytes) == in.be32(Offset::kChecksum);
    f.dataOffset = in.be64(Offset::kDataOffset);
    f.currentSize = in.be64(Offset::kCurrentSize);
    f.diskType = in.be32(Offset::kDiskType);
    return f;
}

}  // namespace quenlow::disk
