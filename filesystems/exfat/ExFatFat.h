#pragma once
// The FAT of an exFAT volume: the next cluster of a chain. Entries are read from the FAT in
// blocks of 64 KiB, of which a bounded number are kept, so walking and saving cost one
// read per block instead of one per cluster; every entry is the one a read of its own
// 512-byte sector gives (a sector that cannot be read gives 0, as the read leaves it).

#include <cstdint>
#include <vector>

#include "disk/VolumeView.h"
#include "filesystems/exfat/ExFatGeometry.h"

namespace quenlow::fs {

inline constexpr uint32_t kEndOfChain = 0xFFFFFFFF;

class ExFatFat {
public:
    ExFatFat(disk::VolumeView view, const ExFatGeometry& geometry, bool driveFormatted);

    // The FAT entry of `cluster`, or kEndOfChain when the drive is taken as formatted or the
    // cluster cannot be named (0, 1, or not below the volume's cluster count).
    uint32_t next(uint32_t cluster);
    // The next cluster of a chain, or 0 when the chain ends there: the entry is the end
    // mark, or names no cluster of the volume.
    uint32_t follow(uint32_t cluster) {
        uint32_t n = next(cluster);
        return geometry_.validCluster(n) ? n : 0;
    }

    uint64_t lookups() const { return lookups_; }
    void resetLookups() { lookups_ = 0; }
    // Tests compare the cached lookups with a read of the entry's own sector each time.
    bool readEachSector = false;

private:
    static constexpr int64_t kBlockBytes = 64 * 1024;
    static constexpr size_t kSlots = 256;  // 16 MiB of FAT at most

    struct Slot {
        int64_t block = -1;
        std::vector<uint8_t> bytes;
    };

    disk::VolumeView view_;
    const ExFatGeometry& geometry_;
    bool driveFormatted_;
    uint64_t lookups_ = 0;
    std::vector<Slot> slots_;
};

}  // namespace quenlow::fs
