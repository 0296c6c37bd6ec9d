// upload: the file sent to the controller through the upload's flow
// (jobs/upload_flow.h), its questions answered from the options and, for the
// last one, by the technician at a terminal.
#include "cli/building_register.h"
#include "cli/commands.h"
#include "cli/device_line.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"
#include "cli/terminal.h"

#include "image/change_list.h"
#include "jobs/upload_flow.h"
#include "jobs/work_origin.h"
#include "link/transfer.h"
#include "link/transfer_status.h"
#include "texts/language_table.h"
#include "texts/output_text.h"
#include "texts/upload_text.h"
#include "texts/visit_texts.h"

#include <algorithm>
#include <cmath>
#include <iostream>

namespace kelvane::cli {

using kelvane::texts::Message;
using kelvane::texts::ToolText;
namespace link = kelvane::link;
namespace session = kelvane::session;

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
        *exit = tool.portOpenError(chosen, run.report.failure);
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
    in.otherController = tool.args.has("--other-controller");
    in.mode = tool.args.has("--full")        ? jobs::Mode::EveryBlock
              : tool.args.has("--overwrite") ? jobs::Mode::Overwrite
                                             : jobs::Mode::Merge;
    // --base: the image the file's edits started from, instead of the register's
    // (which the flow finds itself).
    jobs::BaseLookup lookup;
    if (tool.args.has("--base")) {
        const auto base = loadImageFile(tool, tool.args.value("--base"));
        if (!base) return false;
        baseName = tool.args.value("--base");
        lookup = [b = jobs::Base{base->image, baseName, {}}](const kelvane::Image&) { return b; };
    }
    // Nothing was read in this command: the file, as loaded, is all it knows.
    jobs::WorkOrigin work;
    work.fileLoaded(wanted->image);
    work.startUpload(in, sessionPortName(chosen), lookup);
    return true;
}

// Sends the flow's plan; kPortError (said) when the port did not open.
int sendPlan(const Tool& tool, const std::string& chosen, kelvane::jobs::UploadFlow& flow) {
    const kelvane::jobs::Plan& plan = flow.sending();
    const TransferRun run = runTransfer(tool, session::uploadRequest(sessionPortName(chosen), plan.image, plan.blocks));
    if (!run.report.opened) return tool.portOpenError(chosen, run.report.failure);
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
