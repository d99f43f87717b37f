#include "filesystems/ext/ExtExtent.h"

#include "platform/ByteReader.h"

namespace quenlow::fs {

ExtExtentHeader ExtExtentHeader::parse(std::span<const uint8_t> bytes) {
    platform::ByteReader r(bytes);
    return {r.le16(Magic), r.le16(Entries), r.le16(Max), r.le16(Depth)};
}

bool ExtExtentHeader::valid(size_t nodeBytes) const {
    if (magic != kMagic || depth > kMaxDepth || entries > max || nodeBytes < kSize) return false;
    return max <= (nodeBytes - kSize) / 12;
}

ExtExtent ExtExtent::parse(std::span<const uint8_t> bytes) {
    platform::ByteReader r(bytes);
    ExtExtent e;
    e.logical = r.le32(Logical);
    uint16_t length = r.le16(Length);
    e.uninitialised = length > 32768;
    e.length = e.uninitialised ? length - 32768u : length;
    e.start = r.le32(StartLo) | static_cast<uint64_t>(r.le16(StartHi)) << 32;
    return e;
}

ExtExtentIndex ExtExtentIndex::parse(std::span<const uint8_t> bytes) {
    platform::ByteReader r(bytes);
    return {r.le32(Logical), r.le32(LeafLo) | static_cast<uint64_t>(r.le16(LeafHi)) << 32};
}

}  // namespace quenlow::fs
