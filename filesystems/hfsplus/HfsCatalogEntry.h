#pragma once
// One folder or file of an HFS+ catalog as the parser keeps it: what listing and saving
// need, taken from the record once, so that neither reads the catalog again.

#include <cstdint>
#include <string>

#include "filesystems/hfsplus/HfsForkData.h"

namespace quenlow::fs {

// Seconds from 1904-01-01 to 1970-01-01, both UTC.
inline constexpr int64_t kHfsEpochToUnix = 2082844800;

struct HfsCatalogEntry {
    static constexpr uint8_t kFolder = 1, kFile = 2;
    static constexpr uint64_t kNone = 0;  // no catalog record has ID 0

    uint8_t kind = 0;
    uint64_t parentRef = 0;    // the key's parent ID (in scan mode folders: the orphan folder)
    uint64_t id = 0;           // folder or file ID; the orphan folder's is one above the largest
    uint64_t firstChild = kNone;
    uint64_t nextSibling = kNone;
    std::string name;          // UTF-8
    uint32_t createDate = 0;   // seconds since 1904-01-01 00:00 UTC
    uint32_t contentModDate = 0;
    uint32_t attributeModDate = 0;
    uint32_t accessDate = 0;
    uint16_t fileMode = 0;
    // Files: the data fork.
    uint64_t logicalSize = 0;
    uint32_t totalBlocks = 0;
    HfsExtents extents{};
    bool synthetic = false;    // the orphan folder: no record, no dates

    bool isFolder() const { return kind == kFolder; }
    bool isFile() const { return kind == kFile; }
};

}  // namespace quenlow::fs
