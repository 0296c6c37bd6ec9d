// Traces of line sessions, their masking, and the line test, in virtual time.
#include "image/secret_mask.h"
#include "link/line_test.h"
#include "link/port.h"
#include "link/port_change.h"
#include "link/trace_mask.h"
#include "link/traced_line.h"
#include "link/transfer.h"
#include "image/codecs.h"
#include "link/command_frame.h"
#include "sim/controller.h"
#include "sim/loopback_device.h"
#include "sim/sample_building.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <map>
#include <set>
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
        const Image original = sampleBuildingImage();
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
        maskSecrets(masked);
        // A trace cut after the download's command (a bundle takes the end of a long one) is masked as well.
        const std::string cut = trace.substr(trace.find('\n', trace.find("|DebMem6.|")) + 1);
        for (const auto& [text, image] : std::map<std::string, Image>{
                 {trace, original}, {link::maskTrace(trace), masked}, {link::maskTrace(cut), masked}}) {
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

using Bytes = std::vector<std::uint8_t>;

// The frames of a download of img, one after another.
Bytes downloadStream(const Image& img) {
    Bytes s;
    for (std::size_t b = 0; b < kBlockCount; ++b) {
        const link::Frame f = link::makeFrame(static_cast<std::uint16_t>(b), img.data() + b * kBlockSize);
        s.insert(s.end(), f.begin(), f.end());
    }
    return s;
}

std::uint32_t word(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }

// Runs of four secret bytes of img that a masked trace must not show: those
// its masked frames do not show anyway.
std::set<std::uint32_t> secretRuns(const Image& img) {
    Image masked = img;
    maskSecrets(masked);
    const Bytes legit = downloadStream(masked);
    std::set<std::uint32_t> shown, runs;
    for (std::size_t i = 0; i + 4 <= legit.size(); ++i) shown.insert(word(&legit[i]));
    for (std::size_t off = 0; off + 4 <= kImageSize; ++off)
        if (isSecretByte(off) && isSecretByte(off + 1) && isSecretByte(off + 2) && isSecretByte(off + 3) &&
            !shown.count(word(&img[off])))
            runs.insert(word(&img[off]));
    return runs;
}

// A secret run the trace's data lines show, each direction's bytes joined
// across lines; empty when none.
std::string leakedRun(const std::string& trace, const std::set<std::uint32_t>& runs) {
    std::map<char, Bytes> streams;
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string time, direction, count, w;
        if (!(words >> time >> direction >> count) || (direction != "<" && direction != ">")) continue;
        if (words >> w && w == "of") words >> w >> w;  // past "of <asked>"
        for (; w.size() == 2 && std::isxdigit(w[0]) && std::isxdigit(w[1]); w = (words >> w) ? w : "")
            streams[direction[0]].push_back(static_cast<std::uint8_t>(std::stoi(w, nullptr, 16)));
    }
    for (const auto& [direction, s] : streams)
        for (std::size_t i = 0; i + 4 <= s.size(); ++i)
            if (runs.count(word(&s[i]))) return std::string(1, direction) + " " + link::traceBytes(&s[i], 4);
    return {};
}

// A trace as the line writes it, with one line per chunk.
std::string traceText(const std::vector<std::pair<char, Bytes>>& chunks, bool header = true) {
    std::string t = header ? "# Kelvane line trace\n# port: COM8\n         100  open COM8: ok\n" : "";
    for (const auto& [direction, b] : chunks)
        t += "         200  " + std::string(1, direction) + " " + std::to_string(b.size()) +
             (direction == '<' && b.size() < link::kFrameBytes ? " of 34" : "") + "  " +
             link::traceBytes(b.data(), b.size()) + "\n";
    return t;
}

// Cuts a stream into reads of the given sizes, over and over.
std::vector<std::pair<char, Bytes>> reads(const Bytes& s, std::vector<std::size_t> sizes, std::size_t from = 0) {
    std::vector<std::pair<char, Bytes>> out;
    for (std::size_t at = from, k = 0; at < s.size(); ++k) {
        const std::size_t n = std::min(sizes[k % sizes.size()], s.size() - at);
        out.push_back({'<', Bytes(s.begin() + static_cast<long>(at), s.begin() + static_cast<long>(at + n))});
        at += n;
    }
    return out;
}

// Splits one frame of a download: its first 20 bytes, a pause, the rest.
struct SplitFrame : sim::Tap {
    int frame = 0;
    int seen = 0;
    void toDevice(const std::uint8_t* data, std::size_t n, sim::Device& device, sim::VirtualLine& line) override {
        device.received(data, n, line);
    }
    void toProgram(const Bytes& bytes, int delayMs, sim::VirtualLine& line) override {
        if (bytes.size() != link::kFrameBytes || seen++ != frame) return line.deliver(bytes, delayMs);
        line.deliver(Bytes(bytes.begin(), bytes.begin() + 20), delayMs);
        line.deliver(Bytes(bytes.begin() + 20, bytes.end()), int(line.pendingUntilMs() - double(line.nowMs())) + 300);
    }
};

// A download through the line, traced.
std::string downloadTrace(const Image& img, sim::Tap* tap) {
    sim::VirtualClock clock;
    sim::Controller device(img);
    sim::VirtualLine virtualLine(clock, device);
    virtualLine.setPaced(true);
    virtualLine.setTap(tap);
    std::string trace;
    link::TracedLine line(
        virtualLine,
        [&](const std::string& text) {
            trace += text;
            return true;
        },
        "test 1.0", [&] { return clock.nowMs() * 1000; });
    EXPECT_TRUE(link::OpenPort(line, "COM8"));
    link::TransferContext ctx{line, clock, nullptr, {}, {}};
    link::DownloadThread(ctx);
    line.close();
    return trace;
}

