#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "filesystems/MemoryTree.h"
#include "filesystems/ntfs/ntfs.h"
#include "ntfs/support/NtfsImage.h"
#include "support/MemoryDisk.h"
#include "support/ParserHarness.h"
#include "support/RecordingFeedback.h"

using namespace quenlow;
using namespace quenlow::test;
using fs::ntfs;

namespace {


struct Parsed {
    MemoryDisk disk;
    fs::MemoryTree tree;
    volumes::VolumeRecord volume;
    RecordingFeedback feedback;
    std::unique_ptr<ntfs> parser;
    fs::ParseOutcome outcome;

    explicit Parsed(std::vector<uint8_t> bytes, bool wholeLists = false, bool run = true)
        : disk(std::move(bytes)) {
        volume.fileSystem = "NTFS";
        volume.volumeSizeText = "1   MB";
        parser = std::make_unique<ntfs>(setupOn(disk, volume, tree));
        parser->walkWholeLists = wholeLists;
        if (run) outcome = parseIn(*parser, feedback);
    }
    fs::EntryRef find(const std::string& path) const {
        // '/'-separated from the first level
        std::vector<fs::EntryRef> level = parser->firstLevel();
        fs::EntryRef found = fs::kNoEntry;
        size_t start = 0;
        while (start <= path.size()) {
            size_t slash = path.find('/', start);
            std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            found = fs::kNoEntry;
            for (fs::EntryRef r : level)
                if (parser->name(r) == part) found = r;
            if (found == fs::kNoEntry || slash == std::string::npos) return found;
            level.clear();
            for (fs::EntryRef c = parser->firstChild(found); c != fs::kNoEntry; c = parser->nextSibling(c))
                level.push_back(c);
            start = slash + 1;
        }
        return found;
    }
    std::vector<std::string> childNames(fs::EntryRef folder) const {
        std::vector<std::string> names;
        for (fs::EntryRef c = parser->firstChild(folder); c != fs::kNoEntry && names.size() < 10000;
             c = parser->nextSibling(c))
            names.push_back(parser->name(c));
        return names;
    }
    std::vector<std::string> firstLevelNames() const {
        std::vector<std::string> names;
        for (fs::EntryRef r : parser->firstLevel()) names.push_back(parser->name(r));
        return names;
    }
};

NtfsImage basicVolume() {
    NtfsImage img;
    img.setRecord(1, RecordBuilder().standardInfo(0, 0, 0).fileName(5, u"$MFTMirr"));
    img.setRecord(16, RecordBuilder(3).standardInfo(0, 0, 0).folderName(5, u"docs"));
    img.setRecord(17, RecordBuilder().standardInfo(0, 0, 0).fileName(16, u"a.txt"));
    return img;
}

}  // namespace

TEST(NtfsParse, FirstLevelHoldsRootChildrenThenOrphanFolderButNeverEntryZero) {
    Parsed p(basicVolume().bytes);
    EXPECT_TRUE(p.parser->mftLocated());
    EXPECT_EQ(p.parser->rootIndex(), 5);
    EXPECT_EQ(p.firstLevelNames(), (std::vector<std::string>{"$MFTMirr", "docs", "ORPHAN_ENTRY"}));
    EXPECT_EQ(p.childNames(p.find("docs")), std::vector<std::string>{"a.txt"});
    // The tree got the root item and the first level below it, the root expanded.
    fs::TreeItem root = p.tree.root();
    EXPECT_EQ(p.tree.text(root), "ROOT");
    EXPECT_TRUE(p.tree.isExpanded(root));
    std::vector<fs::TreeItem> items = p.tree.children(root);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_TRUE(p.tree.isFolderItem(items[1]));
    EXPECT_FALSE(p.tree.isFolderItem(items[0]));
    EXPECT_EQ(p.tree.data(items[1]), p.find("docs"));
    for (fs::EntryRef r : p.parser->firstLevel()) EXPECT_NE(r, fs::kNoEntry);
    EXPECT_NE(std::find(p.feedback.statuses.begin(), p.feedback.statuses.end(),
                        "boot sector is fine.Getting run of mft entry..."),
              p.feedback.statuses.end());
    EXPECT_NE(std::find(p.feedback.statuses.begin(), p.feedback.statuses.end(), "parsing 4 cluster of MFT run."),
              p.feedback.statuses.end());
    // Entry 0 ($MFT, whose parent is the root) is in no child list: it names itself only
    // through index 0, which links to nothing.
    const size_t n = p.parser->entries().size();
    for (size_t i = 0; i < n; ++i) {
        size_t steps = 0;
        for (fs::EntryRef c = p.parser->firstChild(ntfs::refOf(static_cast<int64_t>(i))); c != fs::kNoEntry && steps < n;
             c = p.parser->nextSibling(c), ++steps)
            EXPECT_NE(c, ntfs::refOf(0)) << "in the list of entry " << i;
    }
    EXPECT_EQ(p.parser->entries().size(), 33u);  // 32 slots and the orphan folder
}

