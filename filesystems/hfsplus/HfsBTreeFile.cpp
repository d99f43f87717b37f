#include "filesystems/hfsplus/HfsBTreeFile.h"

#include <algorithm>

#include "filesystems/hfsplus/HfsHeaderRecord.h"
#include "filesystems/hfsplus/HfsNodeDescriptor.h"

namespace quenlow::fs {

namespace {

constexpr size_t kPieceBytes = 4 << 20;

bool overlaps(const std::vector<disk::ByteRange>& ranges, uint64_t offset, uint64_t length) {
    for (const disk::ByteRange& r : ranges)
        if (r.offset < offset + length && offset < r.end()) return true;
    return false;
}

}  // namespace

HfsBTreeFile::HfsBTreeFile(disk::VolumeView view, uint32_t blockSize, uint64_t volumeBlocks,
                           std::vector<HfsExtent> extents, uint64_t logicalSize)
    : view_(view) {
    // Blocks the source holds: an extent past them cannot be read either.
    const int64_t source = view.sourceLength();
    if (source >= 0) volumeBlocks = std::min<uint64_t>(volumeBlocks, static_cast<uint64_t>(source) / blockSize);
    uint64_t at = 0;
    for (const HfsExtent& e : extents) {
        bool inside = e.startBlock != 0 && uint64_t{e.startBlock} + e.blockCount <= volumeBlocks;
        uint64_t length = uint64_t{e.blockCount} * blockSize;
        pieces_.push_back({at, inside ? static_cast<int64_t>(uint64_t{e.startBlock} * blockSize) : -1, length});
        at += length;
    }
    forkBytes_ = std::min(at, logicalSize);
}

bool HfsBTreeFile::open() {
    std::vector<uint8_t> head(512);
    std::vector<disk::ByteRange> failed;
    readFork(0, head.data(), head.size(), failed);
    HfsHeaderRecord header = HfsHeaderRecord::parse(head);
    if (!failed.empty() || !header.nodeSizeValid()) return false;
    nodeSize_ = header.nodeSize;
    nodeCount_ = static_cast<uint32_t>(std::min<uint64_t>(header.totalNodes, forkBytes_ / nodeSize_));
    return true;
}

void HfsBTreeFile::readFork(uint64_t offset, uint8_t* out, size_t bytes, std::vector<disk::ByteRange>& failed) const {
    std::fill(out, out + bytes, 0);
    uint64_t covered = 0;  // bytes of the request that some piece holds
    for (const Piece& p : pieces_) {
        uint64_t from = std::max(offset, p.forkOffset), to = std::min(offset + bytes, p.forkOffset + p.length);
        if (from >= to) continue;
        covered += to - from;
        if (p.volumeOffset < 0) {
            disk::addRange(failed, from - offset, to - from);
            continue;
        }
        disk::VolumeView::ReadReport report = view_.read(p.volumeOffset + static_cast<int64_t>(from - p.forkOffset),
                                                         out + (from - offset), static_cast<size_t>(to - from));
        for (const auto* list : {&report.failed, &report.pastSource})
            for (const disk::ByteRange& r : *list) disk::addRange(failed, from - offset + r.offset, r.length);
    }
    if (covered < bytes) disk::addRange(failed, covered, bytes - covered);  // past the extents (they are in order)
}

uint32_t HfsBTreeFile::nextReadable(uint32_t node) const {
    for (const Piece& p : pieces_) {
        const uint64_t end = p.forkOffset + p.length;
        if (p.volumeOffset < 0 || end <= uint64_t{node} * nodeSize_) continue;
        // The first node at `node` or later that ends inside this piece.
        uint64_t k = std::max<uint64_t>(node, p.forkOffset / nodeSize_);
        return static_cast<uint32_t>(std::min<uint64_t>(k, nodeCount_));
    }
    return nodeCount_;
}

bool HfsBTreeFile::forEachNode(WorkControl& control, Feedback& feedback,
                               const std::function<void(uint32_t, std::span<const uint8_t>)>& visit) {
    if (nodeSize_ == 0) return true;
    const uint32_t perPiece = static_cast<uint32_t>(std::max<size_t>(1, kPieceBytes / nodeSize_));
    std::vector<uint8_t> buffer(static_cast<size_t>(perPiece) * nodeSize_);
    std::vector<disk::ByteRange> failed;
    feedback.progressRange(0, nodeCount_);
    for (uint32_t first = nextReadable(1); first < nodeCount_; first = nextReadable(first + std::min(perPiece, nodeCount_ - first))) {
        if (control.poll()) return false;
        feedback.progressPosition(first);
        const uint32_t count = std::min(perPiece, nodeCount_ - first);
        failed.clear();
        readFork(uint64_t{first} * nodeSize_, buffer.data(), size_t{count} * nodeSize_, failed);
        for (uint32_t k = 0; k < count; ++k) {
            std::span<const uint8_t> node(buffer.data() + size_t{k} * nodeSize_, nodeSize_);
            HfsNodeDescriptor d = HfsNodeDescriptor::parse(node);
            if (!d.knownKind() || d.recordCount == 0 || overlaps(failed, uint64_t{k} * nodeSize_, nodeSize_)) continue;
            visit(first + k, node);
        }
    }
    return true;
}

}  // namespace quenlow::fs
