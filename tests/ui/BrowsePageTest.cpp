// The browse page on the offscreen platform, over the demo array (RAID-5, layout 3, stripe
// 128, member 1 missing): what the parse, a search and a save hold back, the tree and list
// events, saving with its question, pause, stop and summary, and the whole road from the
// member page to files compared with the volume's manifest.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/Sha256.h"
#include "support/TempFolder.h"
#include "ui/CMadrelApp.h"
#include "ui/Messages.h"
#include "ui/VolumeScanDlg.h"
#include "ui/advanceOptions.h"

using namespace quenlow::ui;
using quenlow::test::TempFolder;

namespace {

const std::string kDemo = QUENLOW_FIXTURE_DIR "/demo/";
const QString kParseDone = "Scanning processing done.Select save button to save the data.";

template <class F>
bool waitFor(F done, int ms = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

struct BrowsePage : ::testing::Test {
    std::vector<QString> messages, reports;
    std::function<void(const QString&)> onMessage;  // runs while the worker waits on the box
    std::function<bool()> onAsk = [] { return true; };
    CMadrelApp app;
    TempFolder out;
    VolumeScanDlg* page = nullptr;

    BrowsePage() {
        hooks().message = [this](QWidget*, const QString& t, QMessageBox::Icon) {
            messages.push_back(t);
            if (onMessage) onMessage(t);
        };
        hooks().ask = [this](QWidget*, const QString& t) { messages.push_back(t); return onAsk(); };
        hooks().openFile = [](QWidget*, const QString&) { return QString(); };
        hooks().chooseFolder = [this](QWidget*, const QString&) { return QString::fromStdString(out.str()); };
        hooks().report = [this](QWidget*, const QString&, const QString& t) { reports.push_back(t); };
        app.start();
    }
    template <class T = QAbstractButton>
    T* get(const char* name) { return app.currentPage()->findChild<T*>(name); }
    // The road: members with MISSING, RAID-5, standard scan, the volume at `start`, Standard.
    void open(const char* start, const char* mode = "standard") {
        get("next")->click();
        for (const char* m : {"member0.img", "", "member2.img"}) {
            hooks().openFile = [m](QWidget*, const QString&) { return QString::fromStdString(kDemo + m); };
            get(*m ? "addImage" : "addMissing")->click();
        }
        get("raid5")->click();
        get("next")->click();  // scan mode: standard
        get("next")->click();
        auto* volumes = get<QTreeWidget>("volumes");
        for (int i = 0; i < volumes->topLevelItemCount(); ++i)
            if (volumes->topLevelItem(i)->text(3) == start) volumes->setCurrentItem(volumes->topLevelItem(i));
        get("next")->click();
        get(mode)->click();
        get("next")->click();
        if (app.currentPage()->objectName() == "advanceOptions") {
            ASSERT_TRUE(waitFor([&] { return get("next")->isEnabled(); }));
            // A stop left from the candidate search does not end the parse.
            static_cast<advanceOptions*>(app.currentPage())->session()->control().requestStop();
            get("next")->click();
        }
        page = qobject_cast<VolumeScanDlg*>(app.currentPage());
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(waitFor([&] { return page->state().browsable(); }));
        get("chooseFolder")->click();
    }
    CXHtmlTree* tree() { return get<CXHtmlTree>("tree"); }
    CCheckListCtrl* list() { return get<CCheckListCtrl>("fileList"); }
    QTreeWidgetItem* item(const QString& path) {
        QTreeWidgetItem* at = tree()->topLevelItem(0);
        for (const QString& name : path.split('/')) {
            QTreeWidgetItem* found = nullptr;
            for (int i = 0; at != nullptr && i < at->childCount(); ++i)
                if (at->child(i)->text(0) == name) found = at->child(i);
            at = found;
        }
        return at;
    }
    QStringList rows(int column = 0) {
        QStringList r;
        for (int i = 0; i < list()->topLevelItemCount(); ++i) r << list()->topLevelItem(i)->text(column);
        return r;
    }
    void save(const QString& folder, const std::string& into) {
        get<QLineEdit>("outputFolder")->setText(QString::fromStdString(into));
        tree()->setCurrentItem(item(folder));
        get("save")->click();
        ASSERT_TRUE(waitFor([&] { return !page->working(); }));
    }
    // Saves every first-level folder into its own folder and double-clicks the first-level
    // files, then compares every live file of the manifest.
    void saveAllAndCompare(const std::string& manifest) {
        std::filesystem::create_directories(out.path());
        for (int i = 0; i < tree()->topLevelItem(0)->childCount(); ++i) {
            QTreeWidgetItem* first = tree()->topLevelItem(0)->child(i);
            if (first->childCount() > 0) {
                save(first->text(0), (out / first->text(0).toStdString()).string());
            } else {
                get<QLineEdit>("outputFolder")->setText(QString::fromStdString(out.str()));
                Q_EMIT tree()->itemDoubleClicked(first, 0);
                ASSERT_TRUE(waitFor([&] { return !page->working(); }));
            }
        }
        std::ifstream in(kDemo + manifest);
        const nlohmann::json entries = nlohmann::json::parse(in)["entries"];
        int compared = 0;
        for (const auto& e : entries) {
            if (e["is_folder"].get<bool>()) continue;
            EXPECT_EQ(quenlow::test::Sha256::ofFile((out / e["path"].get<std::string>()).string()), e["sha256"]) << e["path"];
            ++compared;
        }
        EXPECT_GT(compared, 10);
    }
};

}  // namespace

TEST_F(BrowsePage, TheParseHoldsTheTreeSearchSaveAndBackUntilItEnds) {
    bool checked = false;
    onMessage = [&](const QString& t) {
        if (t != kParseDone || checked) return;
        checked = true;  // the completion's box: the worker still runs
        EXPECT_FALSE(get("back")->isEnabled() || get("search")->isEnabled() || tree()->isEnabled());
        get("save")->click();
        EXPECT_EQ(messages.back(), "Please wait for other process to complete");
        for (const char* b : {"pause", "pause", "resume"}) get(b)->click();
        EXPECT_EQ(page->session()->control().pauseCount(), 1);  // two pauses need two resumes
        get("resume")->click();
    };
    open("2048");
    EXPECT_TRUE(checked);
    EXPECT_TRUE(get("back")->isEnabled() && tree()->isEnabled() && get<QWidget>("progress")->isHidden());
    EXPECT_EQ(item("Documents")->child(0)->text(0), "..DUMY..");
    EXPECT_EQ(item("hello.txt")->childCount(), 0);
    get("back")->click();
    EXPECT_EQ(app.currentPage()->objectName(), "ParceModeNtfsDlg");
}

TEST_F(BrowsePage, ExpandLabelClickDoubleClickAndListChecksFollowToTheTree) {
    open("2048");
    tree()->setCheck(item("Photos"), true);
    tree()->expandItem(item("Photos"));
    EXPECT_EQ(tree()->getCheck(item("Photos/2019")), 1);  // new children take their folder's check
    Q_EMIT tree()->labelClicked(item("Documents"));
    tree()->expandItem(item("Documents"));
    EXPECT_EQ(item("Documents")->childCount(), 3);  // inserted once
    EXPECT_EQ(rows(), (QStringList{"letter.txt", "old_draft.txt"}));
    EXPECT_FALSE(rows(4).contains(""));
    list()->topLevelItem(0)->setCheckState(0, Qt::Checked);  // as a click on the row's box does
    EXPECT_EQ(tree()->getCheck(item("Documents/letter.txt")), 1);
    Q_EMIT tree()->labelClicked(item("Documents/Work"));
    EXPECT_EQ(tree()->itemTextColour(item("Documents/old_draft.txt")), QColor(0xff, 0, 0));  // deleted
    EXPECT_EQ(rows(), (QStringList{"budget.csv", "report.txt"}));

    const size_t shown = messages.size();
    Q_EMIT tree()->itemDoubleClicked(item("hello.txt"), 0);
    ASSERT_TRUE(waitFor([&] { return !page->working(); }));
    EXPECT_EQ(get<QLabel>("status")->text().toStdString(), "file is dumped in path  :  " + out.str() + "/hello.txt   ");
    Q_EMIT tree()->itemDoubleClicked(item("hello.txt"), 0);  // never over the first one
    ASSERT_TRUE(waitFor([&] { return !page->working(); }));
    EXPECT_EQ(get<QLabel>("status")->text().toStdString(), "file is dumped in path  :  " + out.str() + "/hello (2).txt   ");
    EXPECT_EQ(messages.size(), shown);  // NTFS tells a clean save on the status line only
    get<QLineEdit>("outputFolder")->setText(QString::fromStdString(out.str() + "/hello.txt/x"));
    const size_t before = messages.size();
    Q_EMIT tree()->itemDoubleClicked(item("hello.txt"), 0);
    ASSERT_TRUE(waitFor([&] { return !page->working(); }));
    ASSERT_GT(messages.size(), before);
    EXPECT_FALSE(messages.back().startsWith("file is dumped")) << messages.back().toStdString();
}

TEST_F(BrowsePage, SearchGreysTheTreeAndListsPathsFromTheRoot) {
    open("2048");
    onMessage = [&](const QString& t) {
        if (t != "Searching Finished") return;
        EXPECT_FALSE(tree()->isEnabled() || get("back")->isEnabled() || get("save")->isEnabled());
        EXPECT_NE(tree()->palette().color(QPalette::Base), page->palette().color(QPalette::Base));
    };
    get<QLineEdit>("searchPattern")->setText("REPORT|m3u");
    get("search")->click();
    ASSERT_TRUE(waitFor([&] { return !page->working(); }));
    EXPECT_EQ(rows(), (QStringList{"ROOT\\Documents\\Work\\report.txt", "ROOT\\Music\\playlist.m3u"}));
    EXPECT_TRUE(tree()->isEnabled() && get("back")->isEnabled());
    list()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    EXPECT_EQ(tree()->getCheck(item("Documents")), 0);  // results do not check the tree
    get<QLineEdit>("searchPattern")->setText("*.txt");
    get("search")->click();
    ASSERT_TRUE(waitFor([&] { return !page->working(); }));
    EXPECT_EQ(messages.back(), "such characters are not allowed for search.Try again with different pattern.");
}

TEST_F(BrowsePage, SaveAsksCountsPausesStopsAndSumsUp) {
    open("2048");
    const size_t before = messages.size();
    get<QLineEdit>("outputFolder")->setText("   ");
    get("save")->click();
    EXPECT_EQ(messages.back(), "select output folder");
    save("hello.txt", out.str());  // a file is no folder to save: nothing at all
    EXPECT_EQ(messages.size(), before + 1);
    onAsk = [] { return false; };
    save("Documents", out.str());
    EXPECT_EQ(messages.back(), "number of files found inside this folder = 4 .do u want to continue dumping these files..?");
    EXPECT_TRUE(std::filesystem::is_empty(out.path()));

    onAsk = [&] {
        for (const char* b : {"pause", "pause", "resume"}) get(b)->click();
        return true;
    };
    get<QLineEdit>("outputFolder")->setText(QString::fromStdString(out.str()));
    tree()->setCurrentItem(item("Documents"));
    get("save")->click();
    EXPECT_FALSE(waitFor([&] { return !page->working(); }, 300));  // held by the pause left
    EXPECT_FALSE(get("back")->isEnabled() || tree()->isEnabled());
    get("stop")->click();
    ASSERT_TRUE(waitFor([&] { return !page->working(); }));
    EXPECT_TRUE(page->lastSave().stopped);
    EXPECT_NE(reports.back().indexOf("Stopped after 0 of 4 file(s)"), -1) << reports.back().toStdString();

    onAsk = [] { return true; };  // the stop pressed before does not empty the next save
    save("Documents", out.str());
    EXPECT_EQ(messages.back(), "work done");
    EXPECT_NE(reports.back().indexOf("Files saved: 4\n"), -1) << reports.back().toStdString();
    EXPECT_EQ(get<QLabel>("status")->text(), "4 of 4 file(s) saved");
    EXPECT_TRUE(std::filesystem::exists(out / "Work/budget.csv"));
}

TEST_F(BrowsePage, AdvancedModeGoesOnWithTheCandidatePagesParserAndDeepModeParsesToo) {
    open("2048", "advanced");
    auto* advanced = app.pages()[app.pages().size() - 2];
    EXPECT_EQ(page->session(), static_cast<advanceOptions*>(advanced)->session());
    EXPECT_EQ(get<QComboBox>("advancedEntries")->count(), advanced->findChild<QComboBox*>("entries")->count());
    EXPECT_TRUE(get<QComboBox>("advancedEntries")->isHidden());
    tree()->expandItem(item("Documents"));
    EXPECT_NE(item("Documents/letter.txt"), nullptr);
    get("back")->click();
    get("next")->click();  // before the page that went is deleted: the new one keeps the tree
    page = qobject_cast<VolumeScanDlg*>(app.currentPage());
    ASSERT_TRUE(page && waitFor([&] { return page->state().browsable(); }));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_NE(item("Documents"), nullptr);
    get("back")->click();
    get("back")->click();
    get("deep")->click();
    get("next")->click();
    page = qobject_cast<VolumeScanDlg*>(app.currentPage());
    ASSERT_TRUE(page && waitFor([&] { return page->state().browsable(); }));
    EXPECT_NE(item("ORPHAN_ENTRY"), nullptr);
}

TEST_F(BrowsePage, RoadToNtfsFilesMatchingTheManifest) {
    open("2048");
    tree()->expandItem(item("Documents"));
    Q_EMIT tree()->labelClicked(item("Documents"));
    list()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    saveAllAndCompare("manifest.json");
}

TEST_F(BrowsePage, RoadToFat32FilesMatchingTheManifest) {
    open("73728");
    tree()->expandItem(item("docs"));
    Q_EMIT tree()->labelClicked(item("docs"));
    list()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    saveAllAndCompare("p7.json");
}

// A tree filled before it is shown (the advanced input page's, or one shown again after
// Back) shows every item it holds, red and expanded ones as they are.
TEST(FolderTreeAdapter, AViewAttachedLateShowsWhatTheTreeHolds) {
    FolderTreeAdapter tree;
    const quenlow::fs::TreeItem root = tree.insertItem(quenlow::fs::kNoItem, "ROOT", true, 0);
    const quenlow::fs::TreeItem docs = tree.insertItem(root, "docs", true, 1);
    tree.insertItem(docs, "a.txt", false, 2);
    tree.setRed(tree.insertItem(root, "gone.txt", false, 3));
    tree.expand(root);
    for (int shown = 0; shown < 2; ++shown) {
        CXHtmlTree view;
        tree.attach(&view);
        ASSERT_EQ(view.topLevelItemCount(), 1);
        QTreeWidgetItem* top = view.topLevelItem(0);
        ASSERT_EQ(top->childCount(), 2);
        EXPECT_TRUE(top->isExpanded());
        EXPECT_EQ(top->child(0)->child(0)->text(0), "a.txt");
        EXPECT_EQ(top->child(1)->foreground(0).color(), QColor(0xff, 0, 0));
        EXPECT_EQ(tree.itemOf(top->child(0)), docs);
        tree.attach(nullptr);
    }
}
