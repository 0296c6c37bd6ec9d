#include "orva/upgrade_run.h"

#include "link/net_line.h"
#include "link/net_port.h"

#include "sim/orva_controller.h"
#include "sim/sample_building.h"
#include "orva/port_list.h"
#include "link/port_info.h"
#include "diagnostics/diagnostics.h"
#include "session/qt_serial_line.h"
#include "texts/upgrade_texts.h"

namespace kelvane::orva {

class UpgradeRun::SignalView : public jobs::JobView {
public:
    explicit SignalView(UpgradeRun& run) : run_(run) {}
    // The status line is cleared, then built piece by piece as it always was.
    void showStatus(const bootloader::UpgradeStatus& status) override {
        emit run_.statusCleared(run_.id_);
        for (const std::string& piece : texts::upgrade::statusPieces(status))
            emit run_.statusAppended(run_.id_, QString::fromStdString(piece));
        if (status.message == bootloader::UpgradeMessage::PortBusy)
            emit run_.statusDetailSet(run_.id_, QString::fromStdString(texts::upgrade::openFailureDetail(
                                                    status.openFailure, link::prefersUsbPort())));
    }
    void setProgressRange(int low, int high) override { emit run_.progressRangeSet(run_.id_, low, high); }
    void setProgress(int position) override { emit run_.progressSet(run_.id_, position); }
    // The bootloader dialogue's end is not the job's: the run says when it ends.
    void runEnded() override {}
    void step(jobs::JobStep step, const jobs::StepOutcome& outcome) override {
        emit run_.stepChanged(run_.id_, static_cast<int>(step), static_cast<int>(outcome.state));
    }
    void stepProgress(jobs::JobStep step, int position, int high) override {
        // The download reports every block; the window needs whole percents.
        const int percent = high > 0 ? position * 100 / high : 0;
        if (step == shownStep_ && percent == shownPercent_) return;
        shownStep_ = step;
        shownPercent_ = percent;
        emit run_.stepProgressed(run_.id_, static_cast<int>(step), position, high);
    }

private:
    UpgradeRun& run_;
    jobs::JobStep shownStep_ = jobs::JobStep::Identify;
    int shownPercent_ = -1;
};

namespace {

// The built-in controller, paced, so it takes the time a real line would.
// One for the program's run: it keeps its configuration and what a flash
// did to it from one run to the next.
struct SimulatedPort {
    SimulatedPort(bootloader::StopFlag& stop, std::shared_ptr<sim::OrvaController> d)
        : clock(stop), device(std::move(d)) {
        auto virtualLine = std::make_unique<sim::VirtualLine>(clock, *device);
        virtualLine->setPaced(true);
        // Traced as a real line is, so a support bundle holds what a job on
        // the simulator did.
        line = kelvane::diagnostics::tracedLine(std::move(virtualLine));
    }
    bootloader::StoppableClock clock;
    std::shared_ptr<sim::OrvaController> device;
    std::unique_ptr<link::Line> line;
};

std::shared_ptr<sim::OrvaController> builtInController() {
    static const auto device = std::make_shared<sim::OrvaController>(sampleBuildingImage());
    return device;
}

}  // namespace

RunPort defaultPort(const std::string& device, bootloader::StopFlag& stop) {
    if (device == kSimulatorDevice) {
        auto sim = std::make_shared<SimulatedPort>(stop, builtInController());
        return {std::shared_ptr<link::Line>(sim, sim->line.get()), std::shared_ptr<link::Clock>(sim, &sim->clock), sim};
    }
    std::unique_ptr<link::Line> line;
    if (link::isNetPortName(device))
        line = std::make_unique<link::NetLine>();
    else
        line = std::make_unique<session::QtSerialLine>();
    return {std::shared_ptr<link::Line>(kelvane::diagnostics::tracedLine(std::move(line))),
            std::make_shared<bootloader::StoppableClock>(stop), nullptr};
}

UpgradeRun::UpgradeRun(bootloader::UpgradeState& state, PortFactory factory, std::string device, int id, RunRequest request)
    : state_(state), factory_(std::move(factory)), device_(std::move(device)), id_(id), request_(std::move(request)) {}

UpgradeRun::~UpgradeRun() { stop(); }

UpgradeRun::Outcome UpgradeRun::start() {
    auto phaseA = phaseA_.get_future();
    if (!worker_.start([this] { body(); })) return Outcome::ThreadError;
    if (!phaseA.get()) {
        join();
        return Outcome::Failed;
    }
    return Outcome::Running;
}

bool UpgradeRun::isRunning() const { return worker_.running() && !worker_.jobReturned(); }

void UpgradeRun::stop() {
    stop_.request();
    {
        std::lock_guard<std::mutex> lock(jobMutex_);
        if (job_) job_->requestStop();
    }
    worker_.requestStop(true);
    join();
}

void UpgradeRun::skipBackup() {
    std::lock_guard<std::mutex> lock(jobMutex_);
    if (job_) job_->skipBackup();
}

void UpgradeRun::join() { worker_.wait(); }

void UpgradeRun::body() {
    bool phaseADone = false;
    bool opened = false;
    try {
        RunPort port = factory_(device_, stop_);
        worker_.attachLine(port.line.get());  // a stop already requested interrupts it at once
        SignalView view(*this);
        // The port is tried before the job, so a port in use says so at once
        // ("Port w użyciu" and why), as a flash always did.
        bootloader::UpgradeLink link{*port.line, *port.clock, stop_, view};
        opened = bootloader::OpenUpgradePort(state_, link, device_);
        if (port.line->isOpen()) port.line->close();
        state_.portOpen = false;
        phaseA_.set_value(opened);
        phaseADone = true;
        if (opened) {
            jobs::FlashSetting setting = request_.setting;
            setting.identified = [this](const link::ProbeReply& r, bool after) {
                emit identified(id_, r.id, r.serialNumber, r.firmware, after);
            };
            jobs::FlashRun job(*port.line, *port.clock, stop_, view, state_, std::move(setting));
            {
                std::lock_guard<std::mutex> lock(jobMutex_);
                job_ = &job;
            }
            const bool restore = request_.kind == RunRequest::Kind::Restore;
            report_ = restore ? job.restore(device_, request_.restoreFrom) : job.run(device_, request_.options);
            {
                std::lock_guard<std::mutex> lock(jobMutex_);
                job_ = nullptr;
            }
        }
        if (port.line->isOpen()) port.line->close();
        state_.portOpen = false;
        worker_.attachLine(nullptr);  // before the line goes
    } catch (...) {
        // A port that cannot even be made (out of memory) counts as a failed
        // open; the window must not wait for phase A for ever.
        {
            std::lock_guard<std::mutex> lock(jobMutex_);
            job_ = nullptr;
        }
        worker_.attachLine(nullptr);
        report_.result.end = jobs::JobEnd::PortError;
    }
    if (!phaseADone)
        phaseA_.set_value(false);
    else if (opened)
        emit runEnded(id_);
}

}  // namespace kelvane::orva
