// orva_bootloader_sim: the simulated controller and bootloader of Orva on a
// pty or a serial device, for end-to-end tests and the benchmark. Its options
// are explained by --help (kHelp below).
#include "sim/bootloader_model.h"
#include "sim/orva_controller.h"
#include "sim/paced_output.h"
#include "sim/sample_building.h"
#include "sim/server_options.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <initializer_list>
#include <optional>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

const char* const kUsage =
    "usage: orva_bootloader_sim (--pty-link PATH | --port PATH) [--pace [BAUD]] [--dump FILE]\n"
    "       [--latency-ms N] [--identity reply|silent|wrong] [--banner both|upper|wrong|none]\n"
    "       [--controller [--image FILE] [--boot-ms N] [--after-flash keep|reset|silent]]\n";

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
    "                    another device's banner, or nothing\n"
    "  --controller      serve the whole controller, not only until the flash ends:\n"
    "                    its firmware also answers the configuration link (probe,\n"
    "                    download, upload), and after a flash it boots the new\n"
    "                    firmware and answers again, until stopped\n"
    "  --image FILE      with --controller: the configuration (the first 16,384\n"
    "                    bytes of FILE, e.g. a .kvd); default: a sample building\n"
    "  --boot-ms N       with --controller: from the flash's end to the new firmware\n"
    "                    answering (default 3000)\n"
    "  --after-flash keep|reset|silent\n"
    "                    with --controller: the new firmware keeps the configuration\n"
    "                    (default), starts from the initial image, or never answers\n\n"
    "Pacing: before the reset the controller's line (default 2400 baud, 8N2; BAUD\n"
    "replaces it), after it the bootloader's line at 57,600 baud 8N1. Answers go\n"
    "out as soon as a frame has fully arrived (plus --latency-ms); with\n"
    "--controller the firmware's answers take their line time byte by byte.\n"
    "--dump writes the programmed flash when the run ends.\n\n"
    "Prints \"ready\" once the port is open and, when the end byte has come (or\n"
    "the far end hangs up), one line \"ended=<0|1> blocks=N frames=N bad=N\n"
    "wakeups=N resets=N\", then exits: 0 when the end byte came, 3 otherwise,\n"
    "1 when the port cannot be opened, 2 on a usage error.\n\n"
    "With --controller it prints a line per step served: \"download served\" once a\n"
    "download's last frame has gone out, \"upload stored\" once an upload's last\n"
    "acknowledgement has, \"flashed blocks=N frames=N bad=N wakeups=N resets=N\" at\n"
    "the end byte (--dump written then), \"back firmware=N\" once the new firmware\n"
    "answers. It ends on SIGINT or SIGTERM or when the far end hangs up, with the\n"
    "\"ended=\" line; exit 0 when a flash ended, 3 otherwise.\n";

int usage() {
    std::fputs(kUsage, stderr);
    std::fputs("orva_bootloader_sim --help explains every option.\n", stderr);
    return 2;
}

void printLine(const char* what, const kelvane::sim::BootloaderModel& m, int ended = -1) {
    if (ended >= 0) std::printf("ended=%d ", ended);
    std::printf("%sblocks=%d frames=%d bad=%d wakeups=%d resets=%d\n", what, m.blocksAccepted(), m.frames(),
                m.badChecks(), m.wakeUps(), m.resetRequests());
    std::fflush(stdout);
}

void dumpFlash(const std::string& path, const std::vector<std::uint8_t>& flash) {
    kelvane::sim::writeDump(path, flash.data(), flash.size());
}

// The options: the shared ones and this server's own.
struct Options {
    kelvane::sim::ServerOptions server;
    kelvane::sim::BootloaderScript script;
    kelvane::sim::OrvaFirmwareEffect effect;
    bool whole = false;  // --controller
    std::string imagePath;
};

// One of the words an option takes, by name; false for another word.
template <typename T>
bool pick(const std::string& word, std::initializer_list<std::pair<const char*, T>> choices, T& to) {
    for (const auto& [name, value] : choices)
        if (word == name) {
            to = value;
            return true;
        }
    return false;
}

