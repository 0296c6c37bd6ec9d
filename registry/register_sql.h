#pragma once
// What the register's source files share inside the layer: conversions
// between Qt SQL's values and the register's, the one transaction style, the
// column lists the queries read by name, and the packing of images.
#include "registry/building_register.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <optional>
#include <string>

namespace kelvane::registry::sql {

inline QString q(const std::string& s) { return QString::fromStdString(s); }
inline std::string s(const QVariant& v) { return v.toString().toStdString(); }
inline std::optional<int> optionalInt(const QVariant& v) {
    if (v.isNull()) return std::nullopt;
    return v.toInt();
}
inline QVariant variant(const std::optional<int>& v) { return v ? QVariant(*v) : QVariant(); }
inline QVariant variant(const std::optional<std::int64_t>& v) {
    return v ? QVariant(static_cast<qlonglong>(*v)) : QVariant();
}

// Ends the transaction it began (taking the write lock at once, so two
// programs writing at the same time wait in turn): rolled back unless
// committed.
class Transaction {
public:
    explicit Transaction(const QSqlDatabase& db) : query_(db) {
        begun_ = query_.exec(QStringLiteral("BEGIN IMMEDIATE"));
    }
    ~Transaction() {
        if (begun_) query_.exec(QStringLiteral("ROLLBACK"));
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool begun() const { return begun_; }
    const QSqlQuery& query() const { return query_; }
    bool commit() {
        if (!query_.exec(QStringLiteral("COMMIT"))) return false;
        begun_ = false;
        return true;
    }

private:
    QSqlQuery query_;
    bool begun_ = false;
};

// The columns visitFrom() and controllerFrom() read, by name; `v` and `c`
// are the visits and controllers tables (Register::controllerColumns() adds
// the count of visits).
extern const char kVisitColumns[];
extern const char kControllerColumns[];
Visit visitFrom(const QSqlQuery& row);
Controller controllerFrom(const QSqlQuery& row);

// zlib-compressed image bytes; nothing when damaged.
QByteArray pack(const Image& image);
std::optional<Image> unpack(const QByteArray& packed);
Image exclusiveOr(Image a, const Image& b);
QByteArray bytesOf(const Image& image);

}  // namespace kelvane::registry::sql
