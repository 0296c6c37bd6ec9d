#include "registry/building_register.h"

#include "registry/key_store.h"

#include "files/atomic_file.h"
#include "files/data_file.h"
#include "image/change_list.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

#include <atomic>
#include <map>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane::registry {

namespace {

// Each step brings the schema from its index to its index + 1.
const std::vector<std::vector<const char*>> kMigrations = {
    {
        "CREATE TABLE controllers(id INTEGER PRIMARY KEY, device_id INTEGER NOT NULL, serial INTEGER NOT NULL,"
        " first_seen TEXT NOT NULL, last_seen TEXT NOT NULL, firmware INTEGER,"
        " name TEXT NOT NULL DEFAULT '', address TEXT NOT NULL DEFAULT '', notes TEXT NOT NULL DEFAULT '',"
        " UNIQUE(device_id, serial))",
        // Images once each, by their SHA-256, zlib-compressed.
        "CREATE TABLE images(id INTEGER PRIMARY KEY, sha256 BLOB NOT NULL UNIQUE, data BLOB NOT NULL)",
        "CREATE TABLE visits(id INTEGER PRIMARY KEY, controller INTEGER NOT NULL REFERENCES controllers(id),"
        " time TEXT NOT NULL, technician TEXT NOT NULL, port TEXT NOT NULL, kind TEXT NOT NULL,"
        " outcome TEXT NOT NULL, firmware INTEGER, image INTEGER REFERENCES images(id), changes INTEGER)",
    },
    {
        // Imported backups remember their file; saved files their image's
        // origin and base; the image's visits are found without a scan.
        "ALTER TABLE visits ADD COLUMN source TEXT NOT NULL DEFAULT ''",
        "CREATE INDEX visits_by_controller ON visits(controller, time)",
        "CREATE INDEX visits_by_image ON visits(image)",
        "CREATE TABLE saved_files(id INTEGER PRIMARY KEY, path TEXT NOT NULL, time TEXT NOT NULL,"
        " image INTEGER NOT NULL REFERENCES images(id), controller INTEGER REFERENCES controllers(id),"
        " base INTEGER REFERENCES images(id))",
        "CREATE INDEX saved_files_by_image ON saved_files(image)",
        "CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL)",
        // An image may be kept as its difference (XOR) from a whole image of
        // the same controller: a visit's image mostly equals the one before.
        "ALTER TABLE images ADD COLUMN base INTEGER REFERENCES images(id)",
    },
    {
        // Images sealed with the data key, found by a keyed hash (the column
        // keeps its name): an older program must not add plain ones. Sealing
        // itself follows the opening, once there is a key.
        "CREATE INDEX IF NOT EXISTS images_by_base ON images(base)",
    },
};

VisitKind kindFrom(const QString& name) {
    for (int k = 0; k < 5; ++k)
        if (name == QLatin1String(kindName(static_cast<VisitKind>(k)))) return static_cast<VisitKind>(k);
    return VisitKind::Download;
}

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string s(const QVariant& v) { return v.toString().toStdString(); }
std::optional<int> optionalInt(const QVariant& v) {
    if (v.isNull()) return std::nullopt;
    return v.toInt();
}
QVariant variant(const std::optional<int>& v) { return v ? QVariant(*v) : QVariant(); }

QByteArray plainHash(const QByteArray& bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); }
QByteArray bytesOf(const Image& image) {
    return QByteArray(reinterpret_cast<const char*>(image.data()), static_cast<qsizetype>(image.size()));
}
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

const char kVisitColumns[] =
    "v.id, v.time, v.technician, v.port, v.kind, v.outcome, v.firmware, v.image IS NOT NULL, v.changes, v.source";

Visit visitFrom(const QSqlQuery& r) {
    Visit v;
    v.id = r.value(0).toLongLong();
    v.time = s(r.value(1));
    v.technician = s(r.value(2));
    v.port = s(r.value(3));
    v.kind = kindFrom(r.value(4).toString());
    v.outcome = s(r.value(5));
    v.firmware = optionalInt(r.value(6));
    v.hasImage = r.value(7).toBool();
    v.changes = optionalInt(r.value(8));
    v.source = s(r.value(9));
    return v;
}

