#include "filesystems/fat/Fat32Class.h"

#include <cstring>

#include "filesystems/ParserRegistry.h"
#include "platform/ByteReader.h"
#include "volumes/BootSector.h"

namespace quenlow::fs {

namespace {
constexpr FatVolumeParser::Variant kFat32 = {kNotFat32Text, kFindingFat32Text, 4, 0x0FFFFFF8, false, true, false,
                                            "Maintaining TreeStructure for Tree Control"};
}  // namespace

ParserInfo fat32ParserInfo() {
    ParserInfo info;
    info.name = "FAT32";
    info.typeNames = {"fat32"};
    info.modes = {Mode::Standard, Mode::Advanced};
    info.restoresRecycleBin = true;
    info.expandingClearsList = true;
    info.caseInsensitiveNames = true;
    info.create = [](const ParserSetup& setup) { return std::make_unique<Fat32Class>(setup); };
    return info;
}

Fat32Class::Fat32Class(const ParserSetup& setup) : FatVolumeParser(setup, kFat32) {}

bool Fat32Class::acceptsBootSector(const uint8_t* b) {
    const platform::ByteReader boot(b, 512);
    bool named = std::memcmp(b + 3, "MSDOS", 5) == 0 || std::memcmp(b + 3, "BSD", 3) == 0;
    bool sound = !named && volumes::BootSector::soundFat(b).fileSystem == "FAT32";
    return (named || sound) && boot.le16(22) == 0 && boot.le16(11) != 0 && b[13] != 0;
}

bool Fat32Class::validateBootSector(const uint8_t* b, FatGeometry& g) const {
    const platform::ByteReader boot(b, 512);
    if (!acceptsBootSector(b)) return false;
    g.bytesPerSector = boot.le16(11);
    g.sectorsPerCluster = b[13];
    g.clusterBytes = uint64_t{g.bytesPerSector} * g.sectorsPerCluster;
    const uint64_t reserved = boot.le16(14), fats = b[16], perFat = boot.le32(36);
    g.fatStart = static_cast<int64_t>(reserved * g.bytesPerSector);
    g.fatBytes = perFat * g.bytesPerSector;
    g.dataStart = static_cast<int64_t>((fats * perFat + reserved) * g.bytesPerSector);
    g.rootCluster = boot.le32(44);
    uint64_t total = boot.le16(19) != 0 ? boot.le16(19) : boot.le32(32);
    g.bootTotalBytes = total * g.bytesPerSector;
    return true;
}

}  // namespace quenlow::fs
