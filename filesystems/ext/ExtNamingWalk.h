#pragma once
// The walk that names inodes: every group's inode table that may be in use, in group order,
// and for each folder inode in it (a first block pointer that is not zero) its directory
// blocks in logical order. Every entry read gives the inode it lists a name and a parent;
// a later entry for the same inode replaces an earlier one. Nothing is kept for inodes no
// entry names.
//
// Parents: the very first entry read (the root folder's ".") makes its inode number the
// parent of the root's entries, so that they become children of the "ROOT" record; after
// it, each folder's entries get the folder's own key (its "." entry says the same; a
// folder whose first block cannot be read still keeps its other entries).

#include <cstdint>
#include <string>
#include <vector>

#include "disk/Feedback.h"
#include "disk/WorkControl.h"
#include "filesystems/ext/ExtInode.h"
#include "filesystems/ext/ExtVolume.h"

namespace quenlow::fs {

struct ExtNamed {
    int32_t key = -1;        // inode number - 1
    int32_t parentRef = -1;  // key of the folder that lists it
    uint16_t typeMode = 0;   // 0x4000 or 0x8000 from the entry's file type; 0: the inode's mode
    std::string name;
};

class ExtNamingWalk {
public:
    ExtNamingWalk(const ExtVolume& volume, WorkControl& control, Feedback& feedback)
        : volume_(volume), control_(control), feedback_(feedback) {}

    // The named inodes, sorted by key, one per key (the last name given).
    std::vector<ExtNamed> run();
    bool stopped() const { return stopped_; }

    // Directory blocks read for one folder at most.
    static constexpr uint64_t kMaxFolderBlocks = uint64_t{1} << 22;

    // One directory block (exposed for the tests of crafted blocks).
    void walkBlock(std::span<const uint8_t> block);

private:
    void walkFolder(uint32_t number, const ExtInode& inode);
    void entry(uint32_t inode, std::string_view name, uint16_t typeMode);

    const ExtVolume& volume_;
    WorkControl& control_;
    Feedback& feedback_;
    std::vector<ExtNamed> named_;
    bool first_ = true;
    int64_t current_ = -1;
    bool stopped_ = false;
};

}  // namespace quenlow::fs
