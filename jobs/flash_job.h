#pragma once
// A firmware update as one job around the bootloader dialogue: identify the
// controller on its configuration link, back its configuration up, flash,
// wait for it to come back, download the configuration again and compare it
// with the backup; on request upload the backup again. Every step is bounded
// and ends at once on Stop. Orva_Upgrade's window and kvtool both run it; what
// it reports is typed (each step's outcome with its cause and the next step
// to take), and each program makes its own texts of it.
#include "bootloader/bootloader_protocol.h"
#include "bootloader/stop_flag.h"
#include "bootloader/upgrade_state.h"
#include "bootloader/upgrade_report.h"
#include "link/probe.h"
#include "link/transfer.h"

#include <array>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::jobs {

enum class JobStep { Identify, Backup, Flash, Return, Verify, Restore };
constexpr std::size_t kJobSteps = 6;
enum class StepState { NotReached, Running, Done, Skipped, Failed };

// Why a step failed or was skipped.
enum class StepCause {
    None,
    PortNotOpened,     // the port did not open (openFailure)
    NoAnswer,          // the controller did not answer its probe
    LineBusy,          // the controller never stopped sending
    NoFrame,           // no frame for `seconds` s at `block` (the one awaited)
    TooLong,           // the download did not end within its limit (`seconds`)
    BlocksMissing,     // the last block came, `missing` blocks did not
    NoAcknowledge,     // the controller did not acknowledge block `block` within `seconds` s
    BackupNotKept,     // the backup could not be written to its folder
    WrongDevice,       // the bootloader is not the controller's type
    ProgrammingError,  // the bootloader refused the image (programResult)
    NotBack,           // no answer for `seconds` s after the flash
    SkippedByUser,     // skipped while it ran (Esc)
    NotWanted,         // left out by choice (a current backup is at hand, --no-backup)
    NoBackup,          // nothing to compare with: there is no backup
    NotIdentified,     // the controller did not answer before the flash, so it is not waited for
    FromBootloader,    // the controller sat in its bootloader: nothing to identify or back up
    Stalled,           // no step of the bootloader or the controller for `seconds` s (jobs/stall_watch.h)
    OtherController,   // the line leads to another controller than the backup's: nothing was sent
};

// What the technician can do after a job that did not end well.
enum class NextStep {
    None,
    Retry,              // run the job again (the line or the controller hiccupped)
    SkipBackup,         // run it again without the backup (take one with KelvaneMini first)
    CheckConnection,    // check the cable, the port and the controller's power, then retry
    FlashAgain,         // the controller may sit in its bootloader: flash it again from there
    Restore,            // the configuration changed: upload the backup again
    CheckConfiguration  // flashed, but the configuration was not verified: read it and compare
};

struct StepOutcome {
    StepState state = StepState::NotReached;
    StepCause cause = StepCause::None;
    int block = -1;          // NoFrame, NoAcknowledge
    int seconds = 0;         // NoFrame, TooLong, NoAcknowledge, NotBack
    int missing = 0;         // BlocksMissing
    int programResult = -1;  // ProgrammingError
    link::OpenFailure openFailure = link::OpenFailure::None;
    // Failed: what ended the line, where it can tell (a gateway that closed,
    // stopped answering or refused a setting).
    link::LineFault fault = link::LineFault::None;
};

// How a job (or its restore) ended.
enum class JobEnd {
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
class JobView : public bootloader::UpgradeReport {
public:
    // A step started (Running, with progress 0..high as it goes) or ended.
    virtual void step(JobStep step, const StepOutcome& outcome) = 0;
    virtual void stepProgress(JobStep step, int position, int high) = 0;
};

struct JobResult {
    JobEnd end = JobEnd::Stopped;
    std::array<StepOutcome, kJobSteps> steps{};
    std::optional<link::ProbeReply> before, after;
    std::optional<kelvane::Image> backup;  // the configuration before the flash
    std::optional<kelvane::Image> now;     // the configuration read after the flash
    std::vector<int> changedBlocks;        // blocks in which now differs from backup
    std::string backupPath;                // where keepBackup kept it

    const StepOutcome& step(JobStep s) const { return steps[static_cast<std::size_t>(s)]; }
    StepOutcome& step(JobStep s) { return steps[static_cast<std::size_t>(s)]; }
    // The step that failed; none when none did.
    std::optional<JobStep> failedStep() const;
    // What to do next; None after a job that ended well.
    NextStep next() const;
    // Flashed, but what the controller holds now was not compared with a backup.
    bool unverified() const;
};

class FlashJob {
public:
    FlashJob(link::Line& line, link::Clock& clock, bootloader::StopFlag& stop, JobView& view,
             bootloader::UpgradeState& state);

    // Keeps the backup (a data file); returns where, empty when it could not.
    std::function<std::string(const kelvane::Image&, const link::ProbeReply&)> keepBackup;
    // Called before the reset into the bootloader and after the flash ended
    // (flashing = false), so a program can tell at its next start that a job
    // stopped halfway.
    std::function<void(bool flashing)> flashMark;
    // The controller answered its probe: before the flash, or when it came back.
    std::function<void(const link::ProbeReply& reply, bool afterFlash)> identified;

    JobResult run(const std::string& port, const JobOptions& options);
    // Uploads the backup over what the controller holds now, then reads the
    // configuration again and compares: Done when equal, Changed otherwise.
    JobResult restore(const std::string& port, const JobResult& job);

    // Thread-safe: ends the job at its next step; nothing more is sent.
    void requestStop();
    // Thread-safe: ends the backup download; the job goes on without a backup.
    void skipBackup();

private:
    bool openConfigurationLink(const std::string& port);
    // A download for `step`; its failure's cause in `failed` (state Failed).
    std::optional<link::DownloadOutcome> download(JobStep step, StepOutcome& failed);
    bool waitForReturn(JobResult& out, const JobOptions& options);
    void compare(JobResult& out);
    void mark(JobResult& out, JobStep step, StepOutcome outcome);

    link::Line& line_;
    link::Clock& clock_;
    bootloader::StopFlag& stop_;
    JobView& view_;
    bootloader::UpgradeState& state_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> skip_{false};
};

// Blocks in which two images differ, in order.
std::vector<int> differingBlocks(const kelvane::Image& a, const kelvane::Image& b);

}  // namespace kelvane::jobs
