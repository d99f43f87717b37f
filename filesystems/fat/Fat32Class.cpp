#include "filesystems/fat/Fat32Class.h"

#include <cstring>

#include "filesystems/ParserRegistry.h"
#include "volumes/BootSector.h"

namespace quenlow::fs {

namespace {
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

constexpr FatVolumeParser::Variant kFat32 = {kNotFat32Text, kFindingFat32Text, 4, 0x0FFFFFF8, false, true, false};
}  // namespace

ParserInfo fat32ParserInfo() {
    ParserInfo info;
    info.name = "FAT32";
    info.typeNames = {"fat32"};
    info.modes = {Mode::Standard};
    info.restoresRecycleBin = true;
    info.expandingClearsList = true;
    info.caseInsensitiveNames = true;
    info.create = [](const ParserSetup& setup) { return std::make_unique<Fat32Class>(setup); };
    return info;
}

Fat32Class::Fat32Class(const ParserSetup& setup) : FatVolumeParser(setup, kFat32) {}

bool Fat32Class::acceptsBootSector(const uint8_t* b) {
    bool named = std::memcmp(b + 3, "MSDOS", 5) == 0 || std::memcmp(b + 3, "BSD", 3) == 0;
    bool sound = !named && volumes::BootSector::soundFat(b).fileSystem == "FAT32";
    return (named || sound) && le16(b + 22) == 0 && le16(b + 11) != 0 && b[13] != 0;
}

bool Fat32Class::validateBootSector(const uint8_t* b, FatGeometry& g) const {
    if (!acceptsBootSector(b)) return false;
    g.bytesPerSector = le16(b + 11);
    g.sectorsPerCluster = b[13];
    g.clusterBytes = uint64_t{g.bytesPerSector} * g.sectorsPerCluster;
    const uint64_t reserved = le16(b + 14), fats = b[16], perFat = le32(b + 36);
    g.fatStart = static_cast<int64_t>(reserved * g.bytesPerSector);
    g.fatBytes = perFat * g.bytesPerSector;
    g.dataStart = static_cast<int64_t>((fats * perFat + reserved) * g.bytesPerSector);
    g.rootCluster = le32(b + 44);
    uint64_t total = le16(b + 19) != 0 ? le16(b + 19) : le32(b + 32);
    g.bootTotalBytes = total * g.bytesPerSector;
    return true;
}

}  // namespace quenlow::fs
