#include "volumes/FatBootSector.h"

#include "platform/ByteReader.h"

namespace quenlow::volumes {

FatBootSector FatBootSector::parse(std::span<const uint8_t> sector) {
    const platform::ByteReader in(sector);
    FatBootSector b;
    for (size_t i = 0; i < 3; ++i) b.jump[i] = in.u8(Offset::kJump + i);
    for (size_t i = 0; i < kOemNameSize; ++i) b.oemName[i] = static_cast<char>(in.u8(Offset::kOemName + i));
    b.bytesPerSector = in.le16(Offset::kBytesPerSector);
    b.sectorsPerCluster = in.u8(Offset::kSectorsPerCluster);
    b.reservedSectors = in.le16(Offset::kReservedSectors);
    b.fatCount = in.u8(Offset::kFatCount);
    b.rootEntries = in.le16(Offset::kRootEntries);
    b.totalSectors16 = in.le16(Offset::kTotalSectors16);
    b.media = in.u8(Offset::kMedia);
    b.sectorsPerFat16 = in.le16(Offset::kSectorsPerFat16);
    b.hiddenSectors = in.le32(Offset::kHiddenSectors);
    b.totalSectors32 = in.le32(Offset::kTotalSectors32);
    b.sectorsPerFat32 = in.le32(Offset::kSectorsPerFat32);
    b.rootCluster = in.le32(Offset::kRootCluster);
    b.signature = in.u8(Offset::kSignature) == 0x55 && in.u8(Offset::kSignature + 1) == 0xAA;
    return b;
}

}  // namespace quenlow::volumes
