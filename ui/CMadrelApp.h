#pragma once
// The application: one instance per user, the recovery context, and the wizard window that
// shows the pages one at a time (forward: the current page hands over to a new one and
// hides; Back: the page goes and the one before it shows again).

#include <QObject>
#include <QStackedLayout>
#include <QWidget>
#include <memory>
#include <vector>

#include "disk/RecoveryContext.h"
#include "platform/InstanceLock.h"
#include "ui/UiFeedback.h"

namespace quenlow::ui {

class WizardPage;

inline constexpr const char* kInstanceLockName = "{QUENLOWTOOLSRAIDRec}";

// The top-level window; closing it asks first.
class WizardWindow : public QWidget {
    Q_OBJECT
public:
    explicit WizardWindow(class CMadrelApp& app);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CMadrelApp& app_;
};

class CMadrelApp : public QObject {
    Q_OBJECT
public:
    CMadrelApp();
    ~CMadrelApp() override;

    // The single-instance rule: false (after the message) when another instance runs.
    bool claimInstance(const std::string& lockName = kInstanceLockName);
    // Shows the first page.
    void start();

    disk::RecoveryContext& context() { return context_; }
    WizardWindow& window() { return *window_; }
    WizardPage* currentPage() const { return pages_.empty() ? nullptr : pages_.back(); }
    const std::vector<WizardPage*>& pages() const { return pages_; }

    // Shows `next` after `from` (which hides); `from` must be the current page.
    void forward(WizardPage* from, WizardPage* next);
    // Removes `page` (the current one) and shows the page before it.
    void back(WizardPage* page);
    // "Do you want to Close Application ?": on Yes every page stops its work, the product's
    // web page opens and the application quits with status 0. Returns whether it closes.
    bool requestClose();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    disk::RecoveryContext context_;
    std::unique_ptr<UiFeedback> readerFeedback_;  // the readers' own messages
    platform::InstanceLock lock_;
    std::unique_ptr<WizardWindow> window_;
    QStackedLayout* stack_;
    std::vector<WizardPage*> pages_;
};

}  // namespace quenlow::ui
