#include "transfer.h"

#include "command_frame.h"

#include <algorithm>
#include <cstring>

namespace kelvane::link {
namespace {

bool cancelled(const TransferContext& ctx) {
    return ctx.cancel && ctx.cancel->load();
}

void report(const TransferContext& ctx, int position) {
    if (ctx.progress) ctx.progress(position);
}

enum class Ack { Received, Cancelled, Silent };

// One-byte reads (each at most 200 ms) until a byte arrives; its value is not
// looked at.
Ack waitForAck(TransferContext& ctx) {
    const std::int64_t start = ctx.clock.nowMs();
    std::uint8_t ack = 0;
    for (;;) {
        const std::int64_t before = ctx.clock.nowMs();
        if (ctx.line.read(&ack, 1) == 1) return Ack::Received;
        if (cancelled(ctx)) return Ack::Cancelled;
        const std::int64_t now = ctx.clock.nowMs();
        if (now - start >= kAckTimeoutMs) return Ack::Silent;
        // A line that returns at once (closed or interrupted) must not spin.
        if (now == before) ctx.clock.sleepMs(1);
    }
}

UploadResult fromAck(Ack a) {
    return a == Ack::Cancelled ? UploadResult::Cancelled : UploadResult::NoAnswer;
}

}  // namespace

Frame makeFrame(std::uint16_t index, const std::uint8_t* block32) {
    Frame f{};
    f[0] = static_cast<std::uint8_t>(index & 0xFF);
    f[1] = static_cast<std::uint8_t>(index >> 8);
    if (block32) std::memcpy(f.data() + 2, block32, kBlockBytes);
    return f;
}

Frame endFrame() { return makeFrame(kEndFrameIndex, nullptr); }

DownloadOutcome DownloadThread(TransferContext& ctx) {
    DownloadOutcome out;
    out.image.fill(0xFF);
    const Command cmd = startDownloadCommand();
    ctx.line.write(cmd.data(), cmd.size());
    std::int64_t lastFrame = ctx.clock.nowMs();
    Frame frame;
    for (;;) {
        if (ctx.line.read(frame.data(), frame.size()) == frame.size()) {
            const unsigned index = frame[0] | (frame[1] << 8);
            if (index < static_cast<unsigned>(kBlocks)) {
                lastFrame = ctx.clock.nowMs();
                report(ctx, static_cast<int>(index) + 1);
                std::memcpy(out.image.data() + index * kBlockBytes, frame.data() + 2, kBlockBytes);
                if (index == kBlocks - 1) {
                    out.result = DownloadResult::Completed;
                    return out;
                }
            }
        }
        if (cancelled(ctx)) {
            out.result = DownloadResult::Cancelled;
            return out;
        }
        if (ctx.clock.nowMs() - lastFrame >= kFrameTimeoutMs) {
            out.result = DownloadResult::TimedOut;
            return out;
        }
        ctx.clock.sleepMs(1);  // the cancel test's short wait
    }
}

UploadOutcome UploadThread(TransferContext& ctx, const Bytes16k& working, const Bytes16k& device) {
    UploadOutcome out;
    const Command cmd = startUploadCommand();
    ctx.line.write(cmd.data(), cmd.size());
    Ack ack = waitForAck(ctx);
    if (ack != Ack::Received) {
        out.result = fromAck(ack);
        return out;
    }
    for (int i = 0; i < kBlocks; ++i) {
        if (cancelled(ctx)) {
            out.result = UploadResult::Cancelled;
            return out;
        }
        report(ctx, i + 1);
        const std::uint8_t* mine = working.data() + i * kBlockBytes;
        if (std::equal(mine, mine + kBlockBytes, device.data() + i * kBlockBytes)) continue;
        const Frame f = makeFrame(static_cast<std::uint16_t>(i), mine);
        ctx.line.write(f.data(), f.size());
        ++out.framesSent;
        ack = waitForAck(ctx);
        if (ack != Ack::Received) {
            out.result = fromAck(ack);
            return out;
        }
    }
    if (cancelled(ctx)) {
        out.result = UploadResult::Cancelled;
        return out;
    }
    const Frame end = endFrame();
    ctx.line.write(end.data(), end.size());
    ack = waitForAck(ctx);
    out.result = ack == Ack::Received ? UploadResult::Completed : fromAck(ack);
    return out;
}

}  // namespace kelvane::link
