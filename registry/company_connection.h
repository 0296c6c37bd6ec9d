#pragma once
// The company register's server: its address as the user gives it, the one
// this laptop keeps in the programs' settings, and the bounds on every wait
// of a connection to it.
#include <chrono>
#include <optional>
#include <string>

namespace kelvane::registry {

inline constexpr const char* kNoServerDriver = "the company register needs the PostgreSQL driver, which this build lacks";

// A server given as a libpq URL: postgresql://user@host:port/dbname (the port
// may be left out; a socket folder is given as the host, its slashes written
// %2F). The password comes from ~/.pgpass or PGPASSWORD, never the URL.
struct ServerAddress {
    std::string user;
    std::string host;  // a name, an address, or a socket folder (starting with '/')
    int port = 5432;
    std::string database;
    // localhost, 127.0.0.1, ::1 or a socket folder: no TLS asked for.
    bool local() const;
    // The URL again, in the form parseServerUrl() reads.
    std::string url() const;
};
// Nothing, with `why`, for anything but such a URL.
std::optional<ServerAddress> parseServerUrl(const std::string& url, std::string* why = nullptr);

// This laptop's server, kept in the programs' settings.
std::optional<std::string> serverUrl();
void setServerUrl(const std::string& url);

// False (with kNoServerDriver) when Qt SQL's PostgreSQL driver is missing.
bool serverDriverAvailable(std::string* why = nullptr);

struct SyncLimits {
    std::chrono::seconds connectTimeout{5};
    // A network that stops answering ends the connection within this (TCP
    // keepalives and user time-out).
    std::chrono::seconds networkTimeout{10};
    // The server's bound on one statement; a batch that waits longer than
    // this and networkTimeout together is cut off on this side.
    std::chrono::seconds statementTimeout{20};
    int batchRows = 1000;  // rows a push or pull carries in one server transaction
};

}  // namespace kelvane::registry
