#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "support/SparseDisk.h"
#include "volumes/Partition.h"

using namespace quenlow;
using namespace quenlow::test;
using volumes::Partition;
using volumes::VolumeRecord;

namespace {

using Rows = std::vector<std::string>;

struct Scan {
    std::vector<VolumeRecord> volumes;
    std::vector<std::string> rows;  // as shown, newest first
    RecordingFeedback feedback;
    int32_t result = -99;
};

struct Options {
    bool skip = true;
    int64_t start = 0, end = 0;
    uint32_t readAhead = 0;
    WorkControl* control = nullptr;
    Feedback* feedback = nullptr;
    int64_t totalSectors = -1;
};

Scan scan(disk::readWriteInterface& disk, Options o = {}) {
    Scan s;
    Partition finder(disk, s.volumes, o.feedback ? *o.feedback : s.feedback, o.control);
    finder.skipVolumeSize = o.skip ? 1 : 0;
    finder.customStartSector = o.start;
    finder.customEndSector = o.end;
    if (o.readAhead) finder.readAheadSectors = o.readAhead;
    if (o.totalSectors >= 0) finder.totalSectors = static_cast<uint64_t>(o.totalSectors);
    finder.onScanRecord = [&](const VolumeRecord& r) {
        s.rows.insert(s.rows.begin(), r.volumeNumber + "|" + r.fileSystem + "|" + r.volumeSizeText + "|" +
                                          std::to_string(r.startSector));
    };
    s.result = finder.scanVolumes();
    return s;
}

Rows found(const Scan& s) {
    Rows out;
    for (const auto& r : s.volumes)
        out.push_back(r.volumeNumber + "|" + r.fileSystem + "|" + r.volumeSizeText + "|" + std::to_string(r.startSector));
    return out;
}

// A disk with one volume of each kind.
constexpr uint64_t kMixedSectors = 200000;
void fillMixed(SparseDisk& disk) {
    disk.at(2048) = ntfsBoot(20480);
    disk.at(2048 + 20480) = ntfsBoot(20480);  // the backup boot sector
    disk.at(30000) = fatBoot(fat32Geometry(70000));
    disk.at(110000) = exfatBoot(10000);
    disk.at(125010) = hfsHeader(4096, 1024);
    disk.at(150000) = fatBoot(fat16Geometry(20000));
}

}  // namespace

TEST(Scan, FindsEveryKindAndSkipsPastEachVolume) {
    SparseDisk disk(kMixedSectors);
    fillMixed(disk);
    Scan s = scan(disk);
    EXPECT_EQ(s.result, 1);
    EXPECT_EQ(found(s), (Rows{"0|NTFS|10   MB|2048", "1|FAT32|34  MB|30000", "2|FAT64|4  MB|110000",
                              "3|HFS+|4  MB|125008", "4|FAT16|9  MB|150000"}));
    EXPECT_EQ(s.rows.front(), "4|FAT16|9  MB|150000");  // newest on top
    EXPECT_EQ(s.feedback.statuses, (Rows{"Scanning partition.....", "found NTFS 1...", "found FAT 32...",
                                         "found FAT 64...", "found HFS+...", "found FAT 16..."}));
    EXPECT_EQ(s.feedback.range, (std::pair<int64_t, int64_t>{0, 1000}));
    EXPECT_EQ(s.feedback.positions.back(), 1000);
    EXPECT_TRUE(std::is_sorted(s.feedback.positions.begin(), s.feedback.positions.end()));
    EXPECT_EQ(disk.outsideReads, 0);
}

TEST(Scan, AVolumeRightBehindAnotherIsFound) {
    SparseDisk disk(120000);
    disk.at(2048) = fatBoot(fat32Geometry(70000));
    disk.at(72048) = exfatBoot(4096);
    disk.at(76146) = hfsHeader(4096, 512);  // the volume starts at 76144, 4096 sectors
    disk.at(80240) = ntfsBoot(4095);          // its backup boot sector at 84335
    disk.at(84336) = fatBoot(fat16Geometry(20000));
    EXPECT_EQ(found(scan(disk)), (Rows{"0|FAT32|34  MB|2048", "1|FAT64|2  MB|72048", "2|HFS+|2  MB|76144",
                                       "3|NTFS|1   MB|80240", "4|FAT16|9  MB|84336"}));
}

