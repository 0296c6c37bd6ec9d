// The company register's sync over Qt SQL's PostgreSQL driver. Each push or
// pull step carries at most SyncLimits::batchRows rows in one server
// transaction, and what it did is marked in the register file in one local
// transaction afterwards: a sync stopped between the two repeats the step,
// which the server and the register both take as already done (rows are
// keyed by identity, UUID or hash, and inserted only when missing).
//
// Pushes take one advisory lock on the server, so the change sequence grows
// in the order pushes commit; a pull reads every table in one snapshot, so
// what it has read up to stays read.
#include "registry/company_sync.h"

#include "registry/company_connection_sql.h"
#include "registry/register_sql.h"

#include <QDateTime>
#include <QSqlError>

#include <tuple>

namespace kelvane::registry {

using namespace sql;

namespace {

constexpr int kServerSchemaVersion = 1;
constexpr qlonglong kPushLock = 0x4B56524547;  // any number every laptop uses

// Each step brings the server's schema from its index to its index + 1.
const std::vector<std::vector<const char*>> kServerMigrations = {
    {
        "CREATE SEQUENCE change_seq",
        "CREATE TABLE settings(key text PRIMARY KEY, value text NOT NULL)",
        "CREATE TABLE controllers(id bigserial PRIMARY KEY, device_id integer NOT NULL, serial integer NOT NULL,"
        " first_seen text NOT NULL, last_seen text NOT NULL, firmware integer,"
        " name text NOT NULL DEFAULT '', name_at text NOT NULL DEFAULT '', name_by text NOT NULL DEFAULT '',"
        " address text NOT NULL DEFAULT '', address_at text NOT NULL DEFAULT '', address_by text NOT NULL DEFAULT '',"
        " notes text NOT NULL DEFAULT '', notes_at text NOT NULL DEFAULT '', notes_by text NOT NULL DEFAULT '',"
        " seq bigint NOT NULL DEFAULT nextval('change_seq'), UNIQUE(device_id, serial))",
        // Sealed bytes only, as the register files hold them, by keyed hash.
        "CREATE TABLE images(hash bytea PRIMARY KEY, data bytea NOT NULL, base bytea REFERENCES images(hash),"
        " seq bigint NOT NULL DEFAULT nextval('change_seq'))",
        "CREATE TABLE visits(uuid uuid PRIMARY KEY, device_id integer NOT NULL, serial integer NOT NULL,"
        " time text NOT NULL, technician text NOT NULL, port text NOT NULL, kind text NOT NULL, outcome text NOT NULL,"
        " firmware integer, image bytea REFERENCES images(hash), changes integer, source text NOT NULL,"
        " seq bigint NOT NULL DEFAULT nextval('change_seq'))",
        "CREATE TABLE saved_files(uuid uuid PRIMARY KEY, path text NOT NULL, time text NOT NULL,"
        " image bytea NOT NULL REFERENCES images(hash), device_id integer, serial integer,"
        " base bytea REFERENCES images(hash), seq bigint NOT NULL DEFAULT nextval('change_seq'))",
        "CREATE TABLE field_history(id bigserial PRIMARY KEY, device_id integer NOT NULL, serial integer NOT NULL,"
        " field text NOT NULL, value text NOT NULL, edited_at text NOT NULL, edited_by text NOT NULL,"
        " replaced_at text NOT NULL, seq bigint NOT NULL DEFAULT nextval('change_seq'),"
        " UNIQUE(device_id, serial, field, value, edited_at, edited_by))",
        "CREATE INDEX controllers_by_seq ON controllers(seq)",
        "CREATE INDEX images_by_seq ON images(seq)",
        "CREATE INDEX visits_by_seq ON visits(seq)",
        "CREATE INDEX visits_by_controller ON visits(device_id, serial, time)",
        "CREATE INDEX saved_files_by_seq ON saved_files(seq)",
        "CREATE INDEX saved_files_by_image ON saved_files(image)",
        "CREATE INDEX field_history_by_seq ON field_history(seq)",
    },
};

const char* const kFields[] = {"name", "address", "notes"};

// What a sync asks first, in one round trip: the schema's version, the key
// the images are sealed with (null: none yet) and the change sequence's last
// value (0: nothing recorded yet).
struct ServerFacts {
    int version = 0;
    QVariant dataKey;
    qlonglong changes = 0;
    QVariant id;  // the register's own name, made at its first sync (null: none yet)
};
std::optional<ServerFacts> serverFacts(QSqlQuery& query) {
    if (!query.exec(QStringLiteral("SELECT (SELECT coalesce(max(version), 0) FROM schema_version) AS version,"
                                   " (SELECT value FROM settings WHERE key = 'data key') AS data_key,"
                                   " (SELECT CASE WHEN is_called THEN last_value ELSE 0 END FROM change_seq) AS changes,"
                                   " (SELECT value FROM settings WHERE key = 'register id') AS register_id")) ||
        !query.next())
        return std::nullopt;
    return ServerFacts{query.value("version").toInt(), query.value("data_key"), query.value("changes").toLongLong(),
                       query.value("register_id")};
}

// The server's schema version: 0 when there is none yet.
std::optional<int> serverVersion(QSqlQuery& query) {
    if (!query.exec(QStringLiteral("SELECT coalesce(max(version), 0) AS version FROM schema_version")) || !query.next())
        return std::nullopt;
    return query.value("version").toInt();
}

}  // namespace

SetupResult setupServer(const ServerAddress& address, const SyncLimits& limits) {
    SetupResult r;
    if (!serverDriverAvailable(&r.error)) return r;
    ServerConnection server(address, limits);
    if (!server.open(&r.error)) return r;
    QSqlDatabase db = server.database();
    QSqlQuery query(db);
    const auto failed = [&](const std::string& what) {
        r.error = "company register: " + what + ": " + query.lastError().text().toStdString();
        db.rollback();
        return r;
    };
    if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version(version integer NOT NULL,"
                                   " done text NOT NULL DEFAULT now()::text)")))
        return failed("schema");
    // One set-up at a time: the version is read and raised under the lock.
    if (!db.transaction()) return failed("schema");
    if (!query.exec(QStringLiteral("LOCK TABLE schema_version IN EXCLUSIVE MODE"))) return failed("schema");
    const auto version = serverVersion(query);
    if (!version) return failed("schema");
    r.fromVersion = r.toVersion = *version;
    if (*version > kServerSchemaVersion) {
        db.rollback();
        r.error = "the company register's schema (version " + std::to_string(*version) +
                  ") is newer than this program's (" + std::to_string(kServerSchemaVersion) + ")";
        return r;
    }
    for (int step = *version; step < kServerSchemaVersion; ++step) {
        for (const char* statement : kServerMigrations[static_cast<std::size_t>(step)])
            if (!query.exec(QString::fromLatin1(statement))) return failed("schema " + std::to_string(step + 1));
        if (!query.exec(QStringLiteral("INSERT INTO schema_version(version) VALUES(%1)").arg(step + 1)))
            return failed("schema");
        r.done.push_back(step == 0 ? "created the company register's schema (version 1)"
                                   : "migrated the schema to version " + std::to_string(step + 1));
    }
    if (!db.commit()) return failed("schema");
    r.toVersion = kServerSchemaVersion;
    if (r.done.empty())
        r.done.push_back("the schema is at version " + std::to_string(kServerSchemaVersion) + ": nothing to do");
    r.ok = true;
    return r;
}

