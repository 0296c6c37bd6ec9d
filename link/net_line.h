#pragma once
// link::Line to a serial-over-IP gateway (link/net_port.h names the ports):
// TCP, Telnet with the COM port option (RFC 2217) through libtelnet, TLS
// through OpenSSL. Qt-free.
//
// Opening connects within kConnectTimeoutMs and, for rfc2217, offers the COM
// port option and waits for the gateway to accept it; that exchange's time is
// the round trip the line measures (for socket://, the TCP connect's). Every
// read's total allowance and its interval allowance grow by that round trip
// (at most kMaxRoundTripMs), so an answer that crosses the network twice is
// still awaited as long as on a local port.
//
// setLine() sends what changed of the baud rate, data size, parity, stop size
// and DTR (when its flags say so) in one go and waits for the gateway to
// confirm each but DTR (which a gateway answers only where its device has the
// line, as a local pty ignores it), at most kConfirmTimeoutMs plus the round
// trip; a gateway that answers another
// value, or not at all, leaves the line's fault() set; every later write then
// moves nothing and every read waits out its time-out with nothing, as a
// silent serial line does. A purge discards what arrived here and asks
// the gateway to purge its buffer too (PURGE-DATA), awaited the same way.
// socket:// cannot change its line: setLine() is taken as the gateway's own
// (a job that needs another speed refuses such a port: link::hasFixedSpeed).
//
// close() gives the gateway the line time of what was written last plus a
// round trip to pass it on, as a serial port's close lets the driver send
// what it holds (at most kMaxDrainMs; at once after interrupt()).
//
// Threads: every call but interrupt() and resetInterrupt() from one thread;
// a blocked read or write notices interrupt() within kSliceMs.
#include "link/net_port.h"
#include "link/serial_line.h"

#include <atomic>
#include <memory>
#include <string>

namespace kelvane::link {

class NetLine : public Line {
public:
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int kConfirmTimeoutMs = 2000;
    static constexpr int kMaxRoundTripMs = 2000;
    static constexpr int kSliceMs = 10;
    static constexpr int kRetryMs = 100;  // between connects to a gateway that hung up at once
    // close(): the line time of what is still to go out, a round trip and this margin, at most kMaxDrainMs.
    static constexpr int kDrainMarginMs = 100;
    static constexpr int kMaxDrainMs = 3000;

    NetLine();
    ~NetLine() override;
    NetLine(const NetLine&) = delete;
    NetLine& operator=(const NetLine&) = delete;

    bool open(const std::string& name) override;
    bool isOpen() const override;
    // GatewayRefused for a line that opened but ended on a setting (OpenPort closes it).
    OpenFailure openFailure() const override {
        return openFailure_ == OpenFailure::None && fault_ != LineFault::None ? OpenFailure::GatewayRefused : openFailure_;
    }
    LineFault fault() const override { return fault_; }
    void close() override;

    void setLine(const LineSettings& settings) override;
    void setTimeouts(const Timeouts& timeouts) override { timeouts_ = timeouts; }
    std::size_t read(std::uint8_t* buf, std::size_t n) override;
    std::size_t write(const std::uint8_t* data, std::size_t n) override;
    void purgeInput() override;
    void purgeOutput() override;
    void interrupt() override { interrupted_ = true; }
    void resetInterrupt() override { interrupted_ = false; }

    // The round trip measured at open, in ms (0 before).
    int roundTripMs() const { return roundTripMs_; }
    // The settings the gateway confirmed last (rfc2217; what setLine() took for socket://).
    const LineSettings& confirmed() const { return confirmed_; }

private:
    struct Session;
    std::unique_ptr<Session> session_;
    Timeouts timeouts_;
    LineSettings confirmed_;
    OpenFailure openFailure_ = OpenFailure::None;
    LineFault fault_ = LineFault::None;
    int roundTripMs_ = 0;
    std::int64_t drainUntil_ = 0;  // steady ms when the gateway's line has sent all that was written
    std::atomic<bool> interrupted_{false};

    bool connectOnce(const NetAddress& address, std::int64_t start);
    bool pump(int waitMs);  // takes what arrived within waitMs; false once the connection is gone
    bool awaitReplies(int count, bool purging);
    bool flush();
    void fail(LineFault why);
};

}  // namespace kelvane::link
