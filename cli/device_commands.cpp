// ports, probe, download and check: the controller over a serial line or the
// built-in simulator (upload: upload_command.cpp).
#include "cli/building_register.h"
#include "cli/commands.h"
#include "cli/device_line.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "cli/progress.h"
#include "cli/terminal.h"
#include "cli/time_limits.h"
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
#include "texts/language_table.h"
#include "texts/output_text.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
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

std::string sessionPortName(const std::string& chosen) {
    return link::PortName(chosen == kSimPort ? std::string(session::kSimulatorPortName) : chosen);
}

std::optional<link::ProbeReply> identify(const std::string& chosen) {
    const session::ProbeResult probe = session::probePort(sessionPortName(chosen));
    return probe.opened ? probe.reply : std::nullopt;
}

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
    // A second Ctrl-C ends the tool before the visit is recorded: said as it ends.
    const std::string note = download ? std::string() : "kvtool: " + tool.text(ToolText::StoppedAtOnce) + "\n";
    interrupt::Guard guard(stop, note);
    Watchdog limit(kTransferLimit, stop);
    run.report = session::runTransfer(request, port, &cancel, [&](int position) { progress.set(position); });
    run.overLimit = limit.fired();
    tool.lineFaultError(request.portName, run.report.fault);
    return run;
}

namespace {

struct ControllerRead {
    int exit = kDone;
    Image image{};
    std::string outcome = "completed";  // as the register keeps it
};

// A full download on its own opening of the port, as the window does it.
ControllerRead readController(const Tool& tool, const std::string& chosen) {
    ControllerRead r;
    const TransferRun run = runTransfer(tool, session::downloadRequest(sessionPortName(chosen)));
    if (!run.report.opened) {
        r.exit = tool.portOpenError(chosen, run.report.failure);
        r.outcome = r.exit == kPortError ? "port error" : "no answer";
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
    const std::filesystem::path target = kelvane::pathFromUtf8(path);
    const kelvane::WriteFault fault = kelvane::checkWriteTarget(target);
    if (fault != kelvane::WriteFault::None) return fault;
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    return folderTakesFiles(folder) ? kelvane::WriteFault::None : kelvane::WriteFault::Failed;
}

}  // namespace

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

int portsCommand(const Tool& tool) {
    const auto ports = listedPorts();
    if (tool.args.has("--json")) {
        std::vector<std::string> items;
        for (const auto& p : ports)
            items.push_back(JsonObject()
                                .text("name", p.name)
                                .text("path", p.location)
                                .text("description", p.description)
                                .text("manufacturer", p.manufacturer)
                                .text("serialNumber", p.serialNumber)
                                .text("usb", p.usbId)
                                .str());
        tool.result(jsonArray(items));
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
    if (!probe.opened) return tool.portOpenError(*chosen, probe.failure);
    tool.lineFaultError(*chosen, probe.fault);
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
        tool.result(JsonObject()
                        .text("port", name)
                        .number("id", reply->id)
                        .number("serialNumber", reply->serialNumber)
                        .number("firmware", reply->firmware)
                        .str());
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
    if (!kelvane::saveDataFileTo(kelvane::pathFromUtf8(file), r.image, tool.args.value("--description"), &fault)) {
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

}  // namespace kelvane::cli