TEST(Scan, WithoutSkipTheBackupBootSectorIsFoundAgain) {
    SparseDisk disk(kMixedSectors);
    fillMixed(disk);
    Scan s = scan(disk, {.skip = false});
    ASSERT_GE(s.volumes.size(), 2u);
    EXPECT_EQ(found(s)[1], "1|NTFS|10   MB|22528");
    EXPECT_EQ(s.feedback.statuses[2], "found NTFS 2...");
}

TEST(Scan, ReadSizeDoesNotChangeTheResult) {
    for (bool skip : {true, false}) {
        SparseDisk a(kMixedSectors), b(kMixedSectors);
        fillMixed(a);
        fillMixed(b);
        EXPECT_EQ(found(scan(a, {.skip = skip, .readAhead = Partition::kChunkSectors})),
                  found(scan(b, {.skip = skip, .readAhead = 64 * Partition::kChunkSectors})));
    }
}

TEST(Scan, CustomStartAndEnd) {
    SparseDisk disk(100000);
    disk.at(100) = ntfsBoot(4096);
    disk.at(2053) = ntfsBoot(4096);
    disk.at(20000) = ntfsBoot(4096);
    disk.at(40000) = ntfsBoot(4096);
    Scan s = scan(disk, {.start = 2048, .end = 19000});
    ASSERT_FALSE(disk.reads.empty());
    EXPECT_EQ(disk.reads.front().offset, 1048576);
    // Chunks start at 2048, 6150 (after the skip), ... 18438: the last one starting before
    // the end is examined whole, and 20000 lies in it.
    EXPECT_EQ(found(s), (Rows{"0|NTFS|2   MB|2053", "1|NTFS|2   MB|20000"}));
    uint64_t lastByte = 0;
    for (auto r : disk.reads) lastByte = std::max<uint64_t>(lastByte, r.offset + r.count);
    EXPECT_LT(lastByte, 40000u * 512);  // nothing read far beyond the end
}

TEST(Scan, HfsPlusHeaderAtSectorTenStartsAtEight) {
    SparseDisk disk(10000);
    disk.at(10) = hfsHeader(512, 4096);
    disk.at(1) = hfsHeader(512, 4096);  // would start before the disk: neither listed nor skipped
    EXPECT_EQ(found(scan(disk)), (Rows{"0|HFS+|2  MB|8"}));
}

TEST(Scan, StopKeepsWhatWasFound) {
    SparseDisk disk(100000);
    disk.at(100) = ntfsBoot(4096);
    disk.at(50000) = ntfsBoot(4096);
    WorkControl control;
    struct StopOnFind : RecordingFeedback {
        WorkControl* control;
        void status(const std::string& t) override {
            RecordingFeedback::status(t);
            if (t == "found NTFS 1...") control->requestStop();
        }
    } feedback;
    feedback.control = &control;
    Scan s = scan(disk, {.control = &control, .feedback = &feedback});
    EXPECT_EQ(s.result, 1);
    EXPECT_EQ(found(s), (Rows{"0|NTFS|2   MB|100"}));
    EXPECT_EQ(feedback.statuses.back(), "Scanned Partitions");
    EXPECT_EQ(feedback.positions.size(), 1u);
}

TEST(Scan, EmptyAreaReadsNothing) {
    SparseDisk disk(10000);
    disk.at(100) = ntfsBoot(4096);
    Scan s = scan(disk, {.totalSectors = 0});
    EXPECT_TRUE(s.volumes.empty());
    EXPECT_TRUE(disk.reads.empty());
    SparseDisk past(10000);
    EXPECT_TRUE(scan(past, {.start = 20000}).volumes.empty());
    EXPECT_TRUE(past.reads.empty());
}

