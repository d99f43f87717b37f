#include "ui/CMadrelApp.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>

#include "ui/Messages.h"
#include "ui/RaidOptionDialog.h"
#include "ui/WizardPage.h"

namespace quenlow::ui {

namespace {

// The window icon: three stacked disks, the last one red.
QIcon appIcon() {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        p.setBrush(i == 2 ? QColor(0xb9, 0x1d, 0x47) : QColor(0x2b, 0x57, 0x97));
        p.drawRoundedRect(6, 8 + 17 * i, 52, 14, 3, 3);
    }
    return QIcon(pixmap);
}

}  // namespace

WizardWindow::WizardWindow(CMadrelApp& app) : app_(app) {
    setObjectName("wizard");
    setWindowTitle(kAppTitle);
    setWindowIcon(appIcon());
    resize(860, 560);
}

void WizardWindow::closeEvent(QCloseEvent* event) {
    if (app_.requestClose()) event->accept();
    else event->ignore();
}

CMadrelApp::CMadrelApp() : window_(std::make_unique<WizardWindow>(*this)) {
    context_.rootLabel = "ROOT";
    context_.totalSectors = 0;
    context_.driveFormatted = false;
    // The readers' messages ("invalid handle ...", "not a vhd file") as message boxes.
    readerFeedback_ = std::make_unique<UiFeedback>(this);
    readerFeedback_->onMessage = [this](const std::string& text) { showMessage(window_.get(), qs(text)); };
    context_.feedback = readerFeedback_.get();
    stack_ = new QStackedLayout(window_.get());
    qApp->installEventFilter(this);
}

CMadrelApp::~CMadrelApp() {
    qApp->removeEventFilter(this);
    readerFeedback_->mute();
    for (auto it = pages_.rbegin(); it != pages_.rend(); ++it) (*it)->closing();
    // Pages go newest first: a later page reads from the ones before it.
    while (!pages_.empty()) {
        delete pages_.back();
        pages_.pop_back();
    }
    context_.feedback = &silentFeedback();
}

bool CMadrelApp::claimInstance(const std::string& lockName) {
    if (lock_.acquire(lockName)) return true;
    showMessage(nullptr, lock_.error().empty() ? QStringLiteral("Another instance of application is already running")
                                               : qs(lock_.error()));
    return false;
}

void CMadrelApp::start() {
    auto* first = new RaidOptionDialog(*this);
    pages_.push_back(first);
    stack_->addWidget(first);
    stack_->setCurrentWidget(first);
    window_->show();
}

void CMadrelApp::forward(WizardPage* from, WizardPage* next) {
    if (currentPage() != from) {
        delete next;
        return;
    }
    pages_.push_back(next);
    stack_->addWidget(next);
    stack_->setCurrentWidget(next);
}

void CMadrelApp::back(WizardPage* page) {
    if (currentPage() != page || pages_.size() < 2) return;
    pages_.pop_back();
    stack_->removeWidget(page);
    stack_->setCurrentWidget(pages_.back());
    page->deleteLater();
}

bool CMadrelApp::requestClose() {
    if (!askYesNo(window_.get(), QStringLiteral("Do you want to Close Application ?"))) return false;
    for (auto it = pages_.rbegin(); it != pages_.rend(); ++it) (*it)->closing();
    openAddress(kWebpageAddress);
    QCoreApplication::exit(0);
    return true;
}

bool CMadrelApp::eventFilter(QObject* watched, QEvent* event) {
    // Enter and Escape never close a page or press a button.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        auto* widget = qobject_cast<QWidget*>(watched);
        if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) && widget != nullptr &&
            widget->window() == window_.get())
            return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace quenlow::ui
