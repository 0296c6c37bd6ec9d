// The upload as both programs run it (jobs/upload_flow.h: probe, guard, read,
// merge, confirmation, send) under line faults, against one simulated
// controller. The image to send came from this building or from another
// one, or nobody knows; the controller may have changed at its keypad since
// the image's base; the technician's answers are drawn. Besides the common
// invariants, two of the upload's own:
//   6 no other building: nothing is sent unless the guard found the image's
//     own controller or the technician said to send all the same;
//   7 one image: the controller ends holding what it held, the image as
//     sent (the file or the merge of the file with what the controller
//     held), or, after a failed send, each block from one of the two; a
//     reported send left exactly that image.
#include "campaign/run_parts.h"

#include "jobs/upload_flow.h"
#include "link/command_frame.h"
#include "link/probe.h"
#include "link/transfer.h"
#include "link/watched_line.h"
#include "session/device_session.h"
#include "sim/controller.h"
#include "sim/sample_building.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace kelvane::campaign::parts {

namespace {

using jobs::End;
using jobs::Step;

// `changes` blocks of `image` written over with random bytes.
Image changedBlocks(Image image, sim::SeededRandom& r, int changes) {
    for (int i = 0; i < changes; ++i) {
        const std::size_t b = static_cast<std::size_t>(r.range(0, int(kBlockCount) - 1));
        const std::size_t at = b * kBlockSize + static_cast<std::size_t>(r.range(0, int(kBlockSize) - 1));
        image[at] = static_cast<std::uint8_t>(r.next());
    }
    return image;
}

registry::ControllerKey keyOf(const sim::Controller::Identity& identity) {
    std::uint8_t bytes[8];
    std::copy(identity.begin(), identity.end(), bytes);
    const link::ProbeReply reply = link::decodeProbeReply(bytes);
    return {reply.id, reply.serialNumber};
}

// What the technician answers, drawn for the run.
struct Answers {
    jobs::GuardAnswer guard = jobs::GuardAnswer::Cancel;
    jobs::HoldingAnswer holding = jobs::HoldingAnswer::Read;
    bool send = true;
    MergeChoice side = MergeChoice::File;
    bool overwrite = false;
};

bool uploadCommandSent(const sim::VirtualLine& line) {
    const auto cmd = link::startUploadCommand();
    const auto& writes = line.writes();
    return std::any_of(writes.begin(), writes.end(), [&](const sim::VirtualLine::Write& w) {
        return w.bytes.size() == cmd.size() && std::equal(cmd.begin(), cmd.end(), w.bytes.begin());
    });
}

}  // namespace

