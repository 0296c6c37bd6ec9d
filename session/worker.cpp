#include "session/worker.h"

#include <QThread>

namespace kelvane::session {

Worker::Worker(QObject* parent) : QObject(parent) {}

Worker::~Worker() {
    if (!thread_) return;
    requestStop(true);
    wait();
}

bool Worker::start(std::function<void()> job) {
    if (thread_) return false;
    stop_ = false;
    jobReturned_ = false;
    {
        std::lock_guard<std::mutex> lock(lineMutex_);
        line_ = nullptr;
        interruptRequested_ = false;
    }
    const unsigned number = ++job_;
    QThread* thread = QThread::create([this, number, job = std::move(job)]() {
        job();
        attachLine(nullptr);
        jobReturned_ = true;
        QMetaObject::invokeMethod(
            this, [this, number] { threadDone(number); }, Qt::QueuedConnection);
    });
    thread->setStackSize(stackSize_);
    thread->start();
    if (!thread->isRunning() && !thread->isFinished()) {
        delete thread;
        return false;
    }
    thread_ = thread;
    return true;
}

void Worker::threadDone(unsigned job) {
    if (job != job_ || !thread_) return;  // already waited for
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    emit ended();
}

void Worker::wait() {
    if (!thread_) return;
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
}

void Worker::requestStop(bool interruptLine) {
    stop_ = true;
    if (!interruptLine) return;
    std::lock_guard<std::mutex> lock(lineMutex_);
    interruptRequested_ = true;
    if (line_) line_->interrupt();
}

void Worker::attachLine(link::Line* line) {
    std::lock_guard<std::mutex> lock(lineMutex_);
    line_ = line;
    if (line_ && interruptRequested_) line_->interrupt();
}

void Worker::post(std::function<void()> f) { QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection); }

}  // namespace kelvane::session
