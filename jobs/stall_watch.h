#pragma once
// The firmware job's stall limit, in the job's own clock. A bootloader that
// falls silent is not always bounded by the dialogue itself (the wait for its
// banner repeats without end), so the job watches what it shows: every status,
// programmed block and step is a sign of life, and the first line read or
// write once kFlashStallMs passed without one stops the job. FlashRun runs
// every job and restore behind one, so both programs have the limit; the
// tests drive it in virtual time.
#include "bootloader/stop_flag.h"
#include "jobs/flash_job.h"
#include "link/serial_line.h"

#include <atomic>
#include <cstdint>

namespace kelvane::jobs {

// Longest time the bootloader may go without a visible step (a status text or
// a programmed block) before the flash is given up.
constexpr int kFlashStallMs = 60000;

class StallWatch {
public:
    StallWatch(link::Line& line, link::Clock& clock, bootloader::StopFlag& stop, JobView& view,
               int limitMs = kFlashStallMs);

    // What the job talks through and shows to, watched.
    link::Line& line() { return line_; }
    JobView& view() { return view_; }

    // Counts from now: a run or restore starts (a question to the user before
    // it is no silence of the bootloader).
    void restart();
    // Whether the limit stopped the job since restart().
    bool stalled() const { return stalled_.load(); }
    int limitMs() const { return limitMs_; }

private:
    void alive();
    void check();

    class WatchedLine : public link::Line {
    public:
        WatchedLine(StallWatch& watch, link::Line& line) : watch_(watch), line_(line) {}
        bool open(const std::string& name) override { return line_.open(name); }
        bool isOpen() const override { return line_.isOpen(); }
        link::OpenFailure openFailure() const override { return line_.openFailure(); }
        link::LineFault fault() const override { return line_.fault(); }
        void close() override { line_.close(); }
        void setLine(const link::LineSettings& s) override { line_.setLine(s); }
        void setTimeouts(const link::Timeouts& t) override { line_.setTimeouts(t); }
        std::size_t read(std::uint8_t* buf, std::size_t n) override;
        std::size_t write(const std::uint8_t* data, std::size_t n) override;
        void purgeInput() override { line_.purgeInput(); }
        void purgeOutput() override { line_.purgeOutput(); }
        void interrupt() override { line_.interrupt(); }
        void resetInterrupt() override { line_.resetInterrupt(); }

    private:
        StallWatch& watch_;
        link::Line& line_;
    };

    class WatchedView : public JobView {
    public:
        WatchedView(StallWatch& watch, JobView& view) : watch_(watch), view_(view) {}
        void showStatus(const bootloader::UpgradeStatus& status) override;
        void setProgressRange(int low, int high) override;
        void setProgress(int position) override;
        void runEnded() override { view_.runEnded(); }
        void step(JobStep step, const StepOutcome& outcome) override;
        void stepProgress(JobStep step, int position, int high) override;

    private:
        StallWatch& watch_;
        JobView& view_;
    };

    link::Clock& clock_;
    bootloader::StopFlag& stop_;
    int limitMs_;
    std::atomic<std::int64_t> lastSign_{0};
    std::atomic<bool> stalled_{false};
    WatchedLine line_;
    WatchedView view_;
};

// A job the limit stopped, as a failure: the step that was running failed
// (StepCause::Stalled, the limit's seconds) and the job ended as that step's
// failure ends it (the flash: FlashFailed).
void markStalled(JobResult& result, int limitMs);

}  // namespace kelvane::jobs
