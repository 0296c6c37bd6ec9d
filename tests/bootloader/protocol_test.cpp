#include "tests/bootloader/protocol_fixture.h"
#include "texts/upgrade_texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <ostream>

using namespace kelvane::bootloader;
namespace texts = kelvane::texts::upgrade;
using Script = kelvane::sim::BootloaderScript;

namespace {

const std::string kFlashError = texts::kFlashError;
const std::string kWrongDevice = texts::kWrongDevice;

Script answering(std::function<int(int, int, bool)> answer) {
    Script s;
    s.answer = std::move(answer);
    return s;
}

TEST(UpgradeRun, GoodRunProgramsTheWholeImageWithTheFixedPauses) {
    ProtocolBench b;
    EXPECT_EQ(b.run(), 1);
    const auto& m = b.device.model();
    EXPECT_EQ(m.flash(), *b.state.image);
    EXPECT_EQ(m.frames(), kBlockCount);
    EXPECT_EQ(m.badChecks(), 0);
    EXPECT_TRUE(m.ended());
    EXPECT_EQ(m.bytesAfterEnd(), 0u);
    EXPECT_EQ(b.line.written().back(), 0x58);

    const std::vector<std::string> shown = {"ID: 7 Ser: 1234 FV: 105", "Bootloader: BV: 1.2", " Programowanie w toku..."};
    EXPECT_EQ(b.view.shown, shown);
    EXPECT_EQ(b.view.status, "Zrobione!");
    EXPECT_EQ(b.view.calls.back(), "ended");
    EXPECT_EQ(b.view.ended, 1);
    EXPECT_EQ(b.view.low, 0);
    EXPECT_EQ(b.view.high, kBlockCount);
    EXPECT_EQ(b.view.position, kBlockCount);
    EXPECT_EQ(b.view.positionCalls, kBlockCount + 1);  // reset to 0, then one per block
    EXPECT_FALSE(b.line.isOpen());
    EXPECT_FALSE(b.state.portOpen);
    // 50 ms before the reset request, then 100 + 2,000 + 1,000 after the
    // banner and 2,000 before the banner check: nothing else waits.
    EXPECT_EQ(b.clock.nowMs(), 5150);
}

TEST(UpgradeRun, ResetRequestIsExactAndSentAt2400Baud) {
    ProtocolBench b;
    std::vector<kelvane::link::LineSettings> atByte;
    b.device.onByte = [&](std::uint8_t) { atByte.push_back(b.line.settings()); };
    ASSERT_TRUE(b.phaseA());
    const std::vector<std::uint8_t> reset = {0x52, 0x65, 0x73, 0x65, 0x74, 0x65, 0x4B, 0x4D};
    ASSERT_FALSE(b.line.writes().empty());
    EXPECT_EQ(b.line.writes()[0].bytes, reset);
    EXPECT_EQ(b.line.writes()[0].atMs, 50);
    EXPECT_EQ(std::accumulate(reset.begin(), reset.end(), 0), 0x300);
    ASSERT_EQ(atByte.size(), 8u);
    EXPECT_EQ(atByte[0].baud, 2400);
    EXPECT_EQ(atByte[0].stopBits, kelvane::link::StopBits::Two);
    EXPECT_EQ(b.line.settings().baud, 57600);
    EXPECT_EQ(b.line.settings().stopBits, kelvane::link::StopBits::One);
    // The DTR line and the parity mode are left as the port has them.
    for (const kelvane::link::LineSettings& s : {atByte[0], b.line.settings()}) {
        EXPECT_FALSE(s.setDtr);
        EXPECT_FALSE(s.setParity);
        EXPECT_FALSE(s.parityCheck);
    }
    EXPECT_EQ(b.state.timeouts.readInterval, 100);
    EXPECT_EQ(b.state.timeouts.writeTotalConstant, 100);
    EXPECT_EQ(b.view.status, "ID: 7 Ser: 1234 FV: 105");
    // Shown as it is built: cleared, then the pieces appended in order.
    const std::vector<std::string> calls = {"clear", "+ID: ", "+7", "+ Ser: ", "+1234", "+ FV: ", "+105"};
    EXPECT_EQ(b.view.calls, calls);
}

TEST(UpgradeRun, IdentityFieldsAreBigEndian) {
    Script s;
    s.identityReply = {0x33, 0xFF, 0xFF, 0xFE, 0x12, 0x34, 0xAA, 0xBB};
    ProtocolBench b(s);
    ASSERT_TRUE(b.phaseA());
    EXPECT_EQ(b.view.status, "ID: 255 Ser: 65534 FV: 4660");
}

TEST(UpgradeRun, NoIdentityReplyWaitsForTheBootloader) {
    Script s;
    s.identity = Script::Identity::Silent;
    ProtocolBench b(s);
    ASSERT_TRUE(b.phaseA());
    EXPECT_EQ(b.view.status, "Czekam na bootloader...");
    EXPECT_EQ(b.clock.nowMs(), 50 + 900 + 500);  // the 8-byte read times out, then 500 ms
    EXPECT_EQ(UpgradeWorker(b.state, b.link), WorkerEnd::Ended);
    EXPECT_EQ(b.view.status, "Zrobione!");
    EXPECT_EQ(b.device.model().flash(), *b.state.image);
}

TEST(UpgradeRun, WrongIdentityTypeClosesThePortAndSendsNothingMore) {
    Script s;
    s.identity = Script::Identity::WrongType;
    ProtocolBench b(s);
    EXPECT_FALSE(b.phaseA());
    EXPECT_EQ(b.view.status, kWrongDevice);
    EXPECT_FALSE(b.line.isOpen());
    EXPECT_FALSE(b.state.portOpen);
    EXPECT_EQ(b.line.writes().size(), 1u);
    EXPECT_EQ(b.clock.nowMs(), 50 + 500);
}

TEST(UpgradeRun, BusyPortIsReported) {
    ProtocolBench b;
    b.line.setBusy(true);
    EXPECT_FALSE(OpenUpgradePort(b.state, b.link, "COM3"));
    EXPECT_EQ(b.view.status, "Port w u\u017Cyciu");
    EXPECT_FALSE(b.state.portOpen);
    EXPECT_EQ(b.state.portDeviceName, "COM3");
}

TEST(UpgradeRun, ErasedAndCountingBlocksTravelWithTheirChecksInOneWrite) {
    ProtocolBench b;
    auto& img = *b.state.image;
    for (int i = 0; i < 16; ++i) img[i] = static_cast<std::uint8_t>(i);
    std::fill(img.begin() + 16, img.begin() + 32, 0xFF);
    ASSERT_EQ(b.run(), 1);
    const auto& log = b.device.model().frameLog();
    std::vector<std::uint8_t> counting = {0x56};
    for (int i = 0; i < 16; ++i) counting.push_back(static_cast<std::uint8_t>(i));
    counting.insert(counting.end(), {0x62, 0xD5});
    std::vector<std::uint8_t> erased(17, 0xFF);
    erased[0] = 0x56;
    erased.insert(erased.end(), {0xFE, 0x80});
    EXPECT_EQ(log.at(0), counting);
    EXPECT_EQ(log.at(1), erased);

    const auto& w = b.line.writes();
    auto first = std::find_if(w.begin(), w.end(), [](const auto& x) { return x.bytes.size() == 19; });
    ASSERT_NE(first, w.end());
    EXPECT_EQ(first->bytes, counting);
    EXPECT_EQ((first + 1)->bytes, erased);
    // Every block, resent or not, goes out as one write.
    EXPECT_EQ(
        static_cast<std::size_t>(std::count_if(w.begin(), w.end(), [](const auto& x) { return x.bytes.size() == 19; })),
        log.size());
}

TEST(BlockAnswers, RefusalsDuringTheFirstFourSendingsOnlyResend) {
    // 0x10 four times, then 0x20: accepted. 0x11 and stray bytes the same.
    for (int refusal : {0x10, 0x11, 0x42, 0x00}) {
        ProtocolBench b(
            answering([refusal](int block, int sending, bool) { return block == 5 && sending <= 4 ? refusal : 0x20; }));
        EXPECT_EQ(b.run(), 1) << refusal;
        EXPECT_EQ(b.view.status, "Zrobione!") << refusal;
        EXPECT_EQ(b.dataFrames(), static_cast<std::size_t>(kBlockCount + 4));
        EXPECT_EQ(b.device.model().flash(), *b.state.image);
    }
}

TEST(BlockAnswers, RefusalOnTheFifthSendingEndsTheRun) {
    for (int refusal : {0x10, 0x11}) {
        ProtocolBench b(answering([refusal](int block, int, bool) { return block == 9 ? refusal : 0x20; }));
        EXPECT_EQ(b.programAfterPhaseA(), refusal);
        EXPECT_EQ(b.dataFrames(), 9u + 5u);      // nine blocks, then five sendings of block 9
        EXPECT_FALSE(b.device.model().ended());  // no end byte after a failure
    }
    ProtocolBench b(answering([](int block, int, bool) { return block == 9 ? 0x11 : 0x20; }));
    EXPECT_EQ(b.run(), 1);
    EXPECT_EQ(b.view.status, kFlashError);
    EXPECT_EQ(b.view.ended, 1);
    EXPECT_FALSE(b.line.isOpen());
}

TEST(BlockAnswers, SilenceMeansSevenSendingsThenFailure) {
    ProtocolBench b(answering([](int block, int, bool) { return block == 3 ? -1 : 0x20; }));
    ASSERT_TRUE(b.phaseA());
    const auto before = b.clock.nowMs();
    EXPECT_EQ(ProgramImage(b.state, b.link), kProgramNoAcceptance);
    EXPECT_EQ(b.dataFrames(), 3u + 7u);
    // 2,000 ms before the banner check, then seven 200 ms reads of block 3.
    EXPECT_EQ(b.clock.nowMs() - before, 2000 + 7 * 200);
}

TEST(BlockAnswers, AcceptanceOnTheSeventhSendingComesTooLate) {
    ProtocolBench b(answering([](int block, int sending, bool) { return block == 3 && sending < 7 ? -1 : 0x20; }));
    EXPECT_EQ(b.programAfterPhaseA(), kProgramNoAcceptance);
    EXPECT_EQ(b.dataFrames(), 3u + 7u);

    ProtocolBench sixth(answering([](int block, int sending, bool) { return block == 3 && sending < 6 ? -1 : 0x20; }));
    EXPECT_EQ(sixth.programAfterPhaseA(), kProgramOk);
    EXPECT_EQ(sixth.device.model().flash(), *sixth.state.image);
}

// Answers carry no block number: an answer later than the read waits for it
// means the bootloader took the frame, and the resend goes in as the next
// block. That run must fail without the end byte, not report a shifted
// firmware as done; a lost answer, or one late within the read, changes
// nothing.
TEST(BlockAnswers, AnAnswerLaterThanTheReadFailsTheRunInsteadOfShiftingTheFirmware) {
    const struct {
        int delayMs;  // of the answer to block 6's first sending; -1: lost
        std::uint8_t result;
        std::size_t frames;
    } cases[] = {
        {300, kProgramOutOfStep, kBlockCount + 1},
        {-1, kProgramOk, kBlockCount + 1},
        {150, kProgramOk, kBlockCount},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.delayMs);
        ProtocolBench b(answering(
            [&c](int block, int sending, bool) { return c.delayMs < 0 && block == 6 && sending == 1 ? -1 : 0x20; }));
        b.device.beforeByte = [&](std::uint8_t) {
            b.device.answerDelayMs = c.delayMs > 0 && b.device.model().frames() == 6 ? c.delayMs : 0;
        };
        EXPECT_EQ(b.programAfterPhaseA(), c.result);
        EXPECT_EQ(b.dataFrames(), c.frames);
        EXPECT_EQ(b.device.model().ended(), c.result == kProgramOk) << "the end byte only after a run in step";
        if (c.result == kProgramOk) {
            EXPECT_EQ(b.device.model().flash(), *b.state.image);
        }
    }
}

