#include "filesystems/ext/ExtSuperblock.h"

#include "platform/ByteReader.h"

namespace quenlow::fs {

ExtSuperblock ExtSuperblock::parse(std::span<const uint8_t> bytes) {
    platform::ByteReader r(bytes);
    ExtSuperblock s;
    s.inodesCount = r.le32(InodesCount);
    s.firstDataBlock = r.le32(FirstDataBlock);
    s.logBlockSize = r.le32(LogBlockSize);
    s.blocksPerGroup = r.le32(BlocksPerGroup);
    s.inodesPerGroup = r.le32(InodesPerGroup);
    s.magic = r.le16(Magic);
    s.revLevel = r.le32(RevLevel);
    s.inodeSize = s.revLevel == 0 ? 128 : r.le16(InodeSize);
    s.featureCompat = r.le32(FeatureCompat);
    s.featureIncompat = r.le32(FeatureIncompat);
    s.featureRoCompat = r.le32(FeatureRoCompat);
    s.blocksCount = r.le32(BlocksCountLo);
    if (s.wide()) {
        s.blocksCount |= static_cast<uint64_t>(r.le32(BlocksCountHi)) << 32;
        s.descSize = r.le16(DescSize);
    } else {
        s.descSize = 32;
    }
    return s;
}

uint64_t ExtSuperblock::groupCount() const {
    if (blocksPerGroup == 0 || blocksCount <= firstDataBlock) return 0;
    uint64_t blocks = blocksCount - firstDataBlock;
    return blocks / blocksPerGroup + (blocks % blocksPerGroup != 0);
}

bool ExtSuperblock::plausible() const {
    if (magic != kMagic || logBlockSize > 6) return false;
    const uint64_t bs = blockSize();
    auto powerOfTwo = [](uint64_t v) { return v != 0 && (v & (v - 1)) == 0; };
    if (inodeSize < 128 || inodeSize > bs || !powerOfTwo(inodeSize)) return false;
    if (blocksPerGroup < 8 || inodesPerGroup == 0 || inodesPerGroup > 8 * bs) return false;
    if (wide() ? descSize < 64 || descSize > 1024 || !powerOfTwo(descSize) : descSize != 32) return false;
    if (firstDataBlock > 1 || blocksCount <= firstDataBlock || blocksCount > (INT64_MAX / bs)) return false;
    const uint64_t groups = groupCount();
    return inodesCount != 0 && inodesCount <= groups * inodesPerGroup && groups <= (uint64_t{1} << 32);
}

}  // namespace quenlow::fs
