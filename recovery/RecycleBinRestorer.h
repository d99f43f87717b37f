#pragma once
// The names of files moved to the Recycle Bin, restored after a parse: each "$I..." info
// entry in a Recycle Bin folder of the first level ("$RECYCLE.BIN" or "$RECYCLEBIN", letter
// case as written) gives the former name of its "$R..." partner, and the parser's table
// takes it, so the listing, the search and saving all show and write the former name. Where
// the file system keeps one folder per user inside the Recycle Bin (NTFS), the pairs are
// looked for in those folders; elsewhere directly inside the Recycle Bin folder.

#include "disk/Feedback.h"
#include "filesystems/FolderTree.h"
#include "filesystems/ParserRegistry.h"
#include "filesystems/VolumeParser.h"

namespace quenlow::recovery {

class RecycleBinRestorer {
public:
    RecycleBinRestorer(fs::FolderTree& tree, fs::VolumeParser& parser, const fs::ParserInfo& info)
        : tree_(tree), parser_(parser), info_(info) {}

    // Renames every "$R" entry whose info entry can be read; returns how many were renamed.
    // Info entries that cannot be read, reach 2048 bytes or give an empty former name leave
    // their partner as it is.
    int restore(Feedback& feedback);

private:
    int restoreIn(fs::EntryRef folder, Feedback& feedback);
    bool readInfo(fs::EntryRef entry, Feedback& feedback, std::string& formerName);

    fs::FolderTree& tree_;
    fs::VolumeParser& parser_;
    const fs::ParserInfo& info_;
};

}  // namespace quenlow::recovery
