#pragma once
// One job on its own thread, owned by an object on another thread (a window,
// a command-line tool's main thread).
//
//  - start() runs the job on a new QThread and returns at once.
//  - The job reports through post(): the call runs later on the owner's
//    thread, in the order posted (progress, texts, results).
//  - requestStop() sets the stop flag the job checks between its steps and,
//    if asked, interrupts the line the job attached, so a wait in a read or
//    write ends at once. A line attached after the request is interrupted
//    as it is attached.
//  - When the job has returned, ended() is emitted on the owner's thread,
//    after everything the job posted and after the thread is gone. An owner
//    that waits for the thread itself (wait(), the destructor) gets no ended().
//
// The job must create, open, use and close its line on its own thread
// (QSerialPort belongs to the thread that opens it).
#include "link/serial_line.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <mutex>

class QThread;

namespace kelvane::session {

class Worker : public QObject {
    Q_OBJECT
public:
    explicit Worker(QObject* parent = nullptr);
    // A job still running is stopped (flag and line interrupt) and waited for.
    ~Worker() override;

    // Starts job on a new thread; false (and nothing runs) when a job is
    // still running or the thread could not be started. Clears the stop flag.
    bool start(std::function<void()> job);
    // Stack size of the job's thread in bytes; 0 (the default) is the system's.
    void setStackSize(unsigned bytes) { stackSize_ = bytes; }
    // True from start() until ended() or wait().
    bool running() const { return thread_ != nullptr; }
    // True once the job has returned (its thread may still be ending).
    bool jobReturned() const { return jobReturned_.load(); }
    // Waits for the job to return and forgets it; no ended() follows.
    void wait();

    // The stop request; interruptLine also interrupts the attached line.
    void requestStop(bool interruptLine = true);
    // The flag itself, for protocol code that takes a const std::atomic<bool>*.
    const std::atomic<bool>* stopFlag() const { return &stop_; }

    // From the job: the line a stop request interrupts; null detaches it.
    void attachLine(link::Line* line);
    // From the job: runs f on the owner's thread later (dropped if the
    // worker is destroyed first).
    void post(std::function<void()> f);

signals:
    void ended();

private:
    void threadDone(unsigned job);

    QThread* thread_ = nullptr;
    unsigned job_ = 0;  // number of the latest job started
    std::atomic<bool> stop_{false};
    std::atomic<bool> jobReturned_{false};
    std::mutex lineMutex_;
    link::Line* line_ = nullptr;
    bool interruptRequested_ = false;
    unsigned stackSize_ = 0;
};

}  // namespace kelvane::session
