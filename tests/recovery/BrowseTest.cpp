#include <gtest/gtest.h>

#include "filesystems/MemoryTree.h"
#include "recovery/FolderView.h"
#include "recovery/NtfsStandardWorker.h"
#include "recovery/ParseCompletion.h"
#include "recovery/ParserChoice.h"
#include "recovery/VolumeSession.h"
#include "support/FakeVolume.h"
#include "support/MemoryDisk.h"
#include "support/TempFolder.h"

using namespace quenlow;
using quenlow::fs::MemoryTree;
using quenlow::fs::TreeItem;
using quenlow::recovery::FolderView;
using quenlow::test::FakeVolume;
using quenlow::test::RecordingFeedback;

namespace {

// A parser stand-in with the NTFS worker's steps: records their order and fills the tree's
// first level in the last one, as the parser does.
struct SteppedVolume : FakeVolume {
    fs::FolderTree* tree = nullptr;
    std::vector<std::string> calls;
    int mode = 0;
    int modeAtLocate = -1;
    bool prepare() { calls.push_back("prepare"); tree->insertItem(0, "ROOT", true, 0); return true; }
    bool readBootSector() { calls.push_back("boot"); return true; }
    bool locateMft() { calls.push_back("locate"); modeAtLocate = mode; return true; }
    void enumerateMft() { calls.push_back("enumerate"); }
    bool parseEntries() {
        calls.push_back("parse");
        for (fs::EntryRef e : top) {
            TreeItem item = tree->insertItem(tree->root(), entries[e].name, entries[e].folder, e);
            if (entries[e].deleted) tree->setRed(item);
        }
        return true;
    }
};

std::vector<std::string> texts(const MemoryTree& tree, TreeItem parent) {
    std::vector<std::string> out;
    for (TreeItem c : tree.children(parent)) out.push_back(tree.text(c));
    return out;
}

struct Browse : ::testing::Test {
    SteppedVolume volume;
    MemoryTree tree;
    RecordingFeedback feedback;
    fs::EntryRef docs = 0, empty = 0, loose = 0, sub = 0, gone = 0;

    void SetUp() override {
        volume.tree = &tree;
        docs = volume.folder(0, "docs");
        empty = volume.folder(0, "empty");
        loose = volume.file(0, "loose.txt", "l");
        volume.file(docs, "a.txt", "aaaa");
        sub = volume.folder(docs, "sub");
        volume.file(sub, "deep", "d");
        volume.folder(docs, "hollow");
        gone = volume.file(docs, "gone.txt", "g", /*deleted=*/true);
        recovery::runNtfsStandardWorker(volume, tree, feedback, 1);
    }
    TreeItem item(const std::string& name, TreeItem parent = 0) {
        for (TreeItem c : tree.children(parent ? parent : tree.root()))
            if (tree.text(c) == name) return c;
        return fs::kNoItem;
    }
};

}  // namespace

TEST_F(Browse, WorkerRunsTheStepsThenCompletes) {
    EXPECT_EQ(volume.calls, (std::vector<std::string>{"prepare", "boot", "locate", "enumerate", "parse"}));
    EXPECT_EQ(volume.modeAtLocate, 1);
    EXPECT_EQ(feedback.statuses.front(), " ParsingBasedOnMFT is going on....");
    EXPECT_EQ(feedback.statuses.back(), "Scanning processing done.Select save button to save the data.");
    EXPECT_EQ(feedback.messages, std::vector<std::string>{"Scanning processing done.Select save button to save the data."});
    // One placeholder under the folder with children; none under the empty folder or a file.
    EXPECT_EQ(texts(tree, item("docs")), std::vector<std::string>{"..DUMY.."});
    EXPECT_TRUE(tree.children(item("empty")).empty());
    EXPECT_TRUE(tree.children(item("loose.txt")).empty());
}

