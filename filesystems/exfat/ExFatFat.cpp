#include "filesystems/exfat/ExFatFat.h"

#include <cstring>

namespace quenlow::fs {

ExFatFat::ExFatFat(disk::VolumeView view, const ExFatGeometry& geometry, bool driveFormatted)
    : view_(view), geometry_(geometry), driveFormatted_(driveFormatted), slots_(kSlots) {}

uint32_t ExFatFat::next(uint32_t cluster) {
    ++lookups_;
    if (driveFormatted_ || !geometry_.validCluster(cluster)) return kEndOfChain;
    const int64_t at = geometry_.fatStart + 4 * static_cast<int64_t>(cluster);
    uint8_t e[4];
    if (readEachSector) {
        uint8_t sector[512] = {};
        view_.readQuiet(at / 512 * 512, sector, sizeof sector);
        std::memcpy(e, sector + at % 512, 4);
    } else {
        const int64_t block = at / kBlockBytes;
        Slot& slot = slots_[static_cast<size_t>(block) % kSlots];
        if (slot.block != block) {
            slot.bytes.assign(kBlockBytes, 0);
            view_.readQuiet(block * kBlockBytes, slot.bytes.data(), slot.bytes.size());
            slot.block = block;
        }
        std::memcpy(e, slot.bytes.data() + at % kBlockBytes, 4);
    }
    return e[0] | (e[1] << 8) | (e[2] << 16) | (static_cast<uint32_t>(e[3]) << 24);
}

}  // namespace quenlow::fs
