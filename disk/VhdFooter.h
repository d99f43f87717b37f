#pragma once
// The 512-byte VHD footer (kept at the end of every VHD file, and copied to the start of a
// dynamic one), decoded from its bytes alone. Fields are big-endian; fields outside the
// bytes given read as 0.

#include <cstddef>
#include <cstdint>
#include <span>

namespace quenlow::disk {

struct VhdFooter {
    // Byte offsets in the footer.
    struct Offset {
        static constexpr size_t kCookie = 0;        // "conectix"
        static constexpr size_t kDataOffset = 16;   // 64-bit: the dynamic header's place
        static constexpr size_t kCurrentSize = 48;  // 64-bit: the virtual disk's size in bytes
        static constexpr size_t kDiskType = 60;     // 32-bit
        static constexpr size_t kChecksum = 64;     // 32-bit: one's complement of the byte sum
    };
    static constexpr size_t kSize = 512;
    static constexpr uint32_t kFixed = 2;
    static constexpr uint32_t kDynamic = 3;
    static constexpr uint32_t kDifferencing = 4;

    bool cookie = false;    // "conectix" at its start
    bool checksum = false;  // the stored checksum matches the footer's bytes
    uint64_t dataOffset = 0;
    uint64_t currentSize = 0;
    uint32_t diskType = 0;

    // Fewer than 512 bytes give a footer with neither cookie nor checksum.
    static VhdFooter parse(std::span<const uint8_t> bytes);
    // The checksum of a 512-byte footer: the one's complement of the sum of its bytes, the
    // checksum field itself left out.
    static uint32_t checksumOf(std::span<const uint8_t> footer);

    // A footer whose cookie and checksum both hold: what makes a file a VHD.
    bool valid() const { return cookie && checksum; }
};

}  // namespace quenlow::disk
