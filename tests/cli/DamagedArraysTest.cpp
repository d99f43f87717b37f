// Arrays that cannot give everything back, on the committed fixtures: members cut short (raw
// images under RAID-5 and RAID-0, a dynamic VHD), members missing where nothing rebuilds them,
// settings that make no sense. Each is named when the array is opened; a sector nothing can
// serve is a failed read, never zeros passed off as data.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

#include "support/ArrayBuilder.h"
#include "support/RunCli.h"
#include "support/TempFolder.h"

using namespace quenlow;
using test::runCli;

namespace {

const std::string kFixtures = QUENLOW_FIXTURE_DIR;
const std::string kDemo = kFixtures + "/demo/";

std::vector<std::string> with(std::vector<std::string> array, const std::vector<std::string>& command) {
    array.insert(array.end(), command.begin(), command.end());
    return array;
}

std::string copyCut(const test::TempFolder& dir, const std::string& from, const std::string& name, uintmax_t bytes) {
    std::filesystem::copy_file(from, dir / name);
    std::filesystem::resize_file(dir / name, bytes);
    return (dir / name).string();
}

}  // namespace

TEST(CliDamagedArrays, CutMembersAreNamedAndWhatNothingRebuildsFailsExactly) {
    test::TempFolder dir;
    const std::string vhd = kFixtures + "/vhd/";
    auto raid0 = test::ArrayBuilder::raid0(2, 128).buildFromFile(kFixtures + "/ntfs/ntfs.img");
    auto whole = (dir / "demo.img").string();  // the demo's healthy members give its virtual disk
    ASSERT_EQ(runCli({"-m", kDemo + "member0.img", "-m", kDemo + "member1.img", "-m", kDemo + "member2.img", "-l", "5",
                      "dump", "--out", whole}).status, 0);
    struct Case {
        std::vector<std::string> array;
        std::string expected;  // the virtual disk's bytes
        test::ArrayGeometry geometry;
        std::function<bool(size_t, int64_t)> lacks;  // member, member sector
        std::string warning;
    };
    const Case cases[] = {
        {{"-m", kDemo + "member0.img", "-m", copyCut(dir, kDemo + "member1.img", "r5.img", 5 << 20), "-m",
          kDemo + "member2.img", "-l", "5"},
         test::readAll(whole), test::ArrayBuilder::raid5(3, 3, 128).geometry(),
         [](size_t m, int64_t s) { return m == 1 && s >= 10240; },
         "member 1 (" + (dir / "r5.img").string() + ") is short: it holds 10240 of the 83968 data sectors"},
        {{"-m", raid0.memberPaths[0], "-m", copyCut(dir, raid0.memberPaths[1], "r0.img", 4 << 20), "-l", "0"},
         std::string(raid0.expected.begin(), raid0.expected.end()), raid0.geometry,
         [](size_t m, int64_t s) { return m == 1 && s >= 8192; }, "RAID-0 keeps no parity, so these sectors cannot"},
        // Block 1 of member1.vhd holds its data from file sector 4102 on: cut 1000 sectors in.
        {{"--vhd", "-m", vhd + "member0.vhd", "-m", copyCut(dir, vhd + "member1.vhd", "v.vhd", (4102 + 1000) * 512),
          "-l", "0"},
         test::readAll(vhd + "source.img"), test::ArrayBuilder::raid0(2, 128).geometry(),
         [](size_t m, int64_t s) { return m == 1 && s >= 5096 && s < 8192; },
         "lacks 3096 of its 16384 data sectors (1.5 MiB; the file ends before them), the first at sector 5096"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.warning);
        auto info = runCli(with(c.array, {"info", "--json"}));
        ASSERT_EQ(info.status, 0) << info.err;
        EXPECT_NE(info.err.find(c.warning), std::string::npos) << info.err;
        EXPECT_EQ(nlohmann::json::parse(info.out)["total_sectors"].get<size_t>() * 512, c.expected.size());

        // A sector whose member lacks it is rebuilt under RAID-5 (one member lacks here) and
        // under RAID-0 dumped as zeros and reported by count, first and last; all else is exact.
        std::string want = c.expected;
        int64_t failed = 0, first = -1, last = -1;
        for (int64_t s = 0; s < static_cast<int64_t>(want.size() / 512); ++s) {
            auto p = test::placeSector(c.geometry, s);
            if (c.geometry.level == 5 || !c.lacks(p.member, p.memberSector)) continue;
            std::fill_n(want.begin() + s * 512, 512, '\0');
            first = failed++ == 0 ? s : first;
            last = s;
        }
        auto out = (dir / "dump.img").string();
        std::filesystem::remove(out);
        auto dump = runCli(with(c.array, {"dump", "--out", out}));
        EXPECT_EQ(dump.status, failed > 0 ? 1 : 0) << dump.err;
        const std::string report = std::to_string(failed) + " sector(s) could not be read, from sector " +
                                   std::to_string(first) + " to " + std::to_string(last);
        EXPECT_EQ(dump.err.find(report) != std::string::npos, failed > 0) << dump.err;
        EXPECT_TRUE(test::readAll(out) == want);
    }
}

