#pragma once
// A faulty line between a program and a simulated device, driven by a seed.
// Every decision comes from one pseudo-random stream, so a run with the same
// seed, program and device is the same run, byte for byte and millisecond
// for millisecond. Each fault that happens gets an ordinal; a run can be
// repeated with only some of them (to find the few that matter).
#include "sim/virtual_line.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::sim {

enum class Fault {
    Drop,         // a byte is lost
    Duplicate,    // a byte arrives twice
    FlipBit,      // one bit of a byte is inverted
    Stray,        // one to three noise bytes appear inside a write or an answer
    Reorder,      // two neighbouring bytes of a write or an answer swap places
    Delay,        // an answer is held up to 12 s, beyond every answer and frame time-out
    Late,         // an answer is held 100 to 450 ms, about a read's time-out
    WrongAnswer,  // a one-byte answer becomes a refusal or another byte
    Resend,       // the device sends an answer again
    Chatter,      // the device sends noise just before answering a command
    Cut,          // from a moment on the device is silent, or the port fails
    Reset,        // the device restarts at a moment, losing what it was doing
};
constexpr int kFaultKinds = 12;

struct FaultKindInfo {
    Fault kind;
    const char* name;
    double maxRate;  // chance per byte, write or answer at full hostility; a cut or reset happens once when on
};
extern const std::array<FaultKindInfo, kFaultKinds> kFaultTable;
const char* faultName(Fault kind);
std::optional<Fault> faultByName(const std::string& name);

// splitmix64: small, fast and the same on every platform.
class SeededRandom {
public:
    explicit SeededRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    int range(int lo, int hi) { return lo + static_cast<int>(next() % static_cast<std::uint64_t>(hi - lo + 1)); }
    bool chance(double p) { return p > 0 && unit() < p; }

private:
    std::uint64_t state_;
};

// The faults of one run: a rate per kind, and the moments of a cut and a
// reset (none when negative).
struct FaultPlan {
    std::array<double, kFaultKinds> rate{};
    double hostility = 0;  // 0 almost clean ... 1 hostile
    std::int64_t cutAtMs = -1;
    bool cutFailsPort = false;  // false: the device goes silent, the port still works
    std::int64_t resetAtMs = -1;
    std::uint64_t streamSeed = 0;

    // A random mix drawn from the seed; the cut and the reset fall within
    // horizonMs. With `only`, that kind alone, at a rate that makes it happen.
    static FaultPlan draw(std::uint64_t seed, std::int64_t horizonMs, std::optional<Fault> only = std::nullopt);
    double operator[](Fault f) const { return rate[static_cast<int>(f)]; }
};

struct FaultEvent {
    int ordinal;
    Fault kind;
    bool toDevice;  // direction: program to device, or device to program
    std::int64_t atMs;
};

class FaultTap : public Tap {
public:
    // With `kept`, only the faults of those ordinals happen (the others are
    // decided and left out); without it, all do.
    explicit FaultTap(const FaultPlan& plan, std::optional<std::vector<int>> kept = std::nullopt);

    // Called when the device restarts (it forgets a half-received command).
    std::function<void()> resetDevice;

    void toDevice(const std::uint8_t* data, std::size_t n, Device& device, VirtualLine& line) override;
    void toProgram(const std::vector<std::uint8_t>& bytes, int delayMs, VirtualLine& line) override;

    // The faults that happened, in order.
    const std::vector<FaultEvent>& events() const { return events_; }
    // Faults that changed the bytes going one way (lost, added, changed or
    // swapped; towards the program also noise, resent and wrong answers).
    bool alteredToDevice() const { return alteredToDevice_; }
    bool alteredToProgram() const { return alteredToProgram_; }
    // An answer held back (it may arrive after the program stopped waiting).
    bool heldToProgram() const { return heldToProgram_; }
    // The moment the port failed or the device went silent, if it did.
    std::optional<std::int64_t> cutAt() const;
    bool cutFailsPort() const { return plan_.cutFailsPort; }

private:
    bool fire(Fault kind, bool toDevice, std::int64_t now);
    void garble(std::vector<std::uint8_t>& bytes, bool toDevice, std::int64_t now);
    // Cut and reset: what must hold at every event.
    void timed(VirtualLine& line);
    bool silent(std::int64_t now) const;

    FaultPlan plan_;
    SeededRandom random_;
    std::vector<FaultEvent> events_;
    int next_ = 0;
    std::optional<std::vector<int>> kept_;
    int cutOrdinal_ = -1;
    int resetOrdinal_ = -1;
    bool resetDone_ = false;
    bool alteredToDevice_ = false;
    bool alteredToProgram_ = false;
    bool heldToProgram_ = false;
};

}  // namespace kelvane::sim
