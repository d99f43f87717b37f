#pragma once
// The data of a compressed NTFS attribute: compression units of 2^unit clusters, each
// stored as it is (all its clusters allocated), as LZNT1 (fewer clusters), or as a hole.
// Units are decoded one at a time when read; whole units inside holes or past the end of
// the source are holes without reading. An attribute whose unit is 0 or too large is read
// cluster by cluster without decompression.

#include <cstdint>
#include <vector>

#include "disk/VolumeView.h"
#include "filesystems/DataStream.h"
#include "filesystems/ntfs/NtfsDataLayout.h"

namespace quenlow::fs {

class NtfsCompressedStream : public DataStream {
public:
    NtfsCompressedStream(disk::VolumeView view, const NtfsDataLayout& layout, int64_t clusterSize);

    uint64_t size() const override { return size_; }
    size_t read(uint64_t offset, void* out, size_t length) override;
    Extent extentAt(uint64_t offset) const override;

private:
    struct Piece {
        uint64_t first;   // index of its first cluster in the attribute
        int64_t cluster;  // its first cluster on the volume; 0 for a hole
        uint64_t count;
    };
    // The volume cluster of attribute cluster `index`, 0 for a hole.
    int64_t clusterOf(uint64_t index) const;
    // Clusters from attribute cluster `index` on that read as zeros without reading (a hole,
    // clusters that cannot be sought, clusters past the end of the source).
    uint64_t zeroClustersFrom(uint64_t index) const;
    // Reads `count` clusters from volume cluster `cluster`; those that cannot be sought read
    // as zeros. Failed sectors mark [logical, logical + bytes) damaged.
    void readClusters(int64_t cluster, uint64_t count, uint8_t* out, uint64_t logical);
    void decodeUnit(uint64_t unitIndex);

    disk::VolumeView view_;
    int64_t cs_;
    uint64_t unit_ = 0;       // clusters per compression unit; 0: no decompression
    uint64_t size_ = 0;
    std::vector<Piece> pieces_;
    uint64_t totalClusters_ = 0;
    std::vector<uint8_t> stored_, plain_;
    std::vector<int64_t> numbers_;
    uint64_t decoded_ = UINT64_MAX;  // the unit in plain_
};

}  // namespace quenlow::fs
