#include "sim/virtual_line.h"

#include <algorithm>
#include <cmath>

namespace kelvane::sim {

VirtualLine::VirtualLine(link::Clock& clock, Device& device) : clock_(clock), device_(device) {}

bool VirtualLine::open(const std::string& name) {
    if (open_ || busy_) {
        openFailure_ = link::OpenFailure::Busy;
        return false;
    }
    if (!portName_.empty() && name != portName_) {
        openFailure_ = link::OpenFailure::NoSuchPort;
        return false;
    }
    openFailure_ = link::OpenFailure::None;
    open_ = true;
    if (sendsWhileClosed_)
        purgeInput();  // what arrived while the port was closed
    else
        rx_.clear();
    hangUpAt_ = 1e300;
    device_.opened(*this);
    return true;
}

void VirtualLine::close() {
    if (!open_) return;
    open_ = false;
    if (!sendsWhileClosed_) rx_.clear();
    device_.closed();
}

void VirtualLine::setLine(const link::LineSettings& settings) {
    settings_ = settings;
    device_.lineChanged(settings);
}

bool VirtualLine::waitUntil(double t) {
    // Slices keep an interrupt prompt when the clock is the wall clock.
    constexpr std::int64_t kSliceMs = 10;
    const auto target = static_cast<std::int64_t>(std::ceil(t));
    for (;;) {
        if (interrupted_) return false;
        const auto now = clock_.nowMs();
        if (target <= now) return true;
        clock_.sleepMs(static_cast<int>(std::min(target - now, kSliceMs)));
    }
}

std::size_t VirtualLine::read(std::uint8_t* buf, std::size_t n) {
    if (!open_ || n == 0 || interrupted_) return 0;
    const double start = static_cast<double>(clock_.nowMs());
    const double deadline = start + timeouts_.readTotal(n);
    std::size_t got = 0;
    // The interval that ends a read lies between two bytes' arrivals on the
    // line, not between two looks at the clock: a program that the machine
    // holds up finds the bytes that came meanwhile waiting in the port's
    // buffer, as a real driver keeps them, and reads them in one go.
    double lastArrival = start;
    while (got < n) {
        if (!rx_.empty() && rx_.front().atMs > hangUpAt_) rx_.clear();
        if (rx_.empty() || rx_.front().atMs > deadline) {
            double end = deadline;
            if (got > 0) end = std::min(deadline, lastArrival + timeouts_.readInterval);
            waitUntil(end);
            break;
        }
        const double arrival = rx_.front().atMs;
        if (got > 0 && arrival - lastArrival > timeouts_.readInterval) {
            waitUntil(lastArrival + timeouts_.readInterval);
            break;
        }
        if (!waitUntil(arrival)) break;
        buf[got++] = rx_.front().byte;
        rx_.pop_front();
        lastArrival = arrival;
    }
    return got;
}

std::size_t VirtualLine::write(const std::uint8_t* data, std::size_t n) {
    if (!open_ || interrupted_) return 0;
    if (paced_ && !waitUntil(clock_.nowMs() + n * byteTimeMs())) return 0;
    if (hungUp()) return 0;
    writes_.push_back({clock_.nowMs(), std::vector<std::uint8_t>(data, data + n)});
    if (tap_)
        tap_->toDevice(data, n, device_, *this);
    else
        device_.received(data, n, *this);
    return n;
}

void VirtualLine::purgeInput() {
    const double now = static_cast<double>(clock_.nowMs());
    while (!rx_.empty() && rx_.front().atMs <= now) rx_.pop_front();
}

double VirtualLine::pendingUntilMs() {
    const double now = static_cast<double>(clock_.nowMs());
    return rx_.empty() ? now : std::max(now, rx_.back().atMs);
}

void VirtualLine::hangUp(double atMs) { hangUpAt_ = std::max(atMs, static_cast<double>(clock_.nowMs())); }

void VirtualLine::send(const std::vector<std::uint8_t>& bytes, int delayMs) {
    if (tap_)
        tap_->toProgram(bytes, delayMs, *this);
    else
        deliver(bytes, delayMs);
}

void VirtualLine::deliver(const std::vector<std::uint8_t>& bytes, int delayMs) {
    if (!open_ || hungUp()) return;
    const double step = byteTimeMs();
    double t = static_cast<double>(clock_.nowMs()) + delayMs + step;
    if (!rx_.empty()) t = std::max(t, rx_.back().atMs + step);
    for (auto b : bytes) {
        rx_.push_back({t, b});
        t += step;
    }
}

std::vector<std::uint8_t> VirtualLine::written() const {
    std::vector<std::uint8_t> all;
    for (const auto& w : writes_) all.insert(all.end(), w.bytes.begin(), w.bytes.end());
    return all;
}

}  // namespace kelvane::sim
