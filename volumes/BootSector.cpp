#include "volumes/BootSector.h"

#include <cstring>

namespace quenlow::volumes {

namespace {

uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t le64(const unsigned char* p) {
    return static_cast<uint64_t>(le32(p)) | (static_cast<uint64_t>(le32(p + 4)) << 32);
}
uint32_t be32(const unsigned char* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

bool isPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool fatJump(unsigned char b) { return b == 0x3C || b == 0x58 || b == 0x76; }

// A verdict whose size is given in 512-byte sectors.
BootSector::Verdict sized(BootSector::Family family, const char* fs, const char* status,
                          uint64_t sectors) {
    BootSector::Verdict v;
    v.family = family;
    v.fileSystem = fs;
    v.status = status;
    v.sizeSectors = sectors;
    v.sizeMiB = sectors / 2048;
    v.record = v.sizeMiB > 0;
    return v;
}

}  // namespace

bool BootSector::isExfat(const unsigned char* s) {
    return s[0] == 0xEB && fatJump(s[1]) && std::memcmp(s + 3, "EXFA", 4) == 0;
}

BootSector::Verdict BootSector::classify(const unsigned char* s, Rules rules) {
    if (s[0] != 0xEB) return {};
    if (s[1] == 0x52) {
        if (rules == Rules::Scan && std::memcmp(s + 3, "NTFS", 4) != 0) return {};
        if (le16(s + 11) != 512) return {};
        return sized(Family::Ntfs, "NTFS", "", le64(s + 40));
    }
    bool msdos = std::memcmp(s + 3, "MSDO", 4) == 0;
    bool exfat = std::memcmp(s + 3, "EXFA", 4) == 0;
    if (fatJump(s[1]) && (msdos || exfat)) {
        Verdict named;
        if (exfat) {
            named = sized(Family::Fat, "FAT64", "found FAT 64...", le64(s + 72));
        } else {
            uint16_t perFat = le16(s + 22);
            if (perFat == 0) {
                named = sized(Family::Fat, "FAT32", "found FAT 32...", le32(s + 32));
            } else if (perFat == 200 || perFat == 256 || (rules == Rules::Scan && perFat == 128)) {
                auto small = static_cast<int16_t>(le16(s + 19));
                uint64_t total = small > 0 ? static_cast<uint64_t>(small) : le32(s + 32);
                named = sized(Family::Fat, "FAT16", "found FAT 16...", total);
            } else {
                named = sized(Family::Fat, "UNKNOWN", "found unknown...", 0);
            }
        }
        if (named.record) return named;
        // The named rules missed it (an unusual FAT size, a 16-bit total read as negative):
        // a sound parameter block still makes it a volume.
        Verdict sound = soundFat(s);
        return sound.record ? sound : named;
    }
    Verdict sound = soundFat(s);
    return sound.record ? sound : Verdict{};
}

BootSector::Verdict BootSector::soundFat(const unsigned char* s) {
    if (s[0] != 0xEB || s[2] != 0x90) return {};
    if (s[510] != 0x55 || s[511] != 0xAA) return {};
    uint32_t bytesPerSector = le16(s + 11);
    if (!isPowerOfTwo(bytesPerSector) || bytesPerSector < 512 || bytesPerSector > 4096) return {};
    uint32_t perCluster = s[13];
    if (!isPowerOfTwo(perCluster)) return {};
    uint32_t reserved = le16(s + 14);
    uint32_t fats = s[16];
    if (reserved < 1 || (fats != 1 && fats != 2)) return {};
    unsigned char media = s[21];
    if (media != 0xF0 && media < 0xF8) return {};
    uint32_t rootEntries = le16(s + 17);
    uint16_t total16 = le16(s + 19);
    uint64_t total = total16 != 0 ? total16 : le32(s + 32);
    uint16_t perFat16 = le16(s + 22);
    uint64_t perFat = perFat16 != 0 ? perFat16 : le32(s + 36);
    if (total == 0 || perFat == 0) return {};

    uint64_t rootSectors = (static_cast<uint64_t>(rootEntries) * 32 + bytesPerSector - 1) / bytesPerSector;
    uint64_t meta = reserved + fats * perFat + rootSectors;
    if (meta >= total) return {};
    uint64_t clusters = (total - meta) / perCluster;
    if (clusters == 0) return {};

    const char* fs;
    const char* status;
    uint64_t entryBits;
    if (clusters < 4085) {
        fs = "FAT12", status = "found FAT 12...", entryBits = 12;
    } else if (clusters < 65525) {
        fs = "FAT16", status = "found FAT 16...", entryBits = 16;
    } else {
        fs = "FAT32", status = "found FAT 32...", entryBits = 32;
    }
    if (entryBits == 32) {
        // FAT32 keeps its root folder in a cluster and its FAT size in the 32-bit field.
        uint32_t rootCluster = le32(s + 44);
        if (rootEntries != 0 || perFat16 != 0 || rootCluster < 2 || rootCluster >= clusters + 2) return {};
    } else if (rootEntries == 0 || perFat16 == 0) {
        return {};
    }
    // Every cluster needs its entry in the FAT.
    if (perFat * bytesPerSector * 8 < (clusters + 2) * entryBits) return {};

    return sized(Family::Fat, fs, status, total * (bytesPerSector / 512));
}

BootSector::Verdict BootSector::hfsPlusHeader(const unsigned char* s) {
    if (!hasHfsPlusSignature(s)) return {};
    uint64_t size = static_cast<uint64_t>(be32(s + 40)) * be32(s + 44);
    Verdict v;
    v.family = Family::HfsPlus;
    v.fileSystem = "HFS+";
    v.status = "found HFS+...";
    v.sizeMiB = size >> 20;
    v.sizeSectors = size / 512;
    v.record = v.sizeMiB >= 1 && v.sizeMiB <= 0x13FFFFF;
    return v;
}

}  // namespace quenlow::volumes
