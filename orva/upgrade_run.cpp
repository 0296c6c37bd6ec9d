#include "orva/upgrade_run.h"

#include "sim/bootloader_device.h"
#include "orva/port_list.h"
#include "session/qt_serial_line.h"

namespace kelvane::orva {

class UpgradeRun::SignalView : public bootloader::UpgradeView {
public:
    explicit SignalView(UpgradeRun& run) : run_(run) {}
    void clearStatus() override { emit run_.statusCleared(run_.id_); }
    void appendStatus(const std::string& utf8) override {
        emit run_.statusAppended(run_.id_, QString::fromStdString(utf8));
    }
    void setStatusDetail(const std::string& utf8) override {
        emit run_.statusDetailSet(run_.id_, QString::fromStdString(utf8));
    }
    void setProgressRange(int low, int high) override { emit run_.progressRangeSet(run_.id_, low, high); }
    void setProgress(int position) override { emit run_.progressSet(run_.id_, position); }
    void runEnded() override { emit run_.runEnded(run_.id_); }

private:
    UpgradeRun& run_;
};

namespace {

struct SimulatedPort {
    // Paced, so the built-in simulator takes the time a real line would.
    explicit SimulatedPort(bootloader::StopFlag& stop) : clock(stop), line(clock, device) { line.setPaced(true); }
    bootloader::StoppableClock clock;
    sim::BootloaderDevice device;
    sim::VirtualLine line;
};

}  // namespace

RunPort DefaultPort(const std::string& device, bootloader::StopFlag& stop) {
    if (device == kSimulatorDevice) {
        auto sim = std::make_shared<SimulatedPort>(stop);
        return {std::shared_ptr<link::Line>(sim, &sim->line), std::shared_ptr<link::Clock>(sim, &sim->clock), sim};
    }
    return {std::make_shared<session::QtSerialLine>(), std::make_shared<bootloader::StoppableClock>(stop), nullptr};
}

UpgradeRun::UpgradeRun(bootloader::UpgradeState& state, PortFactory factory, std::string device, int id)
    : state_(state), factory_(std::move(factory)), device_(std::move(device)), id_(id) {}

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
    worker_.requestStop(true);
    join();
}

void UpgradeRun::join() { worker_.wait(); }

void UpgradeRun::body() {
    bool phaseADone = false;
    try {
        RunPort port = factory_(device_, stop_);
        worker_.attachLine(port.line.get());  // a stop already requested interrupts it at once
        SignalView view(*this);
        bootloader::UpgradeLink link{*port.line, *port.clock, stop_, view};
        const bool ok = bootloader::OpenUpgradePort(state_, link, device_) && bootloader::RequestBootloader(state_, link);
        phaseA_.set_value(ok);
        phaseADone = true;
        if (ok) bootloader::UpgradeWorker(state_, link);
        if (port.line->isOpen()) port.line->close();
        state_.portOpen = false;
        worker_.attachLine(nullptr);  // before the line goes
    } catch (...) {
        // A port that cannot even be made (out of memory) counts as a failed
        // open; the window must not wait for phase A for ever.
        worker_.attachLine(nullptr);
    }
    if (!phaseADone) phaseA_.set_value(false);
}

}  // namespace kelvane::orva
