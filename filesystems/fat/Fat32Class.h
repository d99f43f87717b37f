#pragma once
// FAT32 volumes: the boot sector's parameter block (the FAT size in its 32-bit field), a
// FAT of 32-bit entries, and a root folder that is a cluster chain like any other.

#include "filesystems/fat/FatVolumeParser.h"

namespace quenlow::fs {

inline constexpr const char* kNotFat32Text = "Selected Drive is not in Fat32 Format";
inline constexpr const char* kFindingFat32Text = "Finding Fat32 File And Directory entries recursively....";

class Fat32Class : public FatVolumeParser {
public:
    explicit Fat32Class(const ParserSetup& setup);

    // The OEM name "MSDOS…" or "BSD", or a sound FAT32 parameter block (a volume another
    // system formatted); the 16-bit FAT size must be 0 and a cluster must have bytes.
    static bool acceptsBootSector(const uint8_t* boot);

protected:
    bool validateBootSector(const uint8_t* boot, FatGeometry& geometry) const override;
};

}  // namespace quenlow::fs
