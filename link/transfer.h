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
// Download: longest time without a complete frame before it is given up
// like a cancel.
constexpr int kFrameTimeoutMs = 10000;

using Frame = std::array<std::uint8_t, kFrameBytes>;

Frame makeFrame(std::uint16_t index, const std::uint8_t* block32);
Frame endFrame();  // index FFFF and 32 zero bytes

// What a transfer needs besides the images. cancel may be null; progress is
// called with each new progress position (1..512) and may be empty.
struct TransferContext {
    serial::Line& line;
    serial::Clock& clock;
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(int)> progress;
};

enum class DownloadResult {
    Completed,  // block 511 arrived; image holds what came
    Cancelled,  // the cancel flag was set
    TimedOut,   // no complete frame for kFrameTimeoutMs; shown like a cancel
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
};

struct UploadOutcome {
    UploadResult result = UploadResult::Cancelled;
    int framesSent = 0;  // data frames, without the end frame
};

// Sends "DebMem7", then a frame for every block in which `working` differs
// from `device`, each acknowledged by one byte, then the end frame. The
// caller passes a copy of the working image taken as the upload starts and,
// when it Completed, copies that same copy over the device image.
UploadOutcome UploadThread(TransferContext& ctx, const Image& working, const Image& device);

}  // namespace kelvane::link
