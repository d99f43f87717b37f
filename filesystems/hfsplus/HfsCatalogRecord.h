#pragma once
// A catalog folder record (type 1, 88 bytes) or file record (type 2, 248 bytes): the ID,
// the four dates (seconds since 1904-01-01 00:00 UTC), the BSD file mode and, for files,
// the data fork. Thread records (types 3 and 4) carry none of these.

#include <cstddef>
#include <cstdint>
#include <span>

#include "filesystems/hfsplus/HfsForkData.h"

namespace quenlow::fs {

struct HfsCatalogRecord {
    struct Offset {
        static constexpr size_t kType = 0;              // 16-bit
        static constexpr size_t kId = 8;                // 32-bit folder or file ID
        static constexpr size_t kCreateDate = 12;
        static constexpr size_t kContentModDate = 16;
        static constexpr size_t kAttributeModDate = 20;
        static constexpr size_t kAccessDate = 24;
        static constexpr size_t kFileMode = 42;         // 16-bit, inside the BSD permissions
        static constexpr size_t kDataFork = 88;         // files: fork data
    };
    static constexpr uint16_t kFolder = 1, kFile = 2;
    static constexpr size_t kFolderSize = 88, kFileSize = 248;

    uint16_t type = 0;
    uint32_t id = 0;
    uint32_t createDate = 0;
    uint32_t contentModDate = 0;
    uint32_t attributeModDate = 0;
    uint32_t accessDate = 0;
    uint16_t fileMode = 0;
    HfsForkData dataFork;  // files only
    bool inside = false;   // a folder or file record that lies whole inside the bytes

    // The record at `at` of `node`.
    static HfsCatalogRecord parse(std::span<const uint8_t> node, size_t at);
};

}  // namespace quenlow::fs
