#pragma once
// The company register's sync as the window runs it: in the background on
// a thread of its own (the sync opens its own database connections there),
// one run at a time. A request while a run is under way is kept and served
// once that run ends; closing the window cancels the run and waits for it a
// bounded time. The state the window shows is read without the network.
#include "texts/visit_texts.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace kelvane::shell {

struct CompanySyncHooks {
    // The state as the local register and the settings tell it (no network).
    std::function<texts::CompanyRegisterState()> read;
    // One sync, on the runner's thread: None when it finished (or was
    // cancelled), else why not (the state read afterwards tells whether the
    // server was reached). It ends soon after `cancel` turns true.
    std::function<registry::ServerReason(const std::atomic<bool>& cancel)> run;
};

class CompanySyncRunner : public QObject {
    Q_OBJECT
public:
    explicit CompanySyncRunner(CompanySyncHooks hooks, QObject* parent = nullptr);
    ~CompanySyncRunner() override;  // stop(kStopBound)

    static constexpr std::chrono::milliseconds kStopBound{3000};

    // Starts a sync when a server is set; while one runs, one more follows it.
    void request();
    // Cancels the run and waits for it at most `bound`; false when it was
    // still running then (it is left to end on its own, touching nothing of
    // the window's). No request starts a run afterwards.
    bool stop(std::chrono::milliseconds bound);
    bool running() const;
    // The state to show: read afresh, with the run under way and the last
    // run's failure.
    texts::CompanyRegisterState state() const;
    // The status bar's and the Register window's text in a language.
    QString text(int language) const;

signals:
    // A run started or ended: the state may have changed.
    void changed();

private:
    struct Shared;
    void start();
    void ended(const registry::ServerReason& failure);

    CompanySyncHooks hooks_;
    std::shared_ptr<Shared> shared_;
    bool again_ = false;
    bool stopped_ = false;
    registry::ServerReason failure_;
};

}  // namespace kelvane::shell
