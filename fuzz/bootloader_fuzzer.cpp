// A controller and bootloader that answer the upgrade tool with any bytes:
// the run ends by itself or at the Stop pressed at a fixed moment, and
// nothing is sent after the Stop.
#include "fuzz/fuzz_check.h"
#include "sim/virtual_line.h"
#include "bootloader/bootloader_protocol.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <limits>

namespace {

// Answers every write it gets with the fuzzer's next piece, after a delay.
class ScriptedDevice : public kelvane::sim::Device {
public:
    explicit ScriptedDevice(FuzzedDataProvider& in) : in_(in) {}
    void received(const std::uint8_t*, std::size_t, kelvane::sim::VirtualLine& line) override {
        if (in_.remaining_bytes() == 0) return;
        const int delay = in_.ConsumeIntegralInRange(0, 1500);
        line.send(in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange<std::size_t>(0, 12)), delay);
    }

private:
    FuzzedDataProvider& in_;
};

// Virtual time that presses Stop when it reaches stopAt.
struct StoppingClock : kelvane::sim::VirtualClock {
    kelvane::bootloader::StopFlag* stop = nullptr;
    kelvane::sim::VirtualLine* line = nullptr;
    std::int64_t stopAt = std::numeric_limits<std::int64_t>::max();
    std::size_t writesAtStop = 0;
    void sleepMs(int ms) override {
        if (!stop->requested() && nowMs() + ms >= stopAt) {
            VirtualClock::sleepMs(static_cast<int>(stopAt - nowMs()));
            writesAtStop = line->writes().size();
            stop->request();
            line->interrupt();
            return;
        }
        VirtualClock::sleepMs(ms);
    }
};

struct View : kelvane::bootloader::UpgradeReport {
    void showStatus(const kelvane::bootloader::UpgradeStatus&) override {}
    void setProgressRange(int, int) override {}
    void setProgress(int) override {}
    void runEnded() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    StoppingClock clock;
    ScriptedDevice device(in);
    kelvane::sim::VirtualLine line(clock, device);
    kelvane::bootloader::StopFlag stop;
    View view;
    clock.stop = &stop;
    clock.line = &line;
    clock.stopAt = in.ConsumeIntegralInRange<std::int64_t>(0, 90000);
    kelvane::bootloader::UpgradeState state;
    kelvane::bootloader::UpgradeLink link{line, clock, stop, view};
    if (kelvane::bootloader::OpenUpgradePort(state, link, "COM1") && kelvane::bootloader::RequestBootloader(state, link))
        kelvane::bootloader::UpgradeWorker(state, link);
    if (stop.requested()) {
        FUZZ_CHECK(line.writes().size() == clock.writesAtStop);
        FUZZ_CHECK(clock.nowMs() <= clock.stopAt + 1000);  // at most the read in progress
    }
    FUZZ_CHECK(!line.isOpen());
    return 0;
}
