#include "filesystems/exfat/ExFatDataStream.h"

#include <algorithm>
#include <unordered_set>

namespace quenlow::fs {

ExFatDataStream::ExFatDataStream(disk::VolumeView view, std::vector<Run> runs, uint64_t size, uint64_t reached)
    : RunStream(view, std::move(runs), size), reached_(std::min(reached, size)) {
    if (reached_ < size) noteDamage(reached_, size - reached_);
}

std::unique_ptr<ExFatDataStream> ExFatDataStream::open(disk::VolumeView view, const ExFatGeometry& geometry,
                                                       ExFatFat& fat, const ExFatDirRecord& record,
                                                       bool driveFormatted) {
    const uint64_t clusterBytes = static_cast<uint64_t>(geometry.clusterBytes);
    // No file holds more than the volume's clusters.
    const uint64_t capacity = geometry.maxCluster * clusterBytes;
    const uint64_t size = std::min(record.validDataLength, capacity);
    const uint64_t clusters = size / clusterBytes + (size % clusterBytes != 0);
    std::vector<Run> runs;
    uint64_t reached = 0;
    auto add = [&](uint32_t cluster, uint64_t count) {
        uint64_t bytes = count * clusterBytes;
        int64_t at = geometry.clusterOffset(cluster);
        if (!runs.empty() && runs.back().volumeOffset + static_cast<int64_t>(runs.back().length) == at)
            runs.back().length += bytes;
        else
            runs.push_back({bytes, at});
        reached += bytes;
    };
    uint32_t first = record.firstCluster;
    if (size > 0 && geometry.validCluster(first)) {
        if (record.contiguous() || driveFormatted) {
            add(first, std::min<uint64_t>(clusters, geometry.maxCluster - first));
        } else {
            // A cluster met a second time ends the chain: no cluster belongs to a file twice.
            fat.resetLookups();
            const uint64_t maxLookups = size / clusterBytes + 1;
            std::unordered_set<uint32_t> seen;
            for (uint32_t c = first; c != 0 && seen.size() < clusters && seen.insert(c).second;) {
                add(c, 1);
                if (seen.size() == clusters || fat.lookups() >= maxLookups) break;
                c = fat.follow(c);
            }
        }
    }
    return std::unique_ptr<ExFatDataStream>(new ExFatDataStream(view, std::move(runs), size, reached));
}

}  // namespace quenlow::fs
