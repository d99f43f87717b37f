#pragma once
// One inode: its type and permissions, size, times and the 60 bytes that hold its block
// map, its extent tree root, or a short symbolic link's target.

#include <array>
#include <cstdint>
#include <span>

#include "platform/LocalTime.h"

namespace quenlow::fs {

struct ExtInode {
    enum Offset : size_t {
        Mode = 0,
        SizeLo = 4,
        Atime = 8,
        Ctime = 12,
        Mtime = 16,
        LinksCount = 26,
        Flags = 32,
        Block = 40,
        SizeHigh = 108,
        ExtraIsize = 128,
        CtimeExtra = 132,
        MtimeExtra = 136,
        AtimeExtra = 140,
    };
    static constexpr size_t kBlockAreaSize = 60;
    enum Flag : uint32_t { ExtentsFlag = 0x80000, InlineDataFlag = 0x10000000 };

    uint16_t mode = 0;
    uint64_t size = 0;
    uint16_t linksCount = 0;
    uint32_t flags = 0;
    // Times in UTC: the 32-bit seconds, and where the inode has room for them the extra
    // fields' epoch bits and nanoseconds.
    platform::UnixTime accessed, changed, modified;
    bool nanoseconds = false;  // the extra time fields are present
    std::array<uint8_t, kBlockAreaSize> blockArea{};

    // `bytes`: the whole inode (the volume's inode size).
    static ExtInode parse(std::span<const uint8_t> bytes);

    uint16_t type() const { return mode & 0xF000; }
    bool isFolder() const { return type() == 0x4000; }
    bool isRegular() const { return type() == 0x8000; }
    bool isSymlink() const { return type() == 0xA000; }
    bool usesExtents() const { return (flags & ExtentsFlag) != 0; }
    bool inlineData() const { return (flags & InlineDataFlag) != 0; }
    // A symbolic link whose target is kept in the block area itself.
    bool fastSymlink() const { return isSymlink() && size < kBlockAreaSize && !usesExtents(); }
};

}  // namespace quenlow::fs
