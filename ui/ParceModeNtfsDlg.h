#pragma once
// The recovery mode page: Standard, Advanced or Deep as the volume's file system offers,
// the maximum number of candidates for Advanced and, on FAT volumes, "Is Drive Formated..?".

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "recovery/RecoveryModeChoice.h"
#include "ui/WizardPage.h"
#include "volumes/VolumeRecord.h"

namespace quenlow::ui {

class ParceModeNtfsDlg : public WizardPage {
    Q_OBJECT
public:
    ParceModeNtfsDlg(CMadrelApp& app, const volumes::VolumeRecord& volume);

    const volumes::VolumeRecord& volume() const { return volume_; }
    recovery::RecoveryModeChoice& choice() { return choice_; }
    QString maximumText() const { return maximum_->text(); }

protected:
    void onNext() override;

private:
    void choose(fs::Mode mode);

    volumes::VolumeRecord volume_;
    recovery::RecoveryModeChoice choice_;
    QRadioButton* standard_;
    QRadioButton* advanced_;
    QRadioButton* deep_;
    QLabel* maximumLabel_;
    QLineEdit* maximum_;
    QLabel* maximumNote_;
    QCheckBox* formatted_;
};

}  // namespace quenlow::ui
