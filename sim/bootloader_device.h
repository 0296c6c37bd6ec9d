#pragma once
// The simulated controller and bootloader behind a virtual line. The firmware
// hears only bytes sent at 2400 baud 8N2, the bootloader only at 57,600 baud
// 8N1, as on a real line where the wrong rate turns bytes into noise.
#include "sim/bootloader_model.h"
#include "sim/virtual_line.h"

#include <functional>

namespace kelvane::sim {

class BootloaderDevice : public Device {
public:
    explicit BootloaderDevice(BootloaderScript script = {}) : model_(std::move(script)) {}

    void received(const std::uint8_t* data, std::size_t n, VirtualLine& line) override;
    void lineChanged(const link::LineSettings& s) override { settings_ = s; }

    BootloaderModel& model() { return model_; }
    const BootloaderModel& model() const { return model_; }
    // Called after every byte the device took in (tests use it to press Stop
    // at a chosen moment).
    std::function<void(std::uint8_t)> onByte;
    // Called before the device takes in a byte, so what a test sends from it
    // arrives ahead of the device's answer.
    std::function<void(std::uint8_t)> beforeByte;
    // Delay of every answer, in ms (an answer later than the tool waits).
    int answerDelayMs = 0;

private:
    bool hears() const;

    BootloaderModel model_;
    link::LineSettings settings_;
};

}  // namespace kelvane::sim
