// The company register's connection over Qt SQL's PostgreSQL driver: the
// server's string read by libpq, the one kept in the settings, and the
// connection with every wait bounded and the server verified.
#include "registry/company_connection_sql.h"

#include "diagnostics/diagnostics.h"
#include "files/program_log.h"
#include "registry/register_sql.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <libpq-fe.h>
#ifdef _WIN32
#include <winsock2.h>
#define SHUT_RDWR SD_BOTH
#else
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace kelvane::registry {

using namespace sql;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

QString settingsKey() { return QStringLiteral("register/server"); }

QSettings settings() { return QSettings(QStringLiteral("Kelvane"), QStringLiteral("Kelvane")); }

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string lookup(const Pairs& pairs, const std::string& key) {
    for (const auto& [k, v] : pairs)
        if (k == key) return v;
    return {};
}

// The home folder as libpq finds it.
std::string homeFolder() {
    const std::string home = env("HOME");
    return home.empty() ? QDir::homePath().toStdString() : home;
}

// A value as libpq's key=value strings quote it.
std::string quoted(const std::string& v) {
    std::string out = "'";
    for (char c : v) {
        if (c == '\\' || c == '\'') out += '\\';
        out += c;
    }
    return out + "'";
}

std::string joined(const Pairs& pairs, const char* separator) {
    std::string out;
    for (const auto& [k, v] : pairs) out += (out.empty() ? "" : separator) + k + "=" + quoted(v);
    return out;
}

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (std::size_t comma; (comma = list.find(',', from)) != std::string::npos; from = comma + 1)
        out.push_back(list.substr(from, comma - from));
    out.push_back(list.substr(from));
    return out;
}

bool localHost(const std::string& h) {
    if (h.empty() || h[0] == '/' || h[0] == '@' || h == "localhost" || h == "::1") return true;
    return h.rfind("127.", 0) == 0 && h.find_first_not_of("0123456789.") == std::string::npos;
}

// The entries of service `name` in the first service file that has it (the
// user's, then the system's), as libpq reads them: [name], then key=value
// lines, '#' comments.
Pairs serviceEntries(const std::string& name) {
    if (name.empty()) return {};
    const std::string user = env("PGSERVICEFILE").empty() ? homeFolder() + "/.pg_service.conf" : env("PGSERVICEFILE");
    const std::string system =
        (env("PGSYSCONFDIR").empty() ? std::string("/etc/postgresql-common") : env("PGSYSCONFDIR")) + "/pg_service.conf";
    for (const std::string& path : {user, system}) {
        QFile file(QString::fromStdString(path));
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QList<QByteArray> lines = file.read(256 * 1024).split('\n');
        Pairs entries;
        bool inGroup = false, found = false;
        for (const QByteArray& raw : lines) {
            const std::string line = raw.trimmed().toStdString();
            if (line.empty() || line[0] == '#') continue;
            if (line[0] == '[') {
                inGroup = line == "[" + name + "]";
                found = found || inGroup;
                continue;
            }
            const std::size_t eq = line.find('=');
            if (inGroup && eq != std::string::npos) entries.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        }
        if (found) return entries;
    }
    return {};
}

// The driver's libpq connection, once open.
PGconn* connectionOf(const QSqlDatabase& db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (handle.isValid() && (qstrcmp(handle.typeName(), "PGconn*") == 0 || qstrcmp(handle.typeName(), "pg_conn*") == 0))
        return *static_cast<PGconn* const*>(handle.data());
    return nullptr;
}

// The server's notices (and warnings) go to the program's log, not to stderr.
void logNotice(void*, const char* message) {
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    diagnostics::logProblem("notice", "company register: " + text);
}

