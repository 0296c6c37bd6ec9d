// The push: what this laptop recorded goes to the server in batches, each one
// server transaction under the push lock (so change numbers grow in the order
// pushes commit), then marked sent in one local transaction. Rows carry this
// laptop's name, so it never pulls them back. A building's field edited here
// replaces the server's, which goes to the server's field history: the server
// orders edits by when it receives them, stamped with its own clock.
#include "registry/company_steps.h"

#include <QSqlError>

namespace kelvane::registry::company {

using namespace sql;

namespace {
// The server's clock, as the register writes UTC times.
const char kServerNow[] = "to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";
}  // namespace

// Another laptop's push holds the lock: waited for a few times, then the
// sync ends saying so (the next one tries again).
bool CompanySync::beginPush(QSqlQuery& query) {
    for (int tried = 1;; ++tried) {
        if (!server_.transaction()) return serverFail("begin", query);
        if (query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kPushLock))) {
            // Under the lock: the key may have changed since the sync began (a
            // colleague's laptop sealed the server's images again).
            if (!query.exec(QStringLiteral("SELECT value FROM settings WHERE key = 'data key'")) || !query.next())
                return serverFail("key", query);
            const auto& key = reg_.sealingKey();
            if (key && query.value(0).toString() == q(key->id())) return true;
            server_.rollback();
            return fail(ServerProblem::KeyChanged,
                        "the company register's images were sealed with another key during the sync: import the company's "
                        "key first (kvtool key import)");
        }
        if (!pushLockBusy(query)) return serverFail("lock", query);
        server_.rollback();
        if (tried >= limits_.pushLockTries)
            return fail(ServerProblem::Busy,
                        "another laptop is sending to the company register, trying again at the next sync");
        heard();
    }
}

bool CompanySync::commitServer(QSqlQuery& query) { return server_.commit() || serverFail("commit", query); }

bool CompanySync::bind(QSqlQuery& query, const QVariant& value) {
    query.addBindValue(value);
    r_.pushed.bytes += sizeOf(value);
    return true;
}

bool CompanySync::pushControllers(bool* more) {
    QSqlQuery rows = local();
    rows.prepare(QStringLiteral("SELECT id, device_id, serial, first_seen, last_seen, firmware, changed, %1 AS edited,"
                                " name, name_at, name_by, address, address_at, address_by, notes, notes_at, notes_by"
                                " FROM controllers WHERE changed > 0 ORDER BY id LIMIT ?")
                     .arg(reg_.openedVersion() >= 5 ? QStringLiteral("edited") : QStringLiteral("7")));
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
    if (!query.prepare(QStringLiteral(
            "INSERT INTO controllers(device_id, serial, first_seen, last_seen, firmware) VALUES(?, ?, ?, ?, ?)"
            " ON CONFLICT(device_id, serial) DO UPDATE SET first_seen = least(controllers.first_seen,"
            " excluded.first_seen), last_seen = greatest(controllers.last_seen, excluded.last_seen),"
            " firmware = CASE WHEN excluded.last_seen >= controllers.last_seen"
            " THEN coalesce(excluded.firmware, controllers.firmware) ELSE controllers.firmware END,"
            " seq = nextval('change_seq')"
            " RETURNING name, name_at, name_by, address, address_at, address_by, notes, notes_at, notes_by")))
        return serverFail("controllers", query);
    long long bytes = 0;
    do {
        const long long before = r_.pushed.bytes;
        for (const char* c : {"device_id", "serial", "first_seen", "last_seen", "firmware"}) bind(query, rows.value(c));
        if (!query.exec() || !query.next()) return serverFail("controllers", query);
        heard();
        for (int i = 0; i < 3; ++i)
            if (!pushField(rows, query, kFields[i], 1 << i)) return false;
        done.push_back({rows.value("id").toLongLong(), rows.value("changed").toLongLong()});
        ++r_.pushed.rows;
        bytes += r_.pushed.bytes - before;
    } while (bytes < kBatchBytes && rows.next());
    *more = static_cast<int>(done.size()) == limits_.batchRows || bytes >= kBatchBytes;
    rows.finish();
    if (!commitServer(query)) return false;
    Transaction transaction(reg_.database());
    QSqlQuery mark = local();
    mark.prepare(QStringLiteral("UPDATE controllers SET changed = 0%1 WHERE id = ? AND changed = ?")
                     .arg(reg_.openedVersion() >= 5 ? QStringLiteral(", edited = 0") : QString()));
    for (const auto& p : done) {
        mark.addBindValue(p.id);
        mark.addBindValue(p.changed);
        if (!reg_.exec(mark, "controllers")) return localFail("controllers");
    }
    r_.pushed.controllers += static_cast<int>(done.size());
    return transaction.commit() || localFail("controllers");
}

