#include "filesystems/fat/Fat16Class.h"

#include <cstring>

#include "filesystems/ParserRegistry.h"
#include "platform/ByteReader.h"
#include "volumes/BootSector.h"

namespace quenlow::fs {

namespace {
constexpr FatVolumeParser::Variant kFat16 = {kNotFat16Text, kFindingFat16Text, 2, 0xFFF8, true, false, true,
                                            "Maintaining Tree Structure for Tree Control"};
}  // namespace

ParserInfo fat16ParserInfo() {
    ParserInfo info;
    info.name = "FAT16";
    info.typeNames = {"fat16", "fat"};
    info.modes = {Mode::Standard, Mode::Advanced};
    info.restoresRecycleBin = false;
    info.expandingClearsList = true;
    info.caseInsensitiveNames = true;
    info.create = [](const ParserSetup& setup) { return std::make_unique<Fat16Class>(setup); };
    return info;
}

Fat16Class::Fat16Class(const ParserSetup& setup) : FatVolumeParser(setup, kFat16) {}

bool Fat16Class::acceptsBootSector(const uint8_t* b) {
    const platform::ByteReader boot(b, 512);
    bool named = std::memcmp(b + 3, "MSDOS", 5) == 0;
    bool sound = !named && volumes::BootSector::soundFat(b).fileSystem == "FAT16";
    return (named || sound) && boot.le16(22) != 0 && boot.le16(11) != 0 && b[13] != 0;
}

bool Fat16Class::validateBootSector(const uint8_t* b, FatGeometry& g) const {
    const platform::ByteReader boot(b, 512);
    if (!acceptsBootSector(b)) return false;
    g.bytesPerSector = boot.le16(11);
    g.sectorsPerCluster = b[13];
    g.clusterBytes = uint64_t{g.bytesPerSector} * g.sectorsPerCluster;
    const uint64_t reserved = boot.le16(14), fats = b[16], perFat = boot.le16(22);
    g.fatStart = static_cast<int64_t>(reserved * g.bytesPerSector);
    g.fatBytes = perFat * g.bytesPerSector;
    g.rootStart = static_cast<int64_t>((perFat * fats + reserved) * g.bytesPerSector);
    g.rootBytes = uint64_t{boot.le16(17)} * 32;
    g.dataStart = g.rootStart + static_cast<int64_t>(g.rootBytes);
    uint64_t total = boot.le16(19) != 0 ? boot.le16(19) : boot.le32(32);
    g.bootTotalBytes = total * g.bytesPerSector;
    return true;
}

}  // namespace quenlow::fs
