#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "disk/FileReadSeekRaid.h"
#include "disk/FileReadSeekVHD.h"
#include "disk/RecoveryContext.h"
#include "disk/support/Members.h"
#include "disk/support/TempDir.h"
#include "disk/support/VhdBuilder.h"

using namespace quenlow;
using disk::FileReadSeekVHD;

namespace {

std::vector<unsigned char> randomImage(size_t bytes, uint32_t seed) {
    std::vector<unsigned char> image(bytes);
    std::mt19937 rng(seed);
    for (auto& b : image) b = static_cast<unsigned char>(rng());
    return image;
}

// Reads `sectors` sectors at `sector` and compares them with the image.
void expectSectors(FileReadSeekVHD& vhd, const std::vector<unsigned char>& image, int64_t sector, uint32_t sectors) {
    std::vector<unsigned char> buf(sectors * 512, 0x5A);
    ASSERT_TRUE(vhd.seek(sector * 512, 0));
    ASSERT_TRUE(vhd.read(buf.data(), sectors * 512)) << "sector " << sector;
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), image.begin() + sector * 512)) << "sector " << sector;
}

}  // namespace

TEST(Vhd, DynamicDiskAcrossBlocksAndUnallocatedBlocks) {
    test::TempDir dir;
    auto image = randomImage(3 * 2 * 1024 * 1024, 7);
    std::fill(image.begin() + 2 * 1024 * 1024, image.begin() + 4 * 1024 * 1024, 0);  // block 1 left out
    test::VhdLayout layout;
    layout.shuffle = true;
    auto path = dir.write("disk.VHD", test::buildDynamicVhd(image, layout));
    disk::RecoveryContext ctx;
    FileReadSeekVHD vhd(&ctx);
    ASSERT_TRUE(vhd.open(path)) << vhd.lastError();
    EXPECT_FALSE(vhd.isFixed());
    EXPECT_EQ(vhd.blockTableCount, 3u);
    EXPECT_EQ(vhd.blockTable[1], 0xFFFFFFFFu);
    EXPECT_EQ(ctx.totalSectors, 3u * 4096);
    expectSectors(vhd, image, 4095, 2);        // last of block 0, first of block 1 (unallocated)
    EXPECT_EQ(vhd.blockAllocated, 0);
    expectSectors(vhd, image, 8190, 4);        // unallocated into allocated
    expectSectors(vhd, image, 0, 3 * 4096);    // everything in one read
    EXPECT_EQ(vhd.position, 3 * 4096 * 512);

    std::vector<unsigned char> run(5000 * 512);
    EXPECT_EQ(vhd.readRun(4000 * 512, run.data(), 5000), 5000u);
    EXPECT_TRUE(std::equal(run.begin(), run.end(), image.begin() + 4000 * 512));
    EXPECT_EQ(vhd.readRun(12000 * 512, run.data(), 1000), 288u);  // the table ends at 12288

    // Past the table: the seek fails, and so does a read that runs into it.
    std::vector<unsigned char> buf(1024, 0x11);
    EXPECT_FALSE(vhd.seek(3 * 4096 * 512, 0));
    EXPECT_FALSE(vhd.read(buf.data(), 512));
    ASSERT_TRUE(vhd.seek((3 * 4096 - 1) * 512, 0));
    EXPECT_FALSE(vhd.read(buf.data(), 1024));
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 512, image.end() - 512));
    EXPECT_EQ(buf[512], 0x11);
    ASSERT_TRUE(vhd.seek((3 * 4096 - 1) * 512, 0));
    EXPECT_TRUE(vhd.read(buf.data(), 512));  // the last sector itself reads fine

    // A remainder below a sector is read where the file stands, without advancing.
    ASSERT_TRUE(vhd.seek(10 * 512, 0));
    EXPECT_TRUE(vhd.read(buf.data(), 512 + 100));
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 612, image.begin() + 10 * 512));
    EXPECT_EQ(vhd.position, 11 * 512);
}