const char kControllerColumns[] =
    "c.id, c.device_id, c.serial, c.first_seen, c.last_seen, c.firmware, c.name, c.address, c.notes,"
    " (SELECT COUNT(*) FROM visits WHERE controller = c.id)";

Controller controllerFrom(const QSqlQuery& r) {
    Controller c;
    c.id = r.value(0).toLongLong();
    c.key = {r.value(1).toInt(), r.value(2).toInt()};
    c.firstSeen = s(r.value(3));
    c.lastSeen = s(r.value(4));
    c.firmware = optionalInt(r.value(5));
    c.name = s(r.value(6));
    c.address = s(r.value(7));
    c.notes = s(r.value(8));
    c.visits = r.value(9).toInt();
    return c;
}

// The folder KelvaneMini, Orva_Upgrade and kvtool keep their data in.
QString programsDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Kelvane");
}

// The register's file under the file writer's rules, as it holds every code
// of every building. Its folder is made owner-only, and the programs' own data
// folder is narrowed also when it exists (another program may have made it
// with the umask's rights). A link is followed only where the kernel's
// protected-symlinks rule would; the file must be a regular file of this user
// (a planted file or link would take every code to its owner), and one that
// others may read is narrowed. SQLite's companion files beside it must be the
// user's own regular files too.
bool prepareFile(const QString& path, std::string* error) {
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const bool ownFolder = QFileInfo(folder).canonicalFilePath() == QFileInfo(programsDataFolder()).canonicalFilePath();
    if ((!QFileInfo::exists(folder) || ownFolder) && !MakePrivateFolder(PathFromUtf8(folder.toStdString()))) {
        *error = "cannot make the folder " + folder.toStdString();
        return false;
    }
#ifdef Q_OS_UNIX
    const std::string name = path.toStdString();
    const auto refuse = [&](WriteFault fault, int why, const std::string& file) {
        *error = writeFaultReason(fault, why) + ": " + file;
        return false;
    };
    if (const WriteFault fault = CheckWriteTarget(PathFromUtf8(name)); fault != WriteFault::None)
        return refuse(fault, errno, name);
    // SQLite keeps its log and shared memory beside the file the path leads to.
    const QString canonical = info.canonicalFilePath();
    const std::string resolved = (canonical.isEmpty() ? info.absoluteFilePath() : canonical).toStdString();
    struct stat st {};
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        const std::string companion = resolved + suffix;
        if (::lstat(companion.c_str(), &st) != 0) continue;
        if (!S_ISREG(st.st_mode)) return refuse(WriteFault::NotRegular, 0, companion);
        if (st.st_uid != ::geteuid()) {
            *error = "the file belongs to another user: " + companion;
            return false;
        }
    }
    const QByteArray native = QFile::encodeName(path);
    // New: made here, exclusively, never through a link.
    int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0 && errno != EEXIST) return refuse(WriteFault::Failed, errno, name);
    if (fd < 0) {
        // There already: looked at through the open file, so what is checked
        // is what gets narrowed (a FIFO swapped in meanwhile does not block).
        fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return refuse(WriteFault::Failed, errno, name);
    }
    const bool stated = ::fstat(fd, &st) == 0;
    std::string why;
    if (!stated || !S_ISREG(st.st_mode)) {
        why = writeFaultReason(stated ? WriteFault::NotRegular : WriteFault::Failed, errno);
    } else if (st.st_uid != ::geteuid()) {
        why = "the file belongs to another user";
    } else if ((st.st_mode & 077) != 0 && ::fchmod(fd, st.st_mode & 0700) != 0) {
        why = writeFaultReason(WriteFault::Failed, errno);
    }
    ::close(fd);
    if (!why.empty()) {
        *error = why + ": " + name;
        return false;
    }
#endif
    return true;
}

}  // namespace

bool Register::available() { return true; }

bool Register::loadDriver() {
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) return false;
    // The driver's plugin stays loaded once a connection has made it.
    const QString name = QStringLiteral("kelvane-driver");
    bool valid = false;
    { valid = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name).isValid(); }
    QSqlDatabase::removeDatabase(name);
    return valid;
}

Register::Register() {
    static std::atomic<int> counter{0};
    connection_ = "kelvane-register-" + std::to_string(++counter);
}

Register::~Register() {
    if (QSqlDatabase::contains(q(connection_))) {
        { QSqlDatabase::database(q(connection_), false).close(); }
        QSqlDatabase::removeDatabase(q(connection_));
    }
}

