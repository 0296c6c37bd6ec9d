#include "jobs/flash_visits.h"

#include "jobs/work_origin.h"

#include "registry/backup_files.h"

#include "files/atomic_file.h"
#include "files/data_file.h"
#include "files/trace_store.h"

namespace kelvane::jobs {

namespace {

using registry::ControllerKey;
using registry::NewVisit;
using registry::Register;
using registry::VisitKind;

const char* outcomeWord(JobEnd result) {
    switch (result) {
    case JobEnd::Done: return "completed";
    case JobEnd::Changed: return "completed, configuration changed";
    case JobEnd::PortError: return "port error";
    case JobEnd::NoController:
    case JobEnd::NotBack: return "no answer";
    case JobEnd::LineBusy: return "line busy";
    case JobEnd::BackupFailed: return "backup failed";
    case JobEnd::FlashFailed: return "programming error";
    case JobEnd::VerifyFailed: return "verify failed";
    case JobEnd::RestoreFailed: return "restore failed";
    case JobEnd::Stopped: return "cancelled";
    }
    return "unknown";
}

ControllerKey keyOf(const link::ProbeReply& reply) { return {reply.id, reply.serialNumber}; }

}  // namespace

std::string keepFlashBackup(const std::string& backupFolder, const Image& image, const link::ProbeReply& id) {
    const std::filesystem::path folder = pathFromUtf8(backupFolder);
    // Both folders private: the backup holds every code of the building.
    if (!makePrivateFolder(folder) || !makePrivateFolder(folder.parent_path())) return {};
    // "yyyyMMdd-HHmmss" of the local time.
    const std::string name = "before-flash-" + std::to_string(id.serialNumber) + "-" + traceStamp().substr(0, 15) + ".kvd";
    const std::filesystem::path file = folder / pathFromUtf8(name);
    const std::string description = "ID " + std::to_string(id.id) + ", serial " + std::to_string(id.serialNumber) +
                                    ", firmware " + std::to_string(id.firmware) + ": before a flash";
    return registry::writeBackup(file, image, description);
}

std::vector<NewVisit> flashVisits(const JobResult& job, const std::string& port) {
    std::vector<NewVisit> visits;
    const auto& identity = job.before ? job.before : job.after;
    if (!identity) return visits;
    NewVisit v;
    v.key = keyOf(*identity);
    v.port = portKey(port);
    if (job.backup && job.before) {
        v.kind = VisitKind::Backup;
        v.firmware = job.before->firmware;
        v.image = *job.backup;
        visits.push_back(v);
    }
    v.kind = VisitKind::Flash;
    v.firmware = identity->firmware;
    v.image = job.now;
    v.outcome = outcomeWord(job.end);
    if (job.before && job.after) {
        v.firmware = job.after->firmware;
        v.outcome += ", firmware " + std::to_string(job.before->firmware) + " -> " + std::to_string(job.after->firmware);
    }
    visits.push_back(v);
    return visits;
}

bool recordFlash(Register& reg, const JobResult& job, const std::string& port, std::string& why) {
    for (const NewVisit& v : flashVisits(job, port)) {
        if (!reg.recordVisit(v)) {
            why = reg.error();
            return false;
        }
    }
    if (job.backupPath.empty() || !job.backup || !job.before) return true;
    why = recordSavedFile(reg, job.backupPath, *job.backup, {keyOf(*job.before), {}, *job.backup});
    return why.empty();
}

bool recordRestore(Register& reg, const JobResult& restored, const std::string& port, std::string& why) {
    const auto& identity = restored.after ? restored.after : restored.before;
    if (!identity) return true;
    NewVisit v;
    v.key = keyOf(*identity);
    v.firmware = identity->firmware;
    v.kind = VisitKind::Upload;
    v.port = portKey(port);
    v.outcome = restored.end == JobEnd::Done ? "completed" : outcomeWord(restored.end);
    v.image = restored.now;
    if (reg.recordVisit(v)) return true;
    why = reg.error();
    return false;
}

}  // namespace kelvane::jobs
