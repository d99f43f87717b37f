// The wizard on the offscreen platform: the page chain with its hand-over values, the
// pages' rules as the widgets show them, workers, closing, keys, and the check-box controls.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "disk/FileReadSeekRaid.h"
#include "platform/InstanceLock.h"
#include "support/ArrayBuilder.h"
#include "ui/CMadrelApp.h"
#include "ui/DriveParsingModes.h"
#include "ui/Messages.h"
#include "ui/ParceModeNtfsDlg.h"
#include "ui/PopulateDriveDlg.h"
#include "ui/RaidHardDisksDlg.h"
#include "ui/advanceOptions.h"
#include "ui/controls/CCheckListCtrl.h"
#include "ui/controls/CXHtmlTree.h"

using namespace quenlow::ui;
using quenlow::volumes::VolumeRecord;

namespace {

template <class F>
bool waitFor(F done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 30000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A RAID-5 (layout 3, stripe 128) of the first 17 MiB of the MBR fixture disk: its NTFS
// volume at sector 2048.
const quenlow::test::BuiltArray& array() {
    static const quenlow::test::BuiltArray built = [] {
        std::ifstream in(QUENLOW_FIXTURE_DIR "/disks/mbr/disk.img", std::ios::binary);
        std::vector<unsigned char> bytes(17u << 20);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return quenlow::test::ArrayBuilder::raid5(3, 3, 128).build(std::move(bytes));
    }();
    return built;
}

struct Wizard : ::testing::Test {
    std::vector<QString> messages, urls, files;
    bool answer = false;
    CMadrelApp app;

    Wizard() {
        hooks().message = [this](QWidget*, const QString& t, QMessageBox::Icon) { messages.push_back(t); };
        hooks().ask = [this](QWidget*, const QString& t) { messages.push_back(t); return answer; };
        hooks().openFile = [this](QWidget*, const QString&) { return files.empty() ? QString() : files.back(); };
        hooks().openUrl = [this](const QString& u) { urls.push_back(u); };
        hooks().about = [this](QWidget*) { messages.push_back("about"); };
        app.start();
    }
    template <class T = QAbstractButton>
    T* get(const char* name) {
        T* w = app.currentPage()->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void click(const char* name) { get(name)->click(); }
    QString page() const { return app.currentPage()->objectName(); }
    void addFile(const std::string& path) {
        files = {QString::fromStdString(path)};
        click("addImage");
    }
    // Source -> Members with the array (member 1 missing), RAID-5 -> ScanMode.
    void toScanMode() {
        click("next");
        addFile(array().memberPaths[0]);
        click("addMissing");
        addFile(array().memberPaths[2]);
        click("raid5");
        click("next");
    }
};

}  // namespace

TEST_F(Wizard, ForwardAndBackThroughEveryPageWithTheHandOverValues) {
    EXPECT_EQ(app.window().windowTitle(), "Quenlow RAID Recovery v22.0");
    toScanMode();
    ASSERT_EQ(page(), "DriveParsingModes");
    const auto& raid = *app.context().raidDisk;
    EXPECT_EQ(raid.memberNames, (std::vector<std::string>{array().memberPaths[0], "MISSING DISK", array().memberPaths[2]}));
    EXPECT_EQ(raid.level, 5);
    EXPECT_EQ(raid.parityLayout, 3);
    EXPECT_EQ(raid.stripeSectors, 128);

    get<QLineEdit>("endSector")->setText("abc");
    click("next");
    ASSERT_EQ(page(), "PopulateDriveDlg");  // not read: "Custom Setting:" is not checked
    auto* list = static_cast<PopulateDriveDlg*>(app.currentPage());
    EXPECT_EQ(list->settings().mode, 1);
    EXPECT_EQ(list->settings().driveLabel, "raid Hard disk..");
    auto* volumes = get<QTreeWidget>("volumes");
    ASSERT_GE(volumes->topLevelItemCount(), 1) << messages.size();
    EXPECT_EQ(volumes->topLevelItem(0)->text(3), "2048");
    volumes->setCurrentItem(volumes->topLevelItem(0));
    EXPECT_EQ(get<QLineEdit>("customStart")->text(), "2048");
    click("next");
    ASSERT_EQ(page(), "ParceModeNtfsDlg");
    auto* modes = static_cast<ParceModeNtfsDlg*>(app.currentPage());
    EXPECT_EQ(modes->volume().startSector, 2048);
    EXPECT_EQ(modes->volume().fileSystem, list->selectedVolume()->fileSystem);
    click("next");
    EXPECT_EQ(page(), "VolumeScanDlg");
    ASSERT_TRUE(waitFor([&] { return get("back")->isEnabled(); }));  // once the parse has ended

    for (const char* expected : {"ParceModeNtfsDlg", "PopulateDriveDlg", "DriveParsingModes", "RaidHardDisksDlg"}) {
        click("back");
        EXPECT_EQ(page(), expected);
    }
    EXPECT_EQ(get<QTreeWidget>("selected")->topLevelItemCount(), 3);  // kept on Back from the scan page
    click("next");
    EXPECT_EQ(page(), "DriveParsingModes");
    click("back");
    click("back");
    click("next");  // a fresh member page and a fresh virtual disk
    EXPECT_EQ(get<QTreeWidget>("selected")->topLevelItemCount(), 0);
    EXPECT_TRUE(app.context().raidDisk->memberNames.empty());
}

TEST_F(Wizard, MemberPageRulesAndMessages) {
    click("next");
    click("next");
    EXPECT_EQ(messages.back().toStdString(), "either radio button not selected or files not in the table.. ");
    click("addMissing");
    click("addMissing");
    auto* selected = get<QTreeWidget>("selected");
    selected->setCurrentItem(selected->topLevelItem(1));
    click("remove");
    EXPECT_EQ(messages.back(), "can delete topmost item only");
    EXPECT_EQ(selected->topLevelItemCount(), 2);
    click("raid5");
    EXPECT_TRUE(get<QAbstractButton>("layout3")->isChecked());
    click("layout1");
    EXPECT_FALSE(get<QAbstractButton>("layout3")->isChecked());
    click("raid0");
    for (const char* box : {"layout1", "layout2", "layout3"})
        EXPECT_FALSE(get(box)->isChecked() || get(box)->isEnabled()) << box;
    EXPECT_EQ(get<QComboBox>("stripe")->currentText(), "128");
    EXPECT_TRUE(get("addVhd")->isHidden());
    addFile("/nonexistent/member.img");
    EXPECT_TRUE(messages.back().contains("/nonexistent/member.img"));
    EXPECT_EQ(selected->topLevelItemCount(), 2);
}

TEST_F(Wizard, ProposeArrayFillsTheMemberPage) {
    click("next");
    click("proposeArray");
    EXPECT_TRUE(messages.back().startsWith("Add the members first"));
    addFile(array().memberPaths[2]);
    click("addMissing");
    addFile(array().memberPaths[0]);
    answer = true;
    click("proposeArray");
    ASSERT_TRUE(waitFor([&] { return app.currentPage()->isEnabled(); }));
    EXPECT_TRUE(messages.back().contains("Fill the page with this proposal?")) << messages.back().toStdString();
    auto* selected = get<QTreeWidget>("selected");
    ASSERT_EQ(selected->topLevelItemCount(), 3);
    EXPECT_EQ(selected->topLevelItem(0)->text(0).toStdString(), array().memberPaths[2]);
    EXPECT_EQ(selected->topLevelItem(1)->text(0), "MISSING DISK");
    EXPECT_EQ(selected->topLevelItem(2)->text(0).toStdString(), array().memberPaths[0]);
    EXPECT_TRUE(get("raid5")->isChecked());
    EXPECT_TRUE(get("layout3")->isChecked());
    EXPECT_EQ(get<QComboBox>("stripe")->currentText(), "128");
}

TEST_F(Wizard, CloseAsksAndKeysAreSwallowed) {
    click("next");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    EXPECT_TRUE(QCoreApplication::sendEvent(get("next"), &enter));  // consumed
    EXPECT_TRUE(QCoreApplication::sendEvent(app.currentPage(), &escape));
    EXPECT_EQ(page(), "RaidHardDisksDlg");
    EXPECT_TRUE(messages.empty());

    EXPECT_FALSE(app.window().close());  // answered No
    EXPECT_EQ(messages.back(), "Do you want to Close Application ?");
    EXPECT_EQ(page(), "RaidHardDisksDlg");
    EXPECT_TRUE(urls.empty());
    for (QAction* a : get<QMenu>("helpMenu")->actions()) a->trigger();
    EXPECT_EQ(urls, (std::vector<QString>{kHelpAddress, kWebpageAddress}));
    EXPECT_EQ(messages.back(), "about");
    answer = true;
    EXPECT_TRUE(app.requestClose());
    EXPECT_EQ(urls.back(), kWebpageAddress);
}

TEST_F(Wizard, SecondInstanceIsRefused) {
    const std::string name = "quenlow-ui-test-" + std::to_string(::getpid());
    EXPECT_TRUE(app.claimInstance(name));
    CMadrelApp second;
    EXPECT_FALSE(second.claimInstance(name));
    EXPECT_EQ(messages.back(), "Another instance of application is already running");
    std::filesystem::remove(quenlow::platform::InstanceLock::pathFor(name));
}

TEST_F(Wizard, RecoveryModesByFileSystem) {
    struct Case {
        const char* fs;
        bool advanced, deep, formatted;
    };
    for (const Case& c : std::initializer_list<Case>{{"NTFS", true, true, false},
                                                    {"FAT32", true, false, true},
                                                    {"FAT12", true, false, true},
                                                    {"exFAT", true, false, false},
                                                    {"EXT4", false, false, false},
                                                    {"HFS+", false, true, false}}) {
        ParceModeNtfsDlg modes(app, VolumeRecord{c.fs, "0", "1", 0});
        auto* advanced = modes.findChild<QAbstractButton*>("advanced");
        EXPECT_EQ(!advanced->isHidden(), c.advanced) << c.fs;
        EXPECT_EQ(!modes.findChild<QWidget*>("deep")->isHidden(), c.deep) << c.fs;
        EXPECT_TRUE(modes.findChild<QWidget*>("maximum")->isHidden());
        if (!c.advanced) continue;
        advanced->click();
        auto* formatted = modes.findChild<QAbstractButton*>("formatted");
        EXPECT_EQ(!formatted->isHidden(), c.formatted) << c.fs;
        EXPECT_FALSE(modes.findChild<QWidget*>("maximum")->isHidden());
        if (!c.formatted) continue;
        formatted->click();
        EXPECT_TRUE(app.context().driveFormatted);
        modes.findChild<QAbstractButton*>("standard")->click();
        EXPECT_FALSE(app.context().driveFormatted || formatted->isChecked());
    }
}

TEST_F(Wizard, AdvancedInputSearchesOnAWorkerOrSaysThereIsNothing) {
    toScanMode();
    click("advanceScan");
    click("next");
    auto* list = static_cast<PopulateDriveDlg*>(app.currentPage());
    EXPECT_FALSE(list->backButton()->isEnabled() && list->scanning());
    ASSERT_TRUE(waitFor([&] { return !list->scanning() && list->backButton()->isEnabled(); }));
    EXPECT_EQ(messages.back(), "populated partitions....");
    auto* volumes = get<QTreeWidget>("volumes");
    ASSERT_GE(volumes->topLevelItemCount(), 1);
    EXPECT_EQ(volumes->topLevelItem(volumes->topLevelItemCount() - 1)->text(3), "2048");  // newest on top

    ParceModeNtfsDlg fat12(app, VolumeRecord{"FAT12", "0", "1", 0});
    advanceOptions none(app, fat12);
    EXPECT_TRUE(none.nextButton()->isEnabled() && none.backButton()->isEnabled());
    none.nextButton()->click();
    EXPECT_EQ(messages.back(), "No File system Entry Found.Process cannot be continue...");

    ParceModeNtfsDlg ntfs(app, VolumeRecord{"ntfs", "0", "16", 2048});
    advanceOptions search(app, ntfs);
    search.findChild<QAbstractButton*>("pause")->click();
    search.findChild<QAbstractButton*>("resume")->click();
    EXPECT_EQ(search.findChild<QLabel*>("status")->text(), "Resume button pressed");
    if (search.session() == nullptr) {  // a parser without an advanced mode yet: its message, and a way back
        EXPECT_TRUE(search.nextButton()->isEnabled() && search.backButton()->isEnabled()) << messages.back().toStdString();
        return;
    }
    ASSERT_TRUE(waitFor([&] { return !search.searching() && search.nextButton()->isEnabled(); }));
    EXPECT_TRUE(search.backButton()->isEnabled());
    EXPECT_EQ(search.session()->control().pauseCount(), 0);
    EXPECT_EQ(search.findChild<QComboBox*>("entries")->count(), static_cast<int>(search.input().lists().entries.size()));
}

TEST_F(Wizard, CustomSettingsGoToRawOrTheRecoveryModes) {
    toScanMode();
    click("next");
    click("addCustom");
    EXPECT_TRUE(get("customSettings")->isChecked());
    get<QComboBox>("treatAs")->setCurrentText("RAW");
    click("next");
    EXPECT_EQ(page(), "RawRecoveryDialog");
    click("back");
    get<QLineEdit>("customEnd")->setText("4095");
    get<QLineEdit>("customStart")->setText("2048");
    get<QComboBox>("treatAs")->setCurrentText("NTFS");
    click("next");
    ASSERT_EQ(page(), "ParceModeNtfsDlg");
    EXPECT_EQ(static_cast<ParceModeNtfsDlg*>(app.currentPage())->volume().volumeSizeText, "1");
}

TEST(CheckControls, TreeDrawsTheTriStateRulesAndListHeaderFollowsRows) {
    CXHtmlTree tree;
    QTreeWidgetItem* folder = tree.insertItem("folder");
    QTreeWidgetItem* a = tree.insertItem("a", folder);
    QTreeWidgetItem* b = tree.insertItem("b", folder);
    folder->setCheckState(0, Qt::Checked);  // as a click on the box does
    EXPECT_EQ(b->checkState(0), Qt::Checked);
    a->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(folder->checkState(0), Qt::PartiallyChecked);
    EXPECT_EQ(tree.getCheck(folder), 0);
    tree.deleteItem(a);
    EXPECT_EQ(folder->checkState(0), Qt::Checked);
    EXPECT_FALSE(tree.setItemTextColour(b, Qt::red).isValid());
    EXPECT_EQ(b->foreground(0).color(), QColor(Qt::red));

    CCheckListCtrl list;
    list.setColumnCount(2);
    list.headerClicked(0);
    EXPECT_TRUE(list.checkHeader()->checked());
    list.addRow({"x", "1"});
    list.addRow({"y", "2"});
    EXPECT_FALSE(list.checkHeader()->checked());
    list.setRowChecked(0, true);
    list.topLevelItem(1)->setCheckState(0, Qt::Checked);
    EXPECT_TRUE(list.checkHeader()->checked());
}
