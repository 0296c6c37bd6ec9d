#pragma once
// The company register's server: its connection string as the user gives it,
// the one this laptop keeps in the programs' settings, and the bounds on
// every wait of a connection to it.
//
// The string is what every libpq client takes, a URI
// (postgresql://jan@db.company.example/company?sslrootcert=/etc/company-ca.crt)
// or key=value pairs (host=db1,db2 dbname=company target_session_attrs=read-write),
// read by libpq itself; every keyword goes to the connection, and what the
// string leaves out comes from libpq's environment variables and service
// file as for any client. A host that is not local is verified unless the
// string says otherwise: sslmode=verify-full against the CA of sslrootcert
// or libpq's own root file.
#include "registry/company_results.h"

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvane::registry {

inline constexpr const char* kNoServerDriver = "the company register needs the PostgreSQL driver, which this build lacks";

struct ServerAddress {
    // The keywords the string gives, as libpq read them, without a password.
    std::vector<std::pair<std::string, std::string>> options;
    // The string to keep and show: as given, or without its password.
    std::string text;
    // password and sslpassword when the string held them: this connection's
    // only, never kept or shown.
    std::vector<std::pair<std::string, std::string>> secrets;
    // What the service the string (or PGSERVICE) names gives, from its file.
    std::vector<std::pair<std::string, std::string>> service;

    // What the string gives for a keyword, else what its service file does ("": neither).
    std::string value(const std::string& keyword) const;
    // Every host is a socket folder, localhost or a loopback address (none
    // given: libpq's socket or PGHOST).
    bool local() const;
    // The sslmode libpq uses: the string's or its service's, else PGSSLMODE,
    // else verify-full for a host that is not local and prefer for a local one.
    std::string sslmode() const;
    // The connection proves who the server is (or there is nobody between):
    // local, or sslmode verify-full.
    bool verified() const;
    // The CA file verify-ca and verify-full read: sslrootcert, PGSSLROOTCERT,
    // else ~/.postgresql/root.crt (%APPDATA%\postgresql\root.crt on Windows).
    std::string rootCertificate() const;
    // The string again, as kept in the settings.
    std::string url() const { return text; }
};
// Nothing, with libpq's reason in `why` (no password in it) and in `reason`
// (ServerProblem::BadString), for a string libpq does not read or one that
// holds more than a libpq connection takes.
std::optional<ServerAddress> parseServerUrl(const std::string& text, std::string* why = nullptr,
                                            ServerReason* reason = nullptr);

// This laptop's server, kept in the programs' settings (never with a password).
std::optional<std::string> serverUrl();
void setServerUrl(const std::string& url);

// False (with kNoServerDriver) when Qt SQL's PostgreSQL driver is missing.
bool serverDriverAvailable(std::string* why = nullptr);

struct SyncLimits {
    std::chrono::seconds connectTimeout{5};
    // A network that stops answering ends the connection within this (TCP
    // keepalives and user time-out, on both sides).
    std::chrono::seconds networkTimeout{10};
    // The server's bound on one statement; a batch that waits longer than
    // this and networkTimeout together is cut off on this side.
    std::chrono::seconds statementTimeout{20};
    // The wait for another laptop's push to end, tried pushLockTries times;
    // a session of this laptop idle inside a transaction longer than
    // idleInTransaction is ended by the server (its locks go with it).
    std::chrono::seconds lockTimeout{8};
    int pushLockTries = 3;
    std::chrono::seconds idleInTransaction{15};
    int batchRows = 1000;  // rows a push or pull carries in one server transaction
};

}  // namespace kelvane::registry
