#pragma once
// Message boxes, questions, file choosers and browser addresses of the wizard, all with the
// application's title. Each goes through a replaceable hook, so tests answer them without
// a display.

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace quenlow::ui {

inline const QString kAppTitle = QStringLiteral("Quenlow RAID Recovery v22.0");
inline const QString kHelpAddress = QStringLiteral("https://www.quenlow.example/raid-recovery/help");
inline const QString kWebpageAddress = QStringLiteral("https://www.quenlow.example/raid-recovery");

struct Hooks {
    std::function<void(QWidget*, const QString&, QMessageBox::Icon)> message;
    std::function<bool(QWidget*, const QString&)> ask;  // Yes/No
    std::function<QString(QWidget*, const QString&)> openFile;  // caption -> path or ""
    std::function<void(const QString&)> openUrl;
    std::function<void(QWidget*)> about;
    std::function<QString(QWidget*, const QString&)> saveFile;      // caption -> path or ""
    std::function<QString(QWidget*, const QString&)> chooseFolder;  // caption -> path or ""
    // A longer account for the user to read (a window with the text, read-only).
    std::function<void(QWidget*, const QString&, const QString&)> report;  // title, text
};
// The hooks in use (message boxes, QFileDialog and the desktop's browser by default).
Hooks& hooks();

void showMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon = QMessageBox::Information);
bool askYesNo(QWidget* parent, const QString& question);
QString chooseFile(QWidget* parent, const QString& caption);
// A file to write into (it need not exist; an existing one is not replaced by asking).
QString chooseSaveFile(QWidget* parent, const QString& caption);
QString chooseFolder(QWidget* parent, const QString& caption);
void showReport(QWidget* parent, const QString& title, const QString& text);
void openAddress(const QString& address);
void showAbout(QWidget* parent);

inline QString qs(const std::string& s) { return QString::fromStdString(s); }

}  // namespace quenlow::ui
