#pragma once
// Low latency on serial adapters. A USB adapter holds the bytes it receives
// until its latency timer runs out (16 ms by default) before it passes them
// on; a protocol that waits for a one-byte answer after every frame pays that
// on every frame. On Linux the driver's ASYNC_LOW_LATENCY flag (TIOCGSERIAL /
// TIOCSSERIAL) asks it to pass bytes on at once (the FTDI driver then sets
// the adapter's timer to 1 ms). ptys and some drivers refuse the flag, which
// changes nothing.
#include <functional>
#include <utility>

namespace kelvane::link {

// The driver's serial flags of an open device, read and written; false
// where the driver refuses.
struct SerialFlagsAccess {
    std::function<bool(int fd, int& flags)> get;
    std::function<bool(int fd, int flags)> set;
};

// The system's own (Linux); elsewhere every call is refused.
SerialFlagsAccess driverSerialFlags();

// The low-latency flag among the driver's serial flags.
extern const int kLowLatencyFlag;

// Sets the flag on an open device and takes it off again before the device
// is closed. Failures are ignored: the line works as before, only slower.
class LowLatency {
public:
    explicit LowLatency(SerialFlagsAccess access = driverSerialFlags()) : access_(std::move(access)) {}
    // One owner takes the flag off: a copy would take it off twice, the
    // second time from whatever file then holds the descriptor's number.
    LowLatency(const LowLatency&) = delete;
    LowLatency& operator=(const LowLatency&) = delete;

    // True when the flag was set now (false: refused, or already set, so
    // there is nothing to take off later).
    bool enable(int fd);
    // Takes off what enable() set; nothing otherwise.
    void restore();

private:
    SerialFlagsAccess access_;
    int fd_ = -1;
};

}  // namespace kelvane::link
