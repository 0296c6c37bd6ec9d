// flash: Orva's firmware upgrade through the controller's bootloader.
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"
#include "cli/building_register.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/terminal.h"
#include "cli/time_limits.h"

#include "files/atomic_file.h"
#include "files/data_file.h"
#include "link/watched_line.h"
#include "session/diagnostics.h"
#include "session/qt_serial_line.h"
#include "sim/orva_controller.h"
#include "sim/sample_building.h"
#include "registry/flash_visits.h"
#include "bootloader/bootloader_protocol.h"
#include "bootloader/flash_job.h"
#include "bootloader/firmware_image.h"
#include "bootloader/stop_flag.h"
#include "bootloader/upgrade_texts.h"
#include "texts/file_texts.h"

#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <condition_variable>
#include <cstdlib>
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

// The upgrade's status line as result lines; its progress as the progress line.
class ToolView : public bootloader::JobView {
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
        shown_.reset();
        touch();
    }
    void setProgress(int position) override {
        if (progress_) progress_->set(position);
        touch();
    }
    void runEnded() override {}
    void step(bootloader::JobStep, bootloader::StepState) override { touch(); }
    void stepProgress(bootloader::JobStep step, int position, int high) override {
        if (step != shown_) {
            progress_.emplace(tool_.progress, high, step == bootloader::JobStep::Restore ? "upload" : "download");
            shown_ = step;
        }
        progress_->set(position);
        touch();
    }
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
    // While a question waits for the user the bootloader's silence is not the device's.
    bool askingUser() const { return asking_.load(); }
    void setAskingUser(bool asking) {
        asking_ = asking;
        touch();
    }

private:
    void touch() {
        lastActivity_ =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    const Tool& tool_;
    std::string status_, last_;
    std::optional<Progress> progress_;
    std::optional<bootloader::JobStep> shown_;
    std::atomic<std::int64_t> lastActivity_{0};
    std::atomic<bool> asking_{false};
};

struct FlashPort {
    std::unique_ptr<sim::OrvaController> device;     // the built-in simulator only
    std::unique_ptr<sim::VirtualClock> virtualTime;  // its time: the job takes none
    std::unique_ptr<link::Line> line;
};

// The job (or the restore that followed it) in the building register, as
// Orva_Upgrade records it; one line when it could not be.
void recordJob(const Tool& tool, ToolRegister& reg, const bootloader::JobOutcome& out, const std::string& port,
               bool restore) {
    namespace registry = kelvane::registry;
    if (!registry::Register::available() || (!out.before && !out.after)) return;
    std::string why;
    registry::Register* r = reg.get();
    if (r && (restore ? registry::recordRestore(*r, out, port, why) : registry::recordFlash(*r, out, port, why)))
        return;
    tool.error("", format(tool.text(kelvane::texts::ToolText::VisitNotRecorded), r ? why : reg.why()));
}

// The built-in simulator: one Orva controller (configuration link and
// bootloader) holding the sample building, in virtual time as the other
// commands' simulator answers at once. KELVANE_SIM_FIRMWARE tells what its
// new firmware does: "resets" starts from the initial configuration,
// "silent" never answers again; anything else keeps the configuration.
void openSimulator(FlashPort& port) {
    sim::OrvaFirmwareEffect effect;
    const char* firmware = std::getenv("KELVANE_SIM_FIRMWARE");
    const std::string kind = firmware ? firmware : "";
    effect.resetsConfiguration = kind == "resets";
    effect.neverReturns = kind == "silent";
    port.device = std::make_unique<sim::OrvaController>(kelvane::SampleBuildingImage(), sim::BootloaderScript{}, effect);
    port.virtualTime = std::make_unique<sim::VirtualClock>();
    auto line = std::make_unique<sim::VirtualLine>(*port.virtualTime, *port.device);
    line->setPaced(true);
    port.line = std::move(line);
}