// Reads this server's own option a (its value through value()); false when
// it is not one or its value is wrong.
bool readOwnOption(const std::string& a, const std::function<std::string()>& value, Options& o) {
    using Script = kelvane::sim::BootloaderScript;
    if (a == "--flash-out") {
        o.server.dump = value();
    } else if (a == "--controller") {
        o.whole = true;
    } else if (a == "--image") {
        o.imagePath = value();
        return !o.imagePath.empty();
    } else if (a == "--boot-ms") {
        const std::string v = value();
        char* end = nullptr;
        const long ms = std::strtol(v.c_str(), &end, 10);
        if (v.empty() || *end || ms < 0 || ms > 600000) return false;
        o.effect.bootMs = static_cast<int>(ms);
    } else if (a == "--after-flash") {
        int after = 0;
        if (!pick(value(), {{"keep", 0}, {"reset", 1}, {"silent", 2}}, after)) return false;
        o.effect.resetsConfiguration = o.effect.resetsConfiguration || after == 1;
        o.effect.neverReturns = o.effect.neverReturns || after == 2;
    } else if (a == "--identity") {
        return pick(value(),
                    {{"reply", Script::Identity::Reply},
                     {"silent", Script::Identity::Silent},
                     {"wrong", Script::Identity::WrongType}},
                    o.script.identity);
    } else if (a == "--banner") {
        return pick(value(),
                    {{"both", Script::Banner::BootThenLower},
                     {"upper", Script::Banner::UpperOnly},
                     {"wrong", Script::Banner::WrongType},
                     {"none", Script::Banner::None}},
                    o.script.banner);
    } else {
        return false;
    }
    return true;
}

// The command line; nothing on a usage error.
std::optional<Options> readOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const kelvane::sim::OptionResult shared = kelvane::sim::readSharedOption(argc, argv, i, o.server);
        if (shared == kelvane::sim::OptionResult::Bad) return std::nullopt;
        if (shared == kelvane::sim::OptionResult::Taken) continue;
        const auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (!readOwnOption(a, value, o)) return std::nullopt;
    }
    return o;
}

// Serves the port: feeds what the tool sends to the controller (or, without
// --controller, to its bootloader alone) and queues the answers, paced.
class Server {
public:
    Server(const Options& o, const kelvane::Image& configuration)
        : o_(o),
          orva_(configuration, o.script, o.effect),
          // Firmware: 8N2 at the controller's speed; bootloader: 8N1 at 57,600.
          firmwareByteNs_(1000000000LL * 11 / (o.server.baud > 0 ? o.server.baud : 2400)),
          latencyNs_(static_cast<std::int64_t>(o.server.latencyMs) * 1000000),
          t0_(kelvane::sim::monotonicNs()) {}

    void serve(int fd) {
        kelvane::sim::ServeHooks hooks;
        hooks.received = [this](const std::uint8_t* buf, std::size_t n, std::int64_t readNs) {
            return received(buf, n, readNs);
        };
        hooks.idle = [this](std::int64_t nowNs) { return idle(nowNs); };
        kelvane::sim::servePort(fd, out_, hooks, o_.whole ? &g_stop : nullptr);
    }
    // The bootloader as the last flash left it, else as it is now.
    const kelvane::sim::BootloaderModel& result() { return flashed_ ? *flashed_ : orva_.bootloader(); }
    bool flashed() const { return flashed_.has_value(); }

private:
    static constexpr std::int64_t kBootloaderByteNs = 1000000000LL * 10 / 57600;

    double msSince(std::int64_t ns) const { return static_cast<double>(ns - t0_) / 1e6; }

    void bootIfDue(std::int64_t nowNs) {
        if (o_.whole && orva_.bootIfDue(msSince(nowNs))) {
            std::printf("back firmware=%d\n", orva_.effect().newFirmware);
            std::fflush(stdout);
        }
    }

    bool received(const std::uint8_t* buf, std::size_t n, std::int64_t readNs) {
        bootIfDue(readNs);
        for (std::size_t i = 0; i < n; ++i) {
            kelvane::sim::BootloaderModel& model = orva_.bootloader();
            if (model.ended() && !o_.whole) break;
            const bool firmware = model.mode() == kelvane::sim::BootloaderModel::Mode::Firmware;
            const std::int64_t byteNs = firmware ? firmwareByteNs_ : kBootloaderByteNs;
            if (o_.server.pace) lineFreeNs_ = std::max(lineFreeNs_, readNs) + byteNs;
            // On the line once the frame has arrived (paced), in the program's
            // hands an adapter's latency later.
            const std::int64_t arrivedNs = o_.server.pace ? lineFreeNs_ : readNs;
            if (o_.whole) {
                feedController(buf[i], readNs, arrivedNs, firmware, byteNs);
            } else {
                const auto answer = model.feed(buf[i]);
                if (!answer.empty()) out_.queueAt(arrivedNs + latencyNs_, answer);
            }
        }
        return o_.whole || !orva_.bootloader().ended();
    }