TEST(NtfsParse, NameFromLastFileNameParentFromFirstAndLongNamesKept) {
    NtfsImage img = basicVolume();
    img.setRecord(18, RecordBuilder().standardInfo(0, 0, 0).fileName(16, u"LONGFI~1.TXT").fileName(5, u"long file name.txt"));
    std::u16string n255(255, u'x');
    img.setRecord(19, RecordBuilder().standardInfo(0, 0, 0).fileName(16, n255));
    Parsed p(img.bytes);
    std::vector<std::string> docs = p.childNames(p.find("docs"));
    EXPECT_EQ(docs, (std::vector<std::string>{"a.txt", "long file name.txt", std::string(255, 'x')}));
}

TEST(NtfsParse, DeletedEntriesStayUnderTheirFolderAndShowRed) {
    NtfsImage img = basicVolume();
    img.setRecord(18, RecordBuilder(0).standardInfo(0, 0, 0).fileName(16, u"gone.txt"));
    img.setRecord(20, RecordBuilder(2).standardInfo(0, 0, 0).folderName(5, u"old"));
    Parsed p(img.bytes);
    fs::EntryRef gone = p.find("docs/gone.txt");
    ASSERT_NE(gone, fs::kNoEntry);
    EXPECT_TRUE(p.parser->isDeleted(gone));
    EXPECT_FALSE(p.parser->isDeleted(p.find("docs/a.txt")));
    std::vector<fs::TreeItem> items = p.tree.children(p.tree.root());
    bool redOld = false;
    for (fs::TreeItem it : items)
        if (p.tree.text(it) == "old") redOld = p.tree.isRed(it);
        else EXPECT_FALSE(p.tree.isRed(it)) << p.tree.text(it);
    EXPECT_TRUE(redOld);
}

TEST(NtfsParse, UnusableParentsGoUnderOrphanFolderNewestFirst) {
    NtfsImage img = basicVolume();
    img.setRecord(18, RecordBuilder().standardInfo(0, 0, 0).fileName(17, u"child-of-file"));  // parent a file, earlier
    img.setRecord(19, RecordBuilder().standardInfo(0, 0, 0).fileName(1000, u"beyond-table"));
    img.setRecord(20, RecordBuilder().standardInfo(0, 0, 0).fileName(25, u"parent-later-is-file"));
    img.setRecord(21, RecordBuilder().standardInfo(0, 0, 0).fileName(21, u"own-parent"));
    img.setRecord(25, RecordBuilder().standardInfo(0, 0, 0).fileName(5, u"plain.bin"));
    Parsed p(img.bytes);
    EXPECT_EQ(p.childNames(p.find("ORPHAN_ENTRY")),
              (std::vector<std::string>{"own-parent", "parent-later-is-file", "beyond-table", "child-of-file"}));
    EXPECT_FALSE(p.parser->hasChildren(p.find("plain.bin")));
    EXPECT_FALSE(p.parser->hasChildren(p.find("docs/a.txt")));
    // A file parent hides nobody, and nobody is its own child.
    for (int64_t i = 0; i < static_cast<int64_t>(p.parser->entries().size()); ++i)
        EXPECT_NE(p.parser->entries()[static_cast<size_t>(i)].firstChild, i == 0 ? -1 : i);
}

TEST(NtfsParse, ChildrenAppearInMftOrderAndFastLinkingMatchesWholeListWalks) {
    NtfsImage img(4096, 64, 512);
    img.setRecord(10, RecordBuilder(3).folderName(40, u"late-parent"));  // child before its folder
    for (int i = 11; i < 40; ++i)
        img.setRecord(i, RecordBuilder().fileName(i % 3 == 0 ? 5 : 40, std::u16string{u'f', char16_t(u'A' + i - 11)}));
    img.setRecord(40, RecordBuilder(3).folderName(5, u"dir"));
    for (int i = 41; i < 64; ++i)
        img.setRecord(i, RecordBuilder(i % 2 ? 1 : 0).fileName(i % 2 ? 40 : 10, std::u16string{u'g', char16_t(u'A' + i - 41)}));
    Parsed fast(img.bytes, false), plain(img.bytes, true);
    ASSERT_EQ(fast.parser->entries().size(), plain.parser->entries().size());
    for (size_t i = 0; i < fast.parser->entries().size(); ++i) {
        EXPECT_EQ(fast.parser->entries()[i].firstChild, plain.parser->entries()[i].firstChild) << i;
        EXPECT_EQ(fast.parser->entries()[i].nextSibling, plain.parser->entries()[i].nextSibling) << i;
    }
    std::vector<std::string> dir = fast.childNames(fast.find("dir"));
    ASSERT_GE(dir.size(), 2u);
    EXPECT_EQ(dir[0], "late-parent");
    EXPECT_EQ(dir[1], "fA");
    EXPECT_EQ(fast.childNames(fast.find("dir/late-parent")).size(), 11u);
}

