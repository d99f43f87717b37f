#include "filesystems/hfsplus/HfsNodeScan.h"

#include <algorithm>
#include <vector>

#include "filesystems/hfsplus/HfsNodeDescriptor.h"
#include "platform/ByteReader.h"

namespace quenlow::fs {

namespace {
constexpr uint64_t kPieceBytes = 4 << 20;
}

bool HfsNodeScan::isLeafCandidate(std::span<const uint8_t> node) {
    platform::ByteReader r(node);
    if (static_cast<int8_t>(r.u8(HfsNodeDescriptor::Offset::kKind)) != HfsNodeDescriptor::kLeaf ||
        r.u8(HfsNodeDescriptor::Offset::kHeight) == 0 || node.size() < HfsNodeDescriptor::kSize + 2)
        return false;
    uint16_t count = r.be16(HfsNodeDescriptor::Offset::kRecordCount);
    return count >= 1 && count <= 999 && r.be16(node.size() - 2) == HfsNodeDescriptor::kSize;
}

bool HfsNodeScan::scan(WorkControl& control, Feedback& feedback,
                       const std::function<void(uint64_t, std::span<const uint8_t>)>& visit) const {
    if (blockSize_ == 0 || nodeSize_ < blockSize_) return true;
    const uint64_t blocksPerNode = nodeSize_ / blockSize_;
    if (volumeBlocks_ < blocksPerNode) return true;
    const uint64_t lastStart = volumeBlocks_ - blocksPerNode;  // the last block a whole node can start at
    const uint64_t perPiece = std::max<uint64_t>(1, kPieceBytes / blockSize_);
    std::vector<uint8_t> buffer(static_cast<size_t>(perPiece * blockSize_ + nodeSize_));
    feedback.progressRange(0, static_cast<int64_t>(volumeBlocks_));
    for (uint64_t first = 0; first <= lastStart; first += perPiece) {
        if (control.poll()) return false;
        feedback.progressPosition(static_cast<int64_t>(first));
        const uint64_t starts = std::min(perPiece, lastStart - first + 1);
        const size_t bytes = static_cast<size_t>((starts - 1) * blockSize_ + nodeSize_);
        disk::VolumeView::ReadReport report =
            view_.read(static_cast<int64_t>(first * blockSize_), buffer.data(), bytes);
        std::vector<disk::ByteRange> failed = report.failed;
        for (const disk::ByteRange& r : report.pastSource) disk::addRange(failed, r.offset, r.length);
        size_t nextFailed = 0;
        for (uint64_t b = 0; b < starts; ++b) {
            const size_t at = static_cast<size_t>(b * blockSize_);
            std::span<const uint8_t> node(buffer.data() + at, nodeSize_);
            if (!isLeafCandidate(node)) continue;
            while (nextFailed < failed.size() && failed[nextFailed].end() <= at) ++nextFailed;
            if (nextFailed < failed.size() && failed[nextFailed].offset < at + nodeSize_) continue;
            visit(first + b, node);
        }
    }
    return true;
}

}  // namespace quenlow::fs
