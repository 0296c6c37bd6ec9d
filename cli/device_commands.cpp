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
#include "texts/language_table.h"
#include "texts/upload_text.h"
#include "jobs/upload_flow.h"
#include "texts/output_text.h"
#include "texts/visit_texts.h"

#include <algorithm>
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
    // A second Ctrl-C ends the tool before the visit is recorded: said as it ends.
    const std::string note = download ? std::string() : "kvtool: " + tool.text(ToolText::StoppedAtOnce) + "\n";
    interrupt::Guard guard(stop, note);
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
    const std::filesystem::path target = kelvane::pathFromUtf8(path);
    const kelvane::WriteFault fault = kelvane::checkWriteTarget(target);
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

namespace {

// The upload's questions as kvtool answers them: from its options, and the
// last one from the technician at a terminal (or --yes).
struct UploadAnswers {
    const Tool& tool;
    const std::string& port;
    const std::string& file;

    // The guard: --other-controller answers it in advance; otherwise only an
    // image the controller already holds goes (nothing is sent then).
    void guardRefused(const kelvane::jobs::Guard& g) const {
        if (g.verdict == kelvane::jobs::GuardVerdict::OtherController) {
            const auto& origin = *g.origin;
            std::string line = tool.text(ToolText::OtherController);
            const auto first = line.find("%s");
            const auto second = line.find("%s", first + 2);
            if (first != std::string::npos && second != std::string::npos)
                line = line.substr(0, first) + buildingName(origin.key, &origin) +
                       line.substr(first + 2, second - first - 2) +
                       buildingName(*g.connected, g.connectedKnown ? &*g.connectedKnown : nullptr) +
                       line.substr(second + 2);
            tool.error(file, line);
        } else {
            tool.error(file,
                       format(tool.text(ToolText::GuardUndecided), kelvane::texts::guardReasonText(g, tool.language)));
        }
    }

