// Arrays that cannot give everything back, on the committed fixtures: members cut short (raw
// images under RAID-5 and RAID-0, a dynamic VHD), members missing where nothing rebuilds them,
// and settings that make no sense. Each is named when the array is opened; a sector nothing
// can serve is a failed read, never zeros passed off as data.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

#include "support/ArrayBuilder.h"
#include "support/RunCli.h"
#include "support/TempFolder.h"

using namespace quenlow;
using test::runCli;

namespace {

const std::string kFixtures = QUENLOW_FIXTURE_DIR;

std::vector<std::string> with(std::vector<std::string> array, const std::vector<std::string>& command) {
    array.insert(array.end(), command.begin(), command.end());
    return array;
}

std::string copyCut(const test::TempFolder& dir, const std::string& from, const std::string& name, uintmax_t bytes) {
    auto to = dir / name;
    std::filesystem::copy_file(from, to);
    std::filesystem::resize_file(to, bytes);
    return to.string();
}

}  // namespace

TEST(CliDamagedArrays, CutMembersAreNamedAndWhatNothingRebuildsFailsExactly) {
    test::TempFolder dir;
    const std::string demo = kFixtures + "/demo/", vhd = kFixtures + "/vhd/";
    auto raid0 = test::ArrayBuilder::raid0(2, 128).buildFromFile(kFixtures + "/ntfs/ntfs.img");
    // The demo's healthy members give its virtual disk.
    auto whole = dir / "demo.img";
    ASSERT_EQ(runCli({"-m", demo + "member0.img", "-m", demo + "member1.img", "-m", demo + "member2.img", "-l", "5",
                      "dump", "--out", whole.string()})
                  .status,
              0);
    struct Case {
        const char* what;
        std::vector<std::string> array;
        std::string expected;  // what the virtual disk holds
        test::ArrayGeometry geometry;
        std::function<bool(size_t, int64_t)> lacks;  // member, member sector
        std::string warning;
    };
    test::ArrayGeometry demoGeometry = test::ArrayBuilder::raid5(3, 3, 128).geometry();
    test::ArrayGeometry vhdGeometry = test::ArrayBuilder::raid0(2, 128).geometry();
    const Case cases[] = {
        {"RAID-5, member 1 cut to 5 MiB of 13",
         {"-m", demo + "member0.img", "-m", copyCut(dir, demo + "member1.img", "r5_1.img", 5 << 20), "-m",
          demo + "member2.img", "-l", "5"},
         test::readAll(whole), demoGeometry, [](size_t m, int64_t s) { return m == 1 && s >= 10240; },
         "member 1 (" + (dir / "r5_1.img").string() + ") is short: it holds 10240 of the 26624 data sectors"},
        {"RAID-0, member 1 cut to 4 MiB of 12",
         {"-m", raid0.memberPaths[0], "-m", copyCut(dir, raid0.memberPaths[1], "r0_1.img", 4 << 20), "-l", "0"},
         std::string(raid0.expected.begin(), raid0.expected.end()), raid0.geometry,
         [](size_t m, int64_t s) { return m == 1 && s >= 8192; },
         "RAID-0 keeps no parity, so these sectors cannot be read"},
        // Block 1 of member1.vhd holds its data from file sector 4102 on: cut 1000 sectors in.
        {"RAID-0 of dynamic VHDs, member 1 cut inside its second block",
         {"--vhd", "-m", vhd + "member0.vhd", "-m", copyCut(dir, vhd + "member1.vhd", "v1.vhd", (4102 + 1000) * 512),
          "-l", "0"},
         test::readAll(vhd + "source.img"), vhdGeometry, [](size_t m, int64_t s) { return m == 1 && s >= 5096 && s < 8192; },
         "lacks 3096 of its 16384 data sectors (1.5 MiB; the file ends before them), the first at sector 5096"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string& expected = c.expected;
        auto info = runCli(with(c.array, {"info", "--json"}));
        ASSERT_EQ(info.status, 0) << info.err;
        EXPECT_NE(info.err.find(c.warning), std::string::npos) << info.err;
        auto json = nlohmann::json::parse(info.out);
        EXPECT_EQ(json["total_sectors"].get<size_t>() * 512, expected.size());  // the size of the whole members
        EXPECT_NE(json["warnings"][0].get<std::string>().find(c.warning), std::string::npos);

        // Every sector whose member lacks it and that no other member rebuilds is a zero
        // sector the dump reports, by count and first and last sector; all others are exact.
        std::string want = expected;
        int64_t failed = 0, first = -1, last = -1;
        for (int64_t s = 0; s < static_cast<int64_t>(expected.size() / 512); ++s) {
            auto p = test::placeSector(c.geometry, s);
            bool lost = c.lacks(p.member, p.memberSector);
            if (lost && c.geometry.level == 5) {  // rebuilt unless another member lacks the row too
                lost = false;
                for (size_t m = 0; m < c.geometry.members; ++m)
                    if (m != p.member && c.lacks(m, p.memberSector)) lost = true;
            }
            if (!lost) continue;
            std::fill_n(want.begin() + s * 512, 512, '\0');
            if (failed++ == 0) first = s;
            last = s;
        }
        auto out = dir / "dump.img";
        std::filesystem::remove(out);
        auto dump = runCli(with(c.array, {"dump", "--out", out.string()}));
        EXPECT_EQ(dump.status, failed > 0 ? 1 : 0) << dump.err;
        const std::string report = std::to_string(failed) + " sector(s) could not be read, from sector " +
                                   std::to_string(first) + " to " + std::to_string(last);
        EXPECT_EQ(dump.err.find(report) != std::string::npos, failed > 0) << dump.err;
        EXPECT_TRUE(test::readAll(out) == want);
    }
}

TEST(CliDamagedArrays, WhatCannotBeRebuiltIsSaidAtTheStart) {
    test::TempFolder dir;
    const std::string d = kFixtures + "/demo/";
    auto empty = copyCut(dir, d + "member1.img", "empty.img", 0);
    struct Case {
        std::vector<std::string> array;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{"-m", d + "member0.img", "-m", "MISSING", "-l", "0"}, 0, "warning: member 1 is MISSING: RAID-0 keeps no parity"},
        {{"-m", d + "member0.img", "-m", "missing", "-m", "MISSING", "-l", "5"}, 0,
         "warning: members 1 and 2 are MISSING: RAID-5 rebuilds one member only"},
        {{"-m", d + "member0.img", "-m", empty, "-m", d + "member2.img", "-l", "5"}, 0,
         "holds none of the 26624 data sectors each member needs"},
        {{"-m", "missing", "-m", "MISSING", "-m", "Missing", "-l", "5"}, 2, "every member is MISSING"},
        {{"-m", empty, "-m", empty, "-l", "0"}, 1, "no member holds any data"},
    };
    for (const auto& c : cases) {
        for (const char* command : {"info", "volumes"}) {
            auto r = runCli(with(c.array, {command}));
            EXPECT_EQ(r.status, c.status) << command << ": " << r.err;
            EXPECT_NE(r.err.find(c.says), std::string::npos) << command << ": " << r.err;
        }
    }
}

