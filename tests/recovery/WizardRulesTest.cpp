// The member list, the scan settings and the check-box rules the wizard pages show.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "disk/FileReadSeekRaid.h"
#include "disk/RecoveryContext.h"
#include "recovery/CheckTree.h"
#include "recovery/MemberList.h"
#include "recovery/ScanSettings.h"
#include "support/ArrayBuilder.h"
#include "support/TempFolder.h"

using namespace quenlow::recovery;
using quenlow::disk::RecoveryContext;

namespace {

struct Members : ::testing::Test {
    quenlow::test::TempFolder folder;
    RecoveryContext context;
    std::string image(const std::string& name) {
        std::string path = (folder / name).string();
        std::ofstream(path) << std::string(64 * 1024, '\0');
        return path;
    }
    std::vector<std::string> names(const MemberList& list) {
        std::vector<std::string> out;
        for (const auto& r : list.rows()) out.push_back(r.name + "@" + r.offset);
        return out;
    }
};

}  // namespace

TEST_F(Members, RowsNewestOnTopRemoveTopmostOnlyAndNextWritesTheDisk) {
    MemberList list(MemberList::Kind::Drives, context);
    std::string error;
    const std::string a = image("a.img"), b = image("b.img");
    ASSERT_TRUE(list.add(a, error)) << error;
    list.addMissing();
    ASSERT_TRUE(list.add(b, error));
    EXPECT_EQ(names(list), (std::vector<std::string>{b + "@0", "MISSING DISK@0", a + "@0"}));
    EXPECT_EQ(context.raidDisk->memberNames, (std::vector<std::string>{a, "MISSING DISK", b}));

    EXPECT_EQ(list.remove(1), kTopmostOnlyText);
    EXPECT_EQ(list.remove(-1), "");
    EXPECT_EQ(list.rows().size(), 3u);

    EXPECT_FALSE(list.changeOffset(2, "   "));
    EXPECT_TRUE(list.changeOffset(2, "  abc "));  // kept as typed, refused on Next
    EXPECT_TRUE(list.changeOffset(0, " 2048 "));
    EXPECT_EQ(list.rows()[0].offset, "2048");
    EXPECT_NE(list.addedAgainQuestion((folder / "." / "a.img").string()).find("Add it again?"), std::string::npos);
    EXPECT_EQ(list.addedAgainQuestion(image("c.img")), "");

    EXPECT_EQ(list.next(), kNoLevelOrMembersText);
    list.chooseLevel(5);
    EXPECT_EQ(list.layout(), 3);
    list.chooseLayout(1);
    list.stripeText = "64";
    EXPECT_NE(list.next().find("member 0 (" + a + "), \"abc\", is not a number"), std::string::npos);
    EXPECT_TRUE(list.changeOffset(2, "0"));
    EXPECT_EQ(list.next(), "");
    const auto& raid = *context.raidDisk;
    EXPECT_EQ(raid.level, 5);
    EXPECT_EQ(raid.parityLayout, 1);
    EXPECT_EQ(raid.stripeSectors, 64);
    EXPECT_EQ(raid.partitionOffsets, (std::vector<int64_t>{0, 0, 2048}));

    list.chooseLevel(0);
    EXPECT_FALSE(list.layoutsEnabled());
    list.chooseLayout(2);
    EXPECT_EQ(list.layout(), 0);

    EXPECT_EQ(list.remove(0), "");
    EXPECT_EQ(context.raidDisk->memberNames, (std::vector<std::string>{a, "MISSING DISK"}));
    context.raidDisk.reset();
    EXPECT_EQ(list.next(), kObjectLostText);
}

