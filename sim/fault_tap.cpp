#include "sim/fault_tap.h"

#include <algorithm>
#include <utility>

namespace kelvane::sim {

const std::array<FaultKindInfo, kFaultKinds> kFaultTable = {{
    {Fault::Drop, "drop", 0.001},
    {Fault::Duplicate, "duplicate", 0.001},
    {Fault::FlipBit, "flip", 0.001},
    {Fault::Stray, "stray", 0.01},
    {Fault::Reorder, "reorder", 0.01},
    {Fault::Delay, "delay", 0.005},
    {Fault::Late, "late", 0.05},
    {Fault::WrongAnswer, "wrong-answer", 0.05},
    {Fault::Resend, "resend", 0.01},
    {Fault::Chatter, "chatter", 0.5},
    {Fault::Cut, "cut", 1.0},
    {Fault::Reset, "reset", 1.0},
}};

const char* faultName(Fault kind) { return kFaultTable[static_cast<int>(kind)].name; }

std::optional<Fault> faultByName(const std::string& name) {
    for (const auto& k : kFaultTable)
        if (name == k.name) return k.kind;
    return std::nullopt;
}

std::uint64_t SeededRandom::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

FaultPlan FaultPlan::draw(std::uint64_t seed, std::int64_t horizonMs, std::optional<Fault> only) {
    SeededRandom r(seed ^ 0x5EED5EED5EED5EEDULL);
    FaultPlan p;
    // Squared, so most runs are mild and a few are hostile.
    const double u = r.unit();
    p.hostility = u * u;
    for (const auto& k : kFaultTable) {
        const bool on = only ? *only == k.kind : r.chance(0.3);
        const double level = only ? std::max(p.hostility, 0.3) : p.hostility;
        if (on) p.rate[static_cast<int>(k.kind)] = std::min(1.0, level * k.maxRate);
    }
    const std::int64_t horizon = std::max<std::int64_t>(horizonMs, 1);
    if (p[Fault::Cut] > 0) {
        p.cutAtMs = static_cast<std::int64_t>(r.unit() * static_cast<double>(horizon));
        p.cutFailsPort = r.chance(0.5);
    }
    if (p[Fault::Reset] > 0) p.resetAtMs = static_cast<std::int64_t>(r.unit() * static_cast<double>(horizon));
    p.streamSeed = r.next();
    return p;
}

FaultTap::FaultTap(const FaultPlan& plan, std::optional<std::vector<int>> kept)
    : plan_(plan), random_(plan.streamSeed), kept_(std::move(kept)) {
    if (plan_.cutAtMs >= 0 && fire(Fault::Cut, false, plan_.cutAtMs)) cutOrdinal_ = next_ - 1;
    if (plan_.resetAtMs >= 0 && fire(Fault::Reset, true, plan_.resetAtMs)) resetOrdinal_ = next_ - 1;
}

bool FaultTap::fire(Fault kind, bool toDevice, std::int64_t now) {
    const int ordinal = next_++;
    if (kept_ && std::find(kept_->begin(), kept_->end(), ordinal) == kept_->end()) return false;
    events_.push_back({ordinal, kind, toDevice, now});
    return true;
}

std::optional<std::int64_t> FaultTap::cutAt() const {
    if (cutOrdinal_ < 0) return std::nullopt;
    return plan_.cutAtMs;
}

bool FaultTap::silent(std::int64_t now) const {
    return cutOrdinal_ >= 0 && !plan_.cutFailsPort && now >= plan_.cutAtMs;
}

void FaultTap::timed(VirtualLine& line) {
    const std::int64_t now = line.nowMs();
    if (cutOrdinal_ >= 0) {
        if (plan_.cutFailsPort)
            line.hangUp(static_cast<double>(plan_.cutAtMs));  // again after every reopen
        else
            line.truncatePending(static_cast<double>(plan_.cutAtMs));
    }
    if (resetOrdinal_ >= 0 && !resetDone_) {
        line.truncatePending(static_cast<double>(plan_.resetAtMs));
        if (now >= plan_.resetAtMs) {
            resetDone_ = true;
            line.dropPending();
            if (resetDevice) resetDevice();
        }
    }
}

// Per-byte faults, then the faults of the whole write or answer. Every draw is
// made whether or not its fault is kept, so leaving one out changes nothing
// else that was decided.
void FaultTap::garble(std::vector<std::uint8_t>& bytes, bool toDevice, std::int64_t now) {
    bool& altered = toDevice ? alteredToDevice_ : alteredToProgram_;
    const bool perByte = plan_[Fault::Drop] > 0 || plan_[Fault::FlipBit] > 0 || plan_[Fault::Duplicate] > 0;
    std::vector<std::uint8_t> out;
    if (!perByte)
        out.swap(bytes);
    else
        out.reserve(bytes.size() + 4);
    for (std::uint8_t b : bytes) {
        if (random_.chance(plan_[Fault::Drop]) && fire(Fault::Drop, toDevice, now)) {
            altered = true;
            continue;
        }
        if (random_.chance(plan_[Fault::FlipBit])) {
            const int bit = random_.range(0, 7);
            if (fire(Fault::FlipBit, toDevice, now)) {
                b = static_cast<std::uint8_t>(b ^ (1u << bit));
                altered = true;
            }
        }
        out.push_back(b);
        if (random_.chance(plan_[Fault::Duplicate]) && fire(Fault::Duplicate, toDevice, now)) {
            out.push_back(b);
            altered = true;
        }
    }
    if (random_.chance(plan_[Fault::Stray])) {
        const int count = random_.range(1, 3);
        const std::size_t at = static_cast<std::size_t>(random_.range(0, static_cast<int>(out.size())));
        std::vector<std::uint8_t> noise;
        for (int i = 0; i < count; ++i) noise.push_back(static_cast<std::uint8_t>(random_.next()));
        if (fire(Fault::Stray, toDevice, now)) {
            out.insert(out.begin() + static_cast<long>(at), noise.begin(), noise.end());
            altered = true;
        }
    }
    if (random_.chance(plan_[Fault::Reorder]) && out.size() >= 2) {
        const std::size_t at = static_cast<std::size_t>(random_.range(0, static_cast<int>(out.size()) - 2));
        if (fire(Fault::Reorder, toDevice, now) && out[at] != out[at + 1]) {
            std::swap(out[at], out[at + 1]);
            altered = true;
        }
    }
    bytes = std::move(out);
}

void FaultTap::toDevice(const std::uint8_t* data, std::size_t n, Device& device, VirtualLine& line) {
    timed(line);
    const std::int64_t now = line.nowMs();
    if (silent(now) || line.hungUp()) return;
    std::vector<std::uint8_t> bytes(data, data + n);
    // Noise from the device just before it hears a command (8 bytes) or a
    // wake-up byte: what a program must not take for the answer.
    if ((n == 8 || n == 1) && random_.chance(plan_[Fault::Chatter])) {
        std::vector<std::uint8_t> noise(static_cast<std::size_t>(random_.range(1, 20)));
        for (auto& b : noise) b = static_cast<std::uint8_t>(random_.next());
        if (fire(Fault::Chatter, false, now)) {
            line.deliver(noise, 0);
            alteredToProgram_ = true;
        }
    }
    garble(bytes, true, now);
    if (!bytes.empty()) device.received(bytes.data(), bytes.size(), line);
    timed(line);  // what the device queued must not outlive a cut or reset
}

void FaultTap::toProgram(const std::vector<std::uint8_t>& answer, int delayMs, VirtualLine& line) {
    const std::int64_t now = line.nowMs();
    if (silent(now)) return;
    std::vector<std::uint8_t> bytes = answer;
    garble(bytes, false, now);
    if (bytes.size() == 1 && random_.chance(plan_[Fault::WrongAnswer])) {
        static constexpr std::uint8_t kWrong[] = {0x10, 0x11, 0x00, 0xFF};
        const std::uint8_t wrong = kWrong[random_.range(0, 3)];
        if (fire(Fault::WrongAnswer, false, now) && bytes[0] != wrong) {
            bytes[0] = wrong;
            alteredToProgram_ = true;
        }
    }
    if (random_.chance(plan_[Fault::Delay])) {
        const int extra = random_.range(0, 12000);
        if (fire(Fault::Delay, false, now)) {
            delayMs += extra;
            heldToProgram_ = true;
        }
    }
    if (random_.chance(plan_[Fault::Late])) {
        const int extra = random_.range(100, 450);
        if (fire(Fault::Late, false, now)) {
            delayMs += extra;
            heldToProgram_ = true;
        }
    }
    if (!bytes.empty()) line.deliver(bytes, delayMs);
    if (random_.chance(plan_[Fault::Resend])) {
        const int gap = random_.range(0, 300);
        if (fire(Fault::Resend, false, now) && !bytes.empty()) {
            line.deliver(bytes, gap);
            alteredToProgram_ = true;
        }
    }
    timed(line);
}

}  // namespace kelvane::sim
