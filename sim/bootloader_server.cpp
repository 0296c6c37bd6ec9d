// orva_bootloader_sim: the simulated controller and bootloader of Orva on a
// pty or a serial device, for end-to-end tests and the benchmark. Its options
// are explained by --help (kHelp below).
#include "sim/bootloader_model.h"
#include "sim/server_options.h"

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

const char* const kUsage =
    "usage: orva_bootloader_sim (--pty-link PATH | --port PATH) [--pace [BAUD]] [--dump FILE]\n"
    "       [--latency-ms N] [--identity reply|silent|wrong] [--banner both|upper|wrong|none]\n";

const char* const kHelp =
    "Serves the simulated Orva controller and its bootloader, for Orva_Upgrade,\n"
    "kvtool flash, the end-to-end tests and the benchmark.\n\n"
    "Options:\n";

const char* const kOwnHelp =
    "  --flash-out FILE  the same as --dump\n"
    "  --identity reply|silent|wrong\n"
    "                    how the controller answers the identity request: as an Orva\n"
    "                    (default), not at all, or as another device type\n"
    "  --banner both|upper|wrong|none\n"
    "                    what the bootloader sends after the reset: its boot banner\n"
    "                    then the lower-case one (default), only the upper-case one,\n"
    "                    another device's banner, or nothing\n\n"
    "Pacing: before the reset the controller's line (default 2400 baud, 8N2; BAUD\n"
    "replaces it), after it the bootloader's line at 57,600 baud 8N1. Answers go\n"
    "out as soon as a frame has fully arrived (plus --latency-ms).\n"
    "--dump writes the programmed flash when the run ends.\n\n"
    "Prints \"ready\" once the port is open and, when the end byte has come (or\n"
    "the far end hangs up), one line \"ended=<0|1> blocks=N frames=N bad=N\n"
    "wakeups=N resets=N\", then exits: 0 when the end byte came, 3 otherwise,\n"
    "1 when the port cannot be opened, 2 on a usage error.\n";

int usage() {
    std::fputs(kUsage, stderr);
    std::fputs("orva_bootloader_sim --help explains every option.\n", stderr);
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
    kelvane::sim::ServerOptions options;
    kelvane::sim::BootloaderScript script;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        const kelvane::sim::OptionResult shared = kelvane::sim::readSharedOption(argc, argv, i, options);
        if (shared == kelvane::sim::OptionResult::Bad) return usage();
        if (shared == kelvane::sim::OptionResult::Taken) continue;
        if (a == "--flash-out") {
            options.dump = value();
        } else if (a == "--identity") {
            std::string v = value();
            if (v == "reply")
                script.identity = kelvane::sim::BootloaderScript::Identity::Reply;
            else if (v == "silent")
                script.identity = kelvane::sim::BootloaderScript::Identity::Silent;
            else if (v == "wrong")
                script.identity = kelvane::sim::BootloaderScript::Identity::WrongType;
            else
                return usage();
        } else if (a == "--banner") {
            std::string v = value();
            if (v == "both")
                script.banner = kelvane::sim::BootloaderScript::Banner::BootThenLower;
            else if (v == "upper")
                script.banner = kelvane::sim::BootloaderScript::Banner::UpperOnly;
            else if (v == "wrong")
                script.banner = kelvane::sim::BootloaderScript::Banner::WrongType;
            else if (v == "none")
                script.banner = kelvane::sim::BootloaderScript::Banner::None;
            else
                return usage();
        } else {
            return usage();
        }
    }
    if (options.help) {
        std::printf("%s%s%s%s", kUsage, kHelp, kelvane::sim::kSharedOptionsHelp, kOwnHelp);
        return 0;
    }
    if (options.port.empty() == options.ptyLink.empty()) return usage();
    const bool pace = options.pace;
    const int controllerBaud = options.baud > 0 ? options.baud : 2400;
    const std::int64_t latencyNs = static_cast<std::int64_t>(options.latencyMs) * 1000000;

    int keepSlave = -1;  // holds the tool's end open, so no hang-up shows before the tool comes
    const int fd = kelvane::sim::openServedPort(options, "orva_bootloader_sim", keepSlave);
    if (fd < 0) return 1;
    prctl(PR_SET_TIMERSLACK, 1UL);  // paced answers need sub-0.1 ms wake-ups

    kelvane::sim::BootloaderModel model(script);
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
                const bool firmware = model.mode() == kelvane::sim::BootloaderModel::Mode::Firmware;
                const std::int64_t byteNs = firmware ? 1000000000LL * 11 / controllerBaud : 1000000000LL * 10 / 57600;
                lineFreeNs = std::max(lineFreeNs, readNs) + byteNs;
            }
            auto answer = model.feed(buf[i]);
            if (!answer.empty()) {
                // On the line once the frame has arrived (paced), in the
                // program's hands an adapter's latency later.
                const std::int64_t outNs = pace ? lineFreeNs : readNs;
                if (pace || latencyNs > 0) sleepUntilNs(outNs + latencyNs);
                writeAll(fd, answer);
            }
        }
        if (p.revents & (POLLHUP | POLLERR)) hungUp = true;
    }
    // Leave the last answers time to reach the tool before the pty goes away.
    if (options.ptyLink.empty()) tcdrain(fd);

    if (!options.dump.empty()) {
        if (std::FILE* f = std::fopen(options.dump.c_str(), "wb")) {
            std::fwrite(model.flash().data(), 1, model.flash().size(), f);
            std::fclose(f);
        }
    }
    std::printf("ended=%d blocks=%d frames=%d bad=%d wakeups=%d resets=%d\n", model.ended() ? 1 : 0,
                model.blocksAccepted(), model.frames(), model.badChecks(), model.wakeUps(), model.resetRequests());
    std::fflush(stdout);
    kelvane::sim::closeServedPort(options, fd, keepSlave);
    return model.ended() ? 0 : 3;
}
