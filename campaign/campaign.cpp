#include "campaign/campaign.h"

#include "campaign/run_parts.h"

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace kelvane::campaign {

using namespace parts;

namespace {

const std::array<const char*, kOps> kOpNames = {"probe", "download", "upload",     "upload-all",
                                                "check", "flash",    "upload-flow"};

}  // namespace

const std::array<const char*, kInvariants> kInvariantNames = {
    "ended", "truthful", "failure", "upload-closed", "no-stray-write", "no-other-building", "one-image"};

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
    static constexpr Op kMix[] = {Op::Probe,      Op::Download,  Op::Download, Op::UploadChanged,
                                  Op::UploadFlow, Op::UploadAll, Op::Check,    Op::Flash};
    Op drawn = kMix[r.range(0, 7)];
    // The upload flow takes every other run of its slot, as the campaign's
    // time allows (the other half stays a plain upload, as before it).
    if (drawn == Op::UploadFlow && seed % 2 == 0) drawn = Op::UploadChanged;
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
    // The flow's technician answers its questions and does not press Esc.
    if (s.op == Op::UploadFlow) {
        s.cancelAtMs = -1;
        s.interruptedDownloadFirst = false;
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
        else if (setup.op == Op::UploadFlow)
            runUploadFlow(setup, tap, clock, plant, result);
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
