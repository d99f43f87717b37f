#include "filesystems/ext/ExtInode.h"

#include "platform/ByteReader.h"

namespace quenlow::fs {

namespace {

// The 32-bit seconds are signed; the extra field's low two bits extend them past 2038 and
// its upper 30 bits are nanoseconds.
platform::UnixTime timeOf(const platform::ByteReader& r, size_t at, size_t extraAt, bool extra) {
    platform::UnixTime t;
    t.seconds = static_cast<int32_t>(r.le32(at));
    if (extra) {
        uint32_t e = r.le32(extraAt);
        t.seconds += static_cast<int64_t>(e & 3) << 32;
        t.nanoseconds = (e >> 2) < 1'000'000'000 ? e >> 2 : 0;
    }
    return t;
}

}  // namespace

ExtInode ExtInode::parse(std::span<const uint8_t> bytes) {
    platform::ByteReader r(bytes);
    ExtInode n;
    n.mode = r.le16(Mode);
    n.size = r.le32(SizeLo) | static_cast<uint64_t>(r.le32(SizeHigh)) << 32;
    n.linksCount = r.le16(LinksCount);
    n.flags = r.le32(Flags);
    for (size_t i = 0; i < kBlockAreaSize; ++i) n.blockArea[i] = r.u8(Block + i);
    // The extra fields exist where the inode is larger than 128 bytes and its extra size
    // covers them.
    const size_t extraEnd = 128 + static_cast<size_t>(r.le16(ExtraIsize));
    n.nanoseconds = bytes.size() > 128 && extraEnd >= AtimeExtra + 4 && r.fits(AtimeExtra, 4);
    n.accessed = timeOf(r, Atime, AtimeExtra, n.nanoseconds);
    n.changed = timeOf(r, Ctime, CtimeExtra, n.nanoseconds);
    n.modified = timeOf(r, Mtime, MtimeExtra, n.nanoseconds);
    return n;
}

}  // namespace quenlow::fs
