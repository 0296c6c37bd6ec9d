// The register's images: stored once each, as a difference from a whole
// image of the same controller when that is smaller, sealed with the data key
// and found by a keyed hash; a plain register is sealed at the first open
// that has a key, leaving no plain page behind.
#include "registry/building_register.h"

#include "registry/key_store.h"
#include "registry/register_sql.h"

#include <QCryptographicHash>

#include <cstring>
#include <map>

namespace kelvane::registry {

using namespace sql;

namespace {

QByteArray plainHash(const QByteArray& bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); }
QByteArray keyedHash(const DataKey& key, const QByteArray& bytes) {
    const LookupHash h = lookupHash(key, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return QByteArray(reinterpret_cast<const char*>(h.data()), static_cast<qsizetype>(h.size()));
}

// A sealed image belongs to its row: the row's lookup hash is its associated
// text, so moving sealed bytes to another row fails to open.
std::string imageAssociation(const QByteArray& hash) { return "kelvane image " + hash.toStdString(); }
QByteArray sealImage(const DataKey& key, const QByteArray& packed, const QByteArray& hash) {
    const auto sealed =
        sealBytes(key, packed.constData(), static_cast<std::size_t>(packed.size()), imageAssociation(hash));
    return QByteArray(reinterpret_cast<const char*>(sealed.data()), static_cast<qsizetype>(sealed.size()));
}
std::optional<QByteArray> openImage(const DataKey& key, const QByteArray& sealed, const QByteArray& hash) {
    auto opened = openBytes(key, sealed.constData(), static_cast<std::size_t>(sealed.size()), imageAssociation(hash));
    if (!opened) return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(opened->data()), static_cast<qsizetype>(opened->size()));
}

const QString kSealedBy = QStringLiteral("data key");
const QString kScrubPending = QStringLiteral("plain pages");

}  // namespace

QByteArray sql::bytesOf(const Image& image) {
    return QByteArray(reinterpret_cast<const char*>(image.data()), static_cast<qsizetype>(image.size()));
}

// The bytes of a compressed image or difference; nothing when damaged.
// qUncompress trusts the length in front: anything but an image's is refused
// before it allocates.
std::optional<Image> sql::unpack(const QByteArray& packed) {
    if (packed.size() < 4 || ((static_cast<unsigned char>(packed[0]) << 24) |
                              (static_cast<unsigned char>(packed[1]) << 16) | (static_cast<unsigned char>(packed[2]) << 8) |
                              static_cast<unsigned char>(packed[3])) != static_cast<int>(kImageSize))
        return std::nullopt;
    const QByteArray bytes = qUncompress(packed);
    if (bytes.size() != static_cast<qsizetype>(kImageSize)) return std::nullopt;
    Image image{};
    std::memcpy(image.data(), bytes.constData(), kImageSize);
    return image;
}

QByteArray sql::pack(const Image& image) {
    return qCompress(reinterpret_cast<const uchar*>(image.data()), static_cast<qsizetype>(kImageSize), 9);
}

Image sql::exclusiveOr(Image a, const Image& b) {
    for (std::size_t i = 0; i < kImageSize; ++i) a[i] ^= b[i];
    return a;
}

std::optional<sql::ResealedImage> sql::resealImage(const DataKey& from, const DataKey& to, const QByteArray& hash,
                                                   const QByteArray& data, const QByteArray& baseHash,
                                                   const QByteArray& baseData) {
    const auto packed = openImage(from, data, hash);
    auto image = packed ? unpack(*packed) : std::nullopt;
    if (image && !baseHash.isNull()) {
        const auto base = openImage(from, baseData, baseHash);
        const auto baseImage = base ? unpack(*base) : std::nullopt;
        image = baseImage ? std::optional<Image>(exclusiveOr(*image, *baseImage)) : std::nullopt;
    }
    if (!image || keyedHash(from, bytesOf(*image)) != hash) return std::nullopt;
    const QByteArray newHash = keyedHash(to, bytesOf(*image));
    return ResealedImage{newHash, sealImage(to, *packed, newHash)};
}

QByteArray Register::hashOf(const Image& image) const {
    // A register sealed by a key this program lacks: nothing is found.
    if (sealed_) return key_ ? keyedHash(*key_, bytesOf(image)) : QByteArray("\0", 1);
    return plainHash(bytesOf(image));
}

