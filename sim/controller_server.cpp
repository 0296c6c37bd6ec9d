// kelvane_sim: serves the simulated controller on a serial device or one end
// of a pty pair, for end-to-end tests and trying KelvaneMini without hardware.
//
//   socat pty,raw,echo=0,link=/tmp/kv-app pty,raw,echo=0,link=/tmp/kv-dev &
//   kelvane_sim --port /tmp/kv-dev --paced --dump /tmp/kv-image.bin
//   (KelvaneMini opens /tmp/kv-app)
//
// Options:
//   --port PATH        the device to serve (required; --pty is the same)
//   --baud N           line speed for --paced (default 2400, 8N1)
//   --paced            bytes take their line time in both directions (a pty
//                      moves them at once otherwise)
//   --image FILE       the controller's image (16,384 bytes; default: a sample
//                      building when built with the image library, else all 0xFF)
//   --dump FILE        written after every completed upload and on exit
//   --identity HEX     the 8-byte probe answer, e.g. 0001341203010000
//   --fault NAME[=N]   silent, probe-bytes=N, probe-chunk=N, drop-every=N,
//                      garble-every=N, last-first, scrambled, repeat,
//                      stray-index=N, delay=MS, frame-gap=MS, frames=N,
//                      acks=N, hang-up-after=N
// Prints "ready" once the port is open. Ends on SIGINT/SIGTERM, when the far
// end goes away, or after a hang-up fault.
#include "sim/controller.h"
#ifdef KELVANE_SIM_SAMPLE
#include "image/sample_building.h"
#endif

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <string>

namespace {

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

double nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

bool parseFault(const std::string& arg, sim::ControllerFaults& f) {
    const auto eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const int n = eq == std::string::npos ? 0 : std::atoi(arg.c_str() + eq + 1);
    using Order = sim::ControllerFaults::Order;
    if (name == "silent") f.silent = true;
    else if (name == "probe-bytes") f.probeBytes = n;
    else if (name == "probe-chunk") f.probeChunk = n;
    else if (name == "drop-every") f.dropEvery = n;
    else if (name == "garble-every") f.garbleEvery = n;
    else if (name == "last-first") f.order = Order::LastFirst;
    else if (name == "scrambled") f.order = Order::Scrambled;
    else if (name == "repeat") f.repeatFrames = true;
    else if (name == "stray-index") f.strayIndex = n;
    else if (name == "delay") f.answerDelayMs = n;
    else if (name == "frame-gap") f.frameGapMs = n;
    else if (name == "frames") f.framesToSend = n;
    else if (name == "acks") f.acksToSend = n;
    else if (name == "hang-up-after") f.hangUpAfter = n;
    else return false;
    return true;
}

bool parseIdentity(const std::string& hex, sim::Controller::Identity& id) {
    if (hex.size() != 16) return false;
    for (std::size_t i = 0; i < 8; ++i) {
        char* end = nullptr;
        const std::string two = hex.substr(2 * i, 2);
        const long v = std::strtol(two.c_str(), &end, 16);
        if (*end) return false;
        id[i] = static_cast<std::uint8_t>(v);
    }
    return true;
}

void dump(const std::string& path, const sim::Controller::Image& image) {
    if (path.empty()) return;
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    std::rename(tmp.c_str(), path.c_str());
}

int usage() {
    std::cerr << "usage: kelvane_sim --port PATH [--baud N] [--paced] [--image FILE] [--dump FILE]"
                 " [--identity HEX16] [--fault NAME[=N]]...\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string port, imagePath, dumpPath;
    int baud = 2400;
    bool paced = false;
    sim::Controller::Image image;
    image.fill(0xFF);
#ifdef KELVANE_SIM_SAMPLE
    image = kelvane::SampleBuildingImage();
#endif
    sim::Controller controller(image);
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if ((a == "--port" || a == "--pty") && hasValue) port = argv[++i];
        else if (a == "--baud" && hasValue) baud = std::max(1, std::atoi(argv[++i]));
        else if (a == "--paced") paced = true;
        else if (a == "--image" && hasValue) imagePath = argv[++i];
        else if (a == "--dump" && hasValue) dumpPath = argv[++i];
        else if (a == "--identity" && hasValue) {
            sim::Controller::Identity id;
            if (!parseIdentity(argv[++i], id)) return usage();
            controller.setIdentity(id);
        } else if (a == "--fault" && hasValue) {
            if (!parseFault(argv[++i], controller.faults())) return usage();
        } else return usage();
    }
    if (port.empty()) return usage();
    if (!imagePath.empty()) {
        std::ifstream in(imagePath, std::ios::binary);
        in.read(reinterpret_cast<char*>(controller.image().data()), static_cast<std::streamsize>(image.size()));
        if (in.gcount() != static_cast<std::streamsize>(image.size())) {
            std::cerr << "kelvane_sim: " << imagePath << " is not a 16384-byte image\n";
            return 2;
        }
    }

    const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::perror(port.c_str());
        return 1;
    }
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    std::cout << "ready" << std::endl;

    const double byteMs = paced ? 10000.0 / baud : 0.0;  // start + 8 data + stop bits
    struct Out {
        double at;
        std::uint8_t byte;
    };
    std::deque<Out> out;
    double inputDone = 0;   // when the bytes received so far have fully arrived
    double outputDone = 0;  // when the last queued byte goes out
    bool hangUp = false;

    while (!g_stop) {
        const double now = nowMs();
        while (!out.empty() && out.front().at <= now) {
            std::uint8_t buf[512];
            std::size_t n = 0;
            while (!out.empty() && out.front().at <= now && n < sizeof buf) {
                buf[n++] = out.front().byte;
                out.pop_front();
            }
            std::size_t done = 0;
            while (done < n) {
                const ssize_t w = ::write(fd, buf + done, n - done);
                if (w > 0) done += static_cast<std::size_t>(w);
                else if (w < 0 && errno != EAGAIN && errno != EINTR) break;
                else ::usleep(1000);
            }
        }
        if (hangUp && out.empty()) break;

        int timeout = 10;
        if (!out.empty()) timeout = static_cast<int>(std::max(0.0, std::min(10.0, out.front().at - now)));
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, timeout);
        if (r < 0 && errno != EINTR) break;
        if (r > 0 && (p.revents & POLLIN)) {
            std::uint8_t in[256];
            const ssize_t got = ::read(fd, in, sizeof in);
            if (got <= 0) {
                if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                break;  // the far end went away
            }
            const double t = nowMs();
            inputDone = std::max(inputDone, t) + got * byteMs;
            const int uploadsBefore = controller.uploadsCompleted();
            sim::Controller::Answer a = controller.feed(in, static_cast<std::size_t>(got));
            double at = std::max(inputDone, std::max(outputDone, t));
            for (const auto& piece : a.pieces) {
                at += piece.gapMs;
                for (auto b : piece.bytes) {
                    at += byteMs;
                    out.push_back({at, b});
                }
            }
            outputDone = at;
            hangUp = hangUp || a.hangUp;
            if (controller.uploadsCompleted() != uploadsBefore) dump(dumpPath, controller.image());
        } else if (r > 0 && (p.revents & (POLLHUP | POLLERR))) {
            break;  // the pty pair is gone
        }
    }
    ::close(fd);
    dump(dumpPath, controller.image());
    return 0;
}
