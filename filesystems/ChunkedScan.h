#pragma once
// Reads a volume front to back in large chunks for the advanced searches (FAT starts,
// cluster heaps, directory entries): 1 MiB by default, large enough that the reads cost
// little more than a dump's and small enough that the bytes are tested while in the cache. Each chunk is handed over with a few bytes of what
// follows it, so that a structure that starts in one chunk and ends in the next is seen
// whole, and seen once: the visitor takes only structures starting in the chunk's own part.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "disk/Feedback.h"
#include "disk/VolumeView.h"
#include "disk/WorkControl.h"

namespace quenlow::fs {

class ChunkedScan {
public:
    static constexpr size_t kChunkBytes = 1024 * 1024;

    // A chunk at volume offset `position`: `bytes` holds its own `own` bytes and then up to
    // the scan's lookahead of what follows (zeros past the end). Returns false to end the scan.
    using Visit = std::function<bool(int64_t position, std::span<const uint8_t> bytes, size_t own)>;

    // `lookahead` must not exceed `chunkBytes`; both are rounded up to whole sectors.
    ChunkedScan(disk::VolumeView view, int64_t end, size_t chunkBytes = kChunkBytes, size_t lookahead = 0);

    // Polls `control` before each chunk; progress goes to `progress` (if any) in 1000ths of
    // the volume, once a chunk. Returns false when a stop request ended the scan.
    bool run(WorkControl& control, Feedback* progress, const Visit& visit) const;

private:
    disk::VolumeView view_;
    int64_t end_;
    size_t chunk_;
    size_t lookahead_;
};

}  // namespace quenlow::fs
