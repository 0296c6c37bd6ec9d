// A building's name, address and notes: each field keeps the time and author
// of its edit, the newest edit wins (here, or against another laptop's through
// the company register), and the edit it replaced is kept in the history.
#include "registry/building_register.h"

#include "registry/register_sql.h"

#include <QDateTime>
#include <tuple>

namespace kelvane::registry {

using namespace sql;

namespace {
std::string utcNow() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString(); }
}  // namespace

bool Register::mergeField(std::int64_t controller, const char* field, const FieldValue& incoming, bool localEdit) {
    const QString f = QString::fromLatin1(field);
    // The field's bit in `edited`: edited here since it was last sent.
    const int bit = f == QLatin1String("name") ? 1 : f == QLatin1String("address") ? 2 : 4;
    const bool marks = version_ >= 5;
    QSqlQuery query = this->query();
    query.prepare(QStringLiteral("SELECT %1 AS value, %1_at AS at, %1_by AS author, %2 AS edited FROM controllers"
                                 " WHERE id = ?")
                      .arg(f, marks ? QStringLiteral("edited") : QStringLiteral("0")));
    query.addBindValue(static_cast<qlonglong>(controller));
    if (!exec(query, field) || !query.next()) return fail(std::string(field) + ": no such controller");
    const FieldValue current{s(query.value("value")), s(query.value("at")), s(query.value("author"))};
    const bool editedHere = (query.value("edited").toInt() & bit) != 0;
    query.finish();
    bool incomingWins = true;
    if (!localEdit) {
        // The server's value, in the order the server received the edits:
        // it wins unless an edit made here has yet to reach it (the server
        // orders that one when it arrives). A register before those marks
        // compares the edits' times.
        // A field the server never had an edit of names nothing.
        if (marks && (editedHere || (incoming.value.empty() && incoming.at.empty()))) return true;
        if (!marks)
            incomingWins =
                std::tie(incoming.at, incoming.by, incoming.value) > std::tie(current.at, current.by, current.value);
    }
    if (current.value == incoming.value) {
        // The same value, as the server stamped it: its time and author.
        if (localEdit || !incomingWins || (current.at == incoming.at && current.by == incoming.by)) return true;
        query.prepare(QStringLiteral("UPDATE controllers SET %1_at = ?, %1_by = ? WHERE id = ?").arg(f));
        query.addBindValue(q(incoming.at));
        query.addBindValue(q(incoming.by));
        query.addBindValue(static_cast<qlonglong>(controller));
        return exec(query, field);
    }
    const FieldValue& replaced = incomingWins ? current : incoming;
    // The value before anyone named the building is no edit to keep.
    if (!replaced.value.empty() || !replaced.at.empty()) {
        query.prepare(
            QStringLiteral("INSERT OR IGNORE INTO field_history(controller, field, value, edited_at, edited_by,"
                           " replaced_at) VALUES(?, ?, ?, ?, ?, ?)"));
        query.addBindValue(static_cast<qlonglong>(controller));
        query.addBindValue(f);
        query.addBindValue(q(replaced.value));
        query.addBindValue(q(replaced.at));
        query.addBindValue(q(replaced.by));
        query.addBindValue(q(utcNow()));
        if (!exec(query, "field history")) return false;
    }
    if (!incomingWins) return true;
    query.prepare(QStringLiteral("UPDATE controllers SET %1 = ?, %1_at = ?, %1_by = ?, changed = changed + ?%2 WHERE id = ?")
                      .arg(f, marks && localEdit ? QStringLiteral(", edited = edited | %1").arg(bit) : QString()));
    query.addBindValue(q(incoming.value));
    query.addBindValue(q(incoming.at));
    query.addBindValue(q(incoming.by));
    query.addBindValue(localEdit ? 1 : 0);
    query.addBindValue(static_cast<qlonglong>(controller));
    return exec(query, field);
}

bool Register::describe(const ControllerKey& key, const std::string& name, const std::string& address,
                        const std::optional<std::string>& notes) {
    if (!open_) return fail("the register is not open");
    const std::string noteText = notes.value_or("");
    const struct {
        const char* field;
        const std::string& text;
        int limit;
        bool given;
    } fields[] = {{"name", name, kMaxNameLength, true},
                  {"address", address, kMaxAddressLength, true},
                  {"notes", noteText, kMaxNotesLength, notes.has_value()}};
    for (const auto& f : fields)
        if (q(f.text).toUcs4().size() > f.limit)
            return fail(std::string("the ") + f.field + " is longer than " + std::to_string(f.limit) + " characters");
    Transaction transaction(database());
    if (!transaction.begun()) return fail("register locked", transaction.query());
    QSqlQuery query = this->query();
    query.prepare(
        QStringLiteral("INSERT OR IGNORE INTO controllers(device_id, serial, first_seen, last_seen) VALUES(?, ?, ?, ?)"));
    query.addBindValue(key.deviceId);
    query.addBindValue(key.serialNumber);
    query.addBindValue(q(now()));
    query.addBindValue(q(now()));
    if (!exec(query, "name")) return false;
    const auto id = controllerId(key);
    if (!id) return false;
    const std::string at = utcNow();
    const std::string by = technicianName();
    for (const auto& f : fields)
        if (f.given && !mergeField(*id, f.field, {f.text, at, by}, true)) return false;
    return transaction.commit() || fail("name", transaction.query());
}

std::vector<FieldEdit> Register::fieldHistory(const ControllerKey& key) {
    std::vector<FieldEdit> out;
    if (!open_) return out;
    QSqlQuery query = this->query();
    query.prepare(
        QStringLiteral("SELECT h.field AS field, h.value AS value, h.edited_at AS edited_at, h.edited_by AS edited_by,"
                       " h.replaced_at AS replaced_at FROM field_history h JOIN controllers c ON c.id = h.controller"
                       " WHERE c.device_id = ? AND c.serial = ? ORDER BY h.replaced_at DESC, h.id DESC"));
    query.addBindValue(key.deviceId);
    query.addBindValue(key.serialNumber);
    if (!exec(query, "field history")) return out;
    while (query.next())
        out.push_back({s(query.value("field")), s(query.value("value")), s(query.value("edited_at")),
                       s(query.value("edited_by")), s(query.value("replaced_at"))});
    return out;
}

}  // namespace kelvane::registry
