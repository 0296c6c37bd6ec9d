#pragma once
// Stop of an upgrade run: a flag the worker checks after every step, a wait
// that a Stop cuts short, and a clock whose sleeps end at once on Stop.
#include "link/serial_line.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kelvane::bootloader {

class StopFlag {
public:
    void request();
    bool requested() const { return stop_.load(); }
    // Waits up to ms of real time; returns early when a stop is requested.
    void waitFor(int ms);

private:
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::condition_variable cv_;
};

// Wall-clock time whose sleeps a Stop interrupts. With speed > 1 time runs
// faster than the wall clock (sleeps shrink, now grows), which lets window
// tests drive the built-in simulator through the long pauses quickly.
class StoppableClock : public link::Clock {
public:
    explicit StoppableClock(StopFlag& stop, int speed = 1);
    std::int64_t nowMs() override;
    void sleepMs(int ms) override;

private:
    StopFlag& stop_;
    int speed_;
    std::int64_t startUs_;
};

}  // namespace kelvane::bootloader
