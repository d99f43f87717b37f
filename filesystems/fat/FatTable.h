#pragma once
// The first FAT of a volume, looked up entry by entry as if each lookup read its sector,
// but read in large blocks kept in a bounded cache (a walk or a save costs one read per
// block instead of one per cluster). A block whose read fails holds what the read left
// (zeros where it left nothing), exactly as a failed sector read would.

#include <cstdint>
#include <list>
#include <unordered_map>
#include <vector>

#include "disk/VolumeView.h"

namespace quenlow::fs {

class FatTable {
public:
    static constexpr uint64_t kBlockBytes = 256 * 1024;
    static constexpr size_t kMaxBlocks = 64;  // 16 MiB at most

    // `entryBytes` is 2 (FAT16) or 4 (FAT32); the FAT starts at volume offset `start` and
    // holds `bytes` bytes.
    FatTable() = default;
    FatTable(disk::VolumeView view, int64_t start, uint64_t bytes, unsigned entryBytes);

    // The number of entries the FAT holds.
    uint64_t entryCount() const { return entryBytes_ == 0 ? 0 : bytes_ / entryBytes_; }
    // Entry `index` (0 when it lies outside the FAT).
    uint32_t entry(uint64_t index);
    // How many blocks were read so far (for the tests of the cache).
    uint64_t blockReads() const { return reads_; }

private:
    const uint8_t* block(uint64_t number);

    disk::VolumeView view_;
    int64_t start_ = 0;
    uint64_t bytes_ = 0;
    unsigned entryBytes_ = 0;
    struct Cached {
        std::vector<uint8_t> bytes;
        std::list<uint64_t>::iterator age;
    };
    std::unordered_map<uint64_t, Cached> blocks_;
    std::list<uint64_t> ages_;  // most recently used first
    uint64_t lastNumber_ = UINT64_MAX;
    const uint8_t* last_ = nullptr;
    uint64_t reads_ = 0;
};

}  // namespace quenlow::fs
