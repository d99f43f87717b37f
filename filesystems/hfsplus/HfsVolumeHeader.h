#pragma once
// The HFS+ volume header: 512 bytes at byte 1024 of the volume, big-endian. Its signature
// is not checked: a volume that is not HFS+ fails on its block size or its catalog.

#include <cstddef>
#include <cstdint>
#include <span>

#include "filesystems/hfsplus/HfsForkData.h"

namespace quenlow::fs {

struct HfsVolumeHeader {
    struct Offset {
        static constexpr size_t kSignature = 0;      // "H+" (HFSX: "HX")
        static constexpr size_t kBlockSize = 40;     // 32-bit
        static constexpr size_t kTotalBlocks = 44;   // 32-bit
        static constexpr size_t kExtentsFile = 192;  // fork data
        static constexpr size_t kCatalogFile = 272;  // fork data
    };
    static constexpr int64_t kVolumeOffset = 1024;
    static constexpr size_t kSize = 512;

    uint16_t signature = 0;
    uint32_t blockSize = 0;
    uint32_t totalBlocks = 0;
    HfsForkData extentsFile;
    HfsForkData catalogFile;

    static HfsVolumeHeader parse(std::span<const uint8_t> bytes);

    // HFS+ block sizes are powers of two from 512 bytes; this parser takes up to 4096.
    bool blockSizeValid() const { return blockSize >= 512 && blockSize <= 4096 && (blockSize & (blockSize - 1)) == 0; }
};

}  // namespace quenlow::fs
