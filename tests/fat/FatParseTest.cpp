// The FAT16 and FAT32 parsers on crafted volumes: boot-sector tests, long names, the folder
// walk's stop rules, chains that loop, and what a file's data is when its chain is short.

#include <gtest/gtest.h>

#include "disk/RecoveryContext.h"
#include "fat/support/FatImage.h"
#include "filesystems/EntryFormat.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/fat/Fat16Class.h"
#include "filesystems/fat/Fat32Class.h"
#include "support/MemoryDisk.h"
#include "support/ParserHarness.h"
#include "support/RecordingFeedback.h"

using namespace quenlow;
using test::FatImage;

namespace {

struct Parsed {
    explicit Parsed(const FatImage& img, bool formatted = false) : disk(img.bytes) {
        context.driveFormatted = formatted;
        fs::ParserSetup setup = test::setupOn(disk, volume, tree);
        setup.context = &context;
        if (img.bits == 32) parser = std::make_unique<fs::Fat32Class>(setup);
        else parser = std::make_unique<fs::Fat16Class>(setup);
        outcome = test::parseIn(*parser, feedback);
    }
    // The entry of that name below `folder` (kNoEntry: the first level).
    fs::EntryRef find(const std::string& name, fs::EntryRef folder = fs::kNoEntry) const {
        std::vector<fs::EntryRef> list;
        if (folder == fs::kNoEntry) list = parser->firstLevel();
        else for (fs::EntryRef c = parser->firstChild(folder); c; c = parser->nextSibling(c)) list.push_back(c);
        for (fs::EntryRef e : list)
            if (parser->name(e) == name) return e;
        return fs::kNoEntry;
    }
    std::vector<std::string> names(fs::EntryRef folder) const {
        std::vector<std::string> out;
        for (fs::EntryRef c = parser->firstChild(folder); c; c = parser->nextSibling(c)) out.push_back(parser->name(c));
        return out;
    }
    test::MemoryDisk disk;
    volumes::VolumeRecord volume;
    fs::MemoryTree tree;
    disk::RecoveryContext context;
    test::RecordingFeedback feedback;
    std::unique_ptr<fs::FatVolumeParser> parser;
    fs::ParseOutcome outcome;
};

class FatBoth : public ::testing::TestWithParam<int> {};

}  // namespace

TEST(FatBoot, OemNamesAndParameterBlocks) {
    struct Row {
        int bits;
        const char* oem;
        bool breakBlock;  // the parameter block no longer sound
        bool accepted;
    } rows[] = {
        {32, "MSDOS5.0", false, true}, {32, "BSD  4.4", true, true},  {32, "mkfs.fat", false, true},
        {32, "mkfs.fat", true, false}, {16, "MSDOS5.0", true, true},  {16, "mkfs.fat", false, true},
        {16, "BSD  4.4", true, false}, {16, "mkfs.fat", true, false},
    };
    for (const Row& r : rows) {
        FatImage img(r.bits, r.bits == 32 ? 66000 : 5000);
        img.setOem(r.oem);
        if (r.breakBlock) img.bytes[21] = 0x12;  // media byte
        Parsed p(img);
        EXPECT_EQ(p.outcome.status.ok(), r.accepted) << r.bits << " " << r.oem;
        if (!r.accepted) {
            EXPECT_FALSE(p.outcome.complete);
            EXPECT_EQ(p.outcome.status.reason(), r.bits == 32 ? fs::kNotFat32Text : fs::kNotFat16Text);
        }
    }
    // Each parser refuses the other's boot sector, and a cluster of no bytes.
    FatImage f32(32, 66000), f16(16, 5000);
    std::swap(f32.bits, f16.bits);
    EXPECT_FALSE(Parsed(f32).outcome.status.ok());
    EXPECT_FALSE(Parsed(f16).outcome.status.ok());
    FatImage zero(16, 5000);
    zero.bytes[13] = 0;
    EXPECT_FALSE(Parsed(zero).outcome.status.ok());
}

