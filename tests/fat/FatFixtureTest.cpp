// The FAT16 and FAT32 volumes made by mkfs.vfat and filled with mtools: every live file
// saved must match the manifest's bytes and modification time, deleted entries must show
// under their old folders, and the listing must agree with fls on names and folders.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>

#include "filesystems/MemoryTree.h"
#include "filesystems/fat/Fat16Class.h"
#include "filesystems/fat/Fat32Class.h"
#include "support/ArrayBuilder.h"
#include "support/FixtureReader.h"
#include "support/ParserHarness.h"
#include "support/Sha256.h"
#include "support/TempFolder.h"

using namespace quenlow;
namespace stdfs = std::filesystem;

namespace {

using Array = test::FixtureArray;
struct Case {
    std::string image;  // fat16 or fat32
    Array array;
};
std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << c.image << (c.array == Array::raid0 ? "_raid0" : c.array == Array::degradedRaid5 ? "_raid5" : "");
}

// A deleted short name starts with U+FFE5 where fls writes '_'.
std::string flsForm(const std::string& name) {
    static const std::string yen = "\xEF\xBF\xA5";
    return name.rfind(yen, 0) == 0 ? "_" + name.substr(yen.size()) : name;
}

class FatFixture : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        std::string name = GetParam().image;
        dir = stdfs::path(QUENLOW_FIXTURE_DIR) / "fat" / name;
        stdfs::path image = dir / (name + ".img");
        if (!stdfs::exists(image)) GTEST_SKIP() << "fixture missing: " << image;
        std::string error;
        reader = test::openFixture(image, GetParam().array, array, error);
        ASSERT_TRUE(reader) << error;
        volume.volumeSizeText = std::to_string(stdfs::file_size(image) / 1048576) + "   MB";
        fs::ParserSetup setup = test::setupOn(*reader, volume, tree);
        if (name == "fat16")
            parser = std::make_unique<fs::Fat16Class>(setup);
        else
            parser = std::make_unique<fs::Fat32Class>(setup);
        ASSERT_TRUE(test::parseIn(*parser).status.ok());
        for (fs::EntryRef e : parser->firstLevel()) walk(e, flsForm(parser->name(e)));
        std::ifstream in(dir / "manifest.json");
        manifest = nlohmann::json::parse(in);
    }
    void walk(fs::EntryRef e, const std::string& path) {
        listing.emplace(std::make_pair(path, parser->isDeleted(e)), e);
        if (!parser->isFolder(e) || listing.size() > 100000) return;
        for (fs::EntryRef c = parser->firstChild(e); c != fs::kNoEntry; c = parser->nextSibling(c))
            walk(c, path + "/" + flsForm(parser->name(c)));
    }
    fs::EntryRef find(const std::string& path, bool deleted) const {
        auto it = listing.find({path, deleted});
        return it == listing.end() ? fs::kNoEntry : it->second;
    }

    stdfs::path dir;
    test::BuiltArray array;
    std::unique_ptr<disk::readWriteInterface> reader;
    volumes::VolumeRecord volume;
    fs::MemoryTree tree;
    std::unique_ptr<fs::FatVolumeParser> parser;
    std::multimap<std::pair<std::string, bool>, fs::EntryRef> listing;
    nlohmann::json manifest;
};

}  // namespace

TEST_P(FatFixture, EveryLiveFileSavesWithItsBytesAndTimes) {
    test::TempFolder out;
    size_t files = 0;
    for (const auto& e : manifest["entries"]) {
        std::string path = e["path"];
        fs::EntryRef ref = find(path, false);
        ASSERT_NE(ref, fs::kNoEntry) << path;
        EXPECT_EQ(parser->isFolder(ref), e["is_folder"].get<bool>()) << path;
        struct stat st {};
        if (parser->isFolder(ref)) {
            EXPECT_EQ(parser->times(ref).modified->seconds, e["mtime_sec"].get<int64_t>()) << path;
            continue;
        }
        ++files;
        EXPECT_EQ(parser->dataSize(ref), e["size"].get<int64_t>()) << path;
        stdfs::path target = out.path() / std::to_string(files);
        std::string error;
        ASSERT_TRUE(test::saveEntryTo(*parser, ref, target, error)) << path << ": " << error;
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, e["mtime_sec"].get<int64_t>()) << path;
        EXPECT_EQ(test::Sha256::ofFile(target.string()), e["sha256"].get<std::string>()) << path;
    }
    EXPECT_GE(files, 400u);
}

