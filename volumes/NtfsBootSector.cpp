#include "volumes/NtfsBootSector.h"

#include "platform/ByteReader.h"

namespace quenlow::volumes {

NtfsBootSector NtfsBootSector::parse(std::span<const uint8_t> sector) {
    const platform::ByteReader in(sector);
    NtfsBootSector b;
    b.jump[0] = in.u8(Offset::kJump);
    b.jump[1] = in.u8(Offset::kJump + 1);
    b.ntfsOemName = in.equals(Offset::kOemName, "NTFS");
    b.bytesPerSector = in.le16(Offset::kBytesPerSector);
    b.sectorsPerClusterRaw = in.u8(Offset::kSectorsPerCluster);
    b.totalSectors = in.le64(Offset::kTotalSectors);
    b.mftCluster = in.le64(Offset::kMftCluster);
    b.mftMirrorCluster = in.le64(Offset::kMftMirrorCluster);
    b.clustersPerRecordRaw = static_cast<int8_t>(in.u8(Offset::kClustersPerRecord));
    b.signature = in.u8(Offset::kSignature) == 0x55 && in.u8(Offset::kSignature + 1) == 0xAA;
    return b;
}

uint64_t NtfsBootSector::sectorsPerCluster() const {
    const unsigned raw = sectorsPerClusterRaw;
    if (raw > 0x80 && 256 - raw <= 20) return uint64_t{1} << (256 - raw);
    return raw;
}

uint64_t NtfsBootSector::recordBytes() const {
    if (clustersPerRecordRaw > 0) return static_cast<uint64_t>(clustersPerRecordRaw) * clusterBytes();
    const int shift = -static_cast<int>(clustersPerRecordRaw);
    return shift > 0 && shift <= 31 ? uint64_t{1} << shift : 0;
}

}  // namespace quenlow::volumes