    void feedController(std::uint8_t byte, std::int64_t readNs, std::int64_t arrivedNs, bool firmware, std::int64_t byteNs) {
        const bool wasEnded = orva_.bootloader().ended();
        const int downloads = orva_.controller().downloads();
        const int uploads = orva_.controller().uploadsCompleted();
        const auto answer = orva_.feed(&byte, 1, msSince(readNs));
        // The firmware's answers take their line time byte by byte; the
        // bootloader's leave together, as they always have here.
        const std::int64_t doneNs =
            firmware ? out_.queue(answer, arrivedNs, o_.server.pace ? byteNs : 0, latencyNs_) : arrivedNs + latencyNs_;
        if (!firmware)
            for (const auto& piece : answer.pieces) out_.queueAt(doneNs, piece.bytes);
        if (orva_.controller().downloads() != downloads) notes_.emplace_back(doneNs, "download served");
        if (orva_.controller().uploadsCompleted() != uploads) notes_.emplace_back(doneNs, "upload stored");
        if (!wasEnded && orva_.bootloader().ended()) {
            flashed_ = orva_.bootloader();
            dumpFlash(o_.server.dump, flashed_->flash());
            printLine("flashed ", orva_.bootloader());
        }
    }

    // Lines announced once what they report has reached the tool.
    bool idle(std::int64_t nowNs) {
        bootIfDue(nowNs);
        for (auto it = notes_.begin(); it != notes_.end();) {
            if (it->first > nowNs) {
                ++it;
                continue;
            }
            std::printf("%s\n", it->second.c_str());
            std::fflush(stdout);
            it = notes_.erase(it);
        }
        return true;
    }

    const Options& o_;
    kelvane::sim::OrvaController orva_;
    const std::int64_t firmwareByteNs_;
    const std::int64_t latencyNs_;
    const std::int64_t t0_;
    std::int64_t lineFreeNs_ = 0;  // when the last byte from the tool has fully arrived
    kelvane::sim::PacedOutput out_;
    std::vector<std::pair<std::int64_t, std::string>> notes_;
    std::optional<kelvane::sim::BootloaderModel> flashed_;
};

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> o = readOptions(argc, argv);
    if (!o) return usage();
    if (o->server.help) {
        std::printf("%s%s%s%s", kUsage, kHelp, kelvane::sim::kSharedOptionsHelp, kOwnHelp);
        return 0;
    }
    if (o->server.port.empty() == o->server.ptyLink.empty()) return usage();
    kelvane::Image configuration = kelvane::sampleBuildingImage();
    if (!o->imagePath.empty() && !kelvane::sim::readPrefix(o->imagePath, configuration.data(), configuration.size())) {
        std::fprintf(stderr, "orva_bootloader_sim: %s holds no %zu-byte image\n", o->imagePath.c_str(),
                     configuration.size());
        return 2;
    }

    int keepSlave = -1;  // holds the tool's end open, so no hang-up shows before the tool comes
    const int fd = kelvane::sim::openServedPort(o->server, "orva_bootloader_sim", keepSlave);
    if (fd < 0) return 1;
    prctl(PR_SET_TIMERSLACK, 1UL);  // paced answers need sub-0.1 ms wake-ups
    if (o->whole) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    std::signal(SIGPIPE, SIG_IGN);

    Server server(*o, configuration);
    std::printf("ready\n");
    std::fflush(stdout);
    server.serve(fd);
    // Leave the last answers time to reach the tool before the pty goes away.
    if (o->server.ptyLink.empty()) tcdrain(fd);

    const kelvane::sim::BootloaderModel& model = server.result();
    const bool ended = model.ended();
    if (!server.flashed()) dumpFlash(o->server.dump, model.flash());
    printLine("", model, ended ? 1 : 0);
    kelvane::sim::closeServedPort(o->server, fd, keepSlave);
    return ended ? 0 : 3;
}
