#pragma once
// The first page: the kind of members, drives (and image files) or VHD files.

#include <QRadioButton>

#include "ui/WizardPage.h"

namespace quenlow::ui {

class RaidOptionDialog : public WizardPage {
    Q_OBJECT
public:
    explicit RaidOptionDialog(CMadrelApp& app);

protected:
    void onNext() override;

private:
    QRadioButton* hdd_;
    QRadioButton* vhd_;
};

}  // namespace quenlow::ui
