// The HFS+ parser on volumes built byte by byte: the worker's endings, the two linkings,
// the dates, data forks completed from the extents-overflow file, a catalog in more than
// eight extents, 8192-byte nodes on 4096-byte blocks, and records that lie.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "filesystems/MemoryTree.h"
#include "filesystems/hfsplus/HFSP.h"
#include "hfsplus/support/HfsImage.h"
#include "support/MemoryDisk.h"
#include "support/ParserHarness.h"
#include "support/RecordingFeedback.h"
#include "support/TempFolder.h"

using namespace quenlow;
using test::HfsImage;
using Bytes = HfsImage::Bytes;
using Ext = HfsImage::Extent;

namespace {

// The extents file at block 4, the catalog after it (contiguous unless `catalog` is
// given: 512-byte blocks and 4096-byte nodes put it at block 20), file data from block 64.
HfsImage volume(const std::vector<std::vector<Bytes>>& leaves, const std::vector<Bytes>& overflow = {},
                uint32_t blockSize = 512, uint16_t nodeSize = 4096, std::vector<Ext> catalog = {}) {
    HfsImage img(blockSize, 128 + 1024 * 512 / blockSize / 8);
    const uint32_t per = nodeSize / blockSize;
    img.tree(192, {HfsImage::header(nodeSize, 2), HfsImage::leaf(nodeSize, overflow)}, {{4, 2 * per}});
    std::vector<Bytes> nodes{HfsImage::header(nodeSize, static_cast<uint32_t>(leaves.size() + 1))};
    for (const auto& records : leaves) nodes.push_back(HfsImage::leaf(nodeSize, records));
    if (catalog.empty()) catalog = {{4 + 2 * per, static_cast<uint32_t>(nodes.size()) * per}};
    img.tree(272, nodes, catalog);
    return img;
}

struct Parsed {
    explicit Parsed(const HfsImage& img, fs::Mode mode = fs::Mode::Standard) : disk(img.bytes) {
        parser = std::make_unique<fs::HFSP>(test::setupOn(disk, volume, tree));
        outcome = test::parseIn(*parser, feedback, mode);
    }
    std::vector<std::string> names(fs::EntryRef folder = fs::kNoEntry) const {
        std::vector<std::string> out;
        if (folder == fs::kNoEntry)
            for (fs::EntryRef e : parser->firstLevel()) out.push_back(parser->name(e));
        for (fs::EntryRef c = folder ? parser->firstChild(folder) : fs::kNoEntry; c; c = parser->nextSibling(c))
            out.push_back(parser->name(c));
        return out;
    }
    test::MemoryDisk disk;
    volumes::VolumeRecord volume{"HFS+", "0", "1   MB", 0};
    fs::MemoryTree tree;
    test::RecordingFeedback feedback;
    std::unique_ptr<fs::HFSP> parser;
    fs::ParseOutcome outcome;
};

const std::vector<Bytes> kTree = {
    HfsImage::folder(1, u"Vol", 2), HfsImage::folder(2, u"docs", 16),
    HfsImage::file(2, u"a.txt", 17, 0, {}, HfsImage::kEpoch + 1000, HfsImage::kEpoch + 1500000000),
    HfsImage::file(16, u"in.txt", 18, 0, {}), HfsImage::file(99, u"lost.txt", 19, 0, {}),
    HfsImage::folder(20, u"self", 20), HfsImage::file(16, u"", 21, 0, {})};

}  // namespace

TEST(HfsParse, TheWorkerEndsWithWorkDoneOrWorkAborted) {
    const std::string done = "Work Done.", aborted = "Work Aborted....", blockSize = "BlockSize not valid .Aborting..";
    struct Case {
        uint32_t blockSizeField;
        uint16_t nodeSizeField;
        fs::Mode mode;
        std::vector<std::string> last;  // the closing statuses
    } cases[] = {{512, 4096, fs::Mode::Standard, {"found file at Node 2", done}},
                 {0, 512, fs::Mode::Standard, {"HFS+ partition selected....", aborted}},
                 {0, 512, fs::Mode::Deep, {blockSize, aborted}},
                 {8192, 512, fs::Mode::Deep, {blockSize, aborted}},
                 {512, 100, fs::Mode::Standard, {"HFS+ partition selected....", aborted}},
                 {512, 0, fs::Mode::Deep, {blockSize, aborted}}};
    for (const Case& c : cases) {
        HfsImage img = volume({kTree});
        HfsImage::put32(img.bytes, 1024 + 40, c.blockSizeField);
        HfsImage::put16(img.bytes, 20 * 512 + 32, c.nodeSizeField);
        Parsed p(img, c.mode);
        p.feedback.statuses.insert(p.feedback.statuses.begin(), "HFS+ partition selected....");
        std::vector<std::string> last(p.feedback.statuses.end() - 2, p.feedback.statuses.end());
        EXPECT_EQ(last, c.last) << c.blockSizeField << " " << c.nodeSizeField;
        EXPECT_EQ(p.outcome.status.ok(), c.last.back() == done);
        EXPECT_FALSE(p.outcome.complete);  // the HFS+ worker runs no completion sequence
    }
}

