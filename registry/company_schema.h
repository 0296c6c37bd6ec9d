#pragma once
// The company register's schema on the server: its tables as one table of
// columns (what a push sends, what a pull reads and the most it takes of
// each), the steps that create and migrate it, and what a sync asks first.
#include "registry/company_sync.h"

#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <optional>
#include <vector>

namespace kelvane::registry::company {

inline constexpr int kServerSchemaVersion = 2;

// The largest image a register seals: a whole image compressed (zlib's
// worst case and the length in front) and sealed. A pulled image larger
// than this is refused unread.
inline constexpr int kMaxSealedImage = static_cast<int>(kImageSize) + 64 + static_cast<int>(kSealOverhead);

enum class Kind { Integer, Text, Bytes, Uuid };

struct ServerColumn {
    const char* name;
    Kind kind;
    int limit = 0;     // the most characters (text) or bytes a pull takes; 0: any
    int since = 1;     // the schema version that has it
    bool sent = true;  // a push sends it (the laptop's own id for `origin`)
};

struct ServerTable {
    const char* name;
    std::vector<ServerColumn> columns;
    int since = 1;
    bool hasOrigin = true;  // rows say which laptop sent them (from version 2)
};

// Every table a sync moves, in the order a pull reads them.
const std::vector<ServerTable>& serverTables();
const ServerTable& serverTable(const char* name);

// The columns a push sends at `version`, and its insert ("ON CONFLICT DO
// NOTHING"): one `?` each, in that order.
std::vector<const ServerColumn*> sentColumns(const ServerTable& t, int version);
QString insertStatement(const ServerTable& t, int version);
// A pull's select list: each bounded column read only up to one past its
// limit (a text) or not at all when larger (bytes, with its size beside it
// as NAME_size), so an oversized value never travels whole.
QString pullColumns(const ServerTable& t, int version);
// Nothing when the row keeps every limit, else the field over it.
std::optional<SkippedRow> overLimit(const ServerTable& t, int version, const QSqlQuery& row);
// The size of a value as it travels, for the counts of bytes.
long long sizeOf(const QVariant& v);

// What a sync asks first, in one round trip.
struct ServerFacts {
    int version = 0;
    QVariant dataKey;       // the key the images are sealed with (null: none yet)
    qlonglong changes = 0;  // the change sequence's last value (0: nothing yet)
    QVariant id;            // the register's own name, made at its first sync (null: none yet)
    std::string missing;    // tables of its version that are not there, ", "-separated
    // The cluster's identity: another one (a dump restored elsewhere) or a
    // new timeline (a standby promoted, a restore to a point in time); empty
    // where the server does not say.
    std::string system;
};
std::optional<ServerFacts> serverFacts(const QSqlDatabase& server);

// A new name for the register, when it still has `old`: every laptop then
// pushes and pulls everything again. The name it has afterwards.
std::optional<QString> renewRegisterId(const QSqlDatabase& server, const QString& old);

}  // namespace kelvane::registry::company
