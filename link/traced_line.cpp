#include "link/traced_line.h"

#include "image/local_time.h"

#include <chrono>
#include <cstdio>

namespace kelvane::link {
namespace {

std::int64_t steadyUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string traceBytes(const std::uint8_t* data, std::size_t n) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(n * 4 + 4);
    for (std::size_t i = 0; i < n; ++i) {
        if (i) text += ' ';
        text += kHex[data[i] >> 4];
        text += kHex[data[i] & 0xF];
    }
    text += "  |";
    for (std::size_t i = 0; i < n; ++i) text += (data[i] >= 0x20 && data[i] < 0x7F) ? static_cast<char>(data[i]) : '.';
    text += '|';
    return text;
}

TracedLine::TracedLine(std::unique_ptr<Line> inner, TraceOutput output, std::string program,
                       std::function<std::int64_t()> nowUs)
    : TracedLine(*inner, std::move(output), std::move(program), std::move(nowUs)) {
    owned_ = std::move(inner);
}

TracedLine::TracedLine(Line& inner, TraceOutput output, std::string program, std::function<std::int64_t()> nowUs)
    : inner_(&inner),
      output_(std::move(output)),
      program_(std::move(program)),
      nowUs_(nowUs ? std::move(nowUs) : std::function<std::int64_t()>(steadyUs)) {
    startUs_ = nowUs_();
}

TracedLine::~TracedLine() {
    flushHeld();
    endSession("ended with the port open");
}

void TracedLine::endSession(const char* how) {
    if (port_.empty()) return;
    char text[200];
    std::snprintf(text, sizeof text, "%s after %.1f s: %llu bytes written, %llu read, %llu reads short", how,
                  static_cast<double>(nowUs_() - openedUs_) / 1e6, bytesWritten_, bytesRead_, shortReads_);
    if (sessionLog_) sessionLog_("line session on " + port_ + " " + text);
    port_.clear();
}

void TracedLine::event(const std::string& text, bool hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (broken_ || !output_) return;
    char time[24];
    std::snprintf(time, sizeof time, "%12lld  ", static_cast<long long>(nowUs_() - startUs_));
    held_ += time + text + "\n";
    if (hold) return;
    try {
        if (!output_(held_)) broken_ = true;
    } catch (...) {
        broken_ = true;
    }
    held_.clear();
}

void TracedLine::flushHeld() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (held_.empty() || broken_ || !output_) return;
    try {
        if (!output_(held_)) broken_ = true;
    } catch (...) {
        broken_ = true;
    }
    held_.clear();
}

bool TracedLine::open(const std::string& name) {
    if (!headerDone_) {
        headerDone_ = true;
        std::lock_guard<std::mutex> lock(mutex_);
        const std::string header = "# Kelvane line trace\n# program: " + program_ + "\n# port: " + name +
                                   "\n# started: " + logTime() +
                                   "\n# time (us)  event; > written, < read: count, hex  |ASCII|\n";
        try {
            if (output_ && !output_(header)) broken_ = true;
        } catch (...) {
            broken_ = true;
        }
    }
    const bool ok = inner_->open(name);
    static const char* const kFailures[] = {"none", "no such port", "busy", "no permission", "unknown"};
    const auto failure = static_cast<std::size_t>(inner_->openFailure());
    const std::string outcome = ok ? std::string("ok") : std::string("failed, ") + kFailures[failure < 5 ? failure : 4];
    event("open " + name + ": " + outcome);
    endSession("ended by another opening");
    if (sessionLog_) sessionLog_("line session on " + name + " (" + program_ + "): open " + outcome);
    if (ok) {
        port_ = name;
        openedUs_ = nowUs_();
        bytesRead_ = bytesWritten_ = shortReads_ = 0;
    }
    return ok;
}

void TracedLine::close() {
    inner_->close();
    event("close");
    endSession("closed");
}

void TracedLine::setLine(const LineSettings& s) {
    inner_->setLine(s);
    char text[160];
    std::snprintf(text, sizeof text, "line %d baud, %d%s%s, parity check %s, DTR %s", s.baud, s.dataBits,
                  s.setParity ? "N" : "(parity as the port has it)", s.stopBits == StopBits::Two ? "2" : "1",
                  s.parityCheck ? "on" : "off", s.setDtr ? (s.dtr ? "on" : "off") : "as the port has it");
    event(text);
}

void TracedLine::setTimeouts(const Timeouts& t) {
    inner_->setTimeouts(t);
    char text[200];
    std::snprintf(
        text, sizeof text, "timeouts read interval %d ms, read total %d ms/byte + %d ms, write total %d ms/byte + %d ms",
        t.readInterval, t.readTotalMultiplier, t.readTotalConstant, t.writeTotalMultiplier, t.writeTotalConstant);
    event(text);
}

void TracedLine::bytes(char direction, const std::uint8_t* data, std::size_t n, std::size_t asked) {
    std::string text(1, direction);
    text += ' ' + std::to_string(n);
    if (n < asked) text += " of " + std::to_string(asked);
    if (n) text += "  " + traceBytes(data, n);
    // A read is usually followed at once by the write that answers it: its
    // line waits for that write's, so the answer does not wait for the file.
    event(text, direction == '<');
}

std::size_t TracedLine::read(std::uint8_t* buf, std::size_t n) {
    flushHeld();  // before the wait, not after it
    const std::size_t got = inner_->read(buf, n);
    bytesRead_ += got;
    if (got > 0 && got < n) ++shortReads_;
    bytes('<', buf, got, n);
    return got;
}

std::size_t TracedLine::write(const std::uint8_t* data, std::size_t n) {
    const std::size_t put = inner_->write(data, n);
    bytesWritten_ += put;
    bytes('>', data, put, n);
    return put;
}

void TracedLine::purgeInput() {
    inner_->purgeInput();
    event("purge input");
}

void TracedLine::purgeOutput() {
    inner_->purgeOutput();
    event("purge output");
}

void TracedLine::interrupt() {
    inner_->interrupt();
    event("interrupt");
}

}  // namespace kelvane::link
