#pragma once
// The firmware job as both programs run it: the job itself, the backup kept
// in the program's folder, the flash mark, and the visits recorded in the
// building register. Orva_Upgrade's window runs it on its worker thread,
// kvtool in its command; each only asks its questions and shows the result.
#include "jobs/flash_job.h"
#include "jobs/stall_watch.h"
#include "registry/building_register.h"

#include <functional>
#include <memory>
#include <string>

namespace kelvane::jobs {

struct FlashSetting {
    std::string port;          // as the technician named it (recorded with the visit)
    std::string backupFolder;  // where the backup before the flash is kept
    // The register to record the job in; null with `why` when it cannot be
    // opened (null with no reason: there is none). Unset: the job is not recorded.
    // Called on the job's thread, and the job lets go of it there: a register
    // made here is opened, used and closed on that one thread, as its
    // database connection requires.
    std::function<std::shared_ptr<registry::Register>(std::string& why)> openRegister;
    // Set before the reset into the bootloader, cleared once the flash ended.
    std::function<void(bool flashing)> flashMark;
    // The controller answered its probe: before the flash, or when it came back.
    std::function<void(const link::ProbeReply& reply, bool afterFlash)> identified;
};

struct FlashReport {
    JobResult result;
    std::string notRecorded;  // why the job is not in the register; empty when it is (or none is kept)
    // The stall limit stopped it (the running step failed with StepCause::Stalled).
    bool stalled = false;
};

class FlashRun {
public:
    // The job runs under the stall limit (stallLimitMs of `clock` without a
    // sign of the bootloader or the controller).
    FlashRun(link::Line& line, link::Clock& clock, bootloader::StopFlag& stop, JobView& view,
             bootloader::UpgradeState& state, FlashSetting setting, int stallLimitMs = kFlashStallMs);

    // `device` as the port opens (the same as setting.port but for a prefix).
    FlashReport run(const std::string& device, const JobOptions& options);
    // Uploads the backup of `job` again and records it.
    FlashReport restore(const std::string& device, const JobResult& job);

    // Thread-safe.
    void requestStop() { job_.requestStop(); }
    void skipBackup() { job_.skipBackup(); }

private:
    std::string record(const JobResult& result, bool restore);
    FlashReport finish(JobResult result, bool restore);

    FlashSetting setting_;
    bootloader::StopFlag& stop_;
    StallWatch watch_;
    FlashJob job_;
};

}  // namespace kelvane::jobs