TEST_P(FatFixture, DeletedEntriesShowUnderTheirOldFoldersWithTheirFirstCluster) {
    test::TempFolder out;
    for (const auto& e : manifest["deleted"]) {
        std::string path = e["path"];
        // A deleted short name lost its first letter: try each part with '_' in its place.
        std::vector<size_t> starts{0};
        for (size_t i = 0; i < path.size(); ++i)
            if (path[i] == '/') starts.push_back(i + 1);
        fs::EntryRef ref = fs::kNoEntry;
        for (size_t mask = 0; mask < (size_t{1} << starts.size()) && ref == fs::kNoEntry; ++mask) {
            std::string p = path;
            for (size_t k = 0; k < starts.size(); ++k)
                if (mask & (size_t{1} << k)) p[starts[k]] = '_';
            ref = find(p, true);
        }
        ASSERT_NE(ref, fs::kNoEntry) << path;
        if (parser->isFolder(ref)) continue;
        // Within one cluster the data is whole; beyond it the chain is gone and the rest is
        // reported damaged.
        fs::Result<fs::EntryData> data = parser->openData(ref, silentFeedback());
        ASSERT_TRUE(data.ok());
        std::string bytes(data->stream->size(), '\0');
        data->stream->read(0, bytes.data(), bytes.size());
        uint64_t cluster = parser->geometry().clusterBytes;
        if (bytes.size() <= cluster) {
            EXPECT_EQ(test::Sha256::of(std::vector<uint8_t>(bytes.begin(), bytes.end())), e["sha256"].get<std::string>());
            EXPECT_TRUE(data->stream->damaged().empty());
        } else {
            ASSERT_EQ(data->stream->damaged().size(), 1u) << path;
            EXPECT_EQ(data->stream->damaged()[0].offset, cluster);
        }
    }
}

TEST_P(FatFixture, ListingAgreesWithFlsOnNamesAndFolders) {
    std::ifstream in(dir / "fls.txt");
    std::regex line(R"(^(\S)/(\S) (\* )?\d+:\t(.*)$)");
    std::set<std::pair<std::string, bool>> fls;
    std::string text;
    while (std::getline(in, text)) {
        std::smatch m;
        if (!std::regex_match(text, m, line)) continue;
        std::string path = m[4];
        if (path[0] == '$' || path.find("(Volume Label Entry)") != std::string::npos) continue;
        bool deleted = m[3].matched;
        fls.insert({path, deleted});
        fs::EntryRef ref = find(path, deleted);
        if (ref == fs::kNoEntry && path.size() > 150) {  // fls cuts very long names
            auto it = listing.lower_bound({path, false});
            for (; it != listing.end() && it->first.first.rfind(path, 0) == 0; ++it)
                if (it->first.second == deleted) {
                    ref = it->second;
                    fls.insert(it->first);
                }
        }
        ASSERT_NE(ref, fs::kNoEntry) << path << (deleted ? " (deleted)" : "");
        EXPECT_EQ(parser->isFolder(ref), m[2] == "d") << path;
    }
    EXPECT_GT(fls.size(), 420u);
    for (const auto& [key, ref] : listing)
        if (!fls.count(key)) ADD_FAILURE() << "only in our listing: " << key.first;
}

INSTANTIATE_TEST_SUITE_P(Images, FatFixture,
                         ::testing::Values(Case{"fat16", Array::none}, Case{"fat32", Array::none},
                                           Case{"fat16", Array::raid0}, Case{"fat32", Array::raid0},
                                           Case{"fat16", Array::degradedRaid5}, Case{"fat32", Array::degradedRaid5}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::ostringstream name;
                             name << info.param;
                             return name.str();
                         });
