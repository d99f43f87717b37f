#pragma once
// One slot of the Master File Table as the parser keeps it: no record bytes, only what the
// tree, the texts and saving need to find the record again. Names live in the parser.

#include <cstdint>

namespace quenlow::fs {

struct NtfsEntry {
    uint32_t signature = 0;      // the slot's first four bytes ("FILE" for a record)
    uint16_t recordFlags = 0;    // MFT record header flags: bit 0 in use, bit 1 directory
    char kind = 0;               // 'D' for a folder
    uint8_t orphan = 0;          // 1 when the parent is unusable
    uint8_t hasName = 0;
    uint8_t readAhead = 0;       // 1 when the MFT walk already read the record's FILE_NAMEs
    uint8_t pendingLinks = 0;    // FILE_NAMEs read ahead, each linked once by parse entries
    uint32_t nameLength = 0;     // bytes of the UTF-8 name in the parser's name store
    uint64_t nameOffset = 0;
    int64_t recordPosition = 0;  // byte position of the record, relative to the volume
    int64_t parentRef = 0;       // FILE_NAME parent reference, low 48 bits sign-extended
    int64_t size = 0;            // FILE_NAME allocated size
    int64_t selfIndex = 0;
    int64_t firstChild = 0;      // 0: none
    int64_t nextSibling = 0;     // 0 or negative ends the list

    // Forgets what parsing the record's FILE_NAMEs gave the entry (name, kind, parent, size,
    // flags, pending links); the slot's own fields stay.
    void clearFileNames() {
        hasName = 0;
        nameLength = 0;
        kind = 0;
        parentRef = 0;
        size = 0;
        recordFlags = 0;
        pendingLinks = 0;
    }
};

}  // namespace quenlow::fs
