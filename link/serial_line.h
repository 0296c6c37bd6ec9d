#pragma once
// The serial line as every protocol of both programs sees it: a port opened
// exclusively by name, its line settings and time-outs, blocking reads and
// writes that report how many bytes they moved, and purges. Implementations:
// QtSerialLine on a real port (or a pty), link::NetLine to a serial-over-IP
// gateway, and sim::VirtualLine, which runs against a simulated device in
// virtual time.
#include "link/open_failure.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelvane::link {

enum class StopBits { One, Two };

// The fields setLine() changes. Everything else the port driver holds, flow
// control among it, stays as the driver has it; so do the parity mode and the
// DTR line when their set flags are off.
struct LineSettings {
    int baud = 2400;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;
    bool parityCheck = false;  // parity checking of received bytes
    bool setParity = true;     // parity mode none; false: the mode stays as the port has it
    bool dtr = false;
    bool setDtr = true;  // false: the DTR line stays as the port has it
};

// Time-outs in milliseconds. A read of n bytes returns when n bytes have
// arrived, when more than readInterval passes between two received bytes, or
// after readTotal(n) in all, with whatever arrived by then (possibly nothing).
struct Timeouts {
    int readInterval = 100;
    int readTotalMultiplier = 100;
    int readTotalConstant = 100;
    int writeTotalMultiplier = 100;
    int writeTotalConstant = 500;

    int readTotal(std::size_t n) const { return readTotalMultiplier * static_cast<int>(n) + readTotalConstant; }
};

class Line {
public:
    virtual ~Line() = default;

    // Opens the named port for exclusive use; false when it does not exist,
    // is held by someone else or cannot be opened.
    virtual bool open(const std::string& name) = 0;
    virtual bool isOpen() const = 0;
    // Why the last open() failed; None after one that succeeded.
    virtual OpenFailure openFailure() const { return OpenFailure::Unknown; }
    virtual void close() = 0;
    // What ended the line since it opened (a gateway that closed or refused a
    // setting); None while it works and on a serial port.
    virtual LineFault fault() const { return LineFault::None; }

    virtual void setLine(const LineSettings& settings) = 0;
    virtual void setTimeouts(const Timeouts& timeouts) = 0;

    // Blocking read of up to n bytes under the time-out rule; returns the count.
    virtual std::size_t read(std::uint8_t* buf, std::size_t n) = 0;
    // Blocking write; returns the count written.
    virtual std::size_t write(const std::uint8_t* data, std::size_t n) = 0;

    virtual void purgeInput() = 0;   // discard bytes received and not yet read
    virtual void purgeOutput() = 0;  // discard bytes not yet sent

    // Thread-safe: makes a blocking read or write in progress, and every later
    // one until resetInterrupt(), return at once (a read with what it has, a
    // write with 0). Lets a Stop or Cancel end a worker without waiting out a
    // time-out.
    virtual void interrupt() = 0;
    virtual void resetInterrupt() = 0;
};

// Time as the protocols see it, so tests can run every pause and time-out in
// virtual time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t nowMs() = 0;
    virtual void sleepMs(int ms) = 0;
};

// The wall clock (steady, monotonic).
Clock& systemClock();

// Milliseconds one character takes on the line: start bit, data bits, stop bits.
inline double byteTimeMs(const LineSettings& s) {
    int bits = 1 + s.dataBits + (s.stopBits == StopBits::Two ? 2 : 1);
    return 1000.0 * bits / s.baud;
}

}  // namespace kelvane::link
