#include "ui/RaidOptionDialog.h"

#include <QButtonGroup>
#include <QGroupBox>

#include "ui/CMadrelApp.h"
#include "ui/Messages.h"
#include "ui/RaidHardDisksDlg.h"

namespace quenlow::ui {

RaidOptionDialog::RaidOptionDialog(CMadrelApp& app) : WizardPage(app, "RaidOptionDialog") {
    auto* group = new QGroupBox(tr("Select the kind of RAID members:"), this);
    auto* layout = new QVBoxLayout(group);
    hdd_ = new QRadioButton(tr("RAID-HDD "), group);
    hdd_->setObjectName("raidHdd");
    hdd_->setToolTip(tr("The members are disks or raw image files"));
    vhd_ = new QRadioButton(tr("RAID-VHD"), group);
    vhd_->setObjectName("raidVhd");
    vhd_->setToolTip(tr("The members are VHD files"));
    layout->addWidget(hdd_);
    layout->addWidget(vhd_);
    auto* buttons = new QButtonGroup(this);
    buttons->addButton(hdd_);
    buttons->addButton(vhd_);
    hdd_->setChecked(true);
    body()->addWidget(group);
    body()->addStretch(1);
    backButton()->hide();
}

void RaidOptionDialog::onNext() {
    if (!hdd_->isChecked() && !vhd_->isChecked()) {
        showMessage(this, QStringLiteral("select a radio button.."));
        return;
    }
    app_.forward(this, new RaidHardDisksDlg(app_, hdd_->isChecked() ? recovery::MemberList::Kind::Drives
                                                                  : recovery::MemberList::Kind::VhdFiles));
}

}  // namespace quenlow::ui
