#include "disk/WorkControl.h"

namespace quenlow {

void WorkControl::requestStop() {
    {
        std::lock_guard lock(mutex_);
        stop_.store(true, std::memory_order_relaxed);
    }
    wake_.notify_all();
}

void WorkControl::clearStop() { stop_.store(false, std::memory_order_relaxed); }

void WorkControl::pause() {
    std::lock_guard lock(mutex_);
    ++pauses_;
}

bool WorkControl::resume() {
    {
        std::lock_guard lock(mutex_);
        if (pauses_ == 0) return false;
        --pauses_;
    }
    wake_.notify_all();
    return true;
}

int WorkControl::pauseCount() const {
    std::lock_guard lock(mutex_);
    return pauses_;
}

bool WorkControl::poll() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return pauses_ == 0 || stop_.load(std::memory_order_relaxed); });
    return stop_.load(std::memory_order_relaxed);
}

}  // namespace quenlow