bool Register::openImages() {
    if (!keySet_) {
        const KeyState& state = dataKey();
        key_ = state.key;
        previousKey_ = state.previous;
        keyWhy_ = state.why;
    }
    unreadableImages_ = 0;
    std::string sealedBy;
    QSqlQuery query = this->query();
    if (query.exec(
            QStringLiteral("SELECT key, value FROM settings WHERE key IN ('%1', '%2')").arg(kSealedBy, kScrubPending))) {
        bool pending = false;
        while (query.next()) {
            if (query.value("key").toString() == kSealedBy)
                sealedBy = s(query.value("value"));
            else
                pending = true;
        }
        query.finish();
        if (pending) scrub();
    }
    sealed_ = !sealedBy.empty();
    if (key_ && (!sealed_ || sealedBy != key_->id())) {
        if (!sealed_ || (previousKey_ && sealedBy == previousKey_->id())) {
            if (!sealImages(sealedBy)) return false;
        } else {
            imagesNote_ = "the register's images are sealed with another key (" + sealedBy.substr(0, 8) +
                          "…, this computer's is " + key_->id().substr(0, 8) +
                          "…): visits are recorded without images until that key is imported";
            key_.reset();
        }
    } else if (!key_) {
        imagesNote_ = "visits are recorded without images: there is no key (" + keyWhy_ + ")";
    }
    return true;
}

std::optional<std::int64_t> Register::storeImage(const Image& image, std::optional<std::int64_t> near) {
    if (!legacy_ && (!key_ || !sealed_)) {
        fail(imagesNote_);
        return std::nullopt;
    }
    QSqlQuery query = this->query();
    const QByteArray hash = hashOf(image);
    query.prepare(QStringLiteral("SELECT id FROM images WHERE sha256 = ?"));
    query.addBindValue(hash);
    if (!exec(query, "image")) return std::nullopt;
    if (query.next()) return query.value("id").toLongLong();
    QByteArray data = pack(image);
    QVariant baseId;
    if (near) {
        // The difference from the whole image `near` is kept (or is based on)
        // when it is the smaller.
        query.prepare(QStringLiteral("SELECT coalesce(base, id) AS whole FROM images WHERE id = ?"));
        query.addBindValue(static_cast<qlonglong>(*near));
        if (query.exec() && query.next()) {
            const std::int64_t whole = query.value("whole").toLongLong();
            if (const auto base = loadImage(whole)) {
                QByteArray difference = pack(exclusiveOr(image, *base));
                if (difference.size() < data.size()) {
                    data = std::move(difference);
                    baseId = static_cast<qlonglong>(whole);
                }
            }
        }
    }
    query.prepare(QStringLiteral("INSERT INTO images(sha256, data, base) VALUES(?, ?, ?)"));
    query.addBindValue(hash);
    query.addBindValue(sealed_ ? sealImage(*key_, data, hash) : data);
    query.addBindValue(baseId);
    if (!exec(query, "image")) return std::nullopt;
    return query.lastInsertId().toLongLong();
}

std::optional<Image> Register::loadImage(std::int64_t imageId) {
    QSqlQuery query = this->query();
    query.prepare(
        QStringLiteral("SELECT i.data AS data, i.sha256 AS hash, b.data AS base_data, b.sha256 AS base_hash"
                       " FROM images i LEFT JOIN images b ON b.id = i.base AND b.base IS NULL WHERE i.id = ?"));
    query.addBindValue(static_cast<qlonglong>(imageId));
    if (!query.exec() || !query.next()) {
        fail("image", query);
        return std::nullopt;
    }
    if (sealed_ && !key_) {
        ++unreadableImages_;
        fail("the image is sealed with a key this computer lacks; it is kept as it is");
        return std::nullopt;
    }
    // The stored bytes of a row, opened when sealed.
    const auto packed = [this](const QVariant& data, const QVariant& hash) -> std::optional<QByteArray> {
        if (!sealed_) return data.toByteArray();
        return openImage(*key_, data.toByteArray(), hash.toByteArray());
    };
    const auto own = packed(query.value("data"), query.value("hash"));
    auto image = own ? unpack(*own) : std::nullopt;
    if (image && !query.value("base_data").isNull()) {
        const auto base = packed(query.value("base_data"), query.value("base_hash"));
        const auto baseImage = base ? unpack(*base) : std::nullopt;
        image = baseImage ? std::optional<Image>(exclusiveOr(*image, *baseImage)) : std::nullopt;
    }
    if (!image || hashOf(*image) != query.value("hash").toByteArray()) {
        ++unreadableImages_;
        fail(sealed_ ? "an image in the register is damaged or sealed with another key; it is kept as it is"
                     : "a damaged image in the register");
        return std::nullopt;
    }
    return image;
}

namespace {
// An image row as sealing reads it.
struct SealRow {
    qlonglong id;
    QByteArray hash, data;
    std::optional<qlonglong> base;
    std::optional<QByteArray> packed;  // opened
};
}  // namespace