// The restore's question, as upload asks it; true to send.
bool confirmRestore(const Tool& tool, const std::string& port, int blocks) {
    if (tool.args.has("--yes")) return true;
    if (!isTerminal(0)) {
        tool.error(port, tool.text(kelvane::texts::ToolText::NoTerminal));
        return false;
    }
    std::cerr << format(tool.text(kelvane::texts::ToolText::ConfirmUpload), blocks) << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    const char c = answer.empty() ? 'n' : answer[0];
    if (c == 'y' || c == 'Y' || c == 't' || c == 'T') return true;
    tool.error(port, tool.text(kelvane::texts::ToolText::NothingSent));
    return false;
}

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
        // A folder, a FIFO or a device is there, not missing: said as for data files.
        std::error_code error;
        const auto status = std::filesystem::status(kelvane::PathFromUtf8(firmware), error);
        if (missing && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
            tool.error(firmware, kelvane::texts::readFaultText(kelvane::ReadFault::NotRegular, tool.language));
            return kFileError;
        }
        tool.error(
            "", format(tool.text(missing ? kelvane::texts::ToolText::FlashNoFile : kelvane::texts::ToolText::FlashBadFile),
                       firmware));
        return kFileError;
    }

    bootloader::StopFlag stop;
    bootloader::StoppableClock wallClock(stop);
    FlashPort port;
    if (chosen == kSimPort)
        openSimulator(port);
    else
        port.line = std::make_unique<session::QtSerialLine>();
    link::Clock& clock = port.virtualTime ? static_cast<link::Clock&>(*port.virtualTime) : wallClock;
    port.line = kelvane::session::tracedLine(std::move(port.line));
    link::WatchedLine watched(*port.line);

    bootloader::FlashJob job(watched, clock, stop, view, state);
    job.keepBackup = kelvane::registry::keepFlashBackup;
    bootloader::JobOptions options;
    options.backup = !tool.args.has("--no-backup");
    const bool restoreWanted = tool.args.has("--restore-config");
    options.verify = tool.args.has("--verify-config") || restoreWanted;

    std::atomic<bool> timedOut{false};
    std::atomic<bool> finished{false};
    std::mutex m;
    std::condition_variable cv;
    auto requestStop = [&] { job.requestStop(); };
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(m);
        while (!cv.wait_for(lock, std::chrono::milliseconds(200), [&] { return finished.load(); })) {
            const auto now =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                    .count();
            if (now - view.lastActivityMs() > kFlashSilenceMs && !view.askingUser() && !stop.requested()) {
                timedOut = true;
                requestStop();
            }
        }
    });

    using bootloader::JobResult;
    const std::string portName = chosen == kSimPort ? std::string(kSimPort) : chosen;
    bootloader::JobOutcome out;
    {
        // As Stop in the window: nothing more is sent, the port closes.
        interrupt::Guard guard(requestStop);
        out = job.run(portName, options);
        view.flush();
        ToolRegister reg(tool);
        recordJob(tool, reg, out, chosen, false);
        if (out.before)
            tool.result(link::formatPortStatus(tool.text(kelvane::texts::Message::PortStatus), chosen, *out.before));
        if (!out.backupPath.empty()) tool.result(format(tool.text(kelvane::texts::ToolText::Saved), out.backupPath));
        if (out.after)
            tool.result(link::formatPortStatus(tool.text(kelvane::texts::Message::PortStatus), chosen, *out.after));
        if (out.result == JobResult::Changed) {
            printChangeList(tool, *out.backup, *out.now);
            const ImageDifference d = compareImages(*out.now, *out.backup);
            tool.error(out.backupPath, format(tool.text(kelvane::texts::ToolText::Differences), d.bytes,
                                              static_cast<int>(d.blocks.size())));
            view.setAskingUser(true);
            const bool restore = restoreWanted && confirmRestore(tool, chosen, static_cast<int>(d.blocks.size()));
            view.setAskingUser(false);
            if (restore) {
                out = job.restore(portName, out);
                recordJob(tool, reg, out, chosen, true);
                if (out.result == JobResult::Done) tool.result(tool.text(kelvane::texts::Message::UploadDone));
            }
        }
        if (out.result == JobResult::Done && out.now) tool.result(tool.text(kelvane::texts::ToolText::Same));
        if (port.line->isOpen()) port.line->close();
    }
    {
        std::lock_guard<std::mutex> lock(m);
        finished = true;
    }
    cv.notify_all();
    watchdog.join();

    int exit = kDone;
    switch (out.result) {
    case JobResult::Done: exit = kDone; break;
    case JobResult::Changed: exit = kDifferences; break;
    case JobResult::PortError: exit = kPortError; break;
    case JobResult::Stopped: exit = kInterrupted; break;
    case JobResult::FlashFailed:
        // Silence or a closed port ends a run as a programming error too.
        exit = state.programResult >= 0 && watched.lastReadEmpty() ? kNoAnswer : kRefused;
        break;
    case JobResult::NoController:
    case JobResult::LineBusy:
    case JobResult::NotBack:
    case JobResult::BackupFailed:
    case JobResult::VerifyFailed:
    case JobResult::RestoreFailed: exit = kNoAnswer; break;
    }
    if (timedOut) exit = kNoAnswer;

    if (exit == kPortError) view.discardStatus();  // "port in use" whatever the cause: said below
    view.clearStatus();
    if (exit == kInterrupted) {
        tool.error(chosen, tool.text(kelvane::texts::Message::TransferAborted));
    } else if (exit == kPortError) {
        tool.portOpenError(chosen, port.line->openFailure());
    } else if (timedOut || (out.result == JobResult::FlashFailed && exit == kNoAnswer)) {
        tool.error(chosen, tool.text(kelvane::texts::ToolText::FlashTimeout));
    } else if (out.result == JobResult::NoController || out.result == JobResult::NotBack) {
        tool.error(chosen, tool.text(kelvane::texts::ToolText::ProbeNoAnswer));
    } else if (out.result == JobResult::LineBusy) {
        tool.error(chosen, tool.text(kelvane::texts::Message::LineBusy));
    } else if (out.result == JobResult::BackupFailed || out.result == JobResult::VerifyFailed ||
               out.result == JobResult::RestoreFailed) {
        tool.error(chosen, tool.text(kelvane::texts::Message::NoAnswer));
    } else if (exit == kRefused) {
        tool.error(chosen, translated(tool, view.lastStatus()));
    }
    return exit;
}

}  // namespace kelvane::cli
