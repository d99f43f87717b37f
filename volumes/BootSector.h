#pragma once
// Telling a volume's file system from its first sector (or, for HFS+, its volume header).
// Pure functions over 512 bytes: no reads, every field checked before use, sizes computed
// without overflow.

#include <cstdint>
#include <string>

namespace quenlow::volumes {

class BootSector {
public:
    enum class Family { None, Ntfs, Fat, HfsPlus };

    struct Verdict {
        Family family = Family::None;
        std::string fileSystem;    // "NTFS", "FAT12", "FAT16", "FAT32", "FAT64", "UNKNOWN", "HFS+"
        std::string status;        // "found FAT 32..." and so on; empty for NTFS (numbered by the caller)
        uint64_t sizeMiB = 0;      // whole MiB, truncated
        uint64_t sizeSectors = 0;  // 512-byte sectors covered (the skip of the sector scan)
        bool record = false;       // to be listed (recognised, and of a size worth listing)
    };

    // Which rules apply: the partition-table listing and the sector scan differ slightly
    // (the scan wants the "NTFS" OEM name and also takes 128 sectors per FAT as FAT16).
    enum class Rules { Table, Scan };

    // Classifies a boot sector (a sector starting with a jump). Family None when it is none
    // of NTFS, FAT12/16/32 or exFAT. A FAT-family verdict with size 0 means "seen but not to
    // be listed" (for instance "UNKNOWN").
    static Verdict classify(const unsigned char* sector, Rules rules);

    // The structural test of a FAT12/16/32 BIOS parameter block: jump, bytes per sector a
    // power of two 512-4096, sectors per cluster a power of two, reserved sectors >= 1, one
    // or two FATs, media byte, 0x55AA, FATs large enough for the cluster count, and the
    // FAT type from the cluster count. Family None when the block is not sound.
    static Verdict soundFat(const unsigned char* sector);

    // An HFS+ volume header ('H', '+', 0 at its start; the volume starts two sectors
    // earlier). Family None when the signature is absent; a size outside 1 MiB..20,971,519
    // MiB gives a verdict that is not recordable but still carries sizeSectors.
    static Verdict hfsPlusHeader(const unsigned char* sector);
    static bool hasHfsPlusSignature(const unsigned char* sector) {
        return sector[0] == 'H' && sector[1] == '+' && sector[2] == 0;
    }

    // The exFAT test: 0xEB, 0x3C/0x58/0x76, "EXFA".
    static bool isExfat(const unsigned char* sector);
};

}  // namespace quenlow::volumes
