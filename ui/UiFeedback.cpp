#include "ui/UiFeedback.h"

#include <QThread>
#include <memory>

namespace quenlow::ui {

void UiFeedback::call(const std::function<void()>& work) {
    if (QThread::currentThread() == receiver_->thread()) {
        if (!muted()) work();
        return;
    }
    auto finished = std::make_shared<bool>(false);
    {
        std::lock_guard lock(mutex_);
        if (muted_) return;
    }
    // Queued calls of a destroyed receiver are dropped by Qt; the page mutes this before it
    // goes, so a worker never waits for one.
    QMetaObject::invokeMethod(
        receiver_,
        [this, work, finished] {
            if (!muted()) work();
            std::lock_guard lock(mutex_);
            *finished = true;
            done_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return *finished || muted_; });
}

void UiFeedback::mute() {
    std::lock_guard lock(mutex_);
    muted_ = true;
    done_.notify_all();
}

bool UiFeedback::muted() const {
    std::lock_guard lock(mutex_);
    return muted_;
}

void UiFeedback::status(const std::string& text) {
    call([&] { if (onStatus) onStatus(text); });
}
void UiFeedback::detail(const std::string& text) {
    call([&] { if (onDetail) onDetail(text); });
}
void UiFeedback::progressRange(int64_t low, int64_t high) {
    call([&] { if (onRange) onRange(low, high); });
}
void UiFeedback::progressPosition(int64_t position) {
    call([&] { if (onPosition) onPosition(position); });
}
void UiFeedback::message(const std::string& text) {
    call([&] { if (onMessage) onMessage(text); });
}
bool UiFeedback::ask(const std::string& question) {
    bool yes = false;
    call([&] { yes = onAsk && onAsk(question); });
    return yes;
}

}  // namespace quenlow::ui
