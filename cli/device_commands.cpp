// ports, probe, download, upload and check: the controller over a serial line
// or the built-in simulator.
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "cli/progress.h"
#include "cli/watchdog.h"

#include "files/data_file.h"
#include "link/port.h"
#include "link/probe.h"
#include "link/transfer.h"
#include "session/device_session.h"
#include "session/system_ports.h"

#include <unistd.h>

#include <atomic>
#include <bitset>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

namespace kelvane::cli {

using kelvane::Image;
using kelvane::texts::Message;
using kelvane::texts::ToolText;
namespace link = kelvane::link;
namespace session = kelvane::session;

namespace {

// The longest a whole download or upload may take: twice the line time of a
// full image at 2400 baud, plus the wait for a line still busy with an earlier
// download. Only a controller (or line) that keeps sending without ever
// finishing reaches it; silence ends a transfer much sooner.
constexpr std::chrono::milliseconds kTransferLimit{2 * 73000 + 10000};

std::vector<link::PortInfo> listedPorts() {
    auto ports = session::systemPorts();
    link::sortPorts(ports);
    return ports;
}

// The port named by --port, or nothing after the usage error that lists the
// ports found.
std::optional<std::string> requirePort(const Tool& tool) {
    if (tool.args.has("--port") && !tool.args.value("--port").empty()) return tool.args.value("--port");
    std::string names;
    for (const auto& p : listedPorts()) names += p.location + ", ";
    names += kSimPort;
    tool.error("", format(tool.text(ToolText::MissingPort), names));
    return std::nullopt;
}

// The port name the session opens: the platform's rule for a device, the
// built-in simulator for "sim".
std::string sessionPortName(const std::string& chosen) {
    return link::PortName(chosen == kSimPort ? std::string(session::kSimulatorPortName) : chosen);
}

struct ControllerRead {
    int exit = kDone;
    Image image{};
};

// Runs one transfer on this thread: Ctrl-C cancels it as Esc does in the
// window (a download's read is cut at once, an upload stops before its next
// frame and closes the upload mode with the end frame), and so does the time
// limit, which then counts as a time-out.
struct TransferRun {
    session::TransferReport report;
    bool overLimit = false;
};

TransferRun runTransfer(const Tool& tool, const session::TransferRequest& request) {
    TransferRun run;
    session::PortConnection port = session::openablePort(request.portName);
    std::atomic<bool> cancel{false};
    const bool download = request.kind == session::TransferKind::Download;
    const auto stop = [&] {
        cancel = true;
        if (download) port.line->interrupt();
    };
    Progress progress(tool.progress, static_cast<int>(kelvane::kBlockCount), download ? "download" : "upload");
    interrupt::Guard guard(stop);
    Watchdog limit(kTransferLimit, stop);
    run.report = session::runTransfer(request, port, &cancel, [&](int position) { progress.set(position); });
    run.overLimit = limit.fired();
    return run;
}

// A full download on its own opening of the port, as the window does it.
ControllerRead readController(const Tool& tool, const std::string& chosen) {
    ControllerRead r;
    const TransferRun run = runTransfer(tool, session::downloadRequest(sessionPortName(chosen)));
    if (!run.report.opened) {
        tool.error(chosen, tool.text(Message::PortError));
        r.exit = kPortError;
        return r;
    }
    auto result = run.report.download.result;
    if (run.overLimit && result == link::DownloadResult::Cancelled) result = link::DownloadResult::TimedOut;
    switch (result) {
    case link::DownloadResult::Completed: r.image = run.report.download.image; break;
    case link::DownloadResult::Cancelled:
        tool.error(chosen, tool.text(Message::TransferAborted));
        r.exit = kInterrupted;
        break;
    case link::DownloadResult::TimedOut:
        tool.error(chosen, tool.text(ToolText::ProbeNoAnswer));
        r.exit = kNoAnswer;
        break;
    case link::DownloadResult::LineBusy:  // nothing was read: no image to save or compare
        tool.error(chosen, tool.text(Message::LineBusy));
        r.exit = kNoAnswer;
        break;
    }
    return r;
}

// Whether a file can be written at `path`: its folder exists and takes new
// files, and the path is no folder itself. Asked before a download, so a
// mistyped -o fails at once and not after a minute of reading.
bool canWriteAt(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_directory(path, error)) return false;
    fs::path folder = fs::path(path).parent_path();
    if (folder.empty()) folder = ".";
    return fs::is_directory(folder, error) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

// Prints the comparison of what the controller holds with a file; kDone or kDifferences.
int compareWithFile(const Tool& tool, const std::string& file, const Image& controller, const Image& wanted) {
    const ImageDifference d = compareImages(controller, wanted);
    if (d.bytes == 0) {
        tool.result(tool.text(ToolText::Same));
        return kDone;
    }
    // The file's values on the left, the controller's on the right; nothing here is sent.
    tool.result(format(tool.text(ToolText::CheckSides), file));
    printChangeList(tool, wanted, controller, false);
    tool.error(file, format(tool.text(ToolText::Differences), d.bytes, static_cast<int>(d.blocks.size())));
    return kDifferences;
}

}  // namespace

int portsCommand(const Tool& tool) {
    const auto ports = listedPorts();
    if (tool.args.has("--json")) {
        std::string out = "[";
        for (std::size_t i = 0; i < ports.size(); ++i) {
            const auto& p = ports[i];
            out += std::string(i ? ",\n " : "") + "{\"name\": " + jsonString(p.name) +
                   ", \"path\": " + jsonString(p.location) + ", \"description\": " + jsonString(p.description) +
                   ", \"manufacturer\": " + jsonString(p.manufacturer) +
                   ", \"serialNumber\": " + jsonString(p.serialNumber) + ", \"usb\": " + jsonString(p.usbId) + "}";
        }
        tool.result(out + "]");
        return kDone;
    }
    if (ports.empty()) tool.error("", tool.text(ToolText::NoPortsFound));
    // One port a line, tab-separated: path, description, manufacturer,
    // serial number, USB vid:pid ("-" for what the system does not know).
    for (const auto& p : ports) {
        std::string line = p.location;
        for (const std::string* f : {&p.description, &p.manufacturer, &p.serialNumber, &p.usbId})
            line += "\t" + (f->empty() ? std::string("-") : *f);
        tool.result(line);
    }
    return kDone;
}

int probeCommand(const Tool& tool) {
    const auto chosen = requirePort(tool);
    if (!chosen) return kUsage;
    const std::string name = sessionPortName(*chosen);
    const session::ProbeResult probe = session::probePort(name);
    if (!probe.opened) {
        tool.error(*chosen, tool.text(Message::PortError));
        return kPortError;
    }
    const auto& reply = probe.reply;
    if (!reply) {
        tool.error(*chosen, tool.text(ToolText::ProbeNoAnswer));
        return kNoAnswer;
    }
    if (tool.args.has("--json")) {
        tool.result("{\"port\": " + jsonString(name) + ", \"id\": " + std::to_string(reply->id) + ", \"serialNumber\": " +
                    std::to_string(reply->serialNumber) + ", \"firmware\": " + std::to_string(reply->firmware) + "}");
    } else {
        tool.result(link::formatPortStatus(tool.text(Message::PortStatus), name, *reply));
    }
    return kDone;
}

int downloadCommand(const Tool& tool) {
    const auto chosen = requirePort(tool);
    if (!chosen) return kUsage;
    const std::string file = tool.args.value("--output");
    if (!canWriteAt(file)) {
        tool.error(file, tool.text(Message::SaveError));
        return kFileError;
    }
    const ControllerRead r = readController(tool, *chosen);
    if (r.exit != kDone) return r.exit;
    if (!kelvane::SaveDataFile(file, r.image, tool.args.value("--description"))) {
        tool.error(file, tool.text(Message::SaveError));
        return kFileError;
    }
    tool.result(tool.text(Message::DownloadDone));
    tool.result(format(tool.text(ToolText::Saved), file));
    return kDone;
}

int checkCommand(const Tool& tool) {
    const auto chosen = requirePort(tool);
    if (!chosen) return kUsage;
    const std::string file = tool.args.positional[0];
    const auto wanted = loadImageFile(tool, file);
    if (!wanted) return kFileError;
    const ControllerRead r = readController(tool, *chosen);
    if (r.exit != kDone) return r.exit;
    return compareWithFile(tool, file, r.image, wanted->image);
}

int uploadCommand(const Tool& tool) {
    const auto chosen = requirePort(tool);
    if (!chosen) return kUsage;
    const std::string file = tool.args.positional[0];
    const auto wanted = loadImageFile(tool, file);
    if (!wanted) return kFileError;

    // What the controller holds: read from it, or trusted from --base. --full
    // sends every block whatever it holds.
    Image device{};
    if (tool.args.has("--base")) {
        const auto base = loadImageFile(tool, tool.args.value("--base"));
        if (!base) return kFileError;
        device = base->image;
    } else if (tool.args.has("--full")) {
        for (std::size_t i = 0; i < device.size(); ++i) device[i] = static_cast<std::uint8_t>(~wanted->image[i]);
    } else {
        const ControllerRead r = readController(tool, *chosen);
        if (r.exit != kDone) return r.exit;
        device = r.image;
    }

    const ImageDifference d = compareImages(device, wanted->image);
    const int blocks = static_cast<int>(d.blocks.size());
    if (blocks == 0) {
        tool.result(tool.text(ToolText::NoChanges));
    } else {
        if (!tool.args.has("--full")) printChangeList(tool, device, wanted->image);
        const int seconds = (blocks * static_cast<int>(link::kFrameBytes) + 8 + 34) / 240 + 1;
        tool.result(format(tool.text(ToolText::BlocksToSend), blocks, seconds));
        if (!tool.args.has("--yes")) {
            if (!::isatty(0)) {
                tool.error(*chosen, tool.text(ToolText::NoTerminal));
                return kUsage;
            }
            std::cerr << format(tool.text(ToolText::ConfirmUpload), blocks) << std::flush;
            std::string answer;
            std::getline(std::cin, answer);
            const char c = answer.empty() ? 'n' : answer[0];
            if (c != 'y' && c != 'Y' && c != 't' && c != 'T') {
                tool.error(*chosen, tool.text(ToolText::NothingSent));
                return kUsage;
            }
        }

        session::TransferRequest request = session::uploadRequest(sessionPortName(*chosen), wanted->image, device);
        if (tool.args.has("--full")) {
            std::bitset<kelvane::kBlockCount> all;
            request = session::uploadRequest(sessionPortName(*chosen), wanted->image, all.set());
        }
        const TransferRun run = runTransfer(tool, request);
        if (!run.report.opened) {
            tool.error(*chosen, tool.text(Message::PortError));
            return kPortError;
        }
        link::UploadOutcome out = run.report.upload;
        if (run.overLimit && out.result == link::UploadResult::Cancelled) out.result = link::UploadResult::NoAnswer;
        tool.result(format(tool.text(ToolText::BlocksSent), out.framesSent));
        switch (out.result) {
        case link::UploadResult::Completed: break;
        case link::UploadResult::Cancelled:
            tool.error(*chosen, tool.text(Message::TransferAborted));
            return kInterrupted;
        case link::UploadResult::NoAnswer: tool.error(*chosen, tool.text(Message::NoAnswer)); return kNoAnswer;
        case link::UploadResult::LineBusy:  // nothing was sent
            tool.error(*chosen, tool.text(Message::LineBusy));
            return kNoAnswer;
        }
        tool.result(tool.text(Message::UploadDone));
    }
    if (!tool.args.has("--check")) return kDone;
    const ControllerRead r = readController(tool, *chosen);
    if (r.exit != kDone) return r.exit;
    return compareWithFile(tool, file, r.image, wanted->image);
}

}  // namespace kelvane::cli
