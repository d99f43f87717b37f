#pragma once
// A file's data on an exFAT volume: its clusters as runs of the volume. Data its chain (or
// its contiguous run) does not reach before the file's size is a hole reported as damaged,
// so a save that ends short is never taken for a whole file.

#include <cstdint>
#include <vector>

#include "filesystems/DataStream.h"
#include "filesystems/exfat/ExFatDirRecord.h"
#include "filesystems/exfat/ExFatFat.h"
#include "filesystems/exfat/ExFatGeometry.h"

namespace quenlow::fs {

class ExFatDataStream : public RunStream {
public:
    // The data of `record`: contiguous clusters from its first one when the set says so or
    // the drive is taken as formatted, otherwise its FAT chain (at most size / cluster + 1
    // lookups, and never a cluster twice, so a looping FAT ends).
    static std::unique_ptr<ExFatDataStream> open(disk::VolumeView view, const ExFatGeometry& geometry,
                                                 ExFatFat& fat, const ExFatDirRecord& record,
                                                 bool driveFormatted);

    // Bytes of the data that its clusters hold; the rest up to size() is missing.
    uint64_t reached() const { return reached_; }

private:
    ExFatDataStream(disk::VolumeView view, std::vector<Run> runs, uint64_t size, uint64_t reached);
    uint64_t reached_;
};

}  // namespace quenlow::fs
