// exFAT volumes made by mkfs.exfat and filled through exfat-fuse, read directly and from
// RAID members: every live file saves with its bytes and modification time, deleted entries
// show under their old folders, and the listing agrees with fls on names, folders, deleted
// marks and the order of each folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sys/stat.h>

#include "disk/FileReadSeek.h"
#include "disk/FileReadSeekRaid.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/exfat/Fat64Class.h"
#include "support/ArrayBuilder.h"
#include "support/ParserHarness.h"
#include "support/Sha256.h"
#include "support/TempFolder.h"

using namespace quenlow;
namespace stdfs = std::filesystem;

namespace {

enum class Array { none, raid0, degradedRaid5 };
struct Case {
    std::string archive, image, manifest, fls;
    int64_t startSector;
    Array array;
    std::string label;
};

class ExFatFixture : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        const Case& c = GetParam();
        dir = stdfs::path(QUENLOW_FIXTURE_DIR) / c.archive;
        stdfs::path image = dir / c.image;
        if (!stdfs::exists(image)) GTEST_SKIP() << "fixture missing: " << image;
        if (c.array == Array::none) {
            auto file = std::make_unique<disk::FileReadSeek>();
            ASSERT_TRUE(file->open(image.string()));
            reader = std::move(file);
        } else {  // RAID-0 of two members, or RAID-5 of three (layout 3) with the second missing
            bool raid5 = c.array == Array::degradedRaid5;
            array = (raid5 ? test::ArrayBuilder::raid5(3, 3, 64) : test::ArrayBuilder::raid0(2, 128))
                        .buildFromFile(image.string());
            auto raid = std::make_unique<disk::FileReadSeekRaid>();
            raid->memberNames = array.memberPaths;
            if (raid5) raid->memberNames[1] = "MISSING DISK";
            raid->partitionOffsets.assign(raid->memberNames.size(), 0);
            raid->level = raid5 ? 5 : 0, raid->parityLayout = 3, raid->stripeSectors = raid5 ? 64 : 128;
            ASSERT_TRUE(raid->open()) << raid->lastError();
            reader = std::move(raid);
        }
        volume.fileSystem = "FAT64";
        volume.startSector = c.startSector;
        std::ifstream in(dir / c.manifest);
        manifest = nlohmann::json::parse(in);
        parse(false);
    }
    void parse(bool readFatEachSector) {
        listing.clear(), order.clear(), tree.clear();
        parser = std::make_unique<fs::Fat64Class>(test::setupOn(*reader, volume, tree));
        parser->readFatEachSector = readFatEachSector;
        ASSERT_TRUE(test::parseIn(*parser).status.ok());
        for (fs::EntryRef e : parser->firstLevel()) walk(e, parser->name(e));
    }
    void walk(fs::EntryRef e, const std::string& path) {
        listing.emplace(std::make_pair(path, parser->isDeleted(e)), e);
        order.push_back(path + (parser->isDeleted(e) ? " *" : ""));
        if (!parser->isFolder(e) || listing.size() > 100000) return;
        for (fs::EntryRef c = parser->firstChild(e); c != fs::kNoEntry; c = parser->nextSibling(c))
            walk(c, path + "/" + parser->name(c));
    }
    fs::EntryRef find(const std::string& path, bool deleted) const {
        auto it = listing.find({path, deleted});
        return it == listing.end() ? fs::kNoEntry : it->second;
    }
    // Saves the entry: the saved file's digest, and whether its data was reported damaged.
    std::string save(fs::EntryRef e, bool& damaged, struct stat* st) {
        stdfs::path target = out.path() / std::to_string(++saved);
        std::string error;
        fs::Result<fs::EntryData> data = parser->openData(e, silentFeedback());
        damaged = data.ok() && !data->stream->damaged().empty();
        EXPECT_TRUE(test::saveEntryTo(*parser, e, target, error)) << error;
        EXPECT_EQ(::stat(target.c_str(), st), 0);
        return test::Sha256::ofFile(target.string());
    }

    stdfs::path dir;
    test::BuiltArray array;
    std::unique_ptr<disk::readWriteInterface> reader;
    volumes::VolumeRecord volume;
    fs::MemoryTree tree;
    std::unique_ptr<fs::Fat64Class> parser;
    std::multimap<std::pair<std::string, bool>, fs::EntryRef> listing;
    std::vector<std::string> order;  // every path, depth first, each folder in its own order
    nlohmann::json manifest;
    test::TempFolder out;
    int saved = 0;
};

}  // namespace

