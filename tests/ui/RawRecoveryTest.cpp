// The raw recovery pages on the offscreen platform: the page's rules as its widgets show
// them, the signature dialog, and the whole road from the demo array's members to saved
// finds.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "disk/FileReadSeekRaid.h"
#include "filesystems/MemoryTree.h"
#include "support/Sha256.h"
#include "support/TempFolder.h"
#include "ui/CMadrelApp.h"
#include "ui/Messages.h"
#include "ui/RawRecoveryDialog.h"
#include "ui/RawSettingDlg.h"

using namespace quenlow;
using namespace quenlow::ui;

namespace {

const std::string kDemo = QUENLOW_FIXTURE_DIR "/demo/";

struct RawPages : ::testing::Test {
    std::vector<QString> messages;
    QString file, saveAs, folder;  // what the file and folder choosers answer
    test::TempFolder temp;
    CMadrelApp app;

    RawPages() {
        hooks().message = [this](QWidget*, const QString& t, QMessageBox::Icon) { messages.push_back(t); };
        hooks().openFile = [this](QWidget*, const QString&) { return file; };
        hooks().saveFile = [this](QWidget*, const QString&) { return saveAs; };
        hooks().chooseFolder = [this](QWidget*, const QString&) { return folder; };
        app.start();
    }
    template <class T = QAbstractButton>
    T* get(const char* name, QWidget* in = nullptr) {
        T* w = (in != nullptr ? in : app.currentPage())->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void click(const char* name, QWidget* in = nullptr) { get(name, in)->click(); }
    QString status() { return get<QLabel>("status")->text(); }
    bool wait(RawRecoveryDialog* page) {
        QElapsedTimer clock;
        clock.start();
        while (page->busy() && clock.elapsed() < 30000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return !page->busy();
    }
    // Members (the demo array, member 1 missing) -> scan mode -> volume list, where its NTFS
    // volume is treated as RAW -> raw recovery.
    RawRecoveryDialog* toRawPage() {
        click("next");
        for (const char* member : {"member0.img", "", "member2.img"}) {
            file = QString::fromStdString(kDemo + member);
            click(*member != 0 ? "addImage" : "addMissing");
        }
        click("raid5");
        click("next");
        click("next");
        auto* volumes = get<QTreeWidget>("volumes");
        volumes->setCurrentItem(volumes->topLevelItem(0));
        click("customSettings");
        get<QComboBox>("treatAs")->setCurrentText("RAW");
        click("next");
        return qobject_cast<RawRecoveryDialog*>(app.currentPage());
    }
    QTreeWidgetItem* category(RawRecoveryDialog* page, int run, const QString& text) {
        QTreeWidgetItem* root = page->tree()->topLevelItem(run);
        for (int i = 0; root != nullptr && i < root->childCount(); ++i)
            if (root->child(i)->text(0) == text) return root->child(i);
        ADD_FAILURE() << text.toStdString();
        return nullptr;
    }
};

}  // namespace

TEST_F(RawPages, ParseSaveAndRunControlRules) {
    RawRecoveryDialog* page = toRawPage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->volume().startSector, 2048);
    EXPECT_EQ(page->volume().volumeSizeText, "16");
    EXPECT_TRUE(std::filesystem::exists(get<QLineEdit>("settingsPath")->text().toStdString()));  // the default file
    EXPECT_TRUE(get("loadDefault")->isChecked());
    EXPECT_TRUE(get<QWidget>("progress")->isHidden() && get<QWidget>("stop")->isHidden());
    click("save");
    EXPECT_EQ(messages.back(), recovery::kRawNothingCheckedText);

    // The worker waits for its first status on the UI thread, so Pause holds it at its next
    // poll. Two pauses and one resume: Stop still ends the run, and the next one starts unpaused.
    click("parse");
    click("pause");
    click("pause");
    EXPECT_EQ(status(), recovery::kPauseText);
    EXPECT_FALSE(get<QWidget>("stop")->isHidden() || page->backButton()->isEnabled() || get("parse")->isEnabled());
    click("save");
    EXPECT_EQ(messages.back(), recovery::kRawBusyText);
    click("resume");
    EXPECT_EQ(status(), recovery::kResumeText);
    click("stop");
    EXPECT_EQ(status(), recovery::kStopText);
    ASSERT_TRUE(wait(page));
    EXPECT_TRUE(page->runs()[0].raw.engine().stopped());
    EXPECT_TRUE(page->backButton()->isEnabled() && get<QWidget>("stop")->isHidden());
    EXPECT_EQ(status(), "Processing done");

    // No default and no file: it runs with no types and finds nothing.
    get<QAbstractButton>("loadDefault")->setChecked(false);
    get<QLineEdit>("settingsPath")->clear();
    messages.clear();
    click("parse");
    ASSERT_TRUE(wait(page));
    EXPECT_EQ(messages, (std::vector<QString>{"done.."}));
    EXPECT_EQ(page->tree()->topLevelItemCount(), 2);  // each run adds its root
    EXPECT_EQ(page->tree()->topLevelItem(1)->childCount(), 0);

