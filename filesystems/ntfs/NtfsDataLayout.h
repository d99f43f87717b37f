#pragma once
// Where one entry's unnamed data lives, gathered from its record or, through its attribute
// list, from its extension records.

#include <cstdint>
#include <vector>

#include "filesystems/ntfs/NtfsRecord.h"

namespace quenlow::fs {

enum class NtfsResidency : uint8_t { None, Resident, NonResident };

struct NtfsDataLayout {
    bool hasData = false;
    NtfsResidency residency = NtfsResidency::None;
    std::vector<uint8_t> resident;  // resident content
    std::vector<NtfsRun> runs;
    int64_t clusterCount = 0;
    int64_t dataSize = 0;
    uint8_t compressionUnit = 0;
    bool compressed = false;
    bool fromExtensions = false;
};

}  // namespace quenlow::fs