TEST_F(Browse, ExpandThenLabelClickInsertsOnceAndListsFiles) {
    FolderView view(volume, tree);
    TreeItem d = item("docs");
    view.expanding(d);
    EXPECT_EQ(texts(tree, d), (std::vector<std::string>{"a.txt", "sub", "hollow", "gone.txt"}));
    EXPECT_EQ(texts(tree, item("sub", d)), std::vector<std::string>{"..DUMY.."});
    EXPECT_TRUE(tree.children(item("hollow", d)).empty());
    EXPECT_TRUE(view.rows().empty());  // expanding leaves the list alone

    view.labelClick(d);
    EXPECT_EQ(texts(tree, d).size(), 4u);  // not inserted twice
    ASSERT_EQ(view.rows().size(), 2u);
    EXPECT_EQ(view.rows()[0].name, "a.txt");
    EXPECT_EQ(view.rows()[0].size, "4 Bytes");
    EXPECT_EQ(view.rows()[0].texts.created, fs::dateTextFromUnix(1500000000));
    EXPECT_EQ(view.rows()[1].name, "gone.txt");
    EXPECT_EQ(view.rows()[1].texts.attributes, "-A");
    // Opened by expanding: deleted children keep the normal colour.
    EXPECT_FALSE(tree.isRed(item("gone.txt", d)));
}

TEST_F(Browse, LabelClickPopulatesInRedAndFileClickListsOne) {
    FolderView view(volume, tree);
    TreeItem d = item("docs");
    view.setSearchResultsShown(true);
    view.labelClick(d);
    EXPECT_FALSE(view.searchResultsShown());
    EXPECT_TRUE(tree.isRed(item("gone.txt", d)));
    EXPECT_FALSE(tree.isRed(item("a.txt", d)));

    view.labelClick(item("a.txt", d));
    ASSERT_EQ(view.rows().size(), 1u);
    EXPECT_EQ(view.rows()[0].name, "a.txt");

    // A folder of folders lists nothing; the root item and a placeholder change nothing.
    TreeItem s = item("sub", d);
    view.labelClick(tree.root());
    view.labelClick(tree.firstChild(s));
    EXPECT_EQ(view.rows().size(), 1u);
    EXPECT_EQ(texts(tree, s), std::vector<std::string>{"..DUMY.."});
}

TEST_F(Browse, DoubleClickListsNamesOrSavesTheFile) {
    FolderView view(volume, tree);
    TreeItem d = item("docs");
    view.doubleClick(d, "");
    ASSERT_EQ(view.rows().size(), 2u);
    EXPECT_EQ(view.rows()[0].name, "a.txt");
    EXPECT_TRUE(view.rows()[0].size.empty());

    test::TempFolder out;
    volume.feedback = &feedback;
    output::SaveReport r = view.doubleClick(item("a.txt", d), out.str());
    EXPECT_EQ(r.written, 1);
    EXPECT_EQ(test::readAll(out / "a.txt"), "aaaa");
    EXPECT_EQ(view.doubleClick(item("a.txt", d), "  ").outcome, output::SaveReport::Outcome::NoOutputFolder);
}

TEST(ParserChoice, NamesAreComparedWithoutCase) {
    using recovery::ParserKind;
    EXPECT_EQ(recovery::parserKindFor("NTFS"), ParserKind::Ntfs);
    EXPECT_EQ(recovery::parserKindFor("ntfs"), ParserKind::Ntfs);
    EXPECT_EQ(recovery::parserKindFor("FAT"), ParserKind::Fat16);
    EXPECT_EQ(recovery::parserKindFor("EXFAT"), ParserKind::Fat64);
    EXPECT_EQ(recovery::parserKindFor("EXTx"), ParserKind::Ext);
    EXPECT_EQ(recovery::parserKindFor("hfs+"), ParserKind::HfsPlus);
    EXPECT_EQ(recovery::parserKindFor("FAT12"), ParserKind::None);
    EXPECT_EQ(recovery::parserKindFor("unknown"), ParserKind::None);
}

TEST(VolumeSession, UnknownAndUnbuiltFileSystemsAreRefusedClearly) {
    test::MemoryDisk disk(std::vector<uint8_t>(4096));
    MemoryTree tree;
    RecordingFeedback feedback;
    std::string error;
    volumes::VolumeRecord record{"FAT12", "1", "1   MB", 0};
    EXPECT_EQ(recovery::VolumeSession::open(disk, record, tree, "ROOT", feedback, 1, error), nullptr);
    EXPECT_EQ(error, "not a valid drive.");
    EXPECT_EQ(feedback.statuses.back(), "Not a valid Drive .Go back");

    record.fileSystem = "HFS+";
    EXPECT_EQ(recovery::VolumeSession::open(disk, record, tree, "ROOT", feedback, 1, error), nullptr);
    EXPECT_NE(error.find("not supported yet"), std::string::npos);
    EXPECT_NE(error.find("HFS+"), std::string::npos);
}