// One sync of one register with one server.
class CompanySync {
public:
    CompanySync(Register& reg, QSqlDatabase server, const SyncLimits& limits, const std::atomic_bool* cancel,
                SyncResult* result, StallGuard* guard)
        : reg_(reg), server_(std::move(server)), limits_(limits), cancel_(cancel), r_(*result), guard_(*guard) {}

    // The outcome of a sync, kept in the register for syncState().
    static void note(Register& reg, const SyncResult& r) {
        if (!reg.isOpen()) return;
        QSqlQuery query = reg.query();
        // One write: the error, whether the server was reached, and the time
        // when it finished.
        query.prepare(r.ok ? QStringLiteral("INSERT OR REPLACE INTO settings(key, value) VALUES('company error', ?),"
                                            " ('company offline', ?), ('company synced', ?)")
                           : QStringLiteral("INSERT OR REPLACE INTO settings(key, value) VALUES('company error', ?),"
                                            " ('company offline', ?)"));
        query.addBindValue(q(r.error));
        query.addBindValue(r.unreachable ? QStringLiteral("1") : QStringLiteral("0"));
        if (r.ok) query.addBindValue(q(r.finishedAt));
        query.exec();
    }
    static void state(Register& reg, SyncState* s) {
        if (!reg.isOpen()) return;
        QSqlQuery query = reg.query();
        if (query.exec(QStringLiteral(
                "SELECT key, value FROM settings WHERE key IN ('company synced', 'company error', 'company offline')")))
            while (query.next()) {
                const QString key = query.value("key").toString();
                if (key == QLatin1String("company synced"))
                    s->lastSync = sql::s(query.value("value"));
                else if (key == QLatin1String("company error"))
                    s->lastError = sql::s(query.value("value"));
                else
                    s->offline = query.value("value").toString() == QLatin1String("1");
            }
        if (query.exec(QStringLiteral("SELECT count(*) AS waiting FROM visits WHERE pushed = 0")) && query.next())
            s->waitingVisits = query.value("waiting").toInt();
    }

