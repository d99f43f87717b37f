// ext volumes made by mke2fs, read directly and from RAID members: every live file saves
// with its bytes and modification time (symbolic links as files holding their target), and
// the listing agrees with fls on the live names and which of them are folders.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sys/stat.h>

#include "filesystems/MemoryTree.h"
#include "filesystems/ext/ext2Class.h"
#include "support/FixtureReader.h"
#include "support/MemoryDisk.h"
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
    Array array;
    std::string label;
};

class ExtFixture : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        const Case& c = GetParam();
        dir = stdfs::path(QUENLOW_FIXTURE_DIR) / c.archive;
        stdfs::path image = dir / c.image;
        if (!stdfs::exists(image)) GTEST_SKIP() << "fixture missing: " << image;
        std::string error;
        reader = test::openFixture(image, c.array, array, error);
        ASSERT_TRUE(reader) << error;
        volume.fileSystem = "extX";
        volume.startSector = c.startSector;
        volume.volumeSizeText = std::to_string(c.startSector == 0 ? stdfs::file_size(image) >> 20 : 16) + "   MB";
        std::ifstream in(dir / c.manifest);
        manifest = nlohmann::json::parse(in);
        parser = std::make_unique<fs::ext2Class>(test::setupOn(*reader, volume, tree));
        ASSERT_TRUE(test::parseIn(*parser).status.ok());
        for (fs::EntryRef e : parser->firstLevel()) walk(e, parser->name(e));
    }
    void walk(fs::EntryRef e, const std::string& path) {
        listing.emplace(path, e);
        if (!parser->isFolder(e) || listing.size() > 100000) return;
        for (fs::EntryRef c = parser->firstChild(e); c != fs::kNoEntry; c = parser->nextSibling(c))
            walk(c, path + "/" + parser->name(c));
    }

    // huge/above4g.bin: 5242882000 bytes with data at 0, at 4.5 GiB and in its last 1000
    // bytes; everything else is holes, known without reading.
    void checkAboveFourGiB(fs::EntryRef ref) {
        fs::Result<fs::EntryData> data = parser->openData(ref, silentFeedback());
        ASSERT_TRUE(data.ok());
        fs::DataStream& s = *data->stream;
        const uint64_t mid = uint64_t{4608} << 20;
        EXPECT_EQ(s.size(), 5242882000u);
        EXPECT_FALSE(s.extentAt(0).hole);
        EXPECT_TRUE(s.extentAt(4096).hole);
        EXPECT_EQ(s.extentAt(4096).length, mid - 4096);
        std::ifstream in(dir / "ext4/above4g-at-4.5GiB.bin", std::ios::binary);
        std::string expected((std::istreambuf_iterator<char>(in)), {}), got(4096, '\0');
        ASSERT_EQ(s.read(mid, got.data(), got.size()), 4096u);
        EXPECT_EQ(got, expected);
        EXPECT_TRUE(s.damaged().empty());
    }

    stdfs::path dir;
    test::BuiltArray array;
    std::unique_ptr<disk::readWriteInterface> reader;
    volumes::VolumeRecord volume;
    fs::MemoryTree tree;
    std::unique_ptr<fs::ext2Class> parser;
    std::map<std::string, fs::EntryRef> listing;
    nlohmann::json manifest;
    test::TempFolder out;
};

}  // namespace

TEST_P(ExtFixture, EveryLiveFileSavesWithItsBytesAndTimes) {
    size_t files = 0;
    for (const auto& e : manifest["entries"]) {
        std::string path = e["path"];
        auto it = listing.find(path);
        ASSERT_NE(it, listing.end()) << path;
        fs::EntryRef ref = it->second;
        ASSERT_EQ(parser->isFolder(ref), e["is_folder"].get<bool>()) << path;
        if (e.value("special", false)) {
            EXPECT_FALSE(parser->isFile(ref)) << path;
            continue;
        }
        if (parser->isFolder(ref)) continue;
        ++files;
        if (e["size"].get<int64_t>() > (int64_t{1} << 30)) {
            checkAboveFourGiB(ref);
            continue;
        }
        EXPECT_EQ(parser->dataSize(ref), e["size"].get<int64_t>()) << path;
        stdfs::path target = out.path() / std::to_string(files);
        std::string error;
        fs::Result<fs::EntryData> data = parser->openData(ref, silentFeedback());
        ASSERT_TRUE(data.ok()) << path;
        EXPECT_TRUE(data->stream->damaged().empty()) << path;
        ASSERT_TRUE(test::saveEntryTo(*parser, ref, target, error)) << path << ": " << error;
        if (e.contains("symlink")) {
            std::ifstream saved(target);
            std::string text((std::istreambuf_iterator<char>(saved)), {});
            EXPECT_EQ(text, e["symlink"].get<std::string>()) << path;
        } else {
            EXPECT_EQ(test::Sha256::ofFile(target.string()), e["sha256"].get<std::string>()) << path;
        }
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, e["mtime_sec"].get<int64_t>()) << path;
        EXPECT_EQ(st.st_mtim.tv_nsec, e["mtime_nsec"].get<int64_t>()) << path;
    }
    EXPECT_GE(files, 8u);
}

