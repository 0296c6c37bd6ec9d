#include "sim/bootloader_device.h"

namespace kelvane::sim {

bool BootloaderDevice::hears() const {
    if (model_.mode() == BootloaderModel::Mode::Firmware) return settings_.baud == 2400 && settings_.dataBits == 8;
    return settings_.baud == 57600 && settings_.dataBits == 8;
}

void BootloaderDevice::received(const std::uint8_t* data, std::size_t n, VirtualLine& line) {
    for (std::size_t i = 0; i < n; ++i) {
        if (beforeByte) beforeByte(data[i]);
        if (hears()) {
            auto answer = model_.feed(data[i]);
            if (!answer.empty()) line.send(answer, answerDelayMs);
        }
        if (onByte) onByte(data[i]);
    }
}

}  // namespace kelvane::sim
