#include "filesystems/hfsplus/HfsCatalog.h"

#include <algorithm>

#include "filesystems/hfsplus/HfsCatalogKey.h"
#include "filesystems/hfsplus/HfsCatalogRecord.h"
#include "filesystems/hfsplus/HfsNodeDescriptor.h"

namespace quenlow::fs {

void HfsCatalog::addLeaf(std::span<const uint8_t> node) {
    HfsNodeDescriptor d = HfsNodeDescriptor::parse(node);
    if (d.kind != HfsNodeDescriptor::kLeaf) return;
    for (uint16_t at : d.recordOffsets(node)) {
        HfsCatalogKey key = HfsCatalogKey::parse(node, at);
        if (!key.usable()) continue;
        HfsCatalogRecord record = HfsCatalogRecord::parse(node, key.recordAt(at));
        if (!record.inside || record.id == 0) continue;
        HfsCatalogEntry e;
        e.kind = record.type == HfsCatalogRecord::kFolder ? HfsCatalogEntry::kFolder : HfsCatalogEntry::kFile;
        e.parentRef = key.parentId;
        e.id = record.id;
        e.name = std::move(key.name);
        e.createDate = record.createDate;
        e.contentModDate = record.contentModDate;
        e.attributeModDate = record.attributeModDate;
        e.accessDate = record.accessDate;
        e.fileMode = record.fileMode;
        e.logicalSize = record.dataFork.logicalSize;
        e.totalBlocks = record.dataFork.totalBlocks;
        e.extents = record.dataFork.extents;
        entries_.push_back(std::move(e));
    }
}

void HfsCatalog::finish() {
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const HfsCatalogEntry& a, const HfsCatalogEntry& b) { return a.id < b.id; });
    entries_.erase(std::unique(entries_.begin(), entries_.end(),
                               [](const HfsCatalogEntry& a, const HfsCatalogEntry& b) { return a.id == b.id; }),
                   entries_.end());
}

const HfsCatalogEntry* HfsCatalog::find(uint64_t id) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), id,
                               [](const HfsCatalogEntry& e, uint64_t v) { return e.id < v; });
    return it != entries_.end() && it->id == id ? &*it : nullptr;
}

HfsCatalogEntry* HfsCatalog::findMutable(uint64_t id) { return const_cast<HfsCatalogEntry*>(find(id)); }

void HfsCatalog::linkByParent() {
    // The parent each entry would go under, then every entry whose chain of parents comes
    // back to itself is left out, so that no folder becomes its own descendant.
    constexpr size_t kNoParent = SIZE_MAX;
    std::vector<size_t> parent(entries_.size(), kNoParent);
    for (size_t i = 0; i < entries_.size(); ++i) {
        const HfsCatalogEntry& e = entries_[i];
        const HfsCatalogEntry* p = e.parentRef == 0 ? nullptr : find(e.parentRef);
        if (p != nullptr && p->isFolder() && p->id != e.id) parent[i] = static_cast<size_t>(p - entries_.data());
    }
    enum : uint8_t { kUnseen, kOnPath, kDone, kInLoop };
    std::vector<uint8_t> state(entries_.size(), kUnseen);
    std::vector<size_t> path;
    for (size_t start = 0; start < entries_.size(); ++start) {
        path.clear();
        size_t i = start;
        while (i != kNoParent && state[i] == kUnseen) {
            state[i] = kOnPath;
            path.push_back(i);
            i = parent[i];
        }
        bool loop = i != kNoParent && state[i] == kOnPath;
        for (size_t k : path) state[k] = kDone;
        if (loop)  // the path's part from `i` on is a loop
            for (auto it = std::find(path.begin(), path.end(), i); it != path.end(); ++it) state[*it] = kInLoop;
    }
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (parent[i] == kNoParent || state[i] == kInLoop) continue;
        HfsCatalogEntry& p = entries_[parent[i]];
        entries_[i].nextSibling = p.firstChild;
        p.firstChild = entries_[i].id;
    }
}

void HfsCatalog::linkUnderOrphanFolder() {
    if (entries_.empty() || entries_.back().id <= 1) return;
    HfsCatalogEntry orphan;
    orphan.kind = HfsCatalogEntry::kFolder;
    orphan.parentRef = kHfsRootFolderId;
    orphan.id = entries_.back().id + 1;
    orphan.name = kHfsOrphanName;
    orphan.synthetic = true;
    entries_.push_back(orphan);
    const size_t orphanAt = entries_.size() - 1;
    size_t lastFolder = orphanAt;
    for (size_t i = 0; i < orphanAt; ++i) {
        HfsCatalogEntry& e = entries_[i];
        if (e.isFolder()) {
            e.nextSibling = entries_[orphanAt].firstChild;
            entries_[orphanAt].firstChild = e.id;
            e.parentRef = entries_[orphanAt].id;
            lastFolder = i;
        } else {
            e.nextSibling = entries_[lastFolder].firstChild;
            entries_[lastFolder].firstChild = e.id;
        }
    }
}

std::vector<uint64_t> HfsCatalog::firstLevel() const {
    std::vector<uint64_t> out;
    for (const HfsCatalogEntry& e : entries_)
        if (e.parentRef == kHfsRootFolderId) out.push_back(e.id);
    return out;
}

}  // namespace quenlow::fs
