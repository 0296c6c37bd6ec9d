// Backups KelvaneMini made before the register existed, imported as visits
// of the unknown controller.
#include "registry/building_register.h"

#include "registry/register_sql.h"

#include "files/data_file.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>

namespace kelvane::registry {

using namespace sql;

std::optional<int> Register::importBackups(const std::string& folder) {
    if (!open_) {
        fail("the register is not open");
        return std::nullopt;
    }
    static const QRegularExpression name(QStringLiteral("^(\\d{4}-\\d{2}-\\d{2}_\\d{6})(_\\d+)?\\.kv[ds]$"));
    const QDir dir(q(folder));
    int imported = 0;
    // Sealed backups open with the data key; one that does not is left out
    // (and kept).
    for (const QFileInfo& file :
         dir.entryInfoList({QStringLiteral("*.kvd"), QStringLiteral("*.kvs")}, QDir::Files, QDir::Name)) {
        const auto m = name.match(file.fileName());
        if (!m.hasMatch()) continue;
        const std::string source = file.absoluteFilePath().toStdString();
        QSqlQuery seen = this->query();
        seen.prepare(QStringLiteral("SELECT 1 FROM visits WHERE source = ? LIMIT 1"));
        seen.addBindValue(q(source));
        if (!exec(seen, "backups")) return std::nullopt;
        if (seen.next()) continue;
        const auto data = loadDataFileFrom(source);  // bounded: a data file's size at most
        if (!data) continue;
        QDateTime when = QDateTime::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd_HHmmss"));
        NewVisit v;
        v.kind = VisitKind::Backup;
        v.image = data->image;
        v.time = when.toOffsetFromUtc(when.offsetFromUtc()).toString(Qt::ISODate).toStdString();
        v.source = source;
        // The description ends with the port in both languages.
        const std::string& d = data->description;
        const auto mark = d.rfind(", port ");
        if (mark != std::string::npos) v.port = d.substr(mark + 7, d.find_first_of("\r\n", mark) - mark - 7);
        if (!recordVisit(v)) return std::nullopt;
        ++imported;
    }
    return imported;
}

std::optional<int> Register::importBackupsOnce(const std::string& folder) {
    if (!open_) {
        fail("the register is not open");
        return std::nullopt;
    }
    QSqlQuery query = this->query();
    if (!exec(query, QStringLiteral("SELECT 1 FROM settings WHERE key = 'backups imported'"), "backups"))
        return std::nullopt;
    if (query.next()) return 0;
    const auto n = importBackups(folder);
    if (!n) return n;
    if (!exec(query, QStringLiteral("INSERT OR IGNORE INTO settings(key, value) VALUES('backups imported', '1')"), "backups"))
        return std::nullopt;
    return n;
}

}  // namespace kelvane::registry
