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

#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// An image row sealed with `from` (its keyed hash and sealed bytes, and for a
// difference those of its whole base image) sealed again with `to`: its new
// hash and bytes. Nothing when it does not open with `from` or is damaged.
struct ResealedImage {
    QByteArray hash, data;
};
std::optional<ResealedImage> resealImage(const DataKey& from, const DataKey& to, const QByteArray& hash,
                                         const QByteArray& data, const QByteArray& baseHash, const QByteArray& baseData);

// The company register's images sealed again with a new key, by a laptop
// that holds the server's key as its previous one: every image that opens
// with `from` is put in under `to`, the visits and saved files point to it,
// the old row goes, and the server's key id becomes `to`'s. One server
// transaction holding the push lock `lock`, so nobody sees or adds to half of
// it; an image that does not open is kept as it is (and `kept` counts it).
// `between` runs between batches and stops it when false. False with the
// reason in `why` (everything rolled back).
struct ServerResealing {
    int images = 0, kept = 0;
    std::vector<QByteArray> hashes;  // the new hashes of the images sealed again
};
bool resealServerImages(QSqlDatabase server, qlonglong lock, const DataKey& from, const DataKey& to, int batchRows,
                        const std::function<bool()>& between, ServerResealing* done, std::string* why);

// After the company register holds everything under this computer's key:
// the previous key is forgotten once the backups are sealed again with the
// new one too (the register is).
void finishKeyChange();

}  // namespace kelvane::registry::sql