// A libpq or server message about a string or a connection, without any
// password of `text` in it.
std::string cleaned(std::string message, const std::string& text) {
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    for (char& c : message)
        if (c == '\n' || c == '\t') c = ' ';
    std::vector<std::string> secrets;
    for (const std::string& secret : connectionSecrets(text)) {
        secrets.push_back(secret);
        secrets.push_back(QByteArray::fromPercentEncoding(QByteArray::fromStdString(secret)).toStdString());
    }
    for (const std::string& s : secrets)
        for (std::size_t at; !s.empty() && (at = message.find(s)) != std::string::npos;)
            message.replace(at, s.size(), "***");
    // libpq quotes the piece it could not read, which may be a part of a password.
    for (std::size_t open = message.find('"'), close; open != std::string::npos; open = message.find('"', open + 1)) {
        if ((close = message.find('"', open + 1)) == std::string::npos) break;
        const std::string piece = message.substr(open + 1, close - open - 1);
        const bool secret = std::any_of(secrets.begin(), secrets.end(), [&](const std::string& s) {
            return !piece.empty() && s.find(piece) != std::string::npos;
        });
        if (secret) message.replace(open + 1, piece.size(), "***");
        open = message.find('"', open + 1);
    }
    return maskConnectionSecrets(message);
}

}  // namespace

std::string ServerAddress::value(const std::string& keyword) const {
    const std::string given = lookup(options, keyword);
    return given.empty() ? lookup(service, keyword) : given;
}

bool ServerAddress::local() const {
    std::string hosts = value("host");
    if (hosts.empty()) hosts = env("PGHOST");
    if (hosts.empty()) hosts = value("hostaddr");
    if (hosts.empty()) hosts = env("PGHOSTADDR");
    for (const std::string& h : split(hosts))
        if (!localHost(h)) return false;
    return true;
}

std::string ServerAddress::sslmode() const {
    std::string mode = value("sslmode");
    if (mode.empty()) mode = env("PGSSLMODE");
    if (mode.empty() && env("PGREQUIRESSL") == "1") mode = "require";
    if (mode.empty()) mode = local() ? "prefer" : "verify-full";
    return mode;
}

bool ServerAddress::verified() const { return local() || sslmode() == "verify-full"; }

std::string ServerAddress::rootCertificate() const {
    std::string file = value("sslrootcert");
    if (file.empty()) file = env("PGSSLROOTCERT");
#ifdef _WIN32
    if (file.empty()) file = env("APPDATA") + "\\postgresql\\root.crt";
#else
    if (file.empty()) file = homeFolder() + "/.postgresql/root.crt";
#endif
    return file;
}

std::optional<ServerAddress> parseServerUrl(const std::string& given, std::string* why, ServerReason* reason) {
    const auto refuse = [why, reason](StringProblem problem, const std::string& what,
                                      const std::string& detail = {}) -> std::optional<ServerAddress> {
        if (why) *why = what;
        if (reason) *reason = {ServerProblem::BadString, problem, detail, {}};
        return std::nullopt;
    };
    const std::size_t from = given.find_first_not_of(" \t\r\n");
    const std::string text =
        from == std::string::npos ? "" : given.substr(from, given.find_last_not_of(" \t\r\n") + 1 - from);
    if (text.empty()) return refuse(StringProblem::Empty, "no server given");
    if (text.size() > kMaxServerString)
        return refuse(StringProblem::TooLong, "the server's string is longer than 4,000 characters");
    char* error = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(text.c_str(), &error);
    if (!parsed) {
        const std::string libpq = cleaned(error ? error : "out of memory", text);
        if (error) PQfreemem(error);
        return refuse(StringProblem::Unreadable, "the server's string: " + libpq, libpq);
    }
    ServerAddress a;
    std::string bad;
    for (const PQconninfoOption* o = parsed; o->keyword; ++o) {
        if (!o->val) continue;
        const std::string keyword = o->keyword, value = o->val;
        // Qt's driver takes its options separated by ';'.
        if (value.find(';') != std::string::npos) bad = keyword;
        (keyword == "password" || keyword == "sslpassword" ? a.secrets : a.options).emplace_back(keyword, value);
    }
    PQconninfoFree(parsed);
    if (!bad.empty())
        return refuse(StringProblem::Semicolon,
                      "the server's string: the value of " + bad + " holds a ';', which the driver cannot pass on", bad);
    // What looks like a password to the masks but not to libpq (a URI's
    // password with '/' or '@' in it) would be kept and shown as it is.
    if (a.secrets.empty() && !connectionSecrets(text).empty())
        return refuse(StringProblem::AmbiguousPassword,
                      "the server's string: its password cannot be told from the rest (write '/' as %2F and '@' as "
                      "%40, or keep the password in ~/.pgpass)");
    a.text = a.secrets.empty() ? text : joined(a.options, " ");
    a.service = serviceEntries(lookup(a.options, "service").empty() ? env("PGSERVICE") : lookup(a.options, "service"));
    return a;
}

