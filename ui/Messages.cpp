#include "ui/Messages.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

namespace quenlow::ui {

Hooks& hooks() {
    static Hooks h{
        [](QWidget* parent, const QString& text, QMessageBox::Icon icon) {
            QMessageBox box(icon, kAppTitle, text, QMessageBox::Ok, parent);
            box.exec();
        },
        [](QWidget* parent, const QString& question) {
            return QMessageBox::question(parent, kAppTitle, question, QMessageBox::Yes | QMessageBox::No) ==
                   QMessageBox::Yes;
        },
        [](QWidget* parent, const QString& caption) {
            return QFileDialog::getOpenFileName(parent, caption, {}, {}, nullptr, QFileDialog::ReadOnly);
        },
        [](const QString& address) { QDesktopServices::openUrl(QUrl(address)); },
        [](QWidget* parent) {
            QMessageBox::about(parent, kAppTitle,
                               QStringLiteral("<b>%1</b><p>Recovers files from the members of a broken RAID-0 or "
                                              "RAID-5 array, reading every member read-only.</p><p>%2</p>")
                                   .arg(kAppTitle, kWebpageAddress));
        },
        [](QWidget* parent, const QString& caption) {
            return QFileDialog::getSaveFileName(parent, caption, {}, {}, nullptr, QFileDialog::DontConfirmOverwrite);
        },
        [](QWidget* parent, const QString& caption) {
            return QFileDialog::getExistingDirectory(parent, caption, {}, QFileDialog::ShowDirsOnly);
        },
    };
    return h;
}

void showMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon) { hooks().message(parent, text, icon); }
bool askYesNo(QWidget* parent, const QString& question) { return hooks().ask(parent, question); }
QString chooseFile(QWidget* parent, const QString& caption) { return hooks().openFile(parent, caption); }
QString chooseSaveFile(QWidget* parent, const QString& caption) { return hooks().saveFile(parent, caption); }
QString chooseFolder(QWidget* parent, const QString& caption) { return hooks().chooseFolder(parent, caption); }
void openAddress(const QString& address) { hooks().openUrl(address); }
void showAbout(QWidget* parent) { hooks().about(parent); }

}  // namespace quenlow::ui
