// The NTFS and FAT boot sector layouts on sectors written by mkntfs and mkfs.vfat (the
// committed fixtures), cut copies, and the cluster encodings a small volume does not use.

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <tuple>

#include "volumes/FatBootSector.h"
#include "volumes/NtfsBootSector.h"

using quenlow::volumes::FatBootSector;
using quenlow::volumes::NtfsBootSector;

namespace {

std::array<uint8_t, 512> sectorOf(const std::string& image, uint64_t sector) {
    std::array<uint8_t, 512> s{};
    std::ifstream in(std::string(QUENLOW_FIXTURE_DIR) + "/" + image, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(sector * 512));
    in.read(reinterpret_cast<char*>(s.data()), s.size());
    EXPECT_TRUE(in.good()) << image;
    return s;
}

}  // namespace

TEST(NtfsBootSector, FieldsOfAnMkntfsVolumeAndTheClusterEncodings) {
    const auto sector = sectorOf("ntfs/ntfs.img", 0);
    const auto b = NtfsBootSector::parse(sector);
    EXPECT_TRUE(b.ntfsJump() && b.ntfsOemName && b.signature);
    // fsstat: 4096-byte clusters, MFT at 4, mirror at 3071, 1024-byte records (stored as -10);
    // the total leaves out the backup boot sector at the end of the 24 MiB.
    EXPECT_EQ(std::tuple(b.bytesPerSector, b.clusterBytes(), b.totalSectors, b.mftCluster, b.mftMirrorCluster, b.recordBytes()),
              std::tuple(uint16_t{512}, uint64_t{4096}, uint64_t{49151}, uint64_t{4}, uint64_t{3071}, uint64_t{1024}));

    // Sectors per cluster above 0x80: a negative power of two up to a shift of 20, beyond that
    // the raw value. Records: clusters when positive, 2^-n bytes when negative.
    const std::tuple<uint8_t, uint64_t, int8_t, uint64_t> cases[] = {
        {1, 1, 2, 1024}, {0x80, 128, -12, 4096}, {0xF8, 256, -128, 0}, {0xF7, 512, 0, 0},
        {0xEC, 1u << 20, 1, 512u << 20}, {0xEB, 0xEB, 1, 0xEB * 512}, {0x81, 0x81, 1, 0x81 * 512}, {0, 0, 1, 0}};
    for (const auto& [raw, sectors, perRecord, recordBytes] : cases) {
        NtfsBootSector s = b;
        s.sectorsPerClusterRaw = raw;
        s.clustersPerRecordRaw = perRecord;
        EXPECT_EQ(std::tuple(s.clusterBytes(), s.recordBytes()), std::tuple(sectors * 512, recordBytes)) << int{raw};
    }

    const auto cut = NtfsBootSector::parse(std::span<const uint8_t>(sector).first(44));  // inside the total
    EXPECT_EQ(std::tuple(cut.ntfsOemName, cut.totalSectors, cut.mftCluster, cut.signature),
              std::tuple(true, uint64_t{0}, uint64_t{0}, false));
}

TEST(FatBootSector, Fat16AndFat32ParameterBlocksOfMkfsVfat) {
    // FAT16 at 34816 (16-bit total and FAT size), FAT32 at 69632 (the 32-bit ones, the root
    // cluster); hidden sectors are the partitions' starts.
    using Fields = std::tuple<uint16_t, uint8_t, uint16_t, uint8_t, uint16_t, uint8_t, uint32_t, uint64_t, uint64_t>;
    const std::pair<uint64_t, Fields> cases[] = {
        {34816, {512, 4, 4, 2, 512, 0xF8, 34816, 32768, 32}},
        {69632, {512, 1, 32, 2, 0, 0xF8, 69632, 69632, 536}},
    };
    for (const auto& [start, want] : cases) {
        const auto sector = sectorOf("disks/mbr/disk.img", start);
        const auto b = FatBootSector::parse(sector);
        EXPECT_TRUE(b.jump[0] == 0xEB && b.jump[2] == 0x90 && b.oemNameStartsWith("MSDOS5.0") && b.signature);
        EXPECT_EQ(Fields(b.bytesPerSector, b.sectorsPerCluster, b.reservedSectors, b.fatCount, b.rootEntries, b.media,
                         b.hiddenSectors, b.totalSectors(), b.sectorsPerFat()),
                  want) << start;
        EXPECT_TRUE(b.sectorsPerFat16 != 0 || b.rootCluster == 2) << start;
        const auto cut = FatBootSector::parse(std::span<const uint8_t>(sector).first(34));  // inside the 32-bit total
        EXPECT_EQ(std::tuple(cut.totalSectors(), cut.signature), std::tuple(b.totalSectors16, false));
    }
}
