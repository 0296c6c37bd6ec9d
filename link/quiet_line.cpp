#include "link/quiet_line.h"

#include <cstdint>

namespace kelvane::link {

LineState waitForQuietLine(link::Line& line, link::Clock& clock, const std::atomic<bool>* cancel,
                           const std::function<void()>& waitingForLine) {
    const auto cancelled = [cancel] { return cancel && cancel->load(); };
    const std::int64_t start = clock.nowMs();
    bool noticed = false;
    std::uint8_t byte = 0;
    for (;;) {
        if (cancelled()) return LineState::Cancelled;
        line.purgeInput();
        const std::int64_t before = clock.nowMs();
        const bool quiet = line.read(&byte, 1) == 0;
        if (cancelled()) return LineState::Cancelled;
        if (quiet) return LineState::Quiet;
        const std::int64_t now = clock.nowMs();
        if (now - start >= kQuietLineLimitMs) return LineState::Busy;
        if (!noticed && now - start >= kQuietLineNoticeMs) {
            noticed = true;
            if (waitingForLine) waitingForLine();
        }
        // A line that returns at once must not spin.
        if (now == before) clock.sleepMs(1);
    }
}

}  // namespace kelvane::link
