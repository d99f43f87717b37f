#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "disk/FileReadSeekRaid.h"
#include "disk/RecoveryContext.h"
#include "disk/support/Members.h"
#include "disk/support/TempDir.h"
#include "disk/support/VhdBuilder.h"

using namespace quenlow;
using disk::FileReadSeekRaid;

namespace {

std::unique_ptr<FileReadSeekRaid> makeRaid(disk::RecoveryContext* ctx, std::vector<std::string> names, int level,
                                           int layout = 1, int64_t stripe = 128,
                                           std::vector<int64_t> offsets = {}) {
    auto raid = std::make_unique<FileReadSeekRaid>(ctx);
    raid->memberNames = std::move(names);
    raid->level = level;
    raid->parityLayout = layout;
    raid->stripeSectors = stripe;
    raid->partitionOffsets = std::move(offsets);
    return raid;
}

std::unique_ptr<FileReadSeekRaid> geometry(int n, int level, int layout, int64_t stripe) {
    auto raid = std::make_unique<FileReadSeekRaid>();
    raid->memberCount = n;
    raid->level = level;
    raid->parityLayout = layout;
    raid->stripeSectors = stripe;
    return raid;
}

test::Tag readTag(FileReadSeekRaid& raid, int64_t sector) {
    unsigned char buf[512] = {};
    EXPECT_TRUE(raid.seek(sector * 512, 0));
    EXPECT_TRUE(raid.read(buf, 512));
    return test::tagOf(buf);
}

}  // namespace

TEST(RaidMapping, WorkedExamplesOfThreeMembers) {
    auto r0 = geometry(3, 0, 1, 128);
    EXPECT_EQ(r0->map(1000).member, 1);
    EXPECT_EQ(r0->map(1000).memberSector, 360);
    struct Case { int layout; int64_t sector; int data; int parity; int64_t memberSector; };
    const Case cases[] = {
        {1, 1000, 2, 0, 488}, {2, 1000, 1, 2, 488}, {3, 1000, 1, 2, 488},
        {1, 700, 1, 2, 316},  {2, 700, 2, 0, 316},  {3, 700, 2, 0, 316},
    };
    for (const auto& c : cases) {
        auto loc = geometry(3, 5, c.layout, 128)->map(c.sector);
        EXPECT_EQ(loc.member, c.data) << "layout " << c.layout << " sector " << c.sector;
        EXPECT_EQ(loc.parityMember, c.parity) << "layout " << c.layout << " sector " << c.sector;
        EXPECT_EQ(loc.memberSector, c.memberSector);
    }
}

TEST(RaidMapping, RowsOfFourMembers) {
    // Data unit number on each member, -1 for parity, rows 0-3.
    const int rows[3][4][4] = {
        {{-1, 0, 1, 2}, {3, -1, 4, 5}, {6, 7, -1, 8}, {9, 10, 11, -1}},
        {{0, 1, 2, -1}, {3, 4, -1, 5}, {6, -1, 7, 8}, {-1, 9, 10, 11}},
        {{0, 1, 2, -1}, {4, 5, -1, 3}, {8, -1, 6, 7}, {-1, 9, 10, 11}},
    };
    for (int layout = 1; layout <= 3; ++layout) {
        auto raid = geometry(4, 5, layout, 16);
        for (int row = 0; row < 4; ++row)
            for (int m = 0; m < 4; ++m) {
                int unit = rows[layout - 1][row][m];
                if (unit < 0) {
                    EXPECT_EQ(raid->map(row * 3 * 16).parityMember, m) << "layout " << layout << " row " << row;
                    continue;
                }
                auto loc = raid->map(unit * 16 + 5);
                EXPECT_EQ(loc.member, m) << "layout " << layout << " unit " << unit;
                EXPECT_EQ(loc.memberSector, row * 16 + 5);
            }
    }
}

