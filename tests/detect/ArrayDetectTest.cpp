// Detection: real file-system images striped here in shuffled member orders (one member
// sometimes MISSING) give back the parameters they were striped with, and the proposal then
// reads the image byte for byte; md arrays are assembled from their superblocks; bad input
// gives a clear "cannot tell".

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <numeric>
#include <random>

#include "detect/ArrayDetect.h"
#include "disk/FileReadSeekRaid.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/fat/Fat32Class.h"
#include "filesystems/ntfs/ntfs.h"
#include "support/ArrayBuilder.h"
#include "support/FixtureReader.h"
#include "support/RunCli.h"
#include "support/TempFolder.h"

using namespace quenlow;

namespace {

const std::string kFixtures = QUENLOW_FIXTURE_DIR;

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<unsigned char> bytes(in ? static_cast<size_t>(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// The virtual disk the proposal opens.
std::unique_ptr<disk::FileReadSeekRaid> openProposal(const detect::Candidate& c, const std::vector<std::string>& given) {
    auto raid = std::make_unique<disk::FileReadSeekRaid>();
    for (int i : c.parameters.order) {
        const std::string name = i < 0 ? "" : given[static_cast<size_t>(i)];
        raid->memberNames.push_back(name.empty() || name == "MISSING" ? disk::kMissingDiskName : name);
    }
    raid->level = c.parameters.level;
    raid->parityLayout = c.parameters.level == 5 ? c.parameters.layout : 3;
    raid->stripeSectors = c.parameters.stripeSectors;
    raid->partitionOffsets = c.parameters.offsets;
    return raid->open() ? std::move(raid) : nullptr;
}

// Its first `bytes` bytes.
std::vector<unsigned char> assemble(const detect::Candidate& c, const std::vector<std::string>& given, size_t bytes) {
    auto raid = openProposal(c, given);
    std::vector<unsigned char> out(bytes);
    if (!raid || !raid->seek(0)) return {};
    raid->read(out.data(), static_cast<uint32_t>(bytes));
    return out;
}

// Whether the proposal reads `image` back, a MiB at a time.
bool readsBack(const detect::Candidate& c, const std::vector<std::string>& given, const std::vector<unsigned char>& image) {
    auto raid = openProposal(c, given);
    if (!raid || !raid->seek(0)) return false;
    std::vector<unsigned char> chunk(1 << 20);
    for (size_t at = 0; at < image.size(); at += chunk.size()) {
        const size_t bytes = std::min(chunk.size(), image.size() - at);
        raid->read(chunk.data(), static_cast<uint32_t>(bytes));
        if (std::memcmp(chunk.data(), image.data() + at, bytes) != 0) return false;
    }
    return true;
}

// Members of `geometry` holding `image`, given in a shuffled order with `missing` (an array
// position, -1: none) left out; `expected` gets the order detection should find.
std::vector<std::string> shuffledMembers(const test::BuiltArray& array, int missing, std::mt19937& shuffle,
                                         std::vector<int>& expected) {
    const size_t n = array.memberPaths.size();
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), shuffle);
    std::vector<std::string> given;
    expected.assign(n, 0);
    for (size_t i = 0; i < n; ++i) {
        given.push_back(order[i] == missing ? "MISSING" : array.memberPaths[static_cast<size_t>(order[i])]);
        expected[static_cast<size_t>(order[i])] = static_cast<int>(i);
    }
    return given;
}

// Every live file of the volume on `reader`, saved, against the manifest's digests: the
// files that do not match.
std::vector<std::string> filesThatDoNotSave(disk::readWriteInterface& reader, const std::string& manifest, bool ntfs) {
    volumes::VolumeRecord volume;
    fs::MemoryTree tree;
    std::unique_ptr<fs::VolumeParser> parser;
    if (ntfs)
        parser = std::make_unique<fs::ntfs>(test::setupOn(reader, volume, tree));
    else
        parser = std::make_unique<fs::Fat32Class>(test::setupOn(reader, volume, tree));
    if (!test::parseIn(*parser).status.ok()) return {"the volume does not parse"};
    std::map<std::string, fs::EntryRef> live;
    std::vector<std::pair<std::string, fs::EntryRef>> walk;
    for (fs::EntryRef e : parser->firstLevel()) walk.emplace_back(parser->name(e), e);
    while (!walk.empty() && live.size() < 100000) {
        auto [path, e] = walk.back();
        walk.pop_back();
        if (parser->isDeleted(e)) continue;
        live[path] = e;
        if (parser->isFolder(e))
            for (fs::EntryRef c = parser->firstChild(e); c != fs::kNoEntry; c = parser->nextSibling(c))
                walk.emplace_back(path + "/" + parser->name(c), c);
    }
    test::TempFolder out;
    std::vector<std::string> bad;
    int saved = 0;
    const auto listed = nlohmann::json::parse(std::ifstream(manifest));
    for (const auto& e : listed["entries"]) {
        if (e["is_folder"].get<bool>()) continue;
        const auto it = live.find(e["path"].get<std::string>());
        bool damaged = false;
        struct stat st {};
        if (it == live.end() ||
            test::saveAndHash(*parser, it->second, out.path() / std::to_string(++saved), damaged, &st) != e["sha256"])
            bad.push_back(e["path"]);
    }
    return bad;
}

struct Case {
    const char* image;
    int level, layout;
    int64_t stripe;
    size_t members;
    int missing;  // member left out as MISSING, -1: none
};

TEST(ArrayDetect, FindsTheGeometryOfStripedImages) {
    const Case cases[] = {
        {"ntfs/ntfs.img", 0, 0, 128, 3, -1},    {"ntfs/ntfs.img", 0, 0, 16, 2, -1},
        {"ntfs/ntfs.img", 5, 1, 16, 4, -1},     {"ntfs/ntfs.img", 5, 2, 128, 3, 1},
        {"ntfs/ntfs.img", 5, 3, 256, 3, -1},    {"ntfs/ntfs.img", 5, 4, 64, 4, 2},
        {"ext/ext4/ext4.img", 0, 0, 512, 2, -1}, {"ext/ext4/ext4.img", 5, 3, 32, 4, 0},
        {"ext/ext4/ext4.img", 5, 2, 128, 3, -1}, {"ext/ext4/ext4.img", 5, 4, 256, 3, 2},
    };
    std::mt19937 shuffle(7);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " level " + std::to_string(c.level) + " layout " +
                     std::to_string(c.layout) + " stripe " + std::to_string(c.stripe));
        const auto image = readFile(kFixtures + "/" + c.image);
        ASSERT_FALSE(image.empty());
        auto array = (c.level == 0 ? test::ArrayBuilder::raid0(c.members, c.stripe)
                                   : test::ArrayBuilder::raid5(c.members, c.layout, c.stripe))
                         .build(image);
        std::vector<int> order(c.members);
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), shuffle);
        std::vector<std::string> given;
        std::vector<int> expected(c.members);
        for (size_t i = 0; i < order.size(); ++i) {
            given.push_back(order[i] == c.missing ? "MISSING" : array.memberPaths[static_cast<size_t>(order[i])]);
            expected[static_cast<size_t>(order[i])] = static_cast<int>(i);
        }
        const auto report = detect::detectArray(given, {});
        ASSERT_TRUE(report.decided) << report.verdict;
        const auto& p = report.candidates.front().parameters;
        EXPECT_EQ(p.level, c.level);
        if (c.level == 5) {
            EXPECT_EQ(p.layout, c.layout);
        }
        EXPECT_EQ(p.stripeSectors, c.stripe);
        EXPECT_EQ(p.order, expected);
        EXPECT_TRUE(readsBack(report.candidates.front(), given, image));
        // The true geometry of an intact image breaks none of the checks.
        for (const auto& e : report.candidates.front().evidence) EXPECT_EQ(e.find(" not)"), std::string::npos) << e;
    }
}

