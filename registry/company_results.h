#pragma once
// What a company-register setup or sync tells its caller, as typed values:
// why it ended, what it did, which pulled rows it refused and what went each
// way. The programs word them in the user's language (texts/company_texts.h);
// the details are values (a file, a table, a version) or the server's and
// libpq's own words, never sentences of this layer. Plain C++, no Qt.
#include <cstddef>
#include <iterator>
#include <string>

namespace kelvane::registry {

// Why a setup or a sync did not finish. The comment says what `detail` (and
// `other`) of a ServerReason hold.
enum class ServerProblem {
    None,
    NoDriver,           // this build has no PostgreSQL driver
    BadString,          // the server's string cannot be used; detail: libpq's reason (see StringProblem)
    RegisterNotOpen,    // this computer's register file; detail: its reason
    RegisterTooOld,     // the register file's schema predates the company register
    RegisterFault,      // a write to the register file failed; detail: the table, other: the reason
    ImagesNotSealed,    // the register's images are not sealed with a data key; detail: why
    OtherKey,           // the server's images are sealed with another key; detail: its id, other: this computer's
    KeyChanged,         // another laptop sealed the server's images with another key during the sync
    NoRootCertificate,  // the CA file a verified server needs is missing; detail: the file
    Unreachable,        // no connection; detail: libpq's words
    ReadOnly,           // the server takes no writes (a standby); detail: its host and port, or libpq's words
    Stalled,            // the server stopped answering; detail: the seconds of silence
    Busy,               // another laptop's push held the company register
    NoSchema,           // server-setup has not been run
    SchemaNewer,        // the server's schema is newer than this program's; detail: its version
    TableMissing,       // detail: the table(s)
    ServerFault,        // a statement failed; detail: the step, other: the server's words
    Cancelled,          // what went before is kept
    Count               // not a problem: how many there are
};

// Why a string given as the server is refused (ServerProblem::BadString).
enum class StringProblem {
    None,
    Empty,              // nothing given
    TooLong,            // over kMaxServerString characters
    Unreadable,         // detail: libpq's reason
    Semicolon,          // a value holds ';', which the driver cannot pass on; detail: the keyword
    AmbiguousPassword,  // a URI password with a raw '/' or '@'
    Count
};
inline constexpr std::size_t kMaxServerString = 4000;

struct ServerReason {
    ServerProblem problem = ServerProblem::None;
    StringProblem string = StringProblem::None;  // with BadString
    std::string detail;
    std::string other;
    explicit operator bool() const { return problem != ServerProblem::None; }
};

// Code words of the problems, as --json and the register file keep them.
inline constexpr const char* kServerProblemCodes[] = {
    "",           "no-driver", "bad-string",  "register-not-open",   "register-too-old", "register-fault",
    "not-sealed", "other-key", "key-changed", "no-root-certificate", "unreachable",      "read-only",
    "stalled",    "busy",      "no-schema",   "schema-newer",        "table-missing",    "server-fault",
    "cancelled"};
static_assert(std::size(kServerProblemCodes) == static_cast<std::size_t>(ServerProblem::Count),
              "a code word for each ServerProblem");
inline const char* problemCode(ServerProblem p) { return kServerProblemCodes[static_cast<std::size_t>(p)]; }
// The problem of a code word; None for one this program does not know.
inline ServerProblem problemOfCode(const std::string& code) {
    for (std::size_t i = 1; i < std::size(kServerProblemCodes); ++i)
        if (code == kServerProblemCodes[i]) return static_cast<ServerProblem>(i);
    return ServerProblem::None;
}

// Why a sync sent and fetched everything again: the server went back in time
// (restored, another cluster), or this register did (put back from a copy).
enum class Resend {
    None,
    OtherCluster,   // another cluster or timeline now (restored or promoted)
    ChangesBehind,  // its change numbers are behind what this laptop pulled
    VisitMissing,   // a visit this laptop sent is no longer there
    RegisterOlder,  // this register is older than what this laptop sent: fetched again only
    Count
};

// What a server-setup did, one step each.
enum class SetupStep {
    Created,          // the schema, at `version`
    Migrated,         // to `version`
    TablesMadeAgain,  // `tables`; every laptop sends and fetches everything again
    NothingToDo,      // at `version` already
    Count
};
struct SetupDone {
    SetupStep step = SetupStep::NothingToDo;
    int version = 0;
    std::string tables;
};

// Why a pulled row was refused (the sync goes on without it).
enum class SkipReason {
    TooLong,        // `field` over `limit` characters
    TooLarge,       // `field` over `limit` bytes (`size`)
    NoIdentity,     // a controller's row without its identity
    BaseRefused,    // an image whose base image was refused
    ImageRefused,   // a visit's or saved file's row whose image was refused
    MissingFields,  // a row without what it must hold (a visit's kind, controller or time...)
    NeverHanded,    // rows (of any table) with a change number the server never handed out
    Count
};
struct SkippedRow {
    std::string table;  // the server's table, as named there
    SkipReason reason = SkipReason::MissingFields;
    std::string field;
    long long limit = 0;
    long long size = 0;
};

// Rows stored on the other side, by kind; `rows` counts every row that
// travelled (also those the other side had already) and `bytes` their values.
struct SyncCounts {
    int controllers = 0;
    int visits = 0;
    int savedFiles = 0;
    int images = 0;
    int fieldEdits = 0;
    int withdrawn = 0;
    long long rows = 0;
    long long bytes = 0;
};

}  // namespace kelvane::registry