// Standard mode: the root's children at the first level, a file whose folder is not in
// the catalog kept but not shown, no folder its own descendant, the first record of an ID kept.
TEST(HfsParse, StandardModeLinksEachEntryToItsParent) {
    Parsed p(volume({kTree, {HfsImage::file(2, u"again.txt", 17, 0, {}), HfsImage::folder(2, u"", 22),
                             HfsImage::folder(24, u"p", 23), HfsImage::folder(23, u"q", 24)}}));
    ASSERT_TRUE(p.outcome.status.ok());
    EXPECT_EQ(p.names(), (std::vector<std::string>{"docs", "a.txt"}));
    EXPECT_EQ(p.names(16), (std::vector<std::string>{"in.txt"}));
    EXPECT_EQ(p.parser->name(19), "lost.txt");
    for (fs::EntryRef loop : {20, 23, 24}) EXPECT_EQ(p.parser->firstChild(loop), fs::kNoEntry);
    EXPECT_EQ(p.parser->catalog().find(21), nullptr);
    EXPECT_EQ(p.parser->catalog().find(22), nullptr);
    fs::TreeItem docs = p.tree.firstChild(p.tree.root());
    EXPECT_EQ(p.tree.text(p.tree.firstChild(docs)), "..DUMY..");

    // Dates are UTC seconds since 1904; the saved file's time is the content modification date.
    fs::EntryTimes t = p.parser->times(17);
    EXPECT_EQ(t.created->seconds, 1000);
    EXPECT_EQ(t.modified->seconds, 1500000000);
    fs::EntryTexts texts = p.parser->entryTexts(17);
    EXPECT_EQ(texts.modified, "07/14/2017  02:40 AM");
    EXPECT_EQ(texts.created, "01/01/1970  12:16 AM");
    EXPECT_EQ(texts.attributes, "-Owner:W-Owner:R-OR-GR");
    test::TempFolder out;
    std::string error;
    ASSERT_TRUE(test::saveEntryTo(*p.parser, 17, out.path() / "a.txt", error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat((out.path() / "a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
}

// Deep mode finds a leaf outside the catalog file too; every folder goes into ORPHAN_ENTRY
// (newest first), each file to the folder with the nearest lower ID.
TEST(HfsParse, DeepModeArrangesEverythingUnderTheOrphanFolder) {
    HfsImage img = volume({kTree});
    Bytes stale = HfsImage::leaf(4096, {HfsImage::folder(2, u"old", 30), HfsImage::file(30, u"old.txt", 31, 0, {})});
    std::copy(stale.begin(), stale.end(), img.bytes.begin() + 48 * 512);
    EXPECT_EQ(Parsed(img).parser->catalog().find(30), nullptr);
    Parsed p(img, fs::Mode::Deep);
    ASSERT_TRUE(p.outcome.status.ok());
    EXPECT_EQ(p.names(), (std::vector<std::string>{"a.txt", "ORPHAN_ENTRY"}));
    EXPECT_EQ(p.names(32), (std::vector<std::string>{"old", "self", "docs", "Vol"}));
    EXPECT_EQ(p.names(16), (std::vector<std::string>{"lost.txt", "in.txt", "a.txt"}));
    EXPECT_EQ(p.names(30), (std::vector<std::string>{"old.txt"}));
    EXPECT_EQ(p.parser->catalog().find(16)->parentRef, 32u);
    EXPECT_TRUE(p.parser->entryTexts(32).modified.empty());
}

// Ten one-block extents: eight in the record, two in a data-fork overflow record. A
// resource-fork record of the same file and start block, read first, is not taken; a file
// whose extents end before its size says the rest is damaged.
TEST(HfsParse, DataForksAreCompletedFromDataForkOverflowRecords) {
    std::vector<Ext> extents;
    for (uint32_t i = 0; i < 10; ++i) extents.push_back({64 + 2 * i, 1});
    std::vector<Bytes> overflow{HfsImage::overflow(0xFF, 40, 8, {{100, 2}}),
                                HfsImage::overflow(0x00, 40, 8, {extents[8], extents[9]})};
    HfsImage img = volume({{HfsImage::file(2, u"frag.bin", 40, 4700, extents), HfsImage::file(2, u"short.bin", 41, 1500, {{90, 1}})}},
                          overflow);
    std::string expected;
    for (const Ext& e : extents) img.fill(e.start, 1, static_cast<uint8_t>(e.start)), expected += img.data(e.start, 512);
    img.fill(100, 2, 0xEE), img.fill(90, 1, 9);
    Parsed p(img);
    EXPECT_EQ(test::readData(*p.parser, 40), expected.substr(0, 4700));
    fs::Result<fs::EntryData> data = p.parser->openData(41, silentFeedback());
    ASSERT_TRUE(data.ok());
    EXPECT_EQ(data->stream->damaged(), (std::vector<disk::ByteRange>{{512, 988}}));
    EXPECT_EQ(test::readData(*p.parser, 41).substr(0, 512), img.data(90, 512));
}

// The catalog in nine extents (the ninth from the overflow file), and a catalog of
// 8192-byte nodes on 4096-byte blocks, in both modes.
TEST(HfsParse, CatalogsInManyExtentsAndNodesOfTwoBlocks) {
    std::vector<std::vector<Bytes>> leaves;
    for (uint32_t i = 0; i < 8; ++i) leaves.push_back({HfsImage::file(2, u"f" + std::u16string(1, u'0' + i), 50 + i, 0, {})});
    std::vector<Ext> catalog;
    for (uint32_t i = 0; i < 9; ++i) catalog.push_back({20 + 3 * i, 1});
    HfsImage fragmented = volume(leaves, {HfsImage::overflow(0, 4, 8, {catalog[8]})}, 512, 512, catalog);
    HfsImage large = volume({kTree, leaves[0], leaves[7]}, {}, 4096, 8192);
    for (fs::Mode mode : {fs::Mode::Standard, fs::Mode::Deep}) {
        Parsed p(fragmented, mode);
        EXPECT_EQ(p.parser->catalog().size(), mode == fs::Mode::Deep ? 9u : 8u);  // + ORPHAN_ENTRY
        EXPECT_NE(p.parser->catalog().find(57), nullptr);
        Parsed q(large, mode);
        EXPECT_EQ(q.parser->catalog().size(), mode == fs::Mode::Deep ? 9u : 8u);
        EXPECT_NE(q.parser->catalog().find(57), nullptr);
    }
}

// Offsets into the offset table or past the node, names longer than their key or than 255,
// records cut by the node's end, absurd record and node counts, extents far past the volume:
// left out, never read past, never walked.
TEST(HfsParse, RecordsThatLieAreLeftOut) {
    HfsImage img = volume({{HfsImage::folder(2, u"good", 16), HfsImage::folder(2, u"x", 17), HfsImage::folder(2, u"y", 18)}});
    const size_t leaf = 28 * 512;
    Bytes& b = img.bytes;
    HfsImage::put16(b, leaf + 4092, 4090);               // the second record: in the offset table
    HfsImage::put16(b, leaf + 14 + 104 + 98 + 6, 300);   // the third one's name: longer than 255 units
    HfsImage::put16(b, leaf + 10, 990);                  // far more records than the node has
    HfsImage::put32(b, 20 * 512 + 36, 0xFFFFFFFF);       // more nodes than the catalog holds
    HfsImage::put32(b, 4 * 512 + 36, 0xFFFFFFFF);        // and than the extents file holds,
    HfsImage::put32(b, 1024 + 192, 0x100);               // whose size is 2^40 bytes
    HfsImage::put32(b, 1024 + 192 + 24, 0x10000), HfsImage::put32(b, 1024 + 192 + 28, 0xFFFF0000);  // past the volume
    for (fs::Mode mode : {fs::Mode::Standard, fs::Mode::Deep}) {
        Parsed p(img, mode);
        EXPECT_EQ(p.parser->catalog().find(16)->name, "good");
        EXPECT_EQ(p.parser->catalog().size(), mode == fs::Mode::Deep ? 2u : 1u);  // + ORPHAN_ENTRY
    }
}
