// The controller's operations under faults: probe, download, upload of the
// changed blocks or of every block, and the check, through the session.
#include "campaign/run_parts.h"

#include "link/command_frame.h"
#include "link/probe.h"
#include "link/transfer.h"
#include "link/watched_line.h"
#include "session/device_session.h"
#include "sim/controller.h"

#include <algorithm>
#include <atomic>
#include <bitset>
#include <memory>

namespace kelvane::campaign::parts {

namespace {

// The download that a cancel cuts short before the run's own operation.
void interruptDownload(sim::SeededRandom& r, OperatorClock& clock, sim::VirtualLine& line,
                       session::PortConnection& port, std::atomic<bool>& cancel) {
    clock.pressAt = clock.nowMs() + 1000 + static_cast<std::int64_t>(r.range(0, 20000));
    clock.press = [&] {
        cancel = true;
        line.interrupt();
    };
    session::runTransfer(session::downloadRequest(kPort), port, &cancel);
    line.resetInterrupt();
    cancel = false;
    clock.pressed = false;
    clock.pressAt = -1;
}

// One controller operation: what it was asked and what came back, for the
// invariants' checks.
struct ControllerRun {
    ControllerRun(const RunSetup& s, sim::FaultTap& t, OperatorClock& c, sim::Controller& device, sim::VirtualLine& l,
                  const Image& before)
        : setup(s), tap(t), clock(c), controller(device), line(l), original(before) {}

    const RunSetup& setup;
    sim::FaultTap& tap;
    OperatorClock& clock;
    sim::Controller& controller;
    sim::VirtualLine& line;
    Image original;
    Image wanted;                       // what an upload is to leave in the controller
    std::bitset<kBlockCount> intended;  // the blocks an upload may write
    Image file;                         // what a check compares with
    session::TransferReport report;
    std::optional<session::ProbeResult> probed;
    std::int64_t start = 0;
    std::int64_t end = 0;
    bool cancelled = false;

