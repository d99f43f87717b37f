#include "filesystems/fat/FatDirRecord.h"

namespace quenlow::fs {

namespace {
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
}  // namespace

void FatDirRecord::copyFields(const uint8_t* e) {
    attributes = e[11];
    createTenths = e[13];
    createTime = le16(e + 14);
    createDate = le16(e + 16);
    accessDate = le16(e + 18);
    firstClusterHigh = le16(e + 20);
    writeTime = le16(e + 22);
    writeDate = le16(e + 24);
    firstClusterLow = le16(e + 26);
    fileSize = static_cast<uint32_t>(e[28]) | (static_cast<uint32_t>(e[29]) << 8) |
               (static_cast<uint32_t>(e[30]) << 16) | (static_cast<uint32_t>(e[31]) << 24);
}

}  // namespace quenlow::fs