TEST(RaidRead, TwoMemberRaid0ReadsUnitsInTurnWithOffsets) {
    test::TempDir dir;
    auto a = dir.write("a.img", test::taggedMember(0, 2048 + 600));
    auto b = dir.write("b.img", test::taggedMember(1, 600));
    disk::RecoveryContext ctx;
    auto raid = makeRaid(&ctx, {a, b}, 0, 1, 128, {2048, 0});
    ASSERT_TRUE(raid->open()) << raid->lastError();
    // Each member holds 600 data sectors: 4 whole units each.
    EXPECT_EQ(raid->totalSectors(), 2u * 512);
    EXPECT_EQ(ctx.totalSectors, 2u * 512);
    EXPECT_EQ(readTag(*raid, 0).sector, 2048);
    EXPECT_EQ(readTag(*raid, 127).sector, 2048 + 127);
    EXPECT_EQ(readTag(*raid, 128).member, 1);
    EXPECT_EQ(readTag(*raid, 255).sector, 127);
    EXPECT_EQ(readTag(*raid, 256).sector, 2048 + 128);

    // 64 KiB from sector 100: 28 sectors of member 0, then 100 of member 1.
    std::vector<unsigned char> buf(65536);
    ASSERT_TRUE(raid->seek(100 * 512, 0));
    ASSERT_TRUE(raid->read(buf.data(), 65536));
    for (int i = 0; i < 128; ++i) {
        auto t = test::tagOf(buf.data() + i * 512);
        EXPECT_EQ(t.member, i < 28 ? 0 : 1);
        EXPECT_EQ(t.sector, i < 28 ? 2048 + 100 + i : i - 28);
    }
    EXPECT_EQ(raid->position, (100 + 128) * 512);

    // baseOffset makes a volume the origin.
    raid->baseOffset = 256 * 512;
    EXPECT_EQ(readTag(*raid, 0).sector, 2048 + 128);
}

TEST(RaidRead, MissingMemberIsRebuiltByXor) {
    test::TempDir dir;
    auto m0 = test::taggedMember(0, 256);
    auto m2 = test::taggedMember(2, 256);
    auto a = dir.write("a.img", m0);
    auto c = dir.write("c.img", m2);
    disk::RecoveryContext ctx;
    auto raid = makeRaid(&ctx, {a, "Missing Disk", c}, 5, 3, 16);
    ASSERT_TRUE(raid->open()) << raid->lastError();
    EXPECT_TRUE(raid->members[1]->isMissing());
    EXPECT_EQ(raid->members[1]->handle, disk::kMissingHandle);
    EXPECT_EQ(raid->totalSectors(), 2u * 256);

    // Layout 3 row 0: D0 D1 P, so unit 1 (sectors 16-31) lies on the missing member.
    std::vector<unsigned char> buf(48 * 512);
    ASSERT_TRUE(raid->seek(16 * 512, 0));
    ASSERT_TRUE(raid->read(buf.data(), static_cast<uint32_t>(buf.size())));
    for (int i = 0; i < 16; ++i)
        for (int b = 0; b < 512; ++b)
            ASSERT_EQ(buf[i * 512 + b], m0[i * 512 + b] ^ m2[i * 512 + b]) << "sector " << i;
    // Then row 1 (parity on member 1): D3 on member 2, D2 on member 0... unit 2 is on member 2.
    auto loc = raid->map(32);
    auto t = test::tagOf(buf.data() + 16 * 512);
    EXPECT_EQ(t.member, loc.member);
    EXPECT_EQ(t.sector, loc.memberSector);
}

TEST(RaidRead, CountsBelowASectorAndAllMembersMissing) {
    test::TempDir dir;
    auto a = dir.write("a.img", test::taggedMember(0, 64));
    auto b = dir.write("b.img", test::taggedMember(1, 64));
    auto raid = makeRaid(nullptr, {a, b}, 0, 1, 8);
    ASSERT_TRUE(raid->open());
    std::vector<unsigned char> buf(1024, 0xAB);
    EXPECT_FALSE(raid->read(buf.data(), 511));
    EXPECT_EQ(buf[0], 0xAB);
    EXPECT_EQ(raid->position, 0);
    EXPECT_TRUE(raid->read(buf.data(), 1023));
    EXPECT_EQ(test::tagOf(buf.data()).sector, 0);
    EXPECT_EQ(buf[512], 0xAB);
    EXPECT_EQ(raid->position, 512);

    auto gone = makeRaid(nullptr, {"MISSING DISK", "missing disk", "MISSING disk"}, 5, 1, 8);
    EXPECT_FALSE(gone->open());  // nothing to read
    EXPECT_EQ(gone->refusal(), FileReadSeekRaid::Refusal::Parameters);
    EXPECT_FALSE(gone->read(buf.data(), 1024));
}

