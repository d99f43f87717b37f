#pragma once
// The RAID virtual disk read exactly as it is defined, one sector at a time: map the logical
// sector, decide how it is served (from its member when that member holds it, under RAID-5
// as the XOR of every other member when they all hold it, otherwise not at all, and never
// past the disk's end), read 512 bytes, seek to the next sector. The virtual disk's
// run-at-once reads are compared against it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disk/readWriteInterface.h"

namespace quenlow::test {

class ReferenceRaid {
public:
    // `names` are member paths, or "MISSING DISK". Opens every member; false when one fails
    // or the disk would hold no sectors.
    bool open(const std::vector<std::string>& names, std::vector<int64_t> offsets, int level, int layout,
              int64_t stripe, bool vhd);
    bool seek(int64_t offset);
    bool read(void* buffer, uint32_t count);

    // The member and member sector of a logical sector.
    static void map(int64_t sector, int64_t n, int level, int layout, int64_t stripe, int64_t* member,
                    int64_t* memberSector);

    int64_t position = 0;
    int64_t baseOffset = 0;
    int64_t current = -1;
    // The largest member's data area in whole stripe units, times the data members.
    int64_t totalSectors = 0;

private:
    enum class Mode { Direct, Rebuild, Unservable };
    bool holds(size_t member, int64_t byte) const;

    std::vector<std::unique_ptr<disk::readWriteInterface>> members_;
    std::vector<int64_t> offsets_;
    int level_ = 0;
    int layout_ = 1;
    int64_t stripe_ = 128;
    Mode mode_ = Mode::Unservable;
};

}  // namespace quenlow::test
