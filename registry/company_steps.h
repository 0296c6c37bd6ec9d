#pragma once
// One sync of one register with one server, as the company register's source
// files share it inside the layer: the marks of what went where
// (company_marks.cpp), the push (company_push.cpp) and the pull
// (company_pull.cpp). Every server step is checked; a failure ends the sync
// with its reason, and what was stored before it stays stored and marked.
#include "registry/company_connection_sql.h"
#include "registry/company_schema.h"
#include "registry/register_sql.h"

#include <QDateTime>

namespace kelvane::registry::company {

// About what a batch carries: small enough that a slow link commits often,
// and that one statement's answer never nears the server's bound on it.
inline constexpr long long kBatchBytes = 256 * 1024;
// The lock every laptop's push (and a change of key) holds on the server.
inline constexpr qlonglong kPushLock = 0x4B56524547;
// A time more than this ahead of the server's clock is taken as the server's.
inline constexpr int kFutureSeconds = 5 * 60;

class CompanySync {
public:
    CompanySync(Register& reg, QSqlDatabase server, const SyncLimits& limits, const std::atomic_bool* cancel,
                SyncResult* result, StallGuard* guard)
        : reg_(reg), server_(std::move(server)), limits_(limits), cancel_(cancel), r_(*result), guard_(*guard) {}

    // The outcome of a sync, kept in the register for syncState().
    static void note(Register& reg, const SyncResult& r);
    static void state(Register& reg, SyncState* s);

    // After the facts the server gave first.
    bool run(const ServerFacts& facts);

private:
    using Step = bool (CompanySync::*)(bool* more);

    // ---- steps and failures
    bool cancelled();
    // Ends the sync with its reason; `what` says it for the log.
    bool fail(ServerProblem problem, const std::string& what, std::string detail = {}, std::string other = {});
    bool serverFail(const std::string& what, const QSqlQuery& query);
    bool localFail(const std::string& what);
    bool repeat(Step step);
    QSqlQuery local() { return reg_.query(); }
    QSqlQuery remote();
    // Something came from the server: the bound on silence starts again.
    void heard() { guard_.arm(); }

    // ---- marks (company_marks.cpp)
    bool checkKey(QVariant serverKey);
    // The server this register's marks hold for; a server gone back in time
    // gets a new name first, so every laptop sends and fetches all again.
    bool sameServer(const ServerFacts& facts);
    bool wentBack(const ServerFacts& facts, Resend* kind, std::string* why);
    bool sameLaptop();
    bool forgetMarks();
    std::optional<QString> setting(const QString& key);
    bool setSetting(const QString& key, const QString& value);
    // This laptop's own name on the server's rows (made once).
    bool ensureLaptopId();
    qlonglong mark(const char* table);
    qlonglong pulledThrough();
    bool pending();
    bool pushedAny() const;

    // ---- push (company_push.cpp)
    bool beginPush(QSqlQuery& query);
    bool commitServer(QSqlQuery& query);
    bool pushControllers(bool* more);
    bool pushField(const QSqlQuery& mine, const QSqlQuery& theirs, const char* field, int bit);
    bool pushRows(const QString& select, const char* table, int* count, bool* more);
    bool pushImages(bool* more);
    bool pushVisits(bool* more);
    bool pushSavedFiles(bool* more);
    bool pushHistory(bool* more);
    bool bind(QSqlQuery& query, const QVariant& value);

    // ---- pull (company_pull.cpp)
    struct PullTable {
        const char* table;
        bool (CompanySync::*apply)(const QSqlQuery& row, int* count, std::optional<SkippedRow>* skip);
        int SyncCounts::*count;
        bool ownRowsToo;  // pulled also when this laptop sent them (merged, not copied)
    };
    bool pull();
    bool pullBatch(const PullTable& t, qlonglong through, int* rows, bool* more);
    std::optional<qlonglong> controllerOf(const QVariant& deviceId, const QVariant& serial, const QString& seen);
    std::optional<QVariant> imageOf(const QVariant& hash);
    // A pulled time, no later than the server's clock allows.
    QString notAhead(const QVariant& time) const;
    bool pullController(const QSqlQuery& row, int* count, std::optional<SkippedRow>* skip);
    bool pullImage(const QSqlQuery& row, int* count, std::optional<SkippedRow>* skip);
    bool pullVisit(const QSqlQuery& row, int* count, std::optional<SkippedRow>* skip);
    bool pullSavedFile(const QSqlQuery& row, int* count, std::optional<SkippedRow>* skip);
    bool pullHistory(const QSqlQuery& row, int* count, std::optional<SkippedRow>* skip);
    bool pullWithdrawn(const QSqlQuery& row, int* count, std::optional<SkippedRow>* skip);
    void skipped(SkippedRow row);

    Register& reg_;
    QSqlDatabase server_;
    SyncLimits limits_;
    const std::atomic_bool* cancel_;
    SyncResult& r_;
    StallGuard& guard_;
    int version_ = 1;   // the server's schema
    QString laptop_;    // this laptop's name on the rows it sends
    QDateTime latest_;  // the latest time a pulled row may carry
};

inline const char* const kFields[] = {"name", "address", "notes"};

}  // namespace kelvane::registry::company
