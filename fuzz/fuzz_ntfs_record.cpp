// One MFT record of any bytes: the attribute walk, FILE_NAME, STANDARD_INFORMATION, data
// summary, run lists and attribute list entries must stay inside the record.
#include <cstddef>
#include <cstdint>

#include "filesystems/ntfs/NtfsRecord.h"

using namespace quenlow::fs;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NtfsRecord record(data, size);
    uint64_t a = 0, b = 0, c = 0;
    record.standardTimes(a, b, c);
    for (const NtfsAttribute& attribute : record.attributes()) {
        NtfsFileName name;
        record.fileName(attribute, name);
        if (attribute.nonResident) {
            std::vector<NtfsRun> runs = record.runsOf(attribute);
            if (runs.size() > 1024) __builtin_trap();
        }
        uint32_t start = 0, length = 0;
        if (record.residentContent(attribute, start, length)) {
            if (start + length > kMftRecordSize) __builtin_trap();
            NtfsRecord::listEntries(record.fixed() + start, length);
        }
    }
    NtfsDataSummary summary = record.dataSummary();
    if (summary.residency == 'R' && summary.contentOffset + summary.contentLength > kMftRecordSize) __builtin_trap();
    record.dataInExtensions();
    return 0;
}
