// End to end over a socat pty pair: QtSerialLine in this process, the
// command-line controller simulator at the far end.
#include "link/port.h"
#include "link/probe.h"
#include "tests/link/pty_pair.h"
#include "session/qt_serial_line.h"
#include "link/transfer.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <iterator>

namespace kelvane::link {
namespace {

Image sampleImage() {
    Image img;
    for (std::size_t i = 0; i < img.size(); ++i) img[i] = static_cast<std::uint8_t>((i * 13 + (i >> 9)) & 0xFF);
    return img;
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ptytest::onPath("socat")) GTEST_SKIP() << "socat is not available";
        pair = std::make_unique<ptytest::PtyPair>();
        ASSERT_TRUE(pair->ready());
        const auto img = sampleImage();
        std::ofstream(pair->file("image.bin"), std::ios::binary)
            .write(reinterpret_cast<const char*>(img.data()), static_cast<std::streamsize>(img.size()));
    }
    void startSimulator(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {KELVANE_SIM_PATH,        "--port", pair->devPath(),        "--image",
                                         pair->file("image.bin"), "--dump", pair->file("dump.bin"), "--identity",
                                         "0005341203010000"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        sim = std::make_unique<ptytest::Child>(argv, true);
        ASSERT_TRUE(sim->waitForLine("ready", 3000));
    }
    std::unique_ptr<ptytest::PtyPair> pair;
    std::unique_ptr<ptytest::Child> sim;
};

TEST_F(EndToEnd, ProbeDownloadEditUploadAndTheSimulatorHoldsTheUpload) {
    startSimulator();
    const std::string port = PortName(pair->appPath());
    session::QtSerialLine line;

    ASSERT_TRUE(OpenPort(line, port));
    session::QtSerialLine other;
    EXPECT_FALSE(OpenPort(other, port)) << "the port is held by the probe";
    auto reply = probe(line);
    line.close();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->id, 5);
    EXPECT_EQ(reply->serialNumber, 4660);
    EXPECT_EQ(reply->firmware, 259);

    ASSERT_TRUE(OpenPort(line, port));
    TransferContext ctx{line, link::systemClock(), nullptr, {}, {}};
    auto down = DownloadThread(ctx);
    line.close();
    ASSERT_EQ(down.result, DownloadResult::Completed);
    EXPECT_EQ(down.image, sampleImage());

    Image working = down.image;
    working[100] ^= 0xFF;
    working[200 * 32 + 5] ^= 0xFF;
    working[16383] ^= 0xFF;
    ASSERT_TRUE(OpenPort(line, port));
    EXPECT_FALSE(OpenPort(other, port)) << "the port is held by the upload";
    std::vector<int> progress;
    TransferContext up{line, link::systemClock(), nullptr, [&](int p) { progress.push_back(p); }, {}};
    auto sent = UploadThread(up, working, down.image);
    line.close();
    ASSERT_EQ(sent.result, UploadResult::Completed);
    EXPECT_EQ(sent.framesSent, 3);
    EXPECT_EQ(progress.size(), 512u);

    sim->stop();
    const auto dumped = readFile(pair->file("dump.bin"));
    EXPECT_EQ(dumped, std::vector<std::uint8_t>(working.begin(), working.end()));
}

TEST_F(EndToEnd, CancelEndsADownloadPromptlyAfterTheControllerHungUp) {
    startSimulator({"--fault", "hang-up-after=50"});
    session::QtSerialLine line;
    ASSERT_TRUE(OpenPort(line, pair->appPath()));
    std::atomic<bool> cancel{false};
    std::atomic<int> last{0};
    TransferContext ctx{line, link::systemClock(), &cancel, [&](int p) { last = p; }, {}};
    // The technician's cancel, from another thread, while the worker waits on a dead line.
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        cancel = true;
        line.interrupt();
    });
    const auto t0 = link::systemClock().nowMs();
    auto down = DownloadThread(ctx);
    const auto ms = link::systemClock().nowMs() - t0;
    canceller.join();
    line.close();
    EXPECT_EQ(down.result, DownloadResult::Cancelled);
    EXPECT_EQ(last, 50);
    EXPECT_LT(ms, 1000);
}

}  // namespace
}  // namespace kelvane::link

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
