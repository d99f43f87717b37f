#pragma once
// The ext2/ext3/ext4 superblock: the 1024 bytes that give the volume's geometry (block size,
// groups, inode tables) and its features. parse() reads the fields; plausible() tells a
// superblock whose geometry can be used from one that only carries the magic number.

#include <cstdint>
#include <span>

namespace quenlow::fs {

struct ExtSuperblock {
    static constexpr size_t kSize = 1024;
    static constexpr uint16_t kMagic = 0xEF53;

    enum Offset : size_t {
        InodesCount = 0,
        BlocksCountLo = 4,
        FirstDataBlock = 20,
        LogBlockSize = 24,
        BlocksPerGroup = 32,
        InodesPerGroup = 40,
        Magic = 56,
        RevLevel = 76,
        InodeSize = 88,
        FeatureCompat = 92,
        FeatureIncompat = 96,
        FeatureRoCompat = 100,
        DescSize = 254,
        BlocksCountHi = 336,
    };
    enum Incompat : uint32_t { FileType = 0x2, Extents = 0x40, Wide = 0x80, InlineData = 0x8000 };
    enum RoCompat : uint32_t { GroupDescCsum = 0x10, MetadataCsum = 0x400 };

    uint32_t inodesCount = 0;
    uint64_t blocksCount = 0;      // with the high half on 64bit volumes
    uint32_t firstDataBlock = 0;
    uint32_t logBlockSize = 0;
    uint32_t blocksPerGroup = 0;
    uint32_t inodesPerGroup = 0;
    uint16_t magic = 0;
    uint32_t revLevel = 0;
    uint16_t inodeSize = 0;        // 128 on revision 0 volumes
    uint32_t featureCompat = 0;
    uint32_t featureIncompat = 0;
    uint32_t featureRoCompat = 0;
    uint16_t descSize = 0;         // 32, or the field's value on 64bit volumes

    static ExtSuperblock parse(std::span<const uint8_t> bytes);

    // Every field the walks depend on lies in a usable range: the magic, a block size of
    // 1 KiB to 64 KiB, an inode size that is a power of two from 128 to the block size, group
    // sizes a bitmap block can describe, descriptors of 32 bytes or (64bit) a power of two of
    // at least 64, inode counts the groups can hold, and byte offsets that fit in 63 bits.
    bool plausible() const;

    uint32_t blockSize() const { return logBlockSize > 6 ? 0 : 1024u << logBlockSize; }
    // Groups: the blocks after the first data block in groups of blocksPerGroup, the last one
    // possibly partial.
    uint64_t groupCount() const;
    bool fileTypes() const { return (featureIncompat & FileType) != 0; }
    bool wide() const { return (featureIncompat & Wide) != 0; }
    // The group descriptors say how much of each inode table is in use.
    bool groupChecksums() const { return (featureRoCompat & (GroupDescCsum | MetadataCsum)) != 0; }
};

}  // namespace quenlow::fs
