// A change of the company's data key reaching the company register: the
// server's images sealed again with the new key in one transaction, by the
// laptop that made the change (it holds the server's key as its previous
// one), and the previous key forgotten once nothing is left under it.
#include "registry/backup_files.h"
#include "registry/key_store.h"
#include "registry/register_sql.h"

#include <QSqlError>

#include <vector>

namespace kelvane::registry {

namespace {

struct ServerImage {
    QByteArray hash, data, baseHash, baseData;
};

// The rows the query answered (then finished). Kept out of line: GCC 12 at
// -O3 takes the inlined vector's growth for a use after free.
[[gnu::noinline]] std::vector<ServerImage> readBatch(QSqlQuery& query) {
    std::vector<ServerImage> batch;
    while (query.next())
        batch.push_back({query.value("hash").toByteArray(), query.value("data").toByteArray(),
                         query.value("base_hash").toByteArray(), query.value("base_data").toByteArray()});
    query.finish();
    return batch;
}

}  // namespace

bool sql::resealServerImages(QSqlDatabase server, qlonglong lock, const DataKey& from, const DataKey& to, int batchRows,
                             const std::function<bool()>& between, ServerResealing* done, std::string* why) {
    QSqlQuery query(server);
    query.setForwardOnly(true);
    const auto failed = [&](const char* what) {
        *why = std::string(what) + ": " + query.lastError().text().toStdString();
        server.rollback();
        return false;
    };
    if (!server.transaction()) return failed("begin");
    if (!query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(lock))) return failed("lock");
    // Under the lock: still the key this laptop had before (no other laptop
    // changed it meanwhile).
    if (!query.exec(QStringLiteral("SELECT value FROM settings WHERE key = 'data key'")) || !query.next())
        return failed("key");
    if (query.value(0).toString() != q(from.id())) {
        server.rollback();
        *why = "another laptop changed the company register's key meanwhile";
        return false;
    }
    if (!query.exec(QStringLiteral("CREATE TEMP TABLE resealed(old bytea PRIMARY KEY, new bytea NOT NULL UNIQUE)"
                                   " ON COMMIT DROP")))
        return failed("images");
    // In batches by hash, each image with its whole base.
    QByteArray after(1, '\0');
    for (bool more = true; more;) {
        if (!between()) {
            server.rollback();
            *why = "stopped";
            return false;
        }
        query.prepare(
            QStringLiteral("SELECT i.hash AS hash, i.data AS data, b.hash AS base_hash, b.data AS base_data"
                           " FROM images i LEFT JOIN images b ON b.hash = i.base WHERE i.hash > ?"
                           " AND NOT EXISTS(SELECT 1 FROM resealed x WHERE x.new = i.hash)"
                           " ORDER BY i.hash LIMIT ?"));
        query.addBindValue(after);
        query.addBindValue(batchRows);
        if (!query.exec()) return failed("images");
        const std::vector<ServerImage> batch = readBatch(query);
        more = static_cast<int>(batch.size()) == batchRows;
        if (!batch.empty()) after = batch.back().hash;
        for (const ServerImage& image : batch) {
            const auto resealed = resealImage(from, to, image.hash, image.data, image.baseHash, image.baseData);
            if (!resealed) {
                ++done->kept;
                continue;
            }
            query.prepare(QStringLiteral("INSERT INTO images(hash, data) VALUES(?, ?) ON CONFLICT DO NOTHING"));
            query.addBindValue(resealed->hash);
            query.addBindValue(resealed->data);
            if (!query.exec()) return failed("images");
            query.prepare(QStringLiteral("INSERT INTO resealed(old, new) VALUES(?, ?)"));
            query.addBindValue(image.hash);
            query.addBindValue(resealed->hash);
            if (!query.exec()) return failed("images");
            ++done->images;
            done->hashes.push_back(resealed->hash);
        }
    }
    // Removing an image makes the server look for rows that still name it:
    // without an index on each such column that is a scan of the table for
    // every image. Made when the register's role may (it owns the tables);
    // else it goes on without them, slowly.
    for (const char* index : {"visits_by_image ON visits(image)", "saved_files_by_base ON saved_files(base)",
                              "images_by_base ON images(base)"}) {
        query.exec(QStringLiteral("SAVEPOINT lookup_index"));
        if (query.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS %1").arg(QLatin1String(index))))
            query.exec(QStringLiteral("RELEASE SAVEPOINT lookup_index"));
        else
            query.exec(QStringLiteral("ROLLBACK TO SAVEPOINT lookup_index"));
    }
    // The new rows take the new hashes of their bases, the visits and saved
    // files the new hashes of their images; the old rows go, but for a base
    // that an image kept as it was still names.
    for (const char* statement : {
             "UPDATE images n SET base = rb.new FROM resealed r JOIN images o ON o.hash = r.old"
             " JOIN resealed rb ON rb.old = o.base WHERE n.hash = r.new",
             "UPDATE visits v SET image = r.new FROM resealed r WHERE v.image = r.old",
             "UPDATE saved_files f SET image = r.new FROM resealed r WHERE f.image = r.old",
             "UPDATE saved_files f SET base = r.new FROM resealed r WHERE f.base = r.old",
             "DELETE FROM images o USING resealed r WHERE o.hash = r.old AND NOT EXISTS(SELECT 1 FROM images k"
             " WHERE k.base = o.hash AND NOT EXISTS(SELECT 1 FROM resealed x WHERE x.old = k.hash)"
             " AND NOT EXISTS(SELECT 1 FROM resealed y WHERE y.new = k.hash))",
         })
        if (!query.exec(QString::fromLatin1(statement))) return failed("images");
    query.prepare(QStringLiteral("UPDATE settings SET value = ? WHERE key = 'data key'"));
    query.addBindValue(q(to.id()));
    if (!query.exec()) return failed("key");
    if (!server.commit()) return failed("commit");
    return true;
}

void sql::finishKeyChange() {
    if (!dataKey().previous) return;
    for (const std::string& folder : backupFolders())
        if (!sealBackups(folder).kept.empty()) return;
    forgetPreviousKey();
}

}  // namespace kelvane::registry
