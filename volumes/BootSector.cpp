#include "volumes/BootSector.h"

#include "platform/ByteReader.h"
#include "volumes/FatBootSector.h"
#include "volumes/NtfsBootSector.h"

namespace quenlow::volumes {

namespace {

constexpr size_t kSector = 512;
// exFAT: the volume length in sectors (64-bit) after its own header fields.
constexpr size_t kExfatVolumeLength = 72;
// HFS+ volume header: block size and total blocks (big-endian 32-bit).
constexpr size_t kHfsBlockSize = 40;
constexpr size_t kHfsTotalBlocks = 44;

std::span<const uint8_t> sectorBytes(const unsigned char* s) { return {s, kSector}; }

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
    return s[0] == 0xEB && fatJump(s[1]) && FatBootSector::parse(sectorBytes(s)).oemNameStartsWith("EXFA");
}

BootSector::Verdict BootSector::classify(const unsigned char* s, Rules rules) {
    if (s[0] != 0xEB) return {};
    if (s[1] == 0x52) {
        const NtfsBootSector ntfs = NtfsBootSector::parse(sectorBytes(s));
        if (rules == Rules::Scan && !ntfs.ntfsOemName) return {};
        if (ntfs.bytesPerSector != 512) return {};
        return sized(Family::Ntfs, "NTFS", "", ntfs.totalSectors);
    }
    const FatBootSector bpb = FatBootSector::parse(sectorBytes(s));
    bool msdos = bpb.oemNameStartsWith("MSDO");
    bool exfat = bpb.oemNameStartsWith("EXFA");
    if (fatJump(s[1]) && (msdos || exfat)) {
        Verdict named;
        if (exfat) {
            named = sized(Family::Fat, "FAT64", "found FAT 64...",
                          platform::ByteReader(sectorBytes(s)).le64(kExfatVolumeLength));
        } else {
            uint16_t perFat = bpb.sectorsPerFat16;
            if (perFat == 0) {
                named = sized(Family::Fat, "FAT32", "found FAT 32...", bpb.totalSectors32);
            } else if (perFat == 200 || perFat == 256 || (rules == Rules::Scan && perFat == 128)) {
                auto small = static_cast<int16_t>(bpb.totalSectors16);
                uint64_t total = small > 0 ? static_cast<uint64_t>(small) : bpb.totalSectors32;
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
    const FatBootSector bpb = FatBootSector::parse(sectorBytes(s));
    if (bpb.jump[0] != 0xEB || bpb.jump[2] != 0x90) return {};
    if (!bpb.signature) return {};
    uint32_t bytesPerSector = bpb.bytesPerSector;
    if (!isPowerOfTwo(bytesPerSector) || bytesPerSector < 512 || bytesPerSector > 4096) return {};
    uint32_t perCluster = bpb.sectorsPerCluster;
    if (!isPowerOfTwo(perCluster)) return {};
    uint32_t reserved = bpb.reservedSectors;
    uint32_t fats = bpb.fatCount;
    if (reserved < 1 || (fats != 1 && fats != 2)) return {};
    unsigned char media = bpb.media;
    if (media != 0xF0 && media < 0xF8) return {};
    uint32_t rootEntries = bpb.rootEntries;
    uint64_t total = bpb.totalSectors();
    uint16_t perFat16 = bpb.sectorsPerFat16;
    uint64_t perFat = bpb.sectorsPerFat();
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
        uint32_t rootCluster = bpb.rootCluster;
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
    const platform::ByteReader in(sectorBytes(s));
    uint64_t size = static_cast<uint64_t>(in.be32(kHfsBlockSize)) * in.be32(kHfsTotalBlocks);
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
