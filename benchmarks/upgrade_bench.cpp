// A whole firmware upgrade over a real serial line (a pty with the paced
// bootloader simulator at its far end): 7,680 blocks at 57,600 baud, timed
// against the line time of the frames plus the protocol's fixed pauses plus,
// when the simulator holds its answers as a USB adapter would, that latency
// once per block.
//
//   upgrade_benchmark PORT [LATENCY_MS]
//
// Run by benchmarks/upgrade_bench.sh; not a test.
#include "bootloader/bootloader_protocol.h"
#include "session/qt_serial_line.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

using namespace kelvane::bootloader;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Notes when the run reaches its milestones.
struct TimingView : UpgradeReport {
    Clock::time_point t0 = Clock::now();
    double phaseA = -1, banner = -1, programming = -1, end = -1;
    bool done = false;
    void showStatus(const UpgradeStatus& s) override {
        done = s.message == UpgradeMessage::Done;
        if (s.message == UpgradeMessage::Identity || s.message == UpgradeMessage::Waiting) phaseA = since(t0);
        if (s.message == UpgradeMessage::BootloaderVersion) banner = since(t0);
    }
    void setProgressRange(int, int) override {}
    void setProgress(int position) override {
        if (position == 1) programming = since(t0);
    }
    void runEnded() override { end = since(t0); }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: upgrade_benchmark PORT [LATENCY_MS]\n");
        return 2;
    }
    const std::string port = argv[1];
    const double latency = argc == 3 ? std::atof(argv[2]) / 1000.0 : 0.0;

    UpgradeState state;
    state.image = std::make_unique<std::vector<std::uint8_t>>(kImageSize);
    std::mt19937 rng(4817);
    for (auto& b : *state.image) b = static_cast<std::uint8_t>(rng());

    TimingView view;
    StopFlag stop;
    StoppableClock clock(stop);
    int result = -1;
    QThread* worker = QThread::create([&] {
        kelvane::session::QtSerialLine line;
        UpgradeLink link{line, clock, stop, view};
        view.t0 = Clock::now();
        if (OpenUpgradePort(state, link, port) && RequestBootloader(state, link))
            result = static_cast<int>(UpgradeWorker(state, link));
    });
    worker->start();
    worker->wait();
    delete worker;

    const double lineTime = kBlockCount * 19 * 10 / 57600.0;
    const double pauses = (50 + 100 + 2000 + 1000 + 2000) / 1000.0;
    const double held = kBlockCount * latency;
    const double bound = (lineTime + pauses + held) * 1.01;
    std::printf("result            %s (%s)\n", result == 1 ? "ended" : "failed", view.done ? "done" : "not done");
    std::printf("phase A           %7.3f s\n", view.phaseA);
    std::printf("banner            %7.3f s\n", view.banner);
    std::printf("first block       %7.3f s\n", view.programming);
    std::printf("programming       %7.3f s  (line time of 7,680 frames: %.3f s, %.1f us per frame beyond it)\n",
                view.end - view.programming, lineTime, (view.end - view.programming - lineTime) / kBlockCount * 1e6);
    std::printf("total             %7.3f s\n", view.end);
    std::printf("bound             %7.3f s  (line %.3f s + pauses %.3f s + answers held %.3f s + 1 %%)\n", bound,
                lineTime, pauses, held);
    const bool within = result == 1 && view.done && view.end <= bound;
    std::printf("%s\n", within ? "WITHIN BOUND" : "OVER BOUND");
    return within ? 0 : 1;
}
