#pragma once
// A page's worker thread. The work runs on its own thread; when it ends, `done` runs on the
// UI thread (unless the page went first). Only one piece of work at a time.

#include <QObject>
#include <atomic>
#include <functional>
#include <thread>

namespace quenlow::ui {

class Worker {
public:
    ~Worker() { join(); }
    // False when work is still running.
    bool start(QObject* receiver, std::function<void()> work, std::function<void()> done);
    bool running() const { return thread_.joinable() && !ended_; }
    // Keeps the UI thread serving the worker's hand-offs until it ends, then joins it; its
    // `done` has then run.
    void finishServing();
    void join();

private:
    std::thread thread_;
    std::atomic<bool> ended_{false};
    std::atomic<bool> doneRan_{false};
};

}  // namespace quenlow::ui
