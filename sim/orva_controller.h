#pragma once
// An Orva controller as a whole, behind one virtual line: its running
// firmware answers the configuration link (probe, download, upload) like
// Controller and the reset request like BootloaderModel; after a flash the
// bootloader hands back to the (new) firmware once it has booted, with the
// configuration kept or, for a firmware that clears it, the initial image.
#include "sim/bootloader_model.h"
#include "sim/controller.h"
#include "sim/virtual_line.h"

#include <cstdint>
#include <vector>

namespace kelvane::sim {

struct OrvaFirmwareEffect {
    bool resetsConfiguration = false;  // the new firmware starts from the initial image
    bool neverReturns = false;         // the controller stays silent after the flash
    int bootMs = 3000;                 // from the bootloader's end to the firmware answering
    std::uint16_t newFirmware = 106;   // the version the probe reports after the flash
};

class OrvaController : public Device {
public:
    explicit OrvaController(const Controller::Image& image = Controller::Image{}, BootloaderScript script = {},
                            OrvaFirmwareEffect effect = {});

    // Bytes from the tool at nowMs on a line at baud (0: any, as a pty that
    // carries no speed); the firmware hears only 2400 baud, the bootloader
    // only 57,600. Returns what the device answers.
    Controller::Answer feed(const std::uint8_t* data, std::size_t n, double nowMs, int baud = 0);
    // Boots the new firmware once its boot time after the flash has passed;
    // true when it booted now.
    bool bootIfDue(double nowMs);

    void received(const std::uint8_t* data, std::size_t n, VirtualLine& line) override;
    void lineChanged(const link::LineSettings& s) override { settings_ = s; }
    void opened(VirtualLine& line) override { controller_.opened(line); }

    Controller& controller() { return controller_; }
    BootloaderModel& bootloader() { return bootloader_; }
    OrvaFirmwareEffect& effect() { return effect_; }
    int flashes() const { return flashes_; }
    // What the last completed flash programmed (kept when the firmware boots).
    const std::vector<std::uint8_t>& flashed() const { return flashed_; }

private:
    Controller controller_;
    BootloaderScript script_;
    BootloaderModel bootloader_;
    OrvaFirmwareEffect effect_;
    link::LineSettings settings_;
    double endedAt_ = -1;
    int flashes_ = 0;
    std::vector<std::uint8_t> flashed_;
};

}  // namespace kelvane::sim