bool Register::sealImages(const std::string& sealedBy) {
    {
        Transaction transaction(database());
        if (!transaction.begun()) return fail("register locked", transaction.query());
        QSqlQuery query = this->query();
        // Another program may have sealed it meanwhile.
        std::string now;
        if (query.exec(QStringLiteral("SELECT value FROM settings WHERE key = '%1'").arg(kSealedBy)) && query.next())
            now = s(query.value("value"));
        query.finish();
        if (now == key_->id() || now != sealedBy) {
            sealed_ = true;
            if (now != key_->id()) {
                imagesNote_ = "the register's images are sealed with another key: visits are recorded without images";
                key_.reset();
            }
            return true;
        }
        const std::optional<DataKey> from = sealedBy.empty() ? std::nullopt : previousKey_;
        std::vector<SealRow> rows;
        std::map<qlonglong, std::size_t> at;
        if (!exec(query, QStringLiteral("SELECT id, sha256, data, base FROM images"), "sealing the register"))
            return false;
        while (query.next()) {
            SealRow r{query.value("id").toLongLong(),
                      query.value("sha256").toByteArray(),
                      query.value("data").toByteArray(),
                      {},
                      {}};
            if (!query.value("base").isNull()) r.base = query.value("base").toLongLong();
            at[r.id] = rows.size();
            rows.push_back(std::move(r));
        }
        query.finish();
        // The image a row holds, its bytes opened with `key` (plain without);
        // nothing when it does not open or its hash is not the image's.
        const auto whole = [&](const SealRow& r, const std::optional<DataKey>& key) -> std::optional<Image> {
            const auto packedOf = [&key](const SealRow& row) {
                return key ? openImage(*key, row.data, row.hash) : std::optional<QByteArray>(row.data);
            };
            const auto packed = packedOf(r);
            auto image = packed ? unpack(*packed) : std::nullopt;
            if (image && r.base) {
                const auto b = at.find(*r.base);
                const SealRow* base = b == at.end() ? nullptr : &rows[b->second];
                const auto basePacked = base && !base->base ? packedOf(*base) : std::nullopt;
                const auto baseImage = basePacked ? unpack(*basePacked) : std::nullopt;
                image = baseImage ? std::optional<Image>(exclusiveOr(*image, *baseImage)) : std::nullopt;
            }
            if (!image) return image;
            const QByteArray check = key ? keyedHash(*key, bytesOf(*image)) : plainHash(bytesOf(*image));
            return check == r.hash ? image : std::nullopt;
        };
        for (SealRow& r : rows) r.packed = from ? openImage(*from, r.data, r.hash) : std::optional<QByteArray>(r.data);
        int damaged = 0;
        // Sealed anew, the image is pushed to the company register again
        // under its new hash.
        query.prepare(QStringLiteral("UPDATE images SET sha256 = ?, data = ?, pushed = 0 WHERE id = ?"));
        for (SealRow& r : rows) {
            // A row already sealed with the new key (pulled from a company
            // register that was sealed again first) stays as it is.
            if (from && !whole(r, from) && whole(r, key_)) continue;
            const auto image = whole(r, from);
            // A damaged entry is kept, sealed as it was found, under a hash
            // no image has; loading it reports it.
            const QByteArray hash = image ? keyedHash(*key_, bytesOf(*image))
                                          : keyedHash(*key_, "damaged image " + QByteArray::number(r.id) + r.hash);
            damaged += image ? 0 : 1;
            query.addBindValue(hash);
            query.addBindValue(sealImage(*key_, r.packed ? *r.packed : r.data, hash));
            query.addBindValue(r.id);
            if (!exec(query, "sealing the register")) return false;
        }
        query.prepare(QStringLiteral("INSERT OR REPLACE INTO settings(key, value) VALUES(?, ?), (?, '1')"));
        query.addBindValue(kSealedBy);
        query.addBindValue(q(key_->id()));
        query.addBindValue(kScrubPending);
        if (!exec(query, "sealing the register")) return false;
        if (!transaction.commit()) return fail("sealing the register", transaction.query());
        unreadableImages_ += damaged;
    }
    sealed_ = true;
    scrub();
    return true;
}

void Register::scrub() {
    // The pages the plain images were on: overwritten in the file (secure
    // delete, then the whole file rewritten), and the journal emptied. Done
    // again at the next open when another program's reading held it up.
    QSqlQuery query = this->query();
    if (!query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")) || !query.next() || query.value("busy").toInt() != 0)
        return;
    query.finish();
    if (!query.exec(QStringLiteral("VACUUM"))) return;
    query.exec(QStringLiteral("DELETE FROM settings WHERE key = '%1'").arg(kScrubPending));
    query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    query.finish();
}

}  // namespace kelvane::registry
