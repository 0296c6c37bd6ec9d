// kelvane_sim: serves the simulated controller of KelvaneMini on a pty or a
// serial device, paced like the real line if asked, for the end-to-end tests,
// the benchmarks and trying the programs' real serial code without hardware.
// Its options are explained by --help (kHelp below).
#include "link/port.h"
#include "sim/controller.h"
#include "sim/paced_output.h"
#include "sim/server_options.h"
#include "sim/sample_building.h"

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

bool parseFault(const std::string& arg, kelvane::sim::ControllerFaults& f) {
    const auto eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const int n = eq == std::string::npos ? 0 : std::atoi(arg.c_str() + eq + 1);
    using Order = kelvane::sim::ControllerFaults::Order;
    if (name == "silent")
        f.silent = true;
    else if (name == "probe-bytes")
        f.probeBytes = n;
    else if (name == "probe-chunk")
        f.probeChunk = n;
    else if (name == "drop-every")
        f.dropEvery = n;
    else if (name == "garble-every")
        f.garbleEvery = n;
    else if (name == "last-first")
        f.order = Order::LastFirst;
    else if (name == "scrambled")
        f.order = Order::Scrambled;
    else if (name == "repeat")
        f.repeatFrames = true;
    else if (name == "stray-index")
        f.strayIndex = n;
    else if (name == "delay")
        f.answerDelayMs = n;
    else if (name == "frame-gap")
        f.frameGapMs = n;
    else if (name == "frames")
        f.framesToSend = n;
    else if (name == "acks")
        f.acksToSend = n;
    else if (name == "hang-up-after")
        f.hangUpAfter = n;
    else
        return false;
    return true;
}