TEST(RaidRead, ReadPastAMemberEndFailsAsZerosAndGoesOn) {
    test::TempDir dir;
    auto a = dir.write("a.img", test::taggedMember(0, 16));
    auto b = dir.write("b.img", test::taggedMember(1, 12));
    auto raid = makeRaid(nullptr, {a, b}, 0, 1, 8);
    ASSERT_TRUE(raid->open());
    EXPECT_EQ(raid->totalSectors(), 32u);  // 16 sectors of each member, as the larger one holds
    EXPECT_NE(raid->warnings().at(0).find("is short: it holds 12 of the 16"), std::string::npos);
    std::vector<unsigned char> buf(8 * 512, 0xCD);
    // Sectors 24-31 are member 1 sectors 8-15, of which 12-15 do not exist (RAID-0: no rebuild).
    EXPECT_FALSE(raid->seek(28 * 512, 0));
    ASSERT_TRUE(raid->seek(24 * 512, 0));
    EXPECT_FALSE(raid->read(buf.data(), 8 * 512));
    EXPECT_EQ(test::tagOf(buf.data() + 3 * 512).sector, 11);
    EXPECT_EQ(buf[4 * 512], 0);           // sector 12: zeros, and the read failed
    EXPECT_EQ(raid->position, 32 * 512);  // a sector nothing serves is passed over
    EXPECT_EQ(raid->readRun(24 * 512, buf.data(), 8), 4u);
}

TEST(RaidRead, RotateMovesTheFirstMemberToTheEnd) {
    test::TempDir dir;
    auto a = dir.write("a.img", test::taggedMember(0, 64));
    auto b = dir.write("b.img", test::taggedMember(1, 64));
    auto c = dir.write("c.img", test::taggedMember(2, 64));
    auto raid = makeRaid(nullptr, {a, b, c}, 0, 1, 8);
    ASSERT_TRUE(raid->open());
    std::string text;
    ASSERT_TRUE(raid->rotate(&text));
    EXPECT_EQ(text, b);
    EXPECT_EQ(raid->memberNames, (std::vector<std::string>{b, c, a}));
    EXPECT_EQ(readTag(*raid, 0).member, 1);
    EXPECT_EQ(readTag(*raid, 16).member, 0);

    auto one = makeRaid(nullptr, {a}, 0, 1, 8);
    ASSERT_TRUE(one->open());
    EXPECT_FALSE(one->rotate(&text));
}

TEST(RaidOpen, RefusesWhatCannotBeAssembled) {
    test::TempDir dir;
    auto a = dir.write("a.img", test::taggedMember(0, 64));
    auto b = dir.write("b.img", test::taggedMember(1, 64));
    auto c = dir.write("c.img", test::taggedMember(2, 64));
    struct Case { std::unique_ptr<FileReadSeekRaid> raid; std::string expect; };
    std::vector<Case> cases;
    cases.push_back({makeRaid(nullptr, {a, b}, 5, 1, 8), "at least three members"});
    cases.push_back({makeRaid(nullptr, {a, b, c}, 1, 1, 8), "RAID level 1"});
    cases.push_back({makeRaid(nullptr, {a, b, c}, 5, 5, 8), "parity layout 5"});
    cases.push_back({makeRaid(nullptr, {a, b, c}, 5, 0, 8), "parity layout 0"});
    cases.push_back({makeRaid(nullptr, {a, b}, 0, 1, 0), "stripe"});
    cases.push_back({makeRaid(nullptr, {}, 0, 1, 8), "no members"});
    cases.push_back({makeRaid(nullptr, {a, b}, 0, 1, 8, {0, 64}), b + ": partition offset 64"});
    cases.push_back({makeRaid(nullptr, {a, b}, 0, 1, 8, {0, -1}), "partition offset -1"});
    cases.push_back({makeRaid(nullptr, {a, (dir.path() / "nope.img").string()}, 0, 1, 8), "nope.img"});
    cases.push_back({makeRaid(nullptr, {a, dir.path().string()}, 0, 1, 8), "folder"});
    for (auto& c : cases) {
        EXPECT_FALSE(c.raid->open()) << c.expect;
        EXPECT_NE(c.raid->lastError().find(c.expect), std::string::npos) << c.raid->lastError();
        EXPECT_TRUE(c.raid->members.empty());
        unsigned char buf[512];
        EXPECT_FALSE(c.raid->read(buf, 512));
    }
}