bool Register::fail(const std::string& what) {
    error_ = what;
    return false;
}

bool Register::fail(const std::string& what, const QSqlQuery& query) {
    error_ = what + ": " + query.lastError().text().toStdString();
    return false;
}

bool Register::open(const std::string& path, int version) {
    open_ = false;
    path_ = path;
    error_.clear();
    if (version < 0 || version > kSchemaVersion) return fail("no such schema version");
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return fail("the SQLite driver of Qt SQL is not installed");
    if (!prepareFile(q(path), &error_)) return false;
    QSqlDatabase db = QSqlDatabase::contains(q(connection_))
                          ? QSqlDatabase::database(q(connection_), false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), q(connection_));
    db.close();
    db.setDatabaseName(q(path));
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeout_.count()));
    if (!db.open()) return fail("cannot open " + path + ": " + db.lastError().text().toStdString());
    QSqlQuery query(db);
    // A file that is no SQLite database fails here.
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !query.next())
        return fail("not a register: " + path, query);
    query.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    query.exec(QStringLiteral("PRAGMA foreign_keys=ON"));
    // What is deleted or overwritten is overwritten with zeros, not left in
    // free pages.
    query.exec(QStringLiteral("PRAGMA secure_delete=ON"));
    if (!migrate(version)) {
        db.close();
        return false;
    }
    open_ = true;
    sealed_ = false;
    imagesNote_.clear();
    legacy_ = version < 3;
    if (legacy_) return true;  // a test's older register: plain, as it was
    if (!keySet_) {
        const KeyState& state = dataKey();
        key_ = state.key;
        previousKey_ = state.previous;
        keyWhy_ = state.why;
    }
    unreadableImages_ = 0;
    std::string sealedBy;
    if (query.exec(
            QStringLiteral("SELECT key, value FROM settings WHERE key IN ('%1', '%2')").arg(kSealedBy, kScrubPending))) {
        bool pending = false;
        while (query.next()) {
            if (query.value(0).toString() == kSealedBy)
                sealedBy = s(query.value(1));
            else
                pending = true;
        }
        query.finish();
        if (pending) scrub();
    }
    sealed_ = !sealedBy.empty();
    if (key_ && (!sealed_ || sealedBy != key_->id())) {
        if (!sealed_ || (previousKey_ && sealedBy == previousKey_->id())) {
            if (!sealImages(sealedBy)) {
                db.close();
                open_ = false;
                return false;
            }
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

void Register::setDataKey(const std::optional<DataKey>& key, const std::string& why,
                          const std::optional<DataKey>& previous) {
    key_ = key;
    previousKey_ = previous;
    keyWhy_ = why;
    keySet_ = true;
}

QByteArray Register::hashOf(const Image& image) const {
    // A register sealed by a key this program lacks: nothing is found.
    if (sealed_) return key_ ? keyedHash(*key_, bytesOf(image)) : QByteArray("\0", 1);
    return plainHash(bytesOf(image));
}

int Register::schemaVersion() {
    QSqlQuery query(QSqlDatabase::database(q(connection_), false));
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) return -1;
    return query.value(0).toInt();
}

bool Register::migrate(int version) {
    QSqlDatabase db = QSqlDatabase::database(q(connection_), false);
    QSqlQuery query(db);
    // The write lock first, so two programs starting at once migrate once.
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE"))) return fail("register locked", query);
    const int current = schemaVersion();
    if (current < 0 || current > kSchemaVersion) {
        query.exec(QStringLiteral("ROLLBACK"));
        return fail(current < 0 ? "not a register: " + path_
                                : "the register " + path_ + " was written by a newer program (schema " +
                                      std::to_string(current) + ")");
    }
    for (int step = current; step < version; ++step) {
        for (const char* statement : kMigrations[static_cast<std::size_t>(step)]) {
            if (!query.exec(QString::fromLatin1(statement))) {
                const bool r = fail("schema " + std::to_string(step + 1), query);
                query.exec(QStringLiteral("ROLLBACK"));
                return r;
            }
        }
        query.exec(QStringLiteral("PRAGMA user_version=%1").arg(step + 1));
    }
    if (!query.exec(QStringLiteral("COMMIT"))) {
        query.exec(QStringLiteral("ROLLBACK"));
        return fail("schema", query);
    }
    return true;
}

std::optional<std::int64_t> Register::controllerId(const ControllerKey& key) {
    QSqlQuery query(QSqlDatabase::database(q(connection_), false));
    query.prepare(QStringLiteral("SELECT id FROM controllers WHERE device_id = ? AND serial = ?"));
    query.addBindValue(key.deviceId);
    query.addBindValue(key.serialNumber);
    if (!query.exec()) {
        fail("lookup", query);
        return std::nullopt;
    }
    if (!query.next()) return std::nullopt;
    return query.value(0).toLongLong();
}

std::optional<Controller> Register::controller(const ControllerKey& key) {
    if (!open_) return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(q(connection_), false));
    query.prepare(QStringLiteral("SELECT %1 FROM controllers c WHERE device_id = ? AND serial = ?")
                      .arg(QLatin1String(kControllerColumns)));
    query.addBindValue(key.deviceId);
    query.addBindValue(key.serialNumber);
    if (!query.exec()) {
        fail("lookup", query);
        return std::nullopt;
    }
    if (!query.next()) return std::nullopt;
    return controllerFrom(query);
}

