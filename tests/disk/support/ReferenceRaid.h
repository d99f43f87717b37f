#pragma once
// The RAID virtual disk read exactly as it is defined, one sector at a time: map the logical
// sector, seek the member, read 512 bytes (or XOR the present members for a missing one),
// seek to the next sector. The virtual disk's run-at-once reads are compared against it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disk/readWriteInterface.h"

namespace quenlow::test {

class ReferenceRaid {
public:
    // `names` are member paths, or "MISSING DISK". Opens every member; false when one fails.
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

private:
    std::vector<std::unique_ptr<disk::readWriteInterface>> members_;
    std::vector<int64_t> offsets_;
    int level_ = 0;
    int layout_ = 1;
    int64_t stripe_ = 128;
};

}  // namespace quenlow::test
