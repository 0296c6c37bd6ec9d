// The wrong-building guard's and the three-way upload's questions: where an
// image came from, and the image a working image was made from. Rows this
// laptop recorded come before rows pulled from the company register, and
// rows the company withdrew count for nothing.
#include "registry/building_register.h"

#include "registry/register_sql.h"

namespace kelvane::registry {

using namespace sql;

std::vector<Controller> Register::originsOf(const Image& image) {
    std::vector<Controller> out;
    if (!open_) return out;
    QSqlQuery query = this->query();
    // Every use of the image by a known controller: a saved file or a visit.
    // What this laptop saw itself outweighs what came from the company
    // register: rows pulled from the server count only where none of its own
    // name the image (a row written to the server by anyone decides nothing
    // against it).
    const bool marks = version_ >= 5;
    query.prepare(
        QStringLiteral("SELECT %1, min(u.pulled) AS pulled FROM controllers c JOIN ("
                       "  SELECT f.controller AS cid, f.time AS t, %2 AS pulled FROM saved_files f"
                       "   JOIN images i ON i.id = f.image WHERE i.sha256 = :h AND f.controller IS NOT NULL%3"
                       "  UNION ALL"
                       "  SELECT v.controller, v.time, %4 FROM visits v JOIN images i ON i.id = v.image"
                       "   WHERE i.sha256 = :h%5"
                       ") u ON u.cid = c.id WHERE c.device_id >= 0 GROUP BY c.id ORDER BY min(u.pulled), max(u.t) DESC")
            .arg(controllerColumns(), marks ? QStringLiteral("f.pulled") : QStringLiteral("0"), notWithdrawn("f"),
                 marks ? QStringLiteral("v.pulled") : QStringLiteral("0"), notWithdrawn("v")));
    query.bindValue(QStringLiteral(":h"), hashOf(image));
    if (!exec(query, "origin")) return out;
    bool own = false;
    while (query.next()) {
        const bool pulled = query.value("pulled").toInt() != 0;
        if (pulled && own) break;  // own rows come first
        own = own || !pulled;
        out.push_back(controllerFrom(query));
    }
    return out;
}

std::optional<Controller> Register::wrongBuilding(const Image& working, const std::optional<ControllerKey>& downloadedFrom,
                                                  const ControllerKey& connected) {
    if (downloadedFrom && downloadedFrom->known()) {
        if (*downloadedFrom == connected) return std::nullopt;
        if (auto known = controller(*downloadedFrom)) return known;
        Controller unnamed;
        unnamed.key = *downloadedFrom;
        return unnamed;
    }
    const auto origins = originsOf(working);
    for (const auto& o : origins)
        if (o.key == connected) return std::nullopt;
    if (origins.empty()) return std::nullopt;
    return origins.front();
}

std::optional<Image> Register::baseImageFor(const Image& working, std::string* when, std::string* by) {
    if (!open_) return std::nullopt;
    QSqlQuery query = this->query();
    // When the base was read, and by whom: the latest visit that had it (a
    // colleague's too: it only names the base, never chooses it).
    const auto readAt = [&](const Image& base, const QString& otherwise) {
        if (when) *when = otherwise.toStdString();
        if (by) by->clear();
        if (!when && !by) return;
        QSqlQuery visit = this->query();
        visit.prepare(QStringLiteral("SELECT v.time AS time, v.technician AS technician FROM visits v"
                                     " JOIN images i ON i.id = v.image WHERE i.sha256 = ?%1"
                                     " ORDER BY v.time DESC, v.id DESC LIMIT 1")
                          .arg(notWithdrawn("v")));
        visit.addBindValue(hashOf(base));
        if (!visit.exec() || !visit.next()) return;
        if (when) *when = visit.value("time").toString().toStdString();
        if (by) *by = visit.value("technician").toString().toStdString();
    };
    query.prepare(QStringLiteral("SELECT f.base AS base, f.time AS saved FROM saved_files f JOIN images i ON i.id = f.image"
                                 " WHERE i.sha256 = ? AND f.base IS NOT NULL%1 ORDER BY %2f.time DESC, f.id DESC LIMIT 1")
                      .arg(notWithdrawn("f"), version_ >= 5 ? QStringLiteral("f.pulled, ") : QString()));
    query.addBindValue(hashOf(working));
    if (query.exec() && query.next()) {
        const QString saved = query.value("saved").toString();
        auto base = loadImage(query.value("base").toLongLong());
        if (base) readAt(*base, saved);
        return base;
    }
    query.prepare(QStringLiteral("SELECT 1 FROM visits v JOIN images i ON i.id = v.image WHERE i.sha256 = ?%1 LIMIT 1")
                      .arg(notWithdrawn("v")));
    query.addBindValue(hashOf(working));
    if (query.exec() && query.next()) {
        readAt(working, QString());
        return working;
    }
    return std::nullopt;
}

}  // namespace kelvane::registry
