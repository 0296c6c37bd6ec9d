#include "sim/controller.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvane::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes frame(int index, std::uint8_t fill) {
    Bytes f(34, fill);
    f[0] = static_cast<std::uint8_t>(index & 0xFF);
    f[1] = static_cast<std::uint8_t>(index >> 8);
    return f;
}

Bytes joined(const Controller::Answer& a) {
    Bytes all;
    for (const auto& p : a.pieces) all.insert(all.end(), p.bytes.begin(), p.bytes.end());
    return all;
}

TEST(Controller, FindsACommandAfterNoiseAndAcrossWrites) {
    Controller c;
    auto a = c.feed(text("xxIsTh").data(), 6);
    EXPECT_TRUE(a.pieces.empty());
    a = c.feed(text("ereL").data(), 4);
    EXPECT_EQ(joined(a), Bytes(Controller::kDefaultIdentity.begin(), Controller::kDefaultIdentity.end()));
    EXPECT_EQ(c.probes(), 1);
}

TEST(Controller, UploadStoresBlocksAcknowledgesEachAndIgnoresOutsideIndexes) {
    Controller c;
    Bytes msg = {'D', 'e', 'b', 'M', 'e', 'm', '7', 0x9F};
    for (const auto& f : {frame(3, 0xAB), frame(700, 0xCD), frame(511, 0x11), frame(0xFFFF, 0)})
        msg.insert(msg.end(), f.begin(), f.end());
    auto a = c.feed(msg.data(), msg.size());
    EXPECT_EQ(joined(a), Bytes(5, Controller::kAck));
    EXPECT_EQ(c.blocksReceived(), (std::vector<int>{3, 511}));
    EXPECT_EQ(c.image()[96], 0xAB);
    EXPECT_EQ(c.image()[16383], 0x11);
    EXPECT_EQ(c.image()[0], 0);
    EXPECT_EQ(c.uploadsCompleted(), 1);
    // Back to commands after the end frame.
    a = c.feed(text("IsThereL").data(), 8);
    EXPECT_EQ(joined(a).size(), 8u);
}

TEST(Controller, DownloadSendsEveryFrameInOrder) {
    Controller::Image img;
    for (std::size_t i = 0; i < img.size(); ++i) img[i] = static_cast<std::uint8_t>(i / 32);
    Controller c(img);
    Bytes cmd = {'D', 'e', 'b', 'M', 'e', 'm', '6', 0xA0};
    auto all = joined(c.feed(cmd.data(), cmd.size()));
    ASSERT_EQ(all.size(), 512u * 34);
    EXPECT_EQ(all[34 * 300], 300 & 0xFF);
    EXPECT_EQ(all[34 * 300 + 1], 300 >> 8);
    EXPECT_EQ(all[34 * 300 + 2], static_cast<std::uint8_t>(300));
}

TEST(Controller, ByteFaultsAndTheHangUp) {
    Controller c;
    c.faults().dropEvery = 2;
    c.faults().garbleEvery = 3;
    auto a = c.feed(text("IsThereL").data(), 8);
    // Bytes 1..8: 2, 4, 6, 8 are lost, 3 is inverted.
    Bytes id(Controller::kDefaultIdentity.begin(), Controller::kDefaultIdentity.end());
    EXPECT_EQ(joined(a), (Bytes{id[0], static_cast<std::uint8_t>(~id[2]), id[4], id[6]}));

    Controller h;
    h.faults().hangUpAfter = 2;
    Bytes cmd = {'D', 'e', 'b', 'M', 'e', 'm', '6', 0xA0};
    a = h.feed(cmd.data(), cmd.size());
    EXPECT_EQ(a.pieces.size(), 2u);
    EXPECT_TRUE(a.hangUp);
}

class Recorder : public Device {
public:
    void received(const std::uint8_t* d, std::size_t n, VirtualLine&) override { got.insert(got.end(), d, d + n); }
    Bytes got;
};

