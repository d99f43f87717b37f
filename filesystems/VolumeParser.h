#pragma once
// What every file-system parser offers the steps after parsing: the child lists of its
// entry table, the display texts, and saving one entry's data to a file.

#include <cstdint>
#include <string>
#include <vector>

#include "disk/Feedback.h"
#include "disk/WorkControl.h"

namespace quenlow::fs {

// A parser's reference to one of its entries (a pointer or a key); 0 means none.
using EntryRef = uint64_t;
inline constexpr EntryRef kNoEntry = 0;

struct EntryTexts {
    std::string created;
    std::string accessed;
    std::string modified;
    std::string attributes;
};

class VolumeParser {
public:
    virtual ~VolumeParser() = default;

    // The first-level entries shown below the root item, in order (for NTFS the root's
    // children and the orphan folder); empty when the parse found no root.
    virtual std::vector<EntryRef> firstLevel() const = 0;
    virtual EntryRef firstChild(EntryRef folder) const = 0;
    virtual EntryRef nextSibling(EntryRef entry) const = 0;

    // A selected entry that qualifies as a folder to save.
    virtual bool qualifiesAsSaveFolder(EntryRef entry) const = 0;
    // A child walked as a folder when saving and browsing.
    virtual bool isFolder(EntryRef entry) const = 0;
    // A child saved as a file (entries that are neither are passed over).
    virtual bool isFile(EntryRef entry) const = 0;
    // The test for children that decides the "..DUMY.." placeholder.
    virtual bool hasChildren(EntryRef entry) const = 0;
    // Shown in red: the entry is deleted (not in use).
    virtual bool isDeleted(EntryRef entry) const = 0;
    // The entry's name as UTF-8; empty when it has none.
    virtual std::string name(EntryRef entry) const = 0;
    // The size field shown while saving ("File size: %ld kb").
    virtual int64_t sizeField(EntryRef entry) const = 0;
    // Saving does not write this entry (it is still counted).
    virtual bool skipWhenSaving(EntryRef entry) const { (void)entry; return false; }
    // Gives the entry a new name (names restored from the Recycle Bin's info files). Tree
    // items already inserted keep their text. False when the parser cannot rename.
    virtual bool setName(EntryRef entry, const std::string& newName) {
        (void)entry;
        (void)newName;
        return false;
    }

    // The Size column.
    virtual std::string sizeText(EntryRef entry) = 0;
    // The Size column's number in bytes.
    virtual int64_t dataSize(EntryRef entry) = 0;
    virtual EntryTexts entryTexts(EntryRef entry) = 0;
    // Writes the entry's data to a new file at `outputPath` (which must not exist) and sets
    // its times. Returns false, with the reason in `error`, when nothing could be written.
    virtual bool saveEntry(EntryRef entry, const std::string& outputPath, std::string& error) = 0;

    // Stop and pause requests, and where status and progress go.
    WorkControl control;
    Feedback* feedback = &silentFeedback();
};

}  // namespace quenlow::fs
