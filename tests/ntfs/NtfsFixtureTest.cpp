// The NTFS volumes made by mkntfs and filled through ntfs-3g: every live file saved must
// match the manifest's bytes and modification time, deleted entries must show under their
// old folders, and the listing must agree with fls on names and folders.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sys/stat.h>

#include "disk/FileReadSeek.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/ntfs/ntfs.h"
#include "support/Sha256.h"
#include "support/TempFolder.h"

using namespace quenlow;
using fs::ntfs;
namespace stdfs = std::filesystem;

namespace {

struct Listed {
    fs::EntryRef ref;
    bool folder;
    bool deleted;
};

class NtfsFixture : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        std::string name = GetParam();
        dir = stdfs::path(QUENLOW_FIXTURE_DIR) / name;
        stdfs::path image = dir / (name + ".img");
        if (!stdfs::exists(image)) GTEST_SKIP() << "fixture missing: " << image;
        ASSERT_TRUE(reader.open(image.string()));
        volume.fileSystem = "NTFS";
        volume.volumeSizeText = std::to_string(reader.sizeBytes() / 1048576) + "   MB";
        parser = std::make_unique<ntfs>(reader, volume, tree, "ROOT");
        parser->prepare();
        ASSERT_TRUE(parser->readBootSector());
        ASSERT_TRUE(parser->locateMft());
        parser->enumerateMft();
        ASSERT_TRUE(parser->parseEntries());
        for (fs::EntryRef e : parser->firstLevel()) walk(e, parser->name(e), parser->name(e) == "ORPHAN_ENTRY");
        std::ifstream in(dir / "manifest.json");
        manifest = nlohmann::json::parse(in);
    }
    void walk(fs::EntryRef e, const std::string& path, bool orphan) {
        if (!orphan) listing.emplace(std::make_pair(path, parser->isDeleted(e)), Listed{e, parser->isFolder(e), parser->isDeleted(e)});
        if (!parser->isFolder(e) || listing.size() > 100000) return;
        for (fs::EntryRef c = parser->firstChild(e); c != fs::kNoEntry; c = parser->nextSibling(c))
            walk(c, path + "/" + parser->name(c), orphan);
    }
    const Listed* find(const std::string& path, bool deleted) const {
        auto it = listing.find({path, deleted});
        return it == listing.end() ? nullptr : &it->second;
    }

    stdfs::path dir;
    disk::FileReadSeek reader;
    volumes::VolumeRecord volume;
    fs::MemoryTree tree;
    std::unique_ptr<ntfs> parser;
    std::multimap<std::pair<std::string, bool>, Listed> listing;
    nlohmann::json manifest;
};

}  // namespace

TEST_P(NtfsFixture, EveryLiveFileSavesWithItsBytesAndTimes) {
    test::TempFolder out;
    size_t files = 0;
    for (const auto& e : manifest["entries"]) {
        std::string path = e["path"];
        const Listed* l = find(path, false);
        ASSERT_NE(l, nullptr) << path;
        EXPECT_EQ(l->folder, e["is_folder"].get<bool>()) << path;
        if (l->folder) continue;
        ++files;
        EXPECT_EQ(parser->dataSize(l->ref), e["size"].get<int64_t>()) << path;
        stdfs::path target = out.path() / std::to_string(files);
        std::string error;
        ASSERT_TRUE(parser->saveEntry(l->ref, target.string(), error)) << path << ": " << error;
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, e["mtime_sec"].get<int64_t>()) << path;
        EXPECT_EQ(st.st_mtim.tv_nsec, e["mtime_nsec"].get<int64_t>()) << path;
        EXPECT_EQ(test::Sha256::ofFile(target.string()), e["sha256"].get<std::string>()) << path;
    }
    EXPECT_GE(files, 4u);
}

TEST_P(NtfsFixture, DeletedEntriesShowUnderTheirOldFoldersAndStillSave) {
    test::TempFolder out;
    for (const auto& e : manifest["deleted"]) {
        std::string path = e["path"];
        const Listed* l = find(path, true);
        ASSERT_NE(l, nullptr) << path;
        EXPECT_TRUE(l->deleted);
        if (l->folder) continue;
        stdfs::path target = out.path() / "deleted";
        std::string error;
        ASSERT_TRUE(parser->saveEntry(l->ref, target.string(), error)) << error;
        EXPECT_EQ(test::Sha256::ofFile(target.string()), e["sha256"].get<std::string>()) << path;
        stdfs::remove(target);
    }
}

TEST_P(NtfsFixture, ListingAgreesWithFlsOnNamesAndFolders) {
    std::ifstream in(dir / "fls.txt");
    std::regex line(R"(^(\S)/(\S) (\* )?[^:]+:\t(.*)$)");
    std::set<std::pair<std::string, bool>> fls;
    std::set<std::string> withStreams;
    std::string text;
    while (std::getline(in, text)) {
        std::smatch m;
        if (!std::regex_match(text, m, line)) continue;
        std::string path = m[4];
        if (path.rfind("$OrphanFiles", 0) == 0 || path == "$MFT") continue;
        size_t slash = path.rfind('/');
        size_t colon = path.find(':', slash == std::string::npos ? 0 : slash);
        if (colon != std::string::npos) {  // a named stream
            withStreams.insert(path.substr(0, colon));
            continue;
        }
        bool deleted = m[3].matched;
        fls.insert({path, deleted});
        const Listed* l = find(path, deleted);
        ASSERT_NE(l, nullptr) << path << (deleted ? " (deleted)" : "");
        EXPECT_EQ(l->folder, m[2] == "d") << path;
    }
    for (const auto& [key, l] : listing) {
        if (fls.count(key) || withStreams.count(key.first)) continue;
        ADD_FAILURE() << "only in our listing: " << key.first;
    }
}

INSTANTIATE_TEST_SUITE_P(Images, NtfsFixture, ::testing::Values("ntfs", "ntfs512"));