TEST(Scan, TheLastPartialChunkIsScanned) {
    SparseDisk disk(5000);  // not a whole number of MiB
    disk.at(4999) = ntfsBoot(4096);  // a backup boot sector in the last sector
    Scan s = scan(disk);
    EXPECT_EQ(found(s), (Rows{"0|NTFS|2   MB|4999"}));
    EXPECT_EQ(disk.outsideReads, 0);
    EXPECT_EQ(s.feedback.positions.back(), 1000);
}

TEST(Scan, AbsurdSizesEndTheScanInsteadOfWrapping) {
    SparseDisk disk(10000);
    disk.at(100) = ntfsBoot(~0ull);
    disk.at(200) = ntfsBoot(4096);
    Scan s = scan(disk);
    EXPECT_EQ(s.volumes.size(), 1u);
    EXPECT_EQ(s.feedback.positions.back(), 1000);
    EXPECT_EQ(s.volumes.size(), 1u);
    // Without the skip the scan goes on past it.
    SparseDisk again(10000);
    again.at(100) = ntfsBoot(~0ull);
    again.at(200) = ntfsBoot(4096);
    EXPECT_EQ(scan(again, {.skip = false}).volumes.size(), 2u);
}

TEST(Scan, AFailedReadEndsTheScanButNotTheReadAhead) {
    SparseDisk disk(40000);
    disk.at(3000) = ntfsBoot(2048);
    disk.at(9000) = ntfsBoot(2048);
    disk.at(30000) = ntfsBoot(2048);
    disk.badSectors = {20000};  // inside the read-ahead of the first request
    Scan s = scan(disk, {.skip = false});
    EXPECT_EQ(found(s), (Rows{"0|NTFS|1   MB|3000", "1|NTFS|1   MB|9000"}));
    EXPECT_EQ(s.result, 1);
}

TEST(Scan, RandomBytesAndOrdinaryFilesHoldNoVolumes) {
    // 24 MiB of random bytes.
    std::vector<unsigned char> bytes(24u << 20);
    std::mt19937_64 random(12345);
    for (size_t i = 0; i < bytes.size(); i += 8) {
        uint64_t v = random();
        std::memcpy(&bytes[i], &v, 8);
    }
    struct Bytes : SparseDisk {
        explicit Bytes(std::vector<unsigned char> b) : SparseDisk(b.size() / 512), content(std::move(b)) {}
        bool seek(int64_t offset, int32_t) override { pos = offset; return offset >= 0; }
        bool read(void* buffer, uint32_t count) override {
            if (pos + count > content.size()) return false;
            std::memcpy(buffer, content.data() + pos, count);
            pos += count;
            return true;
        }
        std::vector<unsigned char> content;
        uint64_t pos = 0;
    };
    Bytes noise(bytes);
    Scan s = scan(noise, {.skip = false});
    EXPECT_TRUE(s.volumes.empty());
    EXPECT_EQ(s.feedback.positions.back(), 1000);

    // Program files and libraries, one after another, sector aligned as a file system keeps them.
    std::vector<unsigned char> files;
    for (const char* path : {"/proc/self/exe", "/usr/lib/x86_64-linux-gnu/libc.so.6",
                             "/usr/lib/x86_64-linux-gnu/libstdc++.so.6", "/usr/bin/cmake", "/bin/bash"}) {
        std::ifstream in(path, std::ios::binary);
        std::vector<unsigned char> content((std::istreambuf_iterator<char>(in)), {});
        content.resize((content.size() + 511) / 512 * 512);
        files.insert(files.end(), content.begin(), content.end());
    }
    ASSERT_GT(files.size(), 1u << 20);
    Bytes ordinary(files);
    EXPECT_EQ(found(scan(ordinary, {.skip = false})), Rows{});
}
