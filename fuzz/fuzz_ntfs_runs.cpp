// Run lists of any bytes, with the VCN range taken from the input's first eight bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "filesystems/ntfs/NtfsRecord.h"

using namespace quenlow::fs;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    int64_t clusters;
    std::memcpy(&clusters, data, 8);
    std::vector<NtfsRun> runs = NtfsRecord::decodeRunList(data + 8, size - 8, clusters);
    if (runs.size() > (size - 8) / 2 + 1) __builtin_trap();
    uint64_t seen = 0;
    for (const NtfsRun& r : runs) {
        seen += r.length;
        if (clusters <= 0 || seen > static_cast<uint64_t>(clusters)) __builtin_trap();
    }
    return 0;
}
