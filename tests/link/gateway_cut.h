#pragma once
// A line that ends as a gateway's does: the first read after `cutAfter` bytes
// read on one opening ends it, nothing more comes or goes, and the line names
// `fault` as its end
// (a gateway that closed, stopped answering or refused a setting). With
// LineFault::None it is a serial port whose controller fell silent. Reads
// after the cut still wait on the inner line, so its time passes as it would.
#include "link/serial_line.h"

#include <atomic>
#include <vector>

namespace linktest {

class GatewayCut : public kelvane::link::Line {
public:
    GatewayCut(kelvane::link::Line& line, long cutAfter, kelvane::link::LineFault fault)
        : line_(line), cutAfter_(cutAfter), fault_(fault) {}

    bool open(const std::string& name) override {
        read_ = 0;
        cut_ = false;
        return line_.open(name);
    }
    bool isOpen() const override { return line_.isOpen(); }
    kelvane::link::OpenFailure openFailure() const override { return line_.openFailure(); }
    kelvane::link::LineFault fault() const override { return cut_ ? fault_ : kelvane::link::LineFault::None; }
    void close() override { line_.close(); }
    void setLine(const kelvane::link::LineSettings& s) override { line_.setLine(s); }
    void setTimeouts(const kelvane::link::Timeouts& t) override { line_.setTimeouts(t); }
    std::size_t read(std::uint8_t* buf, std::size_t n) override {
        if (read_ >= cutAfter_) cut_ = true;
        if (cut_) {
            std::vector<std::uint8_t> lost(n);
            line_.read(lost.data(), n);
            return 0;
        }
        const std::size_t got = line_.read(buf, n);
        read_ += static_cast<long>(got);
        return got;
    }
    std::size_t write(const std::uint8_t* data, std::size_t n) override { return cut_ ? 0 : line_.write(data, n); }
    void purgeInput() override { line_.purgeInput(); }
    void purgeOutput() override { line_.purgeOutput(); }
    void interrupt() override { line_.interrupt(); }
    void resetInterrupt() override { line_.resetInterrupt(); }

private:
    kelvane::link::Line& line_;
    const long cutAfter_;
    const kelvane::link::LineFault fault_;
    std::atomic<long> read_{0};
    std::atomic<bool> cut_{false};
};

}  // namespace linktest