TEST(NtfsParse, SmallClustersGiveOneRecordPerTwoClusters) {
    // 512-byte clusters: a run of 11 clusters holds records at clusters 0, 2, ..., 10.
    NtfsImage img(512, 6, 512, 16);
    std::vector<uint8_t> mft = RecordBuilder()
                                   .fileName(5, u"$MFT")
                                   .nonResidentData({{16, 11}}, 0, 10, 6 * 1024)
                                   .finish();
    img.setRecord(0, mft);
    img.setRecord(3, RecordBuilder().fileName(5, u"three"));
    Parsed p(img.bytes);
    EXPECT_EQ(p.parser->clusterSize(), 512);
    EXPECT_EQ(p.parser->entries().size(), 6u + 1u);
    EXPECT_EQ(p.parser->entries()[3].recordPosition, 16 * 512 + 3 * 1024);
    EXPECT_NE(p.find("three"), fs::kNoEntry);
}

TEST(NtfsParse, BootlessVolumeIsFoundByScanningForTheMftRecord) {
    NtfsImage img = basicVolume();
    img.wipeBootSector();
    Parsed p(img.bytes);
    EXPECT_TRUE(p.outcome.status.ok());
    EXPECT_EQ(p.parser->volumeSize(), 1048576);  // from the size text
    EXPECT_TRUE(p.parser->mftLocated());
    EXPECT_TRUE(p.feedback.sawStatus("boot sector corrupt.Scanning for first mft entry..."));
    EXPECT_NE(std::find(p.feedback.statuses.begin(), p.feedback.statuses.end(), "found mft entry.getting its run ..."),
              p.feedback.statuses.end());
    EXPECT_EQ(p.firstLevelNames(), (std::vector<std::string>{"$MFTMirr", "docs", "ORPHAN_ENTRY"}));
}

TEST(NtfsParse, VolumeWithoutMftShowsOnlyTheRootItem) {
    std::vector<uint8_t> zeros(1 << 20, 0);
    Parsed p(zeros);
    EXPECT_FALSE(p.parser->mftLocated());
    EXPECT_FALSE(p.outcome.status.ok());  // no NTFS here: an error, not an empty listing
    EXPECT_TRUE(p.outcome.complete);
    EXPECT_TRUE(p.parser->firstLevel().empty());
    EXPECT_EQ(p.tree.children(p.tree.root()).size(), 0u);
}

TEST(NtfsParse, StopDuringParseKeepsUnreachedEntriesBare) {
    NtfsImage img = basicVolume();
    Parsed p(img.bytes, false, false);
    // The stop comes once the table is read, as the linking starts.
    struct StopAtLinking : RecordingFeedback {
        WorkControl* control = nullptr;
        void status(const std::string& t) override {
            if (t == "parsing MFT entry 0...") control->requestStop();
        }
    } feedback;
    WorkControl control;
    feedback.control = &control;
    p.parser->parse(control, feedback, fs::Mode::Standard);
    // Nothing was parsed; the orphan folder exists but no root does.
    EXPECT_TRUE(p.parser->firstLevel().empty());
    EXPECT_EQ(p.parser->name(ntfs::refOf(16)), "");
}

TEST(NtfsParse, LyingRecordsNeverBreakTheWalk) {
    NtfsImage img = basicVolume();
    // Attribute offsets past the record, lengths of zero, names past the record's end.
    std::vector<uint8_t> r = RecordBuilder().fileName(5, u"ok").finish();
    r[20] = 0xF8;
    r[21] = 0x03;  // first attribute at 1016
    img.setRecord(20, r);
    std::vector<uint8_t> cut = RecordBuilder().fileName(5, u"name-runs-past-the-end").finish();
    // Move the FILE_NAME so its name crosses byte 1024: first attribute near the end.
    std::vector<uint8_t> moved(1024, 0);
    std::memcpy(moved.data(), cut.data(), 56);
    std::memcpy(moved.data() + 920, cut.data() + 56, 104);
    moved[20] = 0x98;
    moved[21] = 0x03;
    img.setRecord(21, moved);
    Parsed p(img.bytes);
    EXPECT_EQ(p.find("ok"), fs::kNoEntry);
    EXPECT_EQ(p.parser->name(ntfs::refOf(21)), "");
}

