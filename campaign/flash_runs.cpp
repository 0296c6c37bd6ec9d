// The firmware upgrade's dialogue under faults, against the simulated
// bootloader.
#include "campaign/run_parts.h"

#include "bootloader/bootloader_protocol.h"
#include "sim/bootloader_device.h"
#include "texts/upgrade_texts.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace kelvane::campaign::parts {

namespace {

class RecordingView : public bootloader::UpgradeReport {
public:
    std::optional<bootloader::UpgradeStatus> status;  // the status line's message, none while empty
    int statuses = 0;                                 // how many were shown
    bool ended = false;
    void showStatus(const bootloader::UpgradeStatus& s) override {
        status = s;
        ++statuses;
    }
    bool shows(bootloader::UpgradeMessage m) const { return status && status->message == m; }
    void setProgressRange(int, int) override {}
    void setProgress(int) override {}
    void runEnded() override { ended = true; }
};

}  // namespace

void runFlash(const RunSetup& setup, sim::FaultTap& tap, OperatorClock& clock, RunResult& result) {
    Checker c{result};
    sim::SeededRandom r(setup.seed * 0x9E3779B97F4A7C15ULL + 11);
    sim::BootloaderScript script;
    script.silentWakeUps = r.range(0, 3);
    sim::BootloaderDevice device(script);
    sim::VirtualLine line(clock, device);
    line.setPaced(true);
    line.setTap(&tap);

    // A short firmware, as the file gives it: its bytes, then erased flash.
    bootloader::UpgradeState state;
    state.image = std::make_unique<std::vector<std::uint8_t>>(bootloader::kImageSize, 0xFF);
    const int length = r.range(16, 4096);
    for (int i = 0; i < length; ++i) (*state.image)[std::size_t(i)] = static_cast<std::uint8_t>(r.next());

    bootloader::StopFlag stop;
    RecordingView view;
    bootloader::UpgradeLink link{line, clock, stop, view};
    clock.pressAt = setup.cancelAtMs >= 0 ? setup.cancelAtMs : kFlashPatienceMs;
    clock.stopEndsSleeps = true;
    int statusesAtStop = 0;
    clock.press = [&] {
        stop.request();
        line.interrupt();
        statusesAtStop = view.statuses;
    };
    const std::int64_t start = clock.nowMs();
    std::optional<bootloader::WorkerEnd> worker;
    if (bootloader::OpenUpgradePort(state, link, kPort) && bootloader::RequestBootloader(state, link))
        worker = bootloader::UpgradeWorker(state, link);
    const std::int64_t end = clock.nowMs();
    result.opMs = end - start;
    const bool stopped = clock.pressed;

    if (result.opMs > boundMs(Op::Flash)) c.fail(kEnded, "took " + std::to_string(result.opMs) + " ms");
    if (stopped && end - clock.pressAt > cancelBoundMs(Op::Flash))
        c.fail(kEnded, "ended " + std::to_string(end - clock.pressAt) + " ms after Stop");
    if (line.isOpen()) c.fail(kEnded, "port left open");

    using bootloader::UpgradeMessage;
    using bootloader::WorkerEnd;
    const bool done = view.shows(UpgradeMessage::Done);
    result.succeeded = done;
    if (stopped) {
        if (worker == WorkerEnd::Ended) c.fail(kFailure, "stopped, yet the run ended by itself");
        if (view.statuses != statusesAtStop) c.fail(kFailure, "something was shown after Stop");
    } else if (worker == WorkerEnd::Ended && !done && !view.shows(UpgradeMessage::FlashError) &&
               !view.shows(UpgradeMessage::WrongDevice)) {
        c.fail(kFailure, "run ended with the status \"" +
                             (view.status ? texts::upgrade::statusText(*view.status) : std::string()) + "\"");
    }
    if (tap.events().empty() && !stopped && !done) c.fail(kTruthful, "a clean flash failed");

    const auto& writes = line.writes();
    const bool endByteSent = std::any_of(writes.begin(), writes.end(), [](const sim::VirtualLine::Write& w) {
        return w.bytes.size() == 1 && w.bytes[0] == bootloader::kEndByte;
    });
    if (endByteSent && !done) c.fail(kNoStrayWrite, "end byte sent, yet the run did not succeed");
    // Answers carry no block number: one lost, late, added or changed answer
    // puts tool and bootloader out of step. Only a late one shows (an answer
    // too many at the end, and the run fails); the others nobody can tell. Nor has a
    // frame a mark the bootloader could find again after a lost, added or
    // changed first byte (a data byte 0x55 then counts as a wake-up).
    if (tap.alteredToProgram() || tap.heldToProgram() || tap.alteredToDevice()) {
        result.waived[kTruthful] = result.waived[kNoStrayWrite] = true;
        return;
    }
    const auto& flash = device.model().flash();
    if (done && flash != *state.image) c.fail(kTruthful, "flash reported done, flash differs from the file");
    for (std::size_t at = 0; at < flash.size(); at += 16) {
        const bool erased = std::all_of(flash.begin() + long(at), flash.begin() + long(at + 16),
                                        [](std::uint8_t b) { return b == 0xFF; });
        if (!erased &&
            !std::equal(flash.begin() + long(at), flash.begin() + long(at + 16), state.image->begin() + long(at))) {
            c.fail(kNoStrayWrite, "flash block " + std::to_string(at / 16) + " is not the file's");
            break;
        }
    }
}

}  // namespace kelvane::campaign::parts
