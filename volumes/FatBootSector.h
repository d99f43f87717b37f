#pragma once
// The FAT12/16/32 boot sector: the BIOS parameter block and the FAT32 extension, decoded
// from the sector's bytes alone. Fields outside the bytes given read as 0.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quenlow::volumes {

struct FatBootSector {
    // Byte offsets in the sector.
    struct Offset {
        static constexpr size_t kJump = 0;                 // 0xEB xx 0x90
        static constexpr size_t kOemName = 3;              // 8 bytes
        static constexpr size_t kBytesPerSector = 11;      // 16-bit
        static constexpr size_t kSectorsPerCluster = 13;   // 8-bit
        static constexpr size_t kReservedSectors = 14;     // 16-bit
        static constexpr size_t kFatCount = 16;            // 8-bit
        static constexpr size_t kRootEntries = 17;         // 16-bit
        static constexpr size_t kTotalSectors16 = 19;      // 16-bit, 0: see kTotalSectors32
        static constexpr size_t kMedia = 21;               // 8-bit
        static constexpr size_t kSectorsPerFat16 = 22;     // 16-bit, 0 on FAT32
        static constexpr size_t kHiddenSectors = 28;       // 32-bit
        static constexpr size_t kTotalSectors32 = 32;      // 32-bit
        static constexpr size_t kSectorsPerFat32 = 36;     // 32-bit, FAT32 only
        static constexpr size_t kRootCluster = 44;         // 32-bit, FAT32 only
        static constexpr size_t kSignature = 510;          // 0x55 0xAA
    };
    static constexpr size_t kSize = 512;
    static constexpr size_t kOemNameSize = 8;

    uint8_t jump[3] = {};
    char oemName[kOemNameSize] = {};
    uint16_t bytesPerSector = 0;
    uint8_t sectorsPerCluster = 0;
    uint16_t reservedSectors = 0;
    uint8_t fatCount = 0;
    uint16_t rootEntries = 0;
    uint16_t totalSectors16 = 0;
    uint8_t media = 0;
    uint16_t sectorsPerFat16 = 0;
    uint32_t hiddenSectors = 0;
    uint32_t totalSectors32 = 0;
    uint32_t sectorsPerFat32 = 0;
    uint32_t rootCluster = 0;
    bool signature = false;  // 0x55 0xAA at the end of the sector

    static FatBootSector parse(std::span<const uint8_t> sector);

    // The 16-bit total when it is not 0, else the 32-bit one.
    uint64_t totalSectors() const { return totalSectors16 != 0 ? totalSectors16 : totalSectors32; }
    // The 16-bit FAT size when it is not 0, else the FAT32 one.
    uint64_t sectorsPerFat() const { return sectorsPerFat16 != 0 ? sectorsPerFat16 : sectorsPerFat32; }
    bool oemNameStartsWith(std::string_view prefix) const {
        return prefix.size() <= kOemNameSize && std::string_view(oemName, prefix.size()) == prefix;
    }
};

}  // namespace quenlow::volumes
