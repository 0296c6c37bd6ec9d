#pragma once
// The company register: every technician's visits in one PostgreSQL database
// while each laptop keeps working from its own register file. A sync pushes
// what this laptop recorded and pulls what the others did; it is idempotent
// and resumable (killed at any moment, the next one finishes the work and
// never duplicates or loses a row), and it never deletes anything.
//
//   const auto address = registry::parseServerUrl(url, &why);
//   registry::Register reg;  reg.open(registry::Register::defaultPath());
//   const registry::SyncResult r = registry::syncNow(reg, *address, {}, &cancel);
//   if (!r.ok) log(r.error);
//
// What travels: controllers by identity; visits and saved-file records by a
// UUID made where they were recorded; images by their keyed hash as the
// sealed bytes the register file holds (the server never holds the key or a
// plain image); the building's name, address and notes per field, the newest
// edit winning and the one it replaced kept in the field history on both
// sides.
//
// Every wait is bounded: the connection by SyncLimits::connectTimeout, a
// stalled network by the TCP user time-out and keepalives, each statement by
// SyncLimits::statementTimeout; `cancel` is looked at between batches. A
// build without the PostgreSQL driver answers every call with
// kNoServerDriver.
#include "registry/building_register.h"
#include "registry/company_connection.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::registry {

struct SyncCounts {
    int controllers = 0;
    int visits = 0;
    int savedFiles = 0;
    int images = 0;
    int fieldEdits = 0;
};

struct SyncResult {
    bool ok = false;
    bool cancelled = false;
    bool unreachable = false;   // the server could not be reached, or stopped answering
    std::string error;          // why it did not finish (what went before it is kept)
    SyncCounts pushed, pulled;  // what went each way, also when it failed part-way
    std::string finishedAt;     // local time, ISO 8601 with the offset; empty unless ok
};

// What the status bar shows, read from the local register only (no network).
struct SyncState {
    bool configured = false;              // a server is set
    std::optional<std::string> lastSync;  // the last sync that finished
    int waitingVisits = 0;                // recorded here, not yet on the server
    std::string lastError;                // of the last sync, empty when it finished
    bool offline = false;                 // the last sync reached no server (else lastError is the server's refusal)
};
SyncState syncState(Register& local);

// Pushes, then pulls. Refused when the register is not open, the server's
// schema is missing or newer, or the register's images are not sealed with
// the data key (a plain image never leaves the laptop).
SyncResult syncNow(Register& local, const ServerAddress& server, const SyncLimits& limits = {},
                   const std::atomic_bool* cancel = nullptr);

struct SetupResult {
    bool ok = false;
    std::string error;
    int fromVersion = 0;  // 0: the schema was not there
    int toVersion = 0;
    std::vector<std::string> done;  // what it did, one line each
};
// Creates or migrates the server's schema; refuses a newer one.
SetupResult setupServer(const ServerAddress& server, const SyncLimits& limits = {});

}  // namespace kelvane::registry
