#pragma once
// A B-tree file of an HFS+ volume (the catalog or the extents-overflow file) read along
// its fork's extents: the header node gives the node size and the node count, and the
// nodes are read in pieces of up to 4 MiB and handed out one by one.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "disk/Feedback.h"
#include "disk/VolumeView.h"
#include "disk/WorkControl.h"
#include "filesystems/hfsplus/HfsForkData.h"

namespace quenlow::fs {

class HfsBTreeFile {
public:
    // The fork's `extents` (in blocks of `blockSize`), `logicalSize` bytes of it in use; no
    // extent may reach past `volumeBlocks`.
    HfsBTreeFile(disk::VolumeView view, uint32_t blockSize, uint64_t volumeBlocks, std::vector<HfsExtent> extents,
                 uint64_t logicalSize);

    // Reads the header node's record; false when its node size is not a B-tree node size.
    bool open();
    uint32_t nodeSize() const { return nodeSize_; }
    // The header's node count, cut to the nodes the fork holds.
    uint32_t nodeCount() const { return nodeCount_; }

    // Calls `visit(number, bytes)` for each node 1 … count − 1 of a known kind with records
    // whose bytes could all be read, in order, polling `control` between pieces and setting
    // the progress to the node number. False when stopped.
    bool forEachNode(WorkControl& control, Feedback& feedback,
                     const std::function<void(uint32_t, std::span<const uint8_t>)>& visit);

private:
    // Reads fork bytes [offset, offset + bytes) into `out`; the ranges (relative to `offset`)
    // that could not be read go to `failed`.
    void readFork(uint64_t offset, uint8_t* out, size_t bytes, std::vector<disk::ByteRange>& failed) const;

    // The first node from `node` on that lies at least partly in a readable piece (the node
    // count when none does), so that a fork of absurd extents costs no walk over its holes.
    uint32_t nextReadable(uint32_t node) const;

    struct Piece {
        uint64_t forkOffset;
        int64_t volumeOffset;  // -1: outside the volume
        uint64_t length;
    };
    disk::VolumeView view_;
    std::vector<Piece> pieces_;
    uint64_t forkBytes_ = 0;
    uint32_t nodeSize_ = 0;
    uint32_t nodeCount_ = 0;
};

}  // namespace quenlow::fs
