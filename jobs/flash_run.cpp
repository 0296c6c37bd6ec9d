#include "jobs/flash_run.h"

#include "jobs/flash_visits.h"

namespace kelvane::jobs {

FlashRun::FlashRun(link::Line& line, link::Clock& clock, bootloader::StopFlag& stop, JobView& view,
                   bootloader::UpgradeState& state, FlashSetting setting, int stallLimitMs)
    : setting_(std::move(setting)),
      stop_(stop),
      watch_(line, clock, stop, view, stallLimitMs),
      job_(watch_.line(), clock, stop, watch_.view(), state) {
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

FlashReport FlashRun::finish(JobResult result, bool restore) {
    FlashReport report;
    report.result = std::move(result);
    report.stalled = watch_.stalled();
    if (report.stalled) markStalled(report.result, watch_.limitMs());
    report.notRecorded = record(report.result, restore);
    return report;
}

FlashReport FlashRun::run(const std::string& device, const JobOptions& options) {
    watch_.restart();
    return finish(job_.run(device, options), false);
}

FlashReport FlashRun::restore(const std::string& device, const JobResult& job) {
    watch_.restart();
    return finish(job_.restore(device, job), true);
}

}  // namespace kelvane::jobs