// Every level, layout and stripe unit from 16 to 1024 sectors on the NTFS, FAT32 and ext4
// images, 2 to 5 members in a seeded shuffle, one MISSING in every other RAID-5 case: the
// proposal reads the whole image back. Another geometry that reads the very same bytes is
// as right (the data cannot tell them apart). One NTFS and one FAT32 case save their files.
TEST(ArrayDetect, SweepOfStripedImagesReadsEachImageBack) {
    const std::pair<const char*, const char*> images[] = {
        {"ntfs/ntfs.img", "ntfs/manifest.json"}, {"fat/fat32/fat32.img", "fat/fat32/manifest.json"},
        {"ext/ext4/ext4.img", nullptr}};
    const std::pair<int, int> levels[] = {{0, 0}, {5, 1}, {5, 2}, {5, 3}, {5, 4}};
    std::mt19937 shuffle(11);
    int index = 0, readBack = 0;
    for (const auto& [path, manifest] : images) {
        const auto image = readFile(kFixtures + "/" + path);
        ASSERT_FALSE(image.empty()) << path;
        bool saved = manifest == nullptr;
        for (int64_t stripe = 16; stripe <= 1024; stripe *= 2)
            for (const auto& [level, layout] : levels) {
                ++index;
                const size_t n = static_cast<size_t>(level == 0 ? 2 + index % 3 : 3 + index % 2);
                const int missing = level == 5 && index % 2 == 0 ? index % static_cast<int>(n) : -1;
                SCOPED_TRACE(std::string(path) + " level " + std::to_string(level) + " layout " + std::to_string(layout) +
                             " stripe " + std::to_string(stripe) + " members " + std::to_string(n) + " missing " +
                             std::to_string(missing));
                auto array = (level == 0 ? test::ArrayBuilder::raid0(n, stripe) : test::ArrayBuilder::raid5(n, layout, stripe))
                                 .build(image);
                std::vector<int> expected;
                const auto given = shuffledMembers(array, missing, shuffle, expected);
                const auto report = detect::detectArray(given, {});
                if (!report.decided) {
                    ADD_FAILURE() << report.verdict;
                    continue;
                }
                const auto& best = report.candidates.front();
                const bool same = readsBack(best, given, image);
                readBack += same ? 1 : 0;
                EXPECT_TRUE(same) << report.verdict << ": " << detect::commandLine(best, report.members, false);
                const auto& p = best.parameters;
                if (p.level != level || p.layout != layout || p.stripeSectors != stripe || p.order != expected)
                    std::printf("%s level %d layout %d stripe %lld: the same bytes as %s (%s confidence)\n", path, level,
                                layout, static_cast<long long>(stripe), detect::commandLine(best, report.members, false).c_str(),
                                report.confidence.c_str());
                if (!saved && missing >= 0) {
                    auto raid = openProposal(best, given);
                    ASSERT_TRUE(raid);
                    EXPECT_EQ(filesThatDoNotSave(*raid, kFixtures + "/" + manifest, std::string(path).rfind("ntfs", 0) == 0),
                              std::vector<std::string>{});
                    saved = true;
                }
            }
    }
    std::printf("%d of %d arrays read back\n", readBack, index);
}

