// The register's file and schema: opening it under the file writer's rules,
// the migrations from one schema version to the next, and the one way every
// query is run.
#include "registry/building_register.h"

#include "registry/register_sql.h"

#include "files/atomic_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QStandardPaths>

#include <atomic>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane::registry {

using namespace sql;

namespace {

// A random (version 4) UUID in SQL, for rows recorded before visits had one.
#define UUID_SQL                                                                                               \
    "lower(hex(randomblob(4)) || '-' || hex(randomblob(2)) || '-4' || substr(hex(randomblob(2)), 2) || '-' ||" \
    " substr('89ab', 1 + abs(random()) % 4, 1) || substr(hex(randomblob(2)), 2) || '-' || hex(randomblob(6)))"

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
    {
        // The company register: visits and saved files known everywhere by a
        // UUID made where they were recorded; the building's fields with the
        // time (UTC) and author of their edit, and the edits newer ones
        // replaced; what has reached the server (a controller's `changed`
        // counts its edits since).
        "ALTER TABLE visits ADD COLUMN uuid TEXT",
        "ALTER TABLE visits ADD COLUMN pushed INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE saved_files ADD COLUMN uuid TEXT",
        "ALTER TABLE saved_files ADD COLUMN pushed INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE images ADD COLUMN pushed INTEGER NOT NULL DEFAULT 0",
        "UPDATE visits SET uuid = " UUID_SQL " WHERE uuid IS NULL",
        "UPDATE saved_files SET uuid = " UUID_SQL " WHERE uuid IS NULL",
        "CREATE UNIQUE INDEX visits_by_uuid ON visits(uuid)",
        "CREATE UNIQUE INDEX saved_files_by_uuid ON saved_files(uuid)",
        "CREATE INDEX visits_to_push ON visits(pushed) WHERE pushed = 0",
        "CREATE INDEX saved_files_to_push ON saved_files(pushed) WHERE pushed = 0",
        "CREATE INDEX images_to_push ON images(pushed) WHERE pushed = 0",
        "ALTER TABLE controllers ADD COLUMN name_at TEXT NOT NULL DEFAULT ''",
        "ALTER TABLE controllers ADD COLUMN name_by TEXT NOT NULL DEFAULT ''",
        "ALTER TABLE controllers ADD COLUMN address_at TEXT NOT NULL DEFAULT ''",
        "ALTER TABLE controllers ADD COLUMN address_by TEXT NOT NULL DEFAULT ''",
        "ALTER TABLE controllers ADD COLUMN notes_at TEXT NOT NULL DEFAULT ''",
        "ALTER TABLE controllers ADD COLUMN notes_by TEXT NOT NULL DEFAULT ''",
        "ALTER TABLE controllers ADD COLUMN changed INTEGER NOT NULL DEFAULT 1",
        "CREATE TABLE field_history(id INTEGER PRIMARY KEY, controller INTEGER NOT NULL REFERENCES controllers(id),"
        " field TEXT NOT NULL, value TEXT NOT NULL, edited_at TEXT NOT NULL, edited_by TEXT NOT NULL,"
        " replaced_at TEXT NOT NULL, pushed INTEGER NOT NULL DEFAULT 0,"
        " UNIQUE(controller, field, value, edited_at, edited_by))",
    },
    {
        // Which fields were edited here since they were last sent (a bit
        // each: name 1, address 2, notes 4), which visits and saved files
        // came from the company register, and the visits and files the
        // company withdrew (a forged row: kept, never used).
        "ALTER TABLE controllers ADD COLUMN edited INTEGER NOT NULL DEFAULT 0",
        "UPDATE controllers SET edited = (name_at <> '') + 2 * (address_at <> '') + 4 * (notes_at <> '') WHERE changed > 0",
        "ALTER TABLE visits ADD COLUMN pulled INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE saved_files ADD COLUMN pulled INTEGER NOT NULL DEFAULT 0",
        "CREATE TABLE withdrawn(uuid TEXT PRIMARY KEY, reason TEXT NOT NULL)",
    },
};

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
    if ((!QFileInfo::exists(folder) || ownFolder) && !makePrivateFolder(pathFromUtf8(folder.toStdString()))) {
        *error = "cannot make the folder " + folder.toStdString();
        return false;
    }
#ifdef Q_OS_UNIX
    const std::string name = path.toStdString();
    const auto refuse = [&](WriteFault fault, int why, const std::string& file) {
        *error = writeFaultReason(fault, why) + ": " + file;
        return false;
    };
    if (const WriteFault fault = checkWriteTarget(pathFromUtf8(name)); fault != WriteFault::None)
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

QSqlDatabase Register::database() const { return QSqlDatabase::database(q(connection_), false); }

QSqlQuery Register::query() const {
    QSqlQuery query(database());
    query.setForwardOnly(true);
    return query;
}

bool Register::exec(QSqlQuery& query, const std::string& what) { return query.exec() || fail(what, query); }

bool Register::exec(QSqlQuery& query, const QString& sql, const std::string& what) {
    return query.exec(sql) || fail(what, query);
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
    version_ = version;
    if (legacy_) return true;  // a test's older register: plain, as it was
    if (!openImages()) {
        db.close();
        open_ = false;
        return false;
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

std::optional<std::string> Register::sealingKeyId(std::string* why) const {
    if (why) why->clear();
    if (open_ && imagesNote_.empty() && key_ && sealed_) return key_->id();
    if (why) *why = !open_ ? (error_.empty() ? "the register is not open" : error_) : imagesNote_;
    return std::nullopt;
}

QString Register::notWithdrawn(const char* alias) const {
    if (version_ < 5) return QString();
    return QStringLiteral(" AND %1.uuid NOT IN (SELECT uuid FROM withdrawn)").arg(QLatin1String(alias));
}

int Register::schemaVersion() {
    QSqlQuery query = this->query();
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) return -1;
    return query.value("user_version").toInt();
}

bool Register::migrate(int version) {
    // The write lock first, so two programs starting at once migrate once.
    Transaction transaction(database());
    if (!transaction.begun()) return fail("register locked", transaction.query());
    const int current = schemaVersion();
    if (current < 0 || current > kSchemaVersion)
        return fail(current < 0 ? "not a register: " + path_
                                : "the register " + path_ + " was written by a newer program (schema " +
                                      std::to_string(current) + ")");
    QSqlQuery query = this->query();
    for (int step = current; step < version; ++step) {
        for (const char* statement : kMigrations[static_cast<std::size_t>(step)])
            if (!exec(query, QString::fromLatin1(statement), "schema " + std::to_string(step + 1))) return false;
        if (!exec(query, QStringLiteral("PRAGMA user_version=%1").arg(step + 1), "schema")) return false;
    }
    return transaction.commit() || fail("schema", transaction.query());
}

}  // namespace kelvane::registry
