#include <gtest/gtest.h>

#include "filesystems/MemoryTree.h"
#include "recovery/FolderView.h"
#include "filesystems/ParserRegistry.h"
#include "recovery/ParseCompletion.h"
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

// A file system of the tests' own, registered like any other: recovery/ finds it by its
// type name and runs it without knowing it. Its parse fills the tree's first level.
struct TreeVolume : FakeVolume {
    fs::FolderTree* tree = nullptr;
    std::vector<fs::Mode> parsedIn;
    fs::ParseOutcome parse(WorkControl&, Feedback& feedback, fs::Mode mode) override {
        parsedIn.push_back(mode);
        feedback.status("reading the fake volume");
        TreeItem root = tree->insertItem(0, "ROOT", true, 0);
        for (fs::EntryRef e : top) {
            TreeItem item = tree->insertItem(root, entries[e].name, entries[e].folder, e);
            if (entries[e].deleted) tree->setRed(item);
        }
        return {};
    }
};

const fs::ParserRegistration kFakeFs{[] {
    fs::ParserInfo info;
    info.name = "FakeFS";
    info.typeNames = {"fakefs", "fake"};
    info.modes = {fs::Mode::Standard, fs::Mode::Deep};
    info.selectedStatus = "fake partition selected";
    info.create = [](const fs::ParserSetup& setup) {
        auto v = std::make_unique<TreeVolume>();
        v->tree = setup.tree;
        return v;
    };
    return info;
}()};

std::vector<std::string> texts(const MemoryTree& tree, TreeItem parent) {
    std::vector<std::string> out;
    for (TreeItem c : tree.children(parent)) out.push_back(tree.text(c));
    return out;
}

struct Browse : ::testing::Test {
    test::MemoryDisk disk{std::vector<uint8_t>(4096)};
    MemoryTree tree;
    RecordingFeedback feedback;
    std::unique_ptr<recovery::VolumeSession> session;
    fs::ParseOutcome outcome;
    fs::EntryRef docs = 0, empty = 0, loose = 0, sub = 0, gone = 0;

    void SetUp() override {
        std::string error;
        session = recovery::VolumeSession::open(disk, volumes::VolumeRecord{"FAKEFS", "0", "1   MB", 0}, tree,
                                                feedback, {}, error);
        ASSERT_NE(session, nullptr) << error;
        TreeVolume& volume = static_cast<TreeVolume&>(session->parser());
        docs = volume.folder(0, "docs");
        empty = volume.folder(0, "empty");
        loose = volume.file(0, "loose.txt", "l");
        volume.file(docs, "a.txt", "aaaa");
        sub = volume.folder(docs, "sub");
        volume.file(sub, "deep", "d");
        volume.folder(docs, "hollow");
        gone = volume.file(docs, "gone.txt", "g", /*deleted=*/true);
        outcome = session->parse();
    }
    TreeVolume& fake() { return static_cast<TreeVolume&>(session->parser()); }
    TreeItem item(const std::string& name, TreeItem parent = 0) {
        for (TreeItem c : tree.children(parent ? parent : tree.root()))
            if (tree.text(c) == name) return c;
        return fs::kNoItem;
    }
};

}  // namespace

TEST_F(Browse, WorkerRunsTheParseThenCompletes) {
    EXPECT_TRUE(outcome.status.ok());
    EXPECT_EQ(fake().parsedIn, std::vector<fs::Mode>{fs::Mode::Standard});
    EXPECT_EQ(feedback.statuses.front(), "fake partition selected");
    EXPECT_EQ(feedback.statuses[1], "reading the fake volume");
    EXPECT_EQ(feedback.statuses.back(), "Scanning processing done.Select save button to save the data.");
    EXPECT_EQ(feedback.messages, std::vector<std::string>{"Scanning processing done.Select save button to save the data."});
    // One placeholder under the folder with children; none under the empty folder or a file.
    EXPECT_EQ(texts(tree, item("docs")), std::vector<std::string>{"..DUMY.."});
    EXPECT_TRUE(tree.children(item("empty")).empty());
    EXPECT_TRUE(tree.children(item("loose.txt")).empty());
}

TEST_F(Browse, ExpandThenLabelClickInsertsOnceAndListsFiles) {
    FolderView view(fake(), tree);
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
    FolderView view(fake(), tree);
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
    FolderView view(fake(), tree);
    TreeItem d = item("docs");
    view.doubleClick(d, "", feedback, session->control());
    ASSERT_EQ(view.rows().size(), 2u);
    EXPECT_EQ(view.rows()[0].name, "a.txt");
    EXPECT_TRUE(view.rows()[0].size.empty());

    test::TempFolder out;
    output::SaveReport r = view.doubleClick(item("a.txt", d), out.str(), feedback, session->control());
    EXPECT_EQ(r.written, 1);
    EXPECT_EQ(test::readAll(out / "a.txt"), "aaaa");
    EXPECT_EQ(view.doubleClick(item("a.txt", d), "  ", feedback, session->control()).outcome, output::SaveReport::Outcome::NoOutputFolder);
}

TEST(VolumeSession, UnknownAndUnbuiltFileSystemsAreRefusedClearly) {
    test::MemoryDisk disk(std::vector<uint8_t>(4096));
    MemoryTree tree;
    RecordingFeedback feedback;
    std::string error;
    volumes::VolumeRecord record{"FAT12", "1", "1   MB", 0};
    EXPECT_EQ(recovery::VolumeSession::open(disk, record, tree, feedback, {}, error), nullptr);
    EXPECT_EQ(error, "not a valid drive.");
    EXPECT_EQ(feedback.statuses.back(), "Not a valid Drive .Go back");

    // A mode the file system does not offer; the names of a registered one in any case.
    recovery::VolumeSession::Options advanced;
    advanced.mode = fs::Mode::Advanced;
    record.fileSystem = "HFS+";
    EXPECT_EQ(recovery::VolumeSession::open(disk, record, tree, feedback, advanced, error), nullptr);
    EXPECT_NE(error.find("advanced recovery mode of HFS+"), std::string::npos);
    record.fileSystem = "Fake";
    EXPECT_EQ(recovery::VolumeSession::open(disk, record, tree, feedback, advanced, error), nullptr);
    EXPECT_NE(error.find("advanced recovery mode of FakeFS"), std::string::npos);
    EXPECT_NE(fs::findParser("NTFS"), nullptr);
    EXPECT_EQ(fs::findParser("FAKEFS")->name, "FakeFS");
}
