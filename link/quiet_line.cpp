#include "link/quiet_line.h"

#include <cstdint>

namespace kelvane::link {

LineState waitForQuietLine(link::Line& line, link::Clock& clock, const std::atomic<bool>* cancel,
                           const std::function<void()>& waitingForLine, int limitMs, int silenceMs) {
    const auto cancelled = [cancel] { return cancel && cancel->load(); };
    const std::int64_t start = clock.nowMs();
    std::int64_t silentSince = start;
    bool noticed = false;
    std::uint8_t byte = 0;
    for (;;) {
        if (cancelled()) return LineState::Cancelled;
        line.purgeInput();
        const std::int64_t before = clock.nowMs();
        const bool heard = line.read(&byte, 1) != 0;
        if (cancelled()) return LineState::Cancelled;
        const std::int64_t now = clock.nowMs();
        if (!heard && now - silentSince >= silenceMs) return LineState::Quiet;
        if (heard) {
            silentSince = now;
            if (now - start >= limitMs) return LineState::Busy;
        }
        if (!noticed && now - start >= kQuietLineNoticeMs) {
            noticed = true;
            if (waitingForLine) waitingForLine();
        }
        // A line that returns at once must not spin.
        if (now == before) clock.sleepMs(1);
    }
}

}  // namespace kelvane::link
