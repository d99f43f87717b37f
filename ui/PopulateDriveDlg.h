#pragma once
// The volume list page: the volumes of the RAID virtual disk from its partition tables (at
// once) or from a sector scan (on a worker, with progress and Stop); Filter, Add Custom
// Volume and the custom settings of the selected volume; Next to the recovery mode page or,
// for RAW, to raw recovery.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTreeWidget>
#include <optional>

#include "disk/WorkControl.h"
#include "recovery/ScanSettings.h"
#include "recovery/VolumeChoice.h"
#include "ui/UiFeedback.h"
#include "ui/WizardPage.h"
#include "ui/Worker.h"

namespace quenlow::ui {

class PopulateDriveDlg : public WizardPage {
    Q_OBJECT
public:
    PopulateDriveDlg(CMadrelApp& app, const recovery::ScanSettings& settings);
    ~PopulateDriveDlg() override;

    const recovery::ScanSettings& settings() const { return settings_; }
    recovery::VolumeChoice& choice() { return choice_; }
    // The record chosen on Next; the next page reads it.
    const std::optional<volumes::VolumeRecord>& selectedVolume() const { return choice_.selectedVolume(); }
    bool scanning() const { return worker_.running(); }

    bool leaving() override;
    void closing() override;

protected:
    void onNext() override;

private:
    void listStandard();
    void scanAdvanced();
    void scanEnded();
    void showRows();
    void showSelection(bool clicked);
    void setCustomEnabled(bool on);
    bool openDisk();

    recovery::ScanSettings settings_;
    recovery::VolumeChoice choice_;
    WorkControl control_;
    UiFeedback feedback_;
    QTreeWidget* list_;
    QPushButton* filter_;
    QPushButton* addCustom_;
    QCheckBox* custom_;
    QLabel* selectedLabel_;
    QLineEdit* start_;
    QLineEdit* end_;
    QComboBox* fileSystem_;
    QList<QWidget*> customGroup_;
    QProgressBar* progress_;
    QLabel* status_;
    QPushButton* stop_;
    bool filling_ = false;
    bool leaving_ = false;
    Worker worker_;  // last: goes first
};

}  // namespace quenlow::ui
