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

// The size the record gives, in bytes: the leading decimal number of its size text (blanks
// before it skipped) times 1048576; 0 when the text starts with no digit, INT64_MAX when the
// number is too large for bytes.
inline int64_t recordSizeBytes(const VolumeRecord& volume) {
    const std::string& text = volume.volumeSizeText;
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > (INT64_MAX - 9) / 10) return INT64_MAX;
        value = value * 10 + (text[i] - '0');
    }
    return value > INT64_MAX / 1048576 ? INT64_MAX : value * 1048576;
}

}  // namespace quenlow::volumes