TEST(CliDamagedArrays, NonsenseSettingsAreRefusedOrWarnedAbout) {
    const std::string d = kFixtures + "/demo/";
    const std::string m0 = d + "member0.img";
    const std::vector<std::string> demo = {"-m", m0, "-m", d + "member1.img", "-m", d + "member2.img", "-l", "5"};
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{"-m", m0, "-l", "0", "-s", "99999999999999999999", "info"}, 2, "--stripe: '99999999999999999999' is too large"},
        {{"-m", m0, "-l", "0", "-s", "2147483647", "info"}, 2, "--stripe: the stripe unit (2147483647 sectors) is larger"},
        {{"-m", m0, "-l", "0", "--layout", "2", "info"}, 2, "--layout: RAID-0 has no parity layout"},
        {with(demo, {"ls", "--at", "2048", "--end", "1000", "--fs", "NTFS"}), 2, "--end: the custom volume's last sector"},
        {with(demo, {"volumes", "--scan", "--start", "100", "--end", "50"}), 2, "--end: the scan's end (sector 50)"},
        {with(demo, {"volumes", "--scan", "--start", "53248"}), 2, "--start: sector 53248 lies at or beyond"},
        {with(demo, {"dump", "--start", "53248", "--out", "/dev/null"}), 2, "--start: sector 53248 lies at or beyond"},
        {with(demo, {"dump", "--start", "53240", "--count", "9", "--out", "/dev/null"}), 2, "at most 8 are left"},
        {{"-m", m0, "-m", m0, "-m", m0, "-l", "5", "info"}, 0, "warning: every member is the same file"},
    };
    for (const auto& c : cases) {
        auto r = runCli(c.args);
        EXPECT_EQ(r.status, c.status) << c.says << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}
