#pragma once
// A file's data fork on an HFS+ volume: its extents as runs of the volume, cut at the
// logical size. Extents that start at block 0 or reach past the volume are holes, and the
// data the extents do not reach before the size is a hole too: both are reported damaged,
// so a short save is never taken for a whole file.

#include <cstdint>
#include <memory>
#include <vector>

#include "filesystems/DataStream.h"
#include "filesystems/hfsplus/HfsForkData.h"

namespace quenlow::fs {

class HfsDataStream : public RunStream {
public:
    static std::unique_ptr<HfsDataStream> open(disk::VolumeView view, uint32_t blockSize, uint64_t volumeBlocks,
                                               const std::vector<HfsExtent>& extents, uint64_t size);

private:
    HfsDataStream(disk::VolumeView view, std::vector<Run> runs, uint64_t size, const std::vector<ByteRange>& damaged);
};

}  // namespace quenlow::fs
