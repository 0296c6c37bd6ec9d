#include "shell/backups.h"

#include "files/data_file.h"
#include "print/qt_path.h"
#include "registry/backup_files.h"
#include "registry/building_register.h"
#include "image/window_data.h"
#include "texts/language_table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <filesystem>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace kelvane::shell {

namespace {
const char kNameFormat[] = "yyyy-MM-dd_HHmmss";
const char kPortMark[] = ", port ";  // both languages' descriptions end with it

int dataRows(const Grid& g) {
    int rows = 0;
    for (int r = 1; r < g.rowCount(); ++r) rows += IsRowEmpty(g, r) ? 0 : 1;
    return rows;
}
}  // namespace

QString defaultBackupFolder() {
#ifdef _WIN32
    return QString::fromStdString(registry::Register::defaultBackupFolder());
#else
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/backups");
#endif
}

QString PreviousBackupFolder() {
#ifdef _WIN32
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/backups");
#else
    return {};
#endif
}

int MoveBackups(const QString& from, const QString& to) {
    if (from.isEmpty() || !QFileInfo(from).isDir()) return 0;
    int moved = 0;
    for (const QFileInfo& info :
         QDir(from).entryInfoList({QStringLiteral("*.kvd"), QStringLiteral("*.kvs")}, QDir::Files | QDir::Hidden)) {
        if (info.isSymLink() || !info.isFile()) continue;
        if (!makePrivateFolder(fsPath(to))) return moved;
        const QString target = QDir(to).filePath(info.fileName());
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) continue;
        std::error_code error;
        std::filesystem::rename(fsPath(info.filePath()), fsPath(target), error);
        if (!error) ++moved;
    }
    return moved;
}

QString backupFileName(const QDateTime& when) {
    return when.toString(QString::fromLatin1(kNameFormat)) + QStringLiteral(".kvd");
}

QString backupDescription(bool upload, const QDateTime& when, const QString& port, int language) {
    const auto message = upload ? texts::Message::BackupUploaded : texts::Message::BackupDownloaded;
    // The format takes the date and time, then the port, each as "%s".
    return fillFields(QString::fromUtf8(texts::messageText(message, language)),
                      {when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), port});
}

QString fillFields(QString format, const QStringList& fields) {
    int at = 0;
    for (const QString& field : fields) {
        at = format.indexOf(QLatin1String("%s"), at);
        if (at < 0) break;
        format.replace(at, 2, field);
        at += field.size();
    }
    return format;
}

QString writeBackupFile(const QString& folder, const Image& image, const QString& description, const QDateTime& when,
                        QString* error) {
    // The backups hold every code and the service password: the folder is
    // the user's alone, and so is each file in it.
    if (!makePrivateFolder(fsPath(folder))) {
        if (error) *error = folder;
        return {};
    }
    const QString stem = QDir(folder).filePath(when.toString(QString::fromLatin1(kNameFormat)));
    // A name taken by a plain or a sealed backup is taken.
    const auto taken = [](const QString& name) {
        return QFileInfo::exists(name + QStringLiteral(".kvd")) || QFileInfo::exists(name + QStringLiteral(".kvs"));
    };
    QString name = stem;
    for (int n = 2; taken(name); ++n) name = stem + QStringLiteral("_%1").arg(n);
    const std::string written =
        registry::writeBackup(fsPath(name + QStringLiteral(".kvd")), image, description.toStdString());
    if (written.empty()) {
        if (error) *error = name + QStringLiteral(".kvd");
        return {};
    }
    return QString::fromStdString(written);
}

void makeBackupsPrivate(const QString& folder) {
    if (!QFileInfo(folder).isDir()) return;
    makePrivateFolder(fsPath(folder));
#ifndef _WIN32
    for (const QFileInfo& info :
         QDir(folder).entryInfoList({QStringLiteral("*.kvd"), QStringLiteral("*.kvs")}, QDir::Files | QDir::Hidden)) {
        if (info.isSymLink() || info.ownerId() != ::geteuid()) continue;
        std::error_code ignored;
        std::filesystem::permissions(fsPath(info.filePath()),
                                     std::filesystem::perms::group_all | std::filesystem::perms::others_all,
                                     std::filesystem::perm_options::remove, ignored);
    }
#endif
    // Backups written without a key are sealed at the first start with one.
    registry::sealBackups(folder.toStdString(), true);
}

namespace {
// The text a description of that kind begins with, up to its date, in every
// language where that beginning tells the kinds apart.
BackupEntry::Source backupSource(const QString& description) {
    for (int language = 0; language < texts::kLanguageCount; ++language) {
        const auto lead = [language](texts::Message m) {
            return QString::fromUtf8(texts::messageText(m, language)).section(QLatin1String("%s"), 0, 0);
        };
        const QString down = lead(texts::Message::BackupDownloaded);
        const QString up = lead(texts::Message::BackupUploaded);
        if (down == up) continue;
        if (description.startsWith(down)) return BackupEntry::Source::Download;
        if (description.startsWith(up)) return BackupEntry::Source::Upload;
    }
    return BackupEntry::Source::Unknown;
}
}  // namespace

std::vector<BackupEntry> listBackups(const QString& folder) {
    static const QRegularExpression name(QStringLiteral("^(\\d{4}-\\d{2}-\\d{2}_\\d{6})(_\\d+)?\\.kv[ds]$"));
    std::vector<BackupEntry> list;
    // Sealed backups (".kvs") open with the data key; one that does not is
    // left out of the list and kept.
    for (const QFileInfo& info :
         QDir(folder).entryInfoList({QStringLiteral("*.kvd"), QStringLiteral("*.kvs")}, QDir::Files)) {
        const QRegularExpressionMatch m = name.match(info.fileName());
        if (!m.hasMatch()) continue;
        const auto file = loadDataFileFrom(fsPath(info.filePath()));
        if (!file) continue;
        BackupEntry e;
        e.path = info.filePath();
        e.when = QDateTime::fromString(m.captured(1), QString::fromLatin1(kNameFormat));
        e.description = QString::fromStdString(file->description).section(QStringLiteral("\r\n"), 0, 0);
        const int mark = e.description.lastIndexOf(QLatin1String(kPortMark));
        if (mark >= 0) e.port = e.description.mid(mark + static_cast<int>(sizeof kPortMark) - 1);
        e.source = backupSource(e.description);
        const WindowData shown = showImage(file->image);
        e.residents = dataRows(shown.grid(GridId::Residents));
        e.keys = dataRows(shown.grid(GridId::Keys));
        list.push_back(std::move(e));
    }
    // Newest first; a later suffix ("_2") within the same second is newer.
    std::sort(list.begin(), list.end(), [](const BackupEntry& a, const BackupEntry& b) {
        if (a.when != b.when) return a.when > b.when;
        const auto suffix = [](const QString& p) {
            const QString base = QFileInfo(p).completeBaseName();
            const int u = base.indexOf(QLatin1Char('_'), 11);
            return u < 0 ? 1 : base.mid(u + 1).toInt();
        };
        return suffix(a.path) > suffix(b.path);
    });
    return list;
}

}  // namespace kelvane::shell
