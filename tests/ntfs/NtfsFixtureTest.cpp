// The NTFS volumes made by mkntfs and filled through ntfs-3g: every live file saved must
// match the manifest's bytes and modification time, deleted entries must show under their
// old folders, and the listing must agree with fls on names and folders.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>

#include "disk/FileReadSeek.h"
#include "filesystems/MemoryTree.h"
#include "support/ParserHarness.h"
#include "filesystems/ntfs/Lznt1.h"
#include "filesystems/ntfs/ntfs.h"
#include "support/ArrayBuilder.h"
#include "support/FixtureReader.h"
#include "support/MemoryDisk.h"
#include "support/RecordingFeedback.h"
#include "support/Sha256.h"
#include "support/TempFolder.h"

using namespace quenlow;
using fs::ntfs;
namespace stdfs = std::filesystem;

namespace {

// How the test reads the image: directly, as a RAID-0 of two members, or as a RAID-5 of
// three members (rotating parity, data continuation) with the second one missing.
using Array = test::FixtureArray;
struct Case {
    std::string image;
    Array array;
    bool wiped = false;  // both boot sectors zeroed: parsed in advanced mode from the first $MFT found
};
std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << c.image << (c.array == Array::raid0 ? "_raid0" : c.array == Array::degradedRaid5 ? "_raid5" : "")
               << (c.wiped ? "_wiped_advanced" : "");
}

