// The company register's schema on the server: the tables (each column once,
// with what a pull takes of it), the versioned steps that make them, and the
// set-up that runs them, or makes a table that went missing again.
#include "registry/company_schema.h"

#include "registry/company_connection_sql.h"
#include "registry/register_sql.h"

#include <QSqlError>
#include <QUuid>

namespace kelvane::registry {

using namespace sql;
using namespace company;

namespace {

// Each step brings the server's schema from its index to its index + 1.
// Every statement may run again (a set-up that makes missing tables again
// runs them all).
const std::vector<std::vector<const char*>> kServerMigrations = {
    {
        "CREATE SEQUENCE IF NOT EXISTS change_seq",
        "CREATE TABLE IF NOT EXISTS settings(key text PRIMARY KEY, value text NOT NULL)",
        "CREATE TABLE IF NOT EXISTS controllers(id bigserial PRIMARY KEY, device_id integer NOT NULL,"
        " serial integer NOT NULL, first_seen text NOT NULL, last_seen text NOT NULL, firmware integer,"
        " name text NOT NULL DEFAULT '', name_at text NOT NULL DEFAULT '', name_by text NOT NULL DEFAULT '',"
        " address text NOT NULL DEFAULT '', address_at text NOT NULL DEFAULT '', address_by text NOT NULL DEFAULT '',"
        " notes text NOT NULL DEFAULT '', notes_at text NOT NULL DEFAULT '', notes_by text NOT NULL DEFAULT '',"
        " seq bigint NOT NULL DEFAULT nextval('change_seq'), UNIQUE(device_id, serial))",
        // Sealed bytes only, as the register files hold them, by keyed hash.
        "CREATE TABLE IF NOT EXISTS images(hash bytea PRIMARY KEY, data bytea NOT NULL,"
        " base bytea REFERENCES images(hash), seq bigint NOT NULL DEFAULT nextval('change_seq'))",
        "CREATE TABLE IF NOT EXISTS visits(uuid uuid PRIMARY KEY, device_id integer NOT NULL, serial integer NOT NULL,"
        " time text NOT NULL, technician text NOT NULL, port text NOT NULL, kind text NOT NULL, outcome text NOT NULL,"
        " firmware integer, image bytea REFERENCES images(hash), changes integer, source text NOT NULL,"
        " seq bigint NOT NULL DEFAULT nextval('change_seq'))",
        "CREATE TABLE IF NOT EXISTS saved_files(uuid uuid PRIMARY KEY, path text NOT NULL, time text NOT NULL,"
        " image bytea NOT NULL REFERENCES images(hash), device_id integer, serial integer,"
        " base bytea REFERENCES images(hash), seq bigint NOT NULL DEFAULT nextval('change_seq'))",
        "CREATE TABLE IF NOT EXISTS field_history(id bigserial PRIMARY KEY, device_id integer NOT NULL,"
        " serial integer NOT NULL, field text NOT NULL, value text NOT NULL, edited_at text NOT NULL,"
        " edited_by text NOT NULL, replaced_at text NOT NULL, seq bigint NOT NULL DEFAULT nextval('change_seq'),"
        " UNIQUE(device_id, serial, field, value, edited_at, edited_by))",
        "CREATE INDEX IF NOT EXISTS controllers_by_seq ON controllers(seq)",
        "CREATE INDEX IF NOT EXISTS images_by_seq ON images(seq)",
        "CREATE INDEX IF NOT EXISTS visits_by_seq ON visits(seq)",
        "CREATE INDEX IF NOT EXISTS visits_by_controller ON visits(device_id, serial, time)",
        "CREATE INDEX IF NOT EXISTS saved_files_by_seq ON saved_files(seq)",
        "CREATE INDEX IF NOT EXISTS saved_files_by_image ON saved_files(image)",
        "CREATE INDEX IF NOT EXISTS field_history_by_seq ON field_history(seq)",
    },
    {
        // The laptop that sent a row (it never pulls it back), and the
        // company's withdrawals of visits and saved files: rows appended,
        // never a row deleted.
        "ALTER TABLE images ADD COLUMN IF NOT EXISTS origin text",
        "ALTER TABLE visits ADD COLUMN IF NOT EXISTS origin text",
        "ALTER TABLE saved_files ADD COLUMN IF NOT EXISTS origin text",
        "ALTER TABLE field_history ADD COLUMN IF NOT EXISTS origin text",
        "CREATE TABLE IF NOT EXISTS withdrawn(uuid uuid PRIMARY KEY, reason text NOT NULL DEFAULT '',"
        " withdrawn_at timestamptz NOT NULL DEFAULT now(), origin text,"
        " seq bigint NOT NULL DEFAULT nextval('change_seq'))",
        "CREATE INDEX IF NOT EXISTS withdrawn_by_seq ON withdrawn(seq)",
    },
};

// What the server keeps beside the tables a sync moves.
const char* const kOtherTables[] = {"schema_version", "settings", "change_seq"};

constexpr int kTime = 40;     // ISO 8601 with milliseconds and an offset
constexpr int kPerson = 200;  // a technician, a login
constexpr int kHash = 64;     // a keyed hash
constexpr int kPath = 4096;   // a file's path

const std::vector<ServerTable> kTables = {
    {"controllers",
     {{"device_id", Kind::Integer},
      {"serial", Kind::Integer},
      {"first_seen", Kind::Text, kTime},
      {"last_seen", Kind::Text, kTime},
      {"firmware", Kind::Integer},
      {"name", Kind::Text, Register::kMaxNameLength},
      {"name_at", Kind::Text, kTime},
      {"name_by", Kind::Text, kPerson},
      {"address", Kind::Text, Register::kMaxAddressLength},
      {"address_at", Kind::Text, kTime},
      {"address_by", Kind::Text, kPerson},
      {"notes", Kind::Text, Register::kMaxNotesLength},
      {"notes_at", Kind::Text, kTime},
      {"notes_by", Kind::Text, kPerson}},
     1,
     false},
    {"images",
     {{"hash", Kind::Bytes, kHash},
      {"data", Kind::Bytes, kMaxSealedImage},
      {"base", Kind::Bytes, kHash},
      {"origin", Kind::Text, 0, 2}}},
    {"visits",
     {{"uuid", Kind::Uuid},
      {"device_id", Kind::Integer},
      {"serial", Kind::Integer},
      {"time", Kind::Text, kTime},
      {"technician", Kind::Text, kPerson},
      {"port", Kind::Text, kPath},
      {"kind", Kind::Text, 20},
      {"outcome", Kind::Text, kPerson},
      {"firmware", Kind::Integer},
      {"image", Kind::Bytes, kHash},
      {"changes", Kind::Integer},
      {"source", Kind::Text, kPath},
      {"origin", Kind::Text, 0, 2}}},
    {"saved_files",
     {{"uuid", Kind::Uuid},
      {"path", Kind::Text, kPath},
      {"time", Kind::Text, kTime},
      {"image", Kind::Bytes, kHash},
      {"device_id", Kind::Integer},
      {"serial", Kind::Integer},
      {"base", Kind::Bytes, kHash},
      {"origin", Kind::Text, 0, 2}}},
    {"field_history",
     {{"device_id", Kind::Integer},
      {"serial", Kind::Integer},
      {"field", Kind::Text, 10},
      {"value", Kind::Text, Register::kMaxNotesLength},
      {"edited_at", Kind::Text, kTime},
      {"edited_by", Kind::Text, kPerson},
      {"replaced_at", Kind::Text, kTime},
      {"origin", Kind::Text, 0, 2}}},
    {"withdrawn", {{"uuid", Kind::Uuid}, {"reason", Kind::Text, 500}, {"origin", Kind::Text, 0, 2}}, 2},
};

bool isOrigin(const ServerColumn& c) { return qstrcmp(c.name, "origin") == 0; }

}  // namespace

namespace company {

const std::vector<ServerTable>& serverTables() { return kTables; }

const ServerTable& serverTable(const char* name) {
    for (const auto& t : kTables)
        if (qstrcmp(t.name, name) == 0) return t;
    return kTables.front();
}

std::vector<const ServerColumn*> sentColumns(const ServerTable& t, int version) {
    std::vector<const ServerColumn*> out;
    for (const auto& c : t.columns)
        if (c.sent && c.since <= version) out.push_back(&c);
    return out;
}

QString insertStatement(const ServerTable& t, int version) {
    QStringList names, marks;
    for (const ServerColumn* c : sentColumns(t, version)) {
        names << QLatin1String(c->name);
        marks << (c->kind == Kind::Uuid ? QStringLiteral("?::uuid") : QStringLiteral("?"));
    }
    return QStringLiteral("INSERT INTO %1(%2) VALUES(%3) ON CONFLICT DO NOTHING")
        .arg(QLatin1String(t.name), names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
}

QString pullColumns(const ServerTable& t, int version) {
    QStringList out;
    for (const auto& c : t.columns) {
        if (c.since > version || isOrigin(c)) continue;
        const QString n = QLatin1String(c.name);
        if (c.kind == Kind::Uuid)
            out << QStringLiteral("%1::text AS %1").arg(n);
        else if (c.kind == Kind::Text && c.limit > 0)
            out << QStringLiteral("left(%1, %2) AS %1").arg(n).arg(c.limit + 1);
        else if (c.kind == Kind::Bytes && c.limit > 0)
            out << QStringLiteral("CASE WHEN octet_length(%1) <= %2 THEN %1 END AS %1, octet_length(%1) AS %1_size")
                       .arg(n)
                       .arg(c.limit);
        else
            out << n;
    }
    return out.join(QStringLiteral(", "));
}

std::optional<SkippedRow> overLimit(const ServerTable& t, int version, const QSqlQuery& row) {
    for (const auto& c : t.columns) {
        if (c.since > version || isOrigin(c) || c.limit == 0) continue;
        const QString n = QLatin1String(c.name);
        const long long size = c.kind == Kind::Bytes ? row.value(n + QStringLiteral("_size")).toLongLong()
                                                     : row.value(n).toString().toUcs4().size();
        if (size > c.limit)
            return SkippedRow{t.name, c.kind == Kind::Bytes ? SkipReason::TooLarge : SkipReason::TooLong, c.name,
                              c.limit, size};
    }
    return std::nullopt;
}

long long sizeOf(const QVariant& v) {
    if (v.isNull()) return 0;
    switch (v.typeId()) {
    case QMetaType::QByteArray: return v.toByteArray().size();
    case QMetaType::QString: return v.toString().toUtf8().size();
    default: return 8;
    }
}

std::optional<ServerFacts> serverFacts(const QSqlDatabase& server) {
    QSqlQuery query(server);
    QStringList all;
    for (const char* t : kOtherTables) all << QStringLiteral("('%1', 1)").arg(QLatin1String(t));
    for (const auto& t : kTables) all << QStringLiteral("('%1', %2)").arg(QLatin1String(t.name)).arg(t.since);
    // Which tables are there, and the cluster's identity where this role may
    // read it; then the rest in one more question.
    if (!query.exec(QStringLiteral("SELECT (SELECT string_agg(t || ':' || since, ',') FROM (VALUES %1) AS w(t, since)"
                                   "  WHERE to_regclass(t) IS NULL) AS missing,"
                                   " CASE WHEN has_function_privilege('pg_control_system()', 'EXECUTE')"
                                   "  AND has_function_privilege('pg_control_checkpoint()', 'EXECUTE')"
                                   "  THEN (SELECT system_identifier::text FROM pg_control_system()) || ' timeline ' ||"
                                   "   (SELECT timeline_id::text FROM pg_control_checkpoint()) END AS system")
                        .arg(all.join(QStringLiteral(", ")))) ||
        !query.next()) {
        return std::nullopt;
    }
    ServerFacts f;
    f.system = s(query.value("system"));
    QStringList missing = query.value("missing").toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (missing.contains(QStringLiteral("schema_version:1"))) return f;  // no schema yet
    if (!query.exec(QStringLiteral("SELECT coalesce(max(version), 0) AS version FROM schema_version")) || !query.next()) {
        return std::nullopt;
    }
    f.version = query.value("version").toInt();
    QStringList names;
    for (const QString& m : missing)
        if (m.section(QLatin1Char(':'), 1).toInt() <= f.version) names << m.section(QLatin1Char(':'), 0, 0);
    f.missing = names.join(QStringLiteral(", ")).toStdString();
    if (f.version == 0 || !f.missing.empty() || f.version > kServerSchemaVersion) return f;
    if (!query.exec(QStringLiteral("SELECT (SELECT value FROM settings WHERE key = 'data key') AS data_key,"
                                   " (SELECT CASE WHEN is_called THEN last_value ELSE 0 END FROM change_seq) AS changes,"
                                   " (SELECT value FROM settings WHERE key = 'register id') AS register_id")) ||
        !query.next())
        return std::nullopt;
    f.dataKey = query.value("data_key");
    f.changes = query.value("changes").toLongLong();
    f.id = query.value("register_id");
    return f;
}

std::optional<QString> renewRegisterId(const QSqlDatabase& server, const QString& old) {
    QSqlQuery query(server);
    query.prepare(QStringLiteral("UPDATE settings SET value = ? WHERE key = 'register id' AND value = ?"));
    query.addBindValue(QUuid::createUuid().toString(QUuid::WithoutBraces));
    query.addBindValue(old);
    if (!query.exec()) return std::nullopt;
    // Another laptop may have renewed it meanwhile: the name it has now.
    if (!query.exec(QStringLiteral("SELECT value FROM settings WHERE key = 'register id'")) || !query.next())
        return std::nullopt;
    return query.value("value").toString();
}

}  // namespace company

SetupResult setupServer(const ServerAddress& address, const SyncLimits& limits) {
    SetupResult r;
    if (!serverDriverAvailable(&r.error)) {
        r.reason.problem = ServerProblem::NoDriver;
        return r;
    }
    ServerConnection server(address, limits);
    if (!server.open(&r.error, &r.reason)) return r;
    QSqlDatabase db = server.database();
    QSqlQuery query(db);
    const auto failedWith = [&](const std::string& what, const std::string& why) {
        r.reason = {ServerProblem::ServerFault, StringProblem::None, what, why};
        r.error = "company register: " + what + ": " + why;
        db.rollback();
        return r;
    };
    const auto failed = [&](const std::string& what) { return failedWith(what, query.lastError().text().toStdString()); };
    if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version(version integer NOT NULL,"
                                   " done text NOT NULL DEFAULT now()::text)")))
        return failed("schema");
    // One set-up at a time: the version is read and raised under the lock.
    if (!db.transaction()) return failed("schema");
    if (!query.exec(QStringLiteral("LOCK TABLE schema_version IN EXCLUSIVE MODE"))) return failed("schema");
    const auto facts = serverFacts(db);
    if (!facts) return failedWith("schema", db.lastError().text().toStdString());
    const int version = facts->version;
    r.fromVersion = r.toVersion = version;
    if (version > kServerSchemaVersion) {
        db.rollback();
        r.reason = {ServerProblem::SchemaNewer, StringProblem::None, std::to_string(version), {}};
        r.error = "the company register's schema (version " + std::to_string(version) +
                  ") is newer than this program's (" + std::to_string(kServerSchemaVersion) + ")";
        return r;
    }
    // Tables of its version that went missing are made again, by every step
    // up to it; their rows are gone from the server, so the register takes a
    // new name and every laptop sends what it has again.
    const int from = facts->missing.empty() ? version : 0;
    for (int step = from; step < kServerSchemaVersion; ++step) {
        for (const char* statement : kServerMigrations[static_cast<std::size_t>(step)])
            if (!query.exec(QString::fromLatin1(statement))) return failed("schema " + std::to_string(step + 1));
        if (step < version) continue;
        if (!query.exec(QStringLiteral("INSERT INTO schema_version(version) VALUES(%1)").arg(step + 1)))
            return failed("schema");
        r.done.push_back({step == 0 ? SetupStep::Created : SetupStep::Migrated, step + 1, {}});
    }
    if (!facts->missing.empty()) {
        if (!query.exec(QStringLiteral("DELETE FROM settings WHERE key = 'register id'"))) return failed("schema");
        r.done.push_back({SetupStep::TablesMadeAgain, kServerSchemaVersion, facts->missing});
    }
    if (!db.commit()) return failed("schema");
    r.toVersion = kServerSchemaVersion;
    if (r.done.empty()) r.done.push_back({SetupStep::NothingToDo, kServerSchemaVersion, {}});
    r.ok = true;
    return r;
}

}  // namespace kelvane::registry