std::optional<std::string> serverUrl() {
    const QString url = settings().value(settingsKey()).toString();
    if (url.isEmpty()) return std::nullopt;
    return url.toStdString();
}

void setServerUrl(const std::string& url) {
    // Never with a password; written only when it changes (each write is flushed to the disk).
    const auto address = parseServerUrl(url);
    const std::string kept = address ? address->url() : maskConnectionSecrets(url);
    if (serverUrl() != kept) settings().setValue(settingsKey(), q(kept));
}

bool serverDriverAvailable(std::string* why) {
    if (QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) return true;
    if (why) *why = kNoServerDriver;
    return false;
}

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
    PGconn* conn = connectionOf(db);
    return conn && PQstatus(conn) == CONNECTION_BAD;
}

int StallGuard::socketOf(const QSqlDatabase& db) {
    PGconn* conn = connectionOf(db);
    return conn ? PQsocket(conn) : -1;
}

void StallGuard::cut(int socket) {
    if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
}

void StallGuard::watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_) {
        if (cv_.wait_until(lock, deadline_, [this] { return done_; })) return;
        if (std::chrono::steady_clock::now() < deadline_) continue;
        fired_ = true;
        cut(socket_);
        return;
    }
}

ServerConnection::ServerConnection(const ServerAddress& a, const SyncLimits& limits) : address_(a), limits_(limits) {
    static std::atomic<int> counter{0};
    name_ = QStringLiteral("kelvane-company-%1").arg(++counter);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
    // Every keyword of the string goes to libpq as written. Where neither the
    // string, its service nor the environment says, every wait is bounded
    // (the connection; a network that stops carrying: unacknowledged data, or
    // silence while a reply is due), and the server is verified unless local.
    Pairs options = a.options;
    options.insert(options.end(), a.secrets.begin(), a.secrets.end());
    const auto add = [&](const std::string& keyword, const char* variable, long long value) {
        if (a.value(keyword).empty() && (!variable || env(variable).empty()))
            options.emplace_back(keyword, std::to_string(value));
    };
    const long long network = limits.networkTimeout.count();
    add("connect_timeout", "PGCONNECT_TIMEOUT", limits.connectTimeout.count());
    add("keepalives", nullptr, 1);
    add("keepalives_idle", nullptr, std::max<long long>(1, network / 3));
    add("keepalives_interval", nullptr, std::max<long long>(1, network / 6));
    add("keepalives_count", nullptr, 3);
    add("tcp_user_timeout", nullptr, network * 1000);
    if (a.value("application_name").empty() && env("PGAPPNAME").empty())
        options.emplace_back("application_name", "kelvane");
    if (lookup(a.options, "sslmode").empty()) options.emplace_back("sslmode", a.sslmode());
    db.setConnectOptions(q(joined(options, ";")));
}

ServerConnection::~ServerConnection() {
    guard_.reset();
    { QSqlDatabase::database(name_, false).close(); }
    QSqlDatabase::removeDatabase(name_);
}

