#include "ui/Worker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

namespace quenlow::ui {

bool Worker::start(QObject* receiver, std::function<void()> work, std::function<void()> done) {
    if (running()) return false;
    join();
    ended_ = false;
    doneRan_ = false;
    thread_ = std::thread([this, receiver, work = std::move(work), done = std::move(done)] {
        work();
        QMetaObject::invokeMethod(
            receiver,
            [this, done] {
                if (thread_.joinable()) thread_.join();
                doneRan_ = true;
                if (done) done();
            },
            Qt::QueuedConnection);
        ended_ = true;
    });
    return true;
}

void Worker::finishServing() {
    while (thread_.joinable() && !doneRan_) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
}

void Worker::join() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace quenlow::ui
