#include "ui/Messages.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QUrl>
#include <QVBoxLayout>

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
        [](QWidget* parent, const QString& title, const QString& text) {
            QDialog dialog(parent);
            dialog.setWindowTitle(kAppTitle + QStringLiteral(" - ") + title);
            auto* layout = new QVBoxLayout(&dialog);
            auto* view = new QPlainTextEdit(text, &dialog);
            view->setReadOnly(true);
            view->setLineWrapMode(QPlainTextEdit::NoWrap);
            layout->addWidget(view);
            auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
            QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
            layout->addWidget(buttons);
            dialog.resize(640, 360);
            dialog.exec();
        },
    };
    return h;
}

void showMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon) { hooks().message(parent, text, icon); }
bool askYesNo(QWidget* parent, const QString& question) { return hooks().ask(parent, question); }
QString chooseFile(QWidget* parent, const QString& caption) { return hooks().openFile(parent, caption); }
QString chooseSaveFile(QWidget* parent, const QString& caption) { return hooks().saveFile(parent, caption); }
QString chooseFolder(QWidget* parent, const QString& caption) { return hooks().chooseFolder(parent, caption); }
void showReport(QWidget* parent, const QString& title, const QString& text) { hooks().report(parent, title, text); }
void openAddress(const QString& address) { hooks().openUrl(address); }
void showAbout(QWidget* parent) { hooks().about(parent); }

}  // namespace quenlow::ui
