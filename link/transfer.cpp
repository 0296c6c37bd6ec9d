#include "link/transfer.h"

#include "link/command_frame.h"

#include <algorithm>
#include <cstring>

namespace kelvane::link {
namespace {

bool cancelled(const TransferContext& ctx) { return ctx.cancel && ctx.cancel->load(); }

void report(const TransferContext& ctx, int position) {
    if (ctx.progress) ctx.progress(position);
}

// One-byte reads (each at most 200 ms) until a byte arrives, or false after
// limitMs of silence; the byte's value is not looked at. A cancel does not
// end this wait at once: the frame is on its way and the controller will
// answer it; it shortens the wait to kCancelledAckMs from the moment it is
// seen.
bool waitForAck(TransferContext& ctx, int limitMs = kAckTimeoutMs) {
    const std::int64_t start = ctx.clock.nowMs();
    std::int64_t cancelSeen = -1;
    std::uint8_t ack = 0;
    for (;;) {
        const std::int64_t before = ctx.clock.nowMs();
        if (cancelSeen < 0 && cancelled(ctx)) cancelSeen = before;
        if (ctx.line.read(&ack, 1) == 1) return true;
        const std::int64_t now = ctx.clock.nowMs();
        if (now - start >= limitMs) return false;
        if (cancelSeen >= 0 && now - cancelSeen >= kCancelledAckMs) return false;
        // A line that returns at once (closed or interrupted) must not spin.
        if (now == before) ctx.clock.sleepMs(1);
    }
}

enum class LineState { Quiet, Cancelled, Busy };

// A controller still sending the frames of an earlier, cancelled download
// would put the next command and its answers out of step. Before a command,
// what arrives is discarded until the line has been quiet for one 1-byte
// read (200 ms), for at most kQuietLineLimitMs.
LineState waitForQuietLine(TransferContext& ctx) {
    const std::int64_t start = ctx.clock.nowMs();
    bool noticed = false;
    std::uint8_t byte = 0;
    for (;;) {
        if (cancelled(ctx)) return LineState::Cancelled;
        ctx.line.purgeInput();
        const std::int64_t before = ctx.clock.nowMs();
        const bool quiet = ctx.line.read(&byte, 1) == 0;
        if (cancelled(ctx)) return LineState::Cancelled;
        if (quiet) return LineState::Quiet;
        const std::int64_t now = ctx.clock.nowMs();
        if (now - start >= kQuietLineLimitMs) return LineState::Busy;
        if (!noticed && now - start >= kQuietLineNoticeMs) {
            noticed = true;
            if (ctx.waitingForLine) ctx.waitingForLine();
        }
        if (now == before) ctx.clock.sleepMs(1);
    }
}

// Ends the controller's upload mode with the end frame and its
// acknowledgement, also when the upload was cancelled: a controller left
// waiting for a frame would take the next command as the rest of one.
UploadResult endUpload(TransferContext& ctx, UploadResult result) {
    const Frame end = endFrame();
    ctx.line.write(end.data(), end.size());
    const bool acked = waitForAck(ctx, result == UploadResult::Cancelled ? kCancelledAckMs : kAckTimeoutMs);
    return result == UploadResult::Completed && !acked ? UploadResult::NoAnswer : result;
}

}  // namespace

Frame makeFrame(std::uint16_t index, const std::uint8_t* block32) {
    Frame f{};
    f[0] = static_cast<std::uint8_t>(index & 0xFF);
    f[1] = static_cast<std::uint8_t>(index >> 8);
    if (block32) std::memcpy(f.data() + 2, block32, kBlockSize);
    return f;
}

Frame endFrame() { return makeFrame(kEndFrameIndex, nullptr); }

DownloadOutcome DownloadThread(TransferContext& ctx) {
    DownloadOutcome out;
    out.image.fill(0xFF);
    switch (waitForQuietLine(ctx)) {
    case LineState::Quiet: break;
    case LineState::Cancelled: out.result = DownloadResult::Cancelled; return out;
    case LineState::Busy: out.result = DownloadResult::LineBusy; return out;
    }
    const Command cmd = startDownloadCommand();
    ctx.line.write(cmd.data(), cmd.size());
    const std::int64_t started = ctx.clock.nowMs();
    std::int64_t lastFrame = started;
    Frame frame;
    for (;;) {
        if (ctx.line.read(frame.data(), frame.size()) == frame.size()) {
            const unsigned index = frame[0] | (frame[1] << 8);
            if (index < static_cast<unsigned>(kBlockCount)) {
                lastFrame = ctx.clock.nowMs();
                report(ctx, static_cast<int>(index) + 1);
                std::memcpy(out.image.data() + index * kBlockSize, frame.data() + 2, kBlockSize);
                if (index == kBlockCount - 1) {
                    out.result = DownloadResult::Completed;
                    return out;
                }
            }
        }
        if (cancelled(ctx)) {
            out.result = DownloadResult::Cancelled;
            return out;
        }
        const std::int64_t now = ctx.clock.nowMs();
        if (now - lastFrame >= kFrameTimeoutMs || now - started >= kDownloadLimitMs) {
            out.result = DownloadResult::TimedOut;
            return out;
        }
        ctx.clock.sleepMs(1);  // the cancel test's short wait
    }
}

UploadOutcome UploadThread(TransferContext& ctx, const Image& working, const Image& device) {
    UploadOutcome out;
    switch (waitForQuietLine(ctx)) {
    case LineState::Quiet: break;
    case LineState::Cancelled: out.result = UploadResult::Cancelled; return out;
    case LineState::Busy: out.result = UploadResult::LineBusy; return out;
    }
    const Command cmd = startUploadCommand();
    ctx.line.write(cmd.data(), cmd.size());
    if (!waitForAck(ctx)) {
        out.result = cancelled(ctx) ? endUpload(ctx, UploadResult::Cancelled) : UploadResult::NoAnswer;
        return out;
    }
    for (int i = 0; i < int(kBlockCount); ++i) {
        if (cancelled(ctx)) {
            out.result = endUpload(ctx, UploadResult::Cancelled);
            return out;
        }
        report(ctx, i + 1);
        const std::uint8_t* mine = working.data() + i * kBlockSize;
        if (std::equal(mine, mine + kBlockSize, device.data() + i * kBlockSize)) continue;
        const Frame f = makeFrame(static_cast<std::uint16_t>(i), mine);
        ctx.line.write(f.data(), f.size());
        ++out.framesSent;
        if (!waitForAck(ctx)) {
            // Cancelled meanwhile: the end frame still closes the session.
            out.result = cancelled(ctx) ? endUpload(ctx, UploadResult::Cancelled) : UploadResult::NoAnswer;
            return out;
        }
    }
    out.result = endUpload(ctx, cancelled(ctx) ? UploadResult::Cancelled : UploadResult::Completed);
    return out;
}

}  // namespace kelvane::link