TEST(CliDamagedArrays, WhatCannotBeRebuiltIsSaidAtTheStartAndNonsenseIsRefused) {
    test::TempFolder dir;
    const std::string m0 = kDemo + "member0.img", m2 = kDemo + "member2.img";
    auto empty = copyCut(dir, m0, "empty.img", 0);
    auto cut = copyCut(dir, m0, "cut.img", 5 << 20);
    auto cutDisk = copyCut(dir, kFixtures + "/disks/mbr/disk.img", "disk.img", 50 << 20);  // ends in the FAT32 volume
    std::string random(1 << 20, '\0');
    for (size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>((i * 2654435761u) >> 13);
    std::ofstream(dir / "random.img", std::ios::binary) << random;
    const std::vector<std::string> demo = {"-m", m0, "-m", kDemo + "member1.img", "-m", m2, "-l", "5"};
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{"-m", m0, "-m", "MISSING", "-l", "0", "volumes"}, 0, "warning: member 1 is MISSING: RAID-0 keeps no parity"},
        {{"-m", m0, "-m", "missing", "-m", "MISSING", "-l", "5", "info"}, 0,
         "warning: members 1 and 2 are MISSING: RAID-5 rebuilds one member only"},
        {{"-m", cut, "-m", "missing", "-m", m2, "-l", "5", "info"}, 0,
         "members 0 and 1 both lack data from sector 10240 of their data areas"},
        {{"-m", m0, "-m", empty, "-m", m2, "-l", "5", "info"}, 0, "holds none of the 83968 data sectors"},
        {{"-m", m0, "-m", m0, "-m", m0, "-l", "5", "info"}, 0, "warning: every member is the same file"},
        {{"-m", "missing", "-m", "MISSING", "-m", "Missing", "-l", "5", "info"}, 2, "every member is MISSING"},
        {{"-m", empty, "-m", empty, "-l", "0", "volumes"}, 1, "no member holds any data"},
        {{"-m", m0, "-l", "0", "-s", "99999999999999999999", "info"}, 2, "--stripe: '99999999999999999999' is too large"},
        {{"-m", m0, "-l", "0", "-s", "2147483647", "info"}, 2, "--stripe: the stripe unit (2147483647 sectors) is larger"},
        {{"-m", m0, "-l", "0", "--layout", "2", "info"}, 2, "--layout: RAID-0 has no parity layout"},
        {with(demo, {"ls", "--at", "2048", "--end", "1000", "--fs", "NTFS"}), 2, "--end: the custom volume's last sector"},
        {with(demo, {"volumes", "--scan", "--start", "100", "--end", "50"}), 2, "--end: the scan's end (sector 50)"},
        {{"-m", (dir / "random.img").string(), "-l", "0", "volumes"}, 0, "sector 0 holds no partition table"},
        {{"-m", kFixtures + "/disks/gpt/disk.img", "-l", "0", "volumes"}, 0, "partitioned with GPT; list it with --gpt"},
        {{"-m", cutDisk, "-l", "0", "volumes"}, 0, "(type 0x0C) of the boot record at sector 67584 covers sectors 69632 "
                                                   "to 139263 and runs past the disk's end (102400 sectors)"},
        {{"-m", cutDisk, "-l", "0", "volumes", "--scan"}, 0, "the FAT32 volume found at sector 69632 covers sectors"},
        {with(demo, {"dump", "--start", "167936", "--out", "/dev/null"}), 2, "--start: sector 167936 lies at or beyond"},
        {with(demo, {"dump", "--start", "167928", "--count", "9", "--out", "/dev/null"}), 2, "at most 8 are left"},
    };
    for (const auto& c : cases) {
        auto r = runCli(c.args);
        EXPECT_EQ(r.status, c.status) << c.says << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

// Saving from an array that lacks sectors: every file that touched one is named with its
// byte ranges (in the report and in --json), and the save exits 1; the others save whole.
TEST(CliDamagedArrays, FilesThatTouchUnservableSectorsAreReportedDamaged) {
    test::TempFolder dir, out;
    auto raid0 = test::ArrayBuilder::raid0(2, 128).buildFromFile(kFixtures + "/ntfs/ntfs.img");
    std::vector<std::string> array = {"-m", raid0.memberPaths[0], "-m",
                                      copyCut(dir, raid0.memberPaths[1], "r0.img", 8 << 20), "-l", "0"};
    const std::string end = std::to_string(std::filesystem::file_size(kFixtures + "/ntfs/ntfs.img") / 512 - 1);
    auto r = runCli(with(array, {"save", "--at", "0", "--end", end, "--fs", "ntfs", "/", "--out", out.str(), "--yes",
                                 "--json"}));
    EXPECT_EQ(r.status, 1) << r.err;
    nlohmann::json report = nlohmann::json::parse(r.out);
    ASSERT_FALSE(report["damaged"].empty());
    for (const auto& d : report["damaged"]) {
        ASSERT_FALSE(d["ranges"].empty()) << d;
        std::string path = d["path"];
        EXPECT_EQ(path.rfind(out.str(), 0), 0u) << path;
        EXPECT_TRUE(std::filesystem::exists(path)) << path;  // saved, with zeros where nothing was read
    }
    EXPECT_GT(report["saved"].get<int64_t>(), static_cast<int64_t>(report["damaged"].size()));
    EXPECT_EQ(report["counted"].get<int64_t>(),
              report["saved"].get<int64_t>() + report["failed"].get<int64_t>() + report["passed_over"].get<int64_t>());
}
