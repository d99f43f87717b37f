#pragma once
// The advanced mode's search of a whole FAT16 or FAT32 volume for directory entries: every
// 32-byte slot is tested (FatSlotTest) and the offsets of those that pass are kept in
// ascending order. On the way it gathers what tells where cluster 2 starts: each folder's
// "." and ".." pair names the folder's own cluster, so its offset minus that many
// clusters is a vote for the data region's start; and the first volume labels and
// recycle-bin entries, which a root folder holds first.

#include <cstdint>
#include <map>
#include <vector>

#include "disk/Feedback.h"
#include "disk/VolumeView.h"
#include "disk/WorkControl.h"

namespace quenlow::fs {

// The pieces the FAT search and the entry scan read: large enough that a read costs little
// more than a dump's, small enough that the bytes are tested while still in the cache. (Any
// size finds the same: FAT starts are at sector starts, entries at 32-byte steps.)
inline constexpr size_t kFatSearchChunkBytes = 1024 * 1024;

class FatEntryScan {
public:
    // At most this many entries are kept (a volume full of entry-like bytes must not take
    // all memory); the scan ends there and says so.
    static constexpr size_t kMaxFound = size_t{1} << 23;
    static constexpr size_t kMaxVotes = 4096;   // distinct data-start values kept
    static constexpr size_t kMaxMarkers = 64;

    FatEntryScan(bool fat32, uint64_t clusterBytes, uint64_t maxCluster);

    // Scans [0, volumeBytes). Progress and status go to `feedback` (FAT32: a range of 1000
    // and the count found; FAT16: a range of 100000 and the sector reached).
    void run(const disk::VolumeView& view, uint64_t volumeBytes, WorkControl& control, Feedback& feedback);

    const std::vector<int64_t>& found() const { return found_; }
    bool stopped() const { return stopped_; }
    bool full() const { return full_; }
    // The data region's start most "." entries agree on at or after `from` and whose
    // distance from `from` is a multiple of `step` and at most `span` (none: -1).
    int64_t votedDataStart(int64_t from, uint64_t step, uint64_t span) const;
    // Offsets of the first root markers, ascending.
    const std::vector<int64_t>& markers() const { return markers_; }

private:
    void visit(uint64_t offset, const uint8_t* data, size_t own, size_t available);
    void slot(uint64_t offset, const uint8_t* data, size_t at, size_t available);

    bool fat32_;
    uint64_t clusterBytes_;
    uint64_t maxCluster_;
    std::vector<int64_t> found_;
    std::map<int64_t, uint64_t> votes_;
    std::vector<int64_t> markers_;
    bool stopped_ = false;
    bool full_ = false;
};

}  // namespace quenlow::fs
