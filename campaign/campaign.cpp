#include "campaign/campaign.h"

#include "link/command_frame.h"
#include "link/probe.h"
#include "link/transfer.h"
#include "link/watched_line.h"
#include "session/device_session.h"
#include "sim/bootloader_device.h"
#include "sim/controller.h"
#include "bootloader/bootloader_protocol.h"
#include "texts/upgrade_texts.h"

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace kelvane::campaign {
namespace {

constexpr const char* kPort = "COM8";
constexpr int kEnded = 0, kTruthful = 1, kFailure = 2, kUploadClosed = 3, kNoStrayWrite = 4;

const std::array<const char*, kOps> kOpNames = {"probe", "download", "upload", "upload-all", "check", "flash"};

// The operator's patience with a firmware upgrade that makes no headway
// (waiting for a banner has no limit of its own): Stop after this long.
constexpr std::int64_t kFlashPatienceMs = 4LL * 3600 * 1000;
// How long each operation takes about, for drawing the moments of a cancel,
// cut or reset.
std::int64_t horizonMs(Op op) {
    switch (op) {
    case Op::Probe: return 3000;
    case Op::Download:
    case Op::Check: return 80000;
    case Op::UploadChanged: return 8000;
    case Op::UploadAll: return 80000;
    case Op::Flash: return 45000;
    }
    return 1000;
}

// The longest an operation may take, a cancel aside.
std::int64_t boundMs(Op op) {
    constexpr std::int64_t kSlack = 2000;
    const std::int64_t quiet = link::kQuietLineLimitMs;
    switch (op) {
    case Op::Probe: return quiet + 3 * 900 + kSlack;
    case Op::Download:
    case Op::Check: return quiet + link::kDownloadLimitMs + 3600 + kSlack;
    case Op::UploadChanged:
    case Op::UploadAll: return quiet + (int(kBlockCount) + 2) * (link::kAckTimeoutMs + 300LL) + kSlack;
    case Op::Flash: return kFlashPatienceMs + kSlack;
    }
    return 0;
}

// How soon after a cancel an operation must have ended: a download's read, an
// upload's frame in flight with its answer and the end frame with its answer.
std::int64_t cancelBoundMs(Op op) {
    return op == Op::Flash ? 1000 : 2 * link::kCancelledAckMs + 2 * link::kAckTimeoutMs / 5 + 3600;
}

// Virtual time that performs the operator's Esc / Stop at its moment. With
// stopEndsSleeps, a sleep ends at the press, as the upgrade's clock does.
class OperatorClock : public sim::VirtualClock {
public:
    std::int64_t pressAt = -1;
    std::function<void()> press;
    bool pressed = false;
    bool stopEndsSleeps = false;

    void sleepMs(int ms) override {
        const bool due = !pressed && pressAt >= 0 && nowMs() + ms >= pressAt;
        if (!due) {
            if (stopEndsSleeps && pressed) return;
            sim::VirtualClock::sleepMs(ms);
            return;
        }
        const std::int64_t rest = nowMs() + ms - pressAt;
        sim::VirtualClock::sleepMs(static_cast<int>(pressAt - nowMs()));
        pressed = true;
        if (press) press();
        if (!stopEndsSleeps) sim::VirtualClock::sleepMs(static_cast<int>(rest));
    }
};

class RecordingView : public bootloader::UpgradeReport {
public:
    std::optional<bootloader::UpgradeStatus> status;  // the status line's message, none while empty
    int statuses = 0;                                 // how many were shown
    bool ended = false;
    void showStatus(const bootloader::UpgradeStatus& s) override {
        status = s;
        ++statuses;
    }
    bool shows(bootloader::UpgradeMessage m) const { return status && status->message == m; }
    void setProgressRange(int, int) override {}
    void setProgress(int) override {}
    void runEnded() override { ended = true; }
};

Image randomImage(sim::SeededRandom& r) {
    Image img;
    for (std::size_t b = 0; b < kBlockCount; ++b) {
        const bool erased = r.chance(0.3);
        for (std::size_t i = 0; i < kBlockSize; ++i)
            img[b * kBlockSize + i] = erased ? 0xFF : static_cast<std::uint8_t>(r.next());
    }
    return img;
}

bool sameBlock(const Image& a, const Image& b, std::size_t block) {
    return std::equal(a.begin() + long(block * kBlockSize), a.begin() + long((block + 1) * kBlockSize),
                      b.begin() + long(block * kBlockSize));
}

struct Checker {
    RunResult& r;
    void fail(int invariant, const std::string& why) {
        if (r.broken[invariant]) return;
        r.broken[invariant] = true;
        if (r.why.empty()) r.why = std::string(kInvariantNames[invariant]) + ": " + why;
    }
};

// The upload command and, after it, an end frame among the program's writes.
void checkUploadClosed(const sim::VirtualLine& line, Checker& c) {
    const auto cmd = link::startUploadCommand();
    bool commandSent = false;
    bool endSent = false;
    for (const auto& w : line.writes()) {
        if (w.bytes.size() == cmd.size() && std::equal(cmd.begin(), cmd.end(), w.bytes.begin())) {
            commandSent = true;
            endSent = false;
        } else if (commandSent && w.bytes.size() == link::kFrameBytes && w.bytes[0] == 0xFF && w.bytes[1] == 0xFF) {
            endSent = true;
        }
    }
    if (commandSent && !endSent) c.fail(kUploadClosed, "upload command sent, no end frame after it");
}

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

void runFlash(const RunSetup& setup, sim::FaultTap& tap, OperatorClock& clock, RunResult& result) {
    Checker c{result};
    sim::SeededRandom r(setup.seed * 0x9E3779B97F4A7C15ULL + 11);
    sim::BootloaderScript script;
    script.silentWakeUps = r.range(0, 3);
    sim::BootloaderDevice device(script);
    sim::VirtualLine line(clock, device);
    line.setPaced(true);
    line.setTap(&tap);

    // A short firmware, as the file gives it: its bytes, then erased flash.
    bootloader::UpgradeState state;
    state.image = std::make_unique<std::vector<std::uint8_t>>(bootloader::kImageSize, 0xFF);
    const int length = r.range(16, 4096);
    for (int i = 0; i < length; ++i) (*state.image)[std::size_t(i)] = static_cast<std::uint8_t>(r.next());

    bootloader::StopFlag stop;
    RecordingView view;
    bootloader::UpgradeLink link{line, clock, stop, view};
    clock.pressAt = setup.cancelAtMs >= 0 ? setup.cancelAtMs : kFlashPatienceMs;
    clock.stopEndsSleeps = true;
    int statusesAtStop = 0;
    clock.press = [&] {
        stop.request();
        line.interrupt();
        statusesAtStop = view.statuses;
    };
    const std::int64_t start = clock.nowMs();
    std::optional<bootloader::WorkerEnd> worker;
    if (bootloader::OpenUpgradePort(state, link, kPort) && bootloader::RequestBootloader(state, link))
        worker = bootloader::UpgradeWorker(state, link);
    const std::int64_t end = clock.nowMs();
    result.opMs = end - start;
    const bool stopped = clock.pressed;

    if (result.opMs > boundMs(Op::Flash)) c.fail(kEnded, "took " + std::to_string(result.opMs) + " ms");
    if (stopped && end - clock.pressAt > cancelBoundMs(Op::Flash))
        c.fail(kEnded, "ended " + std::to_string(end - clock.pressAt) + " ms after Stop");
    if (line.isOpen()) c.fail(kEnded, "port left open");

    using bootloader::UpgradeMessage;
    using bootloader::WorkerEnd;
    const bool done = view.shows(UpgradeMessage::Done);
    result.succeeded = done;
    if (stopped) {
        if (worker == WorkerEnd::Ended) c.fail(kFailure, "stopped, yet the run ended by itself");
        if (view.statuses != statusesAtStop) c.fail(kFailure, "something was shown after Stop");
    } else if (worker == WorkerEnd::Ended && !done && !view.shows(UpgradeMessage::FlashError) &&
               !view.shows(UpgradeMessage::WrongDevice)) {
        c.fail(kFailure, "run ended with the status \"" +
                             (view.status ? texts::upgrade::statusText(*view.status) : std::string()) + "\"");
    }
    if (tap.events().empty() && !stopped && !done) c.fail(kTruthful, "a clean flash failed");

    const auto& writes = line.writes();
    const bool endByteSent = std::any_of(writes.begin(), writes.end(), [](const sim::VirtualLine::Write& w) {
        return w.bytes.size() == 1 && w.bytes[0] == bootloader::kEndByte;
    });
    if (endByteSent && !done) c.fail(kNoStrayWrite, "end byte sent, yet the run did not succeed");
    // Answers carry no block number: one lost, late, added or changed answer
    // puts tool and bootloader out of step. Only a late one shows (an answer
    // too many at the end, and the run fails); the others nobody can tell. Nor has a
    // frame a mark the bootloader could find again after a lost, added or
    // changed first byte (a data byte 0x55 then counts as a wake-up).
    if (tap.alteredToProgram() || tap.heldToProgram() || tap.alteredToDevice()) {
        result.waived[kTruthful] = result.waived[kNoStrayWrite] = true;
        return;
    }
    const auto& flash = device.model().flash();
    if (done && flash != *state.image) c.fail(kTruthful, "flash reported done, flash differs from the file");
    for (std::size_t at = 0; at < flash.size(); at += 16) {
        const bool erased = std::all_of(flash.begin() + long(at), flash.begin() + long(at + 16),
                                        [](std::uint8_t b) { return b == 0xFF; });
        if (!erased &&
            !std::equal(flash.begin() + long(at), flash.begin() + long(at + 16), state.image->begin() + long(at))) {
            c.fail(kNoStrayWrite, "flash block " + std::to_string(at / 16) + " is not the file's");
            break;
        }
    }
}

}  // namespace

const std::array<const char*, kInvariants> kInvariantNames = {"ended", "truthful", "failure", "upload-closed",
                                                              "no-stray-write"};

const char* opName(Op op) { return kOpNames[static_cast<int>(op)]; }

std::optional<Op> opByName(const std::string& name) {
    for (int i = 0; i < kOps; ++i)
        if (name == kOpNames[i]) return static_cast<Op>(i);
    return std::nullopt;
}

bool RunResult::ok() const {
    return std::none_of(broken.begin(), broken.end(), [](bool b) { return b; });
}

RunSetup setupFor(std::uint64_t seed, std::optional<Op> op, std::optional<sim::Fault> only) {
    sim::SeededRandom r(seed);
    RunSetup s;
    s.seed = seed;
    // Downloads and uploads are most of what a technician does.
    static constexpr Op kMix[] = {Op::Probe,         Op::Download,  Op::Download, Op::UploadChanged,
                                  Op::UploadChanged, Op::UploadAll, Op::Check,    Op::Flash};
    const Op drawn = kMix[r.range(0, 7)];
    s.op = op ? *op : drawn;
    s.interruptedDownloadFirst = s.op != Op::Flash && r.chance(0.2);
    const std::int64_t horizon = horizonMs(s.op);
    const double cancelAt = r.unit();
    if (r.chance(0.3)) s.cancelAtMs = static_cast<std::int64_t>(cancelAt * double(horizon));
    const int order = r.range(0, 9);
    s.frameOrder = order < 8 ? 0 : order - 7;  // mostly in order
    s.plan = sim::FaultPlan::draw(seed, horizon, only);
    if (s.op == Op::Flash) {
        // A restarted bootloader starts over at block 0 whatever the tool
        // sends next: not a fault the tool can meet.
        s.plan.rate[static_cast<int>(sim::Fault::Reset)] = 0;
        s.plan.resetAtMs = -1;
    }
    if (only) {
        s.cancelAtMs = -1;
        s.interruptedDownloadFirst = false;
        s.frameOrder = 0;
    }
    return s;
}

RunResult run(const RunSetup& setup, const std::optional<std::vector<int>>& kept, const Plant& plant) {
    RunResult result;
    sim::FaultTap tap(setup.plan, kept);
    OperatorClock clock;
    clock.setLimitMs(boundMs(setup.op) + 3600 * 1000);
    try {
        if (setup.op == Op::Flash)
            runFlash(setup, tap, clock, result);
        else
            runControllerOp(setup, tap, clock, plant, result);
    } catch (const std::exception& e) {
        Checker{result}.fail(kEnded, e.what());
    }
    result.faults = tap.events();
    return result;
}

std::vector<int> shrink(const RunSetup& setup, const RunResult& failed, const Plant& plant) {
    int invariant = 0;
    while (invariant < kInvariants && !failed.broken[invariant]) ++invariant;
    std::vector<int> kept;
    for (const auto& f : failed.faults) kept.push_back(f.ordinal);
    for (std::size_t i = kept.size(); i-- > 0;) {
        std::vector<int> fewer = kept;
        fewer.erase(fewer.begin() + long(i));
        const RunResult again = run(setup, fewer, plant);
        if (invariant < kInvariants && again.broken[invariant]) kept = fewer;
    }
    return kept;
}

std::string describe(const RunSetup& setup, const RunResult& result) {
    std::ostringstream out;
    out << "seed " << setup.seed << ": " << opName(setup.op);
    if (setup.interruptedDownloadFirst) out << " after an interrupted download";
    if (setup.cancelAtMs >= 0) out << ", cancel at " << setup.cancelAtMs << " ms";
    if (setup.frameOrder) out << ", frame order " << setup.frameOrder;
    out << ", hostility " << static_cast<int>(setup.plan.hostility * 100) << "%, " << result.faults.size() << " faults";
    std::size_t shown = 0;
    for (const auto& f : result.faults) {
        if (shown++ == 8) {
            out << " ...";
            break;
        }
        out << (shown == 1 ? ": " : ", ") << '#' << f.ordinal << ' ' << sim::faultName(f.kind)
            << (f.toDevice ? ">dev" : ">prog") << '@' << f.atMs;
    }
    if (!result.ok()) out << " -- " << result.why;
    return out.str();
}

}  // namespace kelvane::campaign