std::vector<Controller> Register::controllers(const std::string& search) {
    std::vector<Controller> out;
    if (!open_) return out;
    QSqlQuery query(QSqlDatabase::database(q(connection_), false));
    query.setForwardOnly(true);
    // SQLite folds ASCII case only: names and addresses are matched here.
    query.prepare(QStringLiteral("SELECT %1 FROM controllers c ORDER BY c.name = '', c.name, c.serial, c.device_id")
                      .arg(QLatin1String(kControllerColumns)));
    if (!query.exec()) {
        fail("list", query);
        return out;
    }
    const QString wanted = q(search);
    while (query.next()) {
        if (!wanted.isEmpty() && !query.value(6).toString().contains(wanted, Qt::CaseInsensitive) &&
            !query.value(7).toString().contains(wanted, Qt::CaseInsensitive) && !query.value(2).toString().contains(wanted))
            continue;
        out.push_back(controllerFrom(query));
    }
    return out;
}

std::vector<Visit> Register::visits(const ControllerKey& key) {
    std::vector<Visit> out;
    if (!open_) return out;
    QSqlQuery query(QSqlDatabase::database(q(connection_), false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM visits v JOIN controllers c ON c.id = v.controller"
                                 " WHERE c.device_id = ? AND c.serial = ? ORDER BY v.time DESC, v.id DESC")
                      .arg(QLatin1String(kVisitColumns)));
    query.addBindValue(key.deviceId);
    query.addBindValue(key.serialNumber);
    if (!query.exec()) {
        fail("visits", query);
        return out;
    }
    while (query.next()) out.push_back(visitFrom(query));
    return out;
}

std::optional<Visit> Register::visit(const ControllerKey& key, std::int64_t visitId) {
    if (!open_) return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(q(connection_), false));
    query.prepare(QStringLiteral("SELECT %1 FROM visits v JOIN controllers c ON c.id = v.controller"
                                 " WHERE c.device_id = ? AND c.serial = ? AND v.id = ?")
                      .arg(QLatin1String(kVisitColumns)));
    query.addBindValue(key.deviceId);
    query.addBindValue(key.serialNumber);
    query.addBindValue(static_cast<qlonglong>(visitId));
    if (!query.exec() || !query.next()) return std::nullopt;
    return visitFrom(query);
}

