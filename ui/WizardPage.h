#pragma once
// What every page of the wizard shares: the banner, the Help menu button (Help, Software
// Webpage, About), Back and Next with their tooltips, and the hand-off of worker feedback.
// The application shows one page at a time.

#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>

namespace quenlow::ui {

class CMadrelApp;

class WizardPage : public QWidget {
    Q_OBJECT
public:
    WizardPage(CMadrelApp& app, const QString& name);

    QPushButton* backButton() const { return back_; }
    QPushButton* nextButton() const { return next_; }
    QToolButton* helpButton() const { return help_; }

    // Back was pressed: false keeps the page (default: it may go).
    virtual bool leaving() { return true; }
    // The application is closing: stop whatever runs.
    virtual void closing() {}

protected:
    // Where the page puts its controls, between the banner and the buttons.
    QVBoxLayout* body() const { return body_; }
    virtual void onNext() = 0;
    void onBack();
    // A labelled button with its tooltip and object name.
    QPushButton* button(const QString& text, const QString& tooltip, const char* name);

    CMadrelApp& app_;

private:
    QVBoxLayout* body_;
    QPushButton* back_;
    QPushButton* next_;
    QToolButton* help_;
};

}  // namespace quenlow::ui
