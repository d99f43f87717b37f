// HFS+ volumes made by xorriso, read directly and from RAID members: every live file saves
// with its bytes and its content modification date, the listing holds what fls lists, and
// deep mode's scan finds every record the catalog walk finds.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sys/stat.h>

#include "filesystems/MemoryTree.h"
#include "filesystems/hfsplus/HFSP.h"
#include "support/FixtureReader.h"
#include "support/ParserHarness.h"
#include "support/Sha256.h"
#include "support/TempFolder.h"

using namespace quenlow;
namespace stdfs = std::filesystem;

namespace {

using Array = test::FixtureArray;
struct Case {
    std::string archive, image, manifest, fls;
    int64_t startSector;
    std::string sizeText;
    Array array;
    std::string label;
};

class HfsFixture : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        const Case& c = GetParam();
        dir = stdfs::path(QUENLOW_FIXTURE_DIR) / c.archive;
        stdfs::path image = dir / c.image;
        if (!stdfs::exists(image)) GTEST_SKIP() << "fixture missing: " << image;
        std::string error;
        reader = test::openFixture(image, c.array, array, error);
        ASSERT_TRUE(reader) << error;
        volume = {"HFS+", "0", c.sizeText, c.startSector};
        std::ifstream in(dir / c.manifest);
        manifest = nlohmann::json::parse(in);
        parse(fs::Mode::Standard);
    }
    void parse(fs::Mode mode) {
        listing.clear(), tree.clear();
        parser = std::make_unique<fs::HFSP>(test::setupOn(*reader, volume, tree));
        ASSERT_TRUE(test::parseIn(*parser, silentFeedback(), mode).status.ok());
        for (fs::EntryRef e : parser->firstLevel()) walk(e, parser->name(e));
    }
    void walk(fs::EntryRef e, const std::string& path) {
        if (!listing.emplace(path, e).second || !parser->isFolder(e) || listing.size() > 100000) return;
        for (fs::EntryRef c = parser->firstChild(e); c != fs::kNoEntry; c = parser->nextSibling(c))
            walk(c, path + "/" + parser->name(c));
    }
    std::string save(fs::EntryRef e, bool& damaged, struct stat* st) {
        return test::saveAndHash(*parser, e, out.path() / std::to_string(++saved), damaged, st);
    }

    stdfs::path dir;
    test::BuiltArray array;
    std::unique_ptr<disk::readWriteInterface> reader;
    volumes::VolumeRecord volume;
    fs::MemoryTree tree;
    std::unique_ptr<fs::HFSP> parser;
    std::map<std::string, fs::EntryRef> listing;
    nlohmann::json manifest;
    test::TempFolder out;
    int saved = 0;
};

}  // namespace

// xorriso stores a file's modification time in all four dates; the saved file takes the
// content modification date, the one the list shows.
TEST_P(HfsFixture, EveryLiveFileSavesWithItsBytesAndTimes) {
    size_t files = 0;
    for (const auto& e : manifest["entries"]) {
        std::string path = e["path"];
        auto it = listing.find(path);
        ASSERT_NE(it, listing.end()) << path;
        ASSERT_EQ(parser->isFolder(it->second), e["is_folder"].get<bool>()) << path;
        EXPECT_EQ(it->second, e["inode"].get<fs::EntryRef>()) << path;
        if (parser->isFolder(it->second)) continue;
        ++files;
        EXPECT_EQ(parser->dataSize(it->second), e["size"].get<int64_t>()) << path;
        bool damaged = false;
        struct stat st {};
        EXPECT_EQ(save(it->second, damaged, &st), e["sha256"].get<std::string>()) << path;
        EXPECT_FALSE(damaged) << path;
        EXPECT_EQ(st.st_mtim.tv_sec, e["mtime_sec"].get<int64_t>()) << path;
        EXPECT_EQ(parser->times(it->second).modified->seconds, e["mtime_sec"].get<int64_t>()) << path;
    }
    EXPECT_GE(files, 8u);
    EXPECT_EQ(listing.size(), manifest["entries"].size());
}

TEST_P(HfsFixture, ListingHoldsWhatFlsLists) {
    std::ifstream in(dir / GetParam().fls);
    std::regex line(R"(^(\S)/(\S) [^:]+:\t(.*)$)");
    std::set<std::string> fls, ours;
    std::string text;
    while (std::getline(in, text)) {
        std::smatch m;
        if (std::regex_match(text, m, line) && m[3].str().rfind('$', 0) != 0) fls.insert(m[3].str() + (m[2] == "d" ? "/" : ""));
    }
    for (const auto& [path, ref] : listing) ours.insert(path + (parser->isFolder(ref) ? "/" : ""));
    EXPECT_EQ(ours, fls);
}

// The scan finds every folder and file record; folders go under ORPHAN_ENTRY, files stay
// with their catalog parent, and each file's data is the same.
TEST_P(HfsFixture, DeepModeFindsEveryRecord) {
    std::map<fs::EntryRef, std::string> standard;
    for (const auto& [path, ref] : listing) standard[ref] = parser->isFolder(ref) ? "" : test::readData(*parser, ref);
    parse(fs::Mode::Deep);
    ASSERT_TRUE(parser->scanned());
    const fs::HfsCatalogEntry& orphan = parser->catalog().entries().back();
    EXPECT_EQ(orphan.name, "ORPHAN_ENTRY");
    EXPECT_EQ(parser->firstLevel().back(), orphan.id);
    for (const auto& [ref, data] : standard) {
        const fs::HfsCatalogEntry* e = parser->catalog().find(ref);
        ASSERT_NE(e, nullptr) << ref;
        if (e->isFolder()) EXPECT_EQ(e->parentRef, orphan.id);
        else EXPECT_EQ(test::readData(*parser, ref), data) << e->name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Images, HfsFixture,
    ::testing::Values(Case{"hfsplus", "hfsplus.img", "manifest.json", "fls.txt", 0, "4   MB", Array::none, "hfsplus"},
                      Case{"hfsplus", "hfsplus.img", "manifest.json", "fls.txt", 0, "4   MB", Array::raid0, "hfsplus_raid0"},
                      Case{"hfsplus", "hfsplus.img", "manifest.json", "fls.txt", 0, "4   MB", Array::degradedRaid5,
                           "hfsplus_raid5"},
                      Case{"disks", "gpt/disk.img", "gpt/p6.json", "gpt/p6.fls.txt", 161792, "2   MB", Array::none,
                           "gpt_p6"}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.label; });
