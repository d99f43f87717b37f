#include "ui/ParceModeNtfsDlg.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>

#include "ui/CMadrelApp.h"
#include "ui/Messages.h"
#include "ui/VolumeScanDlg.h"
#include "ui/advanceOptions.h"

namespace quenlow::ui {

ParceModeNtfsDlg::ParceModeNtfsDlg(CMadrelApp& app, const volumes::VolumeRecord& volume)
    : WizardPage(app, "ParceModeNtfsDlg"), volume_(volume), choice_(volume.fileSystem, &app.context()) {
    auto* group = new QGroupBox(tr("Select Recovery Mode:"), this);
    auto* modes = new QVBoxLayout(group);
    standard_ = new QRadioButton(tr("Standard"), group);
    standard_->setObjectName("standard");
    advanced_ = new QRadioButton(tr("Advanced"), group);
    advanced_->setObjectName("advanced");
    deep_ = new QRadioButton(tr("Deep"), group);
    deep_->setObjectName("deep");
    auto* buttons = new QButtonGroup(this);
    for (QRadioButton* r : {standard_, advanced_, deep_}) {
        buttons->addButton(r);
        modes->addWidget(r);
    }
    body()->addWidget(group);
    auto* row = new QHBoxLayout;
    maximumLabel_ = new QLabel(tr("Please Enter Max File Systems to Find :"), this);
    maximum_ = new QLineEdit(qs(recovery::kDefaultMaximumText), this);
    maximum_->setObjectName("maximum");
    maximumNote_ = new QLabel(tr("( By  Default  it's  = 3 )"), this);
    row->addWidget(maximumLabel_);
    row->addWidget(maximum_);
    row->addWidget(maximumNote_);
    body()->addLayout(row);
    formatted_ = new QCheckBox(tr("Is Drive Formated..?"), this);
    formatted_->setObjectName("formatted");
    body()->addWidget(formatted_);
    body()->addStretch(1);

    advanced_->setVisible(choice_.offers(fs::Mode::Advanced));
    deep_->setVisible(choice_.offers(fs::Mode::Deep));
    connect(standard_, &QRadioButton::clicked, this, [this] { choose(fs::Mode::Standard); });
    connect(advanced_, &QRadioButton::clicked, this, [this] { choose(fs::Mode::Advanced); });
    connect(deep_, &QRadioButton::clicked, this, [this] { choose(fs::Mode::Deep); });
    connect(formatted_, &QCheckBox::clicked, this, [this](bool on) { choice_.setFormatted(on); });
    choose(fs::Mode::Standard);
}

void ParceModeNtfsDlg::choose(fs::Mode mode) {
    choice_.choose(mode);
    standard_->setChecked(choice_.mode() == fs::Mode::Standard);
    advanced_->setChecked(choice_.mode() == fs::Mode::Advanced);
    deep_->setChecked(choice_.mode() == fs::Mode::Deep);
    for (QWidget* w : std::initializer_list<QWidget*>{maximumLabel_, maximum_, maximumNote_})
        w->setVisible(choice_.showsMaximum());
    formatted_->setChecked(false);
    formatted_->setVisible(choice_.showsFormatted());
}

void ParceModeNtfsDlg::onNext() {
    choice_.maximumText = maximum_->text().toStdString();
    if (choice_.nextPage() == recovery::RecoveryModeChoice::NextPage::AdvancedInput)
        app_.forward(this, new advanceOptions(app_, *this));
    else
        app_.forward(this, new VolumeScanDlg(app_, *this));
}

}  // namespace quenlow::ui
