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

    if (setup.interruptedDownloadFirst) {
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

    const std::int64_t start = clock.nowMs();
    const Op op = setup.op;
    const bool isDownload = op == Op::Download || op == Op::Check;
    if (setup.cancelAtMs >= 0 && op != Op::Probe) {
        clock.pressAt = start + setup.cancelAtMs;
        // As the session cancels: a download's read is cut short, an upload
        // only sees the flag between frames.
        clock.press = [&, isDownload] {
            cancel = true;
            if (isDownload) line.interrupt();
        };
    }

    // What the operation is asked to do.
    Image wanted = original;
    std::bitset<kBlockCount> intended;
    if (op == Op::UploadChanged || op == Op::UploadAll) {
        const int changes = r.range(1, 24);
        for (int i = 0; i < changes; ++i) {
            const std::size_t b = static_cast<std::size_t>(r.range(0, int(kBlockCount) - 1));
            for (std::size_t k = 0; k < kBlockSize; ++k)
                wanted[b * kBlockSize + k] = static_cast<std::uint8_t>(r.next());
            intended.set(b);
        }
        if (op == Op::UploadAll) intended.set();
    }
    Image file = original;  // what a check compares with
    if (op == Op::Check && r.chance(0.5)) file[r.range(0, int(kImageSize) - 1)] ^= 0x01;

    session::TransferReport report;
    std::optional<session::ProbeResult> probed;
    if (op == Op::Probe) {
        probed = session::probePort(kPort, [&](const std::string&) {
            return session::PortConnection{std::make_unique<link::WatchedLine>(line), &clock};
        });
    } else if (isDownload) {
        report = session::runTransfer(session::downloadRequest(kPort), port, &cancel);
        if (plant.downloadLosesABlock && report.completed())
            std::fill_n(report.download.image.begin() + 200 * long(kBlockSize), kBlockSize, 0xFF);
    } else {
        const auto request = op == Op::UploadAll ? session::uploadRequest(kPort, wanted, intended)
                                                 : session::uploadRequest(kPort, wanted, original);
        report = session::runTransfer(request, port, &cancel);
    }
    const std::int64_t end = clock.nowMs();
    result.opMs = end - start;
    const bool cancelled = clock.pressed;

    // 1: ended in time.
    if (result.opMs > boundMs(op)) c.fail(kEnded, "took " + std::to_string(result.opMs) + " ms");
    if (cancelled && end - clock.pressAt > cancelBoundMs(op))
        c.fail(kEnded, "ended " + std::to_string(end - clock.pressAt) + " ms after the cancel");

    // A controller that sends block 511 first ends a download before the
    // other blocks come, which then fails as incomplete: not counted clean.
    const bool lastFirst = setup.frameOrder == static_cast<int>(sim::ControllerFaults::Order::LastFirst);
    const bool faultless =
        tap.events().empty() && !cancelled && !setup.interruptedDownloadFirst && !(isDownload && lastFirst);
    if (op == Op::Probe) {
        result.succeeded = probed->opened && probed->reply.has_value();
        if (faultless && !result.succeeded) c.fail(kTruthful, "a clean probe got no answer");
        if (result.succeeded) {
            std::uint8_t id[8];
            std::copy(controller.kDefaultIdentity.begin(), controller.kDefaultIdentity.end(), id);
            const link::ProbeReply want = link::decodeProbeReply(id);
            const bool same = probed->reply->id == want.id && probed->reply->serialNumber == want.serialNumber &&
                              probed->reply->firmware == want.firmware;
            if (tap.alteredToProgram())
                result.waived[kTruthful] = true;
            else if (!same)
                c.fail(kTruthful, "probe reported an identity the controller does not have");
        }
        return;
    }

    result.succeeded = report.completed();
    const link::Message msg = report.message();
    // 3: the message names the cause.
    const bool doneMessage = msg == link::Message::DownloadDone || msg == link::Message::UploadDone;
    if (result.succeeded != doneMessage) c.fail(kFailure, "outcome and message disagree");
    if (!result.succeeded) {
        if (!report.opened) c.fail(kFailure, "the port did not open");
        // A cut line may have ended it before the cancel could; an upload
        // whose end frame was on its way before it had nothing left to cancel
        // (a write is recorded once its last byte is out).
        const bool cutBefore = tap.cutAt() && *tap.cutAt() <= end;
        const auto& w = line.writes();
        const double frameMs = double(link::kFrameBytes) * line.byteTimeMs();
        const bool endBefore = std::any_of(w.begin(), w.end(), [&](const sim::VirtualLine::Write& x) {
            return double(x.atMs) - frameMs <= double(clock.pressAt) && x.bytes.size() == link::kFrameBytes &&
                   x.bytes[0] == 0xFF && x.bytes[1] == 0xFF;
        });
        if (cancelled && msg != link::Message::TransferAborted &&
            !((cutBefore || endBefore) && msg == link::Message::NoAnswer))
            c.fail(kFailure, "cancelled, not reported as such");
        if (!cancelled && msg == link::Message::TransferAborted) c.fail(kFailure, "reported cancelled, was not");
    }
    if (faultless && !result.succeeded) c.fail(kTruthful, "a clean run failed");

    const Image& now = controller.image();
    if (isDownload) {
        if (tap.alteredToProgram()) {
            result.waived[kTruthful] = true;
        } else if (result.succeeded && report.download.image != now) {
            c.fail(kTruthful, "download reported done with an image that is not the controller's");
        } else if (result.succeeded && op == Op::Check && (report.download.image == file) != (now == file)) {
            c.fail(kTruthful, "check compared wrongly");
        }
        if (now != original) c.fail(kNoStrayWrite, "a download changed the controller");
        return;
    }

    // Uploads.
    const auto cut = tap.cutAt();
    const bool portFailed = cut && tap.cutFailsPort() && *cut <= end;
    if (!portFailed) checkUploadClosed(line, c);
    if (tap.alteredToDevice()) {
        result.waived[kTruthful] = result.waived[kNoStrayWrite] = true;
        return;
    }
    if (result.succeeded && now != wanted) c.fail(kTruthful, "upload reported done, controller holds another image");
    for (std::size_t b = 0; b < kBlockCount; ++b) {
        const bool old = sameBlock(now, original, b);
        if (!old && !intended[b]) c.fail(kNoStrayWrite, "block " + std::to_string(b) + " written, not intended");
        if (!old && !sameBlock(now, wanted, b)) c.fail(kNoStrayWrite, "block " + std::to_string(b) + " holds neither");
    }
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