bool parseIdentity(const std::string& hex, kelvane::sim::Controller::Identity& id) {
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

void dumpImage(const std::string& path, const kelvane::sim::Controller::Image& image) {
    kelvane::sim::writeDump(path, image.data(), image.size());
}

const char* const kUsage =
    "usage: kelvane_sim (--pty-link PATH | --port PATH) [--pace [BAUD]] [--dump FILE]\n"
    "       [--latency-ms N] [--image FILE] [--identity HEX16] [--fault NAME[=N]]...\n";

const char* const kHelp =
    "Serves the simulated controller of KelvaneMini (probe, download, upload).\n"
    "KelvaneMini's built-in \"Symulator\" port answers at once; this server, paced,\n"
    "shows the real line's timing through the real serial code.\n\n"
    "Options:\n";

const char* const kOwnHelp =
    "  --pty PATH        the same as --port\n"
    "  --paced           the same as --pace\n"
    "  --baud N          the same as --pace's BAUD\n"
    "  --image FILE      the controller's image (a whole image file); default: a\n"
    "                    sample building\n"
    "  --identity HEX16  the 8-byte probe answer, e.g. 0001341203010000\n"
    "  --fault NAME[=N]  a fault of the controller; may be repeated:\n"
    "      silent          answers nothing\n"
    "      probe-bytes=N   the probe answer has only N bytes\n"
    "      probe-chunk=N   the probe answer goes out in pieces of N bytes\n"
    "      drop-every=N    every Nth byte it sends is lost\n"
    "      garble-every=N  every Nth byte it sends is changed\n"
    "      last-first      a download sends the last block first\n"
    "      scrambled       a download sends the blocks in a scrambled order\n"
    "      repeat          a download sends every frame twice\n"
    "      stray-index=N   an extra frame with block index N before the last block\n"
    "      delay=MS        a pause before each answer\n"
    "      frame-gap=MS    a pause between download frames\n"
    "      frames=N        a download stops after N frames\n"
    "      acks=N          an upload gets only N acknowledgements\n"
    "      hang-up-after=N the server ends after sending N bytes\n\n"
    "Pacing: 8N1 at BAUD, by default the controller's line speed.\n"
    "--dump writes the controller's image after every completed upload and at the end.\n\n"
    "Prints \"ready\" once the port is open. Ends on SIGINT or SIGTERM, when the far\n"
    "end goes away (--port), or after a hang-up fault. Exit 0; 1 when the port\n"
    "cannot be opened; 2 on a usage error or a bad image file.\n";

int usage() {
    std::cerr << kUsage << "kelvane_sim --help explains every option.\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    kelvane::sim::ServerOptions options;
    std::string imagePath;
    kelvane::sim::Controller controller(kelvane::sampleBuildingImage());
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        const kelvane::sim::OptionResult shared = kelvane::sim::readSharedOption(argc, argv, i, options);
        if (shared == kelvane::sim::OptionResult::Bad) return usage();
        if (shared == kelvane::sim::OptionResult::Taken) continue;
        if (a == "--pty" && hasValue)
            options.port = argv[++i];
        else if (a == "--paced")
            options.pace = true;
        else if (a == "--baud" && hasValue)
            options.baud = std::max(1, std::atoi(argv[++i]));
        else if (a == "--image" && hasValue)
            imagePath = argv[++i];
        else if (a == "--identity" && hasValue) {
            kelvane::sim::Controller::Identity id;
            if (!parseIdentity(argv[++i], id)) return usage();
            controller.setIdentity(id);
        } else if (a == "--fault" && hasValue) {
            if (!parseFault(argv[++i], controller.faults())) return usage();
        } else
            return usage();
    }
    if (options.help) {
        std::cout << kUsage << kHelp << kelvane::sim::kSharedOptionsHelp << kOwnHelp;
        return 0;
    }
    if (options.port.empty() == options.ptyLink.empty()) return usage();
    const int baud = options.baud > 0 ? options.baud : kelvane::link::kControllerBaud;
    const bool paced = options.pace;
    const std::string& dumpPath = options.dump;
    if (!imagePath.empty()) {
        if (!kelvane::sim::readPrefix(imagePath, controller.image().data(), kelvane::kImageSize)) {
            std::cerr << "kelvane_sim: " << imagePath << " is not a " << kelvane::kImageSize << "-byte image\n";
            return 2;
        }
    }

    int keepFarEnd = -1;
    const int fd = kelvane::sim::openServedPort(options, "kelvane_sim", keepFarEnd);
    if (fd < 0) return 1;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    std::cout << "ready" << std::endl;

    const std::int64_t byteNs = paced ? 10000000000LL / baud : 0;  // start + 8 data + stop bits
    // Every byte reaches the program an adapter's latency after its line time.
    const std::int64_t latencyNs = static_cast<std::int64_t>(options.latencyMs) * 1000000;
    std::int64_t inputDone = 0;  // when the bytes received so far have fully arrived
    kelvane::sim::PacedOutput out;
    kelvane::sim::ServeHooks hooks;
    bool uploadSaid = false;
    hooks.received = [&](const std::uint8_t* in, std::size_t got, std::int64_t t) {
        inputDone = std::max(inputDone, t) + static_cast<std::int64_t>(got) * byteNs;
        const int uploadsBefore = controller.uploadsCompleted();
        const kelvane::sim::Controller::Answer a = controller.feed(in, got);
        out.queue(a, inputDone, byteNs, latencyNs);
        if (controller.uploadsCompleted() != uploadsBefore) dumpImage(dumpPath, controller.image());
        // Said once, so a test can act while an upload is under way.
        if (!uploadSaid && !controller.blocksReceived().empty()) {
            uploadSaid = true;
            std::cout << "upload block" << std::endl;
        }
        return !a.hangUp;  // a hang-up fault ends the server once the answer has gone out
    };
    kelvane::sim::servePort(fd, out, hooks, &g_stop);
    kelvane::sim::closeServedPort(options, fd, keepFarEnd);
    dumpImage(dumpPath, controller.image());
    return 0;
}
