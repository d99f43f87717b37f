#pragma once
// One directory entry of a FAT16 or FAT32 volume as the parse found it (live or deleted),
// with the links of its folder's child list.

#include <cstdint>
#include <string>

namespace quenlow::fs {

inline constexpr uint8_t kFatReadOnly = 0x01;
inline constexpr uint8_t kFatHidden = 0x02;
inline constexpr uint8_t kFatSystem = 0x04;
inline constexpr uint8_t kFatVolumeLabel = 0x08;
inline constexpr uint8_t kFatDirectory = 0x10;
inline constexpr uint8_t kFatArchive = 0x20;
inline constexpr uint8_t kFatLongName = 0x0F;

inline constexpr int32_t kFatNoRecord = -1;

struct FatDirRecord {
    uint8_t attributes = 0;
    uint8_t createTenths = 0;
    uint16_t createTime = 0;
    uint16_t createDate = 0;
    uint16_t accessDate = 0;
    uint16_t firstClusterHigh = 0;
    uint16_t writeTime = 0;
    uint16_t writeDate = 0;
    uint16_t firstClusterLow = 0;
    uint32_t fileSize = 0;
    uint8_t deleted = 0;
    std::string name;             // UTF-8
    uint32_t parentRef = 0;       // index of the folder's record; 0 = the top level
    uint32_t selfIndex = 0;
    int32_t firstChild = kFatNoRecord;   // indexes into the table
    int32_t nextSibling = kFatNoRecord;

    bool isFolder() const { return (attributes & kFatDirectory) != 0 && (attributes & kFatVolumeLabel) == 0; }
    bool isLabel() const { return (attributes & kFatVolumeLabel) != 0 && (attributes & kFatDirectory) == 0; }

    // The 32 bytes of a directory entry, as far as the record keeps them.
    void copyFields(const uint8_t* entry);
};

}  // namespace quenlow::fs
