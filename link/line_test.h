#pragma once
// A test of the line itself, on a port already opened for the controller.
// With a loopback plug (TX joined to RX) what is sent comes back: patterns
// at 2400 and 57,600 baud are sent and compared with what returns (bytes
// lost, changed, extra), and single bytes time the round trip, which shows an
// adapter's latency timer. Without a loopback the controller is probed
// kProbeRounds times: answers, silences and response times.
#include "link/serial_line.h"

#include <atomic>
#include <vector>

namespace kelvane::link {

inline constexpr int kLoopbackBauds[] = {2400, 57600};
inline constexpr int kPatternBytes = 512;
inline constexpr int kRoundTrips = 10;
inline constexpr int kProbeRounds = 20;

struct Timing {
    int count = 0;
    double minMs = 0, averageMs = 0, maxMs = 0;
    void add(double ms);
};

struct LoopbackPass {
    int baud = 0;
    int sent = 0;
    int received = 0;
    int lost = 0;      // sent and never seen
    int changed = 0;   // came back different
    int extra = 0;     // came back beyond what was sent
    Timing roundTrip;  // one byte there and back
    bool clean() const { return lost == 0 && changed == 0 && extra == 0 && received == sent; }
};

struct LineTestReport {
    bool loopback = false;
    bool cancelled = false;
    std::vector<LoopbackPass> passes;  // loopback: one per speed
    int probes = 0;                    // no loopback: probes sent
    int answers = 0;                   // full answers
    Timing answerTime;                 // of the answers
};

// Compares what came back with what was sent, allowing for lost bytes (a
// byte missing from the middle costs one lost byte, not every later one).
LoopbackPass compareEcho(const std::vector<std::uint8_t>& sent, const std::vector<std::uint8_t>& received);

// Runs the test on an open line; it leaves the line at the controller's
// settings. cancel (may be null) ends it between steps.
LineTestReport runLineTest(link::Line& line, link::Clock& clock, const std::atomic<bool>* cancel = nullptr);

}  // namespace kelvane::link
