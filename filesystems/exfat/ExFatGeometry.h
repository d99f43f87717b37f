#pragma once
// Where an exFAT volume keeps its FAT and its clusters, from the boot sector.

#include <cstdint>

#include "disk/VolumeView.h"

namespace quenlow::fs {

struct ExFatGeometry {
    int64_t bytesPerSector = 0;
    int64_t sectorsPerCluster = 0;
    int64_t clusterBytes = 0;
    int64_t fatStart = 0;      // byte offset of the first FAT
    int64_t dataStart = 0;     // byte offset of cluster 2
    uint32_t rootCluster = 0;
    int64_t volumeBytes = 0;
    // Clusters below this number can be named: the volume's size in clusters (at most
    // 0xFFFFFFF7, where the FAT's special values begin).
    uint64_t maxCluster = 0;

    int64_t clusterOffset(uint32_t cluster) const {
        return dataStart + (static_cast<int64_t>(cluster) - 2) * clusterBytes;
    }
    bool validCluster(uint64_t cluster) const { return cluster >= 2 && cluster < maxCluster; }

    // The boot sector read was the copy at the start of the backup boot region (sector 12).
    bool fromBackup = false;

    enum class Verdict { Ok, Unreadable, NotExfat };
    // Reads the boot sector at offset 0, or when that one is not sound, its copy in sector 12
    // (of the copy's own sector size). The name field must read "EXFAT"; the sector and
    // cluster shifts must give a sector of 512 to 4096 bytes and a cluster of at most
    // 32 MiB. `recordBytes` is the volume's size as its record gives it; 0 takes the boot
    // sector's volume length instead.
    Verdict read(const disk::VolumeView& view, int64_t recordBytes);

private:
    Verdict readAt(const disk::VolumeView& view, int64_t offset, int64_t recordBytes);
};

}  // namespace quenlow::fs
