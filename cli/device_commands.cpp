// ports, probe, download, upload and check: the controller over a serial line
// or the built-in simulator.
#include "cli/building_register.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "cli/merge_step.h"
#include "cli/progress.h"
#include "cli/time_limits.h"
#include "cli/terminal.h"
#include "cli/watchdog.h"

#include "files/data_file.h"
#include "image/change_list.h"
#include "link/port.h"
#include "link/probe.h"
#include "link/transfer.h"
#include "link/transfer_status.h"
#include "session/device_session.h"
#include "session/system_ports.h"
#include "texts/file_texts.h"

#include <atomic>
#include <bitset>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

namespace kelvane::cli {

using kelvane::Image;
using kelvane::texts::Message;
using kelvane::texts::ToolText;
namespace link = kelvane::link;
namespace registry = kelvane::registry;
namespace session = kelvane::session;

namespace {

constexpr std::chrono::milliseconds kTransferLimit{kTransferLimitMs};

std::vector<link::PortInfo> listedPorts() {
    auto ports = session::systemPorts();
    link::sortPorts(ports);
    return ports;
}

}  // namespace

std::optional<std::string> requirePort(const Tool& tool) {
    if (tool.args.has("--port") && !tool.args.value("--port").empty()) return tool.args.value("--port");
    std::string names;
    for (const auto& p : listedPorts()) names += p.location + ", ";
    names += kSimPort;
    tool.error("", format(tool.text(ToolText::MissingPort), names));
    return std::nullopt;
}

namespace {

// The port name the session opens: the platform's rule for a device, the
// built-in simulator for "sim".
std::string sessionPortName(const std::string& chosen) {
    return link::PortName(chosen == kSimPort ? std::string(session::kSimulatorPortName) : chosen);
}

struct ControllerRead {
    int exit = kDone;
    Image image{};
    std::string outcome = "completed";  // as the register keeps it
};

// Who answers on the port: the probe a transfer begins with (8 bytes, under a
// second), so its visit is recorded under the controller's identity. Nothing
// when the port does not open or nothing answers; the transfer then finds out
// for itself.
std::optional<link::ProbeReply> identify(const std::string& chosen) {
    const session::ProbeResult probe = session::probePort(sessionPortName(chosen));
    return probe.opened ? probe.reply : std::nullopt;
}

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
        tool.portOpenError(chosen, run.report.failure);
        r.exit = kPortError;
        r.outcome = "port error";
        return r;
    }
    auto result = run.report.download.result;
    if (run.overLimit && result == link::DownloadResult::Cancelled) result = link::DownloadResult::TimedOut;
    switch (result) {
    case link::DownloadResult::Completed: r.image = run.report.download.image; break;
    case link::DownloadResult::Cancelled:
        tool.error(chosen, tool.text(Message::TransferAborted));
        r.exit = kInterrupted;
        r.outcome = "cancelled";
        break;
    case link::DownloadResult::TimedOut:
        tool.error(chosen, tool.text(ToolText::ProbeNoAnswer));
        r.exit = kNoAnswer;
        r.outcome = "no answer";
        break;
    case link::DownloadResult::Incomplete:  // an image with holes is neither saved nor compared
        tool.error(chosen, format(tool.text(Message::BlocksMissing), run.report.download.missingBlocks));
        r.exit = kNoAnswer;
        r.outcome = "incomplete";
        break;
    case link::DownloadResult::LineBusy:  // nothing was read: no image to save or compare
        tool.error(chosen, tool.text(Message::LineBusy));
        r.exit = kNoAnswer;
        r.outcome = "line busy";
        break;
    }
    return r;
}

// Whether a file can be written at `path`: its folder exists and takes new
// files, and the path is no folder itself. Asked before a download, so a
// mistyped -o fails at once and not after a minute of reading.
// What saving at the path would meet, found before the port opens rather
// than after a minute of reading: the writer's own refusals, and a folder
// this user may not create a file in.
kelvane::WriteFault canWriteAt(const std::string& path) {
    const std::filesystem::path target = kelvane::PathFromUtf8(path);
    const kelvane::WriteFault fault = kelvane::CheckWriteTarget(target);
    if (fault != kelvane::WriteFault::None) return fault;
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    return folderTakesFiles(folder) ? kelvane::WriteFault::None : kelvane::WriteFault::Failed;
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
        tool.portOpenError(*chosen, probe.failure);
        return kPortError;
    }
    if (probe.lineBusy) {
        tool.error(*chosen, tool.text(Message::LineBusy));
        return kNoAnswer;
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
        tool.result(link::formatPortStatus(tool.text(ToolText::ProbeStatus), name, *reply));
    }
    return kDone;
}

