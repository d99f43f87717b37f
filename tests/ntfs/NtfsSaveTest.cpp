#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>

#include "filesystems/MemoryTree.h"
#include "filesystems/ntfs/ntfs.h"
#include "ntfs/support/Lznt1Compressor.h"
#include "ntfs/support/NtfsImage.h"
#include "support/MemoryDisk.h"
#include "support/ParserHarness.h"
#include "support/RecordingFeedback.h"

using namespace quenlow;
using namespace quenlow::test;
using fs::ntfs;
namespace stdfs = std::filesystem;

namespace {


std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

std::vector<uint8_t> readFile(const stdfs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class NtfsSave : public ::testing::Test {
protected:
    void SetUp() override {
        dir = stdfs::temp_directory_path() /
              ("quenlow-ntfs-save-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        stdfs::remove_all(dir);
        stdfs::create_directories(dir);
    }
    void TearDown() override { stdfs::remove_all(dir); }

    void parse(const NtfsImage& img) {
        disk = std::make_unique<MemoryDisk>(img.bytes);
        volume.volumeSizeText = "1   MB";
        parser = std::make_unique<ntfs>(setupOn(*disk, volume, tree));
        parseIn(*parser, log);
        log.messages.clear();
    }
    std::vector<uint8_t> save(int64_t record, const std::string& as = "out.bin") {
        std::string error;
        EXPECT_TRUE(saveEntryTo(*parser, ntfs::refOf(record), dir / as, error, log)) << error;
        return readFile(dir / as);
    }

    stdfs::path dir;
    std::unique_ptr<MemoryDisk> disk;
    fs::MemoryTree tree;
    volumes::VolumeRecord volume;
    RecordingFeedback log;
    std::unique_ptr<ntfs> parser;
};

// 2020-01-02 03:04:05.5 UTC as a file time.
constexpr uint64_t kModified = (1577934245ULL + 11644473600ULL) * 10000000ULL + 5000000ULL;
constexpr uint64_t kAccessed = (1600000000ULL + 11644473600ULL) * 10000000ULL;

}  // namespace

TEST_F(NtfsSave, ResidentDataIsWrittenExactlyWithItsTimes) {
    NtfsImage img;
    std::vector<uint8_t> data = pattern(100, 1);
    img.setRecord(20, RecordBuilder().standardInfo(kModified, kModified, kAccessed).fileName(5, u"small").residentData(data));
    parse(img);
    EXPECT_EQ(parser->sizeText(ntfs::refOf(20)), "100 Bytes");
    EXPECT_EQ(parser->dataSize(ntfs::refOf(20)), 100);
    std::string error;
    ASSERT_TRUE(saveEntryTo(*parser, ntfs::refOf(20), dir / "out.bin", error, log)) << error;
    struct stat st {};
    ASSERT_EQ(::stat((dir / "out.bin").c_str(), &st), 0);
    EXPECT_EQ(readFile(dir / "out.bin"), data);
    EXPECT_EQ(st.st_mtim.tv_sec, 1577934245);
    EXPECT_EQ(st.st_mtim.tv_nsec, 500000000);
    EXPECT_EQ(st.st_atim.tv_sec, 1600000000);
}

TEST_F(NtfsSave, NonResidentDataIsCutAtTheDataSize) {
    NtfsImage img;
    uint64_t at = img.firstFreeCluster();
    std::vector<uint8_t> data = pattern(8192, 2);
    img.writeCluster(at, data);
    img.setRecord(20, RecordBuilder().standardInfo(kModified, kModified, kAccessed).fileName(5, u"f")
                          .nonResidentData({{static_cast<int64_t>(at), 2}}, 0, 1, 5000));
    parse(img);
    EXPECT_EQ(parser->sizeText(ntfs::refOf(20)), "4.88 KB");
    EXPECT_EQ(save(20), std::vector<uint8_t>(data.begin(), data.begin() + 5000));
}

TEST_F(NtfsSave, SparseRunsBecomeZerosOfFullLength) {
    NtfsImage img;
    uint64_t at = img.firstFreeCluster();
    std::vector<uint8_t> a = pattern(4096, 3), b = pattern(4096, 4);
    img.writeCluster(at, a);
    img.writeCluster(at + 1, b);
    img.setRecord(20, RecordBuilder().fileName(5, u"sparse")
                          .nonResidentData({{static_cast<int64_t>(at), 1}, {-1, 3}, {static_cast<int64_t>(at + 1), 1}},
                                           0, 4, 5 * 4096 - 10, 0x8000));
    parse(img);
    std::vector<uint8_t> expect = a;
    expect.resize(4 * 4096, 0);
    expect.insert(expect.end(), b.begin(), b.end() - 10);
    EXPECT_EQ(save(20), expect);
}

TEST_F(NtfsSave, CompressedUnitsStoredSparseAndPartlySparse) {
    // Units of 16 clusters of 512 bytes (8 KiB): unit 0 compressed, unit 1 fully sparse,
    // unit 2 stored whole, unit 3 compressed and cut by the data size.
    NtfsImage img(512, 32, 2048, 16);
    uint64_t free = img.firstFreeCluster();
    std::vector<uint8_t> u0(8192), u2 = pattern(8192, 5), u3(8192);
    for (size_t i = 0; i < u0.size(); ++i) u0[i] = static_cast<uint8_t>("compress me "[i % 12]);
    for (size_t i = 0; i < u3.size(); ++i) u3[i] = static_cast<uint8_t>(i / 100);
    std::vector<uint8_t> c0 = lznt1Compress(u0), c3 = lznt1Compress(u3);
    uint64_t n0 = (c0.size() + 511) / 512, n3 = (c3.size() + 511) / 512;
    ASSERT_LT(n0, 16u);
    ASSERT_LT(n3, 16u);
    c0.resize(n0 * 512, 0);
    c3.resize(n3 * 512, 0);
    img.writeCluster(free, c0);
    img.writeCluster(free + 100, u2);
    img.writeCluster(free + 200, c3);
    int64_t dataSize = 3 * 8192 + 3000;
    img.setRecord(20, RecordBuilder().fileName(5, u"packed")
                          .nonResidentData({{static_cast<int64_t>(free), n0}, {-1, 16 - n0}, {-1, 16},
                                            {static_cast<int64_t>(free + 100), 16},
                                            {static_cast<int64_t>(free + 200), n3}, {-1, 16 - n3}},
                                           0, 63, dataSize, 0x0001, 4));
    parse(img);
    std::vector<uint8_t> expect = u0;
    expect.resize(2 * 8192, 0);
    expect.insert(expect.end(), u2.begin(), u2.end());
    expect.insert(expect.end(), u3.begin(), u3.begin() + 3000);
    EXPECT_EQ(save(20), expect);
    EXPECT_EQ(parser->dataSize(ntfs::refOf(20)), dataSize);
}

TEST_F(NtfsSave, EncryptedDataIsCopiedAsStored) {
    NtfsImage img;
    uint64_t at = img.firstFreeCluster();
    std::vector<uint8_t> stored = pattern(4096, 6);
    img.writeCluster(at, stored);
    img.setRecord(20, RecordBuilder().fileName(5, u"secret").nonResidentData({{static_cast<int64_t>(at), 1}}, 0, 0, 4096, 0x4000));
    parse(img);
    EXPECT_EQ(save(20), stored);
}

TEST_F(NtfsSave, DataInExtensionRecordsFollowsTheAttributeList) {
    NtfsImage img;
    uint64_t at = img.firstFreeCluster();
    std::vector<uint8_t> data = pattern(6 * 4096, 7);
    for (int c = 0; c < 6; ++c)
        img.writeCluster(at + 10 * c, std::vector<uint8_t>(data.begin() + c * 4096, data.begin() + (c + 1) * 4096));
    int64_t size = 6 * 4096 - 123;
    // Base record 20 keeps VCNs 0-1, extension 21 holds 2-3, extension 22 holds 4-5; the list
    // also names a record outside the table.
    img.setRecord(20, RecordBuilder()
                          .standardInfo(kModified, kModified, kAccessed)
                          .attributeList({{0x30, 20, 0}, {0x80, 20, 0}, {0x80, 21, 2}, {0x80, 9999, 3}, {0x80, 22, 4}})
                          .fileName(5, u"fragmented")
                          .nonResidentData({{static_cast<int64_t>(at), 1}, {static_cast<int64_t>(at + 10), 1}}, 0, 1, size));
    img.setRecord(21, RecordBuilder().nonResidentData({{static_cast<int64_t>(at + 20), 1}, {static_cast<int64_t>(at + 30), 1}}, 2, 3, 0));
    img.setRecord(22, RecordBuilder().nonResidentData({{static_cast<int64_t>(at + 40), 1}, {static_cast<int64_t>(at + 50), 1}}, 4, 5, 0));
    parse(img);
    EXPECT_EQ(parser->dataSize(ntfs::refOf(20)), size);
    std::vector<uint8_t> got = save(20);
    EXPECT_EQ(got, std::vector<uint8_t>(data.begin(), data.begin() + size));
}

TEST_F(NtfsSave, FolderGivesItsMessageAndNothingIsEverOverwritten) {
    NtfsImage img;
    img.setRecord(20, RecordBuilder(3).folderName(5, u"docs"));
    img.setRecord(21, RecordBuilder().fileName(20, u"a").residentData({1, 2, 3}));
    parse(img);
    std::string error;
    EXPECT_TRUE(saveEntryTo(*parser, ntfs::refOf(20), dir / "docs", error, log));
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0], "This is  docs directory .Please specify file names ");
    EXPECT_EQ(stdfs::file_size(dir / "docs"), 0u);
    // An existing file, or a link to elsewhere, is never written through.
    std::ofstream(dir / "taken") << "keep";
    EXPECT_FALSE(saveEntryTo(*parser, ntfs::refOf(21), dir / "taken", error, log));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readFile(dir / "taken"), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    stdfs::create_symlink(dir / "target", dir / "link");
    EXPECT_FALSE(saveEntryTo(*parser, ntfs::refOf(21), dir / "link", error, log));
    EXPECT_FALSE(stdfs::exists(dir / "target"));
}

