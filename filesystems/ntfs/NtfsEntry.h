#pragma once
// One slot of the Master File Table as the parser keeps it: no record bytes, only what the
// tree, the texts and saving need. Names live in the table's string store.

#include <cstdint>

namespace quenlow::fs {

enum class NtfsKind : uint8_t { Unknown = 0, Folder = 1 };

// Why an entry has no usable parent (decided while linking).
enum class NtfsOrphan : uint8_t {
    No = 0,
    Yes = 1,        // its parent is out of the table or not a folder
    OwnParent = 2,  // it names itself as parent: the root, or an orphan once the root is known
};

struct NtfsEntry {
    uint32_t signature = 0;      // the slot's first four bytes ("FILE" for a record)
    uint16_t recordFlags = 0;    // MFT record header flags: bit 0 in use, bit 1 directory
    NtfsKind kind = NtfsKind::Unknown;
    NtfsOrphan orphan = NtfsOrphan::No;
    uint8_t hasName = 0;
    uint8_t readAhead = 0;       // 1 when the MFT walk already read the record's FILE_NAMEs
    uint8_t pendingLinks = 0;    // FILE_NAMEs read ahead, each linked once by the parse
    uint8_t hasTimes = 0;        // the record's standard times were kept
    uint8_t hasAttributes = 0;   // a FILE_NAME gave the attribute flags below
    uint8_t sizeKnown = 0;       // dataSize below is the data size (no attribute list)
    uint32_t nameLength = 0;     // bytes of the UTF-8 name in the table's name store
    uint64_t nameOffset = 0;
    int64_t recordPosition = 0;  // byte position of the record, relative to the volume
    int64_t parentRef = 0;       // FILE_NAME parent reference, low 48 bits sign-extended
    int64_t size = 0;            // FILE_NAME allocated size
    int64_t selfIndex = 0;
    int64_t firstChild = 0;      // 0: none
    int64_t nextSibling = 0;     // 0 or negative ends the list
    // Kept from the record while the table is read, so listing needs no second read.
    uint64_t created = 0;        // standard times, Windows file time
    uint64_t modified = 0;
    uint64_t accessed = 0;
    uint32_t fileAttributes = 0; // of the record's last FILE_NAME
    int64_t dataSize = 0;

    bool isFolder() const { return kind == NtfsKind::Folder; }

    // Forgets what parsing the record's FILE_NAMEs gave the entry (name, kind, parent, size,
    // flags, pending links); the slot's own fields stay.
    void clearFileNames() {
        hasName = 0;
        nameLength = 0;
        kind = NtfsKind::Unknown;
        parentRef = 0;
        size = 0;
        recordFlags = 0;
        pendingLinks = 0;
    }
};

}  // namespace quenlow::fs
