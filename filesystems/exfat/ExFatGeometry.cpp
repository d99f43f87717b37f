#include "filesystems/exfat/ExFatGeometry.h"

#include <cstring>

#include "platform/ByteReader.h"

namespace quenlow::fs {

ExFatGeometry::Verdict ExFatGeometry::read(const disk::VolumeView& view, int64_t recordBytes) {
    fromBackup = false;
    const Verdict main = readAt(view, 0, recordBytes);
    if (main == Verdict::Ok) return main;
    // The backup region begins at sector 12, in the sector size the copy itself states.
    for (int64_t shift = 9; shift <= 12; ++shift)
        if (readAt(view, 12 << shift, recordBytes) == Verdict::Ok && bytesPerSector == (int64_t{1} << shift)) {
            fromBackup = true;
            return Verdict::Ok;
        }
    return main;
}

ExFatGeometry::Verdict ExFatGeometry::readAt(const disk::VolumeView& view, int64_t offset, int64_t recordBytes) {
    uint8_t s[512] = {};
    if (!view.read(offset, s, sizeof s).ok()) return Verdict::Unreadable;
    const platform::ByteReader boot(s, sizeof s);
    if (std::memcmp(s + 3, "EXFAT", 5) != 0) return Verdict::NotExfat;
    const unsigned sectorShift = s[108], clusterShift = s[109];
    if (sectorShift < 9 || sectorShift > 12 || sectorShift + clusterShift > 25) return Verdict::NotExfat;
    bytesPerSector = int64_t{1} << sectorShift;
    sectorsPerCluster = int64_t{1} << clusterShift;
    clusterBytes = bytesPerSector * sectorsPerCluster;
    fatStart = static_cast<int64_t>(boot.le32(80)) * bytesPerSector;
    dataStart = static_cast<int64_t>(boot.le32(88)) * bytesPerSector;
    rootCluster = boot.le32(96);
    volumeBytes = recordBytes;
    if (volumeBytes <= 0) {
        uint64_t sectors = boot.le64(72);
        volumeBytes = sectors > (uint64_t{1} << 50) ? int64_t{1} << 62 : static_cast<int64_t>(sectors) * bytesPerSector;
    }
    maxCluster = static_cast<uint64_t>(volumeBytes / clusterBytes);
    if (maxCluster > 0xFFFFFFF7) maxCluster = 0xFFFFFFF7;  // the values above name no cluster
    return Verdict::Ok;
}

}  // namespace quenlow::fs
