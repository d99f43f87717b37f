#include "ui/PlaceholderPage.h"

#include <QLabel>

namespace quenlow::ui {

PlaceholderPage::PlaceholderPage(CMadrelApp& app, const QString& name, const QString& what)
    : WizardPage(app, name) {
    auto* label = new QLabel(tr("%1: not built yet. Press Back to choose again.").arg(what), this);
    label->setObjectName("placeholder");
    body()->addWidget(label);
    body()->addStretch(1);
    nextButton()->setEnabled(false);
    nextButton()->setToolTip(tr("Not built yet"));
}

}  // namespace quenlow::ui
