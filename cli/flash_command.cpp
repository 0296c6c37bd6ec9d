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
#include "diagnostics/diagnostics.h"
#include "link/net_line.h"
#include "link/net_port.h"
#include "session/qt_serial_line.h"
#include "sim/orva_controller.h"
#include "sim/sample_building.h"
#include "jobs/flash_run.h"
#include "texts/job_text.h"
#include "texts/upgrade_texts.h"
#include "bootloader/bootloader_protocol.h"
#include "bootloader/firmware_image.h"
#include "bootloader/stop_flag.h"
#include "texts/file_texts.h"

#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace kelvane::cli {

namespace {

// A bootloader status in the tool's language; the lines made of numbers
// (the controller's identity, the bootloader's version) as Orva shows them.
std::string statusLine(const Tool& tool, const bootloader::UpgradeStatus& status) {
    using bootloader::UpgradeMessage;
    using kelvane::texts::ToolText;
    switch (status.message) {
    case UpgradeMessage::WrongDevice: return tool.text(ToolText::FlashWrongDevice);
    case UpgradeMessage::Waiting: return tool.text(ToolText::FlashWaiting);
    case UpgradeMessage::Programming: return tool.text(ToolText::FlashProgramming);
    case UpgradeMessage::Done: return tool.text(ToolText::FlashDone);
    case UpgradeMessage::FlashError: return tool.text(ToolText::FlashError);
    case UpgradeMessage::NoFile:
    case UpgradeMessage::BadFile:
    case UpgradeMessage::PortBusy:  // each said by the command in its own words
    case UpgradeMessage::Identity:
    case UpgradeMessage::BootloaderVersion: break;
    }
    return kelvane::texts::upgrade::statusText(status);
}

// The upgrade's status line as result lines; its progress as the progress line.
class ToolView : public jobs::JobView {
public:
    explicit ToolView(const Tool& tool) : tool_(tool) {}
    ~ToolView() override { flush(); }
    void showStatus(const bootloader::UpgradeStatus& status) override {
        flush();
        pending_ = status;
    }
    void setProgressRange(int, int high) override {
        progress_.emplace(tool_.progress, high, "flash");
        shown_.reset();
    }
    void setProgress(int position) override {
        if (progress_) progress_->set(position);
    }
    void runEnded() override {}
    void step(jobs::JobStep, const jobs::StepOutcome&) override {}
    void stepProgress(jobs::JobStep step, int position, int high) override {
        if (step != shown_) {
            progress_.emplace(tool_.progress, high, step == jobs::JobStep::Restore ? "upload" : "download");
            shown_ = step;
        }
        progress_->set(position);
    }
    // The status shown last is printed as a result line once the next comes.
    void flush() {
        if (!pending_) return;
        progress_.reset();
        tool_.result(statusLine(tool_, *pending_));
        last_ = pending_;
        pending_.reset();
    }
    const std::optional<bootloader::UpgradeStatus>& lastStatus() const { return pending_ ? pending_ : last_; }
    const std::optional<bootloader::UpgradeStatus>& pendingStatus() const { return pending_; }
    void discardStatus() { pending_.reset(); }

private:
    const Tool& tool_;
    std::optional<bootloader::UpgradeStatus> pending_, last_;
    std::optional<Progress> progress_;
    std::optional<jobs::JobStep> shown_;
};

struct FlashPort {
    std::unique_ptr<sim::OrvaController> device;     // the built-in simulator only
    std::unique_ptr<sim::VirtualClock> virtualTime;  // its time: the job takes none
    std::unique_ptr<link::Line> line;
};

// What a job that did not end well leaves to say: the failed step with its
// cause, then what to do next.
void explainFailure(const Tool& tool, const std::string& port, const jobs::JobResult& out) {
    if (out.end == jobs::JobEnd::Stopped) return;
    if (const auto failed = out.failedStep())
        tool.error(port, kelvane::texts::stepLine(*failed, out.step(*failed), tool.language));
    const std::string next = kelvane::texts::nextStepText(out.next(), tool.language);
    if (!next.empty() && out.end != jobs::JobEnd::Changed) tool.error(port, next);
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
    port.device = std::make_unique<sim::OrvaController>(kelvane::sampleBuildingImage(), sim::BootloaderScript{}, effect);
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

// Reads the firmware file into the state; the exit code (said why) when it
// cannot be used.
std::optional<int> loadFirmware(const Tool& tool, const std::string& firmware, bootloader::UpgradeState& state) {
    using bootloader::FirmwareFault;
    const FirmwareFault fault = bootloader::readFirmwareFile(firmware, state);
    if (fault == FirmwareFault::None) return std::nullopt;
    // A folder, a FIFO or a device is there, not missing: said as for data files.
    if (fault == FirmwareFault::NotRegular)
        tool.error(firmware, kelvane::texts::readFaultText(kelvane::ReadFault::NotRegular, tool.language));
    else
        tool.error("", format(tool.text(fault == FirmwareFault::NotFirmware ? kelvane::texts::ToolText::FlashBadFile
                                                                            : kelvane::texts::ToolText::FlashNoFile),
                              firmware));
    return kFileError;
}

// `stalled`: the job's stall limit stopped it.
jobs::JobResult runFlashJob(const Tool& tool, const std::string& chosen, jobs::FlashRun& job, ToolView& view,
                            const jobs::JobOptions& options, bool restoreWanted, bool& stalled) {
    using jobs::JobEnd;
    using kelvane::texts::ToolText;
    const std::string portName = chosen == kSimPort ? std::string(kSimPort) : chosen;
    // The register keeps the job; one line when it could not.
    auto notRecorded = [&tool](const jobs::FlashReport& report) {
        if (!report.notRecorded.empty())
            tool.error("", format(tool.text(ToolText::VisitNotRecorded), report.notRecorded));
    };
    const jobs::FlashReport report = job.run(portName, options);
    jobs::JobResult out = report.result;
    stalled = report.stalled;
    view.flush();
    notRecorded(report);
    if (out.before) tool.result(link::formatPortStatus(tool.text(ToolText::ProbeStatus), chosen, *out.before));
    if (!out.backupPath.empty()) tool.result(format(tool.text(ToolText::Saved), out.backupPath));
    if (out.after) tool.result(link::formatPortStatus(tool.text(ToolText::ProbeStatus), chosen, *out.after));
    if (out.end == JobEnd::Changed) {
        printChangeList(tool, *out.backup, *out.now);
        const ImageDifference d = compareImages(*out.now, *out.backup);
        tool.error(out.backupPath, format(tool.text(ToolText::Differences), d.bytes, static_cast<int>(d.blocks.size())));
        const bool restore = restoreWanted && confirmRestore(tool, chosen, static_cast<int>(d.blocks.size()));
        if (restore) {
            const jobs::FlashReport restored = job.restore(portName, out);
            out = restored.result;
            stalled = restored.stalled;
            notRecorded(restored);
            if (out.end == JobEnd::Done) tool.result(tool.text(kelvane::texts::Message::UploadDone));
        }
    }
    // Compared with the backup, not with a file.
    if (out.end == JobEnd::Done && out.now) tool.result(kelvane::texts::configurationAsBefore(tool.language));
    return out;
}

// Why the port of a job that ended as a port error did not open (or, on a
// gateway, would not take the job: a fixed speed, an unconfirmed change).
link::OpenFailure portFailure(const jobs::JobResult& out, const link::Line& line) {
    for (const jobs::StepOutcome& s : out.steps)
        if (s.cause == jobs::StepCause::PortNotOpened && s.openFailure != link::OpenFailure::None) return s.openFailure;
    return line.openFailure();
}

int flashExitCode(const jobs::JobResult& out, const bootloader::UpgradeState& state, const link::WatchedLine& watched) {
    using jobs::JobEnd;
    switch (out.end) {
    case JobEnd::Done: return kDone;
    case JobEnd::Changed: return kDifferences;
    case JobEnd::PortError:
        return portFailure(out, watched) == link::OpenFailure::GatewayRefused ? kNoAnswer : kPortError;
    case JobEnd::Stopped: return kInterrupted;
    case JobEnd::FlashFailed:
        // Silence or a closed port ends a run as a programming error too.
        return state.programResult >= 0 && watched.lastReadEmpty() ? kNoAnswer : kRefused;
    case JobEnd::NoController:
    case JobEnd::LineBusy:
    case JobEnd::NotBack:
    case JobEnd::BackupFailed:
    case JobEnd::VerifyFailed:
    case JobEnd::RestoreFailed: return kNoAnswer;
    }
    return kDone;
}

// The line that says why the job ended as it did.
void sayFlashEnd(const Tool& tool, const std::string& chosen, int exit, bool timedOut, const jobs::JobResult& out,
                 ToolView& view, const link::Line& line) {
    using jobs::JobEnd;
    using kelvane::texts::Message;
    using kelvane::texts::ToolText;
    const bool portError = out.end == JobEnd::PortError && exit != kInterrupted;
    if (portError) view.discardStatus();  // "port in use" whatever the cause: said below
    view.flush();
    if (exit == kInterrupted) {
        tool.error(chosen, tool.text(Message::TransferAborted));
    } else if (portError) {
        tool.portOpenError(chosen, portFailure(out, line));
    } else if (timedOut || (out.end == JobEnd::FlashFailed && exit == kNoAnswer)) {
        tool.error(chosen, tool.text(ToolText::FlashTimeout));
    } else if (out.end == JobEnd::NoController || out.end == JobEnd::NotBack) {
        tool.error(chosen, tool.text(ToolText::ProbeNoAnswer));
    } else if (out.end == JobEnd::LineBusy) {
        tool.error(chosen, tool.text(Message::LineBusy));
    } else if (out.end == JobEnd::BackupFailed || out.end == JobEnd::VerifyFailed || out.end == JobEnd::RestoreFailed) {
        tool.error(chosen, tool.text(Message::NoAnswer));
    } else if (exit == kRefused && view.lastStatus()) {
        tool.error(chosen, statusLine(tool, *view.lastStatus()));
    }
    if (!portError && !timedOut) explainFailure(tool, chosen, out);
    tool.lineFaultError(chosen, line.fault());
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
    if (const auto failed = loadFirmware(tool, firmware, state)) return *failed;

    bootloader::StopFlag stop;
    bootloader::StoppableClock wallClock(stop);
    FlashPort port;
    if (chosen == kSimPort)
        openSimulator(port);
    else if (link::isNetPortName(chosen))
        port.line = std::make_unique<link::NetLine>();
    else
        port.line = std::make_unique<session::QtSerialLine>();
    link::Clock& clock = port.virtualTime ? static_cast<link::Clock&>(*port.virtualTime) : wallClock;
    port.line = kelvane::diagnostics::tracedLine(std::move(port.line));
    link::WatchedLine watched(*port.line);

    ToolRegister reg(tool);
    jobs::FlashSetting setting;
    setting.port = chosen;
    setting.backupFolder = kelvane::diagnostics::flashBackupFolder();
    setting.openRegister = [&reg](std::string& why) {
        kelvane::registry::Register* r = kelvane::registry::Register::available() ? reg.get() : nullptr;
        if (!r) why = kelvane::registry::Register::available() ? reg.why() : std::string();
        // kvtool's own register, on this same thread: lent, not handed over.
        return std::shared_ptr<kelvane::registry::Register>(std::shared_ptr<kelvane::registry::Register>(), r);
    };
    jobs::FlashRun job(watched, clock, stop, view, state, std::move(setting));
    jobs::JobOptions options;
    options.backup = !tool.args.has("--no-backup");
    const bool restoreWanted = tool.args.has("--restore-config");
    options.verify = tool.args.has("--verify-config") || restoreWanted;

    auto requestStop = [&job] { job.requestStop(); };
    jobs::JobResult out;
    bool timedOut = false;
    {
        // As Stop in the window: nothing more is sent, the port closes.
        interrupt::Guard guard(requestStop);
        out = runFlashJob(tool, chosen, job, view, options, restoreWanted, timedOut);
        if (port.line->isOpen()) port.line->close();
    }
    const int exit = timedOut ? kNoAnswer : flashExitCode(out, state, watched);
    sayFlashEnd(tool, chosen, exit, timedOut, out, view, *port.line);
    return exit;
}

}  // namespace kelvane::cli
