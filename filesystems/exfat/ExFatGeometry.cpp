#include "filesystems/exfat/ExFatGeometry.h"

#include <cstring>

namespace quenlow::fs {

namespace {

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint64_t le64(const uint8_t* p) { return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32); }

}  // namespace

ExFatGeometry::Verdict ExFatGeometry::read(const disk::VolumeView& view, int64_t recordBytes) {
    uint8_t s[512] = {};
    if (!view.read(0, s, sizeof s).ok()) return Verdict::Unreadable;
    if (std::memcmp(s + 3, "EXFAT", 5) != 0) return Verdict::NotExfat;
    const unsigned sectorShift = s[108], clusterShift = s[109];
    if (sectorShift < 9 || sectorShift > 12 || sectorShift + clusterShift > 25) return Verdict::NotExfat;
    bytesPerSector = int64_t{1} << sectorShift;
    sectorsPerCluster = int64_t{1} << clusterShift;
    clusterBytes = bytesPerSector * sectorsPerCluster;
    fatStart = static_cast<int64_t>(le32(s + 80)) * bytesPerSector;
    dataStart = static_cast<int64_t>(le32(s + 88)) * bytesPerSector;
    rootCluster = le32(s + 96);
    volumeBytes = recordBytes;
    if (volumeBytes <= 0) {
        uint64_t sectors = le64(s + 72);
        volumeBytes = sectors > (uint64_t{1} << 50) ? int64_t{1} << 62 : static_cast<int64_t>(sectors) * bytesPerSector;
    }
    maxCluster = static_cast<uint64_t>(volumeBytes / clusterBytes);
    if (maxCluster > 0xFFFFFFF7) maxCluster = 0xFFFFFFF7;  // the values above name no cluster
    return Verdict::Ok;
}

}  // namespace quenlow::fs
