#pragma once
// A simulated Orva controller for the firmware upgrade: its running firmware
// answers the reset request with an identity and hands over to the serial
// bootloader, which greets wake-up bytes with its banner, checks every data
// frame's block check, answers it by a script and writes accepted blocks into
// its own flash. Pure byte-in, bytes-out logic: BootloaderDevice puts it
// behind a virtual line, orva_bootloader_sim behind a pty.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace kelvane::sim {

struct BootloaderScript {
    enum class Identity { Reply, Silent, WrongType };
    enum class Banner { BootThenLower, UpperOnly, WrongType, None };

    Identity identity = Identity::Reply;
    // Device type, ID 7, serial 1234, firmware 105, two spare bytes.
    std::array<std::uint8_t, 8> identityReply{0x33, 0x07, 0x04, 0xD2, 0x00, 0x69, 0x00, 0x00};
    Banner banner = Banner::BootThenLower;
    std::uint8_t versionMajor = 1;
    std::uint8_t versionMinor = 2;
    // Wake-up bytes the bootloader lets pass before its first banner.
    int silentWakeUps = 0;
    // Answer to a data frame: block = index of the block being programmed
    // (blocks accepted so far), sending = 1 for its first sending. Return the
    // answer byte, or -1 to stay silent. Unset: 0x20 for a good check, 0x10
    // for a bad one.
    std::function<int(int block, int sending, bool checkOk)> answer;
};

class BootloaderModel {
public:
    static constexpr std::size_t kFlashSize = 122880;
    enum class Mode { Firmware, Bootloader, Ended };

    explicit BootloaderModel(BootloaderScript script = {});

    // One byte from the tool; returns the bytes to answer with at once.
    std::vector<std::uint8_t> feed(std::uint8_t byte);
    // A block check computed independently of the tool: CRC-16 (poly 0x8005,
    // init 0, no reflection) over bytes 0..13, XOR the last two bytes.
    static std::uint16_t check(const std::uint8_t* block16);

    Mode mode() const { return mode_; }
    const std::vector<std::uint8_t>& flash() const { return flash_; }
    int resetRequests() const { return resetRequests_; }
    int wakeUps() const { return wakeUps_; }
    int banners() const { return banners_; }
    int frames() const { return frames_; }  // data frames received
    int badChecks() const { return badChecks_; }
    // Blocks accepted since the last wake-up byte (the current run's).
    int blocksAccepted() const { return accepted_; }
    bool ended() const { return mode_ == Mode::Ended; }
    std::size_t bytesAfterEnd() const { return afterEnd_; }
    const std::vector<std::vector<std::uint8_t>>& frameLog() const { return frameLog_; }
    void setKeepFrameLog(bool keep) { keepLog_ = keep; }

private:
    std::vector<std::uint8_t> firmwareByte(std::uint8_t b);
    std::vector<std::uint8_t> bootloaderByte(std::uint8_t b);
    std::vector<std::uint8_t> frameDone();

    BootloaderScript script_;
    Mode mode_ = Mode::Firmware;
    std::vector<std::uint8_t> flash_;
    std::vector<std::uint8_t> command_;  // firmware side: the last 8 bytes
    std::vector<std::uint8_t> frame_;    // bootloader side: frame in progress
    int resetRequests_ = 0;
    int wakeUps_ = 0;
    int banners_ = 0;
    int frames_ = 0;
    int badChecks_ = 0;
    int accepted_ = 0;
    int sending_ = 0;  // sendings of the current block so far
    std::size_t afterEnd_ = 0;
    bool keepLog_ = false;
    std::vector<std::vector<std::uint8_t>> frameLog_;
};

}  // namespace kelvane::sim