TEST_F(Members, UnreadableSourcesAreRefusedWithWhatToDo) {
    MemberList list(MemberList::Kind::VhdFiles, context);
    std::string error;
    EXPECT_FALSE(list.add((folder / "absent.img").string(), error));
    EXPECT_NE(error.find("absent.img"), std::string::npos);
    if (geteuid() != 0) {  // root reads whatever the mode says
        std::string locked = image("locked.img");
        ::chmod(locked.c_str(), 0);
        EXPECT_FALSE(list.add(locked, error));
        EXPECT_NE(error.find("usermod"), std::string::npos);
    }
    EXPECT_TRUE(list.rows().empty());
    EXPECT_EQ(context.raidDisk->vhdMembers, 1);
}

TEST_F(Members, ProposalFillsOrderOffsetsAndSettings) {
    MemberList list(MemberList::Kind::Drives, context);
    EXPECT_FALSE(list.applyProposal({5, 3, 100, {"x", "y", "z"}, {0, 0, 0}}));
    ASSERT_TRUE(list.applyProposal({5, 2, 256, {"x", "y", "z"}, {1, 2, 3}}));
    EXPECT_EQ(names(list), (std::vector<std::string>{"z@3", "y@2", "x@1"}));
    EXPECT_EQ(list.layout(), 2);
    EXPECT_EQ(list.stripeText, "256");
}

