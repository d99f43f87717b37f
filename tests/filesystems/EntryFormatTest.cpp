#include <gtest/gtest.h>

#include "filesystems/EntryFormat.h"
#include "filesystems/MemoryTree.h"

using namespace quenlow;

TEST(EntryFormat, SizeTextUsesPowersOfTwoAndTheUnitBoundaries) {
    EXPECT_EQ(fs::sizeText(0), "0 Bytes");
    EXPECT_EQ(fs::sizeText(1023), "1023 Bytes");
    EXPECT_EQ(fs::sizeText(1024), "1.00 KB");
    EXPECT_EQ(fs::sizeText(1048575), "1024.00 KB");
    EXPECT_EQ(fs::sizeText(1048576), "1.00 MB");
    EXPECT_EQ(fs::sizeText(1073741824), "1.00 GB");
    EXPECT_EQ(fs::sizeText(5LL << 40), "5120.00 GB");  // beyond a terabyte: still GB
    EXPECT_EQ(fs::sizeText(-5), "-5 Bytes");
}

TEST(EntryFormat, DateTextUsesTheTwelveHourClock) {
    struct Case {
        int hour, minute;
        const char* text;
    };
    for (const Case& c : {Case{0, 0, "03/04/2021  12:00 AM"}, Case{0, 5, "03/04/2021  12:05 AM"},
                          Case{11, 59, "03/04/2021  11:59 AM"}, Case{12, 5, "03/04/2021  12:05 PM"},
                          Case{13, 0, "03/04/2021  01:00 PM"}, Case{23, 59, "03/04/2021  11:59 PM"}}) {
        platform::CalendarTime t{2021, 3, 4, c.hour, c.minute, 59};
        EXPECT_EQ(fs::dateText(t), c.text) << c.hour << ":" << c.minute;
    }
    // Years of any width, and fields no calendar has, as printf would give them.
    EXPECT_EQ(fs::dateText({1601, 1, 1, 0, 0, 0}), "01/01/1601  12:00 AM");
    EXPECT_EQ(fs::dateText({99, 12, 31, 23, 7, 0}), "12/31/99  11:07 PM");
    EXPECT_EQ(fs::dateText({12345, 150, 7, 9, 3, 0}), "150/07/12345  09:03 AM");
}

TEST(MemoryTree, KeepsOrderAndDeletesSubtrees) {
    fs::MemoryTree tree;
    auto root = tree.insertItem(fs::kNoItem, "ROOT", true, 0);
    auto a = tree.insertItem(root, "a", true, 11);
    auto b = tree.insertItem(root, "b", false, 12);
    auto a1 = tree.insertItem(a, "a1", false, 13);
    EXPECT_EQ(tree.firstChild(root), a);
    EXPECT_EQ(tree.nextSibling(a), b);
    EXPECT_EQ(tree.nextSibling(b), fs::kNoItem);
    EXPECT_EQ(tree.data(a1), 13u);
    tree.setRed(b);
    EXPECT_TRUE(tree.isRed(b));
    tree.deleteItem(a);
    EXPECT_EQ(tree.firstChild(root), b);
    EXPECT_EQ(tree.text(a1), "");  // gone with its parent
    EXPECT_EQ(tree.liveCount(), 2u);
}