TEST(NtfsParse, ChildListsThatLoopAreCut) {
    // Folder 20 claims parent 21 and folder 21 claims parent 20: neither reaches the root,
    // and walking either never loops.
    NtfsImage img = basicVolume();
    img.setRecord(20, RecordBuilder(3).folderName(21, u"x"));
    img.setRecord(21, RecordBuilder(3).folderName(20, u"y"));
    img.setRecord(22, RecordBuilder(3).folderName(5, u"z"));
    Parsed p(img.bytes);
    std::function<size_t(fs::EntryRef, int)> count = [&](fs::EntryRef f, int depth) -> size_t {
        if (depth > 50) return 1000000;
        size_t n = 0;
        for (fs::EntryRef c = p.parser->firstChild(f); c != fs::kNoEntry; c = p.parser->nextSibling(c)) {
            ++n;
            if (p.parser->isFolder(c)) n += count(c, depth + 1);
        }
        return n;
    };
    size_t total = 0;
    for (fs::EntryRef r : p.parser->firstLevel()) total += 1 + (p.parser->isFolder(r) ? count(r, 0) : 0);
    EXPECT_LT(total, 40u);
}

TEST(NtfsParse, EntryTextsComeFromStandardInformationAndFileNameFlags) {
    NtfsImage img = basicVolume();
    // 2021-03-04 13:07:00 UTC and 2021-03-04 00:05 UTC as file times.
    uint64_t t1307 = (1614863220ULL + 11644473600ULL) * 10000000ULL;
    uint64_t t0005 = (1614816300ULL + 11644473600ULL) * 10000000ULL;
    img.setRecord(18, RecordBuilder()
                          .standardInfo(t1307, t0005, t1307)
                          .fileName(16, u"A~1", 0x1)
                          .fileName(16, u"attrs.txt", 0x1 | 0x2 | 0x200 | 0x20 | 0x800 | 0x4000));
    Parsed p(img.bytes);
    fs::EntryTexts t = p.parser->entryTexts(p.find("docs/attrs.txt"));
    EXPECT_EQ(t.created, "03/04/2021  01:07 PM");
    EXPECT_EQ(t.accessed, "03/04/2021  01:07 PM");
    EXPECT_EQ(t.modified, "03/04/2021  12:05 AM");
    EXPECT_EQ(t.attributes, "-R-H-S-A-C-E");
}

TEST(NtfsParse, DosAliasNeverHidesTheLongNameAndExtensionNamesGoToTheirBase) {
    NtfsImage img = basicVolume();
    std::u16string n255(255, u'b');
    img.setRecord(18, RecordBuilder().fileName(16, n255, 0, 0, 1).fileName(16, u"BBBBBB~1.TXT", 0, 0, 2));
    img.setRecord(19, RecordBuilder().fileName(16, u"ALIAS~1", 0, 0, 2).fileName(16, u"posix name", 0, 0, 0));
    // Base record 20 without a FILE_NAME; its name lives in extension record 21.
    img.setRecord(20, RecordBuilder().standardInfo(0, 0, 0).attributeList({{0x30, 21, 0}}).residentData({1, 2, 3}));
    img.setRecord(21, RecordBuilder().extensionOf(20).fileName(16, u"moved.bin"));
    // A stale extension: its base (record 22) has sequence 1 but the extension names sequence 2.
    img.setRecord(22, RecordBuilder().fileName(16, u"reused.txt"));
    std::vector<uint8_t> stale = RecordBuilder().extensionOf(22).fileName(16, u"stale.txt").finish();
    stale[38] = 2;
    img.setRecord(23, stale);
    Parsed p(img.bytes);
    EXPECT_EQ(p.childNames(p.find("docs")),
              (std::vector<std::string>{"a.txt", std::string(255, 'b'), "posix name", "moved.bin", "reused.txt",
                                        "stale.txt"}));
    EXPECT_EQ(p.find("docs/moved.bin"), ntfs::refOf(20));
    EXPECT_EQ(p.parser->dataSize(ntfs::refOf(20)), 3);
}

TEST(NtfsParse, AttributeHeadersCrossingASectorEndAreReadFixedUp) {
    // The FILE_NAME header straddles byte 510, where the raw record holds the update
    // sequence number instead of the header's own bytes.
    NtfsImage img = basicVolume();
    // An attribute of unknown type up to byte 490: the FILE_NAME's content offset field then
    // lies at 510.
    std::vector<uint8_t> pad(490 - 56, 0);
    pad[0] = 0x40;
    pad[4] = static_cast<uint8_t>(pad.size());
    pad[5] = static_cast<uint8_t>(pad.size() >> 8);
    std::vector<uint8_t> r = RecordBuilder().rawAttribute(pad).fileName(16, u"across.txt").finish();
    img.setRecord(20, r);
    Parsed p(img.bytes);
    EXPECT_NE(p.find("docs/across.txt"), fs::kNoEntry);
}
