#pragma once
// link::Line on QSerialPort: a real serial port, or one end of a pty pair.
//
// Threads: the QSerialPort is created inside open() on the calling thread and
// belongs to it. Every call except interrupt() and resetInterrupt() must come
// from that same thread, so a worker creates (or at least opens) the line on
// its own thread, uses it there and closes it there before it ends. The worker
// should be a QThread (QSerialPort's notifiers need one); it needs no running
// event loop, since reads and writes wait with waitForReadyRead /
// waitForBytesWritten. interrupt() may be called from any thread: a blocked
// read or write notices it within one wait slice (about 10 ms).
#include "link/low_latency.h"
#include "link/serial_line.h"

#include <atomic>
#include <memory>
#include <string>

class QSerialPort;

namespace kelvane::session {

class QtSerialLine : public link::Line {
public:
    // flags: how the driver's serial flags are read and written (the low
    // latency switch); the system's own unless a test records the calls.
    explicit QtSerialLine(link::SerialFlagsAccess flags = link::driverSerialFlags());
    ~QtSerialLine() override;
    QtSerialLine(const QtSerialLine&) = delete;
    QtSerialLine& operator=(const QtSerialLine&) = delete;

    // The name is kept as given: a path such as /dev/ttyUSB0 or /dev/pts/5, or
    // a system port name such as COM3 or ttyS0.
    bool open(const std::string& name) override;
    bool isOpen() const override;
    link::OpenFailure openFailure() const override { return openFailure_; }
    void close() override;

    void setLine(const link::LineSettings& settings) override;
    void setTimeouts(const link::Timeouts& timeouts) override { timeouts_ = timeouts; }

    std::size_t read(std::uint8_t* buf, std::size_t n) override;
    std::size_t write(const std::uint8_t* data, std::size_t n) override;
    void purgeInput() override;
    void purgeOutput() override;

    void interrupt() override { interrupted_ = true; }
    void resetInterrupt() override { interrupted_ = false; }

    // The longest single wait inside read() and write(), in ms.
    static constexpr int kSliceMs = 10;

private:
    std::unique_ptr<QSerialPort> port_;
    link::Timeouts timeouts_;
    link::OpenFailure openFailure_ = link::OpenFailure::None;
    link::LowLatency lowLatency_;
    std::atomic<bool> interrupted_{false};
};

}  // namespace kelvane::session
