// The browse page's rules without widgets: the tree model the wizard's tree mirrors, what
// each piece of work leaves usable, the list's checks followed to the tree, and the texts a
// save leaves the user.

#include <gtest/gtest.h>

#include "recovery/BrowseRules.h"
#include "recovery/TreeModel.h"

using namespace quenlow;
using fs::kNoItem;
using fs::TreeItem;
using recovery::BrowseState;
using recovery::TreeModel;

namespace {

std::vector<std::string> childTexts(const TreeModel& t, TreeItem parent) {
    std::vector<std::string> out;
    for (TreeItem c = parent == kNoItem ? t.root() : t.firstChild(parent); c != kNoItem; c = t.nextSibling(c))
        out.push_back(t.text(c));
    return out;
}

}  // namespace

TEST(TreeModel, SiblingListsSurviveDeletesAndNumbersAreNeverReused) {
    TreeModel t;
    TreeItem root = t.insertItem(kNoItem, "ROOT", true, 0);
    TreeItem a = t.insertItem(root, "a", true, 11);
    TreeItem b = t.insertItem(root, "b", false, 12);
    TreeItem c = t.insertItem(root, "c", false, 13);
    TreeItem deep = t.insertItem(a, "deep", false, 14);
    struct Case {
        TreeItem gone;
        std::vector<std::string> left;
    };
    // Middle, last and first of a list: the others keep their order and their links.
    for (const Case& k : {Case{b, {"a", "c"}}, Case{c, {"a"}}, Case{a, {}}}) {
        t.deleteItem(k.gone);
        EXPECT_EQ(childTexts(t, root), k.left);
        EXPECT_FALSE(t.exists(k.gone));
        EXPECT_EQ(t.text(k.gone), "");
        EXPECT_EQ(t.data(k.gone), 0u);
    }
    EXPECT_FALSE(t.exists(deep));  // went with its folder
    TreeItem d = t.insertItem(root, "d", false, 15);
    TreeItem orphan = t.insertItem(deep, "orphan", false, 16);  // under a deleted item: top level
    EXPECT_EQ(childTexts(t, root), std::vector<std::string>{"d"});
    EXPECT_EQ(t.nextSibling(root), orphan);
    EXPECT_EQ(t.subtree(kNoItem), (std::vector<TreeItem>{root, d, orphan}));

    t.clear();
    EXPECT_EQ(t.root(), kNoItem);
    TreeItem fresh = t.insertItem(kNoItem, "ROOT", true, 0);
    EXPECT_GT(fresh, orphan);  // an old number names nothing after a clear
    EXPECT_FALSE(t.exists(root));
    EXPECT_EQ(t.firstChild(root), kNoItem);
}

TEST(BrowseRules, WorkHoldsTheTreeSearchSaveAndBack) {
    struct Case {
        const char* what;
        std::function<void(BrowseState&)> steps;
        bool back, browsable;
        std::string refusal;
    };
    using W = BrowseState::Work;
    const std::string wait = recovery::kWaitText;
    const std::vector<Case> cases = {
        {"parsing", [](BrowseState& s) { s.start(W::Parse); }, false, false, wait},
        {"parsed", [](BrowseState& s) { s.start(W::Parse); s.finish(); }, true, true, ""},
        {"searching", [](BrowseState& s) { s.start(W::Parse); s.finish(); s.start(W::Search); }, false, false, wait},
        {"saving", [](BrowseState& s) { s.start(W::Parse); s.finish(); s.start(W::Save); }, false, false, wait},
        {"searched", [](BrowseState& s) { s.start(W::Parse); s.finish(); s.start(W::Search); s.finish(); }, true, true, ""},
        {"no parser", [](BrowseState& s) { s.failedToStart(false); }, true, false, wait},
        {"no disk", [](BrowseState& s) { s.failedToStart(true); }, false, false, wait},
    };
    for (const Case& c : cases) {
        BrowseState s;
        c.steps(s);
        EXPECT_EQ(s.backEnabled(), c.back) << c.what;
        EXPECT_EQ(s.browsable(), c.browsable) << c.what;
        EXPECT_EQ(s.saveRefusal(), c.refusal) << c.what;
    }
}

