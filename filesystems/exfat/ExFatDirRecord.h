#pragma once
// One exFAT directory entry set (file entry, stream extension, file name entries) as the
// parser keeps it: the fields of the set, the name, and the links into its folder.

#include <cstdint>
#include <string>

namespace quenlow::fs {

inline constexpr uint32_t kNoRecord = UINT32_MAX;

struct ExFatDirRecord {
    uint8_t entryType = 0;          // type byte of the file entry: 0x85 live, 0x05 deleted
    uint16_t attributes = 0;
    uint32_t createTimestamp = 0;   // DOS date in the high half, DOS time in the low half
    uint32_t modifyTimestamp = 0;
    uint32_t accessTimestamp = 0;
    uint8_t create10ms = 0;         // 0-199: hundredths of a second past the two-second count
    uint8_t modify10ms = 0;
    uint8_t createUtcOffset = 0;
    uint8_t modifyUtcOffset = 0;
    uint8_t accessUtcOffset = 0;
    uint8_t streamType = 0;         // type byte of the stream extension; 0 when the set had none
    uint8_t secondaryFlags = 0;     // bit 1 set: the clusters are contiguous (no FAT chain)
    uint8_t nameLength = 0;
    uint64_t validDataLength = 0;   // the size shown and saved
    uint32_t firstCluster = 0;
    uint64_t dataLength = 0;
    std::string name;               // UTF-8
    uint32_t parentRef = 0;         // index of the folder record that holds it; 0 the top level
    uint32_t selfIndex = 0;
    uint32_t firstChild = kNoRecord;
    uint32_t nextSibling = kNoRecord;

    bool deleted() const { return (entryType & 0x80) == 0; }
    bool contiguous() const { return (secondaryFlags & 0x02) != 0; }
    // The folder attribute values: 0x10-0x16 and 0x30, compared with the whole word.
    bool isFolder() const { return (attributes >= 0x10 && attributes <= 0x16) || attributes == 0x30; }
};

}  // namespace quenlow::fs