TEST(BlockAnswers, TheSimulatedBootloaderRefusesBadChecks) {
    kelvane::sim::BootloaderModel m;
    for (char c : std::string("ReseteKM")) m.feed(static_cast<std::uint8_t>(c));
    auto sendFrame = [&m](const std::vector<std::uint8_t>& frame) {
        std::vector<std::uint8_t> answer;
        for (auto byte : frame) answer = m.feed(byte);
        return answer;
    };
    std::vector<std::uint8_t> frame(19, 0x00);
    frame[0] = 0x56;  // sixteen zero bytes, check 0x0000
    EXPECT_EQ(sendFrame(frame), std::vector<std::uint8_t>{0x20});
    frame[5] = 1;
    EXPECT_EQ(sendFrame(frame), std::vector<std::uint8_t>{0x10});
    EXPECT_EQ(m.badChecks(), 1);
    EXPECT_EQ(m.blocksAccepted(), 1);
}

// A run stopped after some blocks and started again greets the bootloader with
// wake-up bytes; its blocks must land from block 0 again, not after the
// blocks of the stopped run.
TEST(BlockAnswers, TheSimulatedBootloaderStartsAgainAtBlockZeroAfterAWakeUp) {
    kelvane::sim::BootloaderModel m;
    for (char c : std::string("ReseteKM")) m.feed(static_cast<std::uint8_t>(c));
    auto sendBlock = [&m](std::uint8_t fill) {
        std::uint8_t frame[19] = {0x56};
        std::fill(frame + 1, frame + 17, fill);
        const std::uint16_t c = kelvane::sim::BootloaderModel::check(frame + 1);
        frame[17] = static_cast<std::uint8_t>(c);
        frame[18] = static_cast<std::uint8_t>(c >> 8);
        std::vector<std::uint8_t> answer;
        for (auto byte : frame) answer = m.feed(byte);
        return answer;
    };
    m.feed(0x55);
    ASSERT_EQ(sendBlock(0x11), std::vector<std::uint8_t>{0x20});
    ASSERT_EQ(sendBlock(0x22), std::vector<std::uint8_t>{0x20});
    EXPECT_FALSE(m.feed(0x55).empty());  // the new run's banner
    EXPECT_EQ(m.blocksAccepted(), 0);
    ASSERT_EQ(sendBlock(0x33), std::vector<std::uint8_t>{0x20});
    EXPECT_EQ(m.flash()[0], 0x33);
    EXPECT_EQ(m.flash()[16], 0x22);  // the stopped run's block stays until overwritten
    EXPECT_EQ(m.flash()[32], 0xFF);
}

