#include "sim/orva_controller.h"

namespace kelvane::sim {

OrvaController::OrvaController(const Controller::Image& image, BootloaderScript script, OrvaFirmwareEffect effect)
    : controller_(image), script_(script), bootloader_(std::move(script)), effect_(effect) {}

bool OrvaController::bootIfDue(double nowMs) {
    if (endedAt_ < 0 || effect_.neverReturns || nowMs < endedAt_ + effect_.bootMs) return false;
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
    return true;
}

Controller::Answer OrvaController::feed(const std::uint8_t* data, std::size_t n, double nowMs, int baud) {
    bootIfDue(nowMs);
    Controller::Answer all;
    auto add = [&all](Controller::Answer a) {
        for (auto& p : a.pieces) all.pieces.push_back(std::move(p));
        all.hangUp = all.hangUp || a.hangUp;
    };
    for (std::size_t i = 0; i < n; ++i) {
        switch (bootloader_.mode()) {
        case BootloaderModel::Mode::Firmware: {
            if (baud != 0 && baud != 2400) break;
            // The firmware hears both dialogues; the reset request hands over.
            add(controller_.feed(data + i, 1));
            auto answer = bootloader_.feed(data[i]);
            if (!answer.empty()) all.pieces.push_back({0, std::move(answer)});
            if (bootloader_.mode() != BootloaderModel::Mode::Firmware) controller_.resetLink();
            break;
        }
        case BootloaderModel::Mode::Bootloader: {
            if (baud != 0 && baud != 57600) break;
            auto answer = bootloader_.feed(data[i]);
            if (!answer.empty()) all.pieces.push_back({0, std::move(answer)});
            if (bootloader_.ended()) endedAt_ = nowMs;
            break;
        }
        case BootloaderModel::Mode::Ended: break;
        }
    }
    return all;
}

void OrvaController::received(const std::uint8_t* data, std::size_t n, VirtualLine& line) {
    const Controller::Answer a = feed(data, n, static_cast<double>(line.nowMs()), settings_.baud);
    for (const auto& p : a.pieces) {
        const double after = line.pendingUntilMs() - static_cast<double>(line.nowMs());
        line.send(p.bytes, static_cast<int>(after) + p.gapMs);
    }
    if (a.hangUp) line.hangUp(line.pendingUntilMs());
}

}  // namespace kelvane::sim