    bool isDownload() const { return setup.op == Op::Download || setup.op == Op::Check; }
    bool isUpload() const { return setup.op == Op::UploadChanged || setup.op == Op::UploadAll; }
    // No fault, no cancel: the run has to succeed. A controller that sends
    // block 511 first ends a download before the other blocks come, which then
    // fails as incomplete: not counted clean.
    bool faultless() const {
        const bool lastFirst = setup.frameOrder == static_cast<int>(sim::ControllerFaults::Order::LastFirst);
        return tap.events().empty() && !cancelled && !setup.interruptedDownloadFirst && !(isDownload() && lastFirst);
    }
};

void armCancel(ControllerRun& run, std::atomic<bool>& cancel) {
    if (run.setup.cancelAtMs < 0 || run.setup.op == Op::Probe) return;
    run.clock.pressAt = run.start + run.setup.cancelAtMs;
    // As the session cancels: a download's read is cut short, an upload only
    // sees the flag between frames.
    run.clock.press = [&cancel, &line = run.line, isDownload = run.isDownload()] {
        cancel = true;
        if (isDownload) line.interrupt();
    };
}

// What the operation is asked to do.
void planChanges(ControllerRun& run, sim::SeededRandom& r) {
    run.wanted = run.original;
    if (run.isUpload()) {
        const int changes = r.range(1, 24);
        for (int i = 0; i < changes; ++i) {
            const std::size_t b = static_cast<std::size_t>(r.range(0, int(kBlockCount) - 1));
            for (std::size_t k = 0; k < kBlockSize; ++k)
                run.wanted[b * kBlockSize + k] = static_cast<std::uint8_t>(r.next());
            run.intended.set(b);
        }
        if (run.setup.op == Op::UploadAll) run.intended.set();
    }
    run.file = run.original;
    if (run.setup.op == Op::Check && r.chance(0.5)) run.file[r.range(0, int(kImageSize) - 1)] ^= 0x01;
}

void perform(ControllerRun& run, session::PortConnection& port, std::atomic<bool>& cancel, const Plant& plant) {
    if (run.setup.op == Op::Probe) {
        run.probed = session::probePort(kPort, [&](const std::string&) {
            return session::PortConnection{std::make_unique<link::WatchedLine>(run.line), &run.clock};
        });
    } else if (run.isDownload()) {
        run.report = session::runTransfer(session::downloadRequest(kPort), port, &cancel);
        if (plant.downloadLosesABlock && run.report.completed())
            std::fill_n(run.report.download.image.begin() + 200 * long(kBlockSize), kBlockSize, 0xFF);
    } else {
        const auto request = run.setup.op == Op::UploadAll ? session::uploadRequest(kPort, run.wanted, run.intended)
                                                           : session::uploadRequest(kPort, run.wanted, run.original);
        run.report = session::runTransfer(request, port, &cancel);
    }
}

// 1: the operation ended within its bound, and soon after a cancel.
void checkEnded(const ControllerRun& run, Checker& c) {
    const std::int64_t took = run.end - run.start;
    if (took > boundMs(run.setup.op)) c.fail(kEnded, "took " + std::to_string(took) + " ms");
    if (run.cancelled && run.end - run.clock.pressAt > cancelBoundMs(run.setup.op))
        c.fail(kEnded, "ended " + std::to_string(run.end - run.clock.pressAt) + " ms after the cancel");
}

// 2: a clean run succeeds, and a success tells what the controller holds.
void checkTruthful(const ControllerRun& run, RunResult& result, Checker& c) {
    const bool probe = run.setup.op == Op::Probe;
    if (run.faultless() && !result.succeeded)
        c.fail(kTruthful, probe ? "a clean probe got no answer" : "a clean run failed");
    const Image& now = run.controller.image();
    if (probe) {
        if (!result.succeeded) return;
        std::uint8_t id[8];
        std::copy(run.controller.kDefaultIdentity.begin(), run.controller.kDefaultIdentity.end(), id);
        const link::ProbeReply want = link::decodeProbeReply(id);
        const link::ProbeReply& got = *run.probed->reply;
        const bool same = got.id == want.id && got.serialNumber == want.serialNumber && got.firmware == want.firmware;
        if (run.tap.alteredToProgram())
            result.waived[kTruthful] = true;
        else if (!same)
            c.fail(kTruthful, "probe reported an identity the controller does not have");
    } else if (run.isDownload()) {
        const Image& got = run.report.download.image;
        if (run.tap.alteredToProgram())
            result.waived[kTruthful] = true;
        else if (result.succeeded && got != now)
            c.fail(kTruthful, "download reported done with an image that is not the controller's");
        else if (result.succeeded && run.setup.op == Op::Check && (got == run.file) != (now == run.file))
            c.fail(kTruthful, "check compared wrongly");
    } else if (run.tap.alteredToDevice()) {
        result.waived[kTruthful] = true;
    } else if (result.succeeded && now != run.wanted) {
        c.fail(kTruthful, "upload reported done, controller holds another image");
    }
}

// 3: the message names the cause.
void checkFailureNamed(const ControllerRun& run, const RunResult& result, Checker& c) {
    const link::Message msg = run.report.message();
    const bool doneMessage = msg == link::Message::DownloadDone || msg == link::Message::UploadDone;
    if (result.succeeded != doneMessage) c.fail(kFailure, "outcome and message disagree");
    if (result.succeeded) return;
    if (!run.report.opened) c.fail(kFailure, "the port did not open");
    // A cut line may have ended it before the cancel could; an upload whose
    // end frame was on its way before it had nothing left to cancel (a write
    // is recorded once its last byte is out).
    const bool cutBefore = run.tap.cutAt() && *run.tap.cutAt() <= run.end;
    const auto& w = run.line.writes();
    const double frameMs = double(link::kFrameBytes) * run.line.byteTimeMs();
    const bool endBefore = std::any_of(w.begin(), w.end(), [&](const sim::VirtualLine::Write& x) {
        return double(x.atMs) - frameMs <= double(run.clock.pressAt) && x.bytes.size() == link::kFrameBytes &&
               x.bytes[0] == 0xFF && x.bytes[1] == 0xFF;
    });
    if (run.cancelled && msg != link::Message::TransferAborted &&
        !((cutBefore || endBefore) && msg == link::Message::NoAnswer))
        c.fail(kFailure, "cancelled, not reported as such");
    if (!run.cancelled && msg == link::Message::TransferAborted) c.fail(kFailure, "reported cancelled, was not");
}

// 5: the controller holds its old blocks, or an upload's intended ones.
void checkNoStrayWrite(const ControllerRun& run, RunResult& result, Checker& c) {
    const Image& now = run.controller.image();
    if (run.isDownload()) {
        if (now != run.original) c.fail(kNoStrayWrite, "a download changed the controller");
        return;
    }
    if (run.tap.alteredToDevice()) {
        result.waived[kNoStrayWrite] = true;
        return;
    }
    for (std::size_t b = 0; b < kBlockCount; ++b) {
        const bool old = sameBlock(now, run.original, b);
        if (!old && !run.intended[b]) c.fail(kNoStrayWrite, "block " + std::to_string(b) + " written, not intended");
        if (!old && !sameBlock(now, run.wanted, b))
            c.fail(kNoStrayWrite, "block " + std::to_string(b) + " holds neither");
    }
}

}  // namespace

void runControllerOp(const RunSetup& setup, sim::FaultTap& tap, OperatorClock& clock, const Plant& plant,
                     RunResult& result) {
    Checker c{result};
    sim::SeededRandom r(setup.seed * 0x2545F4914F6CDD1DULL + 7);
    const Image original = randomImage(r);
    sim::Controller controller(original);
    controller.faults().order = static_cast<sim::ControllerFaults::Order>(setup.frameOrder);
    tap.resetDevice = [&controller] { controller.resetLink(); };
    sim::VirtualLine line(clock, controller);
    line.setPaced(true);
    line.setSendsWhileClosed(true);
    line.setTap(&tap);
    // The session's port is the run's one line: the controller's state and
    // what is still on the wire outlive a close.
    session::PortConnection port{std::make_unique<link::WatchedLine>(line), &clock};
    std::atomic<bool> cancel{false};
    if (setup.interruptedDownloadFirst) interruptDownload(r, clock, line, port, cancel);

    ControllerRun run(setup, tap, clock, controller, line, original);
    run.start = clock.nowMs();
    armCancel(run, cancel);
    planChanges(run, r);
    perform(run, port, cancel, plant);
    run.end = clock.nowMs();
    run.cancelled = clock.pressed;
    result.opMs = run.end - run.start;
    result.succeeded =
        setup.op == Op::Probe ? run.probed->opened && run.probed->reply.has_value() : run.report.completed();

    checkEnded(run, c);
    if (setup.op != Op::Probe) checkFailureNamed(run, result, c);
    checkTruthful(run, result, c);
    if (setup.op == Op::Probe) return;
    // 4: an upload that began is closed with its end frame, unless the port failed.
    const auto cut = tap.cutAt();
    if (run.isUpload() && !(cut && tap.cutFailsPort() && *cut <= run.end)) checkUploadClosed(line, c);
    checkNoStrayWrite(run, result, c);
}

}  // namespace kelvane::campaign::parts
