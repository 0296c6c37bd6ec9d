#pragma once
// What the company register's source files share inside the layer about the
// server's connection: opening it over Qt SQL's PostgreSQL driver with every
// wait bounded, and the guard that cuts off a network that stalls.
#include "registry/company_connection.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kelvane::registry {

// A bound on each step's time on the server: a network that stops carrying
// without closing (a proxy that stalls, a cable pulled past a switch) answers
// neither the keepalives' nor the server's time-outs, so when a step outlasts
// the bound its socket is shut down, and the waiting call fails at once.
class StallGuard {
public:
    StallGuard(const QSqlDatabase& db, std::chrono::seconds limit);
    ~StallGuard();
    StallGuard(const StallGuard&) = delete;
    StallGuard& operator=(const StallGuard&) = delete;
    // A new step begins: the bound starts again.
    void arm();
    bool fired() const { return fired_; }
    // The connection is gone (the server stopped, the network went).
    static bool lost(const QSqlDatabase& db);
    int socket() const { return socket_; }
    // Ends every wait on `socket` at once (its calls fail).
    static void cut(int socket);
    std::chrono::seconds limit() const { return limit_; }

private:
    static int socketOf(const QSqlDatabase& db);
    void watch();
    std::chrono::seconds limit_;
    int socket_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::now() + limit_;
    bool done_ = false;
    std::atomic_bool fired_{false};
    std::thread thread_;
};

// One connection to the server, closed and removed with this object.
class ServerConnection {
public:
    ServerConnection(const ServerAddress& a, const SyncLimits& limits);
    ~ServerConnection();
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    // False with the reason; refused() then tells a server that was reached
    // or a string that cannot be used (read-only, no CA file) from one not reached.
    bool open(std::string* error, ServerReason* reason);
    bool refused() const { return refused_; }
    QSqlDatabase database() const { return QSqlDatabase::database(name_, false); }
    StallGuard& guard() { return *guard_; }

private:
    ServerAddress address_;
    SyncLimits limits_;
    QString name_;
    bool refused_ = false;
    std::unique_ptr<StallGuard> guard_;  // after the connection is open
};

// The statement waited SyncLimits::lockTimeout for a lock another session
// held (another laptop's push), and gave up.
bool pushLockBusy(const QSqlQuery& query);

}  // namespace kelvane::registry