TEST_F(Members, DetectionProposesOnlyWhatThePageCanShow) {
    std::ifstream in(QUENLOW_FIXTURE_DIR "/ntfs/ntfs.img", std::ios::binary);
    const std::vector<unsigned char> ntfs{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(ntfs.empty());
    struct Case {
        int layout;
        int64_t stripe;
        bool usable;
        const char* says;
    };
    for (const Case& c : {Case{2, 64, true, "Rotating Parity N with Data Restart."},
                          Case{4, 128, false, "--layout 4"}, Case{3, 16, false, "-s 16"}}) {
        const auto array = quenlow::test::ArrayBuilder::raid5(3, c.layout, c.stripe).build(ntfs);
        const std::vector<std::string> given{array.memberPaths[1], "MISSING", array.memberPaths[0]};
        const auto out = MemberList::propose(given, MemberList::Kind::Drives);
        EXPECT_EQ(out.usable, c.usable) << out.text;
        EXPECT_NE(out.text.find(c.says), std::string::npos) << out.text;
        if (c.usable) {
            EXPECT_EQ(out.proposal.memberNames,
                      (std::vector<std::string>{array.memberPaths[0], array.memberPaths[1], "MISSING DISK"}));
            MemberList list(MemberList::Kind::Drives, context);
            EXPECT_TRUE(list.applyProposal(out.proposal));
        }
    }
    const auto none = MemberList::propose({image("z0.img"), image("z1.img"), image("z2.img")}, MemberList::Kind::Drives);
    EXPECT_FALSE(none.usable);
    EXPECT_EQ(none.text.rfind("No array can be proposed: cannot tell", 0), 0u) << none.text;
}

TEST(ScanModeChoice, RangeHandedOverWhenCheckedAndEndNotNegative) {
    struct Case {
        bool advanced, custom;
        const char *start, *end;
        int64_t wantStart, wantEnd;
    };
    for (const Case& c : std::initializer_list<Case>{{false, true, "10", "20", 10, 20},  // left checked from Advance
                                                    {true, true, "100", "50", 100, 50},
                                                    {true, true, "-5", "-1", 0, 0},
                                                    {true, true, "-5", "9", 0, 9},
                                                    {true, true, "ten", "x", 0, 0},
                                                    {true, false, "10", "20", 0, 0}}) {
        ScanModeChoice s;
        if (c.advanced) s.chooseAdvanced();
        s.customRange = c.custom;
        s.startText = c.start;
        s.endText = c.end;
        ScanSettings out = s.next();
        EXPECT_EQ(out.mode, c.advanced ? 2 : 1);
        EXPECT_EQ(out.customStart, c.wantStart) << c.start << " " << c.end;
        EXPECT_EQ(out.customEnd, c.wantEnd) << c.start << " " << c.end;
        EXPECT_EQ(out.driveLabel, "raid Hard disk..");
        // Letters are refused only where they would be read: with "Custom Setting:" checked.
        EXPECT_EQ(s.refusal().empty(), !c.custom || c.start[0] != 't') << c.start;
    }
}

namespace {

// A folder with three files below a root.
struct Tree : ::testing::Test {
    CheckTree t;
    CheckTree::Item root = t.insert(CheckTree::kNone);
    CheckTree::Item folder = t.insert(root);
    CheckTree::Item f1 = t.insert(folder), f2 = t.insert(folder), f3 = t.insert(folder);
    using Box = CheckTree::Box;
    // Every count equals what a walk of the subtree gives.
    void expectExactCounts(CheckTree::Item item) {
        int all = 0, on = 0;
        std::vector<CheckTree::Item> pending(t.children(item));
        while (!pending.empty()) {
            auto i = pending.back();
            pending.pop_back();
            ++all;
            on += t.flag(i) ? 1 : 0;
            pending.insert(pending.end(), t.children(i).begin(), t.children(i).end());
        }
        EXPECT_EQ(t.descendants(item), all);
        EXPECT_EQ(t.checkedDescendants(item), on);
    }
};

}  // namespace

TEST_F(Tree, CheckingAndUncheckingFollowsTheSubtree) {
    std::vector<std::pair<CheckTree::Item, bool>> seen;
    t.onCheck = [&](CheckTree::Item i, bool v) { seen.emplace_back(i, v); };
    t.setCheck(folder, true);
    for (auto i : {folder, f1, f2, f3}) EXPECT_EQ(t.box(i), Box::Checked);
    EXPECT_EQ(t.box(root), Box::Checked);
    t.setCheck(f2, false);
    EXPECT_EQ(t.box(folder), Box::Mixed);
    EXPECT_EQ(t.getCheck(folder), 0);
    EXPECT_EQ(t.box(root), Box::Mixed);
    EXPECT_EQ(t.stateImage(folder, true), 11);
    t.setEnabled(f1, false);
    EXPECT_EQ(t.stateImage(f1, false), 6);
    t.setCheck(f1, false);  // disabled: ignored
    EXPECT_EQ(t.getCheck(f1), 1);
    EXPECT_EQ(seen.size(), 2u);
    expectExactCounts(root);
}

TEST_F(Tree, InsertAndDeleteKeepEveryAncestorExact) {
    t.setCheck(f1, true);
    t.setCheck(f3, true);
    t.remove(f2);  // the only unchecked child: the folder and the root become checked
    EXPECT_EQ(t.box(folder), Box::Checked);
    EXPECT_EQ(t.getCheck(root), 1);
    auto added = t.insert(folder);  // under a checked folder: mixed up to the root
    EXPECT_EQ(t.box(folder), Box::Mixed);
    EXPECT_EQ(t.box(root), Box::Mixed);
    expectExactCounts(root);
    t.setCheck(added, true);  // everything checked again: the root knows it
    EXPECT_EQ(t.getCheck(root), 1);
    expectExactCounts(root);
    t.remove(folder);
    EXPECT_EQ(t.descendants(root), 0);
    EXPECT_FALSE(t.exists(f1));
    auto sep = t.insert(root, true);
    t.setCheck(sep, true);  // separators take no check
    EXPECT_FALSE(t.flag(sep));
    EXPECT_EQ(t.separatorDescendants(root), 1);
}

TEST(CheckList, HeaderChecksAllAndFollowsTheRows) {
    CheckList empty;
    empty.clickHeader(0);
    EXPECT_TRUE(empty.headerChecked());
    CheckList l;
    l.setRowCount(3);
    EXPECT_FALSE(l.headerChecked());
    l.clickHeader(1);
    EXPECT_FALSE(l.headerChecked());
    l.clickHeader(0);
    EXPECT_TRUE(l.checked(0) && l.checked(1) && l.checked(2));
    l.setChecked(1, false);
    EXPECT_FALSE(l.headerChecked());
    l.setChecked(1, true);  // the last unchecked row
    EXPECT_TRUE(l.headerChecked());
}
