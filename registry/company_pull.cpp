// The pull: what other laptops sent, every table read in one snapshot of the
// server in batches of a bounded size, each stored in one local transaction
// with the change number it was read up to. A row this laptop sent is not
// read back. Every pulled row is checked as local input is: a field over its
// limit (read only up to one past it), a row whose image was refused, an
// unknown kind or field, are skipped and reported; a time ahead of the
// server's clock is taken as the server's. A failure mid-stream keeps what
// was stored and marks it, and ends the sync as failed.
#include "registry/company_steps.h"

#include <QSqlError>
#include <QSqlRecord>

namespace kelvane::registry::company {

using namespace sql;

namespace {

bool knownKind(const QString& kind) {
    for (int k = 0; k < kVisitKindCount; ++k)
        if (kind == QLatin1String(kindName(static_cast<VisitKind>(k)))) return true;
    return false;
}

bool knownField(const QString& field) {
    for (const char* f : kFields)
        if (field == QLatin1String(f)) return true;
    return false;
}

// A controller's identity as the probe reads it (or the unknown controller).
bool knownIdentity(const QVariant& deviceId, const QVariant& serial) {
    const int d = deviceId.toInt(), s = serial.toInt();
    return (d == -1 && s == -1) || (d >= 0 && d <= 0xFF && s >= 0 && s <= 0xFFFF);
}

// A pulled row refused: the sync goes on without it.
bool refuse(std::optional<SkippedRow>* skip, const char* table, SkipReason why) {
    *skip = SkippedRow{table, why, {}, 0, 0};
    return true;
}

}  // namespace

void CompanySync::skipped(SkippedRow row) {
    // The first ones named; the rest counted.
    if (r_.skipped.size() < static_cast<std::size_t>(kMaxSkippedShown))
        r_.skipped.push_back(std::move(row));
    else
        ++r_.skippedMore;
}

QString CompanySync::notAhead(const QVariant& time) const {
    const QString text = time.toString();
    const QDateTime t = QDateTime::fromString(text, Qt::ISODate);
    if (!t.isValid() || !latest_.isValid() || t <= latest_) return text;
    // The server's clock at the pull, in the row's own offset.
    return latest_.addSecs(-kFutureSeconds).toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

bool CompanySync::pull() {
    static const PullTable kTables[] = {
        {"controllers", &CompanySync::pullController, &SyncCounts::controllers, true},
        {"images", &CompanySync::pullImage, &SyncCounts::images, false},
        {"visits", &CompanySync::pullVisit, &SyncCounts::visits, false},
        {"saved_files", &CompanySync::pullSavedFile, &SyncCounts::savedFiles, false},
        {"field_history", &CompanySync::pullHistory, &SyncCounts::fieldEdits, false},
        {"withdrawn", &CompanySync::pullWithdrawn, &SyncCounts::withdrawn, false},
    };
    QSqlQuery query = remote();
    if (!server_.transaction() || !query.exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY")))
        return serverFail("pull", query);
    // Pushes hold one lock while they take change numbers and commit, so
    // every row with a number up to the highest one this snapshot shows is
    // in it: once all is read, nothing up to that number is left. A number
    // the sequence never handed out (a row written by hand) is left out, so
    // it cannot carry the marks past every later row.
    QStringList highest, absurd;
    for (const PullTable& t : kTables) {
        if (serverTable(t.table).since > version_) continue;
        highest << QStringLiteral("(SELECT max(seq) FROM %1 WHERE seq <= h.handed)").arg(QLatin1String(t.table));
        absurd << QStringLiteral("(SELECT max(seq) FROM %1)").arg(QLatin1String(t.table));
    }
    if (!query.exec(QStringLiteral("SELECT coalesce(greatest(%1), 0) AS seq, coalesce(greatest(%2), 0) > h.handed AS absurd,"
                                   " to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"') AS now"
                                   " FROM (SELECT CASE WHEN is_called THEN last_value ELSE 0 END AS handed"
                                   " FROM change_seq) h")
                        .arg(highest.join(QStringLiteral(", ")), absurd.join(QStringLiteral(", ")))) ||
        !query.next())
        return serverFail("pull", query);
    heard();
    const qlonglong through = query.value("seq").toLongLong();
    if (query.value("absurd").toBool()) skipped(SkippedRow{{}, SkipReason::NeverHanded, {}, 0, 0});
    latest_ = QDateTime::fromString(query.value("now").toString(), Qt::ISODate).addSecs(kFutureSeconds);
    query.finish();
    for (const auto& t : kTables) {
        if (serverTable(t.table).since > version_) continue;
        int rows = qstrcmp(t.table, "images") == 0 ? 16 : 100;
        for (bool more = true; more;) {
            if (cancelled() || !pullBatch(t, through, &rows, &more)) return false;
        }
    }
    if (!server_.commit()) return serverFail("pull", query);
    if (!setSetting(QStringLiteral("pulled through"), QString::number(through))) return false;
    return true;
}

bool CompanySync::pullBatch(const PullTable& t, qlonglong through, int* batch, bool* more) {
    const ServerTable& table = serverTable(t.table);
    const qlonglong from = mark(t.table);
    QSqlQuery rows = remote();
    rows.prepare(QStringLiteral("SELECT %1, seq FROM %2 WHERE seq > ? AND seq <= ?%3 ORDER BY seq LIMIT ?")
                     .arg(pullColumns(table, version_), QLatin1String(t.table),
                          !t.ownRowsToo && version_ >= 2 ? QStringLiteral(" AND origin IS DISTINCT FROM ?") : QString()));
    rows.addBindValue(from);
    rows.addBindValue(through);
    if (!t.ownRowsToo && version_ >= 2) rows.addBindValue(laptop_);
    rows.addBindValue(*batch);
    if (!rows.exec()) return serverFail(t.table, rows);
    heard();
    Transaction transaction(reg_.database());
    if (!transaction.begun()) return fail(ServerProblem::RegisterFault, "register locked", t.table, "locked");
    int n = 0;
    long long bytes = 0;
    qlonglong last = from;
    while (rows.next()) {
        heard();
        const QSqlRecord record = rows.record();
        for (int i = 0; i < record.count(); ++i) bytes += sizeOf(rows.value(i));
        std::optional<SkippedRow> skip = overLimit(table, version_, rows);
        if (!skip && !(this->*t.apply)(rows, &(r_.pulled.*t.count), &skip)) return false;
        if (skip) skipped(std::move(*skip));
        last = rows.value("seq").toLongLong();
        ++n;
    }
    r_.pulled.rows += n;
    r_.pulled.bytes += bytes;
    // The stream may end early (the connection cut): what was stored is
    // kept and marked, and the sync fails.
    const bool broken = rows.lastError().type() != QSqlError::NoError || StallGuard::lost(server_);
    *more = !broken && n == *batch;
    // The next batch about kBatchBytes, at most the limit's rows.
    if (n > 0)
        *batch = static_cast<int>(std::clamp<long long>(kBatchBytes * n / std::max(1LL, bytes), 1, limits_.batchRows));
    if (last != from && !setSetting(QStringLiteral("pulled %1").arg(QLatin1String(t.table)), QString::number(last)))
        return false;
    if (!transaction.commit()) return localFail(t.table);
    return !broken || serverFail(t.table, rows);
}

// The local id of a controller, added (as not changed here) when missing.
std::optional<qlonglong> CompanySync::controllerOf(const QVariant& deviceId, const QVariant& serial, const QString& seen) {
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

// The local id of an image by its hash; a null value for no image, nothing
// when it is not here (refused, or never sent).
std::optional<QVariant> CompanySync::imageOf(const QVariant& hash) {
    if (hash.isNull()) return QVariant();
    QSqlQuery query = local();
    query.prepare(QStringLiteral("SELECT id FROM images WHERE sha256 = ?"));
    query.addBindValue(hash.toByteArray());
    if (!reg_.exec(query, "image") || !query.next()) return std::nullopt;
    return query.value("id");
}

bool CompanySync::pullController(const QSqlQuery& row, int* count, std::optional<SkippedRow>* skip) {
    if (!knownIdentity(row.value("device_id"), row.value("serial")))
        return refuse(skip, "controllers", SkipReason::NoIdentity);
    const QString firstSeen = notAhead(row.value("first_seen")), lastSeen = notAhead(row.value("last_seen"));
    QSqlQuery query = local();
    query.prepare(QStringLiteral("SELECT id FROM controllers WHERE device_id = ? AND serial = ?"));
    query.addBindValue(row.value("device_id"));
    query.addBindValue(row.value("serial"));
    if (!reg_.exec(query, "controller")) return localFail("controllers");
    const bool known = query.next();
    query.finish();
    const auto id = controllerOf(row.value("device_id"), row.value("serial"), firstSeen);
    if (!id) return localFail("controllers");
    query.prepare(
        QStringLiteral("UPDATE controllers SET first_seen = min(first_seen, ?), last_seen = max(last_seen, ?),"
                       " firmware = CASE WHEN ? >= last_seen THEN coalesce(?, firmware) ELSE firmware END"
                       " WHERE id = ?"));
    query.addBindValue(firstSeen);
    query.addBindValue(lastSeen);
    query.addBindValue(lastSeen);
    query.addBindValue(row.value("firmware"));
    query.addBindValue(*id);
    if (!reg_.exec(query, "controller")) return localFail("controllers");
    for (const char* field : kFields) {
        const std::string f = field;
        if (!reg_.mergeField(*id, field, {s(row.value(field)), s(row.value(q(f + "_at"))), s(row.value(q(f + "_by")))},
                             false))
            return localFail("controllers");
    }
    *count += known ? 0 : 1;
    return true;
}

bool CompanySync::pullImage(const QSqlQuery& row, int* count, std::optional<SkippedRow>* skip) {
    const auto base = imageOf(row.value("base"));
    if (!base) return refuse(skip, "images", SkipReason::BaseRefused);
    QSqlQuery query = local();
    query.prepare(QStringLiteral("INSERT OR IGNORE INTO images(sha256, data, base, pushed) VALUES(?, ?, ?, 1)"));
    query.addBindValue(row.value("hash").toByteArray());
    query.addBindValue(row.value("data").toByteArray());
    query.addBindValue(*base);
    if (!reg_.exec(query, "image")) return localFail("images");
    *count += query.numRowsAffected() > 0 ? 1 : 0;
    return true;
}

bool CompanySync::pullVisit(const QSqlQuery& row, int* count, std::optional<SkippedRow>* skip) {
    const auto image = imageOf(row.value("image"));
    if (!image) return refuse(skip, "visits", SkipReason::ImageRefused);
    if (!knownKind(row.value("kind").toString()) || !knownIdentity(row.value("device_id"), row.value("serial")) ||
        !QDateTime::fromString(row.value("time").toString(), Qt::ISODate).isValid())
        return refuse(skip, "visits", SkipReason::MissingFields);
    const QString time = notAhead(row.value("time"));
    const auto controller = controllerOf(row.value("device_id"), row.value("serial"), time);
    if (!controller) return localFail("visits");
    QSqlQuery query = local();
    query.prepare(
        QStringLiteral("INSERT OR IGNORE INTO visits(uuid, controller, time, technician, port, kind,"
                       " outcome, firmware, image, changes, source, pushed, pulled)"
                       " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 1, 1)"));
    query.addBindValue(row.value("uuid"));
    query.addBindValue(*controller);
    query.addBindValue(time);
    for (const char* c : {"technician", "port", "kind", "outcome", "firmware"}) query.addBindValue(row.value(c));
    query.addBindValue(*image);
    query.addBindValue(row.value("changes"));
    query.addBindValue(row.value("source"));
    if (!reg_.exec(query, "visit")) return localFail("visits");
    *count += query.numRowsAffected() > 0 ? 1 : 0;
    return true;
}

bool CompanySync::pullSavedFile(const QSqlQuery& row, int* count, std::optional<SkippedRow>* skip) {
    const auto image = imageOf(row.value("image"));
    const auto base = imageOf(row.value("base"));
    const bool origin = !row.value("device_id").isNull();
    if (!image || !base) return refuse(skip, "saved_files", SkipReason::ImageRefused);
    if ((origin && !knownIdentity(row.value("device_id"), row.value("serial"))) ||
        !QDateTime::fromString(row.value("time").toString(), Qt::ISODate).isValid())
        return refuse(skip, "saved_files", SkipReason::MissingFields);
    const QString time = notAhead(row.value("time"));
    std::optional<qlonglong> controller;
    if (origin) {
        controller = controllerOf(row.value("device_id"), row.value("serial"), time);
        if (!controller) return localFail("saved files");
    }
    QSqlQuery query = local();
    query.prepare(
        QStringLiteral("INSERT OR IGNORE INTO saved_files(uuid, path, time, image, controller, base, pushed, pulled)"
                       " VALUES(?, ?, ?, ?, ?, ?, 1, 1)"));
    query.addBindValue(row.value("uuid"));
    query.addBindValue(row.value("path"));
    query.addBindValue(time);
    query.addBindValue(*image);
    query.addBindValue(controller ? QVariant(*controller) : QVariant());
    query.addBindValue(*base);
    if (!reg_.exec(query, "saved file")) return localFail("saved files");
    *count += query.numRowsAffected() > 0 ? 1 : 0;
    return true;
}

bool CompanySync::pullHistory(const QSqlQuery& row, int* count, std::optional<SkippedRow>* skip) {
    if (!knownField(row.value("field").toString()) || !knownIdentity(row.value("device_id"), row.value("serial")))
        return refuse(skip, "field_history", SkipReason::MissingFields);
    const auto controller = controllerOf(row.value("device_id"), row.value("serial"), notAhead(row.value("edited_at")));
    if (!controller) return localFail("field history");
    QSqlQuery query = local();
    query.prepare(
        QStringLiteral("INSERT OR IGNORE INTO field_history(controller, field, value, edited_at, edited_by,"
                       " replaced_at, pushed) VALUES(?, ?, ?, ?, ?, ?, 1)"));
    query.addBindValue(*controller);
    for (const char* c : {"field", "value", "edited_at", "edited_by", "replaced_at"}) query.addBindValue(row.value(c));
    if (!reg_.exec(query, "field history")) return localFail("field history");
    *count += query.numRowsAffected() > 0 ? 1 : 0;
    return true;
}

// A visit or saved file the company withdrew: kept, never used again.
bool CompanySync::pullWithdrawn(const QSqlQuery& row, int* count, std::optional<SkippedRow>*) {
    QSqlQuery query = local();
    query.prepare(QStringLiteral("INSERT OR IGNORE INTO withdrawn(uuid, reason) VALUES(?, ?)"));
    query.addBindValue(row.value("uuid"));
    query.addBindValue(row.value("reason"));
    if (!reg_.exec(query, "withdrawn")) return localFail("withdrawn");
    *count += query.numRowsAffected() > 0 ? 1 : 0;
    return true;
}

}  // namespace kelvane::registry::company