void runUploadFlow(const RunSetup& setup, sim::FaultTap& tap, OperatorClock& clock, const Plant& plant, RunResult& result) {
    Checker c{result};
    sim::SeededRandom r(setup.seed * 0xD1B54A32D192ED03ULL + 13);
    // The base: what this building's controller held when the image was
    // taken; since then the technician edited the file, and the controller
    // may have changed at its keypad.
    const Image base = changedBlocks(sampleBuildingImage(), r, r.range(0, 8));
    const Image now = r.chance(0.5) ? changedBlocks(base, r, r.range(1, 6)) : base;
    sim::Controller controller(now);
    const registry::ControllerKey here = keyOf(controller.kDefaultIdentity);
    const registry::ControllerKey elsewhere{static_cast<std::uint8_t>(here.deviceId + 1), 4321};

    jobs::UploadInput in;
    const int origin = r.range(0, 9);
    in.origin.kind = origin < 8 ? jobs::Origin::Kind::Visit : jobs::Origin::Kind::None;
    in.origin.key = origin < 6 ? here : elsewhere;  // 6, 7: a visit of another building
    in.origin.image = origin < 6 ? base : changedBlocks(base, r, 40);
    in.origin.when = "2026-12-01T10:00:00+01:00";
    in.image = changedBlocks(in.origin.image, r, r.range(1, 12));
    in.port = kPort;
    // This run may have read the controller already (as the window after a
    // download): then nothing is read again.
    if (r.chance(0.5)) in.held = jobs::Held{here, now, "2026-12-09T09:00:00+01:00"};

    Answers answers;
    const int guard = r.range(0, 9);
    answers.guard = guard < 4   ? jobs::GuardAnswer::Cancel
                    : guard < 7 ? jobs::GuardAnswer::Send
                                : jobs::GuardAnswer::CheckFirst;
    if (r.chance(0.2)) answers.holding = jobs::HoldingAnswer::EveryBlock;
    answers.send = !r.chance(0.1);
    answers.side = r.chance(0.5) ? MergeChoice::File : MergeChoice::Controller;
    answers.overwrite = r.chance(0.1);

    sim::VirtualLine line(clock, controller);
    line.setPaced(true);
    line.setSendsWhileClosed(true);
    line.setTap(&tap);
    session::PortConnection port{std::make_unique<link::WatchedLine>(line), &clock};
    std::atomic<bool> cancel{false};

    jobs::UploadFlow flow(in, nullptr, "no register in the campaign");
    bool guardAsked = false;
    std::vector<MergeChoice> choices;
    bool sendStarted = false;
    const std::int64_t start = clock.nowMs();
    for (int steps = 0; flow.next() != Step::Done && steps < 16; ++steps) {
        switch (flow.next()) {
        case Step::Probe: {
            const session::ProbeResult probed = session::probePort(kPort, [&](const std::string&) {
                return session::PortConnection{std::make_unique<link::WatchedLine>(line), &clock};
            });
            flow.probed(probed.opened ? probed.reply : std::nullopt);
            break;
        }
        case Step::AskGuard:
            guardAsked = true;
            flow.answerGuard(plant.uploadIgnoresTheGuard ? jobs::GuardAnswer::Send : answers.guard);
            break;
        case Step::AskHolding: flow.answerHolding(answers.holding); break;
        case Step::Read:
            flow.read(session::runTransfer(session::downloadRequest(kPort), port, &cancel).download);
            break;
        case Step::Confirm:
            if (flow.proposal().merge) choices.assign(flow.proposal().merge->items.size(), answers.side);
            flow.answerConfirm({answers.send, choices, answers.overwrite, false});
            break;
        case Step::Send: {
            sendStarted = true;
            const jobs::Plan& plan = flow.sending();
            flow.sent(session::runTransfer(session::uploadRequest(kPort, plan.image, plan.blocks), port, &cancel).upload);
            break;
        }
        case Step::ReadBack:
            flow.readBack(session::runTransfer(session::downloadRequest(kPort), port, &cancel).download);
            break;
        case Step::Done: break;
        }
    }
    const std::int64_t end = clock.nowMs();
    result.opMs = end - start;
    const jobs::UploadResult& out = flow.result();
    result.succeeded = out.end == End::Sent || out.end == End::NothingToSend;

    // 1: within the bound, and the flow came to its end.
    if (flow.next() != Step::Done) c.fail(kEnded, "the flow did not come to its end");
    if (result.opMs > boundMs(Op::UploadFlow)) c.fail(kEnded, "took " + std::to_string(result.opMs) + " ms");
    // 4: an upload that began is closed with its end frame, unless the port failed.
    const auto cut = tap.cutAt();
    if (!(cut && tap.cutFailsPort() && *cut <= end)) checkUploadClosed(line, c);

    // 6: nothing went out without the guard's leave or the technician's.
    const bool sentSomething = uploadCommandSent(line);
    const bool leave =
        out.guard.verdict == jobs::GuardVerdict::Same || (guardAsked && answers.guard == jobs::GuardAnswer::Send);
    if (sentSomething && !sendStarted) c.fail(kNoOtherBuilding, "an upload the flow did not ask for");
    if (sentSomething && !leave) c.fail(kNoOtherBuilding, "sent without the guard's leave or the technician's");
    if (sentSomething && !guardAsked && in.origin.key != here && !tap.alteredToProgram())
        c.fail(kNoOtherBuilding, "another building's image sent without a question");

    // 2 and 7: what the controller holds. What the line changed on its way
    // to the program (the read, the probe) or to the controller cannot be
    // judged on content.
    const Image& holds = controller.image();
    if (!sentSomething && holds != now) c.fail(kOneImage, "the controller changed, nothing was sent");
    if (tap.alteredToProgram() || tap.alteredToDevice()) {
        result.waived[kTruthful] = result.waived[kOneImage] = true;
        return;
    }
    if (out.end == End::Sent && holds != out.sent)
        c.fail(kTruthful, "reported sent, the controller holds another image");
    if (out.end == End::NothingToSend && holds != now) c.fail(kTruthful, "nothing to send, yet the controller changed");
    if (!sendStarted) return;
    // What could rightly go: the file, or its merge with what the controller held.
    // The merge is made again here from what the controller truly held.
    if (out.sent != in.image &&
        (!flow.proposal().merge || answers.overwrite ||
         out.sent != resolveMerge(mergeVersions({in.origin.image, ""}, {in.image, ""}, {now, ""}), choices).version.image))
        c.fail(kOneImage, "what was sent is neither the file nor its merge with the controller's");
    for (std::size_t b = 0; b < kBlockCount; ++b)
        if (!sameBlock(holds, now, b) && !sameBlock(holds, out.sent, b)) {
            c.fail(kOneImage, "block " + std::to_string(b) + " holds neither the controller's nor the image sent");
            break;
        }
}

}  // namespace kelvane::campaign::parts
