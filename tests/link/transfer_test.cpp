#include "link/command_frame.h"
#include "tests/link/protocol_fixture.h"
#include "link/transfer_status.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace kelvane::link::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const Command& c) { return Bytes(c.begin(), c.end()); }
Bytes bytesOf(const Frame& f) { return Bytes(f.begin(), f.end()); }

std::vector<int> oneTo512() {
    std::vector<int> v(512);
    std::iota(v.begin(), v.end(), 1);
    return v;
}

class Download : public LinkTest {
protected:
    Download() { device.image() = patternImage(); }
};

TEST_F(Download, InOrderFillsTheImageAndRunsProgressTo512) {
    auto out = download();
    ASSERT_EQ(out.result, DownloadResult::Completed);
    EXPECT_EQ(out.image, device.image());
    EXPECT_EQ(progress, oneTo512());
    EXPECT_EQ(line.written(), bytesOf(startDownloadCommand()));
    EXPECT_EQ(statusMessage(out.result), Message::DownloadDone);
}

// Frames as a faulty line delivers them, sent by hand after the command: the
// frames of blocks 0..511 in order, except that the one at `at` carries
// `index` and `length` bytes. Only a download in which every block arrived
// is complete; an incomplete one says how many blocks it lacks.
TEST_F(Download, LineFaultsNeverCompleteAnImageWithHoles) {
    const struct Case {
        const char* fault;
        int at, index, length;
        DownloadResult result;
        int missing;
    } cases[] = {
        {"none", -1, 0, 34, DownloadResult::Completed, 0},
        {"block 511 first", 0, 511, 34, DownloadResult::Incomplete, 511},
        {"block 511 early", 5, 511, 34, DownloadResult::Incomplete, 506},
        {"index one ahead", 100, 101, 34, DownloadResult::Incomplete, 1},
        {"index one behind, late", 510, 509, 34, DownloadResult::Incomplete, 1},
        {"index outside the image", 100, 600, 34, DownloadResult::Incomplete, 1},
        {"index one past the image", 100, 512, 34, DownloadResult::Incomplete, 1},
        {"short frame", 200, 200, 20, DownloadResult::Incomplete, 1},
        {"short last frame", 511, 511, 20, DownloadResult::TimedOut, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        sim::VirtualClock clk;
        sim::Controller dev(patternImage());
        dev.faults().framesToSend = 0;
        sim::VirtualLine l(clk, dev);
        ASSERT_TRUE(OpenPort(l, "COM8"));
        for (int k = 0; k < 512; ++k) {
            const bool faulty = k == c.at;
            const int index = faulty ? c.index : k;
            const Frame f = makeFrame(static_cast<std::uint16_t>(index), dev.image().data() + k * 32);
            l.send(Bytes(f.begin(), f.begin() + (faulty ? c.length : 34)), 300 + k * 150);
        }
        TransferContext ctx{l, clk, nullptr, {}, {}};
        const DownloadOutcome out = DownloadThread(ctx);
        EXPECT_EQ(out.result, c.result);
        EXPECT_EQ(out.missingBlocks, c.missing);
        if (c.result == DownloadResult::Completed) {
            EXPECT_EQ(out.image, dev.image());
        } else if (c.result == DownloadResult::Incomplete) {
            EXPECT_EQ(statusMessage(out.result), Message::BlocksMissing);
        }
    }
}

TEST_F(Download, FramesInAnyOrderOrRepeatedGiveTheSameImage) {
    device.faults().order = sim::ControllerFaults::Order::Scrambled;
    device.faults().repeatFrames = true;
    auto out = download();
    ASSERT_EQ(out.result, DownloadResult::Completed);
    EXPECT_EQ(out.image, device.image());
    // Progress shows the latest index + 1, not a count.
    EXPECT_EQ(progress.size(), 511u * 2 + 1);
    EXPECT_EQ(progress.back(), 512);
}

TEST_F(Download, IndexAbove511IsIgnored) {
    device.faults().strayIndex = 600;  // 600 & 511 would be block 88
    auto out = download();
    ASSERT_EQ(out.result, DownloadResult::Completed);
    EXPECT_EQ(out.image, device.image());
    EXPECT_EQ(*std::max_element(progress.begin(), progress.end()), 512);
}

TEST_F(Download, SlowControllerStillCompletes) {
    device.faults().answerDelayMs = 3000;
    device.faults().frameGapMs = 150;  // longer than the read interval
    auto out = download();
    ASSERT_EQ(out.result, DownloadResult::Completed);
    EXPECT_EQ(out.image, device.image());
}

TEST_F(Download, PacedAt2400BaudTakesTheLineTime) {
    line.setPaced(true);
    auto out = download();
    ASSERT_EQ(out.result, DownloadResult::Completed);
    // (8 + 512 * 34) bytes of 10 bits at 2400 baud, plus the 1 ms cancel tests.
    const double lineMs = (8 + 512 * 34) * 10000.0 / 2400;
    EXPECT_GE(clock.nowMs(), lineMs);
    EXPECT_LE(clock.nowMs(), lineMs + 600);
}

TEST_F(Download, SilentControllerEndsWithTheNoAnswerTextAfterTenSeconds) {
    device.faults().silent = true;
    auto out = download();
    EXPECT_EQ(out.result, DownloadResult::TimedOut);
    EXPECT_EQ(statusMessage(out.result), Message::NoAnswer);  // not the technician's own cancel
    EXPECT_GE(clock.nowMs(), kFrameTimeoutMs);
    EXPECT_LE(clock.nowMs(), kFrameTimeoutMs + 3600);  // the read in progress ends first
    EXPECT_TRUE(progress.empty());
}

TEST_F(Download, ControllerStoppingMidwayTimesOutAfterItsLastFrame) {
    device.faults().framesToSend = 100;
    auto out = download();
    EXPECT_EQ(out.result, DownloadResult::TimedOut);
    EXPECT_EQ(progress.back(), 100);
}

TEST_F(Download, LineClosedMidwayTimesOut) {
    device.faults().hangUpAfter = 200;
    auto out = download();
    EXPECT_EQ(out.result, DownloadResult::TimedOut);
    EXPECT_EQ(progress.back(), 200);
}

TEST_F(Download, StrayIndexFramesDoNotHoldOffTheTimeout) {
    // A controller sending only frames outside the image is as good as silent.
    device.faults().order = sim::ControllerFaults::Order::InOrder;
    device.faults().framesToSend = 0;
    open();
    for (int i = 0; i < 400; ++i) {
        std::uint8_t junk[32] = {};
        auto f = makeFrame(1000, junk);
        line.send(Bytes(f.begin(), f.end()), 300 + i * 50);  // after the command
    }
    auto ctx = context();
    auto out = DownloadThread(ctx);
    EXPECT_EQ(out.result, DownloadResult::TimedOut);
    EXPECT_LT(clock.nowMs(), 14000);
}

TEST_F(Download, FramesThatNeverReachTheLastBlockEndWithinTheTotalBound) {
    device.faults().framesToSend = 0;
    open();
    std::uint8_t block[32] = {};
    const Frame f = makeFrame(5, block);
    for (int i = 0; i < 2000; ++i) line.send(Bytes(f.begin(), f.end()), 300 + i * 200);  // 400 s of frames
    auto ctx = context();
    auto out = DownloadThread(ctx);
    EXPECT_EQ(out.result, DownloadResult::TimedOut);
    EXPECT_EQ(statusMessage(out.result), Message::NoAnswer);
    EXPECT_GE(clock.nowMs(), kDownloadLimitMs);
    EXPECT_LE(clock.nowMs(), kDownloadLimitMs + 3600);
    EXPECT_GT(kDownloadLimitMs, 2 * 72000);  // twice a whole image's line time
}

TEST_F(Download, CancelEndsItAndAnInterruptedReadReturnsAtOnce) {
    open();
    auto ctx = context();
    ctx.progress = [&](int p) {
        progress.push_back(p);
        if (p == 100) {
            cancel = true;
            line.interrupt();
        }
    };
    auto out = DownloadThread(ctx);
    EXPECT_EQ(out.result, DownloadResult::Cancelled);
    EXPECT_EQ(progress.back(), 100);
}

TEST_F(Download, DroppedOrGarbledBytesNeverWriteOutsideTheImage) {
    for (int fault = 0; fault < 2; ++fault) {
        sim::Controller dev(patternImage());
        (fault ? dev.faults().garbleEvery : dev.faults().dropEvery) = 97;
        sim::VirtualClock c;
        sim::VirtualLine l(c, dev);
        ASSERT_TRUE(OpenPort(l, "COM8"));
        TransferContext ctx{l, c, nullptr, {}, {}};
        auto out = DownloadThread(ctx);
        // Either block 511 came through or the download gave up; both are bounded.
        EXPECT_LE(c.nowMs(), 200000);
        (void)out;
    }
}

class Upload : public LinkTest {};

TEST_F(Upload, UnchangedImageSendsOnlyCommandAndEndFrame) {
    const Image img = patternImage();
    device.image() = img;
    auto out = upload(img, img);
    ASSERT_EQ(out.result, UploadResult::Completed);
    EXPECT_EQ(statusMessage(out.result), Message::UploadDone);
    ASSERT_EQ(line.writes().size(), 2u);
    EXPECT_EQ(line.writes()[0].bytes, bytesOf(startUploadCommand()));
    Bytes end(34, 0);
    end[0] = end[1] = 0xFF;
    EXPECT_EQ(line.writes()[1].bytes, end);
    EXPECT_EQ(bytesOf(endFrame()), end);
    EXPECT_EQ(progress, oneTo512());
    EXPECT_EQ(device.uploadsCompleted(), 1);
}

TEST_F(Upload, ChangedByte100SendsBlock3Only) {
    const Image before = patternImage();
    Image after = before;
    after[100] ^= 0x5A;
    device.image() = before;
    auto out = upload(after, before);
    ASSERT_EQ(out.result, UploadResult::Completed);
    EXPECT_EQ(out.framesSent, 1);
    ASSERT_EQ(line.writes().size(), 3u);
    Bytes frame{0x03, 0x00};
    frame.insert(frame.end(), after.begin() + 96, after.begin() + 128);
    EXPECT_EQ(line.writes()[1].bytes, frame);
    EXPECT_EQ(device.image(), after);
}

TEST_F(Upload, FirstUploadSendsEveryBlockThatIsNotAllZero) {
    Image working{};
    working[0] = 1;         // block 0
    working[32 * 7] = 2;    // block 7
    working[16383] = 0xFF;  // block 511
    device.image().fill(0x55);
    auto out = upload(working, Image{});
    ASSERT_EQ(out.result, UploadResult::Completed);
    EXPECT_EQ(device.blocksReceived(), (std::vector<int>{0, 7, 511}));
    EXPECT_EQ(line.writes()[2].bytes[0], 7);
}

// An acknowledgement that never comes ends the upload as no answer, and the
// end frame still goes out once, its answer waited for at most a second: a
// controller that only lost one answer leaves its upload mode instead of
// taking the next command as frame data.
TEST_F(Upload, MissingAcknowledgementsStillCloseTheUploadMode) {
    Image twoBlocks{};
    twoBlocks[0] = 1;
    twoBlocks[16383] = 2;
    const struct Case {
        const char* fault;
        int acksToSend, hangUpAfter;
        Image working;
        int framesSent;
        bool endFrameSeen;         // the controller left its upload mode
        bool answerTwice = false;  // the first answer arrives twice
    } cases[] = {
        {"no answer to the command", 0, -1, patternImage(), 0, true},
        {"no answer to a block", 3, -1, patternImage(), 3, true},
        {"no answer to the end frame", 3, -1, twoBlocks, 2, true},
        {"line closed midway", -1, 10, patternImage(), 10, false},
        // The command's answer arrives twice: the second byte is no answer to
        // block 0, or every later answer would be taken one frame early.
        {"no answer to a block after an answer sent twice", 2, -1, patternImage(), 2, true, true},
    };
    // Sends the device's first answer twice.
    struct AnswerTwice : sim::Tap {
        bool done = false;
        void toDevice(const std::uint8_t* data, std::size_t n, sim::Device& d, sim::VirtualLine& l) override {
            d.received(data, n, l);
        }
        void toProgram(const std::vector<std::uint8_t>& bytes, int delayMs, sim::VirtualLine& l) override {
            l.deliver(bytes, delayMs);
            if (!std::exchange(done, true)) l.deliver(bytes);
        }
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        sim::VirtualClock clk;
        sim::Controller dev;
        dev.faults().acksToSend = c.acksToSend;
        dev.faults().hangUpAfter = c.hangUpAfter;
        sim::VirtualLine l(clk, dev);
        AnswerTwice twice;
        if (c.answerTwice) l.setTap(&twice);
        ASSERT_TRUE(OpenPort(l, "COM8"));
        TransferContext ctx{l, clk, nullptr, {}, {}};
        const UploadOutcome out = UploadThread(ctx, c.working, Image{});
        EXPECT_EQ(out.result, UploadResult::NoAnswer);
        EXPECT_EQ(statusMessage(out.result), Message::NoAnswer);
        EXPECT_EQ(out.framesSent, c.framesSent);
        EXPECT_EQ(mayHoldNewBlocks(out), c.framesSent > 0);
        EXPECT_EQ(dev.uploadsCompleted(), c.endFrameSeen ? 1 : 0);
        if (c.endFrameSeen) {
            ASSERT_EQ(l.writes().size(), static_cast<std::size_t>(c.framesSent) + 2);
            EXPECT_EQ(l.writes().back().bytes, bytesOf(endFrame()));
        }
        // One acknowledgement waited for in full, then at most a second for the end frame's.
        EXPECT_LE(clk.nowMs(), c.framesSent * 200 + kAckTimeoutMs + kCancelledAckMs + 250);
    }
}

TEST_F(Upload, SlowAcknowledgementsWithinTheBoundAreWaitedFor) {
    device.faults().answerDelayMs = 4800;
    Image working{};
    working[0] = 9;
    auto out = upload(working, Image{});
    EXPECT_EQ(out.result, UploadResult::Completed);
}

TEST_F(Upload, CancelSendsNoFurtherDataFrameAndEndsTheSession) {
    const Image working = patternImage();
    open();
    auto ctx = context();
    ctx.progress = [&](int p) {
        progress.push_back(p);
        if (p == 5) cancel = true;  // block 4 is still sent
    };
    auto out = UploadThread(ctx, working, Image{});
    EXPECT_EQ(out.result, UploadResult::Cancelled);
    EXPECT_EQ(statusMessage(out.result), Message::TransferAborted);
    EXPECT_EQ(out.framesSent, 5);
    // The command, five frames, then the end frame: the controller leaves its
    // upload mode instead of taking the next command as part of a frame.
    ASSERT_EQ(line.writes().size(), 7u);
    EXPECT_EQ(line.writes().back().bytes, bytesOf(endFrame()));
    EXPECT_EQ(progress.back(), 5);
    cancel = false;
    ctx.progress = {};
    auto next = DownloadThread(ctx);
    EXPECT_EQ(next.result, DownloadResult::Completed);
}

TEST_F(Upload, CancelDuringAnAcknowledgementWaitStillTakesTheAnswer) {
    device.faults().answerDelayMs = 1000;
    open();
    auto ctx = context();
    ctx.progress = [&](int p) {
        if (p == 1) cancel = true;  // frame 0 goes out; its answer comes a second later
    };
    auto out = UploadThread(ctx, patternImage(), Image{});
    EXPECT_EQ(out.result, UploadResult::Cancelled);
    EXPECT_EQ(out.framesSent, 1);
    ASSERT_EQ(line.writes().size(), 3u);
    EXPECT_EQ(line.writes().back().bytes, bytesOf(endFrame()));
    EXPECT_GE(line.writes().back().atMs, 2000);  // after both acknowledgements
}

// Cancelled while the upload command's answer is still awaited: the
// controller may already be in upload mode, so the end frame closes it.
TEST_F(Upload, CancelAtTheCommandStillSendsTheEndFrame) {
    struct CancelOnFirstWrite : sim::Device {
        sim::Device& inner;
        std::atomic<bool>& flag;
        CancelOnFirstWrite(sim::Device& d, std::atomic<bool>& f) : inner(d), flag(f) {}
        void received(const std::uint8_t* data, std::size_t n, sim::VirtualLine& l) override {
            flag = true;
            inner.received(data, n, l);
        }
        void opened(sim::VirtualLine& l) override { inner.opened(l); }
    } relay(device, cancel);
    device.faults().answerDelayMs = 3000;
    sim::VirtualLine l(clock, relay);
    ASSERT_TRUE(OpenPort(l, "COM8"));
    TransferContext ctx{l, clock, &cancel, {}, {}};
    const UploadOutcome out = UploadThread(ctx, patternImage(), Image{});
    EXPECT_EQ(out.result, UploadResult::Cancelled);
    EXPECT_EQ(out.framesSent, 0);
    ASSERT_EQ(l.writes().size(), 2u);
    EXPECT_EQ(l.writes().back().bytes, bytesOf(endFrame()));
}

TEST_F(Upload, ACommandWaitsForALineStillBusyWithAnEarlierDownload) {
    open();
    // The frames of a cancelled download still coming in, one every 140 ms.
    for (int i = 0; i < 50; ++i) line.send(Bytes(34, 0x5A), i * 140);
    auto ctx = context();
    auto out = UploadThread(ctx, patternImage(), Image{});
    EXPECT_EQ(out.result, UploadResult::Completed);
    ASSERT_FALSE(line.writes().empty());
    EXPECT_EQ(line.writes()[0].bytes, bytesOf(startUploadCommand()));
    EXPECT_GE(line.writes()[0].atMs, 49 * 140 + 200);  // 200 ms of quiet after the last
}

// A line that never goes quiet holds neither transfer for ever: the wait is
// announced after a second and given up after its bound, with nothing sent.
TEST_F(Upload, ALineThatNeverGoesQuietIsGivenUpAndSaidSo) {
    for (const bool isUpload : {true, false}) {
        SCOPED_TRACE(isUpload ? "upload" : "download");
        sim::VirtualClock c;
        sim::Controller dev;
        sim::VirtualLine l(c, dev);
        ASSERT_TRUE(OpenPort(l, "COM8"));
        for (int i = 0; i < 1000; ++i) l.send(Bytes(34, 0x5A), i * 140);  // 140 s of frames
        std::vector<std::int64_t> notices;
        TransferContext ctx{l, c, nullptr, {}, [&] { notices.push_back(c.nowMs()); }};
        const bool busy = isUpload ? UploadThread(ctx, patternImage(), kelvane::Image{}).result == UploadResult::LineBusy
                                   : DownloadThread(ctx).result == DownloadResult::LineBusy;
        EXPECT_TRUE(busy);
        EXPECT_GE(c.nowMs(), kQuietLineLimitMs);
        EXPECT_LE(c.nowMs(), kQuietLineLimitMs + 250);
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_GE(notices[0], kQuietLineNoticeMs);
        EXPECT_LE(notices[0], kQuietLineNoticeMs + 250);
        EXPECT_TRUE(l.writes().empty());
    }
    EXPECT_EQ(statusMessage(UploadResult::LineBusy), Message::LineBusy);
    EXPECT_EQ(statusMessage(DownloadResult::LineBusy), Message::LineBusy);
}

TEST_F(Upload, CancelDuringASlowAcknowledgementEndsTheSessionWithinAboutTwoSeconds) {
    device.faults().answerDelayMs = 3000;
    open();
    auto ctx = context();
    std::int64_t cancelledAt = -1;
    ctx.progress = [&](int p) {
        if (p == 2) {  // frame 1 goes out; its answer would come 3 s later
            cancel = true;
            cancelledAt = clock.nowMs();
        }
    };
    auto out = UploadThread(ctx, patternImage(), kelvane::Image{});
    EXPECT_EQ(out.result, UploadResult::Cancelled);
    ASSERT_EQ(out.framesSent, 2);
    EXPECT_TRUE(mayHoldNewBlocks(out));
    EXPECT_EQ(line.writes().back().bytes, bytesOf(endFrame()));
    EXPECT_LE(line.writes().back().atMs - cancelledAt, kCancelledAckMs + 400);
    EXPECT_LE(clock.nowMs() - cancelledAt, 2 * kCancelledAckMs + 600);
}

TEST_F(Upload, CancelWhileWaitingForAQuietLineSendsNothing) {
    open();
    for (int i = 0; i < 50; ++i) line.send(Bytes(34, 0x5A), i * 140);
    auto ctx = context();
    cancel = true;
    auto out = UploadThread(ctx, patternImage(), Image{});
    EXPECT_EQ(out.result, UploadResult::Cancelled);
    EXPECT_TRUE(line.writes().empty());
}

TEST_F(Upload, UploadAfterDownloadWithoutEditsSendsNoFrames) {
    device.image() = patternImage();
    auto down = download();
    ASSERT_EQ(down.result, DownloadResult::Completed);
    line.clearWrites();
    progress.clear();
    auto up = upload(down.image, down.image);
    EXPECT_EQ(up.result, UploadResult::Completed);
    EXPECT_EQ(up.framesSent, 0);
    EXPECT_EQ(line.writes().size(), 2u);
}

}  // namespace
}  // namespace kelvane::link::test
