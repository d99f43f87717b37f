#include "ui/DriveParsingModes.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QGroupBox>

#include "disk/FileReadSeekRaid.h"
#include "ui/CMadrelApp.h"
#include "ui/Messages.h"
#include "ui/PopulateDriveDlg.h"

namespace quenlow::ui {

DriveParsingModes::DriveParsingModes(CMadrelApp& app) : WizardPage(app, "DriveParsingModes") {
    auto* caption = new QLabel(tr(" Drive Parsing Modes"), this);
    caption->setStyleSheet("font-weight: bold;");
    body()->addWidget(caption);
    auto* form = new QFormLayout;
    auto* drive = new QLabel(recovery::kRaidDriveLabel, this);
    drive->setObjectName("drive");
    form->addRow(tr("Currently Selected Drive :"), drive);
    body()->addLayout(form);

    standard_ = new QRadioButton(tr("Standard Scan"), this);
    standard_->setObjectName("standardScan");
    advanced_ = new QRadioButton(tr("Advance Scan"), this);
    advanced_->setObjectName("advanceScan");
    auto* group = new QButtonGroup(this);
    group->addButton(standard_);
    group->addButton(advanced_);
    gpt_ = new QCheckBox(tr("GPT format"), this);
    gpt_->setObjectName("gpt");
    auto* gptNote = new QLabel(tr("* Check If Partition type is GPT"), this);
    noSkip_ = new QCheckBox(tr("Do not Skip Volume Size While Parsing in Advance  Scan "), this);
    noSkip_->setObjectName("noSkip");
    custom_ = new QCheckBox(tr("Custom Setting:"), this);
    custom_->setObjectName("custom");
    for (QWidget* w : std::initializer_list<QWidget*>{standard_, advanced_, gpt_, gptNote, noSkip_, custom_})
        body()->addWidget(w);
    auto* range = new QFormLayout;
    startLabel_ = new QLabel(tr("Starting Sector:"), this);
    endLabel_ = new QLabel(tr("Ending Sector:"), this);
    start_ = new QLineEdit(QStringLiteral("0"), this);
    start_->setObjectName("startSector");
    end_ = new QLineEdit(QStringLiteral("0"), this);
    end_->setObjectName("endSector");
    range->addRow(startLabel_, start_);
    range->addRow(endLabel_, end_);
    body()->addLayout(range);
    body()->addStretch(1);

    connect(standard_, &QRadioButton::clicked, this, [this] { choice_.chooseStandard(); follow(); });
    connect(advanced_, &QRadioButton::clicked, this, [this] { choice_.chooseAdvanced(); follow(); });
    connect(custom_, &QCheckBox::toggled, this, [this](bool on) { choice_.customRange = on; follow(); });

    // Opened now with the member page's settings (the volume list opens it again).
    if (app.context().raidDisk) app.context().raidDisk->open(recovery::kRaidDriveLabel);
    standard_->setChecked(true);
    follow();
}

void DriveParsingModes::follow() {
    noSkip_->setEnabled(choice_.optionsEnabled());
    custom_->setEnabled(choice_.optionsEnabled());
    for (QWidget* w : std::initializer_list<QWidget*>{startLabel_, endLabel_, start_, end_})
        w->setEnabled(choice_.rangeEnabled());
}

void DriveParsingModes::onNext() {
    choice_.gptFormat = gpt_->isChecked();
    choice_.doNotSkipVolumeSize = noSkip_->isChecked();
    choice_.customRange = custom_->isChecked();
    choice_.startText = start_->text().toStdString();
    choice_.endText = end_->text().toStdString();
    if (std::string refusal = choice_.refusal(); !refusal.empty()) {
        showMessage(this, qs(refusal), QMessageBox::Warning);
        return;
    }
    settings_ = choice_.next();
    app_.forward(this, new PopulateDriveDlg(app_, settings_));
}

}  // namespace quenlow::ui