    // The confirmation: the list, the warnings, blocks and time; y/N.
    kelvane::jobs::ConfirmAnswer confirm(const kelvane::jobs::UploadFlow& flow, const std::string& baseName) const {
        kelvane::jobs::ConfirmAnswer a;
        const auto& proposal = flow.proposal();
        if (proposal.merge && tool.args.has("--prefer"))
            a.choices = kelvane::chooseAll(*proposal.merge, tool.args.value("--prefer") == "file"
                                                                ? kelvane::MergeChoice::File
                                                                : kelvane::MergeChoice::Controller);
        a.checkAfter = tool.args.has("--check");
        const kelvane::jobs::Plan plan = flow.plan(a.choices);
        std::cout << kelvane::texts::visibleText(kelvane::texts::changeListText(kelvane::texts::uploadGroups(
                                                     proposal, plan, tool.language, baseName)),
                                                 true)
                  << std::flush;
        a.send = true;  // the flow judges what cannot be sent
        const int blocks = static_cast<int>(plan.blocks.count());
        if (!plan.complete() || blocks == 0) return a;
        const int seconds = static_cast<int>(std::ceil(kelvane::uploadLineSeconds(static_cast<std::size_t>(blocks))));
        tool.result(format(tool.text(ToolText::BlocksToSend), blocks, seconds));
        if (tool.args.has("--yes")) return a;
        if (!isTerminal(0)) {
            tool.error(port, tool.text(ToolText::NoTerminal));
            a.send = false;
            return a;
        }
        std::cerr << format(tool.text(ToolText::ConfirmUpload), blocks) << std::flush;
        std::string answer;
        std::getline(std::cin, answer);
        const char c = answer.empty() ? 'n' : answer[0];
        a.send = c == 'y' || c == 'Y' || c == 't' || c == 'T';
        if (!a.send) tool.error(port, tool.text(ToolText::NothingSent));
        return a;
    }
};

link::DownloadOutcome downloadOutcome(const Tool& tool, const std::string& chosen, int* exit) {
    const TransferRun run = runTransfer(tool, session::downloadRequest(sessionPortName(chosen)));
    link::DownloadOutcome out = run.report.download;
    if (!run.report.opened) {
        tool.portOpenError(chosen, run.report.failure);
        *exit = kPortError;
        out.result = link::DownloadResult::Cancelled;
        return out;
    }
    if (run.overLimit && out.result == link::DownloadResult::Cancelled) out.result = link::DownloadResult::TimedOut;
    return out;
}

// The exit code and line of a read that did not complete.
int readFailed(const Tool& tool, const std::string& chosen, const link::DownloadOutcome& out) {
    switch (out.result) {
    case link::DownloadResult::Completed: return kDone;
    case link::DownloadResult::Cancelled: tool.error(chosen, tool.text(Message::TransferAborted)); return kInterrupted;
    case link::DownloadResult::TimedOut: tool.error(chosen, tool.text(ToolText::ProbeNoAnswer)); return kNoAnswer;
    case link::DownloadResult::Incomplete:
        tool.error(chosen, format(tool.text(Message::BlocksMissing), out.missingBlocks));
        return kNoAnswer;
    case link::DownloadResult::LineBusy: tool.error(chosen, tool.text(Message::LineBusy)); return kNoAnswer;
    }
    return kNoAnswer;
}

// What the upload is given: the file's image, where it came from and how to
// send it; false (said why) when the file or the --base file cannot be read.
// baseName is the --base file's name, empty without one.
bool uploadInput(const Tool& tool, const std::string& chosen, const std::string& file, kelvane::jobs::UploadInput& in,
                 std::string& baseName) {
    namespace jobs = kelvane::jobs;
    auto wanted = loadImageFile(tool, file);
    if (!wanted) return false;
    in.image = wanted->image;
    in.description = wanted->description;
    in.origin.kind = jobs::Origin::Kind::File;
    in.origin.image = wanted->image;
    in.port = sessionPortName(chosen);
    in.otherController = tool.args.has("--other-controller");
    in.mode = tool.args.has("--full")        ? jobs::Mode::EveryBlock
              : tool.args.has("--overwrite") ? jobs::Mode::Overwrite
                                             : jobs::Mode::Merge;
    // --base: the image the file's edits started from, instead of the register's.
    if (tool.args.has("--base")) {
        const auto base = loadImageFile(tool, tool.args.value("--base"));
        if (!base) return false;
        in.base = jobs::Base{base->image, tool.args.value("--base"), {}};
        baseName = tool.args.value("--base");
    }
    return true;
}

// Sends the flow's plan; kPortError (said) when the port did not open.
int sendPlan(const Tool& tool, const std::string& chosen, kelvane::jobs::UploadFlow& flow) {
    const kelvane::jobs::Plan& plan = flow.sending();
    const TransferRun run = runTransfer(tool, session::uploadRequest(sessionPortName(chosen), plan.image, plan.blocks));
    if (!run.report.opened) {
        tool.portOpenError(chosen, run.report.failure);
        return kPortError;
    }
    link::UploadOutcome out = run.report.upload;
    if (run.overLimit && out.result == link::UploadResult::Cancelled) out.result = link::UploadResult::NoAnswer;
    flow.sent(out);
    return kDone;
}

// Answers the flow's questions until it is done; kDone, or the exit code of
// a step that ended the command.
int driveUpload(const Tool& tool, const std::string& chosen, const UploadAnswers& answers, std::string baseName,
                kelvane::jobs::UploadFlow& flow) {
    namespace jobs = kelvane::jobs;
    const bool otherController = tool.args.has("--other-controller");
    int exit = kDone;
    while (flow.next() != jobs::Step::Done && exit == kDone) {
        switch (flow.next()) {
        case jobs::Step::Probe: flow.probed(identify(chosen)); break;
        case jobs::Step::AskGuard:
            flow.answerGuard(otherController ? jobs::GuardAnswer::Send : jobs::GuardAnswer::CheckFirst);
            break;
        case jobs::Step::AskHolding: flow.answerHolding(jobs::HoldingAnswer::Read); break;
        case jobs::Step::Read: flow.read(downloadOutcome(tool, chosen, &exit)); break;
        case jobs::Step::Confirm:
            // The base named by the file given, or by when the register saw the controller hold it.
            if (baseName.empty()) {
                baseName = flow.proposal().baseWhen.substr(0, 19);
                std::replace(baseName.begin(), baseName.end(), 'T', ' ');
                // A colleague's visit names them: "2026-11-03 10:00:00 (Jan K.)".
                baseName = kelvane::texts::visitDateWithWho(baseName, flow.proposal().baseBy,
                                                            kelvane::registry::technicianName());
            }
            flow.answerConfirm(answers.confirm(flow, baseName));
            break;
        case jobs::Step::Send: exit = sendPlan(tool, chosen, flow); break;
        case jobs::Step::ReadBack: flow.readBack(downloadOutcome(tool, chosen, &exit)); break;
        case jobs::Step::Done: break;
        }
    }
    return exit;
}

// What the flow's end says; the exit code, or nothing when the upload went
// as far as sending everything.
std::optional<int> uploadEnd(const Tool& tool, const std::string& chosen, const UploadAnswers& answers,
                             const kelvane::jobs::UploadFlow& flow) {
    namespace jobs = kelvane::jobs;
    const jobs::UploadResult& r = flow.result();
    switch (r.end) {
    case jobs::End::NothingToSend: tool.result(tool.text(ToolText::NoChanges)); return std::nullopt;
    case jobs::End::Declined: return kUsage;  // said where it was declined
    case jobs::End::Refused: answers.guardRefused(r.guard); return kOtherController;
    case jobs::End::Unresolved:
        tool.error("", format(tool.text(ToolText::MergeUnresolved), static_cast<int>(flow.plan().undecided.size())));
        return kDifferences;
    case jobs::End::Overfull:
        for (kelvane::GridId grid : flow.plan().overfull)
            tool.error("", format(tool.text(Message::MergeOverfull), kelvane::texts::gridCaption(grid, tool.language)));
        return kDifferences;
    case jobs::End::ReadFailed: {
        const int code = readFailed(tool, chosen, r.read);
        tool.error(chosen, tool.text(ToolText::ReadFailedNothingSent));
        return code;
    }
    case jobs::End::SendFailed:
    case jobs::End::Sent: break;
    }
    tool.result(format(tool.text(ToolText::BlocksSent), r.upload.framesSent));
    if (link::mayHoldNewBlocks(r.upload)) tool.error(chosen, tool.text(Message::MayHoldNewBlocks));
    switch (r.upload.result) {
    case link::UploadResult::Completed: break;
    case link::UploadResult::Cancelled: tool.error(chosen, tool.text(Message::TransferAborted)); return kInterrupted;
    case link::UploadResult::NoAnswer: tool.error(chosen, tool.text(Message::NoAnswer)); return kNoAnswer;
    case link::UploadResult::LineBusy: tool.error(chosen, tool.text(Message::LineBusy)); return kNoAnswer;
    }
    tool.result(tool.text(Message::UploadDone));
    return std::nullopt;
}

// --check: the controller's image read back (by the flow, or now when nothing
// was sent) compared with what the file asked for.
int checkAfterUpload(const Tool& tool, const std::string& chosen, const std::string& file,
                     const kelvane::jobs::UploadFlow& flow) {
    const kelvane::jobs::UploadResult& r = flow.result();
    if (r.back) {
        if (r.back->result != link::DownloadResult::Completed) return readFailed(tool, chosen, *r.back);
        return compareWithFile(tool, file, r.back->image, r.sent);
    }
    int readExit = kDone;
    const link::DownloadOutcome back = downloadOutcome(tool, chosen, &readExit);
    if (readExit != kDone) return readExit;
    if (back.result != link::DownloadResult::Completed) return readFailed(tool, chosen, back);
    return compareWithFile(tool, file, back.image, flow.sending().image);
}

}  // namespace

int uploadCommand(const Tool& tool) {
    namespace jobs = kelvane::jobs;
    const auto chosen = requirePort(tool);
    if (!chosen) return kUsage;
    const std::string file = tool.args.positional[0];
    jobs::UploadInput in;
    std::string baseName;
    if (!uploadInput(tool, *chosen, file, in, baseName)) return kFileError;

    ToolRegister reg(tool);
    kelvane::registry::Register* opened = reg.get();  // before why(): opening says why it failed
    jobs::UploadFlow flow(in, opened, reg.why());
    const UploadAnswers answers{tool, *chosen, file};
    if (const int exit = driveUpload(tool, *chosen, answers, baseName, flow); exit != kDone) return exit;

    const jobs::UploadResult& r = flow.result();
    if (r.recording == jobs::Recording::Failed) reg.notRecorded(r.recordError);
    if (r.recording == jobs::Recording::NoIdentity) reg.notRecorded(tool.text(ToolText::NoIdentity));
    if (const auto exit = uploadEnd(tool, *chosen, answers, flow)) return *exit;
    if (!tool.args.has("--check")) return kDone;
    return checkAfterUpload(tool, *chosen, file, flow);
}

}  // namespace kelvane::cli
