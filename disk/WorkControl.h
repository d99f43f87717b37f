#pragma once
// Stop and pause requests for one piece of long work. The requesting thread calls
// requestStop/pause/resume; the worker calls poll() between its blocks, entries or folders.
// Pauses are counted: two pauses need two resumes.

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace quenlow {

class WorkControl {
public:
    void requestStop();
    void clearStop();
    bool stopRequested() const { return stop_.load(std::memory_order_relaxed); }

    void pause();
    // Returns false when there was no pause to resume.
    bool resume();
    int pauseCount() const;

    // Waits while paused (a stop request ends the wait) and returns whether stop was requested.
    bool poll();

private:
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    int pauses_ = 0;
};

}  // namespace quenlow
