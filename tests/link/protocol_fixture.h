#pragma once
// A KelvaneMini link on a virtual line to the simulated controller, in
// virtual time.
#include "sim/controller.h"
#include "link/port.h"
#include "link/transfer.h"
#include "sim/virtual_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelvane::link::test {

inline Image patternImage() {
    Image img;
    for (std::size_t i = 0; i < img.size(); ++i) img[i] = static_cast<std::uint8_t>((i * 7 + i / 256) & 0xFF);
    return img;
}

class LinkTest : public ::testing::Test {
protected:
    LinkTest() : line(clock, device) {}

    void open() { ASSERT_TRUE(OpenPort(line, "COM8")); }

    TransferContext context() {
        TransferContext ctx{line, clock, &cancel, [this](int p) { progress.push_back(p); }, {}};
        return ctx;
    }

    DownloadOutcome download() {
        open();
        auto ctx = context();
        auto out = DownloadThread(ctx);
        line.close();
        return out;
    }

    UploadOutcome upload(const Image& working, const Image& deviceImage) {
        open();
        auto ctx = context();
        auto out = UploadThread(ctx, working, deviceImage);
        line.close();
        return out;
    }

    sim::VirtualClock clock;
    sim::Controller device;
    sim::VirtualLine line;
    std::atomic<bool> cancel{false};
    std::vector<int> progress;
};

}  // namespace kelvane::link::test