    // `facts` as the server told them before: the key its images are sealed
    // with, its change sequence's last value, its name.
    bool run(const ServerFacts& facts) {
        if (!checkKey(facts.dataKey) || !sameServer(facts.id)) return false;
        const qlonglong changes = facts.changes;
        if (pending())
            for (const auto step : {&CompanySync::pushControllers, &CompanySync::pushImages, &CompanySync::pushVisits,
                                    &CompanySync::pushSavedFiles, &CompanySync::pushHistory})
                if (!repeat(step)) return false;
        // Nothing handed a change number since the last whole pull, and
        // nothing pushed now: nothing new to pull.
        if (!pushedAny() && changes == pulledThrough()) return true;
        return pull();
    }

private:
    using Step = bool (CompanySync::*)(bool* more);

    // Between batches: the stall bound starts again, and a cancel ends here.
    bool cancelled() {
        guard_.arm();
        if (!cancel_ || !*cancel_) return false;
        r_.cancelled = true;
        return fail("cancelled; what went before is kept");
    }
    bool fail(const std::string& what) {
        if (r_.error.empty()) r_.error = what;
        return false;
    }
    bool serverFail(const std::string& what, const QSqlQuery& query) {
        if (guard_.fired() || StallGuard::lost(server_)) r_.unreachable = true;
        if (guard_.fired())
            return fail("the company register stopped answering (nothing for " +
                        std::to_string(guard_.limit().count()) + " s); what went before is kept");
        server_.rollback();
        return fail("company register: " + what + ": " + query.lastError().text().toStdString());
    }
    bool localFail(const std::string& what) { return fail("register: " + what + ": " + reg_.error()); }
    // A step until it has nothing more to do; the cancel flag between batches.
    bool repeat(Step step) {
        for (bool more = true; more;) {
            if (cancelled() || !(this->*step)(&more)) return false;
        }
        return true;
    }
    QSqlQuery local() { return reg_.query(); }
    QSqlQuery remote() {
        QSqlQuery query(server_);
        query.setForwardOnly(true);
        return query;
    }
    // Another laptop's push holds the lock: waited for a few times, then the
    // sync ends saying so (the next one tries again).
    bool beginPush(QSqlQuery& query) {
        for (int tried = 1;; ++tried) {
            if (!server_.transaction()) return serverFail("begin", query);
            if (query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kPushLock))) return true;
            if (!pushLockBusy(query)) return serverFail("lock", query);
            server_.rollback();
            if (tried >= limits_.pushLockTries)
                return fail(std::string(kServerBusy) + ", trying again at the next sync");
            guard_.arm();
        }
    }
    bool commitServer(QSqlQuery& query) { return server_.commit() || serverFail("commit", query); }

    // The images travel sealed: every laptop must seal with the one key the
    // server's images are sealed with.
    bool checkKey(QVariant serverKey) {
        if (!reg_.open_) return fail(reg_.error_.empty() ? "the register is not open" : reg_.error_);
        if (!reg_.imagesNote_.empty() || !reg_.key_ || !reg_.sealed_)
            return fail("the register's images are not sealed with this computer's key (" + reg_.imagesNote_ + ")");
        const QString id = q(reg_.key_->id());
        if (serverKey.isNull()) {
            // The first laptop's key becomes the company's.
            QSqlQuery query = remote();
            if (!query.exec(QStringLiteral("INSERT INTO settings(key, value) VALUES('data key', '%1')"
                                           " ON CONFLICT DO NOTHING")
                                .arg(id)) ||
                !query.exec(QStringLiteral("SELECT value FROM settings WHERE key = 'data key'")) || !query.next())
                return serverFail("key", query);
            serverKey = query.value("value");
        }
        if (serverKey.toString() != id)
            return fail("the company register's images are sealed with another key (" +
                        serverKey.toString().left(8).toStdString() + "…, this computer's is " +
                        id.left(8).toStdString() + "…): import the company's key first (kvtool key import)");
        return true;
    }

    // What this register marked pushed and pulled holds for one server: at
    // the first sync with another one (set up anew, or another company's)
    // everything is pushed and pulled again. A register that synced before
    // the server had a name takes the name it now has.
    bool sameServer(QVariant id) {
        if (id.isNull()) {
            QSqlQuery query = remote();
            if (!query.exec(QStringLiteral("INSERT INTO settings(key, value) VALUES('register id', gen_random_uuid()::text)"
                                           " ON CONFLICT DO NOTHING")) ||
                !query.exec(QStringLiteral("SELECT value FROM settings WHERE key = 'register id'")) || !query.next())
                return serverFail("register id", query);
            id = query.value("value");
        }
        QSqlQuery query = local();
        if (!query.exec(QStringLiteral("SELECT value FROM settings WHERE key = 'company register id'")))
            return localFail("settings");
        const bool known = query.next();
        if (known && query.value("value").toString() == id.toString()) return true;
        query.finish();
        Transaction transaction(reg_.database());
        if (!transaction.begun()) return fail("register locked");
        for (const char* sql :
             {"UPDATE visits SET pushed = 0 WHERE pushed <> 0", "UPDATE images SET pushed = 0 WHERE pushed <> 0",
              "UPDATE saved_files SET pushed = 0 WHERE pushed <> 0", "UPDATE field_history SET pushed = 0 WHERE pushed <> 0",
              "UPDATE controllers SET changed = 1 WHERE changed = 0", "DELETE FROM settings WHERE key LIKE 'pulled %'"})
            if (known && !reg_.exec(query, QString::fromLatin1(sql), "settings")) return localFail("settings");
        query.prepare(QStringLiteral("INSERT OR REPLACE INTO settings(key, value) VALUES('company register id', ?)"));
        query.addBindValue(id.toString());
        if (!reg_.exec(query, "settings")) return localFail("settings");
        return transaction.commit() || localFail("settings");
    }

    // Anything recorded here that the server has not had yet.
    bool pending() {
        QSqlQuery query = local();
        return !query.exec(QStringLiteral(
                   "SELECT EXISTS(SELECT 1 FROM controllers WHERE changed > 0)"
                   " OR EXISTS(SELECT 1 FROM images WHERE pushed = 0) OR EXISTS(SELECT 1 FROM visits WHERE pushed = 0)"
                   " OR EXISTS(SELECT 1 FROM saved_files WHERE pushed = 0)"
                   " OR EXISTS(SELECT 1 FROM field_history WHERE pushed = 0) AS pending")) ||
               !query.next() || query.value("pending").toInt() != 0;
    }
    bool pushedAny() const {
        const SyncCounts& p = r_.pushed;
        return p.controllers + p.images + p.visits + p.savedFiles + p.fieldEdits > 0;
    }
    // The server's change number every row up to which has been pulled: its
    // rows' highest when the last pull read them all (-1: not known).
    qlonglong pulledThrough() {
        QSqlQuery query = local();
        if (query.exec(QStringLiteral("SELECT value FROM settings WHERE key = 'pulled through'")) && query.next())
            return query.value("value").toLongLong();
        return -1;
    }

    bool pushControllers(bool* more) {
        QSqlQuery rows = local();
        rows.prepare(
            QStringLiteral("SELECT id, device_id, serial, first_seen, last_seen, firmware, changed, name, name_at,"
                           " name_by, address, address_at, address_by, notes, notes_at, notes_by"
                           " FROM controllers WHERE changed > 0 ORDER BY id LIMIT ?"));
        rows.addBindValue(limits_.batchRows);
        if (!reg_.exec(rows, "controllers")) return localFail("controllers");
        struct Pushed {
            qlonglong id, changed;
        };
        std::vector<Pushed> done;
        *more = false;
        if (!rows.next()) return true;  // nothing to push: no server transaction
        QSqlQuery query = remote();
        if (!beginPush(query)) return false;
        do {
            query.prepare(QStringLiteral(
                "INSERT INTO controllers(device_id, serial, first_seen, last_seen, firmware) VALUES(?, ?, ?, ?, ?)"
                " ON CONFLICT(device_id, serial) DO UPDATE SET first_seen = least(controllers.first_seen,"
                " excluded.first_seen), last_seen = greatest(controllers.last_seen, excluded.last_seen),"
                " firmware = CASE WHEN excluded.last_seen >= controllers.last_seen"
                " THEN coalesce(excluded.firmware, controllers.firmware) ELSE controllers.firmware END,"
                " seq = nextval('change_seq')"
                " RETURNING name, name_at, name_by, address, address_at, address_by, notes, notes_at, notes_by"));
            for (const char* c : {"device_id", "serial", "first_seen", "last_seen", "firmware"})
                query.addBindValue(rows.value(c));
            if (!query.exec() || !query.next()) return serverFail("controllers", query);
            for (const char* field : kFields)
                if (!pushField(rows, query, field)) return false;
            done.push_back({rows.value("id").toLongLong(), rows.value("changed").toLongLong()});
        } while (rows.next());
        rows.finish();
        *more = static_cast<int>(done.size()) == limits_.batchRows;
        if (!commitServer(query)) return false;
        Transaction transaction(reg_.database());
        QSqlQuery mark = local();
        mark.prepare(QStringLiteral("UPDATE controllers SET changed = 0 WHERE id = ? AND changed = ?"));
        for (const auto& p : done) {
            mark.addBindValue(p.id);
            mark.addBindValue(p.changed);
            if (!reg_.exec(mark, "controllers")) return localFail("controllers");
        }
        r_.pushed.controllers += static_cast<int>(done.size());
        return transaction.commit() || localFail("controllers");
    }

    // The newest edit of a field wins on the server; the one it replaced, or
    // the one that lost, goes to the server's history.
    bool pushField(const QSqlQuery& mine, const QSqlQuery& theirs, const char* field) {
        const QString f = QString::fromLatin1(field);
        const auto at = [&](const QSqlQuery& row) {
            return std::make_tuple(row.value(f + QStringLiteral("_at")).toString(),
                                   row.value(f + QStringLiteral("_by")).toString(), row.value(f).toString());
        };
        const auto local = at(mine);
        const auto server = at(theirs);
        if (std::get<2>(local) == std::get<2>(server)) return true;
        const bool localWins = local > server;
        const auto& replaced = localWins ? server : local;
        QSqlQuery query = remote();
        if (!std::get<2>(replaced).isEmpty() || !std::get<0>(replaced).isEmpty()) {
            query.prepare(QStringLiteral(
                "INSERT INTO field_history(device_id, serial, field, value, edited_at, edited_by, replaced_at)"
                " VALUES(?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING"));
            query.addBindValue(mine.value("device_id"));
            query.addBindValue(mine.value("serial"));
            query.addBindValue(f);
            query.addBindValue(std::get<2>(replaced));
            query.addBindValue(std::get<0>(replaced));
            query.addBindValue(std::get<1>(replaced));
            query.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
            if (!query.exec()) return serverFail("field history", query);
            ++r_.pushed.fieldEdits;
        }
        if (!localWins) return true;
        query.prepare(
            QStringLiteral("UPDATE controllers SET %1 = ?, %1_at = ?, %1_by = ? WHERE device_id = ? AND serial = ?").arg(f));
        query.addBindValue(std::get<2>(local));
        query.addBindValue(std::get<0>(local));
        query.addBindValue(std::get<1>(local));
        query.addBindValue(mine.value("device_id"));
        query.addBindValue(mine.value("serial"));
        return query.exec() || serverFail("controllers", query);
    }

    // Rows of a local table not yet on the server: sent in one server
    // transaction, then marked pushed in one local transaction.
    bool pushRows(const QString& select, const QString& insert, const std::vector<const char*>& columns,
                  const QString& table, int* count, bool* more) {
        QSqlQuery rows = local();
        rows.prepare(select);
        rows.addBindValue(limits_.batchRows);
        if (!reg_.exec(rows, table.toStdString())) return localFail(table.toStdString());
        std::vector<qlonglong> done;
        *more = false;
        if (!rows.next()) return true;  // nothing to push: no server transaction
        QSqlQuery query = remote();
        if (!beginPush(query)) return false;
        query.prepare(insert);
        do {
            for (const char* c : columns) query.addBindValue(rows.value(c));
            if (!query.exec()) return serverFail(table.toStdString(), query);
            done.push_back(rows.value("local_id").toLongLong());
        } while (rows.next());
        rows.finish();
        *more = static_cast<int>(done.size()) == limits_.batchRows;
        if (!commitServer(query)) return false;
        Transaction transaction(reg_.database());
        QSqlQuery mark = local();
        mark.prepare(QStringLiteral("UPDATE %1 SET pushed = 1 WHERE id = ?").arg(table));
        for (const qlonglong id : done) {
            mark.addBindValue(id);
            if (!reg_.exec(mark, table.toStdString())) return localFail(table.toStdString());
        }
        *count += static_cast<int>(done.size());
        return transaction.commit() || localFail(table.toStdString());
    }

    bool pushImages(bool* more) {
        // Whole images before the differences based on them.
        return pushRows(QStringLiteral("SELECT i.id AS local_id, i.sha256 AS hash, i.data AS data, b.sha256 AS base"
                                       " FROM images i LEFT JOIN images b ON b.id = i.base WHERE i.pushed = 0"
                                       " ORDER BY i.base IS NOT NULL, i.id LIMIT ?"),
                        QStringLiteral("INSERT INTO images(hash, data, base) VALUES(?, ?, ?) ON CONFLICT DO NOTHING"),
                        {"hash", "data", "base"}, QStringLiteral("images"), &r_.pushed.images, more);
    }

    bool pushVisits(bool* more) {
        // A visit whose image is not on the server yet waits for the next sync.
        return pushRows(
            QStringLiteral("SELECT v.id AS local_id, v.uuid AS uuid, c.device_id AS device_id, c.serial AS serial,"
                           " v.time AS time, v.technician AS technician, v.port AS port, v.kind AS kind,"
                           " v.outcome AS outcome, v.firmware AS firmware, i.sha256 AS image, v.changes AS changes,"
                           " v.source AS source FROM visits v JOIN controllers c ON c.id = v.controller"
                           " LEFT JOIN images i ON i.id = v.image WHERE v.pushed = 0"
                           " AND (v.image IS NULL OR i.pushed = 1) ORDER BY v.id LIMIT ?"),
            QStringLiteral("INSERT INTO visits(uuid, device_id, serial, time, technician, port, kind, outcome,"
                           " firmware, image, changes, source) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                           " ON CONFLICT DO NOTHING"),
            {"uuid", "device_id", "serial", "time", "technician", "port", "kind", "outcome", "firmware", "image",
             "changes", "source"},
            QStringLiteral("visits"), &r_.pushed.visits, more);
    }

    bool pushSavedFiles(bool* more) {
        return pushRows(
            QStringLiteral("SELECT f.id AS local_id, f.uuid AS uuid, f.path AS path, f.time AS time, i.sha256 AS image,"
                           " c.device_id AS device_id, c.serial AS serial, b.sha256 AS base FROM saved_files f"
                           " JOIN images i ON i.id = f.image LEFT JOIN controllers c ON c.id = f.controller"
                           " LEFT JOIN images b ON b.id = f.base WHERE f.pushed = 0 AND i.pushed = 1"
                           " AND (f.base IS NULL OR b.pushed = 1) ORDER BY f.id LIMIT ?"),
            QStringLiteral("INSERT INTO saved_files(uuid, path, time, image, device_id, serial, base)"
                           " VALUES(?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING"),
            {"uuid", "path", "time", "image", "device_id", "serial", "base"}, QStringLiteral("saved_files"),
            &r_.pushed.savedFiles, more);
    }

    bool pushHistory(bool* more) {
        return pushRows(QStringLiteral("SELECT h.id AS local_id, c.device_id AS device_id, c.serial AS serial, h.field AS field,"
                                       " h.value AS value, h.edited_at AS edited_at, h.edited_by AS edited_by,"
                                       " h.replaced_at AS replaced_at FROM field_history h JOIN controllers c"
                                       " ON c.id = h.controller WHERE h.pushed = 0 ORDER BY h.id LIMIT ?"),
                        QStringLiteral("INSERT INTO field_history(device_id, serial, field, value, edited_at, edited_by,"
                                       " replaced_at) VALUES(?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING"),
                        {"device_id", "serial", "field", "value", "edited_at", "edited_by", "replaced_at"},
                        QStringLiteral("field_history"), &r_.pushed.fieldEdits, more);
    }

    // ---- pull: every table in one snapshot of the server, in batches.
    struct PullTable {
        const char* table;
        const char* columns;
        bool (CompanySync::*apply)(const QSqlQuery& row, int* count);
        int SyncCounts::*count;
    };

    bool pull() {
        QSqlQuery query = remote();
        if (!server_.transaction() ||
            !query.exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY")))
            return serverFail("pull", query);
        static const PullTable kTables[] = {
            {"controllers",
             "device_id, serial, first_seen, last_seen, firmware, name, name_at, name_by, address, address_at,"
             " address_by, notes, notes_at, notes_by",
             &CompanySync::pullController, &SyncCounts::controllers},
            {"images", "hash, data, base", &CompanySync::pullImage, &SyncCounts::images},
            {"visits",
             "uuid::text AS uuid, device_id, serial, time, technician, port, kind, outcome, firmware, image, changes,"
             " source",
             &CompanySync::pullVisit, &SyncCounts::visits},
            {"saved_files", "uuid::text AS uuid, path, time, image, device_id, serial, base",
             &CompanySync::pullSavedFile, &SyncCounts::savedFiles},
            {"field_history", "device_id, serial, field, value, edited_at, edited_by, replaced_at",
             &CompanySync::pullHistory, &SyncCounts::fieldEdits},
        };
        // Pushes hold one lock while they take change numbers and commit, so
        // every row with a number up to the highest one this snapshot shows
        // is in it: once all is read, nothing up to that number is left.
        QSqlQuery highest = remote();
        if (!highest.exec(QStringLiteral("SELECT greatest((SELECT max(seq) FROM controllers), (SELECT max(seq) FROM images),"
                                         " (SELECT max(seq) FROM visits), (SELECT max(seq) FROM saved_files),"
                                         " (SELECT max(seq) FROM field_history)) AS seq")) ||
            !highest.next())
            return serverFail("pull", highest);
        const qlonglong through = highest.value("seq").toLongLong();
        highest.finish();
        for (const auto& t : kTables) {
            for (bool more = true; more;) {
                if (cancelled() || !pullBatch(t, &more)) return false;
            }
        }
        server_.commit();
        QSqlQuery save = local();
        save.prepare(QStringLiteral("INSERT OR REPLACE INTO settings(key, value) VALUES('pulled through', ?)"));
        save.addBindValue(QString::number(through));
        if (!reg_.exec(save, "settings")) return localFail("settings");
        return true;
    }

    bool pullBatch(const PullTable& t, bool* more) {
        const QString mark = QStringLiteral("pulled %1").arg(QLatin1String(t.table));
        QSqlQuery setting = local();
        qlonglong from = 0;
        if (setting.exec(QStringLiteral("SELECT value FROM settings WHERE key = '%1'").arg(mark)) && setting.next())
            from = setting.value("value").toLongLong();
        setting.finish();
        QSqlQuery rows = remote();
        if (!rows.exec(QStringLiteral("SELECT %1, seq FROM %2 WHERE seq > %3 ORDER BY seq LIMIT %4")
                           .arg(QLatin1String(t.columns), QLatin1String(t.table))
                           .arg(from)
                           .arg(limits_.batchRows)))
            return serverFail(t.table, rows);
        Transaction transaction(reg_.database());
        if (!transaction.begun()) return fail("register locked");
        int n = 0;
        qlonglong last = from;
        while (rows.next()) {
            if (!(this->*t.apply)(rows, &(r_.pulled.*t.count))) return false;
            last = rows.value("seq").toLongLong();
            ++n;
        }
        *more = n == limits_.batchRows;
        if (last == from) return true;
        QSqlQuery save = local();
        save.prepare(QStringLiteral("INSERT OR REPLACE INTO settings(key, value) VALUES(?, ?)"));
        save.addBindValue(mark);
        save.addBindValue(QString::number(last));
        if (!reg_.exec(save, "settings")) return localFail("settings");
        return transaction.commit() || localFail(t.table);
    }

    // The local id of a controller, added (as not changed here) when missing.
    std::optional<qlonglong> controllerOf(const QVariant& deviceId, const QVariant& serial, const QVariant& seen) {
        QSqlQuery query = local();
        query.prepare(
            QStringLiteral("INSERT OR IGNORE INTO controllers(device_id, serial, first_seen, last_seen, changed)"
                           " VALUES(?, ?, ?, ?, 0)"));
        query.addBindValue(deviceId);
        query.addBindValue(serial);
        query.addBindValue(seen);
        query.addBindValue(seen);
        if (!reg_.exec(query, "controller")) return std::nullopt;
        query.prepare(QStringLiteral("SELECT id FROM controllers WHERE device_id = ? AND serial = ?"));
        query.addBindValue(deviceId);
        query.addBindValue(serial);
        if (!reg_.exec(query, "controller") || !query.next()) return std::nullopt;
        return query.value("id").toLongLong();
    }
    // The local id of an image by its hash; a null value for no image.
    std::optional<QVariant> imageOf(const QVariant& hash) {
        if (hash.isNull()) return QVariant();
        QSqlQuery query = local();
        query.prepare(QStringLiteral("SELECT id FROM images WHERE sha256 = ?"));
        query.addBindValue(hash.toByteArray());
        if (!reg_.exec(query, "image") || !query.next()) return std::nullopt;
        return query.value("id");
    }

    bool pullController(const QSqlQuery& row, int* count) {
        QSqlQuery query = local();
        query.prepare(QStringLiteral("SELECT id FROM controllers WHERE device_id = ? AND serial = ?"));
        query.addBindValue(row.value("device_id"));
        query.addBindValue(row.value("serial"));
        if (!reg_.exec(query, "controller")) return localFail("controllers");
        const bool known = query.next();
        query.finish();
        const auto id = controllerOf(row.value("device_id"), row.value("serial"), row.value("first_seen"));
        if (!id) return localFail("controllers");
        query.prepare(
            QStringLiteral("UPDATE controllers SET first_seen = min(first_seen, ?), last_seen = max(last_seen, ?),"
                           " firmware = CASE WHEN ? >= last_seen THEN coalesce(?, firmware) ELSE firmware END"
                           " WHERE id = ?"));
        query.addBindValue(row.value("first_seen"));
        query.addBindValue(row.value("last_seen"));
        query.addBindValue(row.value("last_seen"));
        query.addBindValue(row.value("firmware"));
        query.addBindValue(*id);
        if (!reg_.exec(query, "controller")) return localFail("controllers");
        for (const char* field : kFields) {
            const std::string f = field;
            if (!reg_.mergeField(*id, field,
                                 {s(row.value(field)), s(row.value(q(f + "_at"))), s(row.value(q(f + "_by")))}, false))
                return localFail("controllers");
        }
        *count += known ? 0 : 1;
        return true;
    }

    bool pullImage(const QSqlQuery& row, int* count) {
        const auto base = imageOf(row.value("base"));
        if (!base) return fail("company register: an image arrived before the image it is based on");
        QSqlQuery query = local();
        query.prepare(QStringLiteral("INSERT OR IGNORE INTO images(sha256, data, base, pushed) VALUES(?, ?, ?, 1)"));
        query.addBindValue(row.value("hash").toByteArray());
        query.addBindValue(row.value("data").toByteArray());
        query.addBindValue(*base);
        if (!reg_.exec(query, "image")) return localFail("images");
        *count += query.numRowsAffected() > 0 ? 1 : 0;
        return true;
    }

    bool pullVisit(const QSqlQuery& row, int* count) {
        const auto controller = controllerOf(row.value("device_id"), row.value("serial"), row.value("time"));
        const auto image = imageOf(row.value("image"));
        if (!controller || !image) return fail("company register: a visit's controller or image is missing");
        QSqlQuery query = local();
        query.prepare(
            QStringLiteral("INSERT OR IGNORE INTO visits(uuid, controller, time, technician, port, kind,"
                           " outcome, firmware, image, changes, source, pushed)"
                           " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 1)"));
        query.addBindValue(row.value("uuid"));
        query.addBindValue(*controller);
        for (const char* c : {"time", "technician", "port", "kind", "outcome", "firmware"})
            query.addBindValue(row.value(c));
        query.addBindValue(*image);
        query.addBindValue(row.value("changes"));
        query.addBindValue(row.value("source"));
        if (!reg_.exec(query, "visit")) return localFail("visits");
        *count += query.numRowsAffected() > 0 ? 1 : 0;
        return true;
    }

    bool pullSavedFile(const QSqlQuery& row, int* count) {
        const auto image = imageOf(row.value("image"));
        const auto base = imageOf(row.value("base"));
        std::optional<qlonglong> controller;
        if (!row.value("device_id").isNull())
            controller = controllerOf(row.value("device_id"), row.value("serial"), row.value("time"));
        if (!image || !base || (!row.value("device_id").isNull() && !controller))
            return fail("company register: a saved file's image or controller is missing");
        QSqlQuery query = local();
        query.prepare(
            QStringLiteral("INSERT OR IGNORE INTO saved_files(uuid, path, time, image, controller, base, pushed)"
                           " VALUES(?, ?, ?, ?, ?, ?, 1)"));
        query.addBindValue(row.value("uuid"));
        query.addBindValue(row.value("path"));
        query.addBindValue(row.value("time"));
        query.addBindValue(*image);
        query.addBindValue(controller ? QVariant(*controller) : QVariant());
        query.addBindValue(*base);
        if (!reg_.exec(query, "saved file")) return localFail("saved files");
        *count += query.numRowsAffected() > 0 ? 1 : 0;
        return true;
    }

    bool pullHistory(const QSqlQuery& row, int* count) {
        const auto controller = controllerOf(row.value("device_id"), row.value("serial"), row.value("edited_at"));
        if (!controller) return localFail("field history");
        QSqlQuery query = local();
        query.prepare(
            QStringLiteral("INSERT OR IGNORE INTO field_history(controller, field, value, edited_at, edited_by,"
                           " replaced_at, pushed) VALUES(?, ?, ?, ?, ?, ?, 1)"));
        query.addBindValue(*controller);
        for (const char* c : {"field", "value", "edited_at", "edited_by", "replaced_at"})
            query.addBindValue(row.value(c));
        if (!reg_.exec(query, "field history")) return localFail("field history");
        *count += query.numRowsAffected() > 0 ? 1 : 0;
        return true;
    }

    Register& reg_;
    QSqlDatabase server_;
    SyncLimits limits_;
    const std::atomic_bool* cancel_;
    SyncResult& r_;
    StallGuard& guard_;
};

SyncResult syncNow(Register& local, const ServerAddress& address, const SyncLimits& limits, const std::atomic_bool* cancel) {
    SyncResult r;
    if (!serverDriverAvailable(&r.error)) return r;
    if (!local.isOpen()) {
        r.error = local.error().empty() ? "the register is not open" : local.error();
        return r;
    }
    {
        ServerConnection server(address, limits);
        const bool open = server.open(&r.error);
        r.unreachable = !open && !server.refused();
        if (open) {
            QSqlQuery query(server.database());
            auto facts = serverFacts(query);
            // A schema of another shape: its version alone says why.
            if (!facts) facts = ServerFacts{serverVersion(query).value_or(0), {}, 0, {}};
            if (facts->version == 0) {
                r.error = "the company register has no schema yet: run kvtool register server-setup first";
            } else if (facts->version > kServerSchemaVersion) {
                r.error = "the company register's schema (version " + std::to_string(facts->version) +
                          ") is newer than this program's: update the program";
            } else {
                query.finish();
                CompanySync sync(local, server.database(), limits, cancel, &r, &server.guard());
                r.ok = sync.run(*facts);
            }
        }
    }
    if (r.ok) r.finishedAt = now();
    CompanySync::note(local, r);
    return r;
}

SyncState syncState(Register& local) {
    SyncState s;
    s.configured = serverUrl().has_value();
    CompanySync::state(local, &s);
    return s;
}

}  // namespace kelvane::registry