    std::ofstream(temp / "short.set") << std::string(170, 'x');
    get<QLineEdit>("settingsPath")->setText(QString::fromStdString((temp / "short.set").string()));
    click("parse");
    ASSERT_TRUE(wait(page));
    EXPECT_TRUE(messages.back().startsWith("not a valid file.."));
    EXPECT_TRUE(get<QLineEdit>("settingsPath")->text().isEmpty());
}

TEST_F(RawPages, SignatureDialogFieldsAndMessages) {
    RawSettingDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), kAppTitle);
    auto* help = get<QToolButton>("extensionHelp", &dialog);
    EXPECT_TRUE(help->toolTip().startsWith("Enter file extention .\n Example 'jpg'"));
    help->click();
    EXPECT_TRUE(help->toolTip().startsWith("here enter the file extentiom .\n"));
    EXPECT_EQ(get<QToolButton>("categoryHelp", &dialog)->toolTip(),
              "here enter the name of category you want to put these files under");
    click("save", &dialog);
    EXPECT_TRUE(messages.back().startsWith("Choose the settings file first"));
    saveAs = QString::fromStdString(temp.str());  // a folder
    click("pickFile", &dialog);
    EXPECT_TRUE(messages.back().startsWith(recovery::kSettingsNotCreatedText));
    EXPECT_TRUE(dialog.settingsFile().isEmpty());
    saveAs = QString::fromStdString((temp / "mine.set").string());
    click("pickFile", &dialog);
    EXPECT_EQ(get<QLineEdit>("settingsFile", &dialog)->text(), saveAs);
    for (auto [ext, start, answer] : {std::tuple{"", "", raw::kExtensionEmptyText},
                                      std::tuple{"bin", "", raw::kSignatureEmptyText},
                                      std::tuple{"bin", "0x44,45", raw::kRecordSavedText}}) {
        get<QLineEdit>("extension", &dialog)->setText(ext);
        get<QLineEdit>("startSignature", &dialog)->setText(start);
        click("save", &dialog);
        EXPECT_EQ(messages.back(), answer);
    }
    EXPECT_EQ(std::filesystem::file_size(temp / "mine.set"), 171u);
    EXPECT_EQ(dialog.recordsSaved(), 1);
}

TEST_F(RawPages, RoadFromTheMembersToSavedFinds) {
    RawRecoveryDialog* page = toRawPage();
    ASSERT_NE(page, nullptr);
    // A type for the NTFS volume's Backups/archive.bin (numbered lines "DEMONTFS-archive
    // line ..."), written with the signature dialog; the skip passes over its other lines.
    saveAs = QString::fromStdString((temp / "demo.set").string());
    QTimer::singleShot(0, [this] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(qobject_cast<RawSettingDlg*>(dialog), nullptr);
        for (auto [name, text] : {std::pair{"extension", "bin"}, {"startSignature", "44,45,4D,4F,4E,54,46,53,2D,61"},
                                  {"approximateSize", "614400"}, {"skipSize", "614400"}, {"category", "Backups"}})
            get<QLineEdit>(name, dialog)->setText(text);
        click("pickFile", dialog);
        click("save", dialog);
        click("ok", dialog);
    });
    click("setting");
    EXPECT_EQ(messages.back(), raw::kRecordSavedText);
    EXPECT_EQ(get<QLineEdit>("settingsPath")->text(), saveAs);
    click("parse");
    ASSERT_TRUE(wait(page));
    QTreeWidgetItem* backups = category(page, 0, "Backups (1)");
    ASSERT_NE(backups, nullptr);
    Q_EMIT page->tree()->labelClicked(backups);
    auto* list = get<QTableWidget>("filesList");
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->item(0, 0)->text(), "10498048 .bin");
    page->tree()->setCheck(backups, true);
    folder = QString::fromStdString((temp / "out").string());
    click("browse");
    click("save");
    ASSERT_TRUE(wait(page));
    EXPECT_TRUE(messages.back().startsWith("1 file(s) saved into ")) << messages.back().toStdString();

    // The same carving without widgets, and the file as the demo disk was made with it.
    recovery::RawRecovery direct;
    fs::MemoryTree tree;
    WorkControl control;
    ASSERT_TRUE(direct.parse({false, "x", saveAs.toStdString(), {}}, *app.context().raidDisk, page->volume(), -1,
                             tree, silentFeedback(), control));
    std::string error;
    ASSERT_EQ(direct.save({0}, (temp / "direct").string(), control, error).size(), 1u);
    const std::string saved = test::Sha256::ofFile((temp / "out/Backups/10498048.bin").string());
    EXPECT_EQ(saved, test::Sha256::ofFile((temp / "direct/Backups/10498048.bin").string()));
    const auto manifest = nlohmann::json::parse(std::ifstream(kDemo + "manifest.json"));
    std::string made;
    for (const auto& entry : manifest["entries"])
        if (entry["path"] == "Backups/archive.bin") made = entry["sha256"];
    EXPECT_EQ(saved, made);

    // A second Parse adds its own finds; saving both again keeps the files already there.
    click("parse");
    ASSERT_TRUE(wait(page));
    page->tree()->setCheck(category(page, 1, "Backups (1)"), true);
    EXPECT_EQ(page->checkedFinds().size(), 2u);
    click("save");
    ASSERT_TRUE(wait(page));
    EXPECT_EQ(page->lastReport().renamed.size(), 2u);
    for (const char* name : {"10498048.bin", "10498048 (2).bin", "10498048 (3).bin"})
        EXPECT_EQ(test::Sha256::ofFile((temp / "out/Backups" / name).string()), saved) << name;
}
