// quenlow-screenshots DEMO_DIR OUT_DIR: drives the wizard on the demo array (member 1
// missing) and saves a picture of each page it reaches as OUT_DIR/NN-name.png, in 8-bit
// colour. Run offscreen by scripts/screenshots; message boxes are answered, not shown.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <iostream>
#include <stdexcept>

#include "ui/CMadrelApp.h"
#include "ui/Messages.h"
#include "ui/RawRecoveryDialog.h"
#include "ui/VolumeScanDlg.h"
#include "ui/controls/CXHtmlTree.h"
#include "ui/WizardPage.h"
#include "ui/advanceOptions.h"

using namespace quenlow::ui;

namespace {

class Shooter {
public:
    Shooter(CMadrelApp& app, QString out) : app_(app), out_(std::move(out)) {}

    QWidget* page() const { return app_.currentPage(); }
    template <class T = QAbstractButton>
    T* get(const char* name, QWidget* in = nullptr) {
        QWidget* where = in != nullptr ? in : page();
        T* w = where != nullptr ? where->findChild<T*>(name) : nullptr;
        if (w == nullptr)
            throw std::runtime_error("no " + std::string(name) + " on " +
                                     (where != nullptr ? where->objectName() : QString()).toStdString());
        return w;
    }
    void click(const char* name, QWidget* in = nullptr) {
        get(name, in)->click();
        settle();
    }
    void next(const char* expected) {
        click("next");
        if (page()->objectName() != expected)
            throw std::runtime_error("expected page " + std::string(expected) + ", at " +
                                     page()->objectName().toStdString());
    }
    template <class F>
    void waitUntil(F done, const char* what) {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > 120000) throw std::runtime_error(std::string("timed out waiting for ") + what);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        settle();
    }
    static void settle() {
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }
    // Saves a picture of `widget` (the wizard's window by default).
    void shot(const QString& name, QWidget* widget = nullptr) {
        settle();
        const QImage image = (widget != nullptr ? widget : static_cast<QWidget*>(&app_.window()))
                                 ->grab()
                                 .toImage()
                                 .convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
        const QString path = QStringLiteral("%1/%2-%3.png").arg(out_).arg(++count_, 2, 10, QChar('0')).arg(name);
        if (!image.save(path, "PNG", 0)) throw std::runtime_error("cannot write " + path.toStdString());
        std::cout << path.toStdString() << "\n";
    }

private:
    CMadrelApp& app_;
    QString out_;
    int count_ = 0;
};

// The parsed NTFS volume with a folder opened, a search's results, and a save held by Pause.
void browse(Shooter& s, const QString& scratch) {
    auto* page = qobject_cast<VolumeScanDlg*>(s.page());
    s.waitUntil([&] { return page->state().browsable(); }, "the parse");
    auto* tree = s.get<CXHtmlTree>("tree");
    auto child = [&](const QString& name) -> QTreeWidgetItem* {
        QTreeWidgetItem* root = tree->topLevelItem(0);
        for (int i = 0; root != nullptr && i < root->childCount(); ++i)
            if (root->child(i)->text(0) == name) return root->child(i);
        throw std::runtime_error("no folder " + name.toStdString() + " in the tree");
    };
    tree->expandItem(child("Documents"));
    Q_EMIT tree->labelClicked(child("Documents"));
    s.shot("browse");

    s.get<QLineEdit>("searchPattern")->setText("REPORT|m3u");
    tree->setCurrentItem(child("Documents"));
    s.click("search");
    s.waitUntil([&] { return !page->working(); }, "the search");
    s.shot("search");

    s.get<QLineEdit>("outputFolder")->setText(scratch + "/browse");
    Q_EMIT tree->labelClicked(child("Documents"));
    tree->setCurrentItem(child("Documents"));
    // Paused once the first file is written, so the picture shows the save under way.
    hooks().ask = [](QWidget*, const QString&) { return true; };
    auto* pause = s.get("pause");
    const auto held = QObject::connect(s.get<QProgressBar>("progress"), &QProgressBar::valueChanged, pause,
                                       [pause](int value) {
                                           if (value > 0 && pause->isEnabled()) pause->click();
                                       });
    s.click("save");
    s.waitUntil([&] { return s.get<QLabel>("status")->text().startsWith("saving File"); }, "the save");
    s.shot("save");
    QObject::disconnect(held);
    hooks().ask = [](QWidget*, const QString&) { return false; };
    s.click("resume");
    s.waitUntil([&] { return !page->working(); }, "the end of the save");
}

