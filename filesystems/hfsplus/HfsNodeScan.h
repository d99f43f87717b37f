#pragma once
// Scan mode's search for catalog leaf nodes: every block of the volume is a candidate for
// the start of a node. A candidate is taken when its kind is leaf (-1), its height is not
// 0, its record count is 1-999 and the offset in its last two bytes is 14 (the first
// record right after the descriptor). The volume is read in pieces of 4 MiB with a node's
// worth of overlap, into one buffer.

#include <cstdint>
#include <functional>
#include <span>

#include "disk/Feedback.h"
#include "disk/VolumeView.h"
#include "disk/WorkControl.h"

namespace quenlow::fs {

class HfsNodeScan {
public:
    HfsNodeScan(disk::VolumeView view, uint32_t blockSize, uint32_t nodeSize, uint64_t volumeBlocks)
        : view_(view), blockSize_(blockSize), nodeSize_(nodeSize), volumeBlocks_(volumeBlocks) {}

    // Whether the `nodeSize` bytes of `node` look like a catalog leaf node.
    static bool isLeafCandidate(std::span<const uint8_t> node);

    // Calls `visit(block, node)` for every candidate that lies whole inside the volume and
    // could be read, in block order; progress is the block number. False when stopped.
    bool scan(WorkControl& control, Feedback& feedback,
              const std::function<void(uint64_t, std::span<const uint8_t>)>& visit) const;

private:
    disk::VolumeView view_;
    uint32_t blockSize_;
    uint32_t nodeSize_;
    uint64_t volumeBlocks_;
};

}  // namespace quenlow::fs