TEST(RaidOpen, UnopenableMemberShowsInvalidHandle) {
    test::TempDir dir;
    auto a = dir.write("a.img", test::taggedMember(0, 64));
    auto locked = dir.write("locked.img", test::taggedMember(1, 64));
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    test::RecordingFeedback feedback;
    disk::RecoveryContext ctx;
    ctx.feedback = &feedback;
    auto raid = makeRaid(&ctx, {a, (dir.path() / "gone.img").string()}, 0, 1, 8);
    EXPECT_FALSE(raid->open());
    EXPECT_EQ(feedback.messages, std::vector<std::string>{"invalid handle ..."});
    EXPECT_EQ(ctx.totalSectors, 0u);  // not the size of the member that did open
    if (geteuid() != 0) {  // root reads files whatever their permissions
        auto lockedRaid = makeRaid(&ctx, {a, locked}, 0, 1, 8);
        EXPECT_FALSE(lockedRaid->open());
        EXPECT_NE(lockedRaid->lastError().find("locked.img"), std::string::npos);
    }
}

TEST(RaidOpen, SizeFromTheLargestMemberOrTheLdmHeader) {
    test::TempDir dir;
    auto a = dir.write("a.img", test::taggedMember(0, 100));
    auto b = dir.write("b.img", test::taggedMember(1, 90));
    auto c = dir.write("c.img", test::taggedMember(2, 120));
    disk::RecoveryContext ctx;
    auto r5 = makeRaid(&ctx, {a, b, c, "MISSING DISK"}, 5, 2, 16, {0, 0, 20, 0});
    ASSERT_TRUE(r5->open());
    EXPECT_EQ(r5->totalSectors(), 3u * 96);  // largest data area 100 -> 6 units of 16
    EXPECT_EQ(ctx.totalSectors, 3u * 96);
    EXPECT_EQ(r5->memberData()[1].heldSectors, 90);  // b is short
    r5->memberDataSize = 77;
    ASSERT_TRUE(r5->open());
    EXPECT_EQ(r5->totalSectors(), 3u * 77);
    auto r0 = makeRaid(&ctx, {a, b}, 0, 1, 16);
    r0->memberDataSize = 77;
    ASSERT_TRUE(r0->open());
    EXPECT_EQ(r0->totalSectors(), 2u * 77);
}

TEST(RaidProbe, LdmHeaderProposesTheOffsetAndTheDataSize) {
    test::TempDir dir;
    auto withHeader = [&](const std::string& name, uint64_t start, uint64_t size, int atSector) {
        std::vector<unsigned char> image(4096 * 512, 0);
        unsigned char* p = image.data() + atSector * 512;
        std::memcpy(p, "PRIVHEAD", 8);
        test::putBe64(p + 0x11B, start);
        test::putBe64(p + 0x123, size);
        return dir.write(name, image);
    };
    disk::RecoveryContext ctx;
    FileReadSeekRaid raid(&ctx);
    raid.memberNames = {"x", "y", "z"};
    raid.level = 5;
    raid.stripeSectors = 128;
    EXPECT_EQ(raid.probeMember(withHeader("a.img", 1985, 5000, 6)), 2048);
    EXPECT_EQ(raid.memberDataSize, 5000);
    EXPECT_EQ(ctx.totalSectors, 2u * 5000);
    EXPECT_EQ(raid.probeMember(withHeader("b.img", 2048, 0, 2047)), 2048);
    EXPECT_EQ(raid.memberDataSize, 5000);  // a size of 0 changes nothing
    EXPECT_EQ(raid.probeMember(withHeader("c.img", 1985, 6000, 2048)), 0);  // beyond the first MiB
    EXPECT_EQ(raid.probeMember(withHeader("d.img", ~uint64_t{0}, 1, 0)), 0);
    EXPECT_EQ(raid.probeMember(dir.write("short.img", std::vector<unsigned char>(700, 0))), 0);
    EXPECT_EQ(raid.probeMember("MISSING DISK"), 0);
    EXPECT_EQ(raid.probeMember((dir.path() / "none.img").string()), 0);

    std::vector<unsigned char> image(4096 * 512, 0);
    std::memcpy(image.data() + 6 * 512, "PRIVHEAD", 8);
    test::putBe64(image.data() + 6 * 512 + 0x11B, 1985);
    auto vhd = dir.write("member.vhd", test::buildDynamicVhd(image));
    EXPECT_EQ(raid.probeVhdMember(vhd), 2048);
    EXPECT_EQ(raid.probeVhdMember(dir.write("member.img", image)), 0);
}
