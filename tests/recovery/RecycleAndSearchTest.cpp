// The Recycle Bin's names restored after a parse, and the search of a parsed volume's names,
// over a stand-in volume whose first level is shown in a tree as the parse leaves it.

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "filesystems/MemoryTree.h"
#include "recovery/ParseCompletion.h"
#include "recovery/RecycleBinRestorer.h"
#include "recovery/RecycleInfoRecord.h"
#include "recovery/VolumeSession.h"
#include "support/FakeVolume.h"
#include "support/MemoryDisk.h"

using namespace quenlow;
using namespace quenlow::recovery;

namespace {

// An info file of `version` for the former path `path` (ASCII), as the recycling system
// writes it; version 1 pads the path to 260 characters.
std::string infoFile(int version, const std::string& path) {
    std::string b(24, '\0');
    b[0] = static_cast<char>(version);
    b[8] = 0x10;  // the size and the deletion time are not read
    if (version == 2) {
        uint32_t units = static_cast<uint32_t>(path.size() + 1);
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>(units >> (8 * i)));
    }
    for (char c : path) b += std::string{c, '\0'};
    b += std::string(2, '\0');
    if (version == 1) b.resize(24 + 520, '\0');
    return b;
}

std::optional<std::string> formerPath(const std::string& bytes) {
    auto r = RecycleInfoRecord::decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return r ? std::optional<std::string>(r->formerPath) : std::nullopt;
}

// The first level of `volume` in a tree, with the placeholders the completion adds.
void showFirstLevel(test::FakeVolume& volume, fs::MemoryTree& tree) {
    fs::TreeItem root = tree.insertItem(fs::kNoItem, "ROOT", true, 0);
    for (fs::EntryRef e : volume.firstLevel()) tree.insertItem(root, volume.name(e), volume.isFolder(e), e);
    addPlaceholderChildren(tree, volume);
}

fs::ParserInfo infoWith(bool userFolders) {
    fs::ParserInfo info;
    info.name = "fake";
    info.restoresRecycleBin = true;
    info.recycleBinUserFolders = userFolders;
    return info;
}

}  // namespace

