#pragma once
// The signature dialog: the user writes file types into a settings file of their own, one
// record per Save, for the raw recovery page to load. "..." chooses the file (created when
// missing, its records kept); each field has a "?" button whose tooltip explains it.

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QToolButton>
#include <vector>

#include "raw/SettingsFile.h"

namespace quenlow::ui {

class RawSettingDlg : public QDialog {
    Q_OBJECT
public:
    explicit RawSettingDlg(QWidget* parent = nullptr);

    // The settings file in use; empty until one is chosen.
    const QString& settingsFile() const { return file_; }
    // Records appended since the dialog opened.
    int recordsSaved() const { return saved_; }
    raw::SignatureFields fields() const;

private:
    void chooseSettingsFile();
    void saveRecord();

    std::vector<QLineEdit*> edits_;  // in the order of the fields, the check box left out
    QCheckBox* includesHeader_;
    QLineEdit* path_;
    QString file_;
    int saved_ = 0;
};

}  // namespace quenlow::ui
