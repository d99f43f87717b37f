#include <gtest/gtest.h>

#include "support/SparseDisk.h"
#include "volumes/BootSector.h"

using namespace quenlow::test;
using quenlow::volumes::BootSector;
using Rules = BootSector::Rules;
using Family = BootSector::Family;

TEST(BootSector, NamedFat16RulesKeptAndOrdinaryFat16Recognised) {
    FatGeometry g = fat16Geometry(30000);
    g.oem = "MSDOS5.0";
    g.perFat16 = 256;
    auto named = BootSector::classify(fatBoot(g).data(), Rules::Table);
    EXPECT_EQ(named.fileSystem, "FAT16");
    EXPECT_EQ(named.sizeMiB, 14u);

    // 255 sectors per FAT: the named rule says "UNKNOWN", the parameter block says FAT16.
    g.perFat16 = 255;
    auto sound = BootSector::classify(fatBoot(g).data(), Rules::Table);
    EXPECT_TRUE(sound.record);
    EXPECT_EQ(sound.fileSystem, "FAT16");
    EXPECT_EQ(sound.status, "found FAT 16...");

    // ... and with an unsound block it stays unknown and unlisted.
    g.fats = 3;
    auto unknown = BootSector::classify(fatBoot(g).data(), Rules::Table);
    EXPECT_EQ(unknown.family, Family::Fat);
    EXPECT_EQ(unknown.fileSystem, "UNKNOWN");
    EXPECT_EQ(unknown.status, "found unknown...");
    EXPECT_FALSE(unknown.record);

    // 128 sectors per FAT is FAT16 only in the sector scan.
    g.fats = 2;
    g.perFat16 = 128;
    g.signature = false;
    EXPECT_EQ(BootSector::classify(fatBoot(g).data(), Rules::Scan).fileSystem, "FAT16");
    EXPECT_EQ(BootSector::classify(fatBoot(g).data(), Rules::Table).fileSystem, "UNKNOWN");
}

TEST(BootSector, NegativeSixteenBitTotalFallsBackToTheParameterBlock) {
    FatGeometry g = fat16Geometry(40000);  // 40000 does not fit a signed 16-bit total
    g.oem = "MSDOS5.0";
    g.perFat16 = 200;
    auto v = BootSector::classify(fatBoot(g).data(), Rules::Scan);
    EXPECT_TRUE(v.record);
    EXPECT_EQ(v.fileSystem, "FAT16");
    EXPECT_EQ(v.sizeSectors, 40000u);
}

TEST(BootSector, FatTypeComesFromTheClusterCount) {
    FatGeometry small;
    small.total16 = 8192;  // 4 MiB, about 2000 clusters
    small.perFat16 = 6;
    auto v12 = BootSector::classify(fatBoot(small).data(), Rules::Scan);
    EXPECT_EQ(v12.fileSystem, "FAT12");
    EXPECT_EQ(v12.status, "found FAT 12...");
    EXPECT_EQ(BootSector::classify(fatBoot(fat16Geometry(100000)).data(), Rules::Scan).fileSystem, "FAT16");
    auto v32 = BootSector::classify(fatBoot(fat32Geometry(200000)).data(), Rules::Scan);
    EXPECT_EQ(v32.fileSystem, "FAT32");
    EXPECT_EQ(v32.sizeMiB, 97u);

    FatGeometry big = fat32Geometry(200000);  // 4096-byte sectors: the size counts them
    big.bytesPerSector = 4096;
    auto v = BootSector::classify(fatBoot(big).data(), Rules::Scan);
    EXPECT_EQ(v.sizeSectors, 200000u * 8);
}

TEST(BootSector, UnsoundParameterBlocksAreNotVolumes) {
    auto bad = [](auto change) {
        FatGeometry g = fat16Geometry(100000);
        change(g);
        return BootSector::classify(fatBoot(g).data(), Rules::Scan).family;
    };
    EXPECT_EQ(bad([](FatGeometry&) {}), Family::Fat);
    EXPECT_EQ(bad([](FatGeometry& g) { g.bytesPerSector = 0; }), Family::None);
    EXPECT_EQ(bad([](FatGeometry& g) { g.bytesPerSector = 768; }), Family::None);
    EXPECT_EQ(bad([](FatGeometry& g) { g.bytesPerSector = 8192; }), Family::None);
    EXPECT_EQ(bad([](FatGeometry& g) { g.perCluster = 0; }), Family::None);
    EXPECT_EQ(bad([](FatGeometry& g) { g.perCluster = 3; }), Family::None);
    EXPECT_EQ(bad([](FatGeometry& g) { g.reserved = 0; }), Family::None);
    EXPECT_EQ(bad([](FatGeometry& g) { g.fats = 0; }), Family::None);
    EXPECT_EQ(bad([](FatGeometry& g) { g.fats = 3; }), Family::None);
    EXPECT_EQ(bad([](FatGeometry& g) { g.signature = false; }), Family::None);
    EXPECT_EQ(bad([](FatGeometry& g) { g.media = 0x12; }), Family::None);
    EXPECT_EQ(bad([](FatGeometry& g) { g.perFat16 = 10; }), Family::None);       // FAT too small
    EXPECT_EQ(bad([](FatGeometry& g) { g.perFat16 = 0xFFFF; }), Family::None);   // metadata beyond the end
    EXPECT_EQ(bad([](FatGeometry& g) { g.total32 = 0; }), Family::None);
    EXPECT_EQ(bad([](FatGeometry& g) { g.rootEntries = 0; }), Family::None);      // FAT16 needs a root folder
}

TEST(BootSector, NtfsExfatAndHfsPlus) {
    auto ntfs = ntfsBoot(~0ull);  // absurd sizes do not overflow
    auto v = BootSector::classify(ntfs.data(), Rules::Scan);
    EXPECT_EQ(v.family, Family::Ntfs);
    EXPECT_EQ(v.sizeMiB, ~0ull / 2048);
    std::memcpy(&ntfs[3], "XXXX", 4);  // the scan wants the name, the table listing does not
    EXPECT_EQ(BootSector::classify(ntfs.data(), Rules::Scan).family, Family::None);
    EXPECT_EQ(BootSector::classify(ntfs.data(), Rules::Table).family, Family::Ntfs);
    put16(&ntfs[11], 4096);
    EXPECT_EQ(BootSector::classify(ntfs.data(), Rules::Table).family, Family::None);

    auto ex = BootSector::classify(exfatBoot(~0ull).data(), Rules::Scan);
    EXPECT_EQ(ex.fileSystem, "FAT64");
    EXPECT_EQ(ex.sizeSectors, ~0ull);

    auto hfs = BootSector::hfsPlusHeader(hfsHeader(0xFFFFFFFF, 0xFFFFFFFF).data());
    EXPECT_EQ(hfs.family, Family::HfsPlus);
    EXPECT_FALSE(hfs.record);  // beyond the largest size taken
    EXPECT_GT(hfs.sizeSectors, 0u);
    EXPECT_TRUE(BootSector::hfsPlusHeader(hfsHeader(4096, 256).data()).record);
    EXPECT_FALSE(BootSector::hfsPlusHeader(hfsHeader(4096, 255).data()).record);  // below 1 MiB
}