TEST(RecycleInfoRecord, BothVersionsAndBadRecords) {
    std::string v2 = infoFile(2, "C:\\Users\\me\\report.docx");
    std::string odd = infoFile(1, "C:\\a.txt").substr(0, 24 + 7);  // half a character at the end
    std::string lying = v2;
    lying[24] = '\x7f';  // a length past the record is cut to it
    std::string surrogate = infoFile(2, "C:\\xy");
    surrogate[28 + 6] = '\x00', surrogate[28 + 7] = '\xd8';  // a lone high surrogate for 'x'
    const struct {
        const char* what;
        std::string bytes;
        std::optional<std::string> path;
    } cases[] = {
        {"version 1", infoFile(1, "C:\\docs\\old.txt"), "C:\\docs\\old.txt"},
        {"version 2", v2, "C:\\Users\\me\\report.docx"},
        {"version 2 read as 1 would start inside the length", v2.substr(0, 28), ""},
        {"odd byte count", odd, "C:\\"},
        {"lying length", lying, "C:\\Users\\me\\report.docx"},
        {"invalid UTF-16", surrogate, "C:\\\xEF\xBF\xBDy"},
        {"truncated header", v2.substr(0, 20), std::nullopt},
        {"2048 bytes or more", std::string(2048, 'a'), std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(formerPath(c.bytes), c.path) << c.what;
    RecycleInfoRecord r;
    r.formerPath = "no separator.txt";
    EXPECT_EQ(r.formerName(), "no separator.txt");
    r.formerPath = "D:\\x\\y\\z.bin";
    EXPECT_EQ(r.formerName(), "z.bin");
}

TEST(RecycleBinRestorer, UserFoldersOnNtfsAndTheFolderItselfElsewhere) {
    for (bool userFolders : {true, false}) {
        SCOPED_TRACE(userFolders ? "per-user folders" : "pairs directly inside");
        test::FakeVolume v;
        fs::EntryRef bin = v.folder(0, "$RECYCLE.BIN");
        fs::EntryRef in = userFolders ? v.folder(bin, "S-1-5-21-1-2-3-1001") : bin;
        fs::EntryRef data = v.file(in, userFolders ? "$RAB12CD.txt" : "$RAB12CD.txt  ", "the data");
        v.file(in, userFolders ? "$IAB12CD.txt" : "$IAB12CD.txt ", infoFile(2, "C:\\Users\\me\\Desktop\\notes.txt"));
        fs::EntryRef dir = v.folder(in, "$R0XY9ZZ");  // a recycled folder
        v.file(dir, "inside.txt", "x");
        v.file(in, "$I0XY9ZZ", infoFile(1, "C:\\Projects"));
        fs::EntryRef lonely = v.file(in, "$RNOPAIR.dat", "y");
        fs::EntryRef empty = v.file(in, "$REMPTY.txt", "z");
        v.file(in, "$IEMPTY.txt", infoFile(2, ""));
        fs::EntryRef big = v.file(in, "$RBIG.txt", "w");
        v.file(in, "$IBIG.txt", std::string(3000, '\x01'));
        // A sub-folder of the bin's own folder, and a bin whose case differs, are not read.
        fs::EntryRef deeper = v.folder(in, "sub");
        fs::EntryRef deep = v.file(deeper, "$RDEEP.txt", "d");
        v.file(deeper, "$IDEEP.txt", infoFile(2, "C:\\deep.txt"));
        fs::EntryRef other = v.folder(0, "$recycle.bin");
        fs::EntryRef otherIn = userFolders ? v.folder(other, "S-1") : other;
        fs::EntryRef otherData = v.file(otherIn, "$RCASE.txt", "c");
        v.file(otherIn, "$ICASE.txt", infoFile(2, "C:\\case.txt"));
        fs::MemoryTree tree;
        showFirstLevel(v, tree);
        fs::ParserInfo info = infoWith(userFolders);
        test::RecordingFeedback feedback;
        EXPECT_EQ(RecycleBinRestorer(tree, v, info).restore(feedback), 2);
        EXPECT_EQ(v.name(data), "notes.txt");
        EXPECT_EQ(v.name(dir), "Projects");
        EXPECT_EQ(v.name(lonely), "$RNOPAIR.dat");
        EXPECT_EQ(v.name(empty), "$REMPTY.txt");  // no name would be left to show or save
        EXPECT_EQ(v.name(big), "$RBIG.txt");
        EXPECT_EQ(v.name(deep), "$RDEEP.txt");
        EXPECT_EQ(v.name(otherData), "$RCASE.txt");
    }
}

namespace {

struct Searched : ::testing::Test {
    test::FakeVolume v;
    fs::MemoryTree tree;
    test::RecordingFeedback feedback;
    WorkControl control;
    std::vector<std::string> rows;

    void SetUp() override {
        fs::EntryRef photos = v.folder(0, "Photos");
        v.file(photos, "Holiday.JPG", "h");
        fs::EntryRef year = v.folder(photos, "2019");
        v.file(year, "beach.jpg", "b");
        v.file(photos, "notes.txt", "n");
        v.folder(0, "empty_jpg");  // no children: tested by its own name
        v.file(0, "top.jpg", "t");
        fs::EntryRef other = v.folder(0, "Other");
        v.file(other, "photojpeg.bin", "p");
        v.file(other, "ÄRGER über Σοφία и Привет.doc", "u");
        v.file(other, std::string(20000, 'a') + "b", "a");
        showFirstLevel(v, tree);
    }
    NameSearch::Outcome run(const std::string& pattern, std::function<void(const SearchRow&)> more = {}) {
        rows.clear();
        return NameSearch(tree, v, control).run(pattern, feedback, [&](const SearchRow& row) {
            rows.push_back(row.shownPath("ROOT"));
            if (more) more(row);
        });
    }
};

}  // namespace

TEST_F(Searched, PatternsFindNamesAnywhereWithoutLetterCase) {
    const struct {
        const char* pattern;
        std::vector<std::string> rows;
    } cases[] = {
        {"JPG", {"ROOT\\Photos\\Holiday.JPG", "ROOT\\Photos\\2019\\beach.jpg", "ROOT\\empty_jpg", "ROOT\\top.jpg"}},
        {"txt|bin", {"ROOT\\Photos\\notes.txt", "ROOT\\Other\\photojpeg.bin"}},
        {"y.jpg", {"ROOT\\Photos\\Holiday.JPG", "ROOT\\empty_jpg"}},  // the dot stands for any character
        {"ärger.*σΟΦΊΑ.*привет", {"ROOT\\Other\\ÄRGER über Σοφία и Привет.doc"}},
        {"(a+)+$", {}},  // nested repeats on a 20000-letter name end at once
        {"^2019$", {}},  // folders below the first level are walked, not matched
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.pattern), NameSearch::Outcome::Finished) << c.pattern;
        EXPECT_EQ(rows, c.rows) << c.pattern;
        EXPECT_EQ(feedback.messages.back(), kSearchFinishedText);
    }
    EXPECT_EQ(feedback.statuses.back(), kSearchFinishedText);
    run("jpe?g");
    EXPECT_EQ(rows.size(), 5u);
}