// fls lists live names (and deleted ones, which this parser does not look for); the root's
// own "." stays at the first level as an empty folder.
TEST_P(ExtFixture, ListingAgreesWithFlsOnLiveNames) {
    std::ifstream in(dir / GetParam().fls);
    std::regex line(R"(^(\S)/(\S) (\* )?[^:]+:\t(.*)$)");
    std::set<std::string> fls, ours;
    std::string text;
    while (std::getline(in, text)) {
        std::smatch m;
        if (!std::regex_match(text, m, line) || m[3].matched || m[1] == "V") continue;
        fls.insert(m[4].str() + (m[2] == "d" ? "/" : ""));
    }
    for (const auto& [path, ref] : listing)
        if (path != ".") ours.insert(path + (parser->isFolder(ref) ? "/" : ""));
    EXPECT_EQ(ours, fls);
    ASSERT_TRUE(listing.count("."));
    EXPECT_TRUE(parser->isFolder(listing["."]));
    EXPECT_FALSE(parser->hasChildren(listing["."]));
}

INSTANTIATE_TEST_SUITE_P(
    Images, ExtFixture,
    ::testing::Values(Case{"disks", "mbr/disk.img", "mbr/p7.json", "mbr/p7.fls.txt", 159744, Array::none, "mbr_p7"},
                      Case{"disks", "gpt/disk.img", "gpt/p5.json", "gpt/p5.fls.txt", 129024, Array::none, "gpt_p5"},
                      Case{"disks", "gpt/disk.img", "gpt/p5.json", "gpt/p5.fls.txt", 129024, Array::raid0,
                           "gpt_p5_raid0"},
                      Case{"disks", "gpt/disk.img", "gpt/p5.json", "gpt/p5.fls.txt", 129024, Array::degradedRaid5,
                           "gpt_p5_raid5"},
                      Case{"ext", "ext2/ext2.img", "ext2/manifest.json", "ext2/fls.txt", 0, Array::none, "ext2"},
                      Case{"ext", "ext2/ext2.img", "ext2/manifest.json", "ext2/fls.txt", 0, Array::degradedRaid5,
                           "ext2_raid5"},
                      Case{"ext", "ext3/ext3.img", "ext3/manifest.json", "ext3/fls.txt", 0, Array::none, "ext3"},
                      Case{"ext", "ext4/ext4.img", "ext4/manifest.json", "ext4/fls.txt", 0, Array::none, "ext4"},
                      Case{"ext", "ext4/ext4.img", "ext4/manifest.json", "ext4/fls.txt", 0, Array::raid0, "ext4_raid0"},
                      Case{"ext", "ext4/ext4.img", "ext4/manifest.json", "ext4/fls.txt", 0, Array::degradedRaid5,
                           "ext4_raid5"}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.label; });

// The primary superblock destroyed: the search goes on to the backup in group 1 (block
// 8193 of 1 KiB blocks) and the volume lists as before.
TEST(ExtBackupSuperblock, FoundWhenThePrimaryIsGone) {
    stdfs::path image = stdfs::path(QUENLOW_FIXTURE_DIR) / "ext/ext2/ext2.img";
    if (!stdfs::exists(image)) GTEST_SKIP() << "fixture missing: " << image;
    std::ifstream in(image, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
    auto names = [](std::vector<unsigned char> b, int64_t* at) {
        test::MemoryDisk disk(std::move(b));
        volumes::VolumeRecord volume;
        volume.volumeSizeText = "12   MB";
        fs::MemoryTree tree;
        fs::ext2Class parser(test::setupOn(disk, volume, tree));
        EXPECT_TRUE(test::parseIn(parser).status.ok());
        *at = parser.volume().superblockOffset();
        std::vector<std::string> out;
        for (const auto& e : parser.entries()) out.push_back(e.name + "|" + std::to_string(e.parentRef));
        return out;
    };
    int64_t primary = 0, backup = 0;
    std::vector<std::string> before = names(bytes, &primary);
    std::fill(bytes.begin() + 1024, bytes.begin() + 2048, 0);
    EXPECT_EQ(names(bytes, &backup), before);
    EXPECT_EQ(primary, 1024);
    EXPECT_EQ(backup, 8193 * 1024);
}