TEST_P(FatBoth, LongNamesOfUpToTwentyPieces) {
    FatImage img(GetParam(), 5000, 128);
    if (GetParam() == 32) img.chain({2, 3, 4, 5, 6, 7});  // a root of six clusters
    uint32_t at = 0;
    std::u16string names[3] = {std::u16string(130, u'a'), std::u16string(143, u'b'), std::u16string(255, u'c')};
    for (int i = 0; i < 3; ++i) {
        at += FatImage::longName(img.rootEntry(at), names[i]);
        FatImage::entry(img.rootEntry(at++), "LONG~" + std::to_string(i) + "  TXT", 0x20, 0, 0);
    }
    // 21 pieces: the 21st starts a new name, which names the next entry.
    std::u16string tooLong(21 * 13, u'd');
    tooLong.replace(0, 13, u"Piece21isthis");
    at += FatImage::longName(img.rootEntry(at), tooLong);
    FatImage::entry(img.rootEntry(at++), "TOOLONG TXT", 0x20, 0, 0);
    Parsed p(img);
    EXPECT_NE(p.find(std::string(130, 'a')), fs::kNoEntry);
    EXPECT_NE(p.find(std::string(143, 'b')), fs::kNoEntry);
    EXPECT_NE(p.find(std::string(255, 'c')), fs::kNoEntry);
    EXPECT_NE(p.find("Piece21isthis"), fs::kNoEntry);
}
INSTANTIATE_TEST_SUITE_P(Bits, FatBoth, ::testing::Values(16, 32));

TEST_P(FatBoth, FolderWalkStopRules) {
    FatImage img(GetParam(), 5000);
    // "sub": 30 clusters (10..39) whose chain loops back to 12; a file in each cluster;
    // a long name whose pieces end at the end of cluster 10 names nothing in cluster 11.
    FatImage::entry(img.rootEntry(1), "SUB", 0x10, 10, 0);
    std::vector<uint32_t> chain;
    for (uint32_t c = 10; c < 40; ++c) chain.push_back(c);
    img.chain(chain);
    img.setFat(39, 12);
    FatImage::dots(img.cluster(10), 10, 0);
    FatImage::longName(img.cluster(10) + 32 * 14, u"Lost name");
    for (uint32_t c = 11; c < 40; ++c) FatImage::entry(img.cluster(c), "F" + std::to_string(c) + "     TXT", 0x20, 0, 0);
    // "gone": a deleted folder whose cluster now holds file data.
    FatImage::entry(img.rootEntry(2), "\xE5ONE", 0x10, 50, 0);
    std::memset(img.cluster(50), 'x', 512);
    // "self": a folder that lists itself as a sub-folder.
    FatImage::entry(img.rootEntry(3), "SELF", 0x10, 60, 0);
    FatImage::dots(img.cluster(60), 60, 0);
    FatImage::entry(img.cluster(60) + 64, "AGAIN", 0x10, 60, 0);
    img.chain({60});
    Parsed p(img);
    ASSERT_TRUE(p.outcome.status.ok());
    std::vector<std::string> sub = p.names(p.find("SUB"));
    ASSERT_EQ(sub.size(), 29u);  // once per cluster, the loop cut
    EXPECT_EQ(sub[0], "F11.TXT");
    EXPECT_EQ(sub[28], "F39.TXT");
    fs::EntryRef gone = p.find("\xEF\xBF\xA5ONE");
    ASSERT_NE(gone, fs::kNoEntry);
    EXPECT_TRUE(p.parser->isDeleted(gone));
    EXPECT_FALSE(p.parser->hasChildren(gone));
    fs::EntryRef again = p.find("AGAIN", p.find("SELF"));
    ASSERT_NE(again, fs::kNoEntry);
    EXPECT_FALSE(p.parser->hasChildren(again));
}