TEST(ArrayDetect, AssemblesMdArraysFromTheirSuperblocks) {
    const std::string md = kFixtures + "/md/";
    const std::string source = readFile(md + "source.sha256").empty() ? "" : "present";
    ASSERT_FALSE(source.empty());
    struct MdCase {
        const char* set;
        int level, layout;
        int64_t stripe, offset;
        size_t members;
    };
    const MdCase cases[] = {{"v12-raid5-ls", 5, 3, 128, 2048, 3}, {"v11-raid5-rs", 5, 4, 64, 2048, 4},
                            {"v10-raid5-la", 5, 2, 256, 0, 3},    {"v090-raid0", 0, 0, 32, 0, 2},
                            {"v090be-raid5-ra", 5, 1, 128, 0, 3}};
    std::vector<std::vector<unsigned char>> disks;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set);
        std::vector<std::string> given;
        for (size_t i = c.members; i-- > 0;) given.push_back(md + c.set + "/member" + std::to_string(i) + ".img");
        const auto report = detect::detectArray(given, {});
        ASSERT_TRUE(report.decided) << report.verdict;
        EXPECT_EQ(report.source, detect::DetectReport::Source::Md);
        const auto& p = report.candidates.front().parameters;
        EXPECT_EQ(p.level, c.level);
        if (c.level == 5) {
            EXPECT_EQ(p.layout, c.layout);
        }
        EXPECT_EQ(p.stripeSectors, c.stripe);
        EXPECT_EQ(p.offsets, std::vector<int64_t>(c.members, c.offset));
        EXPECT_GT(p.dataSectors, 0);
        for (size_t r = 0; r < c.members; ++r) EXPECT_EQ(p.order[r], static_cast<int>(c.members - 1 - r));
        disks.push_back(assemble(report.candidates.front(), given, 1048576));
    }
    // Every set holds the same source disk.
    for (const auto& d : disks) EXPECT_TRUE(d == disks.front());

    // A stale member is left out and rebuilt; members of two arrays are not mixed.
    auto stale = detect::detectArray({md + "v12-stale/member0.img", md + "v12-stale/member1.img",
                                      md + "v12-stale/member2.img"}, {});
    ASSERT_TRUE(stale.decided);
    EXPECT_EQ(stale.candidates.front().parameters.order, (std::vector<int>{0, -1, 2}));
    EXPECT_TRUE(assemble(stale.candidates.front(), {md + "v12-stale/member0.img", "", md + "v12-stale/member2.img"},
                         1048576) == disks.front());
    auto mixed = detect::detectArray({md + "v12-raid5-ls/member0.img", md + "v10-raid5-la/member0.img",
                                      md + "v12-raid5-ls/member1.img"}, {});
    bool named = false;
    for (const auto& n : mixed.notes) named = named || n.find("different arrays") != std::string::npos;
    EXPECT_TRUE(named);
    EXPECT_EQ(mixed.candidates.front().parameters.order, (std::vector<int>{0, 2, -1}));
}

