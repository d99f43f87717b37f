#pragma once
// One found volume, as listed in the columns "VOLUME", "FILE_SYSTEM", "VOLUME_SIZE" and
// "START_SECTOR". The size travels only as text: its leading decimal number is the volume
// size in whole MiB.

#include <cstdint>
#include <string>

namespace quenlow::volumes {

struct VolumeRecord {
    std::string fileSystem;      // "NTFS", "FAT32", "FAT64", "extX", "HFS+", "Unknown", ...
    std::string volumeNumber;    // "%d"
    std::string volumeSizeText;  // "%d   MB", "%lld  MB", "%lld", ...
    int64_t startSector = 0;
};

}  // namespace quenlow::volumes
