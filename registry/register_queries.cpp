// What the register is asked: its controllers and their visits, and the
// building's name, address and notes a technician gives it.
#include "registry/building_register.h"

#include "registry/register_sql.h"

namespace kelvane::registry {

using namespace sql;

namespace {

VisitKind kindFrom(const QString& name) {
    for (int k = 0; k < kVisitKindCount; ++k)
        if (name == QLatin1String(kindName(static_cast<VisitKind>(k)))) return static_cast<VisitKind>(k);
    return VisitKind::Download;
}

}  // namespace

const char sql::kVisitColumns[] =
    "v.id AS visit_id, v.time AS time, v.technician AS technician, v.port AS port, v.kind AS kind,"
    " v.outcome AS outcome, v.firmware AS visit_firmware, v.image IS NOT NULL AS has_image, v.changes AS changes,"
    " v.source AS source";

Visit sql::visitFrom(const QSqlQuery& r) {
    Visit v;
    v.id = r.value("visit_id").toLongLong();
    v.time = s(r.value("time"));
    v.technician = s(r.value("technician"));
    v.port = s(r.value("port"));
    v.kind = kindFrom(r.value("kind").toString());
    v.outcome = s(r.value("outcome"));
    v.firmware = optionalInt(r.value("visit_firmware"));
    v.hasImage = r.value("has_image").toBool();
    v.changes = optionalInt(r.value("changes"));
    v.source = s(r.value("source"));
    return v;
}

const char sql::kControllerColumns[] =
    "c.id AS controller_id, c.device_id AS device_id, c.serial AS serial, c.first_seen AS first_seen,"
    " c.last_seen AS last_seen, c.firmware AS firmware, c.name AS name, c.address AS address, c.notes AS notes";

QString Register::controllerColumns() const {
    // Visits the company withdrew are not counted.
    return QStringLiteral("%1, (SELECT COUNT(*) FROM visits vc WHERE vc.controller = c.id%2) AS visit_count")
        .arg(QLatin1String(kControllerColumns), notWithdrawn("vc"));
}

Controller sql::controllerFrom(const QSqlQuery& r) {
    Controller c;
    c.id = r.value("controller_id").toLongLong();
    c.key = {r.value("device_id").toInt(), r.value("serial").toInt()};
    c.firstSeen = s(r.value("first_seen"));
    c.lastSeen = s(r.value("last_seen"));
    c.firmware = optionalInt(r.value("firmware"));
    c.name = s(r.value("name"));
    c.address = s(r.value("address"));
    c.notes = s(r.value("notes"));
    c.visits = r.value("visit_count").toInt();
    return c;
}

std::optional<std::int64_t> Register::controllerId(const ControllerKey& key) {
    QSqlQuery query = this->query();
    query.prepare(QStringLiteral("SELECT id FROM controllers WHERE device_id = ? AND serial = ?"));
    query.addBindValue(key.deviceId);
    query.addBindValue(key.serialNumber);
    if (!exec(query, "lookup") || !query.next()) return std::nullopt;
    return query.value("id").toLongLong();
}

std::optional<Controller> Register::controller(const ControllerKey& key) {
    if (!open_) return std::nullopt;
    QSqlQuery query = this->query();
    query.prepare(
        QStringLiteral("SELECT %1 FROM controllers c WHERE device_id = ? AND serial = ?").arg(controllerColumns()));
    query.addBindValue(key.deviceId);
    query.addBindValue(key.serialNumber);
    if (!exec(query, "lookup") || !query.next()) return std::nullopt;
    return controllerFrom(query);
}

std::vector<Controller> Register::controllers(const std::string& search) {
    std::vector<Controller> out;
    if (!open_) return out;
    QSqlQuery query = this->query();
    // SQLite folds ASCII case only: names and addresses are matched here.
    query.prepare(QStringLiteral("SELECT %1 FROM controllers c ORDER BY c.name = '', c.name, c.serial, c.device_id")
                      .arg(controllerColumns()));
    if (!exec(query, "list")) return out;
    const QString wanted = q(search);
    while (query.next()) {
        if (!wanted.isEmpty() && !query.value("name").toString().contains(wanted, Qt::CaseInsensitive) &&
            !query.value("address").toString().contains(wanted, Qt::CaseInsensitive) &&
            !query.value("serial").toString().contains(wanted))
            continue;
        out.push_back(controllerFrom(query));
    }
    return out;
}

std::vector<Visit> Register::visits(const ControllerKey& key) {
    std::vector<Visit> out;
    if (!open_) return out;
    QSqlQuery query = this->query();
    query.prepare(QStringLiteral("SELECT %1 FROM visits v JOIN controllers c ON c.id = v.controller"
                                 " WHERE c.device_id = ? AND c.serial = ?%2 ORDER BY v.time DESC, v.id DESC")
                      .arg(QLatin1String(kVisitColumns), notWithdrawn("v")));
    query.addBindValue(key.deviceId);
    query.addBindValue(key.serialNumber);
    if (!exec(query, "visits")) return out;
    while (query.next()) out.push_back(visitFrom(query));
    return out;
}

std::optional<Visit> Register::visit(const ControllerKey& key, std::int64_t visitId) {
    if (!open_) return std::nullopt;
    QSqlQuery query = this->query();
    query.prepare(QStringLiteral("SELECT %1 FROM visits v JOIN controllers c ON c.id = v.controller"
                                 " WHERE c.device_id = ? AND c.serial = ? AND v.id = ?%2")
                      .arg(QLatin1String(kVisitColumns), notWithdrawn("v")));
    query.addBindValue(key.deviceId);
    query.addBindValue(key.serialNumber);
    query.addBindValue(static_cast<qlonglong>(visitId));
    if (!query.exec() || !query.next()) return std::nullopt;
    return visitFrom(query);
}

std::optional<Image> Register::visitImage(const ControllerKey& key, std::int64_t visitId) {
    if (!open_) return std::nullopt;
    QSqlQuery query = this->query();
    query.prepare(
        QStringLiteral("SELECT v.image AS image FROM visits v JOIN controllers c ON c.id = v.controller"
                       " WHERE c.device_id = ? AND c.serial = ? AND v.id = ? AND v.image IS NOT NULL"));
    query.addBindValue(key.deviceId);
    query.addBindValue(key.serialNumber);
    query.addBindValue(static_cast<qlonglong>(visitId));
    if (!query.exec() || !query.next()) return std::nullopt;
    return loadImage(query.value("image").toLongLong());
}

}  // namespace kelvane::registry
