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
// plain image); the building's name, address and notes per field, the edit
// the server received last winning and the one it replaced kept in the field
// history on both sides. A laptop never pulls back what it pushed.
//
// What is pulled is checked as local input is: a field over its limit is
// refused with its row (SyncResult::skipped), a time ahead of the server's
// clock is taken as the server's, rows the company withdrew are kept but never
// used, and a pulled row never outweighs what this laptop saw itself (the
// guard, the merge base). A server gone back in time is found out and gets
// everything again.
//
// Every wait is bounded: the connection by SyncLimits::connectTimeout, a
// stalled network by the TCP user time-out and keepalives, each statement by
// SyncLimits::statementTimeout, and silence (no row, no answer) by those two
// together; `cancel` ends a wait at once. A build without the PostgreSQL
// driver answers every call with kNoServerDriver.
#include "registry/building_register.h"
#include "registry/company_connection.h"
#include "registry/company_results.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::registry {

inline constexpr int kMaxSkippedShown = 20;

struct SyncResult {
    bool ok = false;
    bool cancelled = false;
    bool unreachable = false;   // the server could not be reached, or stopped answering
    ServerReason reason;        // why it did not finish (what went before it is kept)
    std::string error;          // the same for the log, in English with its details
    SyncCounts pushed, pulled;  // what went each way, also when it failed part-way
    // Pulled rows refused (a field over its limit, an image larger than a
    // sealed one, a row whose image was refused), the first kMaxSkippedShown
    // of them, and how many more; the sync goes on without them.
    std::vector<SkippedRow> skipped;
    int skippedMore = 0;
    // Why everything was pushed and pulled again (the server had gone back
    // in time: restored, another cluster, behind this laptop's marks), and
    // the same for the log; None and empty when it was not.
    Resend resend = Resend::None;
    std::string resent;
    std::string finishedAt;  // local time, ISO 8601 with the offset; empty unless ok
};

// What the status bar shows, read from the local register only (no network).
struct SyncState {
    bool configured = false;              // a server is set
    std::optional<std::string> lastSync;  // the last sync that finished
    int waitingVisits = 0;                // recorded here, not yet on the server
    ServerReason lastReason;              // of the last sync, None when it finished
    std::string lastError;                // the same as the log has it
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
    ServerReason reason;
    std::string error;    // the same for the log
    int fromVersion = 0;  // 0: the schema was not there
    int toVersion = 0;
    std::vector<SetupDone> done;  // what it did, one step each
};
// Creates or migrates the server's schema; refuses a newer one.
SetupResult setupServer(const ServerAddress& server, const SyncLimits& limits = {});

}  // namespace kelvane::registry
