// The exFAT parser on volumes built byte by byte: the worker's messages, entry sets that
// cross clusters or carry too many names, the stored times, and chains that loop, leave
// the volume or end early.

#include <gtest/gtest.h>

#include "disk/RecoveryContext.h"
#include "exfat/support/ExFatImage.h"
#include "exfat/support/ExFatOnDisk.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/exfat/Fat64Class.h"
#include "support/MemoryDisk.h"
#include "support/ParserHarness.h"
#include "support/RecordingFeedback.h"

using namespace quenlow;
using test::ExFatImage;

namespace {

struct Parsed : test::ExFatOnDisk {
    explicit Parsed(const ExFatImage& img, bool formatted = false, std::set<int64_t> bad = {})
        : ExFatOnDisk(img.bytes, formatted) {
        disk.badSectors = std::move(bad);
        outcome = test::parseIn(*parser, feedback);
    }
    std::vector<fs::EntryRef> children(fs::EntryRef folder) const {
        if (folder == fs::kNoEntry) return parser->firstLevel();
        std::vector<fs::EntryRef> out;
        for (fs::EntryRef c = parser->firstChild(folder); c != fs::kNoEntry; c = parser->nextSibling(c)) out.push_back(c);
        return out;
    }
    std::vector<std::string> names(fs::EntryRef folder = fs::kNoEntry) const {
        std::vector<std::string> out;
        for (fs::EntryRef c : children(folder)) out.push_back(parser->name(c));
        return out;
    }
    fs::EntryRef at(size_t i, fs::EntryRef folder = fs::kNoEntry) const { return children(folder).at(i); }
    fs::ParseOutcome outcome;
};

}  // namespace

TEST(Fat64Parse, BootSectorChecksAndTheWorkersMessages) {
    struct Case {
        const char* what;
        void (*spoil)(ExFatImage&);
        std::set<int64_t> bad;
        std::vector<std::string> messages;
        bool complete;
    };
    const std::string notExfat = "Selected Drive is not in exFat Format";
    const Case cases[] = {
        {"sound", [](ExFatImage&) {}, {}, {"done..."}, true},
        {"other name", [](ExFatImage& i) { std::memcpy(&i.bytes[3], "NTFS    ", 8); }, {}, {notExfat}, false},
        {"64 MiB clusters", [](ExFatImage& i) { i.bytes[109] = 17; }, {}, {notExfat}, false},
        {"unreadable", [](ExFatImage&) {}, {0}, {"cant read file", notExfat}, false},
        {"root outside", [](ExFatImage& i) { i.put32(96, 900); }, {}, {"error..."}, true},
    };
    for (const Case& c : cases) {
        ExFatImage img;
        c.spoil(img);
        Parsed p(img, false, c.bad);
        EXPECT_EQ(p.feedback.messages, c.messages) << c.what;
        EXPECT_EQ(p.outcome.complete, c.complete) << c.what;
        EXPECT_EQ(p.outcome.status.ok(), std::string(c.what) == "sound") << c.what;
        EXPECT_EQ(p.tree.liveCount(), 1u) << c.what;  // the root item alone
    }
    Parsed sound{ExFatImage()};
    for (const char* s : {"processing file and directory entries...", "Finding Fat64 File And Directory entries recursively....",
                          "creating tree Structure..."})
        EXPECT_TRUE(sound.feedback.sawStatus(s)) << s;
}

// Entry sets cross from one cluster of a folder into the next; a name takes up to 17
// entries and a longer run of them does not spill into the next set; folders are read
// over every cluster, chained or contiguous.
TEST(Fat64Parse, EntrySetsAcrossClustersAndWholeFolders) {
    ExFatImage img;
    img.chain({2, 9, 10, 4});  // a fragmented root
    // File and stream entries at the end of cluster 2, the two name entries in cluster 9.
    img.set(img.clusterAt(2) + 512 - 64, {u"twenty_characters.tx"});
    std::memcpy(&img.bytes[img.clusterAt(9)], &img.bytes[img.clusterAt(3)], 64);
    std::memset(&img.bytes[img.clusterAt(3)], 0, 64);
    size_t at = img.set(img.clusterAt(9) + 64, {std::u16string(20 * 15, u'x'), 0x20, false, true, 0, 0, 0, 0, 20});
    at = img.set(at, {u"after.txt"});
    img.set(img.clusterAt(4), {u"contig", 0x10, false, true, 20, 3 * 512});
    img.set(img.clusterAt(22), {u"third.txt"});  // the contiguous folder's third cluster
    Parsed p(img);
    ASSERT_EQ(p.names(), (std::vector<std::string>{"twenty_characters.tx", std::string(255, 'x'), "after.txt", "contig"}));
    EXPECT_EQ(p.names(p.at(3)), std::vector<std::string>{"third.txt"});
}

