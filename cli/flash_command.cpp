// flash: Orva's firmware upgrade through the controller's bootloader.
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/time_limits.h"

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

// The upgrade's status lines in the tool's language; lines without words
// (the controller's and the bootloader's versions) pass as they are.
std::string translated(const Tool& tool, const std::string& status) {
    using kelvane::texts::ToolText;
    namespace texts = bootloader::texts;
    const struct {
        const char* status;
        ToolText text;
    } table[] = {
        {texts::kWrongDevice, ToolText::FlashWrongDevice}, {texts::kWaiting, ToolText::FlashWaiting},
        {texts::kProgramming, ToolText::FlashProgramming}, {texts::kDone, ToolText::FlashDone},
        {texts::kFlashError, ToolText::FlashError},
    };
    for (const auto& row : table)
        if (status == row.status) return tool.text(row.text);
    return status;
}

// The line as the upgrade uses it, noting whether the last read brought
// anything: a run that ends in a programming error after reads that brought
// nothing met a silent bootloader or a closed port, not a refusal.
class WatchedLine : public link::Line {
public:
    explicit WatchedLine(link::Line& line) : line_(line) {}
    bool lastReadEmpty() const { return lastReadEmpty_; }

    bool open(const std::string& name) override { return line_.open(name); }
    bool isOpen() const override { return line_.isOpen(); }
    link::OpenFailure openFailure() const override { return line_.openFailure(); }
    void close() override { line_.close(); }
    void setLine(const link::LineSettings& s) override { line_.setLine(s); }
    void setTimeouts(const link::Timeouts& t) override { line_.setTimeouts(t); }
    std::size_t read(std::uint8_t* buf, std::size_t n) override {
        const std::size_t got = line_.read(buf, n);
        lastReadEmpty_ = got == 0;
        return got;
    }
    std::size_t write(const std::uint8_t* data, std::size_t n) override { return line_.write(data, n); }
    void purgeInput() override { line_.purgeInput(); }
    void purgeOutput() override { line_.purgeOutput(); }
    void interrupt() override { line_.interrupt(); }
    void resetInterrupt() override { line_.resetInterrupt(); }

private:
    link::Line& line_;
    bool lastReadEmpty_ = false;
};

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
        tool_.result(translated(tool_, status_));
        last_ = status_;
        status_.clear();
    }
    const std::string& lastStatus() const { return status_.empty() ? last_ : status_; }
    const std::string& pendingStatus() const { return status_; }
    void discardStatus() { status_.clear(); }
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
        // The status names the default file; the line names the one given.
        const bool missing = view.pendingStatus() == bootloader::texts::kNoFile;
        view.discardStatus();
        tool.error(
            "", format(tool.text(missing ? kelvane::texts::ToolText::FlashNoFile : kelvane::texts::ToolText::FlashBadFile),
                       firmware));
        return kFileError;
    }

    bootloader::StopFlag stop;
    bootloader::StoppableClock clock(stop);
    FlashPort port;
    std::unique_ptr<WatchedLine> watched;
    if (chosen == kSimPort) {
        port.device = std::make_unique<sim::BootloaderDevice>();
        auto line = std::make_unique<sim::VirtualLine>(clock, *port.device);
        line->setPaced(true);
        port.line = std::move(line);
    } else {
        port.line = std::make_unique<session::QtSerialLine>();
    }
    watched = std::make_unique<WatchedLine>(*port.line);
    bootloader::UpgradeLink link{*watched, clock, stop, view};

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
        } else if (view.lastStatus() == bootloader::texts::kDone) {
            exit = kDone;
        } else {
            // Silence or a closed port ends a run as a programming error too.
            exit = watched->lastReadEmpty() ? kNoAnswer : kRefused;
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

    if (exit == kPortError) view.discardStatus();  // "port in use" whatever the cause: said below
    view.clearStatus();
    if (exit == kInterrupted) {
        tool.error(chosen, tool.text(kelvane::texts::Message::TransferAborted));
    } else if (exit == kPortError) {
        tool.portOpenError(chosen, port.line->openFailure());
    } else if (exit == kNoAnswer) {
        tool.error(chosen, tool.text(kelvane::texts::ToolText::FlashTimeout));
    } else if (exit != kDone) {
        tool.error(chosen, translated(tool, view.lastStatus()));
    }
    return exit;
}

}  // namespace kelvane::cli
