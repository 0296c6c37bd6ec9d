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
#include "sim/sample_building.h"
#include "link/port.h"
#include "link/probe.h"
#include "session/qt_serial_line.h"
#include "session/system_ports.h"
#include "link/transfer.h"
#include "sim/controller_port.h"


#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <memory>

namespace kvtool {

using kelvane::Image;
using kelvane::lang::Message;
using kelvane::lang::ToolText;
namespace link = kelvane::link;

namespace {

// The longest a whole download or upload may take: twice the line time of a
// full image at 2400 baud, plus the wait for a line still busy with an earlier
// download. Only a controller (or line) that keeps sending without ever
// finishing reaches it; silence ends a transfer much sooner.
constexpr std::chrono::milliseconds kTransferLimit{2 * 73000 + 10000};

std::vector<serial::PortInfo> listedPorts() {
    auto ports = serial::systemPorts();
    serial::sortPorts(ports);
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

// The stored port name (the platform's rule) and a line that opens it.
struct Port {
    std::string name;
    std::unique_ptr<serial::Line> line;
};

Port makePort(const std::string& chosen) {
    Port p;
    if (chosen == kSimPort) {
        sim::ControllerPort::preload(kelvane::SampleBuildingImage());
        p.name = kSimPort;
        p.line = std::make_unique<sim::ControllerPort>(kSimPort);
    } else {
        p.name = link::PortName(chosen);
        p.line = std::make_unique<serial::QtSerialLine>();
    }
    return p;
}

bool openPort(const Tool& tool, Port& port, const std::string& chosen) {
    port = makePort(chosen);
    if (link::OpenPort(*port.line, port.name)) return true;
    tool.error(chosen, tool.text(Message::PortError));
    return false;
}

struct ControllerRead {
    int exit = kDone;
    Image image{};
};

// A full download on its own opening of the port, as the window does it.
ControllerRead readController(const Tool& tool, const std::string& chosen) {
    ControllerRead r;
    Port port;
    if (!openPort(tool, port, chosen)) {
        r.exit = kPortError;
        return r;
    }
    std::atomic<bool> cancel{false};
    link::DownloadOutcome out;
    bool overLimit = false;
    {
        Progress progress(tool.progress, int(kelvane::kBlockCount), "download");
        const auto stop = [&] {
            cancel = true;
            port.line->interrupt();
        };
        interrupt::Guard guard(stop);
        Watchdog limit(kTransferLimit, stop);
        link::TransferContext ctx{*port.line, serial::systemClock(), &cancel,
                                  [&](int position) { progress.set(position); }};
        out = link::DownloadThread(ctx);
        port.line->close();
        overLimit = limit.fired();
    }
    if (overLimit && out.result == link::DownloadResult::Cancelled) out.result = link::DownloadResult::TimedOut;
    switch (out.result) {
    case link::DownloadResult::Completed:
        r.image = out.image;
        break;
    case link::DownloadResult::Cancelled:
        tool.error(chosen, tool.text(Message::TransferAborted));
        r.exit = kInterrupted;
        break;
    case link::DownloadResult::TimedOut:
        tool.error(chosen, tool.text(ToolText::ProbeNoAnswer));
        r.exit = kNoAnswer;
        break;
    }
    return r;
}

// Prints the comparison of what the controller holds with a file; kDone or kDifferences.
int compareWithFile(const Tool& tool, const std::string& file, const Image& controller, const Image& wanted) {
    const ImageDifference d = compareImages(controller, wanted);
    if (d.bytes == 0) {
        tool.result(tool.text(ToolText::Same));
        return kDone;
    }
    printBlockList(tool, d);
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
            out += std::string(i ? ",\n " : "") + "{\"name\": " + jsonString(p.name) + ", \"path\": " +
                   jsonString(p.location) + ", \"description\": " + jsonString(p.description) +
                   ", \"manufacturer\": " + jsonString(p.manufacturer) + ", \"serialNumber\": " +
                   jsonString(p.serialNumber) + ", \"usb\": " + jsonString(p.usbId) + "}";
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
    Port port;
    if (!openPort(tool, port, *chosen)) return kPortError;
    const auto reply = link::probe(*port.line);
    port.line->close();
    if (!reply) {
        tool.error(*chosen, tool.text(ToolText::ProbeNoAnswer));
        return kNoAnswer;
    }
    if (tool.args.has("--json")) {
        tool.result("{\"port\": " + jsonString(port.name) + ", \"id\": " + std::to_string(reply->id) +
                    ", \"serialNumber\": " + std::to_string(reply->serialNumber) +
                    ", \"firmware\": " + std::to_string(reply->firmware) + "}");
    } else {
        tool.result(link::formatPortStatus(tool.text(Message::PortStatus), port.name, *reply));
    }
    return kDone;
}

int downloadCommand(const Tool& tool) {
    const auto chosen = requirePort(tool);
    if (!chosen) return kUsage;
    const ControllerRead r = readController(tool, *chosen);
    if (r.exit != kDone) return r.exit;
    const std::string file = tool.args.value("--output");
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

    // What the controller holds: read from it, trusted from --base, or (--full)
    // an image that differs from the file in every byte so every block goes.
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

        Port port;
        if (!openPort(tool, port, *chosen)) return kPortError;
        std::atomic<bool> cancel{false};
        link::UploadOutcome out;
        bool overLimit = false;
        {
            Progress progress(tool.progress, int(kelvane::kBlockCount), "upload");
            // As Esc in the window: the upload stops before its next frame and
            // closes the controller's upload mode with the end frame. The line
            // is not interrupted, so no frame is cut off halfway.
            interrupt::Guard guard([&] { cancel = true; });
            Watchdog limit(kTransferLimit, [&] { cancel = true; });
            link::TransferContext ctx{*port.line, serial::systemClock(), &cancel,
                                      [&](int position) { progress.set(position); }};
            out = link::UploadThread(ctx, wanted->image, device);
            port.line->close();
            overLimit = limit.fired();
        }
        tool.result(format(tool.text(ToolText::BlocksSent), out.framesSent));
        if (overLimit && out.result == link::UploadResult::Cancelled) out.result = link::UploadResult::NoAnswer;
        if (out.result == link::UploadResult::Cancelled) {
            tool.error(*chosen, tool.text(Message::TransferAborted));
            return kInterrupted;
        }
        if (out.result == link::UploadResult::NoAnswer) {
            tool.error(*chosen, tool.text(Message::NoAnswer));
            return kNoAnswer;
        }
        tool.result(tool.text(Message::UploadDone));
    }
    if (!tool.args.has("--check")) return kDone;
    const ControllerRead r = readController(tool, *chosen);
    if (r.exit != kDone) return r.exit;
    return compareWithFile(tool, file, r.image, wanted->image);
}

}  // namespace kvtool
