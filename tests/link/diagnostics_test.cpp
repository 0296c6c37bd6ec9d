// Traces of line sessions, their masking, and the line test, in virtual time.
#include "image/secret_mask.h"
#include "link/line_test.h"
#include "link/port.h"
#include "link/port_change.h"
#include "link/trace_mask.h"
#include "link/traced_line.h"
#include "link/transfer.h"
#include "sim/controller.h"
#include "sim/loopback_device.h"
#include "sim/sample_building.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>

namespace {

using namespace kelvane;

// The 34-byte chunks read (<) or written (>) in a trace, in order.
std::vector<std::vector<std::uint8_t>> frames34(const std::string& trace, char direction) {
    std::vector<std::vector<std::uint8_t>> frames;
    std::istringstream in(trace);
    const std::string mark = std::string("  ") + direction + " 34  ";
    for (std::string line; std::getline(in, line);) {
        const auto at = line.find(mark);
        if (at == std::string::npos) continue;
        std::vector<std::uint8_t> bytes;
        for (std::size_t p = at + 8; bytes.size() < 34; p += 3)
            bytes.push_back(static_cast<std::uint8_t>(std::stoi(line.substr(p, 2), nullptr, 16)));
        frames.push_back(bytes);
    }
    return frames;
}

TEST(LineTrace, DownloadTraceHoldsEveryFrameMaskedCopyHidesTheirSecretsAndAFailingTraceChangesNothing) {
    enum class Output { Works, Refuses, Throws };
    for (Output mode : {Output::Works, Output::Refuses, Output::Throws}) {
        SCOPED_TRACE(static_cast<int>(mode));
        const Image original = SampleBuildingImage();
        sim::VirtualClock clock;
        sim::Controller device(original);
        sim::VirtualLine virtualLine(clock, device);
        virtualLine.setPaced(true);
        std::string trace;
        int calls = 0;
        link::TracedLine line(
            virtualLine,
            [&](const std::string& text) {
                if (mode != Output::Works && ++calls > 3) {
                    if (mode == Output::Throws) throw std::runtime_error("disk full");
                    return false;
                }
                trace += text;
                return true;
            },
            "test 1.0", [&] { return clock.nowMs() * 1000; });
        ASSERT_TRUE(link::OpenPort(line, "COM8"));
        link::TransferContext ctx{line, clock, nullptr, {}, {}};
        const link::DownloadOutcome out = link::DownloadThread(ctx);
        // The same image sent back whole: its frames go the other way.
        const link::UploadOutcome up = link::UploadThread(ctx, original, erasedImage());
        line.close();
        EXPECT_EQ(up.result, link::UploadResult::Completed);
        ASSERT_EQ(out.result, link::DownloadResult::Completed);
        EXPECT_EQ(out.image, original);
        if (mode != Output::Works) {
            EXPECT_EQ(trace.find("< 34"), std::string::npos) << "nothing after the trace failed";
            continue;
        }
        EXPECT_NE(trace.find("# port: COM8"), std::string::npos);
        EXPECT_NE(trace.find("line 2400 baud"), std::string::npos);
        EXPECT_NE(trace.find("> 8  44 65 62 4D 65 6D 36 A0  |DebMem6.|"), std::string::npos);

        Image masked = original;
        MaskSecrets(masked);
        // A trace cut after the download's command (a bundle takes the end of a long one) is masked as well.
        const std::string cut = trace.substr(trace.find('\n', trace.find("|DebMem6.|")) + 1);
        for (const auto& [text, image] : std::map<std::string, Image>{
                 {trace, original}, {link::MaskTrace(trace), masked}, {link::MaskTrace(cut), masked}}) {
            for (char direction : {'<', '>'}) {
                std::vector<bool> seen(kBlockCount);
                for (const auto& f : frames34(text, direction)) {
                    const unsigned index = f[0] | (f[1] << 8);
                    if (index == link::kEndFrameIndex) continue;
                    ASSERT_LT(index, kBlockCount);
                    seen[index] = true;
                    EXPECT_TRUE(std::equal(f.begin() + 2, f.end(), image.begin() + index * kBlockSize))
                        << direction << " block " << index;
                }
                EXPECT_EQ(std::count(seen.begin(), seen.end(), true),
                          direction == '<' ? static_cast<long>(kBlockCount) : up.framesSent);
            }
        }
        EXPECT_NE(masked, original);
    }
}

// A read's line waits for the next call on the line, so that the write
// answering it is not held up by the file; it still reaches the output
// once, in order, whatever comes next, and when the trace ends.
TEST(LineTrace, AReadsLineFollowsInOrderWithTheNextCallAndIsNeverLost) {
    const std::uint8_t ping[3] = {'a', 'b', 'c'};
    const std::function<void(link::TracedLine&)> nextCalls[] = {
        [&](link::TracedLine& l) { l.write(ping, 3); },
        [](link::TracedLine& l) { l.close(); },
        [](link::TracedLine& l) { l.interrupt(); },
        [](link::TracedLine& l) {
            std::uint8_t b[1];
            l.read(b, 1);
        },
        [](link::TracedLine&) {},  // the trace ends
    };
    for (std::size_t k = 0; k < std::size(nextCalls); ++k) {
        SCOPED_TRACE(k);
        sim::VirtualClock clock;
        sim::LoopbackDevice plug;
        sim::VirtualLine virtualLine(clock, plug);
        std::string trace;
        {
            link::TracedLine line(
                virtualLine,
                [&](const std::string& text) {
                    trace += text;
                    return true;
                },
                "test 1.0", [&] { return clock.nowMs() * 1000; });
            ASSERT_TRUE(line.open("COM8"));
            line.write(ping, 3);
            std::uint8_t back[3] = {};
            ASSERT_EQ(line.read(back, 3), 3u);
            nextCalls[k](line);
        }
        const std::size_t read = trace.find("< 3  61 62 63");
        ASSERT_NE(read, std::string::npos) << trace;
        EXPECT_EQ(trace.find("< 3  61 62 63", read + 1), std::string::npos) << "once";
        EXPECT_LT(trace.find("> 3  61 62 63"), read);
        const std::string after = trace.substr(read);
        const char* const next[] = {"> 3", "close", "interrupt", "< 0 of 1", ""};
        EXPECT_NE(after.find(next[k]), std::string::npos) << trace;
    }
}

TEST(LineTest, EchoComparisonCountsEachFault) {
    const std::vector<std::uint8_t> sent = {1, 2, 3, 4, 5, 6};
    const struct {
        std::vector<std::uint8_t> back;
        int lost, changed, extra;
    } cases[] = {{{1, 2, 3, 4, 5, 6}, 0, 0, 0},
                 {{1, 2, 4, 5, 6}, 1, 0, 0},
                 {{1, 2, 9, 4, 5, 6}, 0, 1, 0},
                 {{1, 2, 3, 4, 5, 6, 7}, 0, 0, 1},
                 {{}, 6, 0, 0},
                 {{1, 2, 3}, 3, 0, 0}};
    for (const auto& c : cases) {
        const link::LoopbackPass p = link::compareEcho(sent, c.back);
        EXPECT_EQ(p.lost, c.lost);
        EXPECT_EQ(p.changed, c.changed);
        EXPECT_EQ(p.extra, c.extra);
    }
}

TEST(LineTest, LoopbackReportsLossesAndAControllerIsProbed) {
    sim::LoopbackDevice clean, lossy(100);
    sim::Controller controller(SampleBuildingImage());
    const struct {
        const char* name;
        sim::Device& device;
        bool loopback;
        bool lost;
    } cases[] = {{"clean loopback", clean, true, false},
                 {"loopback losing bytes", lossy, true, true},
                 {"controller", controller, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::VirtualClock clock;
        sim::VirtualLine line(clock, c.device);
        line.setPaced(true);
        ASSERT_TRUE(link::OpenPort(line, "COM8"));
        const link::LineTestReport r = link::RunLineTest(line, clock);
        EXPECT_EQ(r.loopback, c.loopback);
        if (c.loopback) {
            ASSERT_EQ(r.passes.size(), 2u);
            for (const auto& p : r.passes) {
                EXPECT_EQ(p.clean(), !c.lost) << p.baud;
                EXPECT_EQ(p.lost > 0, c.lost) << p.baud;
                EXPECT_EQ(p.changed, 0);
            }
            EXPECT_GT(r.passes[0].roundTrip.minMs, 4.0) << "a byte there and back at 2400 baud";
            EXPECT_EQ(line.settings().baud, 2400) << "the line is left at the controller's speed";
        } else {
            EXPECT_EQ(r.probes, link::kProbeRounds);
            EXPECT_EQ(r.answers, link::kProbeRounds);
        }
    }
}

TEST(FindAdapter, ThePortThatAppearedIsChosenUsbFirst) {
    const link::PortInfo s0{"ttyS0", "/dev/ttyS0", "", "", "", false, ""};
    const link::PortInfo acm{"ttyACM0", "/dev/ttyACM0", "modem", "", "", false, ""};
    const link::PortInfo usb0{"ttyUSB0", "/dev/ttyUSB0", "FT232R", "FTDI", "A1", true, "0403:6001"};
    const link::PortInfo usb1{"ttyUSB1", "/dev/ttyUSB1", "CP2102", "", "", true, "10c4:ea60"};
    const struct {
        std::vector<link::PortInfo> before, after;
        std::string chosen;  // empty: none
    } cases[] = {{{s0}, {usb0, s0}, "ttyUSB0"},
                 {{s0, usb0}, {s0, usb0}, ""},
                 {{s0, usb0}, {s0}, ""},
                 {{s0}, {s0, acm, usb1, usb0}, "ttyUSB0"},
                 {{s0}, {acm, s0}, "ttyACM0"}};
    for (const auto& c : cases) {
        const auto found = link::appearedPort(c.before, c.after);
        EXPECT_EQ(found ? found->name : "", c.chosen);
    }
}

}  // namespace