TEST(Banner, UpperCaseBannerAloneSendsNoDataFrame) {
    Script s;
    s.banner = Script::Banner::UpperOnly;
    ProtocolBench b(s);
    EXPECT_EQ(b.run(), 1);
    EXPECT_EQ(b.dataFrames(), 0u);
    EXPECT_EQ(b.view.shown.at(1), "Bootloader: BV: 1.2");
    EXPECT_EQ(b.view.status, kFlashError);
    // One for the banner wait, one after it, three for the banner check.
    EXPECT_EQ(b.device.model().wakeUps(), 5);
    EXPECT_FALSE(b.device.model().ended());
}

TEST(Banner, WrongDeviceTypeEndsTheRunWithoutProgramming) {
    Script s;
    s.banner = Script::Banner::WrongType;
    s.versionMajor = 3;
    s.versionMinor = 14;
    ProtocolBench b(s);
    EXPECT_EQ(b.run(), 1);
    EXPECT_EQ(b.dataFrames(), 0u);
    EXPECT_EQ(b.view.shown.back(), "Bootloader: BV: 3.14");
    EXPECT_EQ(b.view.status, kWrongDevice);
    EXPECT_EQ(b.view.ended, 1);
    EXPECT_EQ(b.view.positionCalls, 0);
    EXPECT_FALSE(b.line.isOpen());
}

