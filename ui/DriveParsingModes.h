#pragma once
// The scan mode page: Standard Scan (the partition tables) or Advance Scan (every sector),
// "GPT format", "Do not Skip Volume Size" and a custom sector range, handed to the volume
// list.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "recovery/ScanSettings.h"
#include "ui/WizardPage.h"

namespace quenlow::ui {

class DriveParsingModes : public WizardPage {
    Q_OBJECT
public:
    explicit DriveParsingModes(CMadrelApp& app);
    // The settings the last Next handed over.
    const recovery::ScanSettings& settings() const { return settings_; }

protected:
    void onNext() override;

private:
    void follow();

    recovery::ScanModeChoice choice_;
    recovery::ScanSettings settings_;
    QRadioButton* standard_;
    QRadioButton* advanced_;
    QCheckBox* gpt_;
    QCheckBox* noSkip_;
    QCheckBox* custom_;
    QLabel* startLabel_;
    QLabel* endLabel_;
    QLineEdit* start_;
    QLineEdit* end_;
};

}  // namespace quenlow::ui
