#pragma once
// The entry table of an HFS+ volume: every folder and file record of the catalog leaves
// read, one entry per ID ordered by ID (the first record read of an ID stays), and the two
// ways of linking them into child lists. Both push a child at the head of its parent's
// list, and each entry is linked at most once, so no list loops.

#include <cstdint>
#include <span>
#include <vector>

#include "filesystems/hfsplus/HfsCatalogEntry.h"

namespace quenlow::fs {

inline constexpr uint64_t kHfsRootFolderId = 2;
inline constexpr const char* kHfsOrphanName = "ORPHAN_ENTRY";

class HfsCatalog {
public:
    // Takes the folder and file records of one leaf node: names of 1-255 units, folder
    // IDs other than 0, file IDs of 1 and more; records that run past the node are left out.
    void addLeaf(std::span<const uint8_t> node);
    // Orders the entries by ID, keeping the first one read of each ID.
    void finish();

    // Standard mode: each entry goes into the list of its parent when that is a folder of
    // the table other than itself, unless its chain of parents comes back to it (then no
    // entry of that loop is linked: no folder is its own descendant).
    void linkByParent();
    // Scan mode: an "ORPHAN_ENTRY" folder (ID one above the largest, parent the root) holds
    // every folder, newest ID first; each file goes to the folder with the nearest lower ID
    // (or the orphan folder) and keeps the parent it was read with.
    void linkUnderOrphanFolder();

    // The entries whose parent is the root folder, in ID order.
    std::vector<uint64_t> firstLevel() const;

    const HfsCatalogEntry* find(uint64_t id) const;
    const std::vector<HfsCatalogEntry>& entries() const { return entries_; }
    size_t size() const { return entries_.size(); }

private:
    HfsCatalogEntry* findMutable(uint64_t id);
    std::vector<HfsCatalogEntry> entries_;
};

}  // namespace quenlow::fs