TEST_P(FatBoth, ShortChainsAndFormattedDrives) {
    FatImage img(GetParam(), 5000);
    for (uint32_t c = 20; c < 23; ++c) std::memset(img.cluster(c), 'a' + static_cast<int>(c - 20), 512);
    FatImage::entry(img.rootEntry(1), "\xE5" "DEL    BIN", 0x20, 20, 1500);  // deleted: FAT entries 0
    FatImage::entry(img.rootEntry(2), "EMPTY   TXT", 0x20, 0, 0);
    FatImage::entry(img.rootEntry(3), "LOOP    BIN", 0x20, 30, 5000);
    img.chain({30, 31});
    img.setFat(31, 30);
    FatImage::entry(img.rootEntry(4), "FAR     BIN", 0x20, 4990, 3000);
    img.chain({4990, 4999});
    img.setFat(4999, 0x0FFFFFF7);  // bad-cluster mark: past the volume
    for (bool formatted : {false, true}) {
        Parsed p(img, formatted);
        fs::Result<fs::EntryData> del = p.parser->openData(p.find("\xEF\xBF\xA5" "DEL.BIN"), silentFeedback());
        ASSERT_TRUE(del.ok());
        EXPECT_EQ(del->stream->size(), 1500u);
        std::string bytes(1500, '\0');
        del->stream->read(0, bytes.data(), bytes.size());
        EXPECT_EQ(bytes.substr(0, 512), std::string(512, 'a'));
        EXPECT_EQ(bytes.substr(1024, 476), formatted ? std::string(476, 'c') : std::string(476, '\0'));
        EXPECT_EQ(del->stream->damaged().size(), formatted ? 0u : 1u);
        fs::EntryRef empty = p.find("EMPTY.TXT");
        EXPECT_EQ(test::readData(*p.parser, empty), "");
        EXPECT_TRUE(p.parser->times(empty).modified.has_value());
        if (formatted) continue;
        fs::Result<fs::EntryData> loop = p.parser->openData(p.find("LOOP.BIN"), silentFeedback());
        ASSERT_EQ(loop->stream->damaged().size(), 1u);
        EXPECT_EQ(loop->stream->damaged()[0], (disk::ByteRange{1024, 5000 - 1024}));
        fs::Result<fs::EntryData> far = p.parser->openData(p.find("FAR.BIN"), silentFeedback());
        ASSERT_EQ(far->stream->damaged().size(), 1u);
        EXPECT_EQ(far->stream->damaged()[0].offset, 1024u);
    }
}

TEST(FatTexts, DosTimesAsStored) {
    FatImage img(16, 5000);
    // 2021-01-01 12:05:58 and 00:05:00
    FatImage::entry(img.rootEntry(1), "NOON    TXT", 0x21, 0, 0, (41 << 9) | (1 << 5) | 1, (12 << 11) | (5 << 5) | 29);
    FatImage::entry(img.rootEntry(2), "NIGHT   TXT", 0x02, 0, 1023, (41 << 9) | (1 << 5) | 1, 5 << 5);
    Parsed p(img);
    fs::EntryRef noon = p.find("NOON.TXT"), night = p.find("NIGHT.TXT");
    // The shared date text decides AM and PM; the fields are taken as stored.
    EXPECT_EQ(p.parser->entryTexts(noon).modified, fs::dateText({2021, 1, 1, 12, 5, 58}));
    EXPECT_EQ(p.parser->entryTexts(noon).accessed, "01/01/2021 ");
    EXPECT_EQ(p.parser->entryTexts(noon).attributes, "-R-A");
    EXPECT_EQ(p.parser->entryTexts(night).modified, fs::dateText({2021, 1, 1, 0, 5, 0}));
    EXPECT_EQ(p.parser->times(noon).modified->seconds, 1609502758);
    EXPECT_EQ(p.parser->sizeText(night), "1023 Bytes");
    EXPECT_EQ(fs::sizeText(5ll << 30), "5.00 GB");
}

TEST(FatRoot, Fat32RootFollowsItsChainFromTheRootClusterField) {
    FatImage img(32, 66000);
    img.bytes[44] = 7;  // the root starts at cluster 7 and goes on at 3
    img.setFat(2, 0);
    img.chain({7, 3});
    FatImage::entry(img.cluster(7) + 32 * 15, "FIRST   TXT", 0x20, 0, 0);
    FatImage::entry(img.cluster(3), "SECOND  TXT", 0x22, 0, 0);
    Parsed p(img);
    EXPECT_NE(p.find("FIRST.TXT"), fs::kNoEntry);
    EXPECT_NE(p.find("SECOND.TXT"), fs::kNoEntry);
}
