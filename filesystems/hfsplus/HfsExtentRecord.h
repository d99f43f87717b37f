#pragma once
// A leaf record of the extents-overflow file: the 12-byte key (fork type, file ID, the
// fork's block where these extents start) and the eight extents that follow it.

#include <cstddef>
#include <cstdint>
#include <span>

#include "filesystems/hfsplus/HfsForkData.h"

namespace quenlow::fs {

struct HfsExtentRecord {
    struct Offset {
        static constexpr size_t kKeyLength = 0;   // 16-bit: 10
        static constexpr size_t kForkType = 2;    // 8-bit: 0x00 data, 0xFF resource
        static constexpr size_t kFileId = 4;      // 32-bit
        static constexpr size_t kStartBlock = 8;  // 32-bit, in the fork
        static constexpr size_t kExtents = 12;
    };
    static constexpr size_t kSize = 12 + 64;
    static constexpr uint8_t kDataFork = 0x00;

    uint16_t keyLength = 0;
    uint8_t forkType = 0;
    uint32_t fileId = 0;
    uint32_t startBlock = 0;
    HfsExtents extents{};
    bool inside = false;  // key and extents lie inside the bytes, the key is 10 bytes long

    static HfsExtentRecord parse(std::span<const uint8_t> node, size_t at);
};

}  // namespace quenlow::fs
