// What the register records: visits, each with the controller it met and
// the image it held, and the data files the programs save.
#include "registry/building_register.h"

#include "registry/register_sql.h"

#include <QFileInfo>
#include <QUuid>

namespace kelvane::registry {

using namespace sql;

std::optional<std::int64_t> Register::touchController(const ControllerKey& key, const std::string& time,
                                                      const std::optional<int>& firmware, bool* added) {
    auto id = controllerId(key);
    QSqlQuery query = this->query();
    *added = !id;
    if (!id) {
        query.prepare(QStringLiteral(
            "INSERT INTO controllers(device_id, serial, first_seen, last_seen, firmware) VALUES(?, ?, ?, ?, ?)"));
        query.addBindValue(key.deviceId);
        query.addBindValue(key.serialNumber);
    } else {
        query.prepare(QStringLiteral("UPDATE controllers SET last_seen = max(last_seen, ?), first_seen = min(first_seen, ?),"
                                     " firmware = coalesce(?, firmware)%1 WHERE id = ?")
                          .arg(version_ >= 4 ? QStringLiteral(", changed = changed + 1") : QString()));
    }
    query.addBindValue(q(time));
    query.addBindValue(q(time));
    query.addBindValue(variant(firmware));
    if (id) query.addBindValue(static_cast<qlonglong>(*id));
    if (!exec(query, "controller")) return std::nullopt;
    return id ? id : std::optional<std::int64_t>(query.lastInsertId().toLongLong());
}

std::optional<std::int64_t> Register::storeVisitImage(std::int64_t controller, const Image& image, Recorded* rec) {
    QSqlQuery query = this->query();
    query.prepare(QStringLiteral("SELECT %1, v.image AS image_id FROM visits v WHERE v.controller = ?"
                                 " AND v.image IS NOT NULL%2 ORDER BY v.time DESC, v.id DESC LIMIT 1")
                      .arg(QLatin1String(kVisitColumns), notWithdrawn("v")));
    query.addBindValue(static_cast<qlonglong>(controller));
    if (!exec(query, "previous visit")) return std::nullopt;
    std::optional<Visit> previous;
    std::optional<std::int64_t> previousImage;
    if (query.next()) {
        previous = visitFrom(query);
        previousImage = query.value("image_id").toLongLong();
    }
    const auto imageId = storeImage(image, previousImage);
    if (!imageId || !previous) return imageId;
    if (*previousImage == *imageId) {
        rec->changes = 0;
    } else if (auto before = loadImage(*previousImage)) {
        rec->changes = changeCount(*before, image);
        rec->previous = previous;
        rec->previousImage = before;
    }
    return imageId;
}

std::optional<Recorded> Register::recordVisit(const NewVisit& v) {
    if (!open_) {
        fail(error_.empty() ? "the register is not open" : error_);
        return std::nullopt;
    }
    Transaction transaction(database());
    if (!transaction.begun()) {
        fail("register locked", transaction.query());
        return std::nullopt;
    }
    const std::string time = v.time.empty() ? now() : v.time;
    Recorded rec;
    const auto id = touchController(v.key, time, v.firmware, &rec.newController);
    if (!id) return std::nullopt;
    std::optional<std::int64_t> imageId;
    // Without the key the visit is kept without its image (imagesNote()).
    if (v.image && imagesNote_.empty()) {
        imageId = storeVisitImage(*id, *v.image, &rec);
        if (!imageId) return std::nullopt;
    }
    QSqlQuery query = this->query();
    query.prepare(QStringLiteral("INSERT INTO visits(controller, time, technician, port, kind, outcome, firmware,"
                                 " image, changes, source%1) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?%2)")
                      .arg(version_ >= 4 ? QStringLiteral(", uuid") : QString(),
                           version_ >= 4 ? QStringLiteral(", ?") : QString()));
    query.addBindValue(static_cast<qlonglong>(*id));
    query.addBindValue(q(time));
    query.addBindValue(q(v.technician.empty() ? technicianName() : v.technician));
    query.addBindValue(q(v.port));
    query.addBindValue(QString::fromLatin1(kindName(v.kind)));
    query.addBindValue(q(v.outcome));
    query.addBindValue(variant(v.firmware));
    query.addBindValue(variant(imageId));
    query.addBindValue(variant(rec.changes));
    query.addBindValue(q(v.source));
    if (version_ >= 4) query.addBindValue(QUuid::createUuid().toString(QUuid::WithoutBraces));
    if (!exec(query, "visit")) return std::nullopt;
    rec.visitId = query.lastInsertId().toLongLong();
    if (!transaction.commit()) {
        fail("visit", transaction.query());
        return std::nullopt;
    }
    return rec;
}

bool Register::recordSavedFile(const std::string& path, const Image& image, const std::optional<ControllerKey>& origin,
                               const std::optional<Image>& base) {
    if (!open_) return fail(error_.empty() ? "the register is not open" : error_);
    // A saved file is recorded by its image: without the key there is
    // nothing to keep (imagesNote() has said why).
    if (!imagesNote_.empty()) return true;
    Transaction transaction(database());
    if (!transaction.begun()) return fail("register locked", transaction.query());
    const auto imageId = storeImage(image);
    if (!imageId) return false;
    std::optional<std::int64_t> baseId;
    if (base) {
        baseId = storeImage(*base);
        if (!baseId) return false;
    }
    std::optional<std::int64_t> controller;
    if (origin && origin->known()) controller = controllerId(*origin);
    QSqlQuery query = this->query();
    query.prepare(QStringLiteral("INSERT INTO saved_files(path, time, image, controller, base%1) VALUES(?, ?, ?, ?, ?%2)")
                      .arg(version_ >= 4 ? QStringLiteral(", uuid") : QString(),
                           version_ >= 4 ? QStringLiteral(", ?") : QString()));
    query.addBindValue(QFileInfo(q(path)).absoluteFilePath());
    query.addBindValue(q(now()));
    query.addBindValue(static_cast<qlonglong>(*imageId));
    query.addBindValue(variant(controller));
    query.addBindValue(variant(baseId));
    if (version_ >= 4) query.addBindValue(QUuid::createUuid().toString(QUuid::WithoutBraces));
    if (!exec(query, "saved file")) return false;
    return transaction.commit() || fail("saved file", transaction.query());
}

}  // namespace kelvane::registry