TEST(Fat64Parse, StoredTimesAndSizes) {
    ExFatImage img;
    uint32_t stamp = test::exfatStamp(2021, 6, 15, 13, 7, 29);
    img.set(img.clusterAt(2), {u"big.bin", 0x21, false, true, 10, 5ull << 30, stamp, 150});
    Parsed p(img);
    fs::EntryRef big = p.at(0);
    EXPECT_EQ(p.parser->sizeText(big), "5.00 GB");
    fs::EntryTimes t = p.parser->times(big);
    ASSERT_TRUE(t.modified && t.accessed);
    EXPECT_EQ(t.modified->seconds, 1623762478 + 1);  // 13:07:58, and 1.5 s from the 10 ms count
    EXPECT_EQ(t.modified->nanoseconds, 500'000'000);
    EXPECT_EQ(t.accessed->seconds, 1623762478);
    EXPECT_EQ(t.fractionDigits, 2);
    fs::EntryTexts texts = p.parser->entryTexts(big);
    EXPECT_EQ(texts.modified, "06/15/2021  01:07 PM");
    EXPECT_EQ(texts.attributes, "-R-A");
}

// What a chain cannot give is a damaged hole, never data from elsewhere.
TEST(Fat64Parse, ChainsThatLoopLeaveTheVolumeOrEndEarly) {
    struct Case {
        const char* what;
        bool contiguous;
        uint32_t first;
        std::vector<uint32_t> fat;  // pairs: cluster, next
        uint64_t size;
        bool formatted;
        uint64_t reached;
    };
    const Case cases[] = {
        {"whole chain", false, 10, {10, 12, 12, 0xFFFFFFFF}, 1000, false, 1000},
        {"loop", false, 10, {10, 11, 11, 10}, 2048, false, 1024},
        {"points past the volume", false, 10, {10, 70000}, 1500, false, 512},
        {"ends early", false, 10, {10, 0}, 1500, false, 512},
        {"first cluster past the volume", true, 5000, {}, 1000, false, 0},
        {"contiguous past the source", true, 250, {}, 10 * 512, false, 8 * 512},
        {"formatted reads on", false, 10, {10, 0}, 1500, true, 1500},
    };
    for (const Case& c : cases) {
        ExFatImage img;
        for (size_t i = 0; i + 1 < c.fat.size(); i += 2) img.fat(c.fat[i], c.fat[i + 1]);
        for (uint32_t k = 10; k < 13; ++k) img.fill(k, 512, static_cast<uint8_t>(k));
        img.set(img.clusterAt(2), {u"f", 0x20, false, c.contiguous, c.first, c.size});
        Parsed p(img, c.formatted);
        fs::Result<fs::EntryData> data = p.parser->openData(p.at(0), silentFeedback());
        ASSERT_TRUE(data.ok()) << c.what;
        std::vector<disk::ByteRange> missing;
        if (c.reached < c.size) missing.push_back({c.reached, c.size - c.reached});
        EXPECT_EQ(data->stream->damaged(), missing) << c.what;
        if (c.reached == 1000) {  // the second piece is cluster 12's
            EXPECT_EQ(test::readData(*p.parser, p.at(0)).substr(512), std::string(reinterpret_cast<char*>(&img.bytes[img.clusterAt(12)]), 488));
        }
    }
}

// A folder whose chain loops is read once; a deleted folder whose clusters a live folder
// took over does not take the live folder's entries.
TEST(Fat64Parse, LoopingFoldersAndReusedClusters) {
    ExFatImage img;
    size_t at = img.set(img.clusterAt(2), {u"loop", 0x10, false, false, 20, 4 * 512});
    at = img.set(at, {u"old", 0x10, true, true, 31, 512});
    img.set(at, {u"new", 0x10, false, false, 30, 2 * 512});
    img.chain({20, 21});
    img.fat(21, 20);
    img.set(img.clusterAt(20), {u"in_loop.txt"});
    img.chain({30, 31});
    img.set(img.clusterAt(31), {u"mine.txt"});
    Parsed p(img);
    ASSERT_EQ(p.names(), (std::vector<std::string>{"loop", "old", "new"}));
    EXPECT_EQ(p.names(p.at(0)), std::vector<std::string>{"in_loop.txt"});
    EXPECT_TRUE(p.parser->isDeleted(p.at(1)));
    EXPECT_TRUE(p.names(p.at(1)).empty());
    EXPECT_EQ(p.names(p.at(2)), std::vector<std::string>{"mine.txt"});
}
