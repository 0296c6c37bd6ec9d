#pragma once
// A serial line whose far end is a simulated device. With sim::VirtualClock
// every wait, time-out and pause runs in virtual time, so protocol tests take
// microseconds; with link::systemClock() the same device runs in real time
// (the programs' built-in simulator port).
#include "link/serial_line.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelvane::sim {

// Virtual time has a limit: a wait that never ends (a protocol waiting for an
// answer the device will never give) throws once the clock passes it, so a
// test fails at once instead of spinning until an outer time-out kills it.
class VirtualClock : public link::Clock {
public:
    static constexpr std::int64_t kDefaultLimitMs = 2 * 3600 * 1000;

    std::int64_t nowMs() override { return now_; }
    void sleepMs(int ms) override {
        if (ms > 0) now_ += ms;
        if (now_ > limitMs_)
            throw std::runtime_error("virtual time passed " + std::to_string(limitMs_ / 1000) +
                                     " s: something waits for ever");
    }
    void setLimitMs(std::int64_t ms) { limitMs_ = ms; }

private:
    std::int64_t now_ = 0;
    std::int64_t limitMs_ = kDefaultLimitMs;
};

class VirtualLine;
class Device;

// Something between the program and the device that may change what passes,
// as a faulty line does (the fault campaign). Without one, bytes pass as sent.
class Tap {
public:
    virtual ~Tap() = default;
    // Bytes the program wrote; hands what reaches the device to device.received().
    virtual void toDevice(const std::uint8_t* data, std::size_t n, Device& device, VirtualLine& line) = 0;
    // Bytes the device sends; hands what reaches the program to line.deliver().
    virtual void toProgram(const std::vector<std::uint8_t>& bytes, int delayMs, VirtualLine& line) = 0;
};

// The device at the far end of a virtual line.
class Device {
public:
    virtual ~Device() = default;
    // Bytes the program has written; they reach the device at line.nowMs().
    // The device answers through line.send().
    virtual void received(const std::uint8_t* data, std::size_t n, VirtualLine& line) = 0;
    // The program changed the line settings (baud rate, stop bits...).
    virtual void lineChanged(const link::LineSettings&) {}
    virtual void opened(VirtualLine&) {}
    virtual void closed() {}
};

class VirtualLine : public link::Line {
public:
    struct Write {
        std::int64_t atMs;
        std::vector<std::uint8_t> bytes;
    };

    VirtualLine(link::Clock& clock, Device& device);

    // The name open() accepts; empty accepts any name.
    void setPortName(std::string name) { portName_ = std::move(name); }
    // When paced, bytes take their line time in both directions.
    void setPaced(bool paced) { paced_ = paced; }
    // Another program holds the port: open() fails.
    void setBusy(bool busy) { busy_ = busy; }
    // The device goes on sending while the program has the port closed, as a
    // real controller does: what arrives meanwhile is lost, what arrives after
    // the next open() is read. Off: a close forgets everything queued.
    void setSendsWhileClosed(bool on) { sendsWhileClosed_ = on; }
    // What sits between program and device; null for a plain line.
    void setTap(Tap* tap) { tap_ = tap; }

    bool open(const std::string& name) override;
    link::OpenFailure openFailure() const override { return openFailure_; }
    bool isOpen() const override { return open_; }
    void close() override;
    void setLine(const link::LineSettings& settings) override;
    void setTimeouts(const link::Timeouts& timeouts) override { timeouts_ = timeouts; }
    std::size_t read(std::uint8_t* buf, std::size_t n) override;
    std::size_t write(const std::uint8_t* data, std::size_t n) override;
    void purgeInput() override;
    void purgeOutput() override {}
    void interrupt() override { interrupted_ = true; }
    void resetInterrupt() override { interrupted_ = false; }

    // --- the device's side ---
    std::int64_t nowMs() { return clock_.nowMs(); }
    // Queues bytes towards the program; the first arrives delayMs from now
    // (or after bytes already queued), the rest follow at the line's pace.
    void send(const std::vector<std::uint8_t>& bytes, int delayMs = 0);
    // send() past the tap.
    void deliver(const std::vector<std::uint8_t>& bytes, int delayMs = 0);
    // Drops everything queued towards the program that has not arrived yet.
    void dropPending() { rx_.clear(); }
    // Drops what is queued to arrive after atMs (the device stopped sending then).
    void truncatePending(double atMs) {
        while (!rx_.empty() && rx_.back().atMs > atMs) rx_.pop_back();
    }
    // When the last byte queued towards the program arrives (now if none).
    double pendingUntilMs();
    // The far end closes the line at atMs (now when earlier): bytes queued to
    // arrive later are lost, and from then on reads get nothing and writes
    // return 0 and reach no device, until the program closes and reopens.
    void hangUp(double atMs = 0);
    bool hungUp() { return clock_.nowMs() >= hangUpAt_; }
    const link::LineSettings& settings() const { return settings_; }
    const link::Timeouts& timeouts() const { return timeouts_; }
    double byteTimeMs() const { return paced_ ? link::byteTimeMs(settings_) : 0.0; }

    // --- for tests ---
    const std::vector<Write>& writes() const { return writes_; }
    std::vector<std::uint8_t> written() const;  // all writes joined
    void clearWrites() { writes_.clear(); }

private:
    struct Pending {
        double atMs;
        std::uint8_t byte;
    };
    // Sleeps until t, in short slices; false when interrupted on the way.
    bool waitUntil(double t);

    link::Clock& clock_;
    Device& device_;
    Tap* tap_ = nullptr;
    std::string portName_;
    bool paced_ = false;
    bool busy_ = false;
    bool sendsWhileClosed_ = false;
    link::OpenFailure openFailure_ = link::OpenFailure::None;
    bool open_ = false;
    std::atomic<bool> interrupted_{false};
    double hangUpAt_ = 1e300;
    link::LineSettings settings_;
    link::Timeouts timeouts_;
    std::deque<Pending> rx_;
    std::vector<Write> writes_;
};

}  // namespace kelvane::sim