TEST(Banner, WakeUpBytesRepeatEverySecondUntilTheBanner) {
    Script s;
    s.identity = Script::Identity::Silent;
    s.silentWakeUps = 4;
    ProtocolBench b(s);
    ASSERT_TRUE(b.phaseA());
    const auto start = b.clock.nowMs();
    ASSERT_EQ(UpgradeWorker(b.state, b.link), WorkerEnd::Ended);
    std::vector<std::int64_t> wakeTimes;
    for (const auto& w : b.line.writes())
        if (w.bytes == std::vector<std::uint8_t>{0x55}) wakeTimes.push_back(w.atMs - start);
    ASSERT_GE(wakeTimes.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(wakeTimes[i], i * 1000);  // four silent reads of 1,000 ms
    EXPECT_EQ(b.view.status, "Zrobione!");
}

// Stray bytes ahead of a banner (a late identity reply, noise at the speed
// change) must not put every later read out of step with the banners.
TEST(Banner, StrayBytesBeforeABannerAreSkipped) {
    struct Case {
        int wakeUp;  // the stray bytes come with the answer to this wake-up byte (1st: the banner wait)
        std::size_t stray;
    } cases[] = {{1, 4}, {1, 6}, {1, 8}, {3, 4}, {3, 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.wakeUp) + "/" + std::to_string(c.stray));
        ProtocolBench b;
        int wakeUps = 0;
        b.device.beforeByte = [&](std::uint8_t byte) {
            if (byte != kWakeUp || b.dataFrames() > 0) return;  // block bytes are no wake-ups
            if (++wakeUps == c.wakeUp) b.line.send(std::vector<std::uint8_t>(c.stray, 'o'));
            if (wakeUps == 50 && !b.stop.requested()) b.clock.pressStop();  // out of step for good
        };
        ASSERT_TRUE(b.phaseA());
        EXPECT_EQ(UpgradeWorker(b.state, b.link), WorkerEnd::Ended);
        EXPECT_EQ(b.view.status, "Zrobione!");
    }
}

