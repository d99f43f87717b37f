#include "filesystems/ext/ExtBlockMap.h"

#include <algorithm>

#include "filesystems/ext/ExtExtent.h"
#include "platform/ByteReader.h"

namespace quenlow::fs {

ExtMapping ExtBlockMap::map(const ExtInode& inode, uint64_t blockLimit) {
    out_ = {};
    limit_ = blockLimit;
    metaReads_ = 0;
    visited_.clear();
    if (limit_ == 0) return out_;
    if (inode.usesExtents()) {
        walkExtents(inode.blockArea.data(), inode.blockArea.size(), -1, 0, uint64_t{1} << 32);
    } else {
        platform::ByteReader r(inode.blockArea.data(), inode.blockArea.size());
        for (uint64_t i = 0; i < 12 && i < limit_; ++i)
            if (uint32_t b = r.le32(i * 4); b != 0) addExtent(i, b, 1, false);
        const uint64_t perBlock = volume_.blockSize() / 4;
        uint64_t first = 12;
        for (int level = 1; level <= 3 && first < limit_; ++level) {
            uint32_t b = r.le32(44 + 4 * static_cast<size_t>(level));
            if (b != 0) walkPointers(b, level, first);
            uint64_t span = 1;
            for (int i = 0; i < level; ++i) span *= perBlock;
            first += span;
        }
    }
    finish();
    return std::move(out_);
}

bool ExtBlockMap::readBlock(uint64_t block, std::vector<uint8_t>& out) {
    if (!volume_.validBlock(block) || metaReads_ >= kMaxMetaBlocks) return false;
    ++metaReads_;
    out.assign(volume_.blockSize(), 0);
    return volume_.view().read(static_cast<int64_t>(block * volume_.blockSize()), out.data(), out.size()).ok();
}

// `depth` -1 is the root in the inode; below it each level's header must say one less than
// its parent's.
void ExtBlockMap::walkExtents(const uint8_t* node, size_t bytes, int depth, uint64_t low, uint64_t high) {
    std::span<const uint8_t> span(node, bytes);
    ExtExtentHeader h = ExtExtentHeader::parse(span);
    if (!h.valid(bytes) || (depth >= 0 && h.depth != depth)) {
        addDamage(low, high);
        return;
    }
    for (size_t i = 0; i < h.entries; ++i) {
        std::span<const uint8_t> entry = span.subspan(ExtExtentHeader::kSize + 12 * i, 12);
        if (h.depth == 0) {
            ExtExtent e = ExtExtent::parse(entry);
            if (e.logical < low || e.logical >= high) continue;
            addExtent(e.logical, e.start, std::min<uint64_t>(e.length, high - e.logical), e.uninitialised);
            continue;
        }
        ExtExtentIndex x = ExtExtentIndex::parse(entry);
        uint64_t next = high;
        if (i + 1 < h.entries) next = ExtExtentIndex::parse(span.subspan(ExtExtentHeader::kSize + 12 * (i + 1), 12)).logical;
        uint64_t from = std::max<uint64_t>(x.logical, low), to = std::min(next, high);
        if (from >= to || from >= limit_) continue;
        std::vector<uint8_t> child;
        if (visited_.count(x.child) != 0 || !readBlock(x.child, child)) {
            addDamage(from, to);
            continue;
        }
        visited_.insert(x.child);
        walkExtents(child.data(), child.size(), h.depth - 1, from, to);
    }
}

// A pointer block of `level` (1 single, 2 double, 3 triple indirect) covering logical
// blocks from `first`. A zero pointer is a hole.
void ExtBlockMap::walkPointers(uint64_t block, int level, uint64_t first) {
    const uint64_t perBlock = volume_.blockSize() / 4;
    uint64_t span = 1;
    for (int i = 1; i < level; ++i) span *= perBlock;
    std::vector<uint8_t> bytes;
    if (!visited_.insert(block).second || !readBlock(block, bytes)) {
        addDamage(first, first + span * perBlock);
        return;
    }
    platform::ByteReader r(bytes);
    for (uint64_t i = 0; i < perBlock; ++i) {
        uint64_t at = first + i * span;
        if (at >= limit_) break;
        uint32_t b = r.le32(i * 4);
        if (b == 0) continue;
        if (level == 1)
            addExtent(at, b, 1, false);
        else
            walkPointers(b, level - 1, at);
    }
}

void ExtBlockMap::addExtent(uint64_t logical, uint64_t physical, uint64_t count, bool uninitialised) {
    if (logical >= limit_ || count == 0) return;
    count = std::min(count, limit_ - logical);
    // Blocks outside the volume cannot be read: damaged.
    const uint64_t blocks = volume_.blocksCount();
    if (physical >= blocks) {
        addDamage(logical, logical + count);
        return;
    }
    if (blocks - physical < count) {
        addDamage(logical + (blocks - physical), logical + count);
        count = blocks - physical;
    }
    if (!out_.extents.empty()) {
        ExtMapping::Extent& last = out_.extents.back();
        if (last.uninitialised == uninitialised && last.logical + last.count == logical &&
            last.physical + last.count == physical) {
            last.count += count;
            return;
        }
    }
    if (out_.extents.size() >= std::min(kMaxExtents, blocks)) {
        addDamage(logical, logical + count);
        return;
    }
    out_.extents.push_back({logical, physical, count, uninitialised});
}

void ExtBlockMap::addDamage(uint64_t first, uint64_t end) {
    end = std::min(end, limit_);
    if (first >= end) return;
    if (!out_.damaged.empty() && out_.damaged.back().first + out_.damaged.back().count == first)
        out_.damaged.back().count += end - first;
    else
        out_.damaged.push_back({first, end - first});
}

// Sorts the extents and cuts the overlaps a damaged tree may give (the first one keeps a
// block).
void ExtBlockMap::finish() {
    auto& e = out_.extents;
    std::stable_sort(e.begin(), e.end(), [](const auto& a, const auto& b) { return a.logical < b.logical; });
    std::vector<ExtMapping::Extent> kept;
    uint64_t end = 0;
    for (ExtMapping::Extent x : e) {
        if (x.logical < end) {
            uint64_t cut = end - x.logical;
            if (cut >= x.count) continue;
            x.logical += cut, x.physical += cut, x.count -= cut;
        }
        kept.push_back(x);
        end = x.logical + x.count;
    }
    e = std::move(kept);
}

}  // namespace quenlow::fs
