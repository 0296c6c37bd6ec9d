#pragma once
// A serial line that writes down everything that passes: each chunk read or
// written (time since the start in microseconds, direction, the bytes in hex
// and as printable ASCII), every change of the line settings, DTR and the
// time-outs, opens, closes and purges. One text line per event, the port's
// name and the program's version at the top:
//
//   # Kelvane line trace
//   # program: kvtool 1.4.0
//   # port: /dev/ttyUSB0
//   # started: 2026-12-09 04:50:12
//   # time (us)  event; > written, < read: count, hex | ASCII |
//          1520  open /dev/ttyUSB0: ok
//          1601  line 2400 baud, 8N1, parity check off, DTR off
//          1702  > 8  44 65 62 4D 65 6D 36 A0  |DebMem6.|
//       3502810  < 34  00 00 ...  |..........|
//
// The trace never changes what the line does: a trace that cannot be written
// stops quietly and the session goes on. Nor does it slow an exchange down:
// the line of a read is handed to the output with the next call on the line
// (after the bytes of a write that answers it have gone out, in one piece
// with that write's line), or when the trace ends; every other event at once.
#include "link/serial_line.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kelvane::link {

// Takes one or more whole lines of text; false when it can take no more.
using TraceOutput = std::function<bool(const std::string& text)>;

class TracedLine : public Line {
public:
    // program: name and version for the header. nowUs: microseconds of some
    // steady clock (the wall clock's unless a test runs in virtual time).
    TracedLine(std::unique_ptr<Line> inner, TraceOutput output, std::string program,
               std::function<std::int64_t()> nowUs = {});
    // The same around a line someone else owns and keeps alive.
    TracedLine(Line& inner, TraceOutput output, std::string program, std::function<std::int64_t()> nowUs = {});
    ~TracedLine() override;

    bool open(const std::string& name) override;
    bool isOpen() const override { return inner_->isOpen(); }
    OpenFailure openFailure() const override { return inner_->openFailure(); }
    LineFault fault() const override { return inner_->fault(); }
    void close() override;
    void setLine(const LineSettings& settings) override;
    void setTimeouts(const Timeouts& timeouts) override;
    std::size_t read(std::uint8_t* buf, std::size_t n) override;
    std::size_t write(const std::uint8_t* data, std::size_t n) override;
    void purgeInput() override;
    void purgeOutput() override;
    void interrupt() override;
    void resetInterrupt() override { inner_->resetInterrupt(); }

    Line& inner() { return *inner_; }
    // Adds a line of its own to the trace (a tool's note: what it tests, what it found).
    void note(const std::string& text) { event(text); }
    // Called with one line as each opening of the port starts and as it ends
    // (closed, or the trace ended with the port open): how long it lasted,
    // what went each way and how many reads came back short. What a
    // program's log keeps of its line sessions.
    void setSessionLog(std::function<void(const std::string& text)> log) { sessionLog_ = std::move(log); }

private:
    // Adds a line; hold: keep it (and what is held already) for the next event.
    void event(const std::string& text, bool hold = false);
    void flushHeld();
    void bytes(char direction, const std::uint8_t* data, std::size_t n, std::size_t asked);
    void endSession(const char* how);

    std::unique_ptr<Line> owned_;
    Line* inner_;
    TraceOutput output_;
    std::string program_;
    std::function<std::int64_t()> nowUs_;
    std::int64_t startUs_ = 0;
    bool headerDone_ = false;
    bool broken_ = false;
    std::string held_;  // lines not yet handed to the output (a read's)
    std::mutex mutex_;  // interrupt() may come from another thread
    std::function<void(const std::string&)> sessionLog_;
    std::string port_;  // of the session under way; empty when none
    std::int64_t openedUs_ = 0;
    unsigned long long bytesRead_ = 0, bytesWritten_ = 0, shortReads_ = 0;
};

// The hex and ASCII columns of a chunk as the trace writes them:
// "44 65 62  |De b|" (bytes 0x20..0x7E as they are, others as '.').
std::string traceBytes(const std::uint8_t* data, std::size_t n);

}  // namespace kelvane::link
