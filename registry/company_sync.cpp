// The company register's sync over Qt SQL's PostgreSQL driver: the server's
// facts first, then the push (company_push.cpp) and the pull
// (company_pull.cpp), with the marks of company_marks.cpp. Each push or pull
// batch is one server transaction, and what it did is marked in the register
// file in one local transaction afterwards: a sync stopped between the two
// repeats the batch, which the server and the register both take as already
// done (rows are keyed by identity, UUID or hash, and inserted only when
// missing).
#include "registry/company_sync.h"

#include "registry/company_steps.h"

#include <QSqlError>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace kelvane::registry {

using namespace sql;

namespace company {

QSqlQuery CompanySync::remote() {
    QSqlQuery query(server_);
    query.setForwardOnly(true);
    return query;
}

// Between batches: the bound on silence starts again, and a cancel ends here.
bool CompanySync::cancelled() {
    heard();
    if (!cancel_ || !*cancel_) return false;
    r_.cancelled = true;
    return fail(ServerProblem::Cancelled, "cancelled; what went before is kept");
}

bool CompanySync::fail(ServerProblem problem, const std::string& what, std::string detail, std::string other) {
    if (!r_.error.empty()) return false;
    r_.error = what;
    r_.reason.problem = problem;
    r_.reason.detail = std::move(detail);
    r_.reason.other = std::move(other);
    return false;
}

bool CompanySync::serverFail(const std::string& what, const QSqlQuery& query) {
    if (cancel_ && *cancel_) {
        r_.cancelled = true;
        return fail(ServerProblem::Cancelled, "cancelled; what went before is kept");
    }
    if (guard_.fired() || StallGuard::lost(server_)) r_.unreachable = true;
    if (guard_.fired())
        return fail(ServerProblem::Stalled,
                    "the company register stopped answering (nothing for " + std::to_string(guard_.limit().count()) +
                        " s); what went before is kept",
                    std::to_string(guard_.limit().count()));
    server_.rollback();
    const QSqlError error = query.lastError().type() != QSqlError::NoError ? query.lastError() : server_.lastError();
    const std::string reason = error.type() != QSqlError::NoError ? error.text().toStdString() : "the connection was lost";
    return fail(ServerProblem::ServerFault, "company register: " + what + ": " + reason + "; what went before is kept",
                what, reason);
}

bool CompanySync::localFail(const std::string& what) {
    return fail(ServerProblem::RegisterFault, "register: " + what + ": " + reg_.error(), what, reg_.error());
}

// A step until it has nothing more to do; the cancel flag between batches.
bool CompanySync::repeat(Step step) {
    for (bool more = true; more;) {
        if (cancelled() || !(this->*step)(&more)) return false;
    }
    return true;
}

bool CompanySync::run(const ServerFacts& facts) {
    version_ = facts.version;
    if (reg_.openedVersion() < Register::kSchemaVersion)
        return fail(ServerProblem::RegisterTooOld, "the register's schema is too old to sync");
    if (!checkKey(facts.dataKey) || !ensureLaptopId() || !sameServer(facts) || !sameLaptop()) return false;
    const qlonglong changes = facts.changes;
    if (pending())
        for (const auto step : {&CompanySync::pushControllers, &CompanySync::pushImages, &CompanySync::pushVisits,
                                &CompanySync::pushSavedFiles, &CompanySync::pushHistory})
            if (!repeat(step)) return false;
    // Nothing handed a change number since the last whole pull, and nothing
    // pushed now: nothing new to pull.
    if (!pushedAny() && r_.resent.empty() && changes == pulledThrough()) return true;
    return pull();
}

}  // namespace company

namespace {

// A cancel ends a wait on the server at once: its socket is shut down, and
// the waiting call fails (the sync then says it was cancelled).
class CancelWatch {
public:
    CancelWatch(const std::atomic_bool* cancel, int socket) : cancel_(cancel), socket_(socket) {
        if (cancel_ && socket_ >= 0) thread_ = std::thread([this] { watch(); });
    }
    ~CancelWatch() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    CancelWatch(const CancelWatch&) = delete;
    CancelWatch& operator=(const CancelWatch&) = delete;

private:
    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!cv_.wait_for(lock, std::chrono::milliseconds(50), [this] { return done_; })) {
            if (!*cancel_) continue;
            StallGuard::cut(socket_);
            return;
        }
    }
    const std::atomic_bool* cancel_;
    int socket_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace

SyncResult syncNow(Register& local, const ServerAddress& address, const SyncLimits& limits, const std::atomic_bool* cancel) {
    using namespace company;
    SyncResult r;
    const auto failed = [&r](ServerProblem problem, std::string what, std::string detail = {}) {
        r.reason.problem = problem;
        r.reason.detail = std::move(detail);
        r.error = std::move(what);
    };
    if (!serverDriverAvailable(&r.error)) {
        r.reason.problem = ServerProblem::NoDriver;
        return r;
    }
    if (!local.isOpen()) {
        failed(ServerProblem::RegisterNotOpen, local.error().empty() ? "the register is not open" : local.error(),
               local.error());
        return r;
    }
    {
        ServerConnection server(address, limits);
        const bool open = server.open(&r.error, &r.reason);
        r.unreachable = !open && !server.refused();
        if (open) {
            const CancelWatch watch(cancel, server.guard().socket());
            const auto facts = serverFacts(server.database());
            if (!facts) {
                const std::string why = server.database().lastError().text().toStdString();
                failed(ServerProblem::ServerFault, "company register: " + why, "schema");
                r.reason.other = why;
                r.unreachable = StallGuard::lost(server.database());
            } else if (facts->version == 0) {
                failed(ServerProblem::NoSchema,
                       "the company register has no schema yet: run kvtool register server-setup first");
            } else if (facts->version > kServerSchemaVersion) {
                failed(ServerProblem::SchemaNewer,
                       "the company register's schema (version " + std::to_string(facts->version) +
                           ") is newer than this program's: update the program",
                       std::to_string(facts->version));
            } else if (!facts->missing.empty()) {
                failed(ServerProblem::TableMissing,
                       "the company register lacks its table " + facts->missing +
                           ": run kvtool register server-setup, which makes it again",
                       facts->missing);
            } else {
                CompanySync sync(local, server.database(), limits, cancel, &r, &server.guard());
                r.ok = sync.run(*facts);
            }
        }
    }
    if (r.ok) r.finishedAt = now();
    CompanySync::note(local, r);
    return r;
}

SyncState syncState(Register& local) {
    SyncState s;
    s.configured = serverUrl().has_value();
    company::CompanySync::state(local, &s);
    return s;
}

}  // namespace kelvane::registry