// A field edited here since it was last sent replaces the server's, stamped
// with the server's clock; the value it replaced goes to the server's history.
bool CompanySync::pushField(const QSqlQuery& mine, const QSqlQuery& theirs, const char* field, int bit) {
    const QString f = QString::fromLatin1(field);
    const QString value = mine.value(f).toString();
    const QString serverValue = theirs.value(f).toString(), serverAt = theirs.value(f + QStringLiteral("_at")).toString();
    // Edited here, or a value the server never had (named before edits
    // were marked).
    const bool edited = (mine.value("edited").toInt() & bit) != 0 || (serverValue.isEmpty() && serverAt.isEmpty());
    if (!edited || value == serverValue) return true;
    QSqlQuery query = remote();
    if (!serverValue.isEmpty() || !serverAt.isEmpty()) {
        if (!query.prepare(QStringLiteral("INSERT INTO field_history(device_id, serial, field, value, edited_at, edited_by, replaced_at)"
                                          " VALUES(?, ?, ?, ?, ?, ?, %1) ON CONFLICT DO NOTHING")
                               .arg(QLatin1String(kServerNow))))
            return serverFail("field history", query);
        for (const QVariant& v : {mine.value("device_id"), mine.value("serial"), QVariant(f), QVariant(serverValue),
                                  QVariant(serverAt), theirs.value(f + QStringLiteral("_by"))})
            bind(query, v);
        if (!query.exec()) return serverFail("field history", query);
        heard();
        ++r_.pushed.fieldEdits;
        ++r_.pushed.rows;
    }
    if (!query.prepare(QStringLiteral("UPDATE controllers SET %1 = ?, %1_at = %2, %1_by = ? WHERE device_id = ? AND serial = ?")
                           .arg(f, QLatin1String(kServerNow))))
        return serverFail("controllers", query);
    for (const QVariant& v :
         {QVariant(value), mine.value(f + QStringLiteral("_by")), mine.value("device_id"), mine.value("serial")})
        bind(query, v);
    if (!query.exec()) return serverFail("controllers", query);
    heard();
    return true;
}

