#pragma once
// One named inode of an ext volume as the listing keeps it: no inode bytes, only what the
// list shows and where the inode lies for reading its data again.

#include <cstdint>
#include <string>

#include "platform/LocalTime.h"

namespace quenlow::fs {

struct ExtInodeEntry {
    std::string name;
    int32_t key = -1;        // inode number - 1
    int32_t parentRef = -1;  // key of the folder that lists it
    uint16_t mode = 0;       // the inode's mode, its type as the directory entry gives it
    uint64_t size = 0;
    uint64_t tableBlock = 0;  // the inode table that holds it, and its index there
    uint32_t tableIndex = 0;
    int32_t firstChild = -1;
    int32_t nextSibling = -1;
    // The same links as positions in the table (index + 1; 0 for none), so that walking a
    // list needs no lookup.
    uint32_t firstChildRef = 0;
    uint32_t nextSiblingRef = 0;
    platform::UnixTime accessed, changed, modified;
    bool nanoseconds = false;
    bool synthetic = false;  // the "ROOT" record: no inode

    bool isFolder() const { return (mode & 0xF000) == 0x4000; }
    // Regular files and symbolic links are saved; devices, pipes and sockets are not.
    bool isFile() const { return (mode & 0xF000) == 0x8000 || (mode & 0xF000) == 0xA000; }
};

}  // namespace quenlow::fs
