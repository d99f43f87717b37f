#include "raw/Finish.h"

#include <algorithm>
#include <array>

#include "platform/ByteReader.h"

namespace quenlow::raw {

namespace {

struct Named {
    const char* name;
    Finish finish;
};
constexpr std::array<Named, 5> kNames{{{"zip-end", Finish::ZipEndRecord},
                                       {"pdf-eol", Finish::PdfLineEnd},
                                       {"sqlite-pages", Finish::SqlitePages},
                                       {"7z-header", Finish::SevenZipHeader},
                                       {"jpeg-segments", Finish::JpegSegments}}};

// `count` bytes at `at`, or nothing when they do not lie inside the volume or fail to read.
// Readers deliver whole sectors from sector starts: the sectors holding the bytes are read.
template <size_t N>
bool readAt(const disk::VolumeView& view, int64_t limit, int64_t at, std::array<uint8_t, N>& out, size_t count = N) {
    static_assert(N <= 512);
    if (at < 0 || at > limit || limit - at < static_cast<int64_t>(count)) return false;
    const int64_t first = at / 512 * 512;
    std::array<uint8_t, 2 * 512> sectors{};
    const size_t span = static_cast<size_t>(at - first) + count;
    if (!view.read(first, sectors.data(), span).ok()) return false;
    std::copy_n(sectors.begin() + (at - first), count, out.begin());
    return true;
}

std::optional<int64_t> within(int64_t size, int64_t start, int64_t limit) {
    if (size <= 0 || size > limit - start) return std::nullopt;
    return size;
}

}  // namespace

std::optional<Finish> finishFromName(const std::string& name) {
    if (name.empty() || name == "-") return Finish::None;
    for (const Named& n : kNames)
        if (name == n.name) return n.finish;
    return std::nullopt;
}

std::string finishName(Finish finish) {
    for (const Named& n : kNames)
        if (n.finish == finish) return n.name;
    return "-";
}

std::optional<int64_t> finishSize(Finish finish, const disk::VolumeView& view, int64_t limit, int64_t start,
                                  int64_t end, int endLength) {
    switch (finish) {
    case Finish::None:
    case Finish::JpegSegments:
        return std::nullopt;
    case Finish::ZipEndRecord: {
        // End of central directory: signature, 16 bytes of counts and offsets, the comment
        // length at 20, then the comment.
        std::array<uint8_t, 22> record{};
        if (end < 0 || !readAt(view, limit, end, record)) return std::nullopt;
        platform::ByteReader r(record.data(), record.size());
        return within(end + 22 + r.le16(20) - start, start, limit);
    }
    case Finish::PdfLineEnd: {
        if (end < 0) return std::nullopt;
        int64_t after = end + endLength;
        std::array<uint8_t, 2> tail{};
        size_t have = static_cast<size_t>(std::min<int64_t>(2, std::max<int64_t>(0, limit - after)));
        int64_t extra = 0;
        if (have > 0 && readAt(view, limit, after, tail, have)) {
            if (tail[0] == '\r' && have == 2 && tail[1] == '\n') extra = 2;
            else if (tail[0] == '\n' || tail[0] == '\r') extra = 1;
        }
        return within(after + extra - start, start, limit);
    }
    case Finish::SqlitePages: {
        std::array<uint8_t, 32> header{};
        if (!readAt(view, limit, start, header)) return std::nullopt;
        platform::ByteReader r(header.data(), header.size());
        uint32_t pageSize = r.be16(16) == 1 ? 65536u : r.be16(16);
        // A power of two from 512 to 65536.
        if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0) return std::nullopt;
        uint64_t pages = r.be32(28);
        if (pages == 0 || pages > static_cast<uint64_t>(limit) / pageSize) return std::nullopt;
        return within(static_cast<int64_t>(pages * pageSize), start, limit);
    }
    case Finish::SevenZipHeader: {
        std::array<uint8_t, 32> header{};
        if (!readAt(view, limit, start, header)) return std::nullopt;
        platform::ByteReader r(header.data(), header.size());
        uint64_t offset = r.le64(12), size = r.le64(20);
        const uint64_t room = static_cast<uint64_t>(limit - start);
        if (offset > room || size > room || offset + size > room - 32) return std::nullopt;
        return within(static_cast<int64_t>(32 + offset + size), start, limit);
    }
    }
    return std::nullopt;
}

int64_t endSearchFrom(Finish finish, const disk::VolumeView& view, int64_t limit, int64_t start) {
    if (finish != Finish::JpegSegments) return start + 1;
    // SOI, then marker segments (FF, marker, big-endian length counting itself) up to the
    // start of scan; at most 64 segments are walked.
    int64_t p = start + 2;
    for (int segment = 0; segment < 64; ++segment) {
        std::array<uint8_t, 4> m{};
        if (!readAt(view, limit, p, m) || m[0] != 0xFF) break;
        if (m[1] == 0xFF) {  // fill byte
            ++p;
            continue;
        }
        if (m[1] == 0xD9 || m[1] == 0xD8 || m[1] == 0x00) break;
        const int64_t length = (m[2] << 8) | m[3];
        if (length < 2) break;
        p += 2 + length;
        if (m[1] == 0xDA) return p;  // the entropy-coded data follows the scan header
    }
    return start + 1;
}

}  // namespace quenlow::raw
