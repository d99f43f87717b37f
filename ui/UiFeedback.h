#pragma once
// Feedback for workers on other threads: every call is carried out on the UI thread while
// the worker waits, so status texts, progress and messages keep their order and widgets are
// only ever touched by the UI thread. Called on the UI thread, it acts at once.

#include <QObject>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "disk/Feedback.h"

namespace quenlow::ui {

class UiFeedback : public Feedback {
public:
    // `receiver` is an object of the UI thread (the page) whose lifetime bounds the calls.
    explicit UiFeedback(QObject* receiver) : receiver_(receiver) {}

    std::function<void(const std::string&)> onStatus;
    std::function<void(const std::string&)> onDetail;
    std::function<void(int64_t, int64_t)> onRange;
    std::function<void(int64_t)> onPosition;
    std::function<void(const std::string&)> onMessage;
    std::function<bool(const std::string&)> onAsk;

    void status(const std::string& text) override;
    void detail(const std::string& text) override;
    void progressRange(int64_t low, int64_t high) override;
    void progressPosition(int64_t position) override;
    void message(const std::string& text) override;
    bool ask(const std::string& question) override;

    // Runs `work` on the UI thread and waits for it (at once on the UI thread). After
    // mute() nothing more runs and waiting workers go on at once.
    void call(const std::function<void()>& work);
    // Drops every later call and releases the workers waiting for one; questions are
    // then answered no.
    void mute();
    bool muted() const;

private:
    QObject* receiver_;
    mutable std::mutex mutex_;
    std::condition_variable done_;
    bool muted_ = false;
};

}  // namespace quenlow::ui