TEST(Vhd, BlockSizeAndTableOffsetComeFromTheHeader) {
    test::TempDir dir;
    auto image = randomImage(40 * 4096 + 1024, 9);
    test::VhdLayout layout;
    layout.blockBytes = 4096;
    layout.tableOffset = 8192;
    layout.shuffle = true;
    auto path = dir.write("small.vhd", test::buildDynamicVhd(image, layout));
    FileReadSeekVHD vhd;
    ASSERT_TRUE(vhd.open(path)) << vhd.lastError();
    EXPECT_EQ(vhd.blockSectors(), 8u);
    image.resize(41 * 4096, 0);
    expectSectors(vhd, image, 0, 41 * 8);
    expectSectors(vhd, image, 7, 2);
    std::mt19937 rng(3);
    for (int i = 0; i < 200; ++i) {
        int64_t s = std::uniform_int_distribution<int64_t>(0, 41 * 8 - 1)(rng);
        uint32_t n = std::uniform_int_distribution<uint32_t>(1, static_cast<uint32_t>(41 * 8 - s))(rng);
        expectSectors(vhd, image, s, n);
    }
}

TEST(Vhd, FixedDiskAndDamagedFooterCopy) {
    test::TempDir dir;
    auto image = randomImage(300 * 512, 11);
    FileReadSeekVHD fixed;
    ASSERT_TRUE(fixed.open(dir.write("fixed.vhd", test::buildFixedVhd(image)))) << fixed.lastError();
    EXPECT_TRUE(fixed.isFixed());
    EXPECT_EQ(fixed.sizeBytes(), 300 * 512);
    expectSectors(fixed, image, 0, 300);
    std::vector<unsigned char> buf(512);
    EXPECT_FALSE(fixed.seek(300 * 512, 0));  // the footer is not a sector of the disk

    auto bytes = test::buildDynamicVhd(randomImage(2 * 1024 * 1024, 13));
    bytes[0] = 'X';  // damaged cookie of the copy at the start
    FileReadSeekVHD fallback;
    EXPECT_TRUE(fallback.open(dir.write("copy.vhd", bytes))) << fallback.lastError();
    bytes[0] = 'c';
    bytes[50] ^= 0x40;  // the copy's size field changed: its checksum no longer holds
    FileReadSeekVHD checksum;
    ASSERT_TRUE(checksum.open(dir.write("sum.vhd", bytes))) << checksum.lastError();
    EXPECT_EQ(checksum.sizeBytes(), 2 * 1024 * 1024);
}

TEST(Vhd, NamesDoNotMatterAndNonVhdOrUnreadableFilesAreRefused) {
    test::TempDir dir;
    auto vhd = test::buildDynamicVhd(randomImage(1024 * 1024, 1));
    test::RecordingFeedback feedback;
    disk::RecoveryContext ctx;
    ctx.feedback = &feedback;
    EXPECT_TRUE(FileReadSeekVHD(&ctx).open(dir.write("a.vhd", vhd)));
    EXPECT_TRUE(FileReadSeekVHD(&ctx).open(dir.write("d.img", vhd)));
    EXPECT_TRUE(feedback.messages.empty());
    auto raw = dir.write("raw.vhd", randomImage(1024 * 1024, 2));
    EXPECT_FALSE(FileReadSeekVHD(&ctx).open(raw));
    EXPECT_FALSE(FileReadSeekVHD(&ctx).open((dir.path() / "none.vhd").string()));
    EXPECT_EQ(feedback.messages, (std::vector<std::string>{"not a vhd file", "invalid handle ..."}));

    disk::FileReadSeekRaid raid(&ctx);
    raid.memberNames = {dir.write("e.vhd", vhd), raw};
    raid.level = 0;
    raid.vhdMembers = 1;
    EXPECT_FALSE(raid.open());
    EXPECT_NE(raid.lastError().find("raw.vhd"), std::string::npos);
}