namespace {

// The bytes of a compressed image or difference; nothing when damaged.
// qUncompress trusts the length in front: anything but an image's is refused
// before it allocates.
std::optional<Image> unpack(const QByteArray& packed) {
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

QByteArray pack(const Image& image) {
    return qCompress(reinterpret_cast<const uchar*>(image.data()), static_cast<qsizetype>(kImageSize), 9);
}

Image exclusiveOr(Image a, const Image& b) {
    for (std::size_t i = 0; i < kImageSize; ++i) a[i] ^= b[i];
    return a;
}

}  // namespace

std::optional<Image> Register::loadImage(std::int64_t imageId) {
    QSqlQuery query(QSqlDatabase::database(q(connection_), false));
    query.prepare(
        QStringLiteral("SELECT i.data, i.sha256, b.data, b.sha256 FROM images i LEFT JOIN images b"
                       " ON b.id = i.base AND b.base IS NULL WHERE i.id = ?"));
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
    const auto own = packed(query.value(0), query.value(1));
    auto image = own ? unpack(*own) : std::nullopt;
    if (image && !query.value(2).isNull()) {
        const auto base = packed(query.value(2), query.value(3));
        const auto baseImage = base ? unpack(*base) : std::nullopt;
        image = baseImage ? std::optional<Image>(exclusiveOr(*image, *baseImage)) : std::nullopt;
    }
    if (!image || hashOf(*image) != query.value(1).toByteArray()) {
        ++unreadableImages_;
        fail(sealed_ ? "an image in the register is damaged or sealed with another key; it is kept as it is"
                     : "a damaged image in the register");
        return std::nullopt;
    }
    return image;
}

bool Register::sealImages(const std::string& sealedBy) {
    QSqlDatabase db = QSqlDatabase::database(q(connection_), false);
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("BEGIN IMMEDIATE"))) return fail("register locked", query);
        // Another program may have sealed it meanwhile.
        std::string now;
        if (query.exec(QStringLiteral("SELECT value FROM settings WHERE key = '%1'").arg(kSealedBy)) && query.next())
            now = s(query.value(0));
        query.finish();
        if (now == key_->id() || now != sealedBy) {
            query.exec(QStringLiteral("ROLLBACK"));
            sealed_ = true;
            if (now != key_->id()) {
                imagesNote_ = "the register's images are sealed with another key: visits are recorded without images";
                key_.reset();
            }
            return true;
        }
        const std::optional<DataKey> from = sealedBy.empty() ? std::nullopt : previousKey_;
        struct Row {
            qlonglong id;
            QByteArray hash, data;
            std::optional<qlonglong> base;
            std::optional<QByteArray> packed;  // opened
            std::optional<Image> image;        // whole, checked
        };
        std::vector<Row> rows;
        std::map<qlonglong, std::size_t> at;
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("SELECT id, sha256, data, base FROM images"))) {
            query.exec(QStringLiteral("ROLLBACK"));
            return fail("sealing the register", query);
        }
        while (query.next()) {
            Row r{query.value(0).toLongLong(), query.value(1).toByteArray(), query.value(2).toByteArray(), {}, {}, {}};
            if (!query.value(3).isNull()) r.base = query.value(3).toLongLong();
            at[r.id] = rows.size();
            rows.push_back(std::move(r));
        }
        query.finish();
        for (Row& r : rows) r.packed = from ? openImage(*from, r.data, r.hash) : std::optional<QByteArray>(r.data);
        const auto whole = [&](const Row& r) -> std::optional<Image> {
            if (!r.packed) return std::nullopt;
            auto image = unpack(*r.packed);
            if (image && r.base) {
                const auto b = at.find(*r.base);
                const Row* base = b == at.end() ? nullptr : &rows[b->second];
                const auto baseImage = base && !base->base && base->packed ? unpack(*base->packed) : std::nullopt;
                image = baseImage ? std::optional<Image>(exclusiveOr(*image, *baseImage)) : std::nullopt;
            }
            if (!image) return image;
            const QByteArray check = from ? keyedHash(*from, bytesOf(*image)) : plainHash(bytesOf(*image));
            return check == r.hash ? image : std::nullopt;
        };
        int damaged = 0;
        query.prepare(QStringLiteral("UPDATE images SET sha256 = ?, data = ? WHERE id = ?"));
        for (Row& r : rows) {
            const auto image = whole(r);
            // A damaged entry is kept, sealed as it was found, under a hash
            // no image has; loading it reports it.
            const QByteArray hash = image ? keyedHash(*key_, bytesOf(*image))
                                          : keyedHash(*key_, "damaged image " + QByteArray::number(r.id) + r.hash);
            damaged += image ? 0 : 1;
            query.addBindValue(hash);
            query.addBindValue(sealImage(*key_, r.packed ? *r.packed : r.data, hash));
            query.addBindValue(r.id);
            if (!query.exec()) {
                const bool failed = fail("sealing the register", query);
                query.exec(QStringLiteral("ROLLBACK"));
                return failed;
            }
        }
        query.prepare(QStringLiteral("INSERT OR REPLACE INTO settings(key, value) VALUES(?, ?), (?, '1')"));
        query.addBindValue(kSealedBy);
        query.addBindValue(q(key_->id()));
        query.addBindValue(kScrubPending);
        if (!query.exec() || !query.exec(QStringLiteral("COMMIT"))) {
            const bool failed = fail("sealing the register", query);
            query.exec(QStringLiteral("ROLLBACK"));
            return failed;
        }
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
    QSqlQuery query(QSqlDatabase::database(q(connection_), false));
    if (!query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")) || !query.next() || query.value(0).toInt() != 0)
        return;
    query.finish();
    if (!query.exec(QStringLiteral("VACUUM"))) return;
    query.exec(QStringLiteral("DELETE FROM settings WHERE key = '%1'").arg(kScrubPending));
    query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    query.finish();
}