// The image with both boot sectors zeroed; `sectors` and `mft` take what the first one gave.
std::vector<uint8_t> wipedImage(const stdfs::path& image, int64_t& sectors, int64_t& mft) {
    std::ifstream in(image, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    const int64_t cluster = static_cast<int64_t>(fs::NtfsRecord::read16(bytes.data(), 11)) * bytes[13];
    sectors = cluster / 512;
    mft = static_cast<int64_t>(fs::NtfsRecord::read64(bytes.data(), 48)) * cluster;
    std::fill_n(bytes.begin(), 512, 0), std::fill_n(bytes.end() - 512, 512, 0);
    return bytes;
}

struct Listed {
    fs::EntryRef ref;
    bool folder;
    bool deleted;
};

class NtfsFixture : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        std::string name = GetParam().image;
        dir = stdfs::path(QUENLOW_FIXTURE_DIR) / name;
        stdfs::path image = dir / (name + ".img");
        if (!stdfs::exists(image)) GTEST_SKIP() << "fixture missing: " << image;
        int64_t sectors = 0, mft = 0;
        if (GetParam().wiped) {
            reader = std::make_unique<test::MemoryDisk>(wipedImage(image, sectors, mft));
        } else {
            std::string error;
            reader = test::openFixture(image, GetParam().array, array, error);
            ASSERT_TRUE(reader) << error;
        }
        volume.fileSystem = "NTFS";
        volume.volumeSizeText = std::to_string(stdfs::file_size(image) / 1048576) + "   MB";
        parser = std::make_unique<ntfs>(test::setupOn(*reader, volume, tree));
        if (GetParam().wiped) {
            WorkControl control;
            fs::Result<fs::CandidateSearch> found = parser->findCandidates(control, silentFeedback(), 3);
            ASSERT_TRUE(found && !found->entries.empty() && found->entries[0] == mft);
            std::string error;
            ASSERT_TRUE(parser->chooseCandidate(fs::CandidateChoice{0, sectors, {}}, error)) << error;
        }
        ASSERT_TRUE(test::parseIn(*parser, silentFeedback(), GetParam().wiped ? fs::Mode::Advanced : fs::Mode::Standard).status.ok());
        ASSERT_TRUE(parser->mftLocated());
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
    test::BuiltArray array;
    std::unique_ptr<disk::readWriteInterface> reader;
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
        ASSERT_TRUE(test::saveEntryTo(*parser, l->ref, target, error)) << path << ": " << error;
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
        ASSERT_TRUE(test::saveEntryTo(*parser, l->ref, target, error)) << error;
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

INSTANTIATE_TEST_SUITE_P(Images, NtfsFixture,
                         ::testing::Values(Case{"ntfs", Array::none}, Case{"ntfs512", Array::none},
                                           Case{"ntfs", Array::raid0}, Case{"ntfs", Array::degradedRaid5},
                                           Case{"ntfs512", Array::degradedRaid5}, Case{"ntfs", Array::none, true},
                                           Case{"ntfs512", Array::none, true}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::ostringstream name;
                             name << info.param;
                             return name.str();
                         });

TEST(NtfsFixtureLznt1, UnitsCompressedByTheDriverDecompress) {
    // compressed/text.txt: three 16-cluster units, each a few stored clusters and a hole.
    stdfs::path dir = stdfs::path(QUENLOW_FIXTURE_DIR) / "ntfs";
    if (!stdfs::exists(dir / "ntfs.img")) GTEST_SKIP() << "fixture missing";
    disk::FileReadSeek reader;
    ASSERT_TRUE(reader.open((dir / "ntfs.img").string()));
    volumes::VolumeRecord volume;
    fs::MemoryTree tree;
    ntfs parser(test::setupOn(reader, volume, tree));
    test::parseIn(parser);
    int64_t index = -1;
    for (size_t i = 0; i < parser.entries().size(); ++i)
        if (parser.nameAt(static_cast<int64_t>(i)) == "text.txt") index = static_cast<int64_t>(i);
    ASSERT_GE(index, 0);
    std::vector<fs::NtfsRun> runs = parser.mftReader().decodeRuns(parser.entries()[static_cast<size_t>(index)].recordPosition, 0x80);
    std::vector<int64_t> clusters;  // 0 for a hole
    for (const fs::NtfsRun& r : runs)
        for (uint64_t k = 0; k < r.length; ++k) clusters.push_back(r.sparse ? 0 : r.cluster + static_cast<int64_t>(k));
    ASSERT_EQ(clusters.size() % 16, 0u);
    std::ifstream image(dir / "ntfs.img", std::ios::binary);
    std::vector<uint8_t> plain;
    for (size_t u = 0; u < clusters.size(); u += 16) {
        std::vector<uint8_t> stored;
        for (size_t c = u; c < u + 16 && clusters[c] != 0; ++c) {
            std::vector<uint8_t> cluster(4096);
            image.seekg(clusters[c] * 4096);
            image.read(reinterpret_cast<char*>(cluster.data()), 4096);
            stored.insert(stored.end(), cluster.begin(), cluster.end());
        }
        ASSERT_LT(stored.size(), 16u * 4096);  // compressed, not stored whole
        std::vector<uint8_t> out(16 * 4096);
        fs::Lznt1::Result r = fs::Lznt1::decompress(stored.data(), stored.size(), out.data(), out.size());
        EXPECT_TRUE(r.ok);
        out.resize(r.written);
        plain.insert(plain.end(), out.begin(), out.end());
    }
    ASSERT_GE(plain.size(), 150000u);
    plain.resize(150000);
    std::ifstream in(dir / "manifest.json");
    nlohmann::json manifest = nlohmann::json::parse(in);
    for (const auto& e : manifest["entries"])
        if (e["path"] == "compressed/text.txt") {
            EXPECT_EQ(test::Sha256::of(plain), e["sha256"].get<std::string>());
        }
}

// Random bytes over the root folder's record, or over $MFT's own: what is intact is still
// found, below ORPHAN_ENTRY (as for any damaged folder) or through $MFTMirr.
TEST(NtfsFixtureDamage, DamagedRootAndMftRecords) {
    stdfs::path dir = stdfs::path(QUENLOW_FIXTURE_DIR) / "ntfs";
    if (!stdfs::exists(dir / "ntfs.img")) GTEST_SKIP() << "fixture missing";
    std::ifstream in(dir / "ntfs.img", std::ios::binary);
    std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), {});
    const int64_t cluster = static_cast<int64_t>(fs::NtfsRecord::read16(image.data(), 11)) * image[13];
    const int64_t mft = static_cast<int64_t>(fs::NtfsRecord::read64(image.data(), 48)) * cluster;
    std::mt19937 rng(7);
    for (int record : {5, 0}) {
        std::vector<uint8_t> bytes = image;
        for (int k = 0; k < 1024; ++k) bytes[static_cast<size_t>(mft + record * 1024 + k)] = static_cast<uint8_t>(rng());
        test::MemoryDisk disk(std::move(bytes));
        fs::MemoryTree tree;
        volumes::VolumeRecord volume;
        volume.volumeSizeText = "24   MB";
        ntfs parser(test::setupOn(disk, volume, tree));
        test::RecordingFeedback feedback;
        ASSERT_TRUE(test::parseIn(parser, feedback).status.ok()) << record;
        std::map<std::string, fs::EntryRef> top;
        for (fs::EntryRef e : parser.firstLevel()) top[parser.name(e)] = e;
        fs::EntryRef documents = fs::kNoEntry;
        if (record == 5) {
            ASSERT_EQ(top.size(), 1u);
            ASSERT_EQ(top.count("ORPHAN_ENTRY"), 1u);
            for (fs::EntryRef c = parser.firstChild(top["ORPHAN_ENTRY"]); c != fs::kNoEntry; c = parser.nextSibling(c))
                if (parser.name(c) == "Documents") documents = c;
        } else {
            EXPECT_TRUE(parser.mftReader().usedMirror());
            documents = top["Documents"];
        }
        ASSERT_NE(documents, fs::kNoEntry) << record;
        fs::EntryRef readme = fs::kNoEntry;
        for (fs::EntryRef c = parser.firstChild(documents); c != fs::kNoEntry; c = parser.nextSibling(c))
            if (parser.name(c) == "readme.txt") readme = c;
        ASSERT_NE(readme, fs::kNoEntry);
        std::string data = test::readData(parser, readme);
        std::ifstream m(dir / "manifest.json");
        const nlohmann::json manifest = nlohmann::json::parse(m);
        for (const auto& e : manifest["entries"]) {
            if (e["path"] != "Documents/readme.txt") continue;
            EXPECT_EQ(test::Sha256::of(data.data(), data.size()), e["sha256"].get<std::string>());
        }
    }
}

