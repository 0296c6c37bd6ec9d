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

}  // namespace

int main(int argc, char** argv) {
    kelvane::sim::ServerOptions options;
    kelvane::sim::BootloaderScript script;
    kelvane::sim::OrvaFirmwareEffect effect;
    bool whole = false;
    std::string imagePath;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        const kelvane::sim::OptionResult shared = kelvane::sim::readSharedOption(argc, argv, i, options);
        if (shared == kelvane::sim::OptionResult::Bad) return usage();
        if (shared == kelvane::sim::OptionResult::Taken) continue;
        if (a == "--flash-out") {
            options.dump = value();
        } else if (a == "--controller") {
            whole = true;
        } else if (a == "--image") {
            imagePath = value();
            if (imagePath.empty()) return usage();
        } else if (a == "--boot-ms") {
            const std::string v = value();
            char* end = nullptr;
            const long ms = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || ms < 0 || ms > 600000) return usage();
            effect.bootMs = static_cast<int>(ms);
        } else if (a == "--after-flash") {
            const std::string v = value();
            if (v == "reset")
                effect.resetsConfiguration = true;
            else if (v == "silent")
                effect.neverReturns = true;
            else if (v != "keep")
                return usage();
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
    kelvane::Image configuration = kelvane::sampleBuildingImage();
    if (!imagePath.empty() && !kelvane::sim::readPrefix(imagePath, configuration.data(), configuration.size())) {
        std::fprintf(stderr, "orva_bootloader_sim: %s holds no %zu-byte image\n", imagePath.c_str(), configuration.size());
        return 2;
    }
    const bool pace = options.pace;
    const int controllerBaud = options.baud > 0 ? options.baud : 2400;
    const std::int64_t latencyNs = static_cast<std::int64_t>(options.latencyMs) * 1000000;

    int keepSlave = -1;  // holds the tool's end open, so no hang-up shows before the tool comes
    const int fd = kelvane::sim::openServedPort(options, "orva_bootloader_sim", keepSlave);
    if (fd < 0) return 1;
    prctl(PR_SET_TIMERSLACK, 1UL);  // paced answers need sub-0.1 ms wake-ups
    if (whole) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    std::signal(SIGPIPE, SIG_IGN);

    kelvane::sim::OrvaController orva(configuration, script, effect);
    std::printf("ready\n");
    std::fflush(stdout);

    // Firmware: 8N2 at the controller's speed; bootloader: 8N1 at 57,600.
    const std::int64_t firmwareByteNs = 1000000000LL * 11 / controllerBaud;
    const std::int64_t bootloaderByteNs = 1000000000LL * 10 / 57600;
    std::int64_t lineFreeNs = 0;  // when the last byte from the tool has fully arrived
    const std::int64_t t0 = kelvane::sim::monotonicNs();
    const auto msSince = [t0](std::int64_t ns) { return static_cast<double>(ns - t0) / 1e6; };
    kelvane::sim::PacedOutput out;
    // Lines announced once what they report has reached the tool.
    std::vector<std::pair<std::int64_t, std::string>> notes;
    std::optional<kelvane::sim::BootloaderModel> flashed;  // the bootloader as the last flash left it
    const auto bootIfDue = [&](std::int64_t nowNs) {
        if (whole && orva.bootIfDue(msSince(nowNs))) {
            std::printf("back firmware=%d\n", orva.effect().newFirmware);
            std::fflush(stdout);
        }
    };
    kelvane::sim::ServeHooks hooks;
    hooks.received = [&](const std::uint8_t* buf, std::size_t n, std::int64_t readNs) {
        bootIfDue(readNs);
        for (std::size_t i = 0; i < n; ++i) {
            kelvane::sim::BootloaderModel& model = orva.bootloader();
            if (model.ended() && !whole) break;
            const bool firmware = model.mode() == kelvane::sim::BootloaderModel::Mode::Firmware;
            const std::int64_t byteNs = firmware ? firmwareByteNs : bootloaderByteNs;
            if (pace) lineFreeNs = std::max(lineFreeNs, readNs) + byteNs;
            // On the line once the frame has arrived (paced), in the program's
            // hands an adapter's latency later.
            const std::int64_t arrivedNs = pace ? lineFreeNs : readNs;
            if (!whole) {
                const auto answer = model.feed(buf[i]);
                if (!answer.empty()) out.queueAt(arrivedNs + latencyNs, answer);
                continue;
            }
            const bool wasEnded = model.ended();
            const int downloads = orva.controller().downloads();
            const int uploads = orva.controller().uploadsCompleted();
            const auto answer = orva.feed(buf + i, 1, msSince(readNs));
            // The firmware's answers take their line time byte by byte; the
            // bootloader's leave together, as they always have here.
            const std::int64_t doneNs =
                firmware ? out.queue(answer, arrivedNs, pace ? byteNs : 0, latencyNs) : arrivedNs + latencyNs;
            if (!firmware)
                for (const auto& piece : answer.pieces) out.queueAt(doneNs, piece.bytes);
            if (orva.controller().downloads() != downloads) notes.emplace_back(doneNs, "download served");
            if (orva.controller().uploadsCompleted() != uploads) notes.emplace_back(doneNs, "upload stored");
            if (!wasEnded && orva.bootloader().ended()) {
                flashed = orva.bootloader();
                dumpFlash(options.dump, flashed->flash());
                printLine("flashed ", orva.bootloader());
            }
        }
        return whole || !orva.bootloader().ended();
    };
    hooks.idle = [&](std::int64_t nowNs) {
        bootIfDue(nowNs);
        for (auto it = notes.begin(); it != notes.end();) {
            if (it->first > nowNs) {
                ++it;
                continue;
            }
            std::printf("%s\n", it->second.c_str());
            std::fflush(stdout);
            it = notes.erase(it);
        }
        return true;
    };
    kelvane::sim::servePort(fd, out, hooks, whole ? &g_stop : nullptr);
    // Leave the last answers time to reach the tool before the pty goes away.
    if (options.ptyLink.empty()) tcdrain(fd);

    const kelvane::sim::BootloaderModel& model = flashed ? *flashed : orva.bootloader();
    const bool ended = model.ended();
    if (!flashed) dumpFlash(options.dump, model.flash());
    printLine("", model, ended ? 1 : 0);
    kelvane::sim::closeServedPort(options, fd, keepSlave);
    return ended ? 0 : 3;
}