TEST_F(NtfsSave, InvalidRecordsAndNamelessEntries) {
    NtfsImage img;
    img.setRecord(20, RecordBuilder().fileName(5, u"x").residentData({1}));
    parse(img);
    std::string error;
    EXPECT_FALSE(saveEntryTo(*parser, ntfs::refOf(25), dir / "nameless", error, log));  // empty slot
    EXPECT_FALSE(stdfs::exists(dir / "nameless"));
    // The slot is overwritten after the parse: its signature no longer reads "FILE".
    std::memset(disk->data.data() + img.recordPosition(20), 0, 4);
    EXPECT_FALSE(saveEntryTo(*parser, ntfs::refOf(20), dir / "x", error, log));
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0], "not a valid entry...");
}

TEST_F(NtfsSave, BadClusIsMarkedForSkipping) {
    NtfsImage img;
    img.setRecord(8, RecordBuilder().fileName(5, u"$BadClus"));
    parse(img);
    EXPECT_TRUE(parser->skipWhenSaving(ntfs::refOf(8)));
    EXPECT_FALSE(parser->skipWhenSaving(ntfs::refOf(5)));
}

TEST_F(NtfsSave, LyingRunsAndSizesStayBounded) {
    NtfsImage img;
    // A run far beyond the volume and a huge data size; a negative cluster.
    img.setRecord(20, RecordBuilder().fileName(5, u"far").nonResidentData({{1LL << 40, 3}}, 0, 2, 3 * 4096));
    img.setRecord(21, RecordBuilder().fileName(5, u"neg").nonResidentData({{-5, 8}}, 0, 7, 8 * 4096));
    img.setRecord(22, RecordBuilder().fileName(5, u"huge").nonResidentData({{-1, 1ULL << 40}}, 0, (1LL << 40) - 1,
                                                                            1LL << 50, 0x0001, 4));
    parse(img);
    EXPECT_EQ(save(20, "far"), std::vector<uint8_t>(3 * 4096, 0));
    EXPECT_EQ(save(21, "neg").size(), 3u * 4096);  // clusters -5..-1 cannot be sought
}
