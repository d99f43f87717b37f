#pragma once
// A FAT file's data: the clusters of its chain as runs of the volume. When the chain ends
// (or is cut at a loop) before the file's size, the rest is a hole that is damaged from the
// start, so a save reports the file as short instead of passing it as whole.

#include "filesystems/DataStream.h"

namespace quenlow::fs {

class FatChainStream : public RunStream {
public:
    // `covered`: the bytes the runs hold; everything from there to `size` is missing.
    FatChainStream(disk::VolumeView view, std::vector<Run> runs, uint64_t covered, uint64_t size);
};

}  // namespace quenlow::fs
