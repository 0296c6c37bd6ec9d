#include "bootloader/bootloader_protocol.h"

#include "bootloader/block_check.h"

#include <algorithm>
#include <cstring>

namespace kelvane::bootloader {
namespace {

// "ReseteK" and the check byte that makes the eight bytes sum to 0 mod 256.
constexpr std::uint8_t kReset[8] = {'R', 'e', 's', 'e', 't', 'e', 'K', 0x4D};

// The steps of a run, each a no-op once a stop is requested.
class Steps {
public:
    explicit Steps(UpgradeLink& link) : link_(link) {}

    bool stopped() const { return link_.stop.requested(); }

    bool pause(int ms) {
        if (stopped()) return false;
        link_.clock.sleepMs(ms);
        return !stopped();
    }
    bool send(const std::uint8_t* data, std::size_t n) {
        if (stopped()) return false;
        link_.line.write(data, n);
        return !stopped();
    }
    bool sendByte(std::uint8_t b) { return send(&b, 1); }
    // Reads up to n bytes; the count, or nothing once stopped.
    std::size_t receive(std::uint8_t* buf, std::size_t n) {
        if (stopped()) return 0;
        return link_.line.read(buf, n);
    }
    void purge() {
        if (stopped()) return;
        link_.line.purgeInput();
        link_.line.purgeOutput();
    }

private:
    UpgradeLink& link_;
};

void closePort(UpgradeState& state, UpgradeLink& link) {
    link.line.close();
    state.portOpen = false;
}

void applySettings(UpgradeState& state, UpgradeLink& link, const link::LineSettings& s) {
    state.lineSettings = s;
    state.timeouts = upgradeTimeouts();
    link.line.setLine(state.lineSettings);
    link.line.setTimeouts(state.timeouts);
}

bool isBanner(const std::uint8_t* rx, bool upperAllowed) {
    return std::memcmp(rx, "boot", 4) == 0 || (upperAllowed && std::memcmp(rx, "BOOT", 4) == 0);
}

// Whether the n bytes (1 to 4) could begin a banner.
bool couldStartBanner(const std::uint8_t* p, std::size_t n, bool upperAllowed) {
    return std::memcmp(p, "boot", n) == 0 || (upperAllowed && std::memcmp(p, "BOOT", n) == 0);
}

// Reads a 9-byte banner into rx, true when rx then begins with one. Stray
// bytes before it (a late identity reply, noise at the speed change) would
// make every later 9-byte read straddle two banners; so the banner is looked
// for anywhere in what arrived, moved to the front, and its rest read.
bool receiveBanner(Steps& step, std::uint8_t* rx, bool upperAllowed) {
    constexpr std::size_t kBanner = 9;
    const std::size_t got = step.receive(rx, kBanner);
    for (std::size_t k = 0; k < got; ++k) {
        const std::size_t have = got - k;
        if (!couldStartBanner(rx + k, std::min<std::size_t>(have, 4), upperAllowed)) continue;
        if (k > 0) {
            std::memmove(rx, rx + k, have);
            std::fill(rx + have, rx + kBanner, 0);
            step.receive(rx + have, kBanner - have);
        }
        return isBanner(rx, upperAllowed);
    }
    return false;
}

}  // namespace

link::LineSettings phaseASettings(link::LineSettings base) {
    base.baud = 2400;
    base.dataBits = 8;
    base.stopBits = link::StopBits::Two;
    base.parityCheck = false;
    return base;
}

link::LineSettings phaseBSettings(link::LineSettings base) {
    base.baud = 57600;
    base.dataBits = 8;
    base.stopBits = link::StopBits::One;
    base.parityCheck = false;
    return base;
}

link::Timeouts upgradeTimeouts() {
    link::Timeouts t;  // as the controller's port, but a write's fixed allowance is shorter
    t.writeTotalConstant = 100;
    return t;
}

bool OpenUpgradePort(UpgradeState& state, UpgradeLink& link, const std::string& deviceName) {
    state.portDeviceName = deviceName;
    if (deviceName.empty() || !link.line.open(deviceName)) {
        state.portOpen = false;
        UpgradeStatus busy;
        busy.message = UpgradeMessage::PortBusy;
        busy.openFailure = link.line.openFailure();
        link.view.showStatus(busy);
        return false;
    }
    state.portOpen = true;
    applySettings(state, link, phaseASettings(state.lineSettings));
    if (link.line.fault() != link::LineFault::None) {
        // A gateway that did not take the line settings: nothing is sent.
        UpgradeStatus refused;
        refused.message = UpgradeMessage::PortBusy;
        refused.openFailure = link.line.openFailure();
        closePort(state, link);
        link.view.showStatus(refused);
        return false;
    }
    return true;
}

bool RequestBootloader(UpgradeState& state, UpgradeLink& link) {
    Steps step(link);
    step.purge();
    applySettings(state, link, phaseASettings(state.lineSettings));
    step.pause(50);
    step.send(kReset, sizeof kReset);
    std::uint8_t reply[8] = {};
    const std::size_t got = step.receive(reply, sizeof reply);
    if (step.stopped()) {
        closePort(state, link);
        return false;
    }
    UpgradeReport& view = link.view;
    if (got == sizeof reply) {
        if (reply[0] != kDeviceType) {
            closePort(state, link);
            showUpgradeMessage(view, UpgradeMessage::WrongDevice);
            step.pause(500);
            return false;
        }
        UpgradeStatus identity;
        identity.message = UpgradeMessage::Identity;
        identity.id = reply[1];
        identity.serial = reply[2] << 8 | reply[3];
        identity.firmware = reply[4] << 8 | reply[5];
        view.showStatus(identity);
    } else {
        showUpgradeMessage(view, UpgradeMessage::Waiting);
        step.pause(500);
    }
    if (step.stopped()) {
        closePort(state, link);
        return false;
    }
    applySettings(state, link, phaseBSettings(state.lineSettings));
    return true;
}

WorkerEnd UpgradeWorker(UpgradeState& state, UpgradeLink& link) {
    Steps step(link);
    UpgradeReport& view = link.view;
    auto* rx = state.receive.data();
    auto abandon = [&] {
        closePort(state, link);
        return WorkerEnd::Stopped;
    };

    step.purge();
    state.receive.fill(0);
    // The banner wait has no attempt limit; only a banner or a stop ends it.
    // The buffer is cleared before every read, so no banner of an earlier run
    // or read can be taken for a new one.
    for (;;) {
        if (!step.sendByte(kWakeUp)) return abandon();
        state.receive.fill(0);
        const bool banner = receiveBanner(step, rx, true);
        if (step.stopped()) return abandon();
        if (banner) break;
    }
    if (!step.pause(100) || !step.sendByte(kWakeUp) || !step.pause(2000)) return abandon();

    UpgradeStatus version;
    version.message = UpgradeMessage::BootloaderVersion;
    version.major = rx[5];
    version.minor = rx[6];
    view.showStatus(version);
    if (!step.pause(1000)) return abandon();

    UpgradeMessage final = UpgradeMessage::WrongDevice;
    state.programResult = -1;
    if (rx[4] == kDeviceType) {
        view.setProgressRange(0, kBlockCount);
        state.progressCounter = 0;
        view.setProgress(0);
        showUpgradeMessage(view, UpgradeMessage::Programming);
        const std::uint8_t result = ProgramImage(state, link);
        if (step.stopped()) return abandon();
        state.programResult = result;
        final = result == kProgramOk ? UpgradeMessage::Done : UpgradeMessage::FlashError;
    }
    showUpgradeMessage(view, final);
    closePort(state, link);
    view.runEnded();
    return WorkerEnd::Ended;
}

std::uint8_t ProgramImage(UpgradeState& state, UpgradeLink& link) {
    Steps step(link);
    auto* rx = state.receive.data();
    auto* tx = state.transmit.data();

    if (!step.pause(2000)) return kProgramStopped;
    state.receive.fill(0);
    bool banner = false;
    for (int attempt = 0; attempt < 3 && !banner; ++attempt) {
        step.purge();
        if (!step.sendByte(kWakeUp)) return kProgramStopped;
        banner = receiveBanner(step, rx, false);
        if (step.stopped()) return kProgramStopped;
    }
    if (!banner) return kProgramNoBanner;

    // Without an image (no Start read a file) every block is erased flash.
    const std::vector<std::uint8_t> erased(kImageSize, 0xFF);
    const std::uint8_t* image = state.image ? state.image->data() : erased.data();

    bool silence = false;  // a sending met no answer within the read's time
    for (int k = 0; k < kBlockCount; ++k) {
        link.view.setProgress(++state.progressCounter);
        tx[0] = kDataFrame;
        std::memcpy(tx + 1, image + static_cast<std::size_t>(k) * kBlockSize, kBlockSize);
        const std::uint16_t check = BlockCheck(tx + 1);
        tx[17] = static_cast<std::uint8_t>(check & 0xFF);
        tx[18] = static_cast<std::uint8_t>(check >> 8);
        for (int a = 0;;) {
            rx[0] = 0;
            // One write of all 19 bytes (the same bytes on the wire as the
            // frame and then its check), so a USB adapter sends one packet.
            if (!step.send(tx, 19)) return kProgramStopped;
            if (step.receive(rx, 1) == 0) silence = true;
            if (step.stopped()) return kProgramStopped;
            const std::uint8_t answer = rx[0];
            // The order of these tests is part of the protocol: 0x10 and 0x11
            // end the run only from the fifth sending on, and after the
            // seventh sending nothing saves the block.
            if (answer == kProgramRefused11 && a > 3) return kProgramRefused11;
            if (answer == kProgramRefused10 && a > 3) return kProgramRefused10;
            if (a > 5) return kProgramNoAcceptance;
            ++a;
            if (answer == kAccepted) break;
        }
    }
    // Answers carry no block number. A bootloader that answered a sending
    // later than the read waited (a loaded computer, a slow adapter) has
    // still taken it: the resend then went in as the next block, every later
    // answer read was the one to the frame before, and the last answer is
    // still to come. One more read after a run that met silence finds it; the
    // image in the flash is then shifted, so the run fails and the end byte,
    // which would start that firmware, is not sent.
    if (silence) {
        rx[0] = 0;
        const std::size_t stray = step.receive(rx, 1);
        if (step.stopped()) return kProgramStopped;
        if (stray > 0) return kProgramOutOfStep;
    }
    if (!step.sendByte(kEndByte)) return kProgramStopped;
    return kProgramOk;
}

}  // namespace kelvane::bootloader