std::optional<Image> Register::visitImage(const ControllerKey& key, std::int64_t visitId) {
    if (!open_) return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(q(connection_), false));
    query.prepare(
        QStringLiteral("SELECT v.image FROM visits v JOIN controllers c ON c.id = v.controller"
                       " WHERE c.device_id = ? AND c.serial = ? AND v.id = ? AND v.image IS NOT NULL"));
    query.addBindValue(key.deviceId);
    query.addBindValue(key.serialNumber);
    query.addBindValue(static_cast<qlonglong>(visitId));
    if (!query.exec() || !query.next()) return std::nullopt;
    return loadImage(query.value(0).toLongLong());
}

bool Register::describe(const ControllerKey& key, const std::string& name, const std::string& address,
                        const std::optional<std::string>& notes) {
    if (!open_) return fail("the register is not open");
    const std::string noteText = notes.value_or("");
    const struct {
        const char* field;
        const std::string& text;
        int limit;
    } fields[] = {
        {"name", name, kMaxNameLength}, {"address", address, kMaxAddressLength}, {"notes", noteText, kMaxNotesLength}};
    for (const auto& f : fields)
        if (q(f.text).toUcs4().size() > f.limit)
            return fail(std::string("the ") + f.field + " is longer than " + std::to_string(f.limit) + " characters");
    QSqlQuery query(QSqlDatabase::database(q(connection_), false));
    const std::string t = now();
    query.prepare(
        QStringLiteral("INSERT INTO controllers(device_id, serial, first_seen, last_seen, name, address, notes)"
                       " VALUES(?, ?, ?, ?, ?, ?, ?) ON CONFLICT(device_id, serial) DO UPDATE SET name = excluded.name,"
                       " address = excluded.address, notes = CASE WHEN ? THEN excluded.notes ELSE notes END"));
    query.addBindValue(key.deviceId);
    query.addBindValue(key.serialNumber);
    query.addBindValue(q(t));
    query.addBindValue(q(t));
    query.addBindValue(q(name));
    query.addBindValue(q(address));
    query.addBindValue(q(notes.value_or("")));
    query.addBindValue(notes.has_value());
    if (!query.exec()) return fail("name", query);
    return true;
}