TEST(Banner, StaleBannerOfAnEarlierRunIsNotTakenForANewOne) {
    Script wrong;
    wrong.banner = Script::Banner::WrongType;
    ProtocolBench first(wrong);
    ASSERT_EQ(first.run(), 1);
    ASSERT_EQ(first.view.status, kWrongDevice);

    // The same record, a controller whose bootloader stays silent.
    Script silent;
    silent.banner = Script::Banner::None;
    ProtocolBench second(silent);
    second.state.image = std::move(first.state.image);
    second.state.receive = first.state.receive;  // still holds the old banner
    second.clock.stopAt = 60000;
    EXPECT_EQ(second.run(), 0);
    EXPECT_EQ(second.view.status, "ID: 7 Ser: 1234 FV: 105");
    EXPECT_GE(second.device.model().wakeUps(), 55);
}

// --- Stop ---

struct StopCase {
    const char* name;
    std::function<void(ProtocolBench&)> arm;
};

// Shown in the test list instead of a dump of the case's bytes.
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopAnywhere : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopAnywhere, NothingIsSentOrShownAfterStopAndThePortIsClosed) {
    ProtocolBench b;
    GetParam().arm(b);
    EXPECT_EQ(b.run(), 0);
    ASSERT_TRUE(b.stop.requested());
    EXPECT_EQ(b.line.writes().size(), b.clock.writesAtStop);
    EXPECT_EQ(b.view.callCount(), b.clock.callsAtStop);
    EXPECT_EQ(b.view.ended, 0);
    EXPECT_FALSE(b.line.isOpen());
    EXPECT_FALSE(b.state.portOpen);
    EXPECT_FALSE(b.device.model().ended());  // no end byte
}

INSTANTIATE_TEST_SUITE_P(
    Moments, StopAnywhere,
    ::testing::Values(StopCase{"BannerWaitThatNeverEnds",
                               [](ProtocolBench& b) {
                                   b.device.model() = kelvane::sim::BootloaderModel([] {
                                       Script s;
                                       s.banner = Script::Banner::None;
                                       return s;
                                   }());
                                   b.clock.stopAt = 3'600'000;  // an hour of wake-up bytes, then Stop
                               }},
                      StopCase{"PauseAfterTheBanner", [](ProtocolBench& b) { b.clock.stopAt = 1000; }},
                      StopCase{"PauseBeforeTheBannerCheck", [](ProtocolBench& b) { b.clock.stopAt = 4000; }},
                      StopCase{"InTheMiddleOfAFrame",
                               [](ProtocolBench& b) {
                                   int bytes = 0;
                                   b.stopWhen([bytes](std::uint8_t) mutable { return ++bytes == 8 + 3 + 19 * 100 + 5; });
                               }},
                      StopCase{"WhileABlockAnswerIsAwaited",
                               [](ProtocolBench& b) {
                                   b.device.model() =
                                       kelvane::sim::BootloaderModel(answering([](int, int, bool) { return -1; }));
                                   b.clock.stopAt = 5150 + 300;
                               }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

TEST(OpenUpgradePort, TheCauseOfAFailedOpenIsItsDetail) {
    using kelvane::link::OpenFailure;
    struct Case {
        OpenFailure failure;
        bool onLinux;
        std::string detail;
    } cases[] = {
        {OpenFailure::NoSuchPort, true, texts::kPortMissing},
        {OpenFailure::Busy, true, texts::kPortHeld},
        {OpenFailure::NoPermission, true, std::string(texts::kPortNoPermission) + "\n" + texts::kDialoutFix},
        {OpenFailure::NoPermission, false, texts::kPortNoPermission},
        {OpenFailure::Unknown, true, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(texts::openFailureDetail(c.failure, c.onLinux), c.detail) << int(c.failure);
}
