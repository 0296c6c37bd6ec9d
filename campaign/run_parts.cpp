#include "campaign/run_parts.h"

#include "link/command_frame.h"
#include "link/quiet_line.h"
#include "link/transfer.h"

#include <algorithm>

namespace kelvane::campaign::parts {

std::int64_t horizonMs(Op op) {
    switch (op) {
    case Op::Probe: return 3000;
    case Op::Download:
    case Op::Check: return 80000;
    case Op::UploadChanged: return 8000;
    case Op::UploadAll: return 80000;
    case Op::Flash: return 45000;
    case Op::UploadFlow: return 80000;
    }
    return 1000;
}

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
    case Op::UploadFlow: return boundMs(Op::Probe) + boundMs(Op::Download) + boundMs(Op::UploadAll);
    }
    return 0;
}

std::int64_t cancelBoundMs(Op op) {
    return op == Op::Flash ? 1000 : 2 * link::kCancelledAckMs + 2 * link::kAckTimeoutMs / 5 + 3600;
}

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

}  // namespace kelvane::campaign::parts