TEST(VirtualLine, HangUpLosesLaterBytesAndWrites) {
    VirtualClock clock;
    Recorder dev;
    VirtualLine line(clock, dev);
    ASSERT_TRUE(line.open("X"));
    line.send({1, 2, 3});
    line.send({4, 5}, 500);
    line.hangUp(100);
    std::uint8_t buf[8];
    EXPECT_EQ(line.read(buf, 8), 3u);
    clock.sleepMs(200);
    EXPECT_EQ(line.read(buf, 8), 0u);
    EXPECT_EQ(line.write(buf, 2), 0u);
    EXPECT_TRUE(dev.got.empty());
    line.close();
    ASSERT_TRUE(line.open("X"));  // a new session works again
    EXPECT_EQ(line.write(buf, 2), 2u);
}

TEST(VirtualLine, AReadThatNeverEndsStopsAtTheClocksLimit) {
    VirtualClock clock;
    clock.setLimitMs(60'000);
    Recorder dev;
    VirtualLine line(clock, dev);
    ASSERT_TRUE(line.open("X"));
    std::uint8_t byte = 0;
    EXPECT_THROW(for (;;) line.read(&byte, 1), std::runtime_error);
    EXPECT_LE(clock.nowMs(), 61'000);
}

TEST(VirtualLine, InterruptEndsAReadAndWritesUntilReset) {
    VirtualClock clock;
    Recorder dev;
    VirtualLine line(clock, dev);
    ASSERT_TRUE(line.open("X"));
    line.send({1}, 50);
    line.interrupt();
    std::uint8_t buf[8];
    EXPECT_EQ(line.read(buf, 1), 0u);
    EXPECT_EQ(line.write(buf, 1), 0u);
    EXPECT_EQ(clock.nowMs(), 0);
    line.resetInterrupt();
    EXPECT_EQ(line.read(buf, 1), 1u);
}

TEST(VirtualLine, PacedPiecesFollowTheQueue) {
    VirtualClock clock;
    Controller dev;
    dev.faults().probeChunk = 4;
    dev.faults().probeChunkGapMs = 300;
    VirtualLine line(clock, dev);
    line.setPaced(true);
    ASSERT_TRUE(line.open("X"));
    line.setLine(link::LineSettings{});
    line.write(reinterpret_cast<const std::uint8_t*>("IsThereL"), 8);
    // Written in 8 byte times; the first piece takes 4 more, the second 300 ms + 4 more.
    const double byte = 1000.0 / 240;
    EXPECT_NEAR(line.pendingUntilMs(), 16 * byte + 300, 1.0);
}

}  // namespace
}  // namespace kelvane::sim

#include "sim/controller_port.h"

namespace kelvane::sim {
namespace {

TEST(ControllerPort, OneHolderAtATimeAndTheImageSurvivesSessions) {
    Controller::Image firstImage;
    firstImage.fill(0x5A);
    ControllerPort::preload(firstImage);
    Controller::Image other;
    other.fill(0x00);
    ControllerPort::preload(other);  // only the first preload counts

    VirtualClock clock;
    ControllerPort a("SIM", clock), b("SIM", clock);
    EXPECT_FALSE(a.open("COM1"));
    ASSERT_TRUE(a.open("SIM"));
    EXPECT_FALSE(b.open("SIM"));
    EXPECT_FALSE(ControllerPort::withController([](Controller&) {}));
    a.setTimeouts(link::Timeouts{});
    a.write(reinterpret_cast<const std::uint8_t*>("IsThereL"), 8);
    std::uint8_t reply[8];
    EXPECT_EQ(a.read(reply, 8), 8u);
    a.close();
    ASSERT_TRUE(b.open("SIM"));
    b.close();
    EXPECT_TRUE(ControllerPort::withController([](Controller& c) { EXPECT_EQ(c.image()[0], 0x5A); }));
}

TEST(ControllerPort, InterruptBeforeOpenHoldsForTheSession) {
    VirtualClock clock;
    ControllerPort p("SIM", clock);
    p.interrupt();
    ASSERT_TRUE(p.open("SIM"));
    std::uint8_t b;
    EXPECT_EQ(p.write(&b, 1), 0u);
    p.resetInterrupt();
    EXPECT_EQ(p.write(&b, 1), 1u);
    p.close();
}

}  // namespace
}  // namespace kelvane::sim
