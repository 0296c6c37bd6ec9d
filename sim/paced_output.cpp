#include "sim/paced_output.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <poll.h>
#include <unistd.h>

namespace kelvane::sim {

std::int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleepUntilNs(std::int64_t t) {
    const std::int64_t early = t - 200000;
    if (early > monotonicNs()) {
        timespec ts{static_cast<time_t>(early / 1000000000), static_cast<long>(early % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }
    while (monotonicNs() < t) {
    }
}

std::int64_t PacedOutput::queue(const Controller::Answer& answer, std::int64_t startNs, std::int64_t byteNs,
                                std::int64_t latencyNs) {
    std::int64_t at = std::max(startNs, lineDoneNs_);
    for (const auto& piece : answer.pieces) {
        at += static_cast<std::int64_t>(piece.gapMs) * 1000000;
        for (std::uint8_t b : piece.bytes) {
            at += byteNs;
            out_.push_back({at + latencyNs, b});
        }
    }
    lineDoneNs_ = at;
    return at + latencyNs;
}

void PacedOutput::queueAt(std::int64_t atNs, const std::vector<std::uint8_t>& bytes) {
    for (std::uint8_t b : bytes) out_.push_back({atNs, b});
}

bool PacedOutput::writeDue(int fd, std::int64_t nowNs) {
    while (!out_.empty() && out_.front().atNs <= nowNs) {
        std::uint8_t buf[512];
        std::size_t n = 0;
        while (n < sizeof buf && n < out_.size() && out_[n].atNs <= nowNs) {
            buf[n] = out_[n].byte;
            ++n;
        }
        std::size_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(fd, buf + done, n - done);
            if (w > 0) {
                done += static_cast<std::size_t>(w);
            } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else {
                return false;
            }
        }
        out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return true;
}

ServeEnd servePort(int fd, PacedOutput& out, const ServeHooks& hooks, const volatile std::sig_atomic_t* stop) {
    bool done = false;
    std::int64_t lastIdle = 0;
    while (!(stop && *stop)) {
        std::int64_t now = monotonicNs();
        if (!out.writeDue(fd, now)) return ServeEnd::HungUp;
        if (hooks.idle && now - lastIdle >= 10000000) {
            lastIdle = now;
            done = !hooks.idle(now) || done;
        }
        if (done && out.empty()) return ServeEnd::Done;
        int timeoutMs = 100;
        if (!out.empty()) {
            const std::int64_t wait = out.nextDueNs() - now;
            if (wait < 5000000) {  // due within a byte's time at 2400 baud: wait here, to the microsecond
                sleepUntilNs(out.nextDueNs());
                continue;
            }
            timeoutMs = static_cast<int>(std::min<std::int64_t>(wait / 1000000, 100));
        }
        if (hooks.idle) timeoutMs = std::min(timeoutMs, 10);
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno != EINTR) return ServeEnd::HungUp;
        if (r <= 0) continue;
        if (p.revents & POLLIN) {
            std::uint8_t buf[512];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n <= 0) return ServeEnd::HungUp;
            if (!hooks.received(buf, static_cast<std::size_t>(n), monotonicNs())) done = true;
        } else if (p.revents & (POLLHUP | POLLERR)) {
            return ServeEnd::HungUp;
        }
    }
    return ServeEnd::Stopped;
}

void writeDump(const std::string& path, const std::uint8_t* data, std::size_t size) {
    if (path.empty()) return;
    const std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::rename(tmp.c_str(), path.c_str());
}

bool readPrefix(const std::string& path, std::uint8_t* data, std::size_t size) {
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(size));
    return in.gcount() == static_cast<std::streamsize>(size);
}

}  // namespace kelvane::sim