std::optional<std::int64_t> Register::storeImage(const Image& image, std::optional<std::int64_t> near) {
    if (!legacy_ && (!key_ || !sealed_)) {
        fail(imagesNote_);
        return std::nullopt;
    }
    QSqlQuery query(QSqlDatabase::database(q(connection_), false));
    const QByteArray hash = hashOf(image);
    query.prepare(QStringLiteral("SELECT id FROM images WHERE sha256 = ?"));
    query.addBindValue(hash);
    if (!query.exec()) {
        fail("image", query);
        return std::nullopt;
    }
    if (query.next()) return query.value(0).toLongLong();
    QByteArray data = pack(image);
    QVariant baseId;
    if (near) {
        // The difference from the whole image `near` is kept (or is based on)
        // when it is the smaller.
        query.prepare(QStringLiteral("SELECT coalesce(base, id) FROM images WHERE id = ?"));
        query.addBindValue(static_cast<qlonglong>(*near));
        if (query.exec() && query.next()) {
            const std::int64_t whole = query.value(0).toLongLong();
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
    if (!query.exec()) {
        fail("image", query);
        return std::nullopt;
    }
    return query.lastInsertId().toLongLong();
}

namespace {
// Ends the transaction it began: rolled back unless committed.
class Transaction {
public:
    explicit Transaction(const QSqlDatabase& db) : query_(db) {
        begun_ = query_.exec(QStringLiteral("BEGIN IMMEDIATE"));
    }
    ~Transaction() {
        if (begun_) query_.exec(QStringLiteral("ROLLBACK"));
    }
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
}  // namespace

std::optional<Recorded> Register::recordVisit(const NewVisit& v) {
    if (!open_) {
        fail(error_.empty() ? "the register is not open" : error_);
        return std::nullopt;
    }
    QSqlDatabase db = QSqlDatabase::database(q(connection_), false);
    Transaction transaction(db);
    if (!transaction.begun()) {
        fail("register locked", transaction.query());
        return std::nullopt;
    }
    const std::string time = v.time.empty() ? now() : v.time;
    Recorded rec;
    QSqlQuery query(db);
    auto id = controllerId(v.key);
    if (!id) {
        query.prepare(QStringLiteral(
            "INSERT INTO controllers(device_id, serial, first_seen, last_seen, firmware) VALUES(?, ?, ?, ?, ?)"));
        query.addBindValue(v.key.deviceId);
        query.addBindValue(v.key.serialNumber);
        query.addBindValue(q(time));
        query.addBindValue(q(time));
        query.addBindValue(variant(v.firmware));
        if (!query.exec()) {
            fail("controller", query);
            return std::nullopt;
        }
        id = query.lastInsertId().toLongLong();
        rec.newController = true;
    } else {
        query.prepare(
            QStringLiteral("UPDATE controllers SET last_seen = max(last_seen, ?),"
                           " first_seen = min(first_seen, ?), firmware = coalesce(?, firmware) WHERE id = ?"));
        query.addBindValue(q(time));
        query.addBindValue(q(time));
        query.addBindValue(variant(v.firmware));
        query.addBindValue(static_cast<qlonglong>(*id));
        if (!query.exec()) {
            fail("controller", query);
            return std::nullopt;
        }
    }
    std::optional<std::int64_t> imageId;
    // Without the key the visit is kept without its image (imagesNote()).
    if (v.image && imagesNote_.empty()) {
        query.prepare(QStringLiteral("SELECT %1, v.image FROM visits v WHERE v.controller = ? AND v.image IS NOT NULL"
                                     " ORDER BY v.time DESC, v.id DESC LIMIT 1")
                          .arg(QLatin1String(kVisitColumns)));
        query.addBindValue(static_cast<qlonglong>(*id));
        if (!query.exec()) {
            fail("previous visit", query);
            return std::nullopt;
        }
        std::optional<Visit> previous;
        std::optional<std::int64_t> previousImage;
        if (query.next()) {
            previous = visitFrom(query);
            previousImage = query.value(10).toLongLong();
        }
        imageId = storeImage(*v.image, previousImage);
        if (!imageId) return std::nullopt;
        if (previous) {
            if (*previousImage == *imageId) {
                rec.changes = 0;
            } else if (auto before = loadImage(*previousImage)) {
                rec.changes = changeCount(*before, *v.image);
                rec.previous = previous;
                rec.previousImage = before;
            }
        }
    }
    query.prepare(
        QStringLiteral("INSERT INTO visits(controller, time, technician, port, kind, outcome, firmware,"
                       " image, changes, source) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    query.addBindValue(static_cast<qlonglong>(*id));
    query.addBindValue(q(time));
    query.addBindValue(q(v.technician.empty() ? systemUser() : v.technician));
    query.addBindValue(q(v.port));
    query.addBindValue(QString::fromLatin1(kindName(v.kind)));
    query.addBindValue(q(v.outcome));
    query.addBindValue(variant(v.firmware));
    query.addBindValue(imageId ? QVariant(static_cast<qlonglong>(*imageId)) : QVariant());
    query.addBindValue(variant(rec.changes));
    query.addBindValue(q(v.source));
    if (!query.exec()) {
        fail("visit", query);
        return std::nullopt;
    }
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
    QSqlDatabase db = QSqlDatabase::database(q(connection_), false);
    // A saved file is recorded by its image: without the key there is
    // nothing to keep (imagesNote() has said why).
    if (!imagesNote_.empty()) return true;
    Transaction transaction(db);
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
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO saved_files(path, time, image, controller, base) VALUES(?, ?, ?, ?, ?)"));
    query.addBindValue(QFileInfo(q(path)).absoluteFilePath());
    query.addBindValue(q(now()));
    query.addBindValue(static_cast<qlonglong>(*imageId));
    query.addBindValue(controller ? QVariant(static_cast<qlonglong>(*controller)) : QVariant());
    query.addBindValue(baseId ? QVariant(static_cast<qlonglong>(*baseId)) : QVariant());
    if (!query.exec()) return fail("saved file", query);
    return transaction.commit() || fail("saved file", transaction.query());
}

std::vector<Controller> Register::originsOf(const Image& image) {
    std::vector<Controller> out;
    if (!open_) return out;
    QSqlQuery query(QSqlDatabase::database(q(connection_), false));
    // Every use of the image by a known controller: a saved file or a visit.
    query.prepare(
        QStringLiteral("SELECT %1 FROM controllers c JOIN ("
                       "  SELECT f.controller AS cid, f.time AS t FROM saved_files f JOIN images i ON i.id = f.image"
                       "   WHERE i.sha256 = :h AND f.controller IS NOT NULL"
                       "  UNION ALL"
                       "  SELECT v.controller, v.time FROM visits v JOIN images i ON i.id = v.image WHERE i.sha256 = :h"
                       ") u ON u.cid = c.id WHERE c.device_id >= 0 GROUP BY c.id ORDER BY max(u.t) DESC")
            .arg(QLatin1String(kControllerColumns)));
    query.bindValue(QStringLiteral(":h"), hashOf(image));
    if (!query.exec()) {
        fail("origin", query);
        return out;
    }
    while (query.next()) out.push_back(controllerFrom(query));
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

std::optional<Image> Register::baseImageFor(const Image& working, std::string* when) {
    if (!open_) return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(q(connection_), false));
    // When the base was read: the latest visit that had it.
    const auto readAt = [&](const Image& base, const QString& otherwise) {
        if (!when) return;
        *when = otherwise.toStdString();
        QSqlQuery visit(QSqlDatabase::database(q(connection_), false));
        visit.prepare(QStringLiteral("SELECT max(v.time) FROM visits v JOIN images i ON i.id = v.image WHERE i.sha256 = ?"));
        visit.addBindValue(hashOf(base));
        if (visit.exec() && visit.next() && !visit.value(0).isNull()) *when = visit.value(0).toString().toStdString();
    };
    query.prepare(
        QStringLiteral("SELECT f.base, f.time FROM saved_files f JOIN images i ON i.id = f.image"
                       " WHERE i.sha256 = ? AND f.base IS NOT NULL ORDER BY f.time DESC, f.id DESC LIMIT 1"));
    query.addBindValue(hashOf(working));
    if (query.exec() && query.next()) {
        const QString saved = query.value(1).toString();
        auto base = loadImage(query.value(0).toLongLong());
        if (base) readAt(*base, saved);
        return base;
    }
    query.prepare(QStringLiteral("SELECT 1 FROM visits v JOIN images i ON i.id = v.image WHERE i.sha256 = ? LIMIT 1"));
    query.addBindValue(hashOf(working));
    if (query.exec() && query.next()) {
        readAt(working, QString());
        return working;
    }
    return std::nullopt;
}

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
        QSqlQuery seen(QSqlDatabase::database(q(connection_), false));
        seen.prepare(QStringLiteral("SELECT 1 FROM visits WHERE source = ? LIMIT 1"));
        seen.addBindValue(q(source));
        if (!seen.exec()) {
            fail("backups", seen);
            return std::nullopt;
        }
        if (seen.next()) continue;
        const auto data = LoadDataFile(source);  // bounded: a data file's size at most
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
    QSqlQuery query(QSqlDatabase::database(q(connection_), false));
    if (!query.exec(QStringLiteral("SELECT 1 FROM settings WHERE key = 'backups imported'"))) {
        fail("backups", query);
        return std::nullopt;
    }
    if (query.next()) return 0;
    const auto n = importBackups(folder);
    if (!n) return n;
    if (!query.exec(QStringLiteral("INSERT OR IGNORE INTO settings(key, value) VALUES('backups imported', '1')"))) {
        fail("backups", query);
        return std::nullopt;
    }
    return n;
}

}  // namespace kelvane::registry
