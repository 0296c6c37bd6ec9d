#include "jobs/flash_run.h"

#include "jobs/flash_visits.h"

namespace kelvane::jobs {

FlashRun::FlashRun(link::Line& line, link::Clock& clock, bootloader::StopFlag& stop, JobView& view,
                   bootloader::UpgradeState& state, FlashSetting setting)
    : setting_(std::move(setting)), stop_(stop), job_(line, clock, stop, view, state) {
    const std::string folder = setting_.backupFolder;
    job_.keepBackup = [folder](const Image& image, const link::ProbeReply& id) {
        return keepFlashBackup(folder, image, id);
    };
    job_.flashMark = setting_.flashMark;
    job_.identified = setting_.identified;
}

std::string FlashRun::record(const JobResult& result, bool restore) {
    // A stopped run ends at once; what it did is not recorded. Neither is a
    // job that never met the controller.
    if (stop_.requested() || !setting_.openRegister || (!result.before && !result.after)) return {};
    std::string why;
    const std::shared_ptr<registry::Register> reg = setting_.openRegister(why);
    if (!reg) return why;  // empty: there is no register to record in
    if (restore ? recordRestore(*reg, result, setting_.port, why) : recordFlash(*reg, result, setting_.port, why))
        return {};
    return why;
}

FlashReport FlashRun::run(const std::string& device, const JobOptions& options) {
    FlashReport report;
    report.result = job_.run(device, options);
    report.notRecorded = record(report.result, false);
    return report;
}

FlashReport FlashRun::restore(const std::string& device, const JobResult& job) {
    FlashReport report;
    report.result = job_.restore(device, job);
    report.notRecorded = record(report.result, true);
    return report;
}

}  // namespace kelvane::jobs
