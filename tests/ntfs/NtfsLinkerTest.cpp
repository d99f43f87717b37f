// The linking of an NTFS entry table on crafted tables: each entry below the parent its
// FILE_NAME names, entries without a usable parent below the orphan folder, and every list
// cut where it would reach an entry a second time.

#include <gtest/gtest.h>

#include "filesystems/ntfs/NtfsLinker.h"
#include "filesystems/ntfs/NtfsRecord.h"

using namespace quenlow::fs;

namespace {

struct Table {
    NtfsTable table;
    NtfsLinker linker{table};

    explicit Table(int64_t slots) {
        for (int64_t i = 0; i < slots; ++i) {
            NtfsEntry e;
            e.signature = kFileSignature;
            e.selfIndex = i;
            e.recordFlags = 1;
            table.entries.push_back(e);
        }
    }
    // Gives slot `i` a FILE_NAME.
    void name(int64_t i, const char* n, int64_t parent, bool folder = false) {
        NtfsEntry& e = table.at(i);
        e.parentRef = parent;
        e.kind = folder ? NtfsKind::Folder : NtfsKind::Unknown;
        table.storeName(i, n);
    }
    void linkAll() {
        linker.beginParse();
        for (int64_t i = 0; i < table.size(); ++i)
            if (table.at(i).hasName) linker.link(i);
        linker.endParse();
    }
    std::vector<std::string> children(int64_t folder) const {
        std::vector<std::string> out;
        for (int64_t c = table.at(folder).firstChild; c > 0 && c < table.size() && out.size() < 100;
             c = table.at(c).nextSibling)
            out.push_back(table.nameAt(c));
        return out;
    }
};

}  // namespace

TEST(NtfsLinker, EntriesGoBelowTheirParentsOrphansBelowTheOrphanFolder) {
    for (bool wholeLists : {false, true}) {
        Table t(24);
        t.linker.walkWholeLists = wholeLists;
        t.name(5, ".", 5, true);
        t.name(16, "docs", 5, true);
        t.name(17, "a.txt", 16);
        t.name(18, "lost", 40);        // parent outside the table
        t.name(19, "under-a-file", 17);  // parent read already, and not a folder
        t.name(20, "early", 21);       // parent slot comes later and holds a file
        t.name(21, "b.txt", 16);
        t.name(22, "loop", 22, true);  // its own parent, but not the root
        t.name(23, "c.txt", 5);
        t.linkAll();
        NtfsLinker::Arrangement a = t.linker.arrange("ORPHAN_ENTRY", false);
        EXPECT_EQ(a.rootIndex, 5);
        EXPECT_EQ(a.orphanIndex, 24);
        EXPECT_EQ(t.children(5), (std::vector<std::string>{"docs", "c.txt", "ORPHAN_ENTRY"})) << wholeLists;
        EXPECT_EQ(t.children(16), (std::vector<std::string>{"a.txt", "b.txt"}));
        // Gathered newest first, behind the first one found.
        EXPECT_EQ(t.children(24), (std::vector<std::string>{"loop", "early", "under-a-file", "lost"}));
        EXPECT_TRUE(t.children(21).empty());  // a file's child list is never shown
    }
}

TEST(NtfsLinker, ListsThatLoopAreCutAndDeepModeGathersEveryNamedEntry) {
    Table t(20);
    t.name(5, ".", 5, true);
    t.name(16, "d", 5, true);
    t.name(17, "e", 16, true);
    t.name(18, "f", 17);
    t.linkAll();
    t.table.at(18).nextSibling = 16;  // f -> d: d would sit below itself
    t.table.at(17).nextSibling = 17;  // e -> e
    NtfsLinker::Arrangement a = t.linker.arrange("ORPHAN_ENTRY", false);
    EXPECT_EQ(t.children(16), std::vector<std::string>{"e"});
    EXPECT_EQ(t.children(17), std::vector<std::string>{"f"});
    EXPECT_EQ(t.children(a.rootIndex), (std::vector<std::string>{"d", "ORPHAN_ENTRY"}));

    Table deep(8);
    deep.name(5, ".", 5, true);
    deep.name(6, "x", 99);
    deep.linkAll();
    NtfsLinker::Arrangement d = deep.linker.arrange("ORPHAN_ENTRY", true);
    EXPECT_EQ(deep.children(d.orphanIndex), std::vector<std::string>{"x"});
    // No root at all: nothing is arranged below one.
    Table none(4);
    none.name(2, "x", 3);
    none.linkAll();
    EXPECT_EQ(none.linker.arrange("ORPHAN_ENTRY", false).rootIndex, -1);
}
