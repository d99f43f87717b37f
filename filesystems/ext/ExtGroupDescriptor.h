#pragma once
// One block group descriptor: where the group's inode table lies and, on volumes with group
// checksums, how much of it is in use. 64bit volumes carry the high halves in the second
// 32 bytes of a 64-byte descriptor.

#include <cstdint>
#include <span>

namespace quenlow::fs {

struct ExtGroupDescriptor {
    enum Offset : size_t {
        InodeTableLo = 8,
        Flags = 18,
        ItableUnusedLo = 28,
        InodeTableHi = 40,
        ItableUnusedHi = 50,
    };
    enum Flag : uint16_t { InodeUninit = 0x1 };

    uint64_t inodeTable = 0;    // first block of the inode table
    uint16_t flags = 0;
    uint32_t itableUnused = 0;  // inodes at the end of the table never used

    // `wide`: a descriptor of 64 bytes or more, with the high halves.
    static ExtGroupDescriptor parse(std::span<const uint8_t> bytes, bool wide);
};

}  // namespace quenlow::fs
