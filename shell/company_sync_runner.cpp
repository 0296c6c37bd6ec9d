#include "shell/company_sync_runner.h"

#include "shell/shown_time.h"

#include <QDateTime>
#include <QMetaObject>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace kelvane::shell {

// What the runner and its thread share; the thread holds it too, so a run
// left behind by stop() outlives the window safely.
struct CompanySyncRunner::Shared {
    std::atomic<bool> cancel{false};
    std::mutex mutex;
    std::condition_variable done;
    bool running = false;
};

CompanySyncRunner::CompanySyncRunner(CompanySyncHooks hooks, QObject* parent)
    : QObject(parent), hooks_(std::move(hooks)), shared_(std::make_shared<Shared>()) {}

CompanySyncRunner::~CompanySyncRunner() { stop(kStopBound); }

bool CompanySyncRunner::running() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->running;
}

void CompanySyncRunner::request() {
    if (stopped_ || !hooks_.run) return;
    if (hooks_.read && !hooks_.read().serverSet) return;
    if (running()) {
        again_ = true;
        return;
    }
    start();
}

void CompanySyncRunner::start() {
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->running = true;
    }
    again_ = false;
    emit changed();
    std::thread([shared = shared_, run = hooks_.run, self = this] {
        using registry::ServerProblem;
        registry::ServerReason failure;
        try {
            failure = run(shared->cancel);
        } catch (const std::exception& e) {
            failure = {ServerProblem::ServerFault, registry::StringProblem::None, "sync", e.what()};
        } catch (...) {
            failure = {ServerProblem::ServerFault, registry::StringProblem::None, "sync", "?"};
        }
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->running = false;
        shared->done.notify_all();
        // Back on the window's thread. stop() sets `cancel` under the lock
        // before the runner goes, so the runner is still there; a call
        // posted to it is dropped with it.
        if (!shared->cancel)
            QMetaObject::invokeMethod(
                self, [self, failure] { self->ended(failure); }, Qt::QueuedConnection);
    }).detach();
}

void CompanySyncRunner::ended(const registry::ServerReason& failure) {
    failure_ = failure;
    if (again_ && !stopped_) return start();
    emit changed();
}

bool CompanySyncRunner::stop(std::chrono::milliseconds bound) {
    stopped_ = true;
    again_ = false;
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->cancel = true;
    return shared_->done.wait_for(lock, bound, [this] { return !shared_->running; });
}

texts::CompanyRegisterState CompanySyncRunner::state() const {
    texts::CompanyRegisterState s = hooks_.read ? hooks_.read() : texts::CompanyRegisterState{};
    s.running = running();
    if (!s.offline && !s.failure) s.failure = failure_;
    return s;
}

QString CompanySyncRunner::text(int language) const {
    return QString::fromStdString(texts::companyRegisterText(state(), localTime(QDateTime::currentDateTime()), language));
}

}  // namespace kelvane::shell