TEST_F(Searched, EmptyAndBadPatterns) {
    EXPECT_EQ(run(""), NameSearch::Outcome::Finished);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(feedback.messages, std::vector<std::string>{kSearchFinishedText});
    // Met at a first-level file, a pattern that does not compile ends the search with its
    // message; inside folders it ends each folder's search silently.
    for (const char* bad : {"*.jpg", "(unclosed", "(a)\\1"}) {
        feedback.messages.clear();
        EXPECT_EQ(run(bad), NameSearch::Outcome::BadPattern) << bad;
        EXPECT_EQ(feedback.messages.size(), 1u);
        EXPECT_NE(feedback.messages[0], kSearchFinishedText);
    }
    test::FakeVolume folders;
    folders.file(folders.folder(0, "only"), "x.jpg", "x");
    fs::MemoryTree t;
    showFirstLevel(folders, t);
    feedback.messages.clear();
    EXPECT_EQ(NameSearch(t, folders, control).run("*", feedback, {}), NameSearch::Outcome::Finished);
    EXPECT_EQ(feedback.messages, std::vector<std::string>{kSearchFinishedText});
}

TEST_F(Searched, StopSkipsTheRestOfOneFirstLevelFolder) {
    run("jpg|bin", [&](const SearchRow&) {
        if (rows.size() == 1) control.requestStop();
    });
    EXPECT_EQ(rows, (std::vector<std::string>{"ROOT\\Photos\\Holiday.JPG", "ROOT\\empty_jpg", "ROOT\\top.jpg",
                                              "ROOT\\Other\\photojpeg.bin"}));
    EXPECT_FALSE(control.stopRequested());
}

namespace {

// A volume whose parse says it has begun and then waits until the test lets it go on.
struct Gates {
    std::promise<void> begun, release;
};
Gates* gGates = nullptr;

struct GatedVolume : test::FakeVolume {
    fs::FolderTree* tree = nullptr;
    fs::ParseOutcome parse(WorkControl&, Feedback&, fs::Mode) override {
        gGates->begun.set_value();
        gGates->release.get_future().wait();
        file(folder(0, "dir"), "found.txt", "f");
        fs::TreeItem root = tree->insertItem(fs::kNoItem, "ROOT", true, 0);
        tree->insertItem(root, "dir", true, top.front());
        return {};
    }
};

const fs::ParserRegistration kGated{[] {
    fs::ParserInfo info;
    info.name = "GatedFS";
    info.typeNames = {"gatedfs"};
    info.modes = {fs::Mode::Standard};
    info.create = [](const fs::ParserSetup& setup) {
        auto v = std::make_unique<GatedVolume>();
        v->tree = setup.tree;
        return v;
    };
    return info;
}()};

}  // namespace

TEST(SessionSearch, WaitsForTheParseAndIgnoresASecondSearch) {
    Gates gates;
    gGates = &gates;
    test::MemoryDisk disk{std::vector<unsigned char>(4096)};
    fs::MemoryTree tree;
    test::RecordingFeedback feedback;
    std::string error;
    auto session = VolumeSession::open(disk, volumes::VolumeRecord{"GATEDFS", "0", "1   MB", 0}, tree, feedback, {},
                                       error);
    ASSERT_NE(session, nullptr) << error;
    std::thread parse([&] { session->parse(); });
    gates.begun.get_future().wait();
    NameSearch::Outcome second = NameSearch::Outcome::Finished;
    std::vector<std::string> found;
    std::thread search([&] {
        test::RecordingFeedback own;
        session->search("found", own, [&](const SearchRow& row) {
            found.push_back(row.volumePath());
            std::thread([&] { second = session->search("x", own, {}); }).join();
        });
    });
    gates.release.set_value();
    parse.join();
    search.join();
    EXPECT_EQ(found, std::vector<std::string>{"dir/found.txt"});  // the tree the parse made
    EXPECT_EQ(second, NameSearch::Outcome::Ignored);
}
