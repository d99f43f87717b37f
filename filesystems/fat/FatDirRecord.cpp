#include "filesystems/fat/FatDirRecord.h"

#include "platform/ByteReader.h"

namespace quenlow::fs {

void FatDirRecord::copyFields(const uint8_t* e) {
    const platform::ByteReader entry(e, 32);
    attributes = e[11];
    createTenths = e[13];
    createTime = entry.le16(14);
    createDate = entry.le16(16);
    accessDate = entry.le16(18);
    firstClusterHigh = entry.le16(20);
    writeTime = entry.le16(22);
    writeDate = entry.le16(24);
    firstClusterLow = entry.le16(26);
    fileSize = entry.le32(28);
}

}  // namespace quenlow::fs
