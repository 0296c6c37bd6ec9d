#include "bootloader/stop_flag.h"

#include <chrono>

namespace kelvane::bootloader {
namespace {

std::int64_t steadyUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void StopFlag::request() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    cv_.notify_all();
}

void StopFlag::waitFor(int ms) {
    if (ms <= 0) return;
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

StoppableClock::StoppableClock(StopFlag& stop, int speed)
    : stop_(stop), speed_(speed < 1 ? 1 : speed), startUs_(steadyUs()) {}

std::int64_t StoppableClock::nowMs() { return (steadyUs() - startUs_) * speed_ / 1000; }

void StoppableClock::sleepMs(int ms) {
    if (ms <= 0 || stop_.requested()) return;
    // Sleep to a target on this clock so rounding does not pile up.
    const std::int64_t target = nowMs() + ms;
    while (!stop_.requested()) {
        std::int64_t left = target - nowMs();
        if (left <= 0) break;
        int realMs = static_cast<int>((left + speed_ - 1) / speed_);
        stop_.waitFor(realMs < 1 ? 1 : realMs);
    }
}

}  // namespace kelvane::bootloader
