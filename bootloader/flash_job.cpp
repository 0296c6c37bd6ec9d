#include "bootloader/flash_job.h"

#include "link/port.h"

#include <algorithm>
#include <cstring>

namespace kelvane::bootloader {

std::vector<int> differingBlocks(const kelvane::Image& a, const kelvane::Image& b) {
    std::vector<int> blocks;
    for (std::size_t k = 0; k < kelvane::kBlockCount; ++k) {
        const std::size_t at = k * kelvane::kBlockSize;
        if (std::memcmp(a.data() + at, b.data() + at, kelvane::kBlockSize) != 0) blocks.push_back(static_cast<int>(k));
    }
    return blocks;
}

FlashJob::FlashJob(link::Line& line, link::Clock& clock, StopFlag& stop, JobView& view, UpgradeState& state)
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

bool FlashJob::openConfigurationLink(const std::string& port) {
    if (line_.isOpen()) line_.close();
    return link::OpenPort(line_, port);
}

std::optional<link::DownloadOutcome> FlashJob::download(JobStep step) {
    // A skip that came after the backup ended belongs to no later download.
    cancel_ = stop_.requested() || (step == JobStep::Backup && skip_);
    link::TransferContext ctx{
        line_,
        clock_,
        &cancel_,
        [this, step](int p) { view_.stepProgress(step, p, static_cast<int>(kelvane::kBlockCount)); },
        {}};
    auto outcome = link::DownloadThread(ctx);
    // A skip ends this download only; a Stop ends everything.
    cancel_ = stop_.requested();
    return outcome;
}

bool FlashJob::waitForReturn(JobOutcome& out, const JobOptions& options) {
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

void FlashJob::compare(JobOutcome& out) {
    out.changedBlocks = differingBlocks(*out.backup, *out.now);
    out.result = out.changedBlocks.empty() ? JobResult::Done : JobResult::Changed;
}

JobOutcome FlashJob::run(const std::string& port, const JobOptions& options) {
    JobOutcome out;
    auto end = [&](JobResult result, std::optional<JobStep> failed = std::nullopt) {
        if (stop_.requested()) result = JobResult::Stopped;
        if (failed) view_.step(*failed, StepState::Failed);
        if (line_.isOpen()) line_.close();
        out.result = result;
        return out;
    };
    skip_ = false;
    cancel_ = stop_.requested();

    if (options.fromBootloader) {
        view_.step(JobStep::Identify, StepState::Skipped);
        view_.step(JobStep::Backup, StepState::Skipped);
    } else {
        view_.step(JobStep::Identify, StepState::Running);
        if (!openConfigurationLink(port)) return end(JobResult::PortError, JobStep::Identify);
        bool busy = false;
        out.before = link::probeWhenQuiet(line_, clock_, busy);
        if (stop_.requested()) return end(JobResult::Stopped);
        if (!out.before) {
            // Without a backup to take, a controller that does not answer
            // its link may still answer the bootloader (the flash copes).
            if (busy || options.backup)
                return end(busy ? JobResult::LineBusy : JobResult::NoController, JobStep::Identify);
            view_.step(JobStep::Identify, StepState::Failed);
        } else {
            if (identified) identified(*out.before, false);
            view_.step(JobStep::Identify, StepState::Done);
        }

        if (!options.backup) {
            view_.step(JobStep::Backup, StepState::Skipped);
        } else {
            view_.step(JobStep::Backup, StepState::Running);
            const auto d = download(JobStep::Backup);
            if (stop_.requested()) return end(JobResult::Stopped);
            if (d->result == link::DownloadResult::Completed) {
                out.backup = d->image;
                if (keepBackup) {
                    out.backupPath = keepBackup(*out.backup, *out.before);
                    if (out.backupPath.empty()) return end(JobResult::BackupFailed, JobStep::Backup);
                }
                view_.step(JobStep::Backup, StepState::Done);
            } else if (d->result == link::DownloadResult::Cancelled && skip_) {
                view_.step(JobStep::Backup, StepState::Skipped);
            } else {
                return end(d->result == link::DownloadResult::LineBusy ? JobResult::LineBusy : JobResult::BackupFailed,
                           JobStep::Backup);
            }
        }
        line_.close();
    }

    view_.step(JobStep::Flash, StepState::Running);
    if (flashMark) flashMark(true);
    UpgradeLink link{line_, clock_, stop_, view_};
    if (!OpenUpgradePort(state_, link, port)) return end(JobResult::PortError, JobStep::Flash);
    if (!RequestBootloader(state_, link)) return end(JobResult::FlashFailed, JobStep::Flash);
    if (UpgradeWorker(state_, link) == 0) return end(JobResult::Stopped);
    if (state_.programResult != kProgramOk) return end(JobResult::FlashFailed, JobStep::Flash);
    if (flashMark) flashMark(false);
    view_.step(JobStep::Flash, StepState::Done);

    // A controller that did not answer its link before is not waited for.
    if (!out.before && !options.fromBootloader) {
        view_.step(JobStep::Return, StepState::Skipped);
    } else {
        view_.step(JobStep::Return, StepState::Running);
        if (!waitForReturn(out, options)) return end(JobResult::NotBack, JobStep::Return);
        if (identified) identified(*out.after, true);
        view_.step(JobStep::Return, StepState::Done);
    }

    if (!options.verify || !out.backup) {
        view_.step(JobStep::Verify, StepState::Skipped);
        return end(JobResult::Done);
    }
    view_.step(JobStep::Verify, StepState::Running);
    const auto d = download(JobStep::Verify);
    if (stop_.requested()) return end(JobResult::Stopped);
    if (d->result != link::DownloadResult::Completed) return end(JobResult::VerifyFailed, JobStep::Verify);
    out.now = d->image;
    compare(out);
    view_.step(JobStep::Verify, StepState::Done);
    return end(out.result);
}

JobOutcome FlashJob::restore(const std::string& port, const JobOutcome& job) {
    JobOutcome out = job;
    auto end = [&](JobResult result, bool failed) {
        if (stop_.requested()) result = JobResult::Stopped;
        if (failed) view_.step(JobStep::Restore, StepState::Failed);
        if (line_.isOpen()) line_.close();
        out.result = result;
        return out;
    };
    if (!job.backup || !job.now) return end(JobResult::RestoreFailed, true);
    view_.step(JobStep::Restore, StepState::Running);
    if (!openConfigurationLink(port)) return end(JobResult::PortError, true);
    cancel_ = stop_.requested();
    link::TransferContext ctx{
        line_,
        clock_,
        &cancel_,
        [this](int p) { view_.stepProgress(JobStep::Restore, p, static_cast<int>(kelvane::kBlockCount)); },
        {}};
    const auto up = link::UploadThread(ctx, *job.backup, *job.now);
    if (stop_.requested()) return end(JobResult::Stopped, false);
    if (up.result != link::UploadResult::Completed) return end(JobResult::RestoreFailed, true);
    const auto d = download(JobStep::Restore);
    if (stop_.requested()) return end(JobResult::Stopped, false);
    if (d->result != link::DownloadResult::Completed) return end(JobResult::RestoreFailed, true);
    out.now = d->image;
    compare(out);
    view_.step(JobStep::Restore, out.result == JobResult::Done ? StepState::Done : StepState::Failed);
    return end(out.result, false);
}

}  // namespace kelvane::bootloader
