#pragma once
// Stands in for the pages still to come (the browse page and raw recovery): it says so and
// offers only Back.

#include "ui/WizardPage.h"

namespace quenlow::ui {

class PlaceholderPage : public WizardPage {
    Q_OBJECT
public:
    PlaceholderPage(CMadrelApp& app, const QString& name, const QString& what);

protected:
    void onNext() override {}
};

}  // namespace quenlow::ui
