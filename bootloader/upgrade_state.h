#pragma once
// The one record of an upgrade window: the firmware image of the last Start,
// the port's name and settings, the frame buffers and the progress counter.
#include "link/serial_line.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvane::bootloader {

constexpr std::size_t kImageSize = 122880;  // 0x1E000
constexpr int kBlockCount = 7680;           // 0x1E00 blocks of 16 bytes

struct UpgradeState {
    std::string portDeviceName;
    // Obtained anew at every Start; none until the first one.
    std::unique_ptr<std::vector<std::uint8_t>> image;
    // Only baud rate, data bits, stop bits and parity checking are changed;
    // the rest (the parity mode and the DTR line among them) stays as the
    // port has it.
    link::LineSettings lineSettings = [] {
        link::LineSettings s;
        s.setParity = false;
        s.setDtr = false;
        return s;
    }();
    link::Timeouts timeouts;
    std::array<std::uint8_t, 256> transmit{};
    std::array<std::uint8_t, 256> receive{};
    bool portOpen = false;
    int progressCounter = 0;
    // The result byte of the last programming (ProgramImage); -1 while none ended.
    int programResult = -1;
};

}  // namespace kelvane::bootloader
