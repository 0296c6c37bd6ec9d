#include "jobs/stall_watch.h"

namespace kelvane::jobs {

StallWatch::StallWatch(link::Line& line, link::Clock& clock, bootloader::StopFlag& stop, JobView& view, int limitMs)
    : clock_(clock), stop_(stop), limitMs_(limitMs), line_(*this, line), view_(*this, view) {
    restart();
}

void StallWatch::restart() {
    stalled_ = false;
    alive();
}

void StallWatch::alive() { lastSign_ = clock_.nowMs(); }

void StallWatch::check() {
    if (stalled_ || stop_.requested() || clock_.nowMs() - lastSign_ <= limitMs_) return;
    stalled_ = true;
    stop_.request();
}

std::size_t StallWatch::WatchedLine::read(std::uint8_t* buf, std::size_t n) {
    watch_.check();
    return watch_.stop_.requested() ? 0 : line_.read(buf, n);
}

std::size_t StallWatch::WatchedLine::write(const std::uint8_t* data, std::size_t n) {
    watch_.check();
    return watch_.stop_.requested() ? 0 : line_.write(data, n);
}

void StallWatch::WatchedView::showStatus(const bootloader::UpgradeStatus& status) {
    watch_.alive();
    view_.showStatus(status);
}

void StallWatch::WatchedView::setProgressRange(int low, int high) {
    watch_.alive();
    view_.setProgressRange(low, high);
}

void StallWatch::WatchedView::setProgress(int position) {
    watch_.alive();
    view_.setProgress(position);
}

void StallWatch::WatchedView::step(JobStep step, const StepOutcome& outcome) {
    watch_.alive();
    view_.step(step, outcome);
}

void StallWatch::WatchedView::stepProgress(JobStep step, int position, int high) {
    watch_.alive();
    view_.stepProgress(step, position, high);
}

void markStalled(JobResult& result, int limitMs) {
    static constexpr JobEnd kEnds[kJobSteps] = {JobEnd::NoController, JobEnd::BackupFailed, JobEnd::FlashFailed,
                                                JobEnd::NotBack,      JobEnd::VerifyFailed, JobEnd::RestoreFailed};
    for (std::size_t i = 0; i < kJobSteps; ++i) {
        StepOutcome& s = result.steps[i];
        if (s.state != StepState::Running) continue;
        s.state = StepState::Failed;
        s.cause = StepCause::Stalled;
        s.seconds = limitMs / 1000;
        result.end = kEnds[i];
        return;
    }
    // Stopped between steps: the flash is the step the limit is for.
    StepOutcome& flash = result.steps[static_cast<std::size_t>(JobStep::Flash)];
    flash.state = StepState::Failed;
    flash.cause = StepCause::Stalled;
    flash.seconds = limitMs / 1000;
    result.end = JobEnd::FlashFailed;
}

}  // namespace kelvane::jobs