TEST_P(ExFatFixture, EveryLiveFileSavesWithItsBytesAndTimes) {
    size_t files = 0;
    for (const auto& e : manifest["entries"]) {
        std::string path = e["path"];
        fs::EntryRef ref = find(path, false);
        ASSERT_NE(ref, fs::kNoEntry) << path;
        ASSERT_EQ(parser->isFolder(ref), e["is_folder"].get<bool>()) << path;
        if (parser->isFolder(ref)) continue;
        ++files;
        EXPECT_EQ(parser->dataSize(ref), e["size"].get<int64_t>()) << path;
        bool damaged = false;
        struct stat st {};
        EXPECT_EQ(save(ref, damaged, &st), e["sha256"].get<std::string>()) << path;
        EXPECT_FALSE(damaged) << path;
        EXPECT_EQ(st.st_mtim.tv_sec, e["mtime_sec"].get<int64_t>()) << path;
        EXPECT_EQ(st.st_mtim.tv_nsec, e["mtime_nsec"].get<int64_t>()) << path;
    }
    EXPECT_GE(files, 8u);
}

// A deleted file whose clusters were contiguous saves whole; one whose FAT chain was freed
// keeps its first cluster and says the rest is missing.
TEST_P(ExFatFixture, DeletedEntriesShowUnderTheirOldFolders) {
    for (const auto& e : manifest["deleted"]) {
        std::string path = e["path"];
        fs::EntryRef ref = find(path, true);
        ASSERT_NE(ref, fs::kNoEntry) << path;
        if (parser->isFolder(ref)) continue;
        bool damaged = false;
        struct stat st {};
        std::string digest = save(ref, damaged, &st);
        EXPECT_EQ(damaged, digest != e["sha256"].get<std::string>()) << path;
        EXPECT_EQ(damaged, path.find("frag") != std::string::npos) << path;
    }
}

TEST_P(ExFatFixture, ListingAgreesWithFlsInItsOrder) {
    std::ifstream in(dir / GetParam().fls);
    std::regex line(R"(^(\S)/(\S) (\* )?[^:]+:\t(.*)$)");
    std::vector<std::string> fls;
    std::string text;
    while (std::getline(in, text)) {
        std::smatch m;
        if (!std::regex_match(text, m, line) || m[1] == "v" || m[1] == "V") continue;
        std::string path = m[4];
        if (path.rfind('$', 0) == 0 || path.find("(Volume Label Entry)") != std::string::npos) continue;
        fls.push_back(path + (m[3].matched ? " *" : ""));
        fs::EntryRef ref = find(path, m[3].matched);
        ASSERT_NE(ref, fs::kNoEntry) << path;
        EXPECT_EQ(parser->isFolder(ref), m[2] == "d") << path;
    }
    EXPECT_EQ(order, fls);
}

// Lookups served from the cached FAT give what a read of each entry's own sector gives.
TEST_P(ExFatFixture, CachedFatReadsLikeOneSectorPerLookup) {
    auto digests = [&] {
        std::vector<std::string> d = order;
        for (const auto& [key, ref] : listing) d.push_back(test::readData(*parser, ref));
        return d;
    };
    std::vector<std::string> cached = digests();
    parse(true);
    EXPECT_EQ(digests(), cached);
}

INSTANTIATE_TEST_SUITE_P(
    Images, ExFatFixture,
    ::testing::Values(Case{"exfat", "exfat.img", "manifest.json", "fls.txt", 0, Array::none, "exfat"},
                      Case{"exfat", "exfat.img", "manifest.json", "fls.txt", 0, Array::raid0, "exfat_raid0"},
                      Case{"exfat", "exfat.img", "manifest.json", "fls.txt", 0, Array::degradedRaid5, "exfat_raid5"},
                      Case{"disks", "mbr/disk.img", "mbr/p6.json", "mbr/p6.fls.txt", 141312, Array::none, "mbr_p6"},
                      Case{"disks", "gpt/disk.img", "gpt/p4.json", "gpt/p4.fls.txt", 112640, Array::none,
                           "gpt_p4"}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.label; });
