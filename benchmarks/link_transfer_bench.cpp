// Times a full KelvaneMini download (and optionally an upload of every block)
// through LinkController and QtSerialLine against the pty controller
// simulator, and measures how long the window's event loop is ever held up
// while the worker talks. Run by link_bench.sh.
//
//   link_transfer_bench PORT [--upload]
#include "shell/link_controller.h"
#include "texts/link_messages.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

using namespace kelvane::shell;
using kelvane::link::Message;

namespace {

class BenchHost : public LinkHost {
public:
    bool getData() override { return true; }
    void displayData() override {}
    void setStatusText(const QString& t) override { status = t; }
    void setProgressVisible(bool) override {}
    void setProgressRange(int, int) override {}
    void setProgressPosition(int) override { ++positions; }
    QString messageText(Message m) override { return QString::fromUtf8(kelvane::texts::messageText(m, 1)); }
    void showPortOpenError(const QString& t, const QString& detail) override {
        status = "port error: " + t + ' ' + detail;
    }
    kelvane::shell::Document& document() override { return doc; }
    // The flow's last step: every block in which the window differs from the controller's copy.
    void startUpload() override {
        std::bitset<kelvane::kBlockCount> blocks;
        for (std::size_t i = 0; i < doc.working.size(); ++i)
            if (doc.working[i] != doc.device[i]) blocks.set(i / kelvane::kBlockSize);
        if (link) link->sendBlocks(doc.working, blocks, {});
    }

    LinkController* link = nullptr;
    QString status;
    int positions = 0;
    kelvane::shell::Document doc;
};

// Largest gap between two ticks of a 1 ms timer beyond its interval: the
// longest time the event loop could not answer.
struct StallMeter {
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = -1;
    qint64 worst = 0;
    StallMeter() {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            if (last >= 0) worst = std::max(worst, now - last);
            last = now;
        });
    }
    void start() {
        clock.start();
        last = -1;
        worst = 0;
        timer.start();
    }
    double worstMs() const { return worst / 1e6; }
};

double runTransfer(LinkController& link, bool upload, StallMeter& meter) {
    QEventLoop loop;
    QObject::connect(&link, &LinkController::transferRunningChanged, &loop, [&](bool running) {
        if (!running) loop.quit();
    });
    QElapsedTimer t;
    meter.start();
    t.start();
    upload ? link.onUpload() : link.onDownload();
    if (link.transferRunning()) loop.exec();
    const double seconds = t.nsecsElapsed() / 1e9;
    meter.timer.stop();
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: link_transfer_bench PORT [--upload]\n");
        return 2;
    }
    const bool alsoUpload = argc > 2 && QString(argv[2]) == "--upload";
    BenchHost host;
    LinkController link(host, nullptr);
    host.link = &link;
    link.choosePort(QString::fromLocal8Bit(argv[1]));
    std::printf("probe: %s\n", qPrintable(host.status));

    StallMeter meter;
    const double lineSeconds = (8 + 512 * 34) * 10.0 / 2400;
    const double down = runTransfer(link, false, meter);
    std::printf("download: %.3f s (line time %.3f s, excess %+.3f s), status \"%s\", %d progress updates\n", down,
                lineSeconds, down - lineSeconds, qPrintable(host.status), host.positions);
    std::printf("download: longest event-loop stall %.2f ms\n", meter.worstMs());
    bool ok = host.status == "Data downloaded" && down - lineSeconds <= 0.3;

    if (alsoUpload) {
        for (auto& b : host.doc.working) b = static_cast<std::uint8_t>(~b);  // every block differs
        const double up = runTransfer(link, true, meter);
        std::printf("upload of 512 blocks: %.3f s, status \"%s\", longest event-loop stall %.2f ms\n", up,
                    qPrintable(host.status), meter.worstMs());
        ok = ok && host.status == "Data updated";
    }
    return ok ? 0 : 1;
}
