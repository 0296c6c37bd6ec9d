#pragma once
// A line someone else owns and keeps alive, passed on call for call, which
// notes whether the last read brought anything. Lets code that opens and
// closes a port of its own run on one line that outlives those closes (a
// simulated controller's state, what is still on the wire), and tells a
// silent far end from one that answered.
#include "link/serial_line.h"

#include <atomic>

namespace kelvane::link {

class WatchedLine : public Line {
public:
    explicit WatchedLine(Line& line) : line_(line) {}

    // Whether the last read returned nothing (false before any read).
    bool lastReadEmpty() const { return lastReadEmpty_; }

    bool open(const std::string& name) override { return line_.open(name); }
    bool isOpen() const override { return line_.isOpen(); }
    OpenFailure openFailure() const override { return line_.openFailure(); }
    LineFault fault() const override { return line_.fault(); }
    void close() override { line_.close(); }
    void setLine(const LineSettings& s) override { line_.setLine(s); }
    void setTimeouts(const Timeouts& t) override { line_.setTimeouts(t); }
    std::size_t read(std::uint8_t* buf, std::size_t n) override {
        const std::size_t got = line_.read(buf, n);
        lastReadEmpty_ = got == 0;
        return got;
    }
    std::size_t write(const std::uint8_t* data, std::size_t n) override { return line_.write(data, n); }
    void purgeInput() override { line_.purgeInput(); }
    void purgeOutput() override { line_.purgeOutput(); }
    void interrupt() override { line_.interrupt(); }
    void resetInterrupt() override { line_.resetInterrupt(); }

private:
    Line& line_;
    std::atomic<bool> lastReadEmpty_{false};
};

}  // namespace kelvane::link