bool ServerConnection::open(std::string* error, ServerReason* reason) {
    const auto failed = [&](ServerProblem problem, std::string what, std::string detail) {
        *error = std::move(what);
        *reason = {problem, StringProblem::None, std::move(detail), {}};
        return false;
    };
    const std::string mode = address_.sslmode();
    const std::string root = address_.rootCertificate();
    std::error_code missing;
    if ((mode == "verify-full" || mode == "verify-ca") && root != "system" && !std::filesystem::exists(root, missing)) {
        refused_ = true;
        return failed(ServerProblem::NoRootCertificate,
                      "the company register's server cannot be verified: there is no CA certificate " + root +
                          " (put the company's CA there, or name its file with sslrootcert=FILE in the server's string)",
                      root);
    }
    QSqlDatabase db = database();
    if (!db.open()) {
        // libpq's own words, without the driver's "QPSQL: Unable to connect".
        const QSqlError e = db.lastError();
        const std::string why =
            cleaned((e.databaseText().isEmpty() ? e.text() : e.databaseText()).trimmed().toStdString(), address_.text);
        if (why.find("session is read-only") != std::string::npos ||
            why.find("server is in hot standby mode") != std::string::npos) {
            refused_ = true;
            return failed(ServerProblem::ReadOnly,
                          "the company register's server is read-only: no host of the string takes writes (" + why + ")",
                          why);
        }
        return failed(ServerProblem::Unreachable, "cannot reach the company register: " + why, why);
    }
    if (PGconn* conn = connectionOf(db)) {
        PQsetNoticeProcessor(conn, logNotice, nullptr);
        const auto on = [conn](const char* parameter) {
            const char* v = PQparameterStatus(conn, parameter);
            return v && qstrcmp(v, "on") == 0;
        };
        if (on("in_hot_standby") || on("default_transaction_read_only")) {
            refused_ = true;
            const std::string where = std::string(PQhost(conn)) + ":" + PQport(conn);
            return failed(ServerProblem::ReadOnly,
                          "the company register's server is read-only (" + std::string(PQhost(conn)) + " port " +
                              PQport(conn) +
                              " is a standby): the laptops need the primary; list every host with "
                              "target_session_attrs=read-write",
                          where);
        }
    }
    guard_ = std::make_unique<StallGuard>(db, limits_.statementTimeout + limits_.networkTimeout);
    // The session's bounds on the server: a statement, a wait for another
    // laptop's lock, this laptop gone silent inside a transaction (its lock
    // then goes), a dead network found by the server's keepalives.
    const long long network = limits_.networkTimeout.count();
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT set_config('statement_timeout', '%1', false),"
                                   " set_config('lock_timeout', '%2', false),"
                                   " set_config('idle_in_transaction_session_timeout', '%3', false),"
                                   " set_config('tcp_keepalives_idle', '%4', false),"
                                   " set_config('tcp_keepalives_interval', '%5', false),"
                                   " set_config('tcp_keepalives_count', '3', false),"
                                   " set_config('tcp_user_timeout', '%6', false),"
                                   " set_config('client_min_messages', 'warning', false)")
                        .arg(limits_.statementTimeout.count() * 1000)
                        .arg(limits_.lockTimeout.count() * 1000)
                        .arg(limits_.idleInTransaction.count() * 1000)
                        .arg(std::max<long long>(1, network / 3))
                        .arg(std::max<long long>(1, network / 6))
                        .arg(network * 1000))) {
        const std::string why = cleaned(query.lastError().text().toStdString(), address_.text);
        *reason = {ServerProblem::ServerFault, StringProblem::None, "session", why};
        *error = "company register: " + why;
        return false;
    }
    return true;
}

bool pushLockBusy(const QSqlQuery& query) { return query.lastError().nativeErrorCode() == QLatin1String("55P03"); }

}  // namespace kelvane::registry
