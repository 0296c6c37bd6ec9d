#include "sim/server_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace kelvane::sim {

const char* const kSharedOptionsHelp =
    "  --pty-link PATH   make a pty and link PATH to the end the program under test\n"
    "                    opens (removed at the end)\n"
    "  --port PATH       serve an existing device instead, e.g. one end of a socat pair\n"
    "                    (exactly one of --pty-link and --port)\n"
    "  --pace [BAUD]     every byte takes its line time, as on a real line; BAUD\n"
    "                    sets the line's speed (default below); without --pace a pty\n"
    "                    moves bytes at once\n"
    "  --dump FILE       write what the device holds to FILE (see below)\n"
    "  --latency-ms N    every answer reaches the program N ms after it would\n"
    "                    otherwise, as through a USB-serial adapter, which holds the\n"
    "                    bytes it receives until its latency timer runs out (16 ms\n"
    "                    by default, 1 ms in low-latency mode); default 0\n"
    "  --help            this text\n";

namespace {
void makeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
}
}  // namespace

OptionResult readSharedOption(int argc, char** argv, int& i, ServerOptions& options) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--help" || a == "-h") {
        options.help = true;
    } else if (a == "--pty-link") {
        if (!hasValue) return OptionResult::Bad;
        options.ptyLink = argv[++i];
    } else if (a == "--port") {
        if (!hasValue) return OptionResult::Bad;
        options.port = argv[++i];
    } else if (a == "--dump") {
        if (!hasValue) return OptionResult::Bad;
        options.dump = argv[++i];
    } else if (a == "--pace") {
        options.pace = true;
        if (hasValue && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9') {
            const int baud = std::atoi(argv[++i]);
            if (baud <= 0) return OptionResult::Bad;
            options.baud = baud;
        }
    } else if (a == "--latency-ms") {
        if (!hasValue) return OptionResult::Bad;
        char* end = nullptr;
        const long ms = std::strtol(argv[++i], &end, 10);
        if (end == argv[i] || *end || ms < 0 || ms > 60000) return OptionResult::Bad;
        options.latencyMs = static_cast<int>(ms);
    } else {
        return OptionResult::NotShared;
    }
    return OptionResult::Taken;
}

int openServedPort(const ServerOptions& options, const char* program, int& keepFarEnd) {
    keepFarEnd = -1;
    if (options.ptyLink.empty()) {
        const int fd = ::open(options.port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            std::fprintf(stderr, "%s: cannot open %s: %s\n", program, options.port.c_str(), std::strerror(errno));
            return -1;
        }
        makeRaw(fd);
        return fd;
    }
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
        std::fprintf(stderr, "%s: cannot make a pty: %s\n", program, std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return -1;
    }
    const std::string farEnd = ::ptsname(fd);
    keepFarEnd = ::open(farEnd.c_str(), O_RDWR | O_NOCTTY);
    if (keepFarEnd >= 0) makeRaw(keepFarEnd);
    ::unlink(options.ptyLink.c_str());
    if (::symlink(farEnd.c_str(), options.ptyLink.c_str()) != 0) {
        std::fprintf(stderr, "%s: cannot link %s: %s\n", program, options.ptyLink.c_str(), std::strerror(errno));
        ::close(fd);
        if (keepFarEnd >= 0) ::close(keepFarEnd);
        return -1;
    }
    return fd;
}

void closeServedPort(const ServerOptions& options, int fd, int keepFarEnd) {
    ::close(fd);
    if (keepFarEnd >= 0) ::close(keepFarEnd);
    if (!options.ptyLink.empty()) ::unlink(options.ptyLink.c_str());
}

}  // namespace kelvane::sim
