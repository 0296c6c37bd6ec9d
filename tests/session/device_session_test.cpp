// The device session on a simulated controller in virtual time: the blocking
// transfer, chosen blocks, and the threaded session's report.
#include "session/device_session.h"
#include "sim/controller.h"
#include "sim/virtual_line.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

namespace kelvane::session {
namespace {

Image pattern() {
    Image img{};
    for (std::size_t i = 0; i < img.size(); ++i) img[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return img;
}

// A port behind which a simulated controller runs in virtual time; names
// other than "dev" do not open.
struct VirtualPort {
    sim::VirtualClock clock;
    sim::Controller controller{pattern()};
    PortFactory factory() {
        return [this](const std::string&) {
            auto line = std::make_unique<sim::VirtualLine>(clock, controller);
            line->setPortName("dev");
            return PortConnection{std::move(line), &clock};
        };
    }
};

TEST(DeviceSession, BlockingTransfersReportTheirOutcomeAsCodes) {
    VirtualPort port;
    PortFactory make = port.factory();

    std::vector<bool> openedCalls;
    auto note = [&](bool ok) { openedCalls.push_back(ok); };
    PortConnection absent = make("none");
    const TransferReport refused = runTransfer(downloadRequest("none"), absent, nullptr, {}, note);
    EXPECT_FALSE(refused.opened);
    EXPECT_FALSE(refused.completed());
    EXPECT_EQ(refused.message(), link::Message::PortOpenError);

    // Chosen blocks go out even where the controller holds the same bytes,
    // and only those; the edges of the image included.
    std::bitset<kBlockCount> blocks;
    for (int b : {0, 7, int(kBlockCount) - 1}) blocks.set(b);
    PortConnection c = make("dev");
    int positions = 0;
    const TransferReport sent = runTransfer(
        uploadRequest("dev", pattern(), blocks), c, nullptr, [&](int) { ++positions; }, note);
    EXPECT_TRUE(sent.completed());
    EXPECT_EQ(sent.message(), link::Message::UploadDone);
    EXPECT_EQ(port.controller.blocksReceived(), (std::vector<int>{0, 7, int(kBlockCount) - 1}));
    EXPECT_EQ(sent.upload.framesSent, 3);
    EXPECT_GT(positions, 0);
    EXPECT_EQ(port.controller.image(), pattern());

    const std::atomic<bool> cancelled{true};
    PortConnection d = make("dev");
    const TransferReport stopped = runTransfer(downloadRequest("dev"), d, &cancelled, {}, note);
    EXPECT_TRUE(stopped.opened);
    EXPECT_EQ(stopped.message(), link::Message::TransferAborted);
    EXPECT_EQ(openedCalls, (std::vector<bool>{false, true, true}));
}

TEST(DeviceSession, ThreadedDownloadFillsOnlyItsReport) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    VirtualPort port;
    DeviceSession session;
    session.setPortFactory(port.factory());
    EXPECT_EQ(session.start(downloadRequest("none")), DeviceSession::Start::PortNotOpened);
    EXPECT_FALSE(session.running());

    std::vector<int> positions;
    std::optional<TransferReport> report;
    QEventLoop loop;
    QObject::connect(&session, &DeviceSession::progress, [&](int p) { positions.push_back(p); });
    QObject::connect(&session, &DeviceSession::finished, [&](const TransferReport& r) {
        EXPECT_FALSE(session.running());
        report = r;
        loop.quit();
    });
    ASSERT_EQ(session.start(downloadRequest("dev")), DeviceSession::Start::Started);
    EXPECT_EQ(session.start(downloadRequest("dev")), DeviceSession::Start::Busy);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->completed());
    EXPECT_EQ(report->message(), link::Message::DownloadDone);
    EXPECT_EQ(report->download.image, pattern());
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.back(), int(kBlockCount));
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
}

}  // namespace
}  // namespace kelvane::session
