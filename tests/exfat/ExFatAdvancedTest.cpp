// The exFAT advanced scan: a mkfs.exfat volume whose boot regions are wiped is rebuilt from
// the FAT and heap it finds and the entry sets on it; built volumes check the set test, the
// root window, sets and signatures across chunks, and choices that do not fit.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "exfat/support/ExFatImage.h"
#include "exfat/support/ExFatOnDisk.h"
#include "filesystems/ChunkedScan.h"
#include "filesystems/exfat/ExFatAdvanced.h"
#include "filesystems/exfat/Fat64Class.h"
#include "support/Sha256.h"
#include "support/ParserHarness.h"

using namespace quenlow;
using test::ExFatImage;

namespace {

// A volume in memory parsed in advanced mode with candidate `entry` (heap: the same index
// unless given) and `sectors` per cluster.
struct Advanced : test::ExFatOnDisk {
    explicit Advanced(std::vector<uint8_t> bytes, bool formatted = false) : ExFatOnDisk(std::move(bytes), formatted) {
        WorkControl control;
        search = parser->findCandidates(control, feedback, 3).value();
    }
    bool parse(size_t entry, int64_t sectors, std::optional<size_t> heap = {}) {
        std::string error;
        if (!parser->chooseCandidate({entry, sectors, heap}, error)) return false;
        return test::parseIn(*parser, feedback, fs::Mode::Advanced).status.ok();
    }
    // Every entry below the root as "path" (" *" when deleted), with its reference.
    std::map<std::string, fs::EntryRef> listing() const {
        std::map<std::string, fs::EntryRef> out;
        std::vector<std::pair<fs::EntryRef, std::string>> stack;
        for (fs::EntryRef e : parser->firstLevel()) stack.push_back({e, ""});
        while (!stack.empty()) {
            auto [e, prefix] = stack.back();
            stack.pop_back();
            std::string path = prefix + parser->name(e) + (parser->isDeleted(e) ? " *" : "");
            EXPECT_TRUE(out.emplace(path, e).second) << "listed twice: " << path;
            for (fs::EntryRef c = parser->firstChild(e); c != fs::kNoEntry; c = parser->nextSibling(c))
                stack.push_back({c, path + "/"});
        }
        return out;
    }
    fs::CandidateSearch search;
};

std::vector<unsigned char> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> fixtureBytes() {
    std::ifstream in(std::filesystem::path(QUENLOW_FIXTURE_DIR) / "exfat/exfat.img", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

// Both boot regions (sectors 0-23) wiped: the FAT and heap are found, and every live file
// saves byte for byte, each listed once, the root's first cluster at the top level.
TEST(ExFatAdvanced, WipedBootRegionsRecoverEveryFile) {
    std::vector<uint8_t> bytes = fixtureBytes();
    if (bytes.empty()) GTEST_SKIP() << "fixture missing";
    std::ifstream in(std::filesystem::path(QUENLOW_FIXTURE_DIR) / "exfat/manifest.json");
    const nlohmann::json manifest = nlohmann::json::parse(in);
    {
        Advanced intact(bytes);  // the boot sector's heap replaces the first heap found
        EXPECT_TRUE(intact.search.bootValid);
        EXPECT_EQ(intact.search.bootSectorsPerCluster, 1);
        EXPECT_EQ(intact.search.heaps, (std::vector<int64_t>{2097152, 10752, 2097152}));
    }
    std::fill(bytes.begin(), bytes.begin() + 24 * 512, 0);
    Advanced p(std::move(bytes));
    EXPECT_FALSE(p.search.bootValid);
    EXPECT_EQ(p.search.entries, std::vector<int64_t>{1048576});
    EXPECT_EQ(p.search.heaps, std::vector<int64_t>{2097152});
    ASSERT_TRUE(p.parse(0, manifest["cluster_size"].get<int64_t>() / 512));
    EXPECT_TRUE(p.feedback.sawStatus("Maintaining TreeStructure for Tree Control"));
    const auto listing = p.listing();
    EXPECT_TRUE(listing.count("hello.txt") && listing.count("many/file_199.txt") && listing.count("trash/gone.txt *"));
    std::multimap<std::string, fs::EntryRef> byName;
    for (const auto& [path, ref] : listing) byName.emplace(p.parser->name(ref) + (p.parser->isDeleted(ref) ? "*" : ""), ref);
    size_t files = 0;
    for (const auto& e : manifest["entries"]) {
        if (e["is_folder"].get<bool>()) continue;
        std::string path = e["path"], name = path.substr(path.rfind('/') + 1);
        bool matched = false;
        for (auto [it, end] = byName.equal_range(name); it != end && !matched; ++it)
            matched = test::Sha256::of(bytesOf(test::readData(*p.parser, it->second))) == e["sha256"].get<std::string>();
        EXPECT_TRUE(matched) << path;
        ++files;
    }
    EXPECT_GE(files, 370u);
}

// A small volume's bitmap does not begin with 64 clusters in use: the root folder's bitmap
// and up-case entries, and the table's checksum where they put it, give heap and cluster
// size; a lying checksum gives nothing.
TEST(ExFatAdvanced, HeapAndClusterSizeFromTheRootFolder) {
    std::vector<uint8_t> bytes = fixtureBytes();
    if (bytes.empty()) GTEST_SKIP() << "fixture missing";
    std::fill(bytes.begin(), bytes.begin() + 24 * 512, 0);
    const size_t bitmap = 2097152;
    ASSERT_EQ(bytes[bitmap], 0xFF);
    bytes[bitmap + 7] = 0x0F;  // no eight 0xFF bytes
    {
        Advanced p(bytes);
        EXPECT_EQ(p.search.heaps, std::vector<int64_t>{2097152});
        EXPECT_EQ(p.search.foundSectorsPerCluster, 1);
        ASSERT_TRUE(p.parse(0, 1));
        EXPECT_TRUE(p.listing().count("many/file_199.txt"));
    }
    for (size_t at = bitmap; at < bytes.size(); at += 512)
        if (auto anchor = fs::ExFatRootAnchor::decode(std::span(bytes).subspan(at, 512))) {
            bytes[at + 32 * (bytes[at] == 0x82 ? 0 : bytes[at + 32] == 0x82 ? 1 : 2) + 4] ^= 1;
            break;
        }
    Advanced lying(std::move(bytes));
    EXPECT_TRUE(lying.search.heaps.empty());
    EXPECT_EQ(lying.search.foundSectorsPerCluster, 0);
}

namespace {

// A built volume as the scan needs it: the FAT's first entries, an allocation bitmap at
// cluster 2, the root at cluster 3 opening with the volume label; the boot sector wiped.
ExFatImage advancedImage() {
    ExFatImage img;
    img.fat(0, 0xFFFFFFF8), img.fat(1, 0xFFFFFFFF), img.chain({3, 4});
    img.put64(img.clusterAt(2), ~uint64_t{0});
    img.bytes[img.clusterAt(3)] = 0x83;
    std::fill(img.bytes.begin(), img.bytes.begin() + 512, 0);
    return img;
}

}  // namespace

// The set test, the root window and the orphan folder, a folder's further clusters, a loop,
// and a set running on into the next cluster, in one volume.
TEST(ExFatAdvanced, FoundSetsUnderTheirFoldersOrTheOrphanFolder) {
    ExFatImage img = advancedImage();
    size_t at = img.set(img.clusterAt(3) + 32, {u"twenty_characters.tx"});
    at = img.set(at, {u"dir", 0x10, false, false, 20, 2 * 512});
    at = img.set(at, {u"loop", 0x10, false, false, 70, 4 * 512});
    img.set(at, {u"chain.bin", 0x20, false, false, 80, 1000});  // runs on into cluster 4
    // Outside every folder only the scan's test decides: a 20-character name in one name
    // entry, and a file entry whose bytes 25-31 are not all zero, are not sets.
    img.set(img.clusterAt(50), {u"reserved_bytes.txt"});
    img.bytes[img.clusterAt(50) + 27] = 1;
    img.set(img.clusterAt(52), {u"one_name_entry_of_20", 0x20, false, true, 0, 0, 0, 0, 1});
    img.chain({20, 30}), img.chain({70, 71}), img.fat(71, 70), img.chain({80, 82});
    img.set(img.clusterAt(30), {u"inner.txt"});
    img.set(img.clusterAt(71), {u"in_loop.txt"});
    img.set(img.clusterAt(40), {u"orphan.txt", 0x20, true});
    img.set(img.clusterAt(60) + 512 - 64, {u"straddles_clusters.t"});
    for (uint32_t c = 80; c < 83; ++c) img.fill(c, 512, static_cast<uint8_t>(c));
    for (bool formatted : {false, true}) {
        Advanced p(img.bytes, formatted);
        ASSERT_TRUE(p.parse(0, 1));
        std::vector<std::string> paths;
        for (const auto& [path, ref] : p.listing()) paths.push_back(path);
        // Taken as formatted, folders have no chains: their further clusters' sets are orphans.
        const std::vector<std::string> expected =
            formatted ? std::vector<std::string>{"ORPHAN ENTRY", "ORPHAN ENTRY/in_loop.txt", "ORPHAN ENTRY/inner.txt",
                                                 "ORPHAN ENTRY/orphan.txt *", "ORPHAN ENTRY/straddles_clusters.t", "chain.bin",
                                                 "dir", "loop", "twenty_characters.tx"}
                      : std::vector<std::string>{"ORPHAN ENTRY", "ORPHAN ENTRY/orphan.txt *", "ORPHAN ENTRY/straddles_clusters.t",
                                                 "chain.bin", "dir", "dir/inner.txt", "loop", "loop/in_loop.txt",
                                                 "twenty_characters.tx"};
        EXPECT_EQ(paths, expected);
        const std::string data = test::readData(*p.parser, p.listing().at("chain.bin"));
        const uint32_t second = formatted ? 81 : 82;  // read on from the first cluster, or the chain
        EXPECT_EQ(data.substr(512), std::string(reinterpret_cast<const char*>(&img.bytes[img.clusterAt(second)]), 488));
    }
}

// Sets and signatures on both sides of a chunk's end are found once each.
TEST(ExFatAdvanced, ChunkEndsMissNothingAndCountNothingTwice) {
    const int64_t edge = fs::ChunkedScan::kChunkBytes;
    ExFatImage img;
    img.bytes.assign(edge + 8192, 0);
    size_t at = img.set(edge - 64, {u"across_the_chunk_end.txt"});
    img.set(at, {u"behind.txt"});
    img.put32(edge + 1024, 0xFFFFFFF8), img.put32(edge + 1028, 0xFFFFFFFF), img.put64(edge + 1536, ~uint64_t{0});
    img.bytes[edge - 512] = 0x83;
    test::MemoryDisk disk(img.bytes);
    disk::VolumeView view(disk, 0);
    WorkControl control;
    fs::ExFatFoundSets sets = fs::scanForEntrySets(view, static_cast<int64_t>(img.bytes.size()), control, silentFeedback());
    EXPECT_EQ(sets.positions, (std::vector<int64_t>{edge - 64, edge + 64}));
    EXPECT_EQ(sets.labelPosition, edge - 512);
    fs::ExFatSignatures signatures = fs::findExFatSignatures(view, static_cast<int64_t>(img.bytes.size()), 3, control, silentFeedback());
    EXPECT_EQ(signatures.fats, std::vector<int64_t>{edge + 1024});
    EXPECT_EQ(signatures.heaps, std::vector<int64_t>{edge + 1536});
}

// Choices outside the lists or the file system are refused with a reason; a FAT at offset
// 0 assembles nothing; random bytes with signatures end in a parse.
TEST(ExFatAdvanced, ChoicesThatDoNotFit) {
    ExFatImage img = advancedImage();
    img.set(img.clusterAt(3) + 32, {u"a.txt"});
    struct Case {
        fs::CandidateChoice choice;
        bool accepted;
    };
    const Case cases[] = {{{0, 1, {}}, true},        {{0, 65536, {}}, true}, {{1, 1, {}}, false}, {{0, 1, 1}, false},
                          {{0, 0, {}}, false},       {{0, 3, {}}, false},    {{0, 131072, {}}, false}};
    Advanced p(img.bytes);
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(p.parser->chooseCandidate(c.choice, error), c.accepted) << c.choice.sectorsPerCluster;
        EXPECT_EQ(error.empty(), c.accepted) << error;
    }
    Advanced unsearched(img.bytes);
    unsearched.parser = std::make_unique<fs::Fat64Class>(test::setupOn(unsearched.disk, unsearched.volume, unsearched.tree));
    EXPECT_FALSE(unsearched.parse(0, 1));
    EXPECT_FALSE(test::parseIn(*unsearched.parser, silentFeedback(), fs::Mode::Advanced).status.ok());

    img.fat(0, 0), img.put32(0, 0xFFFFFFF8), img.put32(4, 0xFFFFFFFF);
    Advanced atZero(img.bytes);
    ASSERT_TRUE(atZero.parse(0, 1));
    EXPECT_TRUE(atZero.parser->firstLevel().empty());
    EXPECT_EQ(atZero.tree.liveCount(), 1u);

    ExFatImage huge;  // a boot sector whose volume length lies far past the source: the search ends there
    huge.put64(72, uint64_t{1} << 60);
    EXPECT_TRUE(Advanced(huge.bytes).search.bootValid);

    uint64_t x = 88172645463325252ull;
    for (size_t i = 0; i + 8 <= img.bytes.size(); i += 8) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        std::memcpy(&img.bytes[i], &x, 8);
    }
    img.put64(1024, 0xFFFFFFFFFFFFFFF8ull), img.put64(2048, ~uint64_t{0});
    for (int64_t sectors : {1, 65536}) EXPECT_TRUE(Advanced(img.bytes).parse(0, sectors)) << sectors;
}
