#include "link/line_test.h"

#include "link/command_frame.h"
#include "link/port.h"
#include "link/probe.h"

#include <algorithm>

namespace kelvane::link {
namespace {

// How far ahead a returned byte is looked for in what was sent before it
// counts as changed rather than as following lost ones.
constexpr std::size_t kResyncWindow = 8;

std::vector<std::uint8_t> pattern() {
    std::vector<std::uint8_t> p(kPatternBytes);
    for (int i = 0; i < kPatternBytes; ++i) p[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    return p;
}

bool stopped(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

// Reads until n bytes came or the line stays quiet past the time-outs.
std::vector<std::uint8_t> readBack(link::Line& line, std::size_t n) {
    std::vector<std::uint8_t> got(n);
    std::size_t have = 0;
    while (have < n) {
        const std::size_t r = line.read(got.data() + have, n - have);
        if (r == 0) break;
        have += r;
    }
    got.resize(have);
    return got;
}

}  // namespace

void Timing::add(double ms) {
    minMs = count ? std::min(minMs, ms) : ms;
    maxMs = count ? std::max(maxMs, ms) : ms;
    averageMs = (averageMs * count + ms) / (count + 1);
    ++count;
}

LoopbackPass compareEcho(const std::vector<std::uint8_t>& sent, const std::vector<std::uint8_t>& received) {
    LoopbackPass p;
    p.sent = static_cast<int>(sent.size());
    p.received = static_cast<int>(received.size());
    std::size_t i = 0;
    for (std::uint8_t b : received) {
        if (i >= sent.size()) {
            ++p.extra;
            continue;
        }
        const auto end = sent.begin() + static_cast<std::ptrdiff_t>(std::min(sent.size(), i + kResyncWindow));
        const auto at = std::find(sent.begin() + static_cast<std::ptrdiff_t>(i), end, b);
        if (at == end) {
            ++p.changed;
            ++i;
        } else {
            const auto skip = static_cast<std::size_t>(at - sent.begin()) - i;
            p.lost += static_cast<int>(skip);
            i += skip + 1;
        }
    }
    p.lost += static_cast<int>(sent.size() - i);
    return p;
}

LineTestReport runLineTest(link::Line& line, link::Clock& clock, const std::atomic<bool>* cancel) {
    LineTestReport report;
    // A well-formed command no controller knows: a controller ignores it,
    // a loopback returns it.
    const Command hello = makeCommand("LineTst");
    line.purgeInput();
    line.write(hello.data(), hello.size());
    const std::vector<std::uint8_t> echo = readBack(line, hello.size());
    report.loopback = std::equal(echo.begin(), echo.end(), hello.begin(), hello.end());

    if (report.loopback) {
        const std::vector<std::uint8_t> sent = pattern();
        for (int baud : kLoopbackBauds) {
            if (stopped(cancel)) break;
            link::LineSettings s = controllerLineSettings();
            s.baud = baud;
            line.setLine(s);
            line.purgeInput();
            line.write(sent.data(), sent.size());
            LoopbackPass pass = compareEcho(sent, readBack(line, sent.size()));
            pass.baud = baud;
            for (int r = 0; r < kRoundTrips && !stopped(cancel); ++r) {
                const std::uint8_t byte = static_cast<std::uint8_t>(0x55 + r);
                std::uint8_t back = 0;
                const std::int64_t t0 = clock.nowMs();
                line.write(&byte, 1);
                if (line.read(&back, 1) == 1 && back == byte)
                    pass.roundTrip.add(static_cast<double>(clock.nowMs() - t0));
            }
            report.passes.push_back(pass);
        }
        line.setLine(controllerLineSettings());
    } else {
        for (int i = 0; i < kProbeRounds && !stopped(cancel); ++i) {
            line.purgeInput();
            const std::int64_t t0 = clock.nowMs();
            ++report.probes;
            if (probe(line)) {
                ++report.answers;
                report.answerTime.add(static_cast<double>(clock.nowMs() - t0));
            }
            clock.sleepMs(100);
        }
    }
    report.cancelled = stopped(cancel);
    return report;
}

}  // namespace kelvane::link
