#pragma once
// One directory entry of a directory block: the inode it names, its record length, its name
// and (on volumes with the filetype feature) its file type.

#include <cstdint>
#include <span>
#include <string_view>

namespace quenlow::fs {

struct ExtDirEntry {
    static constexpr size_t kHeaderSize = 8;
    enum Offset : size_t { Inode = 0, RecLen = 4, NameLen = 6, FileType = 7, Name = 8 };
    enum Type : uint8_t { RegularFile = 1, Directory = 2 };

    uint32_t inode = 0;
    uint16_t recLen = 0;
    uint16_t nameLen = 0;    // 8 bits with file types, 16 without
    uint8_t fileType = 0;
    std::string_view name;   // cut at the end of `bytes` when it runs past them
    bool nameCut = false;

    // `bytes`: from the entry's first byte to the end of its block.
    static ExtDirEntry parse(std::span<const uint8_t> bytes, bool fileTypes);

    // The bytes the entry needs: its header and name, rounded up to four.
    size_t realSize() const { return (kHeaderSize + nameLen + 3) & ~size_t{3}; }
    // Where the next entry starts: after the record, or after the real size when the record
    // length is less than the real size + 4.
    size_t advance() const { return recLen < realSize() + 4 ? realSize() : recLen; }
};

}  // namespace quenlow::fs
