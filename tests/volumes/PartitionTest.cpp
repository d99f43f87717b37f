#include <gtest/gtest.h>

#include "support/SparseDisk.h"
#include "volumes/Partition.h"

using namespace quenlow;
using namespace quenlow::test;
using volumes::Partition;
using volumes::VolumeRecord;

namespace {

struct Listing {
    std::vector<VolumeRecord> volumes;
    RecordingFeedback feedback;
    int32_t result = -99;
};

Listing list(SparseDisk& disk, bool gpt = false, WorkControl* control = nullptr) {
    Listing l;
    Partition finder(disk, l.volumes, l.feedback, control);
    finder.gptFormat = gpt ? 1 : 0;
    l.result = finder.listPartitions();
    return l;
}

std::vector<std::string> summary(const std::vector<VolumeRecord>& v) {
    std::vector<std::string> out;
    for (const auto& r : v)
        out.push_back(r.volumeNumber + "|" + r.fileSystem + "|" + r.volumeSizeText + "|" + std::to_string(r.startSector));
    return out;
}

using Rows = std::vector<std::string>;

}  // namespace

TEST(PartitionMbr, PrimaryAndExtendedChainGiveRecordsInOrder) {
    SparseDisk disk(40000);
    mbrEntry(disk.at(0), 0, 0x07, 63, 8192);       // NTFS primary
    mbrEntry(disk.at(0), 1, 0x0F, 10000, 20000);   // extended
    disk.at(63) = ntfsBoot(8191);
    mbrEntry(disk.at(10000), 0, 0x0C, 63, 4096);   // first logical, relative to its EBR
    mbrEntry(disk.at(10000), 1, 0x05, 6000, 8000); // link, relative to the extended base
    mbrEntry(disk.at(16000), 0, 0x0B, 63, 6144);
    Listing l = list(disk);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(summary(l.volumes), (Rows{"0|NTFS|4   MB|63", "1|FAT32|2   MB|10063", "2|FAT32|3   MB|16063"}));
    EXPECT_EQ(l.feedback.statuses, (Rows{"found NTFS 1...", "found FAT 32...", "found FAT 32..."}));
}

TEST(PartitionMbr, EntriesAfterTheExtendedOneAreNotRead) {
    SparseDisk disk(40000);
    mbrEntry(disk.at(0), 0, 0x83, 63, 2048);
    mbrEntry(disk.at(0), 1, 0x05, 10000, 20000);
    mbrEntry(disk.at(0), 2, 0x07, 30000, 4096);
    mbrEntry(disk.at(10000), 0, 0x06, 63, 4096);
    Listing l = list(disk);
    EXPECT_EQ(summary(l.volumes), (Rows{"0|extX|1   MB|63", "1|FAT16|2   MB|10063"}));
    EXPECT_EQ(l.feedback.statuses, (Rows{"found ext2...", "found FAT 16..."}));
}

TEST(PartitionMbr, TypeTableAndExfatProbe) {
    SparseDisk disk(40000);
    mbrEntry(disk.at(0), 0, 0x07, 100, 4096);   // exFAT behind type 7
    mbrEntry(disk.at(0), 1, 0x42, 5000, 0);     // zero length: still listed
    mbrEntry(disk.at(0), 2, 0x01, 6000, 2048);
    mbrEntry(disk.at(0), 3, 0x05, 8000, 2048);
    disk.at(100) = exfatBoot(4096);
    mbrEntry(disk.at(8000), 0, 0x07, 10, 2048);  // logical NTFS: no number in its status
    mbrEntry(disk.at(8000), 1, 0x05, 100, 2048);
    mbrEntry(disk.at(8100), 0, 0x42, 10, 2048);  // 0x42 only means NTFS as a primary
    mbrEntry(disk.at(8100), 1, 0x83, 20, 2048);
    Listing l = list(disk);
    EXPECT_EQ(summary(l.volumes), (Rows{"0|FAT64|2   MB|100", "1|NTFS|0   MB|5000", "2|FAT12|1   MB|6000",
                                         "3|NTFS|1   MB|8010", "4|Unknown|1   MB|8110", "5|extX|1   MB|8120"}));
    EXPECT_EQ(l.feedback.statuses, (Rows{"found FAT64...", "NTFS...", "found NTFS...", "found UNKNOWN...", "found extx..."}));
}

