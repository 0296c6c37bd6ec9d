#pragma once
// Waiting for a line to go quiet before a command. A controller still sending
// the frames of an earlier, cancelled download would put the next command and
// its answers out of step (a probe would read image bytes as the identity).
#include "link/serial_line.h"

#include <atomic>
#include <functional>

namespace kelvane::link {

// The longest wait for a line still busy (the rest of a cancelled download,
// about a whole image's line time), and how long it waits before it says so.
constexpr int kQuietLineLimitMs = 75000;
constexpr int kQuietLineNoticeMs = 1000;

enum class LineState { Quiet, Cancelled, Busy };

// Silence a probe waits for: longer than a controller still sending may
// pause between two pieces (an answer can come a read's time-out and more
// late), so the rest of a cancelled download cannot follow the probe's
// request and be taken for the identity.
constexpr int kProbeSilenceMs = 500;

// Discards what arrives until the line has been quiet for silenceMs (at
// least one 1-byte read: 200 ms at the port's time-outs), for at most
// limitMs while bytes still come. cancel may be null; waitingForLine, when
// given, is called once the wait has lasted kQuietLineNoticeMs.
LineState waitForQuietLine(link::Line& line, link::Clock& clock, const std::atomic<bool>* cancel,
                           const std::function<void()>& waitingForLine = {}, int limitMs = kQuietLineLimitMs,
                           int silenceMs = 0);

}  // namespace kelvane::link
