#include "link/transfer.h"

#include "link/command_frame.h"

#include <algorithm>
#include <bitset>
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

LineState waitForQuietLine(TransferContext& ctx) {
    return link::waitForQuietLine(ctx.line, ctx.clock, ctx.cancel, ctx.waitingForLine);
}

// Ends the controller's upload mode with the end frame and its
// acknowledgement, also when the upload was cancelled or an acknowledgement
// did not come: a controller left waiting for a frame would take the next
// command as the rest of one. Only a completed upload waits the full time.
UploadResult endUpload(TransferContext& ctx, UploadResult result) {
    const Frame end = endFrame();
    ctx.line.purgeInput();  // only a byte that comes after it answers it
    ctx.line.write(end.data(), end.size());
    const bool acked = waitForAck(ctx, result == UploadResult::Completed ? kAckTimeoutMs : kCancelledAckMs);
    return result == UploadResult::Completed && !acked ? UploadResult::NoAnswer : result;
}

// After an acknowledgement that did not come: cancelled meanwhile, or no answer.
UploadResult endAfterMissingAck(TransferContext& ctx) {
    return endUpload(ctx, cancelled(ctx) ? UploadResult::Cancelled : UploadResult::NoAnswer);
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
    std::bitset<kBlockCount> arrived;
    Frame frame;
    for (;;) {
        if (ctx.line.read(frame.data(), frame.size()) == frame.size()) {
            const unsigned index = frame[0] | (frame[1] << 8);
            if (index < static_cast<unsigned>(kBlockCount)) {
                lastFrame = ctx.clock.nowMs();
                report(ctx, static_cast<int>(index) + 1);
                std::memcpy(out.image.data() + index * kBlockSize, frame.data() + 2, kBlockSize);
                arrived.set(index);
                out.missingBlocks = static_cast<int>(kBlockCount - arrived.count());
                if (index == kBlockCount - 1) {
                    out.result = out.missingBlocks == 0 ? DownloadResult::Completed : DownloadResult::Incomplete;
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
        out.result = endAfterMissingAck(ctx);
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
        // A byte already waiting is no answer to this frame: noise, or an
        // answer sent twice. Taken for one, it would put every later
        // acknowledgement one frame early, and the end frame's could be
        // counted while the controller never got the last frames.
        ctx.line.purgeInput();
        ctx.line.write(f.data(), f.size());
        ++out.framesSent;
        if (!waitForAck(ctx)) {
            out.result = endAfterMissingAck(ctx);
            return out;
        }
    }
    out.result = endUpload(ctx, cancelled(ctx) ? UploadResult::Cancelled : UploadResult::Completed);
    return out;
}

}  // namespace kelvane::link
