#include "filesystems/ext/ExtDirEntry.h"

#include <algorithm>

#include "platform/ByteReader.h"

namespace quenlow::fs {

ExtDirEntry ExtDirEntry::parse(std::span<const uint8_t> bytes, bool fileTypes) {
    platform::ByteReader r(bytes);
    ExtDirEntry e;
    e.inode = r.le32(Inode);
    e.recLen = r.le16(RecLen);
    if (fileTypes) {
        e.nameLen = r.u8(NameLen);
        e.fileType = r.u8(FileType);
    } else {
        e.nameLen = r.le16(NameLen);
    }
    size_t available = bytes.size() > Name ? bytes.size() - Name : 0;
    size_t length = std::min<size_t>(e.nameLen, available);
    e.nameCut = length < e.nameLen;
    if (length > 0) e.name = std::string_view(reinterpret_cast<const char*>(bytes.data() + Name), length);
    return e;
}

}  // namespace quenlow::fs
