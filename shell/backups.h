#pragma once
// Automatic backups: a data file of what the controller held, written after
// every completed download and upload into the backup folder, named by the
// local date and time ("2026-12-08_203015.kvd"). Nothing is ever deleted here.
#include "image/image.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

namespace kelvane::shell {

// KelvaneMini's backups, where the register looks for them
// (Register::defaultBackupFolder()): QStandardPaths::AppDataLocation +
// "/backups" on Linux; %LOCALAPPDATA%\Kelvane\KelvaneMini\backups on Windows,
// beside the register, the traces and Orva's backups.
QString defaultBackupFolder();

// Where earlier versions wrote them, when that differs (Windows:
// %APPDATA%\Kelvane\KelvaneMini\backups); empty elsewhere.
QString PreviousBackupFolder();

// Moves the backups (".kvd", ".kvs", not links) of `from` into `to` (made
// private when missing); one whose name `to` already has stays where it is.
// Returns how many were moved.
int MoveBackups(const QString& from, const QString& to);

// The file name for a backup made at `when`: "yyyy-MM-dd_HHmmss.kvd".
QString backupFileName(const QDateTime& when);

// The description line of a backup: what happened, the date and time, the
// port, in the given language.
// A format's "%s" fields filled in order (a field's own "%s" stays as it is).
QString fillFields(QString format, const QStringList& fields);
QString backupDescription(bool upload, const QDateTime& when, const QString& port, int language);

// Writes `image` and `description` into `folder` (made when missing) under
// the name for `when`; a second backup within the same second gets "_2",
// "_3"... The file appears whole or not at all. Returns the path written, or
// an empty text with the reason in `error`.
QString writeBackupFile(const QString& folder, const Image& image, const QString& description, const QDateTime& when,
                        QString* error);

// Takes every right of others from an existing backups folder and its
// backups, as earlier versions left them readable by all (start-up does it).
void makeBackupsPrivate(const QString& folder);

struct BackupEntry {
    QString path;
    QDateTime when;  // from the file name
    QString port;    // from the description; empty when it names none
    QString description;
    int residents = 0;  // rows the window would show
    int keys = 0;
    // What wrote it, read from the description (in any language it was
    // written in); Unknown when the description says neither.
    enum class Source { Unknown, Download, Upload } source = Source::Unknown;
};

// The backups in `folder`, newest first; files whose names are not backup
// names, or that are not data files, are left out.
std::vector<BackupEntry> listBackups(const QString& folder);

}  // namespace kelvane::shell