TEST(ArrayDetect, BadInputGivesAClearAnswer) {
    test::TempFolder dir;
    std::mt19937 random(3);
    auto write = [&](const std::string& name, size_t bytes, bool zero) {
        std::vector<char> data(bytes);
        if (!zero)
            for (auto& b : data) b = static_cast<char>(random());
        std::ofstream((dir / name).string(), std::ios::binary).write(data.data(), static_cast<std::streamsize>(bytes));
        return (dir / name).string();
    };
    const auto r0 = write("r0", 1 << 20, false), r1 = write("r1", 3 << 19, false), r2 = write("r2", 1 << 18, false);
    const auto z0 = write("z0", 1 << 20, true), z1 = write("z1", 1 << 20, true), z2 = write("z2", 1 << 20, true);
    struct BadCase {
        std::vector<std::string> members;
        const char* says;
        detect::DetectOptions options = {};
    };
    detect::DetectOptions level3, raid0;
    level3.level = 3;
    raid0.level = 0;
    const BadCase cases[] = {
        {{r0, r1, r2}, "cannot tell"},
        {{z0, z1, z2}, "all"},
        {{r0}, "one member"},
        {{z0, "MISSING", "MISSING"}, "cannot tell"},
        {{(dir / "absent").string(), z1}, "cannot tell"},
        {{z0, r2, z1}, "cannot tell"},
        {{r0, r1, r2}, "only RAID-0 and RAID-5", level3},
        {{r0, "MISSING", r2}, "cannot tell", raid0},
    };
    for (const auto& c : cases) {
        const auto report = detect::detectArray(c.members, c.options);
        EXPECT_FALSE(report.decided);
        EXPECT_NE(report.verdict.find(c.says), std::string::npos) << report.verdict;
    }
}

// The command line: the ready command, the JSON, and status 1 for "cannot tell".
TEST(ArrayDetect, CommandLinePrintsTheProposal) {
    const std::string set = kFixtures + "/md/v12-raid5-ls/";
    auto r = test::runCli({"-m", set + "member1.img", "-m", set + "member0.img", "-m", set + "member2.img", "detect"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("-m " + set + "member0.img -m " + set + "member1.img -m " + set +
                         "member2.img -l 5 --layout 3 -s 128 -o 2048,2048,2048"),
              std::string::npos) << r.out;
    r = test::runCli({"-m", set + "member1.img", "probe", "--json"});
    EXPECT_NE(r.out.find("\"left-symmetric\""), std::string::npos);
    r = test::runCli({"-m", set + "member1.img", "-m", "MISSING", "-m", "MISSING", "detect", "--json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\"decided\": false"), std::string::npos) << r.out;

    // -l, --layout and -s limit the search; the JSON ranks every candidate kept.
    auto array = test::ArrayBuilder::raid5(3, 2, 64).build(readFile(kFixtures + "/ntfs/ntfs.img"));
    const auto& m = array.memberPaths;
    r = test::runCli({"-m", m[2], "-m", m[0], "-m", m[1], "-l", "5", "--layout", "4", "-s", "64", "detect", "--json"});
    auto json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json["searched"]["layout"], 4);
    for (const auto& c : json["candidates"]) {
        EXPECT_EQ(c["layout"], 4);
        EXPECT_EQ(c["stripe_sectors"], 64);
        EXPECT_FALSE(c["confidence"].get<std::string>().empty());
    }
    r = test::runCli({"-m", m[2], "-m", m[0], "-m", m[1], "-s", "64", "detect", "--json"});
    json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json["proposal"]["layout"], 2);
    EXPECT_EQ(json["proposal"]["members"], (nlohmann::json{m[0], m[1], m[2]}));
    EXPECT_GT(json["candidates"].size(), 1u);
    EXPECT_EQ(json["candidates"][1]["confidence"], "unlikely");
    r = test::runCli({"-m", m[2], "-m", "MISSING", "-m", m[1], "-l", "0", "detect"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("RAID-0 cannot rebuild it"), std::string::npos) << r.out;
}

}  // namespace