// Rows of a local table not yet on the server, read by `select` under the
// server's column names (and local_id): sent in one server transaction, then
// marked pushed in one local transaction.
bool CompanySync::pushRows(const QString& select, const char* table, int* count, bool* more) {
    const ServerTable& t = serverTable(table);
    QSqlQuery rows = local();
    rows.prepare(select);
    rows.addBindValue(limits_.batchRows);
    if (!reg_.exec(rows, table)) return localFail(table);
    std::vector<qlonglong> done;
    QString witness;
    *more = false;
    if (!rows.next()) return true;  // nothing to push: no server transaction
    QSqlQuery query = remote();
    if (!beginPush(query)) return false;
    if (!query.prepare(insertStatement(t, version_))) return serverFail(table, query);
    const auto columns = sentColumns(t, version_);
    long long bytes = 0;
    do {
        const long long before = r_.pushed.bytes;
        for (const ServerColumn* c : columns)
            bind(query, qstrcmp(c->name, "origin") == 0 ? QVariant(laptop_) : rows.value(c->name));
        if (!query.exec()) return serverFail(table, query);
        heard();
        done.push_back(rows.value("local_id").toLongLong());
        if (qstrcmp(table, "visits") == 0) witness = rows.value("uuid").toString();
        ++r_.pushed.rows;
        bytes += r_.pushed.bytes - before;
    } while (bytes < kBatchBytes && rows.next());
    *more = static_cast<int>(done.size()) == limits_.batchRows || bytes >= kBatchBytes;
    rows.finish();
    // The server keeps the last visit each laptop sent: a register older than
    // that (restored from a copy) then fetches what it lacks of its own.
    if (!witness.isEmpty()) {
        if (!query.prepare(QStringLiteral("INSERT INTO settings(key, value) VALUES(?, ?)"
                                          " ON CONFLICT(key) DO UPDATE SET value = excluded.value")))
            return serverFail(table, query);
        query.addBindValue(QStringLiteral("laptop ") + laptop_);
        query.addBindValue(witness);
        if (!query.exec()) return serverFail(table, query);
    }
    if (!commitServer(query)) return false;
    Transaction transaction(reg_.database());
    if (!transaction.begun()) return fail(ServerProblem::RegisterFault, "register locked", table, "locked");
    QSqlQuery mark = local();
    mark.prepare(QStringLiteral("UPDATE %1 SET pushed = 1 WHERE id = ?").arg(QLatin1String(table)));
    for (const qlonglong id : done) {
        mark.addBindValue(id);
        if (!reg_.exec(mark, table)) return localFail(table);
    }
    // A visit the server now holds: should it ever be gone, the server went
    // back in time.
    if (!witness.isEmpty() && !setSetting(QStringLiteral("company witness"), witness)) return false;
    *count += static_cast<int>(done.size());
    return transaction.commit() || localFail(table);
}

bool CompanySync::pushImages(bool* more) {
    // Whole images before the differences based on them.
    return pushRows(QStringLiteral("SELECT i.id AS local_id, i.sha256 AS hash, i.data AS data, b.sha256 AS base"
                                   " FROM images i LEFT JOIN images b ON b.id = i.base WHERE i.pushed = 0"
                                   " ORDER BY i.base IS NOT NULL, i.id LIMIT ?"),
                    "images", &r_.pushed.images, more);
}

bool CompanySync::pushVisits(bool* more) {
    // A visit whose image is not on the server yet waits for the next sync.
    return pushRows(QStringLiteral("SELECT v.id AS local_id, v.uuid AS uuid, c.device_id AS device_id, c.serial AS serial,"
                                   " v.time AS time, v.technician AS technician, v.port AS port, v.kind AS kind,"
                                   " v.outcome AS outcome, v.firmware AS firmware, i.sha256 AS image, v.changes AS changes,"
                                   " v.source AS source FROM visits v JOIN controllers c ON c.id = v.controller"
                                   " LEFT JOIN images i ON i.id = v.image WHERE v.pushed = 0"
                                   " AND (v.image IS NULL OR i.pushed = 1) ORDER BY v.id LIMIT ?"),
                    "visits", &r_.pushed.visits, more);
}

bool CompanySync::pushSavedFiles(bool* more) {
    return pushRows(QStringLiteral("SELECT f.id AS local_id, f.uuid AS uuid, f.path AS path, f.time AS time,"
                                   " i.sha256 AS image, c.device_id AS device_id, c.serial AS serial, b.sha256 AS base"
                                   " FROM saved_files f JOIN images i ON i.id = f.image"
                                   " LEFT JOIN controllers c ON c.id = f.controller LEFT JOIN images b ON b.id = f.base"
                                   " WHERE f.pushed = 0 AND i.pushed = 1 AND (f.base IS NULL OR b.pushed = 1)"
                                   " ORDER BY f.id LIMIT ?"),
                    "saved_files", &r_.pushed.savedFiles, more);
}

bool CompanySync::pushHistory(bool* more) {
    return pushRows(QStringLiteral("SELECT h.id AS local_id, c.device_id AS device_id, c.serial AS serial,"
                                   " h.field AS field, h.value AS value, h.edited_at AS edited_at,"
                                   " h.edited_by AS edited_by, h.replaced_at AS replaced_at"
                                   " FROM field_history h JOIN controllers c ON c.id = h.controller"
                                   " WHERE h.pushed = 0 ORDER BY h.id LIMIT ?"),
                    "field_history", &r_.pushed.fieldEdits, more);
}

}  // namespace kelvane::registry::company