// Deep mode, both boot sectors zeroed: every named entry, folders directly below ORPHAN_ENTRY, and
// the live files' bytes where the 4096-byte clusters taken without a boot sector fit.
TEST(NtfsFixtureDeep, EveryNamedRecordBelowOrphanEntry) {
    for (std::string name : {"ntfs", "ntfs512"}) {
        stdfs::path dir = stdfs::path(QUENLOW_FIXTURE_DIR) / name;
        if (!stdfs::exists(dir / (name + ".img"))) GTEST_SKIP() << "fixture missing";
        int64_t sectors = 0, mft = 0;
        test::MemoryDisk disk(wipedImage(dir / (name + ".img"), sectors, mft));
        fs::MemoryTree tree;
        volumes::VolumeRecord volume;
        volume.volumeSizeText = std::to_string(disk.data.size() / 1048576) + "   MB";
        ntfs parser(test::setupOn(disk, volume, tree));
        ASSERT_TRUE(test::parseIn(parser, silentFeedback(), fs::Mode::Deep).status.ok());
        std::multimap<std::pair<std::string, bool>, std::string> found;  // (name, top folder) -> digest
        for (fs::EntryRef f = parser.firstChild(parser.firstLevel().at(0)); f != fs::kNoEntry; f = parser.nextSibling(f)) {
            found.emplace(std::make_pair(parser.name(f), parser.isFolder(f)), "");
            for (fs::EntryRef c = parser.firstChild(f); c != fs::kNoEntry; c = parser.nextSibling(c))
                found.emplace(std::make_pair(parser.name(c), false), test::Sha256::of(test::readData(parser, c)));
        }
        const nlohmann::json manifest = nlohmann::json::parse(std::ifstream(dir / "manifest.json"));
        for (const char* list : {"entries", "deleted"})
            for (const auto& e : manifest[list]) {
                std::string path = e["path"];
                auto [it, end] = found.equal_range({path.substr(path.rfind('/') + 1), e["is_folder"].get<bool>()});
                ASSERT_NE(it, end) << name << ": " << path;
                bool same = list[0] == 'd' || e["is_folder"].get<bool>() || sectors != 8;
                for (; it != end && !same; ++it) same = it->second == e["sha256"].get<std::string>();
                EXPECT_TRUE(same) << path;
            }
    }
}
