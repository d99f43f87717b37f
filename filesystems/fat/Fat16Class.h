#pragma once
// FAT16 volumes: the boot sector's parameter block (the FAT size in its 16-bit field), a
// FAT of 16-bit entries, and the fixed root region between the FATs and cluster 2.

#include "filesystems/fat/FatVolumeParser.h"

namespace quenlow::fs {

inline constexpr const char* kNotFat16Text = "Selected Drive is not in Fat16 Format";
inline constexpr const char* kFindingFat16Text = "Finding Fat16 File And Directory entries recursively....";

class Fat16Class : public FatVolumeParser {
public:
    explicit Fat16Class(const ParserSetup& setup);

    // The OEM name "MSDOS…", or a sound FAT16 parameter block (a volume another system
    // formatted); the 16-bit FAT size must not be 0 and a cluster must have bytes.
    static bool acceptsBootSector(const uint8_t* boot);

protected:
    bool validateBootSector(const uint8_t* boot, FatGeometry& geometry) const override;
};

}  // namespace quenlow::fs