TEST(BrowseRules, ListChecksFollowToTheTreeOnlyForFolderRows) {
    auto m = recovery::mirrorListCheck(false, 7, false);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->item, 7);
    EXPECT_TRUE(m->checked);
    EXPECT_FALSE(recovery::mirrorListCheck(false, 7, true)->checked);
    EXPECT_FALSE(recovery::mirrorListCheck(true, 7, false));  // search results
    EXPECT_FALSE(recovery::mirrorListCheck(false, kNoItem, false));
}

TEST(BrowseRules, SaveSummaryNamesEveryRenamedDamagedAndFailedFile) {
    output::SaveReport r;
    r.outcome = output::SaveReport::Outcome::Saved;
    r.counted = 5;
    r.handled = 5;
    r.written = 3;
    r.skipped = 1;
    r.renamed = {{"docs/a.txt", "/out/docs/a (deleted 1).txt"}};
    r.damaged = {{"/out/big.bin", {{0, 512}, {4096, 1024}}}};
    r.failures = {{"/out/x/y.txt", "its folder could not be created"}, {"/out/x", "Permission denied", true}};
    EXPECT_EQ(recovery::saveSummaryLine(r), "3 of 5 file(s) saved, 1 under another name, 1 damaged, 1 failed, 1 passed over");
    EXPECT_EQ(recovery::saveSummaryText(r, " /out "),
              "Saved into: /out\nFiles found: 5\nFiles saved: 3\nPassed over ($BadClus, never written): 1\n"
              "Saved under another name: 1\n  docs/a.txt -> /out/docs/a (deleted 1).txt\n"
              "Damaged (parts unreadable, saved as zeros): 1\n  /out/big.bin: bytes 0-511, 4096-5119 could not be read "
              "and were saved as zeros\nNot saved: 1 file(s), 1 folder(s) not made\n"
              "  /out/x/y.txt: its folder could not be created\n  folder /out/x: Permission denied\n");
    r.stopped = true;
    r.handled = 2;
    EXPECT_NE(recovery::saveSummaryText(r, "/out").find("Stopped after 2 of 5 file(s)\n"), std::string::npos);
}

TEST(BrowseRules, SingleFileTextSaysWhatTheSaveDid) {
    using O = output::SaveReport::Outcome;
    auto report = [](O outcome, int64_t written) {
        output::SaveReport r;
        r.outcome = outcome;
        r.written = written;
        return r;
    };
    EXPECT_EQ(recovery::singleFileText(report(O::Saved, 1), "/out ", "a.txt"), "file is dumped in path  :  /out/a.txt   ");
    output::SaveReport renamed = report(O::Saved, 1);
    renamed.renamed = {{"a.txt", "/out/a (2).txt"}};
    renamed.damaged = {{"/out/a (2).txt", {{512, 512}}}};
    EXPECT_EQ(recovery::singleFileText(renamed, "/out", "a.txt"),
              "file is dumped in path  :  /out/a (2).txt   \nparts of it could not be read and were saved as zeros: bytes "
              "512-1023");
    output::SaveReport failed = report(O::Saved, 0);
    failed.failures = {{"/out/a.txt", "No space left on device"}};
    EXPECT_EQ(recovery::singleFileText(failed, "/out", "a.txt"), "file could not be saved: /out/a.txt: No space left on device");
    EXPECT_EQ(recovery::singleFileText(report(O::NoOutputFolder, 0), "", "a.txt"), "");
    EXPECT_EQ(recovery::singleFileText(report(O::OutputFolderFailed, 0), "/none", "a.txt"), "");
}
