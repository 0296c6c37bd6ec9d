// The firmware update as one job, against one simulated controller that
// answers the configuration link and the bootloader, in virtual time.
#include "jobs/flash_job.h"
#include "jobs/flash_run.h"
#include "sim/orva_controller.h"
#include "tests/bootloader/recording_view.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <thread>

namespace {

using namespace kelvane;
using jobs::JobEnd;
using jobs::JobStep;
using jobs::StepCause;
using jobs::StepState;

struct JobRecorder : jobs::JobView, RecordingView {
    std::map<JobStep, StepState> steps;
    std::function<void(JobStep, int)> onProgress;
    std::function<void(JobStep, StepState)> onStep;
    void showStatus(const bootloader::UpgradeStatus& s) override { RecordingView::showStatus(s); }
    void setProgressRange(int l, int h) override { RecordingView::setProgressRange(l, h); }
    void setProgress(int p) override { RecordingView::setProgress(p); }
    void runEnded() override { RecordingView::runEnded(); }
    void step(JobStep s, const jobs::StepOutcome& o) override {
        steps[s] = o.state;
        if (onStep) onStep(s, o.state);
    }
    void stepProgress(JobStep s, int p, int) override {
        if (onProgress) onProgress(s, p);
    }
};

Image building() {
    Image image = initialImage();
    for (std::size_t i = 0; i < 4096; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return image;
}

// Time as a loaded machine hands it out: now and then the thread gets the
// processor back a while after it asked (up to 300 ms), also in the middle
// of a frame. Steady while lagEvery is 0.
class LoadedClock : public sim::VirtualClock {
public:
    int lagEvery = 0;
    std::int64_t nowMs() override {
        if (lagEvery > 0 && ++calls_ % lagEvery == 0) sleepMs(40 + static_cast<int>(calls_ * 7919 % 260));
        return VirtualClock::nowMs();
    }

private:
    std::int64_t calls_ = 0;
};

struct JobBench {
    explicit JobBench(sim::OrvaFirmwareEffect effect = {}, sim::BootloaderScript script = {})
        : device(building(), script, effect) {
        line.setPaced(true);
        state.image = std::make_unique<std::vector<std::uint8_t>>(bootloader::kImageSize);
        for (std::size_t i = 0; i < bootloader::kImageSize; ++i)
            (*state.image)[i] = static_cast<std::uint8_t>((i * 13) ^ (i >> 7));
        job.keepBackup = [this](const Image& image, const link::ProbeReply&) {
            kept.push_back(image);
            return std::string("backup.kvd");
        };
        job.flashMark = [this](bool flashing) { marks.push_back(flashing); };
    }
    jobs::JobResult run(jobs::JobOptions options = {}) { return job.run("COM1", options); }

    LoadedClock clock;
    sim::OrvaController device;
    sim::VirtualLine line{clock, device};
    bootloader::StopFlag stop;
    JobRecorder view;
    bootloader::UpgradeState state;
    jobs::FlashJob job{line, clock, stop, view, state};
    std::vector<Image> kept;
    std::vector<bool> marks;
};

TEST(FlashJob, ConfigurationSurvivesAndIsVerifiedEqualAlsoOnALoadedMachine) {
    for (const int lagEvery : {0, 101}) {
        SCOPED_TRACE(lagEvery);
        JobBench b;
        b.clock.lagEvery = lagEvery;
        const auto out = b.run();
        EXPECT_EQ(out.end, JobEnd::Done);
        ASSERT_TRUE(out.before && out.after && out.backup && out.now);
        EXPECT_EQ(out.before->firmware, 259);
        EXPECT_EQ(out.after->firmware, 106);
        EXPECT_EQ(*out.backup, building());
        EXPECT_EQ(*out.now, building());
        EXPECT_TRUE(out.changedBlocks.empty());
        ASSERT_EQ(b.kept.size(), 1u);
        EXPECT_EQ(out.backupPath, "backup.kvd");
        EXPECT_EQ(b.marks, (std::vector<bool>{true, false}));
        EXPECT_EQ(b.device.flashes(), 1);
        EXPECT_EQ(b.state.programResult, bootloader::kProgramOk);
        for (auto s : {JobStep::Identify, JobStep::Backup, JobStep::Flash, JobStep::Return, JobStep::Verify})
            EXPECT_EQ(b.view.steps[s], StepState::Done);
    }
}

TEST(FlashJob, FirmwareThatClearsTheConfigurationIsFoundAndRestored) {
    sim::OrvaFirmwareEffect effect;
    effect.resetsConfiguration = true;
    JobBench b(effect);
    auto out = b.run();
    ASSERT_EQ(out.end, JobEnd::Changed);
    EXPECT_EQ(*out.now, initialImage());
    const auto changed = out.changedBlocks;
    EXPECT_EQ(changed, jobs::differingBlocks(building(), initialImage()));
    EXPECT_FALSE(changed.empty());

    // A line that leads to another controller now: nothing goes to it.
    jobs::JobResult moved = out;
    moved.after->serialNumber ^= 1;
    const jobs::JobResult refused = b.job.restore("COM1", moved);
    EXPECT_EQ(refused.end, JobEnd::RestoreFailed);
    EXPECT_EQ(refused.step(JobStep::Restore).cause, StepCause::OtherController);
    EXPECT_TRUE(b.device.controller().blocksReceived().empty());
    EXPECT_EQ(b.device.controller().image(), initialImage());

    out = b.job.restore("COM1", out);
    EXPECT_EQ(out.end, JobEnd::Done);
    EXPECT_EQ(b.device.controller().image(), building());
    EXPECT_EQ(*out.now, building());
    EXPECT_EQ(b.view.steps[JobStep::Restore], StepState::Done);
    // Only the blocks that differed went back.
    EXPECT_EQ(b.device.controller().blocksReceived(), changed);
}

TEST(FlashJob, EscDuringTheBackupSkipsItAndStopEndsTheJobBeforeTheFlash) {
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stop" : "skip");
        JobBench b;
        b.view.onProgress = [&](JobStep s, int p) {
            if (s == JobStep::Backup && p == 100) stop ? b.job.requestStop() : b.job.skipBackup();
        };
        const auto out = b.run();
        EXPECT_FALSE(out.backup);
        EXPECT_TRUE(b.kept.empty());
        if (stop) {
            EXPECT_EQ(out.end, JobEnd::Stopped);
            EXPECT_EQ(b.device.bootloader().resetRequests(), 0);
            EXPECT_TRUE(b.marks.empty());
        } else {
            // Flashed all the same; nothing to compare with.
            EXPECT_EQ(out.end, JobEnd::Done);
            EXPECT_EQ(b.view.steps[JobStep::Backup], StepState::Skipped);
            EXPECT_EQ(b.view.steps[JobStep::Verify], StepState::Skipped);
            EXPECT_EQ(b.device.flashes(), 1);
        }
    }
}

// A window's question about skipping the backup may be answered after the
// backup has ended: that answer must not cancel the verification.
TEST(FlashJob, SkipAnsweredAfterTheBackupLeavesTheVerificationAlone) {
    JobBench b;
    b.view.onStep = [&](JobStep s, StepState st) {
        if (s == JobStep::Flash && st == StepState::Running) b.job.skipBackup();
    };
    const auto out = b.run();
    EXPECT_EQ(out.end, JobEnd::Done);
    EXPECT_TRUE(out.backup && out.now);
    EXPECT_EQ(b.view.steps[JobStep::Verify], StepState::Done);
}

TEST(FlashJob, ControllerThatNeverComesBackEndsTheWaitWithinItsBound) {
    sim::OrvaFirmwareEffect effect;
    effect.neverReturns = true;
    JobBench b(effect);
    std::int64_t flashEnded = -1;
    b.view.onProgress = nullptr;
    b.job.flashMark = [&](bool flashing) {
        if (!flashing) flashEnded = b.clock.nowMs();
    };
    const auto out = b.run();
    EXPECT_EQ(out.end, JobEnd::NotBack);
    EXPECT_EQ(b.view.steps[JobStep::Return], StepState::Failed);
    EXPECT_FALSE(out.after);
    ASSERT_GE(flashEnded, 0);
    // 30 s, plus at most one probe's three reads.
    EXPECT_GE(b.clock.nowMs() - flashEnded, 30000);
    EXPECT_LE(b.clock.nowMs() - flashEnded, 30000 + 3000);
}

// A job that fails says at which step, why, and what to do next; a flash
// without a backup does not pass for a verified one.
TEST(FlashJob, EachEndNamesTheFailedStepItsCauseAndTheNextStep) {
    const struct Row {
        const char* name;
        std::function<void(JobBench&)> fault;
        bool backup;
        JobEnd end;
        std::optional<JobStep> failed;
        StepCause cause;
        int block, seconds;
        jobs::NextStep next;
    } rows[] = {
        {"backup stalls", [](JobBench& b) { b.device.controller().faults().framesToSend = 211; }, true,
         JobEnd::BackupFailed, JobStep::Backup, StepCause::NoFrame, 211, 10, jobs::NextStep::SkipBackup},
        {"silent controller", [](JobBench& b) { b.device.controller().faults().silent = true; }, true,
         JobEnd::NoController, JobStep::Identify, StepCause::NoAnswer, -1, 0, jobs::NextStep::CheckConnection},
        {"never back", [](JobBench& b) { b.device.effect().neverReturns = true; }, true, JobEnd::NotBack,
         JobStep::Return, StepCause::NotBack, -1, 30, jobs::NextStep::CheckConnection},
        {"no backup taken", [](JobBench&) {}, false, JobEnd::Done, std::nullopt, StepCause::None, -1, 0,
         jobs::NextStep::CheckConfiguration},
        {"verified", [](JobBench&) {}, true, JobEnd::Done, std::nullopt, StepCause::None, -1, 0, jobs::NextStep::None},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        JobBench b;
        row.fault(b);
        jobs::JobOptions options;
        options.backup = row.backup;
        const auto out = b.run(options);
        EXPECT_EQ(out.end, row.end);
        EXPECT_EQ(out.failedStep(), row.failed);
        EXPECT_EQ(out.next(), row.next);
        if (!row.failed) continue;
        const jobs::StepOutcome& step = out.step(*row.failed);
        EXPECT_EQ(step.cause, row.cause);
        EXPECT_EQ(step.block, row.block);
        EXPECT_EQ(step.seconds, row.seconds);
    }
}

TEST(FlashJob, ControllerLeftInItsBootloaderIsFlashedAgain) {
    JobBench b;
    // An earlier job stopped halfway: the controller answers only the bootloader.
    const std::uint8_t reset[8] = {'R', 'e', 's', 'e', 't', 'e', 'K', 0x4D};
    for (auto c : reset) b.device.bootloader().feed(c);
    ASSERT_EQ(b.device.bootloader().mode(), sim::BootloaderModel::Mode::Bootloader);

    auto out = b.run();
    EXPECT_EQ(out.end, JobEnd::NoController);
    EXPECT_EQ(b.device.bootloader().frames(), 0);

    jobs::JobOptions resume;
    resume.fromBootloader = true;
    out = b.run(resume);
    EXPECT_EQ(out.end, JobEnd::Done);
    EXPECT_EQ(b.device.flashes(), 1);
    ASSERT_TRUE(out.after);
    EXPECT_EQ(out.after->firmware, 106);
}

// The register a run records in is opened, used and let go on the run's own
// thread: a database connection used from another thread is refused.
TEST(FlashRun, RecordsOnItsOwnThreadAndLetsTheRegisterGoThere) {
    if (!registry::Register::available()) GTEST_SKIP() << "a build without the register";
    QTemporaryDir dir;
    JobBench b;
    std::thread::id openedOn, closedOn;
    std::weak_ptr<registry::Register> held;
    jobs::FlashSetting setting;
    setting.port = "COM1";
    setting.backupFolder = dir.filePath(QStringLiteral("backups")).toStdString();
    setting.openRegister = [&](std::string& why) {
        openedOn = std::this_thread::get_id();
        std::shared_ptr<registry::Register> reg(new registry::Register, [&](registry::Register* r) {
            closedOn = std::this_thread::get_id();
            delete r;
        });
        if (!reg->open(dir.filePath(QStringLiteral("register.sqlite")).toStdString())) {
            why = reg->error();
            return std::shared_ptr<registry::Register>();
        }
        held = reg;
        return reg;
    };
    jobs::FlashReport report;
    std::thread run([&] {
        jobs::FlashRun job(b.line, b.clock, b.stop, b.view, b.state, std::move(setting));
        report = job.run("COM1", {});
    });
    const std::thread::id runThread = run.get_id();
    run.join();
    EXPECT_EQ(report.result.end, JobEnd::Done);
    EXPECT_EQ(report.notRecorded, "");
    EXPECT_EQ(openedOn, runThread);
    EXPECT_EQ(closedOn, runThread);
    EXPECT_TRUE(held.expired());
    registry::Register reg;
    ASSERT_TRUE(reg.open(dir.filePath(QStringLiteral("register.sqlite")).toStdString()));
    EXPECT_EQ(reg.visits({1, 4660}).size(), 2u);  // the backup and the flash
}

// The job's stall limit, as both programs run it: a bootloader that falls
// silent after the reset (its banner wait repeats without end) ends the job
// as a failed flash within the limit, not recorded, with the advice to flash
// again; one silent between blocks is ended by the dialogue's own count of
// sendings first.
TEST(FlashRun, BootloaderThatFallsSilentMidFlashEndsWithinTheStallLimit) {
    const struct {
        const char* name;
        sim::BootloaderScript script;
        int limitMs;
        JobEnd end;
        StepCause cause;
    } rows[] = {
        {"no banner",
         [] {
             sim::BootloaderScript s;
             s.banner = sim::BootloaderScript::Banner::None;
             return s;
         }(),
         jobs::kFlashStallMs, JobEnd::FlashFailed, StepCause::Stalled},
        // Every sending after block 100 met by silence: the dialogue's own
        // count of sendings ends it before a limit this long is reached.
        {"silent blocks",
         [] {
             sim::BootloaderScript s;
             s.answer = [](int block, int, bool) { return block < 100 ? 0x20 : -1; };
             return s;
         }(),
         jobs::kFlashStallMs, JobEnd::FlashFailed, StepCause::ProgrammingError},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        JobBench b({}, row.script);
        bool recorded = false;
        jobs::FlashSetting setting;
        setting.port = "COM1";
        setting.openRegister = [&](std::string&) {
            recorded = true;
            return std::shared_ptr<registry::Register>();
        };
        jobs::FlashRun job(b.line, b.clock, b.stop, b.view, b.state, std::move(setting), row.limitMs);
        std::int64_t flashStarted = -1;
        b.view.onStep = [&](JobStep s, StepState st) {
            if (s == JobStep::Flash && st == StepState::Running) flashStarted = b.clock.nowMs();
        };
        jobs::JobOptions options;
        options.backup = false;
        const jobs::FlashReport report = job.run("COM1", options);
        EXPECT_EQ(report.result.end, row.end);
        EXPECT_EQ(report.stalled, row.cause == StepCause::Stalled);
        const jobs::StepOutcome& flash = report.result.step(JobStep::Flash);
        EXPECT_EQ(flash.state, StepState::Failed);
        EXPECT_EQ(flash.cause, row.cause);
        EXPECT_EQ(report.result.next(), jobs::NextStep::FlashAgain);
        ASSERT_GE(flashStarted, 0);
        EXPECT_LE(b.clock.nowMs() - flashStarted, 20000 + 3 * 60000) << "bounded";
        if (row.cause == StepCause::Stalled) {
            EXPECT_EQ(flash.seconds, row.limitMs / 1000);
            EXPECT_FALSE(recorded) << "a stopped job is not recorded";
        }
    }
}

}  // namespace
