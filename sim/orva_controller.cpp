#include "sim/orva_controller.h"

namespace kelvane::sim {

OrvaController::OrvaController(const Controller::Image& image, BootloaderScript script, OrvaFirmwareEffect effect)
    : controller_(image), script_(script), bootloader_(std::move(script)), effect_(effect) {}

void OrvaController::bootIfDue(double nowMs) {
    if (endedAt_ < 0 || effect_.neverReturns || nowMs < endedAt_ + effect_.bootMs) return;
    endedAt_ = -1;
    ++flashes_;
    flashed_ = bootloader_.flash();
    bootloader_ = BootloaderModel(script_);
    controller_.resetLink();
    if (effect_.resetsConfiguration) controller_.image() = initialImage();
    Controller::Identity id = Controller::kDefaultIdentity;
    id[4] = static_cast<std::uint8_t>(effect_.newFirmware & 0xFF);
    id[5] = static_cast<std::uint8_t>(effect_.newFirmware >> 8);
    controller_.setIdentity(id);
}

void OrvaController::received(const std::uint8_t* data, std::size_t n, VirtualLine& line) {
    bootIfDue(static_cast<double>(line.nowMs()));
    for (std::size_t i = 0; i < n; ++i) {
        switch (bootloader_.mode()) {
        case BootloaderModel::Mode::Firmware: {
            if (settings_.baud != 2400) break;
            // The firmware hears both dialogues; the reset request hands over.
            controller_.received(data + i, 1, line);
            auto answer = bootloader_.feed(data[i]);
            if (!answer.empty()) line.send(answer);
            if (bootloader_.mode() != BootloaderModel::Mode::Firmware) controller_.resetLink();
            break;
        }
        case BootloaderModel::Mode::Bootloader: {
            if (settings_.baud != 57600) break;
            auto answer = bootloader_.feed(data[i]);
            if (!answer.empty()) line.send(answer);
            if (bootloader_.ended()) endedAt_ = static_cast<double>(line.nowMs());
            break;
        }
        case BootloaderModel::Mode::Ended: break;
        }
    }
}

}  // namespace kelvane::sim
