#pragma once
// The NTFS boot sector: the fields the volume finder and the NTFS parser read, decoded from
// the sector's bytes alone. Fields outside the bytes given read as 0.

#include <cstddef>
#include <cstdint>
#include <span>

namespace quenlow::volumes {

struct NtfsBootSector {
    // Byte offsets in the sector.
    struct Offset {
        static constexpr size_t kJump = 0;                // 0xEB 0x52 0x90
        static constexpr size_t kOemName = 3;             // "NTFS    "
        static constexpr size_t kBytesPerSector = 11;     // 16-bit
        static constexpr size_t kSectorsPerCluster = 13;  // 8-bit, see sectorsPerCluster()
        static constexpr size_t kTotalSectors = 40;       // 64-bit
        static constexpr size_t kMftCluster = 48;         // 64-bit
        static constexpr size_t kMftMirrorCluster = 56;   // 64-bit
        static constexpr size_t kClustersPerRecord = 64;  // signed 8-bit
        static constexpr size_t kSignature = 510;         // 0x55 0xAA
    };
    static constexpr size_t kSize = 512;

    uint8_t jump[2] = {};          // the first two bytes: 0xEB 0x52 on an NTFS volume
    bool ntfsOemName = false;      // the OEM name starts with "NTFS"
    uint16_t bytesPerSector = 0;
    uint8_t sectorsPerClusterRaw = 0;
    uint64_t totalSectors = 0;
    uint64_t mftCluster = 0;
    uint64_t mftMirrorCluster = 0;
    int8_t clustersPerRecordRaw = 0;
    bool signature = false;        // 0x55 0xAA at the end of the sector

    static NtfsBootSector parse(std::span<const uint8_t> sector);

    // The jump of an NTFS boot sector (0xEB 0x52).
    bool ntfsJump() const { return jump[0] == 0xEB && jump[1] == 0x52; }
    // Sectors per cluster. Clusters above 64 KiB store the count as a negative power of two:
    // a raw value above 0x80 is 2^(256 - raw) when that shift is at most 20; any other raw
    // value is taken as it stands.
    uint64_t sectorsPerCluster() const;
    // bytesPerSector × sectorsPerCluster().
    uint64_t clusterBytes() const { return uint64_t{bytesPerSector} * sectorsPerCluster(); }
    // The size of an MFT record: that many clusters when positive, 2^-n bytes when negative
    // (0 when the value is 0 or the shift is beyond 31).
    uint64_t recordBytes() const;
};

}  // namespace quenlow::volumes
