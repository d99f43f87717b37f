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
#include <sstream>
#include <sys/stat.h>

#include "disk/FileReadSeek.h"
#include "disk/FileReadSeekRaid.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/ntfs/Lznt1.h"
#include "filesystems/ntfs/ntfs.h"
#include "support/Sha256.h"
#include "support/TempFolder.h"

using namespace quenlow;
using fs::ntfs;
namespace stdfs = std::filesystem;

namespace {

// Member files of an array holding `image`: RAID-0 over n members, or RAID-5 (parity layout
// 1: parity on member row mod n, data in member order around it).
std::vector<std::string> stripe(const std::vector<char>& image, int n, int level, int64_t unit,
                                const stdfs::path& dir) {
    const int64_t dataMembers = level == 0 ? n : n - 1;
    const int64_t sectors = static_cast<int64_t>(image.size() / 512);
    const int64_t rows = (sectors + dataMembers * unit - 1) / (dataMembers * unit);
    std::vector<std::vector<char>> members(static_cast<size_t>(n), std::vector<char>(static_cast<size_t>(rows * unit * 512), 0));
    for (int64_t l = 0; l < sectors; ++l) {
        int64_t q = l / unit, r = l % unit, member, at;
        if (level == 0) {
            member = q % n;
            at = (q / n) * unit + r;
        } else {
            int64_t row = q / dataMembers, k = q % dataMembers, parity = row % n;
            member = k < parity ? k : k + 1;
            at = row * unit + r;
        }
        std::copy_n(image.begin() + l * 512, 512, members[static_cast<size_t>(member)].begin() + at * 512);
    }
    if (level == 5)
        for (int64_t row = 0; row < rows; ++row) {
            size_t parity = static_cast<size_t>(row % n);
            for (int64_t b = row * unit * 512; b < (row + 1) * unit * 512; ++b) {
                char x = 0;
                for (size_t m = 0; m < members.size(); ++m)
                    if (m != parity) x = static_cast<char>(x ^ members[m][static_cast<size_t>(b)]);
                members[parity][static_cast<size_t>(b)] = x;
            }
        }
    std::vector<std::string> paths;
    for (int m = 0; m < n; ++m) {
        stdfs::path p = dir / ("member" + std::to_string(m) + ".img");
        std::ofstream(p, std::ios::binary).write(members[static_cast<size_t>(m)].data(),
                                                 static_cast<std::streamsize>(members[static_cast<size_t>(m)].size()));
        paths.push_back(p.string());
    }
    return paths;
}

// How the test reads the image: directly, as a RAID-0 of two members, or as a RAID-5 of
// three members with the second one missing.
enum class Array { none, raid0, degradedRaid5 };
struct Case {
    std::string image;
    Array array;
};
std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << c.image << (c.array == Array::raid0 ? "_raid0" : c.array == Array::degradedRaid5 ? "_raid5" : "");
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
        if (GetParam().array == Array::none) {
            auto file = std::make_unique<disk::FileReadSeek>();
            ASSERT_TRUE(file->open(image.string()));
            reader = std::move(file);
        } else {
            std::ifstream in(image, std::ios::binary);
            std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
            auto raid = std::make_unique<disk::FileReadSeekRaid>();
            bool raid5 = GetParam().array == Array::degradedRaid5;
            raid->memberNames = stripe(bytes, raid5 ? 3 : 2, raid5 ? 5 : 0, raid5 ? 64 : 128, members.path());
            if (raid5) raid->memberNames[1] = "MISSING DISK";
            raid->partitionOffsets.assign(raid->memberNames.size(), 0);
            raid->level = raid5 ? 5 : 0;
            raid->parityLayout = 1;
            raid->stripeSectors = raid5 ? 64 : 128;
            ASSERT_TRUE(raid->open()) << raid->lastError();
            reader = std::move(raid);
        }
        volume.fileSystem = "NTFS";
        volume.volumeSizeText = std::to_string(stdfs::file_size(image) / 1048576) + "   MB";
        parser = std::make_unique<ntfs>(*reader, volume, tree, "ROOT");
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
    test::TempFolder members;
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

INSTANTIATE_TEST_SUITE_P(Images, NtfsFixture,
                         ::testing::Values(Case{"ntfs", Array::none}, Case{"ntfs512", Array::none},
                                           Case{"ntfs", Array::raid0}, Case{"ntfs", Array::degradedRaid5},
                                           Case{"ntfs512", Array::degradedRaid5}),
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
    ntfs parser(reader, volume, tree, "ROOT");
    parser.prepare();
    parser.readBootSector();
    parser.locateMft();
    parser.enumerateMft();
    parser.parseEntries();
    int64_t index = -1;
    for (size_t i = 0; i < parser.entries().size(); ++i)
        if (parser.nameAt(static_cast<int64_t>(i)) == "text.txt") index = static_cast<int64_t>(i);
    ASSERT_GE(index, 0);
    std::vector<fs::NtfsRun> runs = parser.decodeRuns(parser.entries()[static_cast<size_t>(index)].recordPosition, 0x80);
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