TEST(PartitionMbr, ProtectiveMbrWithoutGptFlagIsUnknown) {
    SparseDisk disk(10000);
    writeGpt(disk, {{2048, 4095, "Basic data partition"}});
    disk.at(2048) = ntfsBoot(2048);
    Listing l = list(disk);
    EXPECT_EQ(summary(l.volumes), (Rows{"0|Unknown|2097151   MB|1"}));
    EXPECT_EQ(l.feedback.statuses, (Rows{"found UNKNOWN..."}));
}

TEST(PartitionMbr, LoopingChainIsCutAfterFiftyBootRecords) {
    SparseDisk disk(10000);
    mbrEntry(disk.at(0), 0, 0x05, 1000, 5000);
    mbrEntry(disk.at(1000), 0, 0x83, 1, 2048);
    mbrEntry(disk.at(1000), 1, 0x05, 0, 5000);  // links back to itself
    Listing l = list(disk);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.volumes.size(), 50u);
    EXPECT_EQ(l.volumes.back().volumeNumber, "49");
}

TEST(PartitionMbr, BadEntriesNeverReadOutsideTheDisk) {
    SparseDisk disk(4096);
    mbrEntry(disk.at(0), 0, 0x07, 0xFFFFFFF0, 0xFFFFFFFF);  // past the end: left out, named
    mbrEntry(disk.at(0), 1, 0x0F, 0xFFFFFF00, 10);          // the chain starts past the end
    std::vector<VolumeRecord> volumes;
    Partition finder(disk, volumes);
    EXPECT_EQ(finder.listPartitions(), 0);
    EXPECT_TRUE(volumes.empty());
    ASSERT_EQ(finder.warnings().size(), 2u);
    EXPECT_EQ(finder.warnings()[0], "primary partition 1 (type 0x07) starts at sector 4294967280, past the disk's "
                                    "end (4096 sectors): what it holds is not listed");
    EXPECT_EQ(disk.outsideReads, 0);
    SparseDisk unsigned_(4096);  // a boot record that lacks its signature holds no table
    mbrEntry(unsigned_.at(0), 0, 0x0F, 100, 1000);
    mbrEntry(unsigned_.at(100), 0, 0x0B, 10, 2048);
    unsigned_.at(100)[510] = 0;
    EXPECT_TRUE(list(unsigned_).volumes.empty());
}

TEST(PartitionMbr, TinyOrEmptyDisks) {
    SparseDisk none(0);
    EXPECT_NE(list(none).result, 0);
    SparseDisk one(1);  // too small for a GPT header: the MBR path is taken anyway
    mbrEntry(one.at(0), 0, 0x0C, 0, 2048);
    Listing l = list(one, true);
    EXPECT_EQ(summary(l.volumes), (Rows{"0|FAT32|1   MB|0"}));
    EXPECT_EQ(one.outsideReads, 0);
}

TEST(PartitionGpt, EntriesAreClassifiedByTheirBootSectors) {
    SparseDisk disk(200000);
    writeGpt(disk, {
        {40, 2087, "Microsoft reserved partition"},
        {2048, 10239, "Basic data partition"},
        {10240, 30719, "Apple HFS"},
        {30720, 40959, "EFI system partition"},
        {40960, 81919, "data"},
        {81920, 90111, "Linux filesystem"},
        {90112, 100351, "Basic data partition"},
    });
    disk.at(2048) = ntfsBoot(8191);
    disk.at(10242) = hfsHeader(4096, 2560);
    FatGeometry msdos = fat32Geometry(10240);
    msdos.oem = "MSDOS5.0";
    disk.at(30720) = fatBoot(msdos);
    disk.at(40960) = fatBoot(fat16Geometry(40960));  // mkfs.fat: found by its parameter block
    disk.at(90112) = exfatBoot(10240);
    Listing l = list(disk, true);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(summary(l.volumes), (Rows{"0|NTFS|3   MB|2048", "1|HFS+|9|10240", "2|FAT32|5  MB|30720",
                                         "3|FAT16|20  MB|40960", "4|Linux filesystem|3|81920",
                                         "5|FAT64|5  MB|90112"}));
    EXPECT_EQ(l.feedback.statuses, (Rows{"found NTFS 1...", "found FAT 32...", "found FAT 16...", "found FAT 64..."}));
}

