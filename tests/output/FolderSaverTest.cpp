#include "output/FolderSaver.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/FakeVolume.h"
#include "support/TempFolder.h"

namespace fsys = std::filesystem;
using quenlow::output::FolderSaver;
using quenlow::output::SaveReport;
using quenlow::test::FakeVolume;
using quenlow::test::readAll;
using quenlow::test::RecordingFeedback;
using quenlow::test::TempFolder;

namespace {

std::vector<std::string> listing(const fsys::path& root) {
    std::vector<std::string> out;
    for (auto& e : fsys::recursive_directory_iterator(root))
        out.push_back(fsys::relative(e.path(), root).string() + (e.is_directory() ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
}

struct Fixture : ::testing::Test {
    FakeVolume volume;
    RecordingFeedback feedback;
    TempFolder out;
    FolderSaver saver{volume, feedback, volume.control};
};

}  // namespace

TEST_F(Fixture, EmptyOrBlankOutputFolderIsRefused) {
    auto top = volume.folder(0, "top");
    volume.file(top, "a.txt", "abc");
    for (std::string field : {"", "   ", " \t\n"}) {
        feedback.messages.clear();
        SaveReport r = saver.saveFolder(top, field);
        EXPECT_EQ(r.outcome, SaveReport::Outcome::NoOutputFolder) << '"' << field << '"';
        EXPECT_EQ(feedback.messages, std::vector<std::string>{"select output folder"});
        EXPECT_TRUE(feedback.questions.empty());
        EXPECT_EQ(saver.saveFile(volume.entries[top].firstChild, field).outcome,
                  SaveReport::Outcome::NoOutputFolder);
    }
    EXPECT_TRUE(volume.opened.empty());
}

TEST_F(Fixture, SelectionThatIsNoFolderDoesNothing) {
    auto top = volume.folder(0, "top");
    auto file = volume.file(top, "a.txt", "abc");
    for (auto sel : {quenlow::fs::kNoEntry, file, quenlow::fs::EntryRef{999}}) {
        SaveReport r = saver.saveFolder(sel, out.str());
        EXPECT_EQ(r.outcome, SaveReport::Outcome::NotQualifying);
    }
    EXPECT_TRUE(feedback.questions.empty());
    EXPECT_TRUE(feedback.messages.empty());
    EXPECT_TRUE(listing(out.path()).empty());
}

TEST_F(Fixture, SavesTreeBelowFolderWithTextsAndProgress) {
    auto top = volume.folder(0, "top");
    volume.file(top, "one.txt", std::string(3000, 'x'));
    auto sub = volume.folder(top, "sub");
    volume.file(sub, "two.bin", "22");
    auto deep = volume.folder(sub, "deep");
    volume.file(deep, "three", "333");
    volume.folder(top, "empty");

    SaveReport r = saver.saveFolder(top, std::string(" ").append(out.str()).append("  "));
    ASSERT_EQ(r.outcome, SaveReport::Outcome::Saved);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.counted, 3);
    EXPECT_EQ(r.written, 3);
    EXPECT_EQ(feedback.questions, std::vector<std::string>{
        "number of files found inside this folder = 3 .do u want to continue dumping these files..?"});
    // The selected folder itself is not made; its children land in the output folder.
    EXPECT_EQ(listing(out.path()), (std::vector<std::string>{
        "empty/", "one.txt", "sub/", "sub/deep/", "sub/deep/three", "sub/two.bin"}));
    EXPECT_EQ(readAll(out / "sub/deep/three"), "333");
    EXPECT_EQ(feedback.statuses.front(), "saving File  " + out.str() + "/one.txt");
    EXPECT_EQ(feedback.details.front(), "File size: 2 kb");
    EXPECT_EQ(feedback.rangeHigh, 3);
    EXPECT_EQ(feedback.positions.back(), 3);
    EXPECT_EQ(feedback.messages.back(), "work done");

    struct stat st {};
    ASSERT_EQ(::stat((out / "one.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1500000000);
}

TEST_F(Fixture, FolderWithoutFilesStillMakesItsFolders) {
    auto top = volume.folder(0, "top");
    auto a = volume.folder(top, "a");
    volume.folder(a, "b");
    SaveReport r = saver.saveFolder(top, out.str());
    EXPECT_EQ(r.counted, 0);
    EXPECT_EQ(feedback.questions.front(),
              "number of files found inside this folder = 0 .do u want to continue dumping these files..?");
    EXPECT_EQ(listing(out.path()), (std::vector<std::string>{"a/", "a/b/"}));
    EXPECT_EQ(feedback.messages, std::vector<std::string>{"work done"});
}

TEST_F(Fixture, AnsweringNoSavesNothing) {
    auto top = volume.folder(0, "top");
    volume.file(top, "a", "1");
    feedback.answer = false;
    EXPECT_EQ(saver.saveFolder(top, out.str()).outcome, SaveReport::Outcome::Declined);
    EXPECT_TRUE(listing(out.path()).empty());
    EXPECT_TRUE(feedback.messages.empty());
}

TEST_F(Fixture, BadClusIsCountedButNotWritten) {
    auto top = volume.folder(0, "$Extend");
    volume.file(top, "$BadClus", "bad");
    volume.file(top, "$badclus", "other");  // only the exact name is passed over
    SaveReport r = saver.saveFolder(top, out.str());
    EXPECT_EQ(r.counted, 2);
    EXPECT_EQ(r.skipped, 1);
    EXPECT_EQ(r.written, 1);
    EXPECT_EQ(listing(out.path()), std::vector<std::string>{"$badclus"});
    EXPECT_TRUE(r.ok());
}

TEST_F(Fixture, SameNamesInOneFolderKeepEveryFile) {
    auto top = volume.folder(0, "top");
    volume.file(top, "report.doc", "old", /*deleted=*/true);  // comes first in the list
    volume.file(top, "report.doc", "live");
    volume.file(top, "report.doc", "older", /*deleted=*/true);
    volume.file(top, "report.doc", "second live");
    volume.file(top, "Report.doc", "case");
    volume.folder(top, "dir", /*deleted=*/true);
    volume.file(volume.folder(top, "dir"), "x", "x");

    SaveReport r = saver.saveFolder(top, out.str());
    EXPECT_EQ(r.written, 6);
    EXPECT_EQ(readAll(out / "report.doc"), "live");
    EXPECT_EQ(readAll(out / "report (2).doc"), "second live");
    EXPECT_EQ(readAll(out / "report (deleted 1).doc"), "old");
    EXPECT_EQ(readAll(out / "report (deleted 2).doc"), "older");
    // Names that differ only in case are distinct names here; each keeps its own.
    EXPECT_EQ(readAll(out / "Report.doc"), "case");
    EXPECT_EQ(readAll(out / "dir/x"), "x");
    EXPECT_TRUE(fsys::is_directory(out / "dir (deleted 1)"));
    EXPECT_EQ(r.renamed.size(), 4u);  // the folder's new name is listed too
    EXPECT_EQ(r.renamed.front().volumePath, "report.doc");
    EXPECT_EQ(r.renamed.back().savedPath, out.str() + "/dir (deleted 1)");
}

TEST_F(Fixture, ExistingFilesAreNeverOverwrittenExistingFoldersReused) {
    auto top = volume.folder(0, "top");
    volume.file(top, "a.txt", "new");
    auto sub = volume.folder(top, "sub");
    volume.file(sub, "b", "b");
    { std::ofstream(out / "a.txt") << "mine"; }
    fsys::create_directory(out / "sub");
    { std::ofstream(out / "sub/keep") << "keep"; }

    SaveReport r = saver.saveFolder(top, out.str());
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(readAll(out / "a.txt"), "mine");
    EXPECT_EQ(readAll(out / "a (2).txt"), "new");
    EXPECT_EQ(readAll(out / "sub/b"), "b");
    EXPECT_EQ(readAll(out / "sub/keep"), "keep");
    ASSERT_EQ(r.renamed.size(), 1u);
    EXPECT_EQ(r.renamed[0].savedPath, out.str() + "/a (2).txt");

    // Saving again writes a second copy beside the first, never over it.
    SaveReport again = saver.saveFolder(top, out.str());
    EXPECT_EQ(again.written, 2);
    EXPECT_EQ(readAll(out / "a (3).txt"), "new");
    EXPECT_EQ(readAll(out / "sub/b (2)"), "b");
}

TEST_F(Fixture, UntrustedNamesStayInsideTheOutputFolder) {
    TempFolder outside;
    auto top = volume.folder(0, "top");
    volume.file(top, "../escape", "1");
    volume.file(top, "/etc/passwd", "2");
    volume.file(top, "..", "3");
    volume.file(top, ".", "4");
    volume.file(top, "", "5");
    volume.file(top, std::string("nul\0byte", 8), "6");
    volume.file(top, "tab\there\x7f", "7");
    volume.file(top, std::string(300, 'n') + ".txt", "8");
    auto dots = volume.folder(top, "..");
    volume.file(dots, "in-dots", "9");
    // A symbolic link already in the output folder where a sub-folder goes.
    fsys::create_directory_symlink(outside.path(), out / "link");
    auto link = volume.folder(top, "link");
    volume.file(link, "through-link", "10");

    SaveReport r = saver.saveFolder(top, out.str());
    EXPECT_EQ(r.written, 10);
    EXPECT_TRUE(r.failures.empty());
    EXPECT_TRUE(fsys::is_empty(outside.path()));
    EXPECT_EQ(readAll(out / ".._escape"), "1");
    EXPECT_EQ(readAll(out / "_etc_passwd"), "2");
    EXPECT_EQ(readAll(out / "__"), "3");
    EXPECT_EQ(readAll(out / "_"), "4");
    EXPECT_EQ(readAll(out / "unnamed"), "5");
    EXPECT_EQ(readAll(out / "nul_byte"), "6");
    EXPECT_EQ(readAll(out / "tab_here_"), "7");
    EXPECT_EQ(readAll(out / (std::string(251, 'n') + ".txt")), "8");
    EXPECT_EQ(readAll(out / "__ (2)/in-dots"), "9");  // the file "__" holds the plain name
    EXPECT_EQ(readAll(out / "link (2)/through-link"), "10");
    EXPECT_TRUE(fsys::is_symlink(out / "link"));
}

TEST_F(Fixture, EarlierStopDoesNotEmptyTheSaveButAStopDuringItEndsIt) {
    auto top = volume.folder(0, "top");
    for (int i = 0; i < 5; ++i) volume.file(top, std::string("f").append(std::to_string(i)), "x");
    volume.control.requestStop();  // left over from the parse
    SaveReport r = saver.saveFolder(top, out.str());
    EXPECT_EQ(r.written, 5);
    EXPECT_FALSE(r.stopped);

    TempFolder second;
    volume.stopAfterSaves = 7;  // two saves into the second run
    r = saver.saveFolder(top, second.str());
    EXPECT_TRUE(r.stopped);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.written, 2);
    EXPECT_EQ(feedback.messages.back(), "work done");
}

TEST_F(Fixture, LoopingChildListsEndAndEachEntryIsSavedOnce) {
    auto top = volume.folder(0, "top");
    auto a = volume.folder(top, "a");
    auto f = volume.file(a, "f", "f");
    auto up = volume.folder(a, "up");
    auto g = volume.file(a, "g", "g");
    volume.entries[g].nextSibling = f;      // f -> up -> g -> f ...
    volume.entries[up].firstChild = top;    // a child list holding an ancestor
    volume.entries[top].nextSibling = a;
    SaveReport r = saver.saveFolder(top, out.str());
    EXPECT_EQ(r.counted, 2);
    EXPECT_EQ(r.written, 2);
    EXPECT_EQ(listing(out.path()), (std::vector<std::string>{"a/", "a/f", "a/g", "a/up/"}));
}

TEST_F(Fixture, FirstLevelAndSingleFile) {
    auto top = volume.folder(0, "docs");
    volume.file(top, "a", "a");
    auto loose = volume.file(0, "loose.txt", "loose");
    volume.folder(0, "ORPHAN_ENTRY");
    SaveReport r = saver.saveEntries(volume.firstLevel(), out.str());
    EXPECT_EQ(r.counted, 2);
    EXPECT_EQ(listing(out.path()), (std::vector<std::string>{"ORPHAN_ENTRY/", "docs/", "docs/a", "loose.txt"}));

    feedback.questions.clear();
    r = saver.saveFile(loose, out.str());
    EXPECT_TRUE(feedback.questions.empty());
    EXPECT_EQ(r.written, 1);
    EXPECT_EQ(readAll(out / "loose (2).txt"), "loose");
    EXPECT_EQ(saver.saveFile(top, out.str()).outcome, SaveReport::Outcome::NotQualifying);
}

TEST_F(Fixture, MissingOutputFolderIsMadeAndFailuresAreReported) {
    auto top = volume.folder(0, "top");
    volume.file(top, "a", "a");
    auto sub = volume.folder(top, "sub");
    volume.file(sub, "b", "b");
    { std::ofstream(out / "plain") << ""; }
    SaveReport r = saver.saveFolder(top, (out / "new/deeper").string());
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(readAll(out / "new/deeper/sub/b"), "b");

    r = saver.saveFolder(top, (out / "plain/x").string());
    EXPECT_EQ(r.outcome, SaveReport::Outcome::OutputFolderFailed);
    EXPECT_FALSE(r.error.empty());
    EXPECT_NE(feedback.messages.back(), "work done");
}
