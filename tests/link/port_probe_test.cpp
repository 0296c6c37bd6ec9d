#include "link/command_frame.h"
#include "link/messages.h"
#include "link/probe.h"
#include "tests/link/protocol_fixture.h"

namespace kelvane::link::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(CommandFrame, CommandsHaveTheirExactBytesAndSumToZero) {
    EXPECT_EQ(startDownloadCommand(), (Command{0x44, 0x65, 0x62, 0x4D, 0x65, 0x6D, 0x36, 0xA0}));
    EXPECT_EQ(startUploadCommand(), (Command{0x44, 0x65, 0x62, 0x4D, 0x65, 0x6D, 0x37, 0x9F}));
    // The probe's last letter is the checksum of "IsThere".
    EXPECT_EQ(makeCommand("IsThere"), kProbeRequest);
    for (const Command& c : {startDownloadCommand(), startUploadCommand(), makeCommand("ReseteK"), kProbeRequest}) {
        unsigned sum = 0;
        for (auto b : c) sum += b;
        EXPECT_EQ(sum % 256, 0u);
    }
}

TEST(PortNameRule, Win32PrefixOnlyInTheDeviceNamespace) {
    EXPECT_STREQ(kInitialPortName, "COM8");
    EXPECT_EQ(PortName("COM8", true), "\\\\.\\COM8");
    EXPECT_EQ(PortName("Wybierz port COM", true), "\\\\.\\Wybierz port COM");
    EXPECT_EQ(PortName("", true), "\\\\.\\");
    EXPECT_EQ(PortName("/dev/ttyUSB0", false), "/dev/ttyUSB0");
    EXPECT_EQ(PortName("", false), "");
#ifndef _WIN32
    EXPECT_EQ(PortName("/dev/pts/5"), "/dev/pts/5");
#endif
}

TEST(StatusFormat, FillsUnsignedNumbersToTheirFullRange) {
    const std::uint8_t high[8] = {0xAA, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0xAA};
    EXPECT_EQ(formatPortStatus("%d %d %d", "", decodeProbeReply(high)), "255 65535 65535");
}

TEST(StatusFormat, UnknownOrSurplusConversionsStayAsWritten) {
    ProbeReply r{1, 2, 3};
    EXPECT_EQ(formatPortStatus("%s %d %d %d %d %x 100%% %", "P", r), "P 1 2 3 %d %x 100% %");
}

class OpenAndProbe : public LinkTest {};

TEST_F(OpenAndProbe, OpenPortAppliesTheControllerTimeouts) {
    line.setPortName("\\\\.\\COM3");
    EXPECT_FALSE(OpenPort(line, "\\\\.\\COM4"));
    ASSERT_TRUE(OpenPort(line, "\\\\.\\COM3"));
    EXPECT_EQ(line.settings().baud, 2400);
    EXPECT_EQ(line.settings().dataBits, 8);
    EXPECT_FALSE(line.settings().dtr);
    EXPECT_TRUE(line.settings().setDtr);                   // the controller's line needs DTR off
    EXPECT_EQ(line.timeouts().writeTotalMultiplier, 100);  // a 34-byte frame may take 3.9 s
    EXPECT_EQ(line.timeouts().writeTotalConstant, 500);
    EXPECT_TRUE(line.settings().setParity);
    EXPECT_FALSE(line.settings().parityCheck);
    std::uint8_t buf[34];
    auto t0 = clock.nowMs();
    EXPECT_EQ(line.read(buf, 8), 0u);  // 100 * 8 + 100
    EXPECT_EQ(clock.nowMs() - t0, 900);
    t0 = clock.nowMs();
    EXPECT_EQ(line.read(buf, 34), 0u);
    EXPECT_EQ(clock.nowMs() - t0, 3500);
}

TEST_F(OpenAndProbe, BusyPortDoesNotOpen) {
    line.setBusy(true);
    EXPECT_FALSE(OpenPort(line, "COM8"));
}

TEST_F(OpenAndProbe, ReplyIsDecodedUnsigned) {
    device.setIdentity({0x00, 0x05, 0x34, 0x12, 0xFF, 0xFF, 0x00, 0x00});
    open();
    auto r = probe(line);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->id, 5);
    EXPECT_EQ(r->serialNumber, 4660);
    EXPECT_EQ(r->firmware, 65535);
    EXPECT_EQ(line.written(), Bytes(kProbeRequest.begin(), kProbeRequest.end()));
}

TEST_F(OpenAndProbe, ShortRepliesAreNeverJoined) {
    device.faults().probeChunk = 4;  // 4 bytes, a pause, 4 bytes
    open();
    EXPECT_FALSE(probe(line));
}

TEST_F(OpenAndProbe, NoReplyGivesUpAfterThreeReads) {
    device.faults().silent = true;
    open();
    EXPECT_FALSE(probe(line));
    EXPECT_EQ(clock.nowMs(), 3 * 900);
}

TEST_F(OpenAndProbe, SevenBytesAreNotAnAnswer) {
    device.faults().probeBytes = 7;
    open();
    EXPECT_FALSE(probe(line));
}

TEST_F(OpenAndProbe, LateFullReplyIsTakenByALaterRead) {
    device.faults().answerDelayMs = 1500;  // after the first read's 900 ms
    open();
    auto r = probe(line);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->serialNumber, 4660);
}

}  // namespace
}  // namespace kelvane::link::test

namespace kelvane::link::test {

TEST(PortProbe, EachOpenFailureCauseHasItsLines) {
    using link::OpenFailure;
    struct Case {
        OpenFailure failure;
        bool onLinux;
        std::vector<Message> lines;
    } cases[] = {
        {OpenFailure::NoSuchPort, true, {Message::PortMissing}},
        {OpenFailure::Busy, true, {Message::PortHeld}},
        {OpenFailure::NoPermission, true, {Message::PortNoPermission, Message::PortDialoutFix}},
        {OpenFailure::NoPermission, false, {Message::PortNoPermission}},
        {OpenFailure::Unknown, true, {}},
        {OpenFailure::None, true, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(openFailureMessages(c.failure, c.onLinux), c.lines) << int(c.failure);
}

}  // namespace kelvane::link::test