// Whatever the line did to the frames, a masked trace shows no run of four
// secret bytes, neither within a line nor across lines, and says what it
// still can.
TEST(LineTrace, AMaskedTraceShowsNoSecretWhereverTheFramesFell) {
    Image building = sampleBuildingImage();
    building[mem::kParams] = 9;                                                       // a password digit 9
    writeBcdCode(building, mem::kLogicalLU1 + 4 * mem::kResidentsPerLine - 4, 4321);  // the last codes of LU2
    writeBcdCode(building, mem::kLogicalLU1 + 4 * mem::kResidentsPerLine - 2, 8765);
    // Codes 0100, 0200, 0300 at the same place of three blocks in a row read
    // as frame indexes 1, 2, 3 34 bytes apart, inside the frames.
    Image stacked = building;
    for (int b = 0; b < 3; ++b) writeBcdCode(stacked, mem::kLogicalLU1 + 0x24 + 32 * b, 100 * (b + 1));
    Image paired = building;  // the same in two blocks only, where the line garbled the frames' indexes
    for (int b = 0; b < 2; ++b) writeBcdCode(paired, mem::kLogicalLU1 + 0x24 + 32 * b, 100 * (b + 1));
    Bytes garbledIndexes = downloadStream(paired);
    for (std::size_t f = 257; f < 260; ++f) garbledIndexes[f * link::kFrameBytes + 1] |= 0x80;
    const Bytes stream = downloadStream(building);
    // Noise inside the frame of the block that ends the resident codes: its
    // last codes move up to where the bytes after the table are kept.
    Bytes longFrame = stream;
    const std::size_t tableEnd = (mem::kLogicalLU1 + 4 * mem::kResidentsPerLine) / kBlockSize;
    longFrame.insert(longFrame.begin() + static_cast<long>(tableEnd * link::kFrameBytes + 2), 4, 0x5A);
    const link::Command download = link::startDownloadCommand();
    const Bytes command(download.begin(), download.end());
    const std::size_t codesFrame = mem::kLogicalLU1 / kBlockSize * link::kFrameBytes;  // the first codes' frame
    Bytes garbled(stream.begin() + static_cast<long>(codesFrame), stream.begin() + static_cast<long>(codesFrame) + 34);
    garbled[0] = 0x00, garbled[1] = 0x02;  // its index read past the image
    auto upload = [&] {
        const link::Command up = link::startUploadCommand();
        return traceText({{'>', Bytes(up.begin(), up.end())}, {'<', Bytes{6}}, {'>', garbled}, {'<', Bytes{6}}});
    };
    auto withCommand = [&](std::vector<std::pair<char, Bytes>> chunks) {
        chunks.insert(chunks.begin(), {'>', command});
        return chunks;
    };
    const struct {
        const char* name;
        const Image& image;
        std::function<std::string()> trace;
        const char* shows;  // what the masked trace still shows
    } cases[] = {
        {"a frame in two pieces, 20 bytes, a pause, 14", building,
         [&] {
             SplitFrame split;
             split.frame = 250;  // the codes follow it
             return downloadTrace(building, &split);
         },
         "< 34  04 00 "},
        {"reads one byte short of a frame", building, [&] { return traceText(withCommand(reads(stream, {33}))); },
         "< 33 of 34  00 00 "},
        {"codes that read as a chain of frames", stacked, [&] { return downloadTrace(stacked, nullptr); }, "< 34  FF 01 "},
        {"codes that read as two frames where the line garbled the indexes", paired,
         [&] { return traceText(withCommand(reads(garbledIndexes, {34}))); }, "< 34  FF 01 "},
        {"noise inside a frame whose index came whole", building,
         [&] { return traceText(withCommand(reads(longFrame, {34}))); }, "< 34  FE 00 "},
        {"frames coming after a probe's answer", building,
         [&] {
             auto chunks = reads(stream, {34}, codesFrame + 7);
             const sim::Controller::Identity id = sim::Controller::kDefaultIdentity;
             chunks.insert(chunks.begin(), {{'>', Bytes(link::kProbeRequest.begin(), link::kProbeRequest.end())},
                                            {'<', Bytes(id.begin(), id.end())}});
             return traceText(chunks);
         },
         "  00 01 34 12 03 01 00 00  |"},
        {"frames still coming before the command", building,
         [&] { return traceText(reads(stream, {34}, codesFrame + 7)); }, "< 34  00 00 00"},
        {"a trace cut inside a download, out of step", building,
         [&] { return traceText(reads(stream, {34}, codesFrame + 7), false); }, "< 34  "},
        {"an upload frame whose index was garbled past the image", building, upload, "> 34  00 02 00 00 00"},
        {"a line cut in its hex", building,
         [&] { return traceText(withCommand(reads(stream, {34}))) + "      300  < 34  20 01 87 31 0"; },
         "< (unreadable, left out)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string raw = c.trace();
        const std::set<std::uint32_t> runs = secretRuns(c.image);
        ASSERT_FALSE(leakedRun(raw, runs).empty()) << "the raw trace holds secrets" << raw.substr(0, 2000);
        const std::string masked = link::maskTrace(raw);
        EXPECT_EQ(leakedRun(masked, runs), "");
        EXPECT_NE(masked.find(c.shows), std::string::npos) << masked.substr(0, 3000);
        // Masked as it is written, a few lines at a time, it is the same.
        link::TraceMasker streaming;
        std::string pieces;
        for (std::size_t at = 0; at < raw.size(); at += 997) pieces += streaming.add(raw.substr(at, 997));
        EXPECT_EQ(pieces + streaming.finish(), masked + (raw.back() == '\n' ? "" : "\n"));
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
    sim::Controller controller(sampleBuildingImage());
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
        const link::LineTestReport r = link::runLineTest(line, clock);
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
