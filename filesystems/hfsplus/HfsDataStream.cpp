#include "filesystems/hfsplus/HfsDataStream.h"

#include <algorithm>

namespace quenlow::fs {

HfsDataStream::HfsDataStream(disk::VolumeView view, std::vector<Run> runs, uint64_t size,
                             const std::vector<ByteRange>& damaged)
    : RunStream(view, std::move(runs), size) {
    for (const ByteRange& r : damaged) noteDamage(r.offset, r.length);
}

std::unique_ptr<HfsDataStream> HfsDataStream::open(disk::VolumeView view, uint32_t blockSize, uint64_t volumeBlocks,
                                                   const std::vector<HfsExtent>& extents, uint64_t size) {
    // No file holds more than the volume's blocks.
    size = std::min(size, volumeBlocks * blockSize);
    std::vector<Run> runs;
    std::vector<ByteRange> damaged;
    uint64_t reached = 0;
    for (const HfsExtent& e : extents) {
        if (reached >= size) break;
        const uint64_t bytes = uint64_t{e.blockCount} * blockSize;
        const bool inside = e.startBlock != 0 && uint64_t{e.startBlock} + e.blockCount <= volumeBlocks;
        if (inside) {
            const int64_t at = static_cast<int64_t>(uint64_t{e.startBlock} * blockSize);
            if (!runs.empty() && !runs.back().hole() && runs.back().volumeOffset + static_cast<int64_t>(runs.back().length) == at)
                runs.back().length += bytes;
            else
                runs.push_back({bytes, at});
        } else {
            runs.push_back({bytes, -1});
            disk::addRange(damaged, reached, std::min(bytes, size - reached));
        }
        reached += bytes;
    }
    if (reached < size) disk::addRange(damaged, reached, size - reached);
    return std::unique_ptr<HfsDataStream>(new HfsDataStream(view, std::move(runs), size, damaged));
}

}  // namespace quenlow::fs
