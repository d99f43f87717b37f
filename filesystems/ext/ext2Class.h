#pragma once
// The ext2/ext3/ext4 parser: the superblock search, the group descriptors, the naming walk
// over every folder's directory blocks (ExtNamingWalk), one ExtInodeEntry per named inode
// with its inode read once in table order, the synthetic "ROOT" record that the root
// folder's entries hang from, the child lists, the first level of the tree, the list's
// texts and each file's data as a stream (ExtDataStream). Deleted files are not looked for:
// an inode is shown only when a live directory entry names it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filesystems/FolderTree.h"
#include "filesystems/VolumeParser.h"
#include "filesystems/ext/ExtInodeEntry.h"
#include "filesystems/ext/ExtNamingWalk.h"
#include "filesystems/ext/ExtVolume.h"

namespace quenlow::fs {

inline constexpr const char* kExt2Text = "ext 2 file System";
inline constexpr const char* kExt3Text = "ext 3 file System";
inline constexpr const char* kExt4Text = "ext 4 file System";
inline constexpr int32_t kExtRootKey = 2;

class ext2Class : public VolumeParser {
public:
    explicit ext2Class(const ParserSetup& setup);
    ~ext2Class() override;

    ParseOutcome parse(WorkControl& control, Feedback& feedback, Mode mode) override;

    std::vector<EntryRef> firstLevel() const override { return firstLevel_; }
    EntryRef firstChild(EntryRef folder) const override;
    EntryRef nextSibling(EntryRef entry) const override;
    bool qualifiesAsSaveFolder(EntryRef entry) const override;
    bool isFolder(EntryRef entry) const override;
    bool isFile(EntryRef entry) const override;
    bool hasChildren(EntryRef entry) const override { return firstChild(entry) != kNoEntry; }
    bool isDeleted(EntryRef) const override { return false; }
    std::string name(EntryRef entry) const override;
    int64_t sizeField(EntryRef entry) const override;
    std::string sizeText(EntryRef entry) override;
    int64_t dataSize(EntryRef entry) override;
    EntryTexts entryTexts(EntryRef entry) override;
    EntryTimes times(EntryRef entry) override;
    Result<EntryData> openData(EntryRef entry, Feedback& feedback) override;

    // The table in key order; an entry's reference is its index + 1.
    const std::vector<ExtInodeEntry>& entries() const { return entries_; }
    const ExtInodeEntry* entry(EntryRef ref) const;
    const ExtVolume& volume() const { return volume_; }
    // The entry under `key` (the "ROOT" record is under kExtRootKey).
    EntryRef refOfKey(int32_t key) const;

    // The permission text of a mode: "-OE -OW -OR -GE -GW -GR -UE -UW -UR" markers, run
    // together, for the bits set.
    static std::string permissionText(uint16_t mode);

private:
    void buildTable(std::vector<ExtNamed> named, Feedback& feedback);
    void link(Feedback& feedback);
    void fillTree(Feedback& feedback);

    ParserSetup setup_;
    ExtVolume volume_;
    std::vector<ExtInodeEntry> entries_;
    std::vector<EntryRef> firstLevel_;
    TreeItem rootItem_ = kNoItem;
};

}  // namespace quenlow::fs
