#pragma once
// What the campaign's runs share: the operator's clock, the invariants'
// checker, the bounds of each operation, and one function a kind of run.
#include "campaign/campaign.h"

#include "sim/fault_tap.h"
#include "sim/virtual_line.h"
#include "link/transfer.h"  // the image and its blocks

#include <bitset>
#include <cstdint>
#include <functional>
#include <string>

namespace kelvane::campaign::parts {

constexpr const char* kPort = "COM8";
constexpr int kEnded = 0, kTruthful = 1, kFailure = 2, kUploadClosed = 3, kNoStrayWrite = 4, kNoOtherBuilding = 5,
              kOneImage = 6;

// The operator's patience with a firmware upgrade that makes no headway
// (waiting for a banner has no limit of its own): Stop after this long.
constexpr std::int64_t kFlashPatienceMs = 4LL * 3600 * 1000;
// How long each operation takes about, for drawing the moments of a cancel,
// cut or reset.
std::int64_t horizonMs(Op op);
// The longest an operation may take, a cancel aside.
std::int64_t boundMs(Op op);
// How soon after a cancel an operation must have ended: a download's read, an
// upload's frame in flight with its answer and the end frame with its answer.
std::int64_t cancelBoundMs(Op op);

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

struct Checker {
    RunResult& r;
    void fail(int invariant, const std::string& why) {
        if (r.broken[invariant]) return;
        r.broken[invariant] = true;
        if (r.why.empty()) r.why = std::string(kInvariantNames[invariant]) + ": " + why;
    }
};

Image randomImage(sim::SeededRandom& r);
bool sameBlock(const Image& a, const Image& b, std::size_t block);
// The upload command and, after it, an end frame among the program's writes.
void checkUploadClosed(const sim::VirtualLine& line, Checker& c);

// The runs, one kind each.
void runControllerOp(const RunSetup& setup, sim::FaultTap& tap, OperatorClock& clock, const Plant& plant,
                     RunResult& result);
void runFlash(const RunSetup& setup, sim::FaultTap& tap, OperatorClock& clock, RunResult& result);
void runUploadFlow(const RunSetup& setup, sim::FaultTap& tap, OperatorClock& clock, const Plant& plant, RunResult& result);

}  // namespace kelvane::campaign::parts
