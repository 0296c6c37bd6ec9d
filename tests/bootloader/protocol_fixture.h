#pragma once
// The upgrade protocol against the simulated bootloader in virtual time.
#include "sim/bootloader_device.h"
#include "bootloader/bootloader_protocol.h"
#include "tests/bootloader/recording_view.h"

#include <cstdint>
#include <limits>
#include <vector>

// Virtual time that presses Stop when it reaches a chosen moment.
struct StoppingClock : kelvane::sim::VirtualClock {
    kelvane::bootloader::StopFlag* stop = nullptr;
    kelvane::sim::VirtualLine* line = nullptr;
    std::size_t writesAtStop = 0;
    std::int64_t stopAt = std::numeric_limits<std::int64_t>::max();
    std::size_t callsAtStop = 0;
    RecordingView* view = nullptr;

    void sleepMs(int ms) override {
        if (!stop->requested() && nowMs() + ms >= stopAt) {
            VirtualClock::sleepMs(static_cast<int>(stopAt - nowMs()));
            pressStop();
            return;
        }
        VirtualClock::sleepMs(ms);
    }
    void pressStop() {
        callsAtStop = view->callCount();
        writesAtStop = line->writes().size();
        stop->request();
        line->interrupt();
    }
};

struct ProtocolBench {
    explicit ProtocolBench(kelvane::sim::BootloaderScript script = {}) : device(std::move(script)) {
        clock.stop = &stop;
        clock.line = &line;
        clock.view = &view;
        state.image = std::make_unique<std::vector<std::uint8_t>>(kelvane::bootloader::kImageSize);
        for (std::size_t i = 0; i < kelvane::bootloader::kImageSize; ++i)
            (*state.image)[i] = static_cast<std::uint8_t>((i * 31) ^ (i >> 8));
        device.model().setKeepFrameLog(true);
    }

    bool phaseA() {
        return kelvane::bootloader::OpenUpgradePort(state, link, "COM1") &&
               kelvane::bootloader::RequestBootloader(state, link);
    }
    int run() { return phaseA() ? static_cast<int>(kelvane::bootloader::UpgradeWorker(state, link)) : -1; }
    std::uint8_t programAfterPhaseA() {
        if (!phaseA()) return 0xEE;
        return kelvane::bootloader::ProgramImage(state, link);
    }
    // Presses Stop while the device takes in a byte.
    void stopWhen(std::function<bool(std::uint8_t)> when) {
        device.onByte = [this, when](std::uint8_t b) {
            if (!stop.requested() && when(b)) clock.pressStop();
        };
    }
    std::size_t dataFrames() const { return device.model().frames(); }

    StoppingClock clock;
    kelvane::sim::BootloaderDevice device;
    kelvane::sim::VirtualLine line{clock, device};
    kelvane::bootloader::StopFlag stop;
    RecordingView view;
    kelvane::bootloader::UpgradeState state;
    kelvane::bootloader::UpgradeLink link{line, clock, stop, view};
};
