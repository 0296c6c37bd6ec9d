#pragma once
// Download and upload of the controller's configuration image, block by
// block, as worker routines over a serial line and a clock. The caller opens
// the port before and closes it after; these routines only talk.
#include "image/image.h"
#include "link/serial_line.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

namespace kelvane::link {

constexpr std::size_t kFrameBytes = 2 + kBlockSize;  // index (2 bytes, LSB first) + one block
constexpr std::uint16_t kEndFrameIndex = 0xFFFF;

// Upload: longest wait for one acknowledgement before the controller is
// taken for gone.
constexpr int kAckTimeoutMs = 5000;
// Upload: once cancelled, the longest wait for the acknowledgement of the
// frame in flight, and then for that of the end frame.
constexpr int kCancelledAckMs = 1000;
// Download: longest time without a complete frame before it is given up.
constexpr int kFrameTimeoutMs = 10000;
// Download: longest time in all, twice the line time of a whole image
// (512 frames of 34 bytes, 10 bits each at 2400 baud).
constexpr int kDownloadLimitMs =
    2 * (static_cast<int>(kelvane::kBlockCount) * static_cast<int>(kFrameBytes) * 10 * 1000 / 2400);
// Before a command: the longest wait for a line still busy (the rest of a
// cancelled download, about a whole image's line time), and how long it
// waits before it says so.
constexpr int kQuietLineLimitMs = 75000;
constexpr int kQuietLineNoticeMs = 1000;

using Frame = std::array<std::uint8_t, kFrameBytes>;

Frame makeFrame(std::uint16_t index, const std::uint8_t* block32);
Frame endFrame();  // index FFFF and 32 zero bytes

// What a transfer needs besides the images. cancel may be null; progress is
// called with each new progress position (1..512) and may be empty;
// waitingForLine, when given, once a wait for a quiet line has lasted
// kQuietLineNoticeMs.
struct TransferContext {
    link::Line& line;
    link::Clock& clock;
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(int)> progress;
    std::function<void()> waitingForLine;
};

enum class DownloadResult {
    Completed,  // block 511 arrived; image holds what came
    Cancelled,  // the cancel flag was set
    TimedOut,   // no complete frame for kFrameTimeoutMs, or not done within kDownloadLimitMs
    LineBusy,   // the line never went quiet for the command (kQuietLineLimitMs)
};

struct DownloadOutcome {
    DownloadResult result = DownloadResult::Cancelled;
    Image image{};  // blocks no frame came for stay 0xFF; meaningful only when Completed
};

// Sends "DebMem6" and stores 34-byte frames until the frame of block 511.
// Frames may come in any order, later ones overwrite earlier ones; a short
// read is discarded whole; a frame with an index above 511 is ignored.
DownloadOutcome DownloadThread(TransferContext& ctx);

enum class UploadResult {
    Completed,  // the end frame was acknowledged
    Cancelled,  // the cancel flag was set: no further data frame, the end frame closes the session
    NoAnswer,   // an acknowledgement did not come within kAckTimeoutMs
    LineBusy,   // the line never went quiet for the command; nothing was sent
};

struct UploadOutcome {
    UploadResult result = UploadResult::Cancelled;
    int framesSent = 0;  // data frames, without the end frame
};

// Sends "DebMem7", then a frame for every block in which `working` differs
// from `device`, each acknowledged by one byte, then the end frame. A cancel
// lets the frame in flight finish, then ends the session with the end frame;
// after it each acknowledgement is waited for at most kCancelledAckMs. The
// caller passes a copy of the working image taken as the upload starts and,
// when it Completed, copies that same copy over the device image.
UploadOutcome UploadThread(TransferContext& ctx, const Image& working, const Image& device);

}  // namespace kelvane::link
