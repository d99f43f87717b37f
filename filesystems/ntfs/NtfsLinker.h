#pragma once
// Links an NTFS entry table into folders. While the table is parsed each FILE_NAME links
// its entry at the end of its parent's child list (link); afterwards arrange() finds the
// root, adds the orphan folder as the root's last child, gathers every entry without a
// usable parent below it, and cuts every list so that each entry is reached at most once
// from the root.

#include <cstdint>
#include <vector>

#include "filesystems/ntfs/NtfsTable.h"

namespace quenlow::fs {

class NtfsLinker {
public:
    explicit NtfsLinker(NtfsTable& table) : table_(table) {}

    // Tests compare the fast linking (which remembers each folder's last child) with the
    // plain walk of every child list.
    bool walkWholeLists = false;

    // Around the parse's linking loop: remember each folder's last child meanwhile.
    void beginParse();
    void endParse();
    // Links entry `index` below the parent its FILE_NAME names.
    void link(int64_t index);

    struct Arrangement {
        int64_t rootIndex = -1;    // -1 when no root was found
        int64_t orphanIndex = -1;  // the synthetic "ORPHAN_ENTRY" folder
    };
    // Appends the orphan folder named `orphanName` to the table and arranges the tree. In
    // `deep` mode (a table of records gathered from anywhere on the volume, whose parent
    // references mean nothing) every folder goes directly below the orphan folder, newest
    // first, and every file below the folder found last before it.
    Arrangement arrange(const char* orphanName, bool deep);
    // Deep mode: folders placed directly below the orphan folder; later ones go below the
    // last of them.
    static constexpr int64_t kDeepFolderLimit = 100000;

private:
    void append(int64_t index);
    void orphanChildrenOfFiles();
    void gatherOrphans(const Arrangement& a);
    void arrangeDeep(const Arrangement& a);
    void cutRevisits(const Arrangement& a);

    NtfsTable& table_;
    std::vector<int64_t> lastChild_;  // while parsing: each folder's last child, 0 unknown
};

}  // namespace quenlow::fs
