// flash: Orva's firmware upgrade through the controller's bootloader.
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/interrupt.h"
#include "cli/progress.h"

#include "session/qt_serial_line.h"
#include "sim/bootloader_device.h"
#include "bootloader/bootloader_protocol.h"
#include "bootloader/firmware_image.h"
#include "bootloader/stop_flag.h"
#include "bootloader/upgrade_texts.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace kelvane::cli {

namespace {

// Longest time the bootloader may stay without a visible step (a status text
// or a programmed block) before the run is given up as a time-out; covers the
// wait for the banner, which the protocol itself repeats without end.
constexpr int kFlashSilenceMs = 60000;

// The upgrade's status line as result lines; its progress as the progress line.
class ToolView : public bootloader::UpgradeView {
public:
    explicit ToolView(const Tool& tool) : tool_(tool) { touch(); }
    ~ToolView() override { flush(); }
    void clearStatus() override {
        flush();
        touch();
    }
    void appendStatus(const std::string& utf8) override {
        status_ += utf8;
        touch();
    }
    void setProgressRange(int, int high) override {
        progress_.emplace(tool_.progress, high, "flash");
        touch();
    }
    void setProgress(int position) override {
        if (progress_) progress_->set(position);
        touch();
    }
    void runEnded() override {}
    void flush() {
        if (status_.empty()) return;
        progress_.reset();
        tool_.result(status_);
        last_ = status_;
        status_.clear();
    }
    const std::string& lastStatus() const { return status_.empty() ? last_ : status_; }
    std::int64_t lastActivityMs() const { return lastActivity_.load(); }

private:
    void touch() {
        lastActivity_ =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    const Tool& tool_;
    std::string status_, last_;
    std::optional<Progress> progress_;
    std::atomic<std::int64_t> lastActivity_{0};
};

struct FlashPort {
    std::unique_ptr<sim::BootloaderDevice> device;  // the built-in simulator only
    std::unique_ptr<link::Line> line;
};

}  // namespace

int flashCommand(const Tool& tool) {
    if (!tool.args.has("--port") || tool.args.value("--port").empty()) {
        tool.error("", format(tool.text(kelvane::texts::ToolText::MissingPort), std::string(kSimPort)));
        return kUsage;
    }
    const std::string chosen = tool.args.value("--port");
    const std::string firmware =
        tool.args.positional.empty() ? std::string(bootloader::kFirmwareFileName) : tool.args.positional[0];

    bootloader::UpgradeState state;
    ToolView view(tool);
    if (!bootloader::LoadFirmwareImageFrom(firmware, state, view)) {
        view.clearStatus();
        tool.error(firmware, view.lastStatus());
        return kFileError;
    }

    bootloader::StopFlag stop;
    bootloader::StoppableClock clock(stop);
    FlashPort port;
    if (chosen == kSimPort) {
        port.device = std::make_unique<sim::BootloaderDevice>();
        auto line = std::make_unique<sim::VirtualLine>(clock, *port.device);
        line->setPaced(true);
        port.line = std::move(line);
    } else {
        port.line = std::make_unique<session::QtSerialLine>();
    }
    bootloader::UpgradeLink link{*port.line, clock, stop, view};

    std::atomic<bool> timedOut{false};
    std::atomic<bool> finished{false};
    std::mutex m;
    std::condition_variable cv;
    auto requestStop = [&] {
        stop.request();
        port.line->interrupt();
    };
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(m);
        while (!cv.wait_for(lock, std::chrono::milliseconds(200), [&] { return finished.load(); })) {
            const auto now =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                    .count();
            if (now - view.lastActivityMs() > kFlashSilenceMs && !stop.requested()) {
                timedOut = true;
                requestStop();
            }
        }
    });

    int exit = kDone;
    {
        // As Stop in the window: nothing more is sent, the port closes.
        interrupt::Guard guard(requestStop);
        if (!bootloader::OpenUpgradePort(state, link, chosen == kSimPort ? std::string(kSimPort) : chosen)) {
            exit = kPortError;
        } else if (!bootloader::RequestBootloader(state, link) || bootloader::UpgradeWorker(state, link) == 0) {
            exit = stop.requested() ? kInterrupted : kRefused;
        } else {
            exit = view.lastStatus() == bootloader::texts::kDone ? kDone : kRefused;
        }
        if (port.line->isOpen()) port.line->close();
    }
    {
        std::lock_guard<std::mutex> lock(m);
        finished = true;
    }
    cv.notify_all();
    watchdog.join();
    if (timedOut) exit = kNoAnswer;

    view.clearStatus();
    if (exit == kInterrupted) {
        tool.error(chosen, tool.text(kelvane::texts::Message::TransferAborted));
    } else if (exit == kNoAnswer) {
        tool.error(chosen, tool.text(kelvane::texts::ToolText::FlashTimeout));
    } else if (exit != kDone) {
        tool.error(chosen, view.lastStatus());
    }
    return exit;
}

}  // namespace kelvane::cli
