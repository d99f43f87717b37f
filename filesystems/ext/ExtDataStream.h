#pragma once
// A file's data on an ext volume: its mapped blocks as runs of the volume, logical blocks
// no extent maps (sparse parts) and uninitialised extents as holes, and the parts whose
// mapping could not be read as holes reported damaged. A fast symbolic link's target is
// served from the inode itself.

#include <cstdint>
#include <memory>

#include "filesystems/DataStream.h"
#include "filesystems/ext/ExtInode.h"
#include "filesystems/ext/ExtVolume.h"

namespace quenlow::fs {

class ExtDataStream : public RunStream {
public:
    // The data of `inode` (a regular file or a symbolic link): at most its size, and never
    // more than the volume's blocks.
    static std::unique_ptr<DataStream> open(const ExtVolume& volume, const ExtInode& inode);

private:
    ExtDataStream(disk::VolumeView view, std::vector<Run> runs, uint64_t size) : RunStream(view, std::move(runs), size) {}
};

}  // namespace quenlow::fs
