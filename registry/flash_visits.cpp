#include "registry/flash_visits.h"

#include "registry/backup_files.h"

#include "files/atomic_file.h"
#include "files/data_file.h"

#include <QDateTime>
#include <QStandardPaths>
#include <QString>

namespace kelvane::registry {

namespace {

using bootloader::JobResult;

const char* outcomeWord(JobResult result) {
    switch (result) {
    case JobResult::Done: return "completed";
    case JobResult::Changed: return "completed, configuration changed";
    case JobResult::PortError: return "port error";
    case JobResult::NoController:
    case JobResult::NotBack: return "no answer";
    case JobResult::LineBusy: return "line busy";
    case JobResult::BackupFailed: return "backup failed";
    case JobResult::FlashFailed: return "programming error";
    case JobResult::VerifyFailed: return "verify failed";
    case JobResult::RestoreFailed: return "restore failed";
    case JobResult::Stopped: return "cancelled";
    }
    return "unknown";
}

ControllerKey keyOf(const link::ProbeReply& reply) { return {reply.id, reply.serialNumber}; }

}  // namespace

std::string flashBackupFolder() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return (data + QStringLiteral("/Kelvane/Orva_Upgrade/backups")).toStdString();
}

std::string keepFlashBackup(const Image& image, const link::ProbeReply& id) {
    const std::filesystem::path folder = PathFromUtf8(flashBackupFolder());
    // Both folders private: the backup holds every code of the building.
    if (!MakePrivateFolder(folder) || !MakePrivateFolder(folder.parent_path())) return {};
    const QString name = QStringLiteral("before-flash-%1-%2.kvd")
                             .arg(id.serialNumber)
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const std::filesystem::path file = folder / PathFromUtf8(name.toStdString());
    const std::string description = "ID " + std::to_string(id.id) + ", serial " + std::to_string(id.serialNumber) +
                                    ", firmware " + std::to_string(id.firmware) + ": before a flash";
    return writeBackup(file, image, description);
}

std::vector<NewVisit> flashVisits(const bootloader::JobOutcome& job, const std::string& port) {
    std::vector<NewVisit> visits;
    const auto& identity = job.before ? job.before : job.after;
    if (!identity) return visits;
    NewVisit v;
    v.key = keyOf(*identity);
    v.port = port;
    if (job.backup && job.before) {
        v.kind = VisitKind::Backup;
        v.firmware = job.before->firmware;
        v.image = *job.backup;
        visits.push_back(v);
    }
    v.kind = VisitKind::Flash;
    v.firmware = identity->firmware;
    v.image = job.now;
    v.outcome = outcomeWord(job.result);
    if (job.before && job.after) {
        v.firmware = job.after->firmware;
        v.outcome += ", firmware " + std::to_string(job.before->firmware) + " -> " + std::to_string(job.after->firmware);
    }
    visits.push_back(v);
    return visits;
}

bool recordFlash(Register& reg, const bootloader::JobOutcome& job, const std::string& port, std::string& why) {
    for (const NewVisit& v : flashVisits(job, port)) {
        if (!reg.recordVisit(v)) {
            why = reg.error();
            return false;
        }
    }
    if (!job.backupPath.empty() && job.backup && job.before &&
        !reg.recordSavedFile(job.backupPath, *job.backup, keyOf(*job.before), *job.backup)) {
        why = reg.error();
        return false;
    }
    return true;
}

bool recordRestore(Register& reg, const bootloader::JobOutcome& restored, const std::string& port, std::string& why) {
    const auto& identity = restored.after ? restored.after : restored.before;
    if (!identity) return true;
    NewVisit v;
    v.key = keyOf(*identity);
    v.firmware = identity->firmware;
    v.kind = VisitKind::Upload;
    v.port = port;
    v.outcome = restored.result == JobResult::Done ? "completed" : outcomeWord(restored.result);
    v.image = restored.now;
    if (reg.recordVisit(v)) return true;
    why = reg.error();
    return false;
}

}  // namespace kelvane::registry
