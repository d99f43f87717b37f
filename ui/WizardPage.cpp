#include "ui/WizardPage.h"

#include <QHBoxLayout>
#include <QMenu>

#include "ui/CMadrelApp.h"
#include "ui/Messages.h"

namespace quenlow::ui {

WizardPage::WizardPage(CMadrelApp& app, const QString& name) : app_(app) {
    setObjectName(name);
    auto* outer = new QVBoxLayout(this);
    auto* banner = new QLabel(kAppTitle, this);
    banner->setObjectName("banner");
    banner->setMinimumHeight(52);
    banner->setStyleSheet("background: #2b5797; color: white; font-size: 16pt; padding-left: 12px;");
    outer->addWidget(banner);
    body_ = new QVBoxLayout;
    outer->addLayout(body_, 1);

    auto* buttons = new QHBoxLayout;
    help_ = new QToolButton(this);
    help_->setObjectName("help");
    help_->setText(tr("Help"));
    help_->setToolTip(tr("Help"));
    help_->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(help_);
    menu->setObjectName("helpMenu");
    menu->addAction(tr("Help"), [] { openAddress(kHelpAddress); });
    menu->addAction(tr("Software Webpage"), [] { openAddress(kWebpageAddress); });
    menu->addAction(tr("About"), [this] { showAbout(this); });
    help_->setMenu(menu);
    buttons->addWidget(help_);
    buttons->addStretch(1);
    back_ = button(tr("Back"), tr("Back"), "back");
    next_ = button(tr("Next"), tr("Next"), "next");
    buttons->addWidget(back_);
    buttons->addWidget(next_);
    outer->addLayout(buttons);
    connect(back_, &QPushButton::clicked, this, [this] { onBack(); });
    connect(next_, &QPushButton::clicked, this, [this] { onNext(); });
}

QPushButton* WizardPage::button(const QString& text, const QString& tooltip, const char* name) {
    auto* b = new QPushButton(text, this);
    b->setToolTip(tooltip);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

void WizardPage::onBack() {
    if (leaving()) app_.back(this);
}

}  // namespace quenlow::ui
