// What a register marks about one company server: which server (its name, its
// cluster and timeline), what went to it (`pushed`, `changed`, `edited`), what
// came from it (the change number each table was pulled through), and a visit
// it is known to hold. A server behind those marks went back in time (a dump
// restored, a standby promoted before it had the last push): it gets a new
// name, and every laptop sends and fetches everything again.
#include "registry/company_steps.h"

#include <QSqlError>
#include <QUuid>

namespace kelvane::registry::company {

using namespace sql;

namespace {
const QString kRegisterId = QStringLiteral("company register id");
const QString kSystem = QStringLiteral("company system");
const QString kWitness = QStringLiteral("company witness");
const QString kLaptop = QStringLiteral("company laptop");
}  // namespace

void CompanySync::note(Register& reg, const SyncResult& r) {
    if (!reg.isOpen()) return;
    QSqlQuery query = reg.query();
    // One write: the reason, whether the server was reached, and the time
    // when it finished.
    const QString keys = QStringLiteral(
        "INSERT OR REPLACE INTO settings(key, value) VALUES('company error', ?), ('company problem', ?),"
        " ('company detail', ?), ('company other', ?), ('company offline', ?)");
    query.prepare(r.ok ? keys + QStringLiteral(", ('company synced', ?)") : keys);
    query.addBindValue(q(r.error));
    query.addBindValue(QString::fromLatin1(problemCode(r.ok ? ServerProblem::None : r.reason.problem)));
    query.addBindValue(q(r.reason.detail));
    query.addBindValue(q(r.reason.other));
    query.addBindValue(r.unreachable ? QStringLiteral("1") : QStringLiteral("0"));
    if (r.ok) query.addBindValue(q(r.finishedAt));
    query.exec();
}

void CompanySync::state(Register& reg, SyncState* s) {
    if (!reg.isOpen()) return;
    QSqlQuery query = reg.query();
    std::string problem;
    if (query.exec(QStringLiteral("SELECT key, value FROM settings WHERE key IN ('company synced', 'company error',"
                                  " 'company problem', 'company detail', 'company other', 'company offline')")))
        while (query.next()) {
            const QString key = query.value("key").toString();
            const std::string value = sql::s(query.value("value"));
            if (key == QLatin1String("company synced"))
                s->lastSync = value;
            else if (key == QLatin1String("company error"))
                s->lastError = value;
            else if (key == QLatin1String("company problem"))
                problem = value;
            else if (key == QLatin1String("company detail"))
                s->lastReason.detail = value;
            else if (key == QLatin1String("company other"))
                s->lastReason.other = value;
            else
                s->offline = value == "1";
        }
    // A reason of a later program, or an error noted before reasons were:
    // the server's fault, in the words noted.
    s->lastReason.problem = problemOfCode(problem);
    if (!s->lastError.empty() && s->lastReason.problem == ServerProblem::None)
        s->lastReason = {ServerProblem::ServerFault, StringProblem::None, {}, s->lastError};
    if (query.exec(QStringLiteral("SELECT count(*) AS waiting FROM visits WHERE pushed = 0")) && query.next())
        s->waitingVisits = query.value("waiting").toInt();
}

std::optional<QString> CompanySync::setting(const QString& key) {
    QSqlQuery query = local();
    query.prepare(QStringLiteral("SELECT value FROM settings WHERE key = ?"));
    query.addBindValue(key);
    if (!reg_.exec(query, "settings") || !query.next()) return std::nullopt;
    return query.value("value").toString();
}

bool CompanySync::setSetting(const QString& key, const QString& value) {
    QSqlQuery query = local();
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO settings(key, value) VALUES(?, ?)"));
    query.addBindValue(key);
    query.addBindValue(value);
    return reg_.exec(query, "settings") || localFail("settings");
}

bool CompanySync::ensureLaptopId() {
    if (const auto id = setting(kLaptop)) {
        laptop_ = *id;
        return true;
    }
    laptop_ = QUuid::createUuid().toString(QUuid::WithoutBraces);
    return setSetting(kLaptop, laptop_);
}

// The images travel sealed: every laptop must seal with the one key the
// server's images are sealed with.
bool CompanySync::checkKey(QVariant serverKey) {
    std::string why;
    const auto keyId = reg_.sealingKeyId(&why);
    if (!reg_.isOpen()) return fail(ServerProblem::RegisterNotOpen, why, why);
    if (!keyId)
        return fail(ServerProblem::ImagesNotSealed,
                    "the register's images are not sealed with this computer's key (" + why + ")", why);
    const QString id = q(*keyId);
    if (serverKey.isNull()) {
        // The first laptop's key becomes the company's.
        QSqlQuery query = remote();
        query.prepare(QStringLiteral("INSERT INTO settings(key, value) VALUES('data key', ?) ON CONFLICT DO NOTHING"));
        query.addBindValue(id);
        if (!query.exec() || !query.exec(QStringLiteral("SELECT value FROM settings WHERE key = 'data key'")) ||
            !query.next())
            return serverFail("key", query);
        serverKey = query.value("value");
    }
    // This laptop changed the key (kvtool key rotate): the server's images
    // are sealed again with the new one first.
    const auto& previous = reg_.previousSealingKey();
    const auto& key = reg_.sealingKey();
    if (previous && key && serverKey.toString() == q(previous->id())) {
        sql::ServerResealing done;
        std::string reason;
        if (!sql::resealServerImages(
                server_, kPushLock, *previous, *key, limits_.batchRows, [this] { return !cancelled(); }, &done, &reason))
            return guard_.fired() ? serverFail("key", remote())
                                  : fail(ServerProblem::ServerFault,
                                         "company register: sealing its images with the new key: " + reason,
                                         "sealing its images with the new key", reason);
        serverKey = id;
        // What this register holds under the new key is on the server now.
        Transaction transaction(reg_.database());
        QSqlQuery mark = local();
        mark.prepare(QStringLiteral("UPDATE images SET pushed = 1 WHERE sha256 = ? AND pushed = 0"));
        for (const QByteArray& hash : done.hashes) {
            mark.addBindValue(hash);
            if (!reg_.exec(mark, "images")) return localFail("images");
        }
        if (!transaction.commit()) return localFail("images");
    }
    if (serverKey.toString() == id) sql::finishKeyChange();
    if (serverKey.toString() != id)
        return fail(ServerProblem::OtherKey,
                    "the company register's images are sealed with another key (" +
                        serverKey.toString().left(8).toStdString() + "…, this computer's is " +
                        id.left(8).toStdString() + "…): import the company's key first (kvtool key import)",
                    serverKey.toString().left(8).toStdString() + "…", id.left(8).toStdString() + "…");
    return true;
}

qlonglong CompanySync::mark(const char* table) {
    return setting(QStringLiteral("pulled %1").arg(QLatin1String(table))).value_or(QStringLiteral("0")).toLongLong();
}

// The server's change number every row up to which has been pulled: its
// rows' highest when the last pull read them all (-1: not known).
qlonglong CompanySync::pulledThrough() {
    return setting(QStringLiteral("pulled through")).value_or(QStringLiteral("-1")).toLongLong();
}

bool CompanySync::wentBack(const ServerFacts& facts, Resend* kind, std::string* why) {
    const auto system = setting(kSystem);
    if (system && !system->isEmpty() && !facts.system.empty() && *system != q(facts.system)) {
        *kind = Resend::OtherCluster;
        *why = "the company register is another cluster or timeline now (restored or promoted)";
        return true;
    }
    qlonglong highest = pulledThrough();
    for (const auto& t : serverTables()) highest = std::max(highest, mark(t.name));
    if (facts.changes < highest) {
        *kind = Resend::ChangesBehind;
        *why = "the company register's change numbers are behind what this laptop pulled (restored from a backup?)";
        return true;
    }
    if (const auto witness = setting(kWitness)) {
        QSqlQuery query = remote();
        query.prepare(QStringLiteral("SELECT EXISTS(SELECT 1 FROM visits WHERE uuid = ?::uuid) AS there"));
        query.addBindValue(*witness);
        if (!query.exec() || !query.next()) {
            serverFail("visits", query);
            return false;
        }
        heard();
        if (!query.value("there").toBool()) {
            *kind = Resend::VisitMissing;
            *why = "a visit this laptop sent is no longer on the company register (restored from a backup?)";
            return true;
        }
    }
    return false;
}

// The register is no older than what this laptop sent: else (a copy put
// back) it takes a new name for its rows and fetches everything again, its
// own rows of before too.
bool CompanySync::sameLaptop() {
    const auto witness = setting(kWitness);
    QSqlQuery query = remote();
    query.prepare(QStringLiteral("SELECT value FROM settings WHERE key = ?"));
    query.addBindValue(QStringLiteral("laptop ") + laptop_);
    if (!query.exec()) return serverFail("settings", query);
    heard();
    if (!query.next() || query.value("value").toString() == witness.value_or(QString())) return true;
    query.finish();
    laptop_ = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSqlQuery forget = local();
    if (!reg_.exec(forget, QStringLiteral("DELETE FROM settings WHERE key LIKE 'pulled %'"), "settings"))
        return localFail("settings");
    if (r_.resend == Resend::None) r_.resend = Resend::RegisterOlder;
    if (r_.resent.empty())
        r_.resent =
            "this register is older than what this laptop sent (put back from a copy?): everything is fetched again";
    return setSetting(kLaptop, laptop_);
}

// What this register marked pushed and pulled holds for one server: at the
// first sync with another one (set up anew, restored, another company's)
// everything is pushed and pulled again. A register that synced before the
// server had a name takes the name it now has.
bool CompanySync::sameServer(const ServerFacts& facts) {
    QVariant id = facts.id;
    if (id.isNull()) {
        QSqlQuery query = remote();
        if (!query.exec(QStringLiteral("INSERT INTO settings(key, value) VALUES('register id', gen_random_uuid()::text)"
                                       " ON CONFLICT DO NOTHING")) ||
            !query.exec(QStringLiteral("SELECT value FROM settings WHERE key = 'register id'")) || !query.next())
            return serverFail("register id", query);
        id = query.value("value");
    }
    const auto known = setting(kRegisterId);
    if (known && *known == id.toString()) {
        std::string why;
        Resend kind = Resend::None;
        const bool back = wentBack(facts, &kind, &why);
        if (!r_.error.empty()) return false;
        if (!back) return facts.system.empty() || setSetting(kSystem, q(facts.system));
        const auto renewed = renewRegisterId(server_, id.toString());
        if (!renewed) {
            const std::string reason = server_.lastError().text().toStdString();
            return fail(ServerProblem::ServerFault, "company register: register id: " + reason, "register id", reason);
        }
        id = *renewed;
        r_.resend = kind;
        r_.resent = why + ": everything is sent and fetched again";
    }
    Transaction transaction(reg_.database());
    if (!transaction.begun()) return fail(ServerProblem::RegisterFault, "register locked", "settings", "locked");
    if (known && !forgetMarks()) return false;
    if (!setSetting(kRegisterId, id.toString()) || !setSetting(kSystem, q(facts.system))) return false;
    return transaction.commit() || localFail("settings");
}

bool CompanySync::forgetMarks() {
    QSqlQuery query = local();
    const bool fields = reg_.openedVersion() >= 5;
    for (const char* sql :
         {"UPDATE visits SET pushed = 0 WHERE pushed <> 0", "UPDATE images SET pushed = 0 WHERE pushed <> 0",
          "UPDATE saved_files SET pushed = 0 WHERE pushed <> 0", "UPDATE field_history SET pushed = 0 WHERE pushed <> 0",
          "UPDATE controllers SET changed = 1 WHERE changed = 0",
          "DELETE FROM settings WHERE key LIKE 'pulled %' OR key = 'company witness'"})
        if (!reg_.exec(query, QString::fromLatin1(sql), "settings")) return localFail("settings");
    // The building's fields as this laptop has them go again, ordered anew
    // by when the server gets them.
    if (fields && !reg_.exec(query,
                             QStringLiteral("UPDATE controllers SET edited = (name_at <> '') + 2 * (address_at <> '')"
                                            " + 4 * (notes_at <> '')"),
                             "settings"))
        return localFail("settings");
    return true;
}

// Anything recorded here that the server has not had yet.
bool CompanySync::pending() {
    QSqlQuery query = local();
    return !query.exec(QStringLiteral(
               "SELECT EXISTS(SELECT 1 FROM controllers WHERE changed > 0)"
               " OR EXISTS(SELECT 1 FROM images WHERE pushed = 0) OR EXISTS(SELECT 1 FROM visits WHERE pushed = 0)"
               " OR EXISTS(SELECT 1 FROM saved_files WHERE pushed = 0)"
               " OR EXISTS(SELECT 1 FROM field_history WHERE pushed = 0) AS pending")) ||
           !query.next() || query.value("pending").toInt() != 0;
}

bool CompanySync::pushedAny() const {
    const SyncCounts& p = r_.pushed;
    return p.controllers + p.images + p.visits + p.savedFiles + p.fieldEdits > 0;
}

}  // namespace kelvane::registry::company