TEST(Vhd, DamagedStructuresAreRefusedOrFailToRead) {
    test::TempDir dir;
    auto image = randomImage(4 * 1024 * 1024, 5);
    auto good = test::buildDynamicVhd(image);
    auto refuses = [&](const std::string& name, const std::vector<unsigned char>& bytes, const std::string& why) {
        FileReadSeekVHD vhd;
        EXPECT_FALSE(vhd.open(dir.write(name, bytes))) << name;
        EXPECT_NE(vhd.lastError().find(why), std::string::npos) << name << ": " << vhd.lastError();
        unsigned char buf[512];
        EXPECT_FALSE(vhd.seek(0, 0));
        EXPECT_FALSE(vhd.read(buf, 512));
    };
    refuses("tiny.vhd", std::vector<unsigned char>(100, 0), "too small");
    refuses("zeros.vhd", std::vector<unsigned char>(8192, 0), "conectix");

    auto truncated = good;
    truncated.resize(1536 + 4);  // two entries announced, one present
    auto footer = test::vhdFooter(3, image.size(), 512);
    std::copy(footer.begin(), footer.end(), truncated.begin());
    refuses("table.vhd", truncated, "runs past the end");

    auto noHeader = good;
    std::fill(noHeader.begin() + 512, noHeader.begin() + 1536, 0);
    refuses("header.vhd", noHeader, "cxsparse");

    auto blockSize = good;
    test::putBe32(blockSize.data() + 512 + 32, 1000);
    refuses("block.vhd", blockSize, "block size 1000");

    test::VhdLayout diff;
    diff.diskType = 4;
    refuses("diff.vhd", test::buildDynamicVhd(image, diff), "differencing");

    // Table entries that point past the end of the file open, and their sectors fail to read.
    auto lying = good;
    test::putBe32(lying.data() + 1536 + 4, 0x00FFFFF0u);
    FileReadSeekVHD vhd;
    ASSERT_TRUE(vhd.open(dir.write("lying.vhd", lying)));
    expectSectors(vhd, image, 4000, 96);
    std::vector<unsigned char> buf(1024, 0x77);
    ASSERT_TRUE(vhd.seek(4095 * 512, 0));
    EXPECT_FALSE(vhd.read(buf.data(), 1024));
    EXPECT_EQ(buf[512], 0x77);
    EXPECT_EQ(vhd.readRun(4095 * 512, buf.data(), 2), 1u);

    // A lying current size bigger than the table is cut to the table.
    test::VhdLayout big;
    big.currentSize = uint64_t{1} << 40;
    FileReadSeekVHD large;
    ASSERT_TRUE(large.open(dir.write("big.vhd", test::buildDynamicVhd(image, big))));
    EXPECT_EQ(large.sizeBytes(), static_cast<int64_t>(image.size()));

    // No table at all: opens, every seek fails.
    test::VhdLayout none;
    none.maxTableEntries = 0;
    FileReadSeekVHD empty;
    ASSERT_TRUE(empty.open(dir.write("empty.vhd", test::buildDynamicVhd(image, none))));
    EXPECT_FALSE(empty.seek(0, 0));
    EXPECT_FALSE(empty.seek(512, 0));
}

TEST(Vhd, RaidOfVhdMembersWithAMissingOne) {
    test::TempDir dir;
    auto m0 = test::taggedMember(0, 8192);
    auto m2 = test::taggedMember(2, 8192);
    std::fill(m2.begin() + 4096 * 512, m2.end(), 0);  // second block unallocated
    disk::RecoveryContext ctx;
    disk::FileReadSeekRaid raid(&ctx);
    raid.memberNames = {dir.write("a.vhd", test::buildDynamicVhd(m0)), "MISSING DISK",
                        dir.write("c.vhd", test::buildDynamicVhd(m2))};
    raid.level = 5;
    raid.parityLayout = 1;
    raid.stripeSectors = 128;
    raid.vhdMembers = 1;
    ASSERT_TRUE(raid.open()) << raid.lastError();
    EXPECT_EQ(ctx.totalSectors, 2u * 8192);
    // Layout 1 row 0: P D0 D1: unit 0 is on the missing member 1.
    std::vector<unsigned char> buf(128 * 512);
    ASSERT_TRUE(raid.read(buf.data(), static_cast<uint32_t>(buf.size())));
    for (size_t i = 0; i < buf.size(); ++i) ASSERT_EQ(buf[i], m0[i] ^ m2[i]) << i;
    // Unit 65 (row 32, on the missing member) lies in the second blocks, where member 2 reads
    // as zeros.
    ASSERT_TRUE(raid.seek(int64_t{65} * 128 * 512, 0));
    ASSERT_TRUE(raid.read(buf.data(), 512));
    for (size_t i = 0; i < 512; ++i) ASSERT_EQ(buf[i], m0[4096 * 512 + i]) << i;
}
