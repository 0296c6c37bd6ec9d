#include "sim/bootloader_model.h"

#include <algorithm>
#include <cstring>

namespace kelvane::sim {
namespace {

constexpr std::uint8_t kReset[8] = {'R', 'e', 's', 'e', 't', 'e', 'K', 'M'};

}  // namespace

BootloaderModel::BootloaderModel(BootloaderScript script) : script_(std::move(script)), flash_(kFlashSize, 0xFF) {}

std::uint16_t BootloaderModel::check(const std::uint8_t* d) {
    std::uint16_t crc = 0;
    for (int i = 0; i < 14; ++i) {
        crc ^= static_cast<std::uint16_t>(d[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x8005 : crc << 1);
    }
    return static_cast<std::uint16_t>(crc ^ (d[14] << 8 | d[15]));
}

std::vector<std::uint8_t> BootloaderModel::feed(std::uint8_t b) {
    switch (mode_) {
    case Mode::Firmware: return firmwareByte(b);
    case Mode::Bootloader: return bootloaderByte(b);
    case Mode::Ended: ++afterEnd_; return {};
    }
    return {};
}

std::vector<std::uint8_t> BootloaderModel::firmwareByte(std::uint8_t b) {
    command_.push_back(b);
    if (command_.size() > 8) command_.erase(command_.begin());
    if (command_.size() < 8 || std::memcmp(command_.data(), kReset, 8) != 0) return {};
    command_.clear();
    ++resetRequests_;
    mode_ = Mode::Bootloader;
    switch (script_.identity) {
    case BootloaderScript::Identity::Reply: return {script_.identityReply.begin(), script_.identityReply.end()};
    case BootloaderScript::Identity::WrongType: {
        auto reply = script_.identityReply;
        reply[0] = 0x34;
        mode_ = Mode::Firmware;  // the wrong controller stays in its firmware
        return {reply.begin(), reply.end()};
    }
    case BootloaderScript::Identity::Silent: return {};
    }
    return {};
}

std::vector<std::uint8_t> BootloaderModel::bootloaderByte(std::uint8_t b) {
    if (!frame_.empty()) {
        frame_.push_back(b);
        return frame_.size() == 19 ? frameDone() : std::vector<std::uint8_t>{};
    }
    if (b == 0x56) {
        frame_.push_back(b);
        return {};
    }
    if (b == 0x58) {
        mode_ = Mode::Ended;
        return {};
    }
    if (b != 0x55) return {};
    ++wakeUps_;
    // A wake-up byte between frames greets a new run: no address travels with
    // a block, so programming starts again at block 0. A run stopped halfway
    // and started again then writes the whole image from the start.
    accepted_ = 0;
    sending_ = 0;
    if (wakeUps_ <= script_.silentWakeUps || script_.banner == BootloaderScript::Banner::None) return {};
    const bool first = banners_++ == 0;
    const char* word = "boot";
    if (script_.banner == BootloaderScript::Banner::UpperOnly || first) word = "BOOT";
    const std::uint8_t type = script_.banner == BootloaderScript::Banner::WrongType ? 0x34 : 0x33;
    std::vector<std::uint8_t> banner(word, word + 4);
    banner.insert(banner.end(), {type, script_.versionMajor, script_.versionMinor, 0x00, 0x00});
    return banner;
}

std::vector<std::uint8_t> BootloaderModel::frameDone() {
    std::vector<std::uint8_t> frame;
    frame.swap(frame_);
    ++frames_;
    ++sending_;
    if (keepLog_) frameLog_.push_back(frame);
    const std::uint16_t sent = static_cast<std::uint16_t>(frame[17] | frame[18] << 8);
    const bool ok = check(&frame[1]) == sent;
    if (!ok) ++badChecks_;
    int answer = script_.answer ? script_.answer(accepted_, sending_, ok) : (ok ? 0x20 : 0x10);
    if (answer == 0x20 && accepted_ < static_cast<int>(kFlashSize / 16)) {
        std::copy(frame.begin() + 1, frame.begin() + 17, flash_.begin() + accepted_ * 16);
        ++accepted_;
        sending_ = 0;
    }
    if (answer < 0) return {};
    return {static_cast<std::uint8_t>(answer)};
}

}  // namespace kelvane::sim