int downloadCommand(const Tool& tool) {
    const auto chosen = requirePort(tool);
    if (!chosen) return kUsage;
    const std::string file = tool.args.value("--output");
    if (const auto fault = canWriteAt(file); fault != kelvane::WriteFault::None) {
        tool.error(file, kelvane::texts::writeFaultText(fault, tool.language));
        return kFileError;
    }
    const auto identity = identify(*chosen);
    const ControllerRead r = readController(tool, *chosen);
    ToolRegister reg(tool);
    reg.visit(sessionPortName(*chosen), identity, registry::VisitKind::Download, r.outcome,
              r.exit == kDone ? &r.image : nullptr);
    if (r.exit != kDone) return r.exit;
    auto fault = kelvane::WriteFault::None;
    if (!kelvane::SaveDataFile(kelvane::PathFromUtf8(file), r.image, tool.args.value("--description"), &fault)) {
        tool.error(file, kelvane::texts::writeFaultText(fault, tool.language));
        return kFileError;
    }
    reg.savedFile(file, r.image, identity);
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
    const auto identity = identify(*chosen);
    const ControllerRead r = readController(tool, *chosen);
    ToolRegister reg(tool);
    reg.visit(sessionPortName(*chosen), identity, registry::VisitKind::Check,
              r.exit != kDone            ? r.outcome
              : r.image == wanted->image ? "same"
                                         : "differs",
              r.exit == kDone ? &r.image : nullptr);
    if (r.exit != kDone) return r.exit;
    return compareWithFile(tool, file, r.image, wanted->image);
}

int uploadCommand(const Tool& tool) {
    const auto chosen = requirePort(tool);
    if (!chosen) return kUsage;
    const std::string file = tool.args.positional[0];
    auto wanted = loadImageFile(tool, file);
    if (!wanted) return kFileError;
    // --base: the image the file's edits started from; the upload then keeps
    // what changed at the controller since (unless --overwrite).
    const bool merging = tool.args.has("--base") && !tool.args.has("--overwrite");
    std::optional<kelvane::DataFile> base;
    if (merging && !(base = loadImageFile(tool, tool.args.value("--base")))) return kFileError;

    // The wrong-building guard: the file's image came from another controller
    // than the one on the port.
    ToolRegister reg(tool);
    const auto identity = identify(*chosen);
    if (identity && !tool.args.has("--other-controller")) {
        if (registry::Register* r = reg.get()) {
            const registry::ControllerKey here = keyOf(*identity);
            if (const auto wrong = r->wrongBuilding(wanted->image, std::nullopt, here)) {
                const registry::Controller* origin = &*wrong;
                const auto connected = r->controller(here);
                std::string line = tool.text(ToolText::OtherController);
                const auto first = line.find("%s");
                const auto second = line.find("%s", first + 2);
                if (first != std::string::npos && second != std::string::npos)
                    line = line.substr(0, first) + buildingName(origin->key, origin) +
                           line.substr(first + 2, second - first - 2) +
                           buildingName(here, connected ? &*connected : nullptr) + line.substr(second + 2);
                tool.error(file, line);
                return kOtherController;
            }
        }
    }

    // What the controller holds: read from it. --full sends every block
    // whatever it holds.
    Image device{};
    if (tool.args.has("--full")) {
        for (std::size_t i = 0; i < device.size(); ++i) device[i] = static_cast<std::uint8_t>(~wanted->image[i]);
    } else {
        const ControllerRead r = readController(tool, *chosen);
        if (r.exit != kDone) return r.exit;
        device = r.image;
    }
    if (merging) {
        // The description stays in the file: the controller holds none.
        const MergeStep step = mergeWithBase(tool, tool.args.value("--base"), {base->image, wanted->description},
                                             {wanted->image, wanted->description}, {device, wanted->description});
        if (step.exit != kDone) {
            tool.error(*chosen, tool.text(ToolText::NothingSent));
            return step.exit;
        }
        wanted->image = step.merged.image;
    }

    const ImageDifference d = compareImages(device, wanted->image);
    const int blocks = static_cast<int>(d.blocks.size());
    if (blocks == 0) {
        tool.result(tool.text(ToolText::NoChanges));
    } else {
        // --full sends every block whatever the controller holds: a list against
        // an image made up for it would show everything as changed.
        if (!tool.args.has("--full")) printChangeList(tool, device, wanted->image);
        const int seconds = static_cast<int>(std::ceil(kelvane::UploadLineSeconds(static_cast<std::size_t>(blocks))));
        tool.result(format(tool.text(ToolText::BlocksToSend), blocks, seconds));
        if (!tool.args.has("--yes")) {
            if (!isTerminal(0)) {
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
            tool.portOpenError(*chosen, run.report.failure);
            return kPortError;
        }
        link::UploadOutcome out = run.report.upload;
        if (run.overLimit && out.result == link::UploadResult::Cancelled) out.result = link::UploadResult::NoAnswer;
        const bool completed = out.result == link::UploadResult::Completed;
        const char* outcome = completed                                     ? "completed"
                              : out.result == link::UploadResult::Cancelled ? "cancelled"
                              : out.result == link::UploadResult::LineBusy  ? "line busy"
                                                                            : "no answer";
        reg.visit(sessionPortName(*chosen), identity, registry::VisitKind::Upload, outcome,
                  completed ? &wanted->image : nullptr);
        tool.result(format(tool.text(ToolText::BlocksSent), out.framesSent));
        if (link::mayHoldNewBlocks(out)) tool.error(*chosen, tool.text(Message::MayHoldNewBlocks));
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
