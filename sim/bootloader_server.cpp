// orva_bootloader_sim: the simulated controller and bootloader on a serial
// device or one end of a pty pair, for end-to-end tests and the benchmark.
//
//   orva_bootloader_sim (--port PATH | --pty-link PATH) [--pace]
//                       [--identity reply|silent|wrong]
//                       [--banner both|upper|wrong|none] [--flash-out FILE]
//
// --port opens an existing device (one end of a socat pair); --pty-link makes
// a pty of its own and links PATH to the end the tool opens, which spares the
// relay through socat (the benchmark uses it). It prints "ready" once the port
// is open and, when the end byte has come (or
// the far end hangs up), one line "ended=<0|1> blocks=N frames=N bad=N
// wakeups=N resets=N" and exits. With --pace every byte from the tool takes its
// line time (2400 baud 8N2 before the reset, 57,600 8N1 after it), so a pty
// behaves like a real line; answers go out as soon as a frame is complete.
#include "sim/bootloader_model.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::int64_t nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Sleeps to 0.2 ms before t, then spins: a paced answer must leave on time,
// not a scheduler wake-up later (a real controller answers in hardware time).
void sleepUntilNs(std::int64_t t) {
    const std::int64_t early = t - 200000;
    if (early > nowNs()) {
        timespec ts{static_cast<time_t>(early / 1000000000), static_cast<long>(early % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }
    while (nowNs() < t) {
    }
}

int usage() {
    std::fprintf(stderr,
                 "usage: orva_bootloader_sim (--port PATH | --pty-link PATH) [--pace]\n"
                 "       [--identity reply|silent|wrong]\n"
                 "       [--banner both|upper|wrong|none] [--flash-out FILE]\n");
    return 2;
}

void writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
        } else if (w < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string port, ptyLink, flashOut;
    bool pace = false;
    sim::BootloaderScript script;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (a == "--port") {
            port = value();
        } else if (a == "--pty-link") {
            ptyLink = value();
        } else if (a == "--pace") {
            pace = true;
        } else if (a == "--flash-out") {
            flashOut = value();
        } else if (a == "--identity") {
            std::string v = value();
            if (v == "reply") script.identity = sim::BootloaderScript::Identity::Reply;
            else if (v == "silent") script.identity = sim::BootloaderScript::Identity::Silent;
            else if (v == "wrong") script.identity = sim::BootloaderScript::Identity::WrongType;
            else return usage();
        } else if (a == "--banner") {
            std::string v = value();
            if (v == "both") script.banner = sim::BootloaderScript::Banner::BootThenLower;
            else if (v == "upper") script.banner = sim::BootloaderScript::Banner::UpperOnly;
            else if (v == "wrong") script.banner = sim::BootloaderScript::Banner::WrongType;
            else if (v == "none") script.banner = sim::BootloaderScript::Banner::None;
            else return usage();
        } else {
            return usage();
        }
    }
    if (port.empty() == ptyLink.empty()) return usage();

    int fd = -1;
    int keepSlave = -1;  // holds the tool's end open, so no hang-up shows before the tool comes
    if (!ptyLink.empty()) {
        fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
            std::fprintf(stderr, "orva_bootloader_sim: cannot make a pty: %s\n", std::strerror(errno));
            return 1;
        }
        const std::string slave = ::ptsname(fd);
        keepSlave = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
        termios tio{};
        if (keepSlave >= 0 && tcgetattr(keepSlave, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(keepSlave, TCSANOW, &tio);
        }
        ::unlink(ptyLink.c_str());
        if (::symlink(slave.c_str(), ptyLink.c_str()) != 0) {
            std::fprintf(stderr, "orva_bootloader_sim: cannot link %s: %s\n", ptyLink.c_str(), std::strerror(errno));
            return 1;
        }
    } else {
        fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            std::fprintf(stderr, "orva_bootloader_sim: cannot open %s: %s\n", port.c_str(), std::strerror(errno));
            return 1;
        }
        termios tio{};
        if (tcgetattr(fd, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd, TCSANOW, &tio);
        }
    }
    prctl(PR_SET_TIMERSLACK, 1UL);  // paced answers need sub-0.1 ms wake-ups

    sim::BootloaderModel model(script);
    std::printf("ready\n");
    std::fflush(stdout);

    std::int64_t lineFreeNs = 0;  // when the last byte from the tool has fully arrived
    std::uint8_t buf[512];
    bool hungUp = false;
    while (!model.ended() && !hungUp) {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, 1000);
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
            hungUp = true;
            break;
        }
        const std::int64_t readNs = nowNs();
        for (ssize_t i = 0; i < n && !model.ended(); ++i) {
            if (pace) {
                const bool firmware = model.mode() == sim::BootloaderModel::Mode::Firmware;
                const std::int64_t byteNs = firmware ? 1000000000LL * 11 / 2400 : 1000000000LL * 10 / 57600;
                lineFreeNs = std::max(lineFreeNs, readNs) + byteNs;
            }
            auto answer = model.feed(buf[i]);
            if (!answer.empty()) {
                if (pace) sleepUntilNs(lineFreeNs);
                writeAll(fd, answer);
            }
        }
        if (p.revents & (POLLHUP | POLLERR)) hungUp = true;
    }
    // Leave the last answers time to reach the tool before the pty goes away.
    if (ptyLink.empty()) tcdrain(fd);

    if (!flashOut.empty()) {
        if (std::FILE* f = std::fopen(flashOut.c_str(), "wb")) {
            std::fwrite(model.flash().data(), 1, model.flash().size(), f);
            std::fclose(f);
        }
    }
    std::printf("ended=%d blocks=%d frames=%d bad=%d wakeups=%d resets=%d\n", model.ended() ? 1 : 0,
                model.blocksAccepted(), model.frames(), model.badChecks(), model.wakeUps(), model.resetRequests());
    std::fflush(stdout);
    ::close(fd);
    if (keepSlave >= 0) ::close(keepSlave);
    if (!ptyLink.empty()) ::unlink(ptyLink.c_str());
    return model.ended() ? 0 : 3;
}
