#include "jobs/flash_job.h"

#include "link/net_port.h"

#include "link/port.h"

#include <algorithm>
#include <cstring>

namespace kelvane::jobs {

std::vector<int> differingBlocks(const kelvane::Image& a, const kelvane::Image& b) {
    std::vector<int> blocks;
    for (std::size_t k = 0; k < kelvane::kBlockCount; ++k) {
        const std::size_t at = k * kelvane::kBlockSize;
        if (std::memcmp(a.data() + at, b.data() + at, kelvane::kBlockSize) != 0) blocks.push_back(static_cast<int>(k));
    }
    return blocks;
}

std::optional<JobStep> JobResult::failedStep() const {
    for (std::size_t i = 0; i < steps.size(); ++i)
        if (steps[i].state == StepState::Failed) return static_cast<JobStep>(i);
    return std::nullopt;
}

bool JobResult::unverified() const { return end == JobEnd::Done && !now; }

NextStep JobResult::next() const {
    switch (end) {
    case JobEnd::Done: return unverified() ? NextStep::CheckConfiguration : NextStep::None;
    case JobEnd::Changed: return NextStep::Restore;
    case JobEnd::PortError:
    case JobEnd::NoController:
    case JobEnd::NotBack: return NextStep::CheckConnection;
    case JobEnd::LineBusy:
    case JobEnd::RestoreFailed: return NextStep::Retry;
    case JobEnd::BackupFailed: return NextStep::SkipBackup;
    case JobEnd::FlashFailed: return NextStep::FlashAgain;
    case JobEnd::VerifyFailed: return NextStep::CheckConfiguration;
    case JobEnd::Stopped: return NextStep::None;
    }
    return NextStep::None;
}

namespace {

StepOutcome with(StepState state, StepCause cause = StepCause::None) {
    StepOutcome o;
    o.state = state;
    o.cause = cause;
    return o;
}

}  // namespace

FlashJob::FlashJob(link::Line& line, link::Clock& clock, bootloader::StopFlag& stop, JobView& view,
                   bootloader::UpgradeState& state)
    : line_(line), clock_(clock), stop_(stop), view_(view), state_(state) {}

void FlashJob::requestStop() {
    stop_.request();
    cancel_ = true;
    line_.interrupt();
}

void FlashJob::skipBackup() {
    skip_ = true;
    cancel_ = true;
}

void FlashJob::mark(JobResult& out, JobStep step, StepOutcome outcome) {
    if (outcome.state == StepState::Failed && outcome.fault == link::LineFault::None) outcome.fault = line_.fault();
    out.step(step) = outcome;
    view_.step(step, outcome);
}

bool FlashJob::openConfigurationLink(const std::string& port) {
    if (line_.isOpen()) line_.close();
    return link::OpenPort(line_, port);
}

std::optional<link::DownloadOutcome> FlashJob::download(JobStep step, StepOutcome& failed) {
    // A skip that came after the backup ended belongs to no later download.
    cancel_ = stop_.requested() || (step == JobStep::Backup && skip_);
    int lastBlock = -1;
    const std::int64_t started = clock_.nowMs();
    link::TransferContext ctx{line_,
                              clock_,
                              &cancel_,
                              [this, step, &lastBlock](int p) {
                                  lastBlock = p - 1;
                                  view_.stepProgress(step, p, static_cast<int>(kelvane::kBlockCount));
                              },
                              {}};
    auto outcome = link::DownloadThread(ctx);
    // A skip ends this download only; a Stop ends everything.
    cancel_ = stop_.requested();
    failed = with(StepState::Failed);
    switch (outcome.result) {
    case link::DownloadResult::Completed:
    case link::DownloadResult::Cancelled: break;
    case link::DownloadResult::LineBusy: failed.cause = StepCause::LineBusy; break;
    case link::DownloadResult::Incomplete:
        failed.cause = StepCause::BlocksMissing;
        failed.missing = outcome.missingBlocks;
        break;
    case link::DownloadResult::TimedOut:
        if (clock_.nowMs() - started >= link::kDownloadLimitMs) {
            failed.cause = StepCause::TooLong;
            failed.seconds = link::kDownloadLimitMs / 1000;
        } else {
            failed.cause = StepCause::NoFrame;
            failed.seconds = link::kFrameTimeoutMs / 1000;
            failed.block = lastBlock + 1;
        }
        break;
    }
    return outcome;
}

bool FlashJob::waitForReturn(JobResult& out, const JobOptions& options) {
    if (!openConfigurationLink(state_.portDeviceName)) return false;
    const std::int64_t start = clock_.nowMs();
    for (;;) {
        const std::int64_t attempt = clock_.nowMs();
        if (stop_.requested()) return false;
        line_.purgeInput();
        out.after = link::probe(line_);
        if (stop_.requested()) return false;
        if (out.after) return true;
        const std::int64_t now = clock_.nowMs();
        if (now - start >= options.returnLimitMs) return false;
        const std::int64_t wait =
            std::min<std::int64_t>(options.probeEveryMs - (now - attempt), options.returnLimitMs - (now - start));
        if (wait > 0) clock_.sleepMs(static_cast<int>(wait));
    }
}

void FlashJob::compare(JobResult& out) {
    out.changedBlocks = differingBlocks(*out.backup, *out.now);
    out.end = out.changedBlocks.empty() ? JobEnd::Done : JobEnd::Changed;
}

JobResult FlashJob::run(const std::string& port, const JobOptions& options) {
    JobResult out;
    auto end = [&](JobEnd result, std::optional<JobStep> failed = std::nullopt, StepOutcome why = with(StepState::Failed)) {
        if (stop_.requested()) result = JobEnd::Stopped;
        if (failed && result != JobEnd::Stopped) mark(out, *failed, why);
        if (line_.isOpen()) line_.close();
        out.end = result;
        return out;
    };
    auto portFailure = [&] {
        StepOutcome o = with(StepState::Failed, StepCause::PortNotOpened);
        o.openFailure = line_.openFailure();
        return o;
    };
    skip_ = false;
    cancel_ = stop_.requested();
    // A gateway whose line speed is fixed cannot take the bootloader's: refused
    // before the port opens, so nothing reaches the controller.
    if (link::hasFixedSpeed(port)) {
        StepOutcome o = with(StepState::Failed, StepCause::PortNotOpened);
        o.openFailure = link::OpenFailure::FixedSpeed;
        return end(JobEnd::PortError, JobStep::Identify, o);
    }

    if (options.fromBootloader) {
        mark(out, JobStep::Identify, with(StepState::Skipped, StepCause::FromBootloader));
        mark(out, JobStep::Backup, with(StepState::Skipped, StepCause::FromBootloader));
    } else {
        mark(out, JobStep::Identify, with(StepState::Running));
        if (!openConfigurationLink(port)) return end(JobEnd::PortError, JobStep::Identify, portFailure());
        bool busy = false;
        out.before = link::probeWhenQuiet(line_, clock_, busy);
        if (stop_.requested()) return end(JobEnd::Stopped);
        if (!out.before) {
            const StepOutcome why = with(StepState::Failed, busy ? StepCause::LineBusy : StepCause::NoAnswer);
            // Without a backup to take, a controller that does not answer
            // its link may still answer the bootloader (the flash copes).
            if (busy || options.backup)
                return end(busy ? JobEnd::LineBusy : JobEnd::NoController, JobStep::Identify, why);
            mark(out, JobStep::Identify, why);
        } else {
            if (identified) identified(*out.before, false);
            mark(out, JobStep::Identify, with(StepState::Done));
        }

        if (!options.backup) {
            mark(out, JobStep::Backup, with(StepState::Skipped, StepCause::NotWanted));
        } else {
            mark(out, JobStep::Backup, with(StepState::Running));
            StepOutcome failed;
            const auto d = download(JobStep::Backup, failed);
            if (stop_.requested()) return end(JobEnd::Stopped);
            if (d->result == link::DownloadResult::Completed) {
                out.backup = d->image;
                if (keepBackup) {
                    out.backupPath = keepBackup(*out.backup, *out.before);
                    if (out.backupPath.empty())
                        return end(JobEnd::BackupFailed, JobStep::Backup,
                                   with(StepState::Failed, StepCause::BackupNotKept));
                }
                mark(out, JobStep::Backup, with(StepState::Done));
            } else if (d->result == link::DownloadResult::Cancelled && skip_) {
                mark(out, JobStep::Backup, with(StepState::Skipped, StepCause::SkippedByUser));
            } else {
                return end(d->result == link::DownloadResult::LineBusy ? JobEnd::LineBusy : JobEnd::BackupFailed,
                           JobStep::Backup, failed);
            }
        }
        line_.close();
    }

    mark(out, JobStep::Flash, with(StepState::Running));
    if (flashMark) flashMark(true);
    bootloader::UpgradeLink link{line_, clock_, stop_, view_};
    if (!bootloader::OpenUpgradePort(state_, link, port)) return end(JobEnd::PortError, JobStep::Flash, portFailure());
    if (!bootloader::RequestBootloader(state_, link))
        return end(JobEnd::FlashFailed, JobStep::Flash, with(StepState::Failed, StepCause::WrongDevice));
    // No block goes out on a line whose change to the bootloader's speed the
    // gateway did not confirm (or that ended on the way).
    if (line_.fault() != link::LineFault::None) {
        StepOutcome o = with(StepState::Failed, StepCause::PortNotOpened);
        o.openFailure = link::OpenFailure::GatewayRefused;
        return end(JobEnd::PortError, JobStep::Flash, o);
    }
    if (bootloader::UpgradeWorker(state_, link) != bootloader::WorkerEnd::Ended) return end(JobEnd::Stopped);
    if (state_.programResult != bootloader::kProgramOk) {
        // No result byte: the banner named another device type.
        StepOutcome why =
            with(StepState::Failed, state_.programResult < 0 ? StepCause::WrongDevice : StepCause::ProgrammingError);
        why.programResult = state_.programResult;
        return end(JobEnd::FlashFailed, JobStep::Flash, why);
    }
    if (flashMark) flashMark(false);
    mark(out, JobStep::Flash, with(StepState::Done));

    // A controller that did not answer its link before is not waited for.
    if (!out.before && !options.fromBootloader) {
        mark(out, JobStep::Return, with(StepState::Skipped, StepCause::NotIdentified));
    } else {
        mark(out, JobStep::Return, with(StepState::Running));
        if (!waitForReturn(out, options)) {
            StepOutcome why = with(StepState::Failed, StepCause::NotBack);
            why.seconds = options.returnLimitMs / 1000;
            return end(JobEnd::NotBack, JobStep::Return, why);
        }
        if (identified) identified(*out.after, true);
        mark(out, JobStep::Return, with(StepState::Done));
    }

    if (!options.verify || !out.backup) {
        mark(out, JobStep::Verify, with(StepState::Skipped, out.backup ? StepCause::NotWanted : StepCause::NoBackup));
        return end(JobEnd::Done);
    }
    mark(out, JobStep::Verify, with(StepState::Running));
    StepOutcome failed;
    const auto d = download(JobStep::Verify, failed);
    if (stop_.requested()) return end(JobEnd::Stopped);
    if (d->result != link::DownloadResult::Completed) return end(JobEnd::VerifyFailed, JobStep::Verify, failed);
    out.now = d->image;
    compare(out);
    mark(out, JobStep::Verify, with(StepState::Done));
    return end(out.end);
}

JobResult FlashJob::restore(const std::string& port, const JobResult& job) {
    JobResult out = job;
    auto end = [&](JobEnd result, std::optional<StepOutcome> failed) {
        if (stop_.requested()) result = JobEnd::Stopped;
        if (failed && result != JobEnd::Stopped) mark(out, JobStep::Restore, *failed);
        if (line_.isOpen()) line_.close();
        out.end = result;
        return out;
    };
    if (!job.backup || !job.now) return end(JobEnd::RestoreFailed, with(StepState::Failed, StepCause::NoBackup));
    mark(out, JobStep::Restore, with(StepState::Running));
    if (!openConfigurationLink(port)) {
        StepOutcome why = with(StepState::Failed, StepCause::PortNotOpened);
        why.openFailure = line_.openFailure();
        return end(JobEnd::PortError, why);
    }
    cancel_ = stop_.requested();
    // The backup goes back only to the controller it was taken from: the
    // cable may have moved to another one since the flash.
    if (const auto& known = job.after ? job.after : job.before) {
        bool busy = false;
        const auto connected = link::probeWhenQuiet(line_, clock_, busy);
        if (stop_.requested()) return end(JobEnd::Stopped, std::nullopt);
        if (!connected)
            return end(JobEnd::RestoreFailed, with(StepState::Failed, busy ? StepCause::LineBusy : StepCause::NoAnswer));
        if (connected->id != known->id || connected->serialNumber != known->serialNumber)
            return end(JobEnd::RestoreFailed, with(StepState::Failed, StepCause::OtherController));
    }
    int block = -1;
    link::TransferContext ctx{line_,
                              clock_,
                              &cancel_,
                              [this, &block](int p) {
                                  block = p - 1;
                                  view_.stepProgress(JobStep::Restore, p, static_cast<int>(kelvane::kBlockCount));
                              },
                              {}};
    const auto up = link::UploadThread(ctx, *job.backup, *job.now);
    if (stop_.requested()) return end(JobEnd::Stopped, std::nullopt);
    if (up.result != link::UploadResult::Completed) {
        StepOutcome why = with(StepState::Failed, StepCause::LineBusy);
        if (up.result != link::UploadResult::LineBusy) {
            why.cause = StepCause::NoAcknowledge;
            why.block = block;
            why.seconds = link::kAckTimeoutMs / 1000;
        }
        return end(JobEnd::RestoreFailed, why);
    }
    StepOutcome failed;
    const auto d = download(JobStep::Restore, failed);
    if (stop_.requested()) return end(JobEnd::Stopped, std::nullopt);
    if (d->result != link::DownloadResult::Completed) return end(JobEnd::RestoreFailed, failed);
    out.now = d->image;
    compare(out);
    mark(out, JobStep::Restore, with(out.end == JobEnd::Done ? StepState::Done : StepState::Failed));
    return end(out.end, std::nullopt);
}

}  // namespace kelvane::jobs
