#pragma once
// A firmware update as one job around the bootloader dialogue: identify the
// controller on its configuration link, back its configuration up, flash,
// wait for it to come back, download the configuration again and compare it
// with the backup; on request upload the backup again. Every step is bounded
// and ends at once on Stop; nothing here holds a text, the view gets codes.
#include "bootloader/bootloader_protocol.h"
#include "bootloader/stop_flag.h"
#include "bootloader/upgrade_state.h"
#include "bootloader/upgrade_view.h"
#include "link/probe.h"
#include "link/transfer.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::bootloader {

enum class JobStep { Identify, Backup, Flash, Return, Verify, Restore };
enum class StepState { Running, Done, Skipped, Failed };

// What ended a job (or its restore).
enum class JobResult {
    Done,           // flashed; the configuration is as before (or was not compared)
    Changed,        // flashed; the configuration differs from the backup (changedBlocks)
    PortError,      // the port did not open
    NoController,   // the controller did not answer the probe before the flash
    LineBusy,       // the controller never stopped sending
    BackupFailed,   // the backup download did not complete, or could not be kept
    FlashFailed,    // wrong device or a programming error (UpgradeState::programResult)
    NotBack,        // the controller did not answer within the return limit after the flash
    VerifyFailed,   // the download after the flash did not complete
    RestoreFailed,  // the upload of the backup did not complete
    Stopped,        // Stop
};

struct JobOptions {
    // Download the configuration before the flash. Without it a controller
    // that does not answer the probe is flashed all the same (it may be in
    // its bootloader already) and not waited for afterwards.
    bool backup = true;
    bool verify = true;  // download it again after the flash and compare
    // The controller may sit in its bootloader (an earlier job stopped
    // halfway): no identity, no backup, the flash starts from the wake-up.
    bool fromBootloader = false;
    int returnLimitMs = 30000;  // waiting for the controller after the flash
    int probeEveryMs = 1000;
};

// The job's view: the bootloader dialogue's status and progress, plus the steps.
class JobView : public UpgradeView {
public:
    // A step started (Running, with progress 0..high as it goes) or ended.
    virtual void step(JobStep step, StepState state) = 0;
    virtual void stepProgress(JobStep step, int position, int high) = 0;
};

struct JobOutcome {
    JobResult result = JobResult::Stopped;
    std::optional<link::ProbeReply> before, after;
    std::optional<kelvane::Image> backup;  // the configuration before the flash
    std::optional<kelvane::Image> now;     // the configuration read after the flash
    std::vector<int> changedBlocks;        // blocks in which now differs from backup
    std::string backupPath;                // where keepBackup kept it
};

class FlashJob {
public:
    FlashJob(link::Line& line, link::Clock& clock, StopFlag& stop, JobView& view, UpgradeState& state);

    // Keeps the backup (a data file); returns where, empty when it could not.
    std::function<std::string(const kelvane::Image&, const link::ProbeReply&)> keepBackup;
    // Called before the reset into the bootloader and after the flash ended
    // (flashing = false), so a program can tell at its next start that a job
    // stopped halfway.
    std::function<void(bool flashing)> flashMark;
    // The controller answered its probe: before the flash, or when it came back.
    std::function<void(const link::ProbeReply& reply, bool afterFlash)> identified;

    JobOutcome run(const std::string& port, const JobOptions& options);
    // Uploads the backup over what the controller holds now, then reads the
    // configuration again and compares: Done when equal, Changed otherwise.
    JobOutcome restore(const std::string& port, const JobOutcome& job);

    // Thread-safe: ends the job at its next step; nothing more is sent.
    void requestStop();
    // Thread-safe: ends the backup download; the job goes on without a backup.
    void skipBackup();

private:
    bool openConfigurationLink(const std::string& port);
    std::optional<link::DownloadOutcome> download(JobStep step);
    bool waitForReturn(JobOutcome& out, const JobOptions& options);
    void compare(JobOutcome& out);

    link::Line& line_;
    link::Clock& clock_;
    StopFlag& stop_;
    JobView& view_;
    UpgradeState& state_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> skip_{false};
};

// Blocks in which two images differ, in order.
std::vector<int> differingBlocks(const kelvane::Image& a, const kelvane::Image& b);

}  // namespace kelvane::bootloader