void road(Shooter& s, const QString& demo, const QString& scratch) {
    QString file, folder;
    hooks().openFile = [&](QWidget*, const QString&) { return file; };
    hooks().saveFile = [&](QWidget*, const QString&) { return scratch + "/demo.set"; };
    hooks().chooseFolder = [&](QWidget*, const QString&) { return folder; };

    s.next("RaidHardDisksDlg");
    for (const char* member : {"member0.img", "", "member2.img"}) {
        file = demo + "/" + member;
        s.click(*member != 0 ? "addImage" : "addMissing");
    }
    s.click("raid5");
    s.shot("members");
    s.next("DriveParsingModes");
    s.shot("scan-mode");
    s.next("PopulateDriveDlg");
    auto* volumes = s.get<QTreeWidget>("volumes");
    for (int i = 0; i < volumes->topLevelItemCount(); ++i)
        if (volumes->topLevelItem(i)->text(3) == "2048") volumes->setCurrentItem(volumes->topLevelItem(i));
    s.shot("volumes");
    s.next("ParceModeNtfsDlg");
    s.shot("recovery-mode");
    s.click("advanced");
    s.next("advanceOptions");
    auto* input = qobject_cast<advanceOptions*>(s.page());
    s.waitUntil([&] { return !input->searching() && input->nextButton()->isEnabled(); }, "the advanced search");
    s.shot("advanced-input");
    s.click("back");
    s.click("standard");
    s.next("VolumeScanDlg");
    browse(s, scratch);
    s.click("back");
    s.click("back");

    // The NTFS volume treated as RAW: a type for its Backups/archive.bin written with the
    // signature dialog, then Parse with the default types too.
    s.click("customSettings");
    s.get<QComboBox>("treatAs")->setCurrentText("RAW");
    s.next("RawRecoveryDialog");
    auto* raw = qobject_cast<RawRecoveryDialog*>(s.page());
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        try {
            for (auto [name, text] : {std::pair{"extension", "bin"}, {"startSignature", "44,45,4D,4F,4E,54,46,53,2D,61"},
                                      {"approximateSize", "614400"}, {"skipSize", "614400"}, {"category", "Backups"}})
                s.get<QLineEdit>(name, dialog)->setText(text);
            s.click("pickFile", dialog);
            s.shot("raw-signature", dialog);
            s.click("save", dialog);
        } catch (const std::exception& e) {
            std::cerr << "quenlow-screenshots: " << e.what() << "\n";
        }
        if (dialog != nullptr) dialog->close();
    });
    s.click("setting");
    s.click("parse");
    s.waitUntil([&] { return !raw->busy(); }, "the raw parse");
    QTreeWidgetItem* root = raw->tree()->topLevelItem(0);
    QTreeWidgetItem* backups = root != nullptr && root->childCount() > 0 ? root->child(root->childCount() - 1) : nullptr;
    if (backups == nullptr) throw std::runtime_error("raw recovery found nothing");
    Q_EMIT raw->tree()->labelClicked(backups);
    raw->tree()->setCheck(backups, true);
    s.shot("raw-finds");

    // Save held by Pause once it has begun, so the picture shows it under way.
    folder = scratch + "/saved";
    s.click("browse");
    s.click("save");
    s.click("pause");
    s.waitUntil([&] { return s.get<QLabel>("status")->text().startsWith("Saving"); }, "the raw save");
    s.shot("raw-save");
    s.click("resume");
    s.waitUntil([&] { return !raw->busy(); }, "the end of the raw save");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::cerr << "usage: quenlow-screenshots DEMO_DIR OUT_DIR\n";
        return 2;
    }
    QTemporaryDir scratch;
    CMadrelApp app;
    hooks().message = [](QWidget*, const QString&, QMessageBox::Icon) {};
    hooks().ask = [](QWidget*, const QString&) { return false; };
    hooks().openUrl = [](const QString&) {};
    hooks().report = [](QWidget*, const QString&, const QString&) {};
    app.start();
    app.window().resize(900, 620);
    Shooter shooter(app, QString::fromLocal8Bit(argv[2]));
    try {
        road(shooter, QString::fromLocal8Bit(argv[1]), scratch.path());
    } catch (const std::exception& e) {
        std::cerr << "quenlow-screenshots: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