TEST(PartitionGpt, CollectionEndsAtTheFirstUnfitEntry) {
    SparseDisk disk(100000);
    std::vector<GptEntry> entries;
    entries.push_back({3000, 5047, "one"});
    GptEntry marked{6000, 8047, "marked"};
    marked.typeFirstByte = 0x30;
    entries.push_back(marked);
    entries.push_back({9000, 11047, "after"});
    writeGpt(disk, entries);
    EXPECT_EQ(summary(list(disk, true).volumes), (Rows{"0|one|0|3000"}));

    SparseDisk full(100000);
    std::vector<GptEntry> many;
    for (int i = 0; i < 80; ++i) many.push_back({uint64_t(1000 + i * 100), uint64_t(1000 + i * 100 + 50), "p"});
    writeGpt(full, many);
    EXPECT_EQ(list(full, true).volumes.size(), 72u);
}

TEST(PartitionGpt, FaultyTablesEndTheListingWithoutReadingOutside) {
    {   // the entry array runs past the end
        SparseDisk disk(100);
        writeGpt(disk, {{3, 50, "x"}}, 90);
        Listing l = list(disk, true);
        EXPECT_NE(l.result, 0);
        EXPECT_TRUE(l.volumes.empty());
        EXPECT_EQ(disk.outsideReads, 0);
    }
    {   // an entry array sector whose byte offset overflows
        SparseDisk disk(100);
        writeGpt(disk, {}, 0);
        put64(&disk.at(1)[72], ~0ull);
        EXPECT_NE(list(disk, true).result, 0);
        EXPECT_EQ(disk.outsideReads, 0);
    }
    {   // an entry past the end ends the listing; a reversed one is listed as size 0
        SparseDisk disk(10000);
        writeGpt(disk, {{5000, 100, "reversed"}, {~0ull - 5, ~0ull, "far"}, {6000, 8047, "later"}});
        Listing l = list(disk, true);
        EXPECT_NE(l.result, 0);
        EXPECT_EQ(summary(l.volumes), (Rows{"0|reversed|0|5000"}));
        EXPECT_EQ(disk.outsideReads, 0);
    }
}

TEST(PartitionGpt, StopEndsAfterAFileSystemEntry) {
    SparseDisk disk(100000);
    writeGpt(disk, {{2048, 10239, "a"}, {20480, 30000, "b"}});
    disk.at(2048) = ntfsBoot(8191);
    disk.at(20480) = ntfsBoot(8191);
    WorkControl control;
    control.requestStop();
    Listing l = list(disk, true, &control);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(summary(l.volumes), (Rows{"0|NTFS|3   MB|2048"}));
}

TEST(PartitionProbes, ExfatAndHfsPlus) {
    SparseDisk disk(100);
    disk.at(5) = exfatBoot(10);
    disk.at(12) = hfsHeader(512, 10);
    std::vector<VolumeRecord> v;
    Partition finder(disk, v);
    EXPECT_TRUE(finder.isExfatBootSector(5));
    EXPECT_FALSE(finder.isExfatBootSector(6));
    EXPECT_TRUE(finder.isHfsPlusAt(10));
    EXPECT_FALSE(finder.isHfsPlusAt(12));
    EXPECT_FALSE(finder.isExfatBootSector(100));
    EXPECT_FALSE(finder.isHfsPlusAt(INT64_MAX));
    EXPECT_FALSE(finder.isExfatBootSector(-1));
    EXPECT_EQ(disk.outsideReads, 0);
}
