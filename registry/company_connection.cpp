// The company register's connection over Qt SQL's PostgreSQL driver: the
// server's address, the one kept in the settings, and the connection with
// every wait bounded.
#include "registry/company_connection_sql.h"

#include "registry/register_sql.h"

#include <QRegularExpression>
#include <QSettings>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#ifdef KELVANE_WITH_LIBPQ
#include <libpq-fe.h>
#include <sys/socket.h>
#endif

namespace kelvane::registry {

using namespace sql;

namespace {

QString settingsKey() { return QStringLiteral("register/server"); }

QSettings settings() { return QSettings(QStringLiteral("Kelvane"), QStringLiteral("Kelvane")); }

}  // namespace

StallGuard::StallGuard(const QSqlDatabase& db, std::chrono::seconds limit) : limit_(limit), socket_(socketOf(db)) {
    if (socket_ >= 0) thread_ = std::thread([this] { watch(); });
}

StallGuard::~StallGuard() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void StallGuard::arm() {
    std::lock_guard<std::mutex> lock(mutex_);
    deadline_ = std::chrono::steady_clock::now() + limit_;
}

bool StallGuard::lost(const QSqlDatabase& db) {
#ifdef KELVANE_WITH_LIBPQ
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (handle.isValid() && (qstrcmp(handle.typeName(), "PGconn*") == 0 || qstrcmp(handle.typeName(), "pg_conn*") == 0))
        if (PGconn* conn = *static_cast<PGconn* const*>(handle.data())) return PQstatus(conn) == CONNECTION_BAD;
#else
    (void)db;
#endif
    return false;
}

int StallGuard::socketOf(const QSqlDatabase& db) {
#ifdef KELVANE_WITH_LIBPQ
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (handle.isValid() && (qstrcmp(handle.typeName(), "PGconn*") == 0 || qstrcmp(handle.typeName(), "pg_conn*") == 0))
        if (PGconn* conn = *static_cast<PGconn* const*>(handle.data())) return PQsocket(conn);
#else
    (void)db;
#endif
    return -1;
}

void StallGuard::watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_) {
        if (cv_.wait_until(lock, deadline_, [this] { return done_; })) return;
        if (std::chrono::steady_clock::now() < deadline_) continue;
        fired_ = true;
#ifdef KELVANE_WITH_LIBPQ
        ::shutdown(socket_, SHUT_RDWR);
#endif
        return;
    }
}

ServerConnection::ServerConnection(const ServerAddress& a, const SyncLimits& limits) {
    static std::atomic<int> counter{0};
    name_ = QStringLiteral("kelvane-company-%1").arg(++counter);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
    db.setHostName(q(a.host));
    db.setPort(a.port);
    db.setUserName(q(a.user));
    db.setDatabaseName(q(a.database));
    // Every wait bounded: the connection, a network that stops carrying
    // (unacknowledged data, or silence while a reply is due).
    db.setConnectOptions(QStringLiteral("connect_timeout=%1;keepalives=1;keepalives_idle=%2;"
                                        "keepalives_interval=%3;keepalives_count=3;tcp_user_timeout=%4;"
                                        "application_name=kelvane;sslmode=%5")
                             .arg(limits.connectTimeout.count())
                             .arg(std::max<long long>(1, limits.networkTimeout.count() / 3))
                             .arg(std::max<long long>(1, limits.networkTimeout.count() / 6))
                             .arg(limits.networkTimeout.count() * 1000)
                             .arg(a.local() ? QStringLiteral("prefer") : QStringLiteral("require")));
    statementTimeout_ = limits.statementTimeout;
    networkTimeout_ = limits.networkTimeout;
}

ServerConnection::~ServerConnection() {
    guard_.reset();
    { QSqlDatabase::database(name_, false).close(); }
    QSqlDatabase::removeDatabase(name_);
}

bool ServerConnection::open(std::string* error) {
    QSqlDatabase db = database();
    if (!db.open()) {
        *error = "cannot reach the company register: " + db.lastError().text().toStdString();
        return false;
    }
    guard_ = std::make_unique<StallGuard>(db, statementTimeout_ + networkTimeout_);
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SET statement_timeout = %1").arg(statementTimeout_.count() * 1000))) {
        *error = "company register: " + query.lastError().text().toStdString();
        return false;
    }
    return true;
}

bool ServerAddress::local() const {
    return host.empty() || host[0] == '/' || host == "localhost" || host == "127.0.0.1" || host == "::1";
}

std::string ServerAddress::url() const {
    const QString h = QString::fromLatin1(QUrl::toPercentEncoding(q(host), ":"));
    const bool v6 = host.find(':') != std::string::npos;
    return "postgresql://" + QUrl::toPercentEncoding(q(user)).toStdString() + "@" + (v6 ? "[" : "") + h.toStdString() +
           (v6 ? "]" : "") + ":" + std::to_string(port) + "/" + QUrl::toPercentEncoding(q(database)).toStdString();
}

std::optional<ServerAddress> parseServerUrl(const std::string& text, std::string* why) {
    const auto refuse = [why](const std::string& reason) -> std::optional<ServerAddress> {
        if (why) *why = reason + " (the form is postgresql://user@host:port/dbname)";
        return std::nullopt;
    };
    if (text.size() > 2000) return refuse("the server's URL is too long");
    static const QRegularExpression form(QStringLiteral(
        "^postgres(?:ql)?://([^@/:?#\\[\\]]+)(:[^@/?#]*)?@(\\[[0-9a-fA-F:.]+\\]|[^:/?#@\\[\\]]+)(?::(\\d{1,5}))?/"
        "([^/?#]+)$"));
    const auto m = form.match(q(text));
    if (!m.hasMatch()) {
        if (text.find('?') != std::string::npos || text.find('#') != std::string::npos)
            return refuse("the URL has more than user, host, port and database");
        return refuse("not a PostgreSQL URL: " + text);
    }
    if (m.capturedLength(2) > 0) return refuse("the URL holds a password; keep it in ~/.pgpass or PGPASSWORD instead");
    const auto decoded = [](const QString& part) { return QUrl::fromPercentEncoding(part.toUtf8()).toStdString(); };
    ServerAddress a;
    a.user = decoded(m.captured(1));
    a.host = decoded(m.captured(3));
    if (a.host.size() > 2 && a.host.front() == '[') a.host = a.host.substr(1, a.host.size() - 2);
    a.port = m.captured(4).isEmpty() ? 5432 : m.captured(4).toInt();
    a.database = decoded(m.captured(5));
    if (a.port < 1 || a.port > 65535) return refuse("no such port: " + m.captured(4).toStdString());
    if (a.user.empty() || a.host.empty() || a.database.empty())
        return refuse("the URL needs a user, a host and a database");
    return a;
}

std::optional<std::string> serverUrl() {
    const QString url = settings().value(settingsKey()).toString();
    if (url.isEmpty()) return std::nullopt;
    return url.toStdString();
}

void setServerUrl(const std::string& url) {
    // Written only when it changes: each write is flushed to the disk.
    if (serverUrl() != url) settings().setValue(settingsKey(), q(url));
}

bool serverDriverAvailable(std::string* why) {
    if (QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) return true;
    if (why) *why = kNoServerDriver;
    return false;
}

}  // namespace kelvane::registry
