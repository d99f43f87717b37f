// The advanced mode of the FAT parsers: real volumes by mkfs.vfat and mtools damaged here in
// memory (boot sectors wiped, a volume formatted again over its files, a root of 1024
// entries), crafted slots for the scan's tests, and input that must end in a clear refusal.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "disk/RecoveryContext.h"
#include "fat/support/FatImage.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/fat/Fat16Class.h"
#include "filesystems/fat/Fat32Class.h"
#include "filesystems/fat/FatSlotTest.h"
#include "support/MemoryDisk.h"
#include "support/ParserHarness.h"
#include "support/Sha256.h"

using namespace quenlow;
namespace stdfs = std::filesystem;

namespace {

std::vector<uint8_t> readImage(const stdfs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A volume parsed in advanced mode from candidate `candidate` with `sectors` per cluster.
struct Advanced {
    Advanced(std::vector<uint8_t> bytes, int bits, bool formatted = false, const char* size = "")
        : disk(std::move(bytes)) {
        context.driveFormatted = formatted;
        volume.volumeSizeText = size;
        fs::ParserSetup setup = test::setupOn(disk, volume, tree);
        setup.context = &context;
        if (bits == 32) parser = std::make_unique<fs::Fat32Class>(setup);
        else parser = std::make_unique<fs::Fat16Class>(setup);
    }
    bool run(size_t candidate, int64_t sectors, int64_t maximum = 3) {
        WorkControl control;
        search = parser->findCandidates(control, silentFeedback(), maximum).value();
        fs::CandidateChoice choice;
        choice.entry = candidate;
        choice.sectorsPerCluster = sectors;
        if (!parser->chooseCandidate(choice, error)) return false;
        outcome = parser->parse(control, silentFeedback(), fs::Mode::Advanced);
        for (fs::EntryRef e : parser->firstLevel()) walk(e, parser->name(e));
        return outcome.status.ok();
    }
    void walk(fs::EntryRef e, const std::string& path) {
        listing.emplace(path, e);
        if (!parser->isFolder(e) || listing.size() > 100000) return;
        for (fs::EntryRef c = parser->firstChild(e); c != fs::kNoEntry; c = parser->nextSibling(c))
            walk(c, path + "/" + parser->name(c));
    }
    // Every file of the list (the manifest's form) is listed once under `prefix` with its bytes.
    void expectFiles(const nlohmann::json& entries, const std::string& prefix, const std::string& under = "") {
        size_t files = 0;
        for (const auto& e : entries) {
            std::string path = e["path"];
            if (e["is_folder"].get<bool>() || path.rfind(under, 0) != 0) continue;
            std::string listed = prefix + path.substr(under.size());
            ASSERT_EQ(listing.count(listed), 1u) << listed;
            std::string bytes = test::readData(*parser, listing.find(listed)->second);
            EXPECT_EQ(test::Sha256::of(std::vector<uint8_t>(bytes.begin(), bytes.end())), e["sha256"].get<std::string>())
                << listed;
            ++files;
        }
        EXPECT_GT(files, 1u);
    }
    test::MemoryDisk disk;
    volumes::VolumeRecord volume;
    fs::MemoryTree tree;
    disk::RecoveryContext context;
    std::unique_ptr<fs::FatVolumeParser> parser;
    fs::CandidateSearch search;
    fs::ParseOutcome outcome;
    std::string error;
    std::multimap<std::string, fs::EntryRef> listing;
};

struct FixtureCase {
    const char* image;   // under the fixture folder
    const char* list;    // its manifest
    int bits;
    int64_t sectors;
    bool formatted;
    const char* prefix;  // where the files are listed
    const char* under;   // the manifest's folder they come from
};

class FatAdvancedFixture : public ::testing::TestWithParam<FixtureCase> {};

}  // namespace

// Boot sectors (and FAT32's backup at sector 6) wiped: the FATs, the root and every folder
// are found again; a volume formatted again shows its old files under the orphan folder.
TEST_P(FatAdvancedFixture, RecoversTheFilesByteForByte) {
    const FixtureCase& c = GetParam();
    stdfs::path image = stdfs::path(QUENLOW_FIXTURE_DIR) / c.image;
    if (!stdfs::exists(image)) GTEST_SKIP() << "fixture missing: " << image;
    std::vector<uint8_t> bytes = readImage(image);
    if (!c.formatted) {
        std::fill_n(bytes.begin(), 512, 0);
        if (c.bits == 32) std::fill_n(bytes.begin() + 6 * 512, 512, 0);
    }
    Advanced a(std::move(bytes), c.bits, c.formatted);
    ASSERT_TRUE(a.run(0, c.sectors)) << a.error;
    EXPECT_EQ(a.search.entries.size(), 2u);  // the FAT and its copy
    EXPECT_EQ(a.parser->geometry().clusterBytes, uint64_t(c.sectors) * 512);
    std::ifstream in(image.parent_path() / c.list);
    nlohmann::json list = nlohmann::json::parse(in);
    a.expectFiles(list.is_array() ? list : list["entries"], c.prefix, c.under);
    for (const auto& [path, ref] : a.listing) EXPECT_EQ(a.listing.count(path), 1u) << path;
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, FatAdvancedFixture,
    ::testing::Values(FixtureCase{"fat/fat32/fat32.img", "manifest.json", 32, 1, false, "", ""},
                      FixtureCase{"fat/fat16/fat16.img", "manifest.json", 16, 1, false, "", ""},
                      FixtureCase{"fatadv/fat16r1024/fat16r1024.img", "live.json", 16, 2, false, "", ""},
                      FixtureCase{"fatadv/fat32fmt/fat32fmt.img", "old.json", 32, 1, true, "ORPHAN ENTRY/",
                                  "Old Reports/"}),
    [](const ::testing::TestParamInfo<FixtureCase>& info) {
        std::string name = stdfs::path(info.param.image).stem().string();
        return name;
    });

TEST(FatAdvanced, ChoicesOutsideTheSearchOrTheClusterSizesAreRefused) {
    test::FatImage img(32, 300);
    Advanced a(img.bytes, 32);
    fs::CandidateChoice choice;
    EXPECT_FALSE(a.parser->chooseCandidate(choice, a.error));  // nothing searched yet
    EXPECT_FALSE(a.parser->parse(*std::make_unique<WorkControl>(), silentFeedback(), fs::Mode::Advanced).status.ok());
    WorkControl control;
    ASSERT_EQ(a.parser->findCandidates(control, silentFeedback(), 3).value().entries.size(), 1u);
    struct Row { size_t entry; int64_t sectors; bool ok; };
    for (Row r : {Row{0, 0, false}, Row{0, 3, false}, Row{0, 256, false}, Row{0, -8, false}, Row{1, 1, false},
                  Row{0, 1, true}, Row{0, 2, true}, Row{0, 64, true}, Row{0, 128, true}}) {
        choice.entry = r.entry;
        choice.sectorsPerCluster = r.sectors;
        a.error.clear();
        EXPECT_EQ(a.parser->chooseCandidate(choice, a.error), r.ok) << r.entry << " " << r.sectors;
        EXPECT_EQ(a.error.empty(), r.ok);
    }
}

TEST(FatAdvanced, SearchStopsAtTheMaximumInsideAChunk) {
    test::FatImage img(16, 4000);
    for (int k = 1; k <= 4; ++k) std::memcpy(img.bytes.data() + img.fatOffset + 512 * 4 * k, img.bytes.data() + img.fatOffset, 4);
    Advanced a(img.bytes, 16);
    WorkControl control;
    std::vector<int64_t> found = a.parser->findCandidates(control, silentFeedback(), 3).value().entries;
    EXPECT_EQ(found, (std::vector<int64_t>{int64_t(img.fatOffset), int64_t(img.fatOffset + 2048),
                                           int64_t(img.fatOffset + 4096)}));
}

TEST(FatAdvanced, SlotTests) {
    struct Row { int bits; uint8_t attr; uint32_t cluster; uint8_t tenths; uint32_t size; const char* name; bool found; };
    const Row rows[] = {
        {32, 0x20, 5, 7, 100, "\xE5OST    TXT", true},
        {32, 0x20, 5, 0, 100, "\xE5OST    TXT", false},   // creation tenths 0
        {32, 0x20, 0, 7, 100, "EMPTY   TXT", false},       // no first cluster
        {16, 0x20, 0, 0, 0, "EMPTY   TXT", true},          // FAT16: an empty file
        {32, 0x10, 9, 7, 0, "DOCS       ", true},
        {32, 0x10, 999, 7, 0, "DOCS       ", false},       // cluster beyond the volume
        {16, 0x10, 9, 0, 0, "_DOCS      ", false},         // '_' starts no FAT16 folder
        {32, 0x20, 5, 7, 100, "\\BAD    TXT", false},
    };
    for (const Row& r : rows) {
        uint8_t slot[32] = {};
        test::FatImage::entry(slot, r.name, r.attr, r.cluster, r.size);
        slot[13] = r.tenths;
        bool found = r.bits == 32 ? fs::FatSlotTest::fat32Entry(slot, 500) : fs::FatSlotTest::fat16Entry(slot, 500);
        EXPECT_EQ(found, r.found) << r.bits << " " << r.name;
    }
    EXPECT_FALSE(fs::FatSlotTest::validDate(0x5020));  // day 0
    EXPECT_FALSE(fs::FatSlotTest::validTime(0xC000));  // hour 24
}

// A file whose folder entry is gone is an orphan; a long name makes one entry; a folder
// found by the scan and again by its parent's walk is listed once, in its parent.
TEST(FatAdvanced, OrphansLongNamesAndEntriesMetTwice) {
    test::FatImage img(32, 300);
    auto stamp = [](uint8_t* e) { e[13] = 5; };
    uint8_t* root = img.rootEntry(0);
    test::FatImage::entry(root, "LABEL      ", 0x08, 0, 0);
    test::FatImage::entry(root + 32, "PARENT     ", 0x10, 20, 0);
    stamp(root + 32);
    test::FatImage::dots(img.cluster(20), 20, 0);
    test::FatImage::entry(img.cluster(20) + 64, "CHILD      ", 0x10, 30, 0);
    stamp(img.cluster(20) + 64);
    test::FatImage::dots(img.cluster(30), 30, 20);
    test::FatImage::dots(img.cluster(40), 40, 0);  // a folder whose entry is lost
    int pieces = test::FatImage::longName(img.cluster(40) + 64, u"A Rather Long Name.txt");
    test::FatImage::entry(img.cluster(40) + 64 + 32 * pieces, "ARATHE~1TXT", 0x20, 41, 10);
    stamp(img.cluster(40) + 64 + 32 * pieces);
    test::FatImage::entry(img.cluster(40) + 96 + 32 * pieces, "GONE    TXT", 0x20, 42, 10);
    stamp(img.cluster(40) + 96 + 32 * pieces);
    for (uint32_t c : {20u, 30u, 40u, 41u, 42u}) img.setFat(c, 0x0FFFFFFF);
    std::fill_n(img.bytes.begin(), 512, 0);
    Advanced a(img.bytes, 32);
    ASSERT_TRUE(a.run(0, 1));
    std::vector<std::string> paths;
    for (const auto& [path, ref] : a.listing) paths.push_back(path);
    EXPECT_EQ(paths, (std::vector<std::string>{"ORPHAN ENTRY", "ORPHAN ENTRY/A Rather Long Name.txt",
                                               "ORPHAN ENTRY/GONE.TXT", "PARENT", "PARENT/CHILD"}));
}

// Bytes that look like FATs and entries everywhere, and random bytes: the parse ends with
// at most one entry a slot.
TEST(FatAdvanced, FakeSignaturesAndEntriesEverywhereEnd) {
    for (int bits : {16, 32}) {
        std::vector<uint8_t> bytes(2 << 20);
        uint32_t x = 12345;
        for (auto& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 24);
        for (size_t at = 0; at + 32 <= bytes.size() / 2; at += 32) {
            test::FatImage::entry(bytes.data() + at, at % 64 ? "FAKE    TXT" : "FOLDER     ", at % 64 ? 0x20 : 0x10,
                                  static_cast<uint32_t>(at / 512 % 4000 + 2), at % 64 ? 99 : 0);
            bytes[at + 13] = 1;
            if (at % 512 == 0) std::memcpy(bytes.data() + at, "\xF8\xFF\xFF\x0F\xFF\xFF\xFF\x0F", 8);
            if (at % 2048 == 0) std::memcpy(bytes.data() + at, "\xF8\xFF\xFF\xFF", 4);
        }
        Advanced a(bytes, bits, false, "4000000 MB");  // the searches still end with the source
        ASSERT_TRUE(a.run(0, 1, 5)) << a.error;
        EXPECT_LE(a.parser->records().size(), bytes.size() / 32 + 2);
    }
}

// A long name whose piece ends one 10 MiB piece of the scan and whose entry starts the next.
TEST(FatAdvanced, AnEntryAcrossTwoScanPiecesIsListedOnceWhole) {
    test::FatImage img(16, 23000);
    const uint32_t next = static_cast<uint32_t>((10 * 1024 * 1024 - img.dataOffset) / 512 + 2);
    ASSERT_EQ(img.cluster(next) - img.bytes.data(), 10 * 1024 * 1024);
    test::FatImage::longName(img.cluster(next - 1) + 480, u"Across.txt");
    test::FatImage::entry(img.cluster(next), "ACROSS  TXT", 0x20, 7, 10);
    std::fill_n(img.bytes.begin(), 512, 0);
    Advanced a(img.bytes, 16);
    ASSERT_TRUE(a.run(0, 1));
    EXPECT_EQ(a.listing.count("ORPHAN ENTRY/Across.txt"), 1u);
    EXPECT_EQ(a.listing.size(), 2u);
}
